// Bus members without sockets or threads, for window tests: each member is a CVornSystem
// with its CGroupsManager, wired to an in-memory network through its datagram sink, a
// manual clock and an in-memory start-up synchronisation channel. The test plays the
// receiver (Pump: every datagram in flight goes through OnDatagram, control packets
// straight on to OnControl), the handler (Tick) and the deliver thread (Drain), one step at
// a time, so every run is deterministic.
//
// The network can lose, duplicate, hold back and reorder datagrams (seeded), lose chosen
// ones (a predicate), and records every datagram sent. A member is addressed by its table
// address; members of a group in multicast configuration need distinct IPs.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "infra/vorn/DgramSink.h"
#include "infra/vorn/GroupsManager.h"
#include "infra/vorn/VornSystem.h"
#include "support/FakeCoordinator.h"

namespace oxa_test {

// Starts at one second; NowNs advances by the step per read (1 us unless set), so a sender
// spinning on a full window ends its jam wait instead of spinning for ever.
class ManualClock : public OXA::VORN::IVornClock {
public:
    explicit ManualClock(int64_t start_ns = 1000000000) : m_now(start_ns) {}
    int64_t NowNs() override { return m_now.fetch_add(m_step.load()); }
    int64_t Peek() const { return m_now.load(); }
    void Advance(int64_t ns) { m_now.fetch_add(ns); }
    void SetStepPerRead(int64_t ns) { m_step.store(ns); }

private:
    std::atomic<int64_t> m_now;
    std::atomic<int64_t> m_step{1000};
};

// The coordinator's tables of a layout as a member downloads them, and the partition of
// every member-table entry.
OXA::VORN::VornLayout ToVornLayout(const CoordLayout& layout, std::vector<int16_t>* partitions = nullptr);
// ParseCoordLayout that fails the test on a bad text.
CoordLayout Layout(const std::string& text);

struct NetPacket {
    std::vector<uint8_t> bytes;
    sockaddr_in to{};
    sockaddr_in from{};
    OXA::VORN::SinkChannel channel = OXA::VORN::SinkChannel::kApp;
    int16_t group = -1;   // addressee as the sender named it
    int16_t member = -1;
    int sender = -1;      // node index
    uint8_t Type() const { return bytes.size() > 6 ? bytes[6] : 0; }
    int32_t Sequence() const;  // host order
};

struct NetFaults {
    double drop = 0;     // lost
    double dup = 0;      // delivered twice
    double hold = 0;     // left for a later pump
    bool reorder = false;  // each pump delivers in a shuffled order
    uint32_t seed = 1;
};

struct Delivered {
    int16_t src_group = -1;
    int16_t src_member = -1;
    int32_t sequence = -1;
    int16_t msg_id = 0;
    int32_t tag = 0;
    std::vector<uint8_t> data;
    const OXA::VORN::VornMsgSource* source = nullptr;
};

// A message body "order-<n>".
std::vector<uint8_t> Body(int n);
// The sequences of delivered messages, and the run from..to.
std::vector<int32_t> Sequences(const std::vector<Delivered>& delivered);
std::vector<int32_t> Range(int32_t from, int32_t to);
// first..last of a NAK.
std::pair<int32_t, int32_t> RangeOf(const NetPacket& nak);

class BusWindowNet;

// Datagrams of one type sent by one node, in order.
std::vector<NetPacket> SentBy(const BusWindowNet& net, int sender, uint8_t type);

class BusNode {
public:
    OXA::VORN::CVornSystem& Sys() { return *m_sys; }
    OXA::VORN::CGroupsManager& Mgr() { return *m_mgr; }
    int Index() const { return m_index; }
    bool Up() const { return m_up; }
    // The group session of a group id (fails the test when missing).
    OXA::VORN::CGroupSession& Group(int16_t group_id);
    // The window record this member keeps for (group, member).
    OXA::VORN::VornPeerWindow& Peer(int16_t group_id, int16_t member_id);
    // Sends one message of data to (group, member) through that group's session; the
    // members reached.
    int Send(int16_t group_id, int16_t member_id, int16_t msg_id, const std::vector<uint8_t>& data, int32_t tag = 0);
    // Takes every message waiting in the delivery lists, in list order per source.
    std::vector<Delivered> Drain();
    // Runs the start-up synchronisation over the in-memory channel; meanwhile runs whenever
    // it waits for replies (the rest of the bus goes on).
    bool WindowSync(std::function<void()> meanwhile = nullptr);

private:
    friend class BusWindowNet;
    class Sink;
    class SyncChannel;

    BusWindowNet* m_net = nullptr;
    int m_index = -1;
    bool m_up = true;
    sockaddr_in m_addr{};      // where its receive socket listens
    sockaddr_in m_syncAddr{};  // its start-up synchronisation socket
    std::unique_ptr<OXA::VORN::CVornSystem> m_sys;
    std::unique_ptr<Sink> m_sink;
    std::unique_ptr<SyncChannel> m_channel;
    std::unique_ptr<OXA::VORN::CGroupsManager> m_mgr;
    std::vector<NetPacket> m_syncInbox;
    std::function<void()> m_meanwhile;
};

struct NodeOptions {
    int identity = 1;  // 1 master (every member of a plain group), 2 standby
    int jam_wait_us = 1000;
    OXA::VORN::WindowTiming timing;
    bool startup_phase = false;  // the receiver starts in its start-up phase
    // The receiver leaves its start-up phase as soon as the synchronisation is over (else a
    // test does it).
    bool receiver_leaves_startup = true;
    const CoordLayout* layout = nullptr;  // tables of its own (a member that knows another bus)
};

class BusWindowNet {
public:
    explicit BusWindowNet(const CoordLayout& layout);
    ~BusWindowNet();

    ManualClock& Clock() { return m_clock; }
    void SetFaults(const NetFaults& faults);
    // Loses every datagram for which it returns true (before the random faults).
    void SetFilter(std::function<bool(const NetPacket&)> lose) { m_filter = std::move(lose); }

    // A member with its own group and member ids; fails the test when Init fails.
    BusNode& Add(int16_t group_id, int16_t member_id, const NodeOptions& options = NodeOptions());
    // The same member started again with fresh state (its in-flight datagrams stay).
    BusNode& Restart(BusNode& node, const NodeOptions& options = NodeOptions());
    // A stopped member receives nothing.
    void Stop(BusNode& node) { node.m_up = false; }
    BusNode& Node(int index) { return *m_nodes[static_cast<std::size_t>(index)]; }

    // Every datagram in flight goes to its addressee once (faults applied); returns how
    // many arrived. Datagrams sent meanwhile wait for the next pump.
    std::size_t Pump();
    // Pumps until nothing is in flight (bounded).
    void Settle(int max_pumps = 1000);
    // The handler's periodic decisions of every member at the clock's time.
    void Tick();
    // steps x (pump, tick, advance by step_ns).
    void Run(int steps, int64_t step_ns);

    // Every datagram sent so far, in order.
    const std::vector<NetPacket>& Sent() const { return m_sent; }
    std::vector<NetPacket> SentOf(uint8_t type) const;
    void ClearSent() { m_sent.clear(); }
    std::size_t InFlight() const { return m_flight.size(); }

private:
    friend class BusNode;
    void Post(NetPacket packet);
    void Arrive(BusNode& node, const NetPacket& packet);
    BusNode& Build(int index, int16_t group_id, int16_t member_id, const NodeOptions& options);

    OXA::VORN::VornLayout m_layout;
    std::vector<int16_t> m_partitions;
    ManualClock m_clock;
    std::mt19937 m_rng{1};
    NetFaults m_faults;
    std::function<bool(const NetPacket&)> m_filter;
    std::vector<std::unique_ptr<BusNode>> m_nodes;
    std::vector<NetPacket> m_flight;
    std::vector<NetPacket> m_sent;
};

}  // namespace oxa_test
