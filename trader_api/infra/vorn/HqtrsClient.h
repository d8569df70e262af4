// A member's side of the conversation with the coordinator Hqtrs.
//
// At launch it downloads the bus's tables (digest, groups, members, message ids, partitions,
// the multicast flag) and applies for the master role; later the handler thread asks it to
// switch a hot-backup group to single-device mode. One exchange at a time (a recursive
// mutex): each is up to three attempts, each from a fresh unbound socket, waiting up to a
// second for the reply, which must be exactly its header's payload length long.
//
// Replies are checked before a member relies on them (see HqtrsWire.h); a reply that fails
// a check fails its table download like a missing one. The waits are injectable, and every
// sleep ends when the member stops, so a member against an unreachable coordinator can be
// stopped instead of blocking for ever.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "infra/vorn/HqtrsWire.h"

namespace OXA {
namespace VORN {

class CVornSystem;

struct HqtrsTiming {
    int attempts = 3;
    int reply_wait_ms = 1000;     // per attempt
    int primary_retry_ms = 1000;  // a grant that names no primary yet
    int failure_retry_ms = 10000; // after a failed master, switch or thread-id request
};

// The own group's primary-device record.
struct HqtrsPrimaryInfo {
    int16_t group_index = -1;
    int16_t group_id = -1;
    int16_t primary_member_id = -1;
    int64_t grant_sec = 0;
    int64_t grant_usec = 0;
    int64_t heartbeat_sec = 0;
    int64_t heartbeat_usec = 0;
    char mode = '1';  // '1' both devices active, '2' single-device
};

class CHqtrsClient {
public:
    explicit CHqtrsClient(CVornSystem& system);
    CHqtrsClient(const CHqtrsClient&) = delete;
    CHqtrsClient& operator=(const CHqtrsClient&) = delete;

    void SetTiming(const HqtrsTiming& timing);

    // One exchange of the first length bytes of the request buffer; true when a reply of
    // sound length arrived (its header and body are then LastReply / LastReplyBody).
    bool Request(std::size_t length);
    // The digest and all tables; true when all arrived and are sound.
    bool QueryBasicInfo(int date);
    // 1 master, 2 standby, 0 rejected (or the member stopped).
    int ApplyMaster();
    // 1 switched, 0 failed.
    int SwitchSingleDevice();
    // The coordinator's id for a thread name, 0 on failure.
    int32_t RequestThreadId(const char* name);

    // ---- the downloaded tables, read-only after QueryBasicInfo
    const HqtrsDigestInfo& Digest() const { return m_digest; }
    const std::vector<HqtrsGroupInfo>& Groups() const { return m_groups; }
    const std::vector<HqtrsMemberInfo>& Members() const { return m_members; }
    const std::vector<HqtrsMsgInfo>& Msgs() const { return m_msgs; }
    const std::vector<HqtrsPartitionInfo>& Partitions() const { return m_partitions; }
    int MulticastFlag() const { return m_multicast; }
    // Index of the own group in the group table, -1 when it is not there.
    int OwnGroupIndex() const;

    HqtrsPrimaryInfo Primary() const;
    char Mode() const { return m_mode.load(std::memory_order_acquire); }

    const VornHeader& LastReply() const { return m_replyHeader; }
    const uint8_t* LastReplyBody() const { return m_reply + kHeaderSize; }
    std::size_t LastReplyBodyLength() const { return m_replyBodyLength; }

    // Writes the tables to the bus log.
    void DumpTables();

private:
    std::size_t BuildRequest(uint8_t type, int32_t sequence, const void* payload = nullptr, std::size_t n = 0);
    bool RefreshAddress();
    // One table entry: a request of type req with sequence i, answered by rep with sequence i.
    bool QueryEntry(uint8_t req, uint8_t rep, int32_t i);
    // count entries of one table; a missing or unsound entry logs fail_format with its index.
    template <typename Record, typename Decode>
    bool QueryTable(uint8_t req, uint8_t rep, int32_t count, std::vector<Record>& out, Decode decode,
                    const char* fail_format);
    bool Fail(const char* reason);

    CVornSystem& m_sys;
    mutable std::recursive_mutex m_mutex;
    HqtrsTiming m_timing;
    sockaddr_in m_addr{};
    uint8_t m_request[kHeaderSize + kThreadNameMax] = {0};
    uint8_t m_reply[kHqtrsReplyBuffer] = {0};
    VornHeader m_replyHeader;
    std::size_t m_replyBodyLength = 0;

    HqtrsDigestInfo m_digest;
    std::vector<HqtrsGroupInfo> m_groups;
    std::vector<HqtrsMemberInfo> m_members;
    std::vector<HqtrsMsgInfo> m_msgs;
    std::vector<HqtrsPartitionInfo> m_partitions;
    int m_multicast = 0;
    bool m_havePrimary = false;
    mutable std::mutex m_primaryMutex;  // the record alone, never held across an exchange
    HqtrsPrimaryInfo m_primary;
    std::atomic<char> m_mode{'1'};
};

}  // namespace VORN
}  // namespace OXA
