// A bus coordinator on UDP for tests, the demo and the benchmark.
//
// It serves the tables of a layout (digest, groups, members, message ids, partitions, the
// multicast flag), grants the master role per hot-backup group to the first member that
// asks, switches a group to single-device mode, and answers every request to the address it
// came from, so several members in one process share one coordinator. Faults are scripted
// per request type and sequence: drop replies, a wrong sequence, a short reply, a rejection,
// a grant that names no primary yet; any reply can also be rewritten by an editor. Every
// datagram received (requests, heartbeats, reports) is recorded.
//
// Written on plain POSIX sockets with its own encoder, so it shares no code (and so no
// fault) with the member it checks. It includes no library header.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace oxa_test {

struct CoordGroup {
    int16_t id = 0;
    char mode = '1';      // '0' hot-backup pair, '1' plain
    char svr_type = '1';  // '0' server group
    std::string ip;       // multicast address, may be empty
    uint16_t data_port = 0;
    uint16_t control_port = 0;
    uint16_t inner_port = 0;
    int16_t chief = -1;
};

struct CoordMember {
    int16_t group_id = 0;
    int16_t member_id = 0;
    std::string ip = "127.0.0.1";
    uint16_t port = 0;
    int16_t partition = 0;
};

struct CoordMsg {
    int16_t group_id = 0;
    int16_t msg_id = 0;
    char store = 'N';
};

// Members are served in the order of their groups (a member of an earlier group first),
// keeping the order given within a group.
struct CoordLayout {
    int32_t window = 3000;
    int32_t ack_water_mark = 100;
    int32_t date = 20230217;
    int32_t lost_over_time_s = 3;
    bool multicast = false;
    std::vector<CoordGroup> groups;
    std::vector<CoordMember> members;
    std::vector<CoordMsg> msgs;
};

// n UDP ports of 127.0.0.1 that were free a moment ago (held together while chosen, so they
// differ), below the kernel's ephemeral range where it leaves room, so that no socket of
// another test takes one before the member binds it, and reserved for this process, so that no
// test process beside it chooses one meanwhile; an empty list when the system gave none. For
// the members of a layout.
std::vector<uint16_t> FreeUdpPorts(std::size_t n);

// Reads a layout from text, one item a line ('#' starts a comment):
//   window N | watermark N | date YYYYMMDD | lost SECONDS | multicast 0|1
//   group ID MODE SVR [ip=TEXT] [data=PORT] [control=PORT] [inner=PORT] [chief=ID]
//   member GROUP ID IP PORT [partition=N]
//   msg GROUP ID [Y|N]            (ids decimal or 0x...)
bool ParseCoordLayout(const std::string& text, CoordLayout& out, std::string* error = nullptr);

// Request and reply types.
enum : uint8_t {
    kCoordDigestReq = '!', kCoordDigestRep = 0x22,
    kCoordGroupReq = '#', kCoordGroupRep = '$',
    kCoordMemberReq = '%', kCoordMemberRep = '&',
    kCoordMsgReq = 0x27, kCoordMsgRep = '(',
    kCoordPartitionReq = '0', kCoordPartitionRep = '1',
    kCoordMulticastReq = '2', kCoordMulticastRep = '3',
    kCoordMasterReq = ')', kCoordGranted = '*', kCoordRejected = '+',
    kCoordThreadIdReq = ',', kCoordThreadIdRep = '-',
    kCoordSwitchReq = '.', kCoordSwitchRep = '/',
    kCoordHeartbeat = 32, kCoordStatistics = 'P', kCoordSlotState = 'Q',
};

// One datagram as the coordinator decoded it (header fields in host order).
struct CoordRequest {
    uint8_t type = 0;
    char order = '0';
    int32_t sequence = 0;
    int16_t src_group_id = 0, src_group_index = 0, src_member_id = 0, src_member_index = 0;
    int16_t dst_group_id = 0, dst_member_id = 0;
    int32_t payload_length = 0;
    std::vector<uint8_t> datagram;  // as received
    sockaddr_in from{};
    std::chrono::steady_clock::time_point at;
};

enum class CoordFault {
    kDrop,           // no reply
    kWrongSequence,  // the reply carries sequence + 1
    kShortReply,     // the reply loses its last byte (its length no longer matches)
    kReject,         // master request answered '+'
    kPrimaryNone,    // master request answered '*' naming no primary (-1)
};

struct CoordRule {
    uint8_t request_type = 0;
    int32_t sequence = -1;  // -1: any
    CoordFault fault = CoordFault::kDrop;
    int times = 1;          // how often it fires; -1 for ever
};

class FakeCoordinator {
public:
    struct Options {
        std::string ip = "127.0.0.1";
        uint16_t port = 0;       // 0: any free port (at or above min_port when that is set)
        uint16_t min_port = 0;
        bool big_endian = false; // reply headers written big-endian ('1')
        int32_t first_thread_id = 100;
    };

    explicit FakeCoordinator(CoordLayout layout);
    FakeCoordinator(CoordLayout layout, Options options);
    ~FakeCoordinator();
    FakeCoordinator(const FakeCoordinator&) = delete;
    FakeCoordinator& operator=(const FakeCoordinator&) = delete;

    bool Start();
    void Stop();
    uint16_t Port() const { return m_port; }
    const std::string& Ip() const { return m_options.ip; }

    void AddFault(const CoordRule& rule);
    // Runs on the coordinator's thread for every reply before it leaves; it may change the
    // bytes, or clear them so that nothing is sent.
    using Editor = std::function<void(const CoordRequest& request, std::vector<uint8_t>& reply)>;
    void SetReplyEditor(Editor editor);

    std::vector<CoordRequest> Requests() const;
    std::size_t Count(uint8_t type) const;
    // Waits until at least n datagrams of type have arrived.
    bool WaitFor(uint8_t type, std::size_t n, std::chrono::milliseconds timeout) const;

    // The primary member of a group (-1 none) and its mode character.
    int16_t Primary(int16_t group_id) const;
    char Mode(int16_t group_id) const;
    void SetPrimary(int16_t group_id, int16_t member_id);

    // Sends raw bytes from the coordinator's socket (a resync order, say).
    bool SendDatagram(const std::string& ip, uint16_t port, const std::vector<uint8_t>& bytes);

    // The table records as the coordinator writes them (bodies only, big-endian).
    static std::vector<uint8_t> GroupBody(const CoordLayout& layout, std::size_t index);
    static std::vector<uint8_t> MemberBody(const CoordLayout& layout, std::size_t index);

private:
    struct PairState {
        int16_t primary = -1;
        char mode = '1';
        int64_t grant_sec = 0;
        int64_t grant_usec = 0;
    };

    void Loop();
    void Handle(const CoordRequest& request);
    bool TakeFault(uint8_t type, int32_t sequence, CoordFault& fault);
    std::vector<uint8_t> Reply(uint8_t type, int32_t sequence, const std::vector<uint8_t>& body) const;
    std::vector<uint8_t> MasterBody(const PairState& state) const;

    CoordLayout m_layout;
    Options m_options;
    int m_fd = -1;
    uint16_t m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::vector<CoordRequest> m_requests;
    std::vector<CoordRule> m_rules;
    Editor m_editor;
    std::map<int16_t, PairState> m_pairs;
    int32_t m_nextThreadId;
};

}  // namespace oxa_test
