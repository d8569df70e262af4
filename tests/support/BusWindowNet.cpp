#include "support/BusWindowNet.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "infra/vorn/VornPool.h"
#include "infra/vorn/VornWire.h"

using namespace OXA::VORN;

namespace oxa_test {

namespace {

bool SameAddr(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

}  // namespace

int32_t NetPacket::Sequence() const {
    VornHeader h;
    return ReadHeader(bytes.data(), bytes.size(), h) ? h.sequence : -1;
}

std::vector<uint8_t> Body(int n) {
    const std::string s = "order-" + std::to_string(n);
    return std::vector<uint8_t>(s.begin(), s.end());
}

std::vector<int32_t> Sequences(const std::vector<Delivered>& delivered) {
    std::vector<int32_t> out;
    for (const Delivered& d : delivered) out.push_back(d.sequence);
    return out;
}

std::vector<int32_t> Range(int32_t from, int32_t to) {
    std::vector<int32_t> out;
    for (int32_t s = from; s <= to; ++s) out.push_back(s);
    return out;
}

std::pair<int32_t, int32_t> RangeOf(const NetPacket& nak) {
    int32_t first = 0, last = 0;
    ReadRange(nak.bytes.data(), nak.bytes.size(), first, last);
    return {first, last};
}

std::vector<NetPacket> SentBy(const BusWindowNet& net, int sender, uint8_t type) {
    std::vector<NetPacket> out;
    for (const NetPacket& p : net.Sent())
        if (p.sender == sender && p.Type() == type) out.push_back(p);
    return out;
}

VornLayout ToVornLayout(const CoordLayout& layout, std::vector<int16_t>* partitions) {
    VornLayout v;
    std::vector<CoordMember> members = layout.members;
    auto group_pos = [&](int16_t id) {
        for (std::size_t i = 0; i < layout.groups.size(); ++i)
            if (layout.groups[i].id == id) return i;
        return layout.groups.size();
    };
    std::stable_sort(members.begin(), members.end(),
                     [&](const CoordMember& a, const CoordMember& b) { return group_pos(a.group_id) < group_pos(b.group_id); });
    v.digest.group_count = static_cast<int16_t>(layout.groups.size());
    v.digest.member_count = static_cast<int16_t>(members.size());
    v.digest.message_count = static_cast<int16_t>(layout.msgs.size());
    v.digest.window_size = layout.window;
    v.digest.ack_water_mark = layout.ack_water_mark;
    v.digest.date = layout.date;
    v.digest.lost_over_time_s = layout.lost_over_time_s;
    for (std::size_t i = 0; i < layout.groups.size(); ++i) {
        const CoordGroup& g = layout.groups[i];
        HqtrsGroupInfo info;
        info.index = static_cast<int16_t>(i);
        info.group_id = g.id;
        info.group_mode = g.mode;
        info.svr_type = g.svr_type;
        std::strncpy(info.group_ip, g.ip.c_str(), sizeof info.group_ip - 1);
        info.data_port = g.data_port;
        info.control_port = g.control_port;
        info.inner_port = g.inner_port;
        info.member_numer = static_cast<int16_t>(
            std::count_if(members.begin(), members.end(), [&](const CoordMember& m) { return m.group_id == g.id; }));
        info.msg_numer = static_cast<int16_t>(
            std::count_if(layout.msgs.begin(), layout.msgs.end(), [&](const CoordMsg& m) { return m.group_id == g.id; }));
        info.chief_member_id = g.chief;
        v.groups.push_back(info);
    }
    if (partitions) partitions->clear();
    for (std::size_t i = 0; i < members.size(); ++i) {
        HqtrsMemberInfo info;
        info.index = static_cast<int16_t>(i);
        info.group_id = members[i].group_id;
        info.member_id = members[i].member_id;
        std::strncpy(info.member_ip, members[i].ip.c_str(), sizeof info.member_ip - 1);
        info.member_port = members[i].port;
        v.members.push_back(info);
        if (partitions) partitions->push_back(members[i].partition);
    }
    for (std::size_t i = 0; i < layout.msgs.size(); ++i) {
        HqtrsMsgInfo info;
        info.index = static_cast<int16_t>(i);
        info.group_id = layout.msgs[i].group_id;
        info.msg_id = layout.msgs[i].msg_id;
        info.store_flag = layout.msgs[i].store;
        v.msgs.push_back(info);
    }
    v.multicast = layout.multicast ? 1 : 0;
    return v;
}

CoordLayout Layout(const std::string& text) {
    CoordLayout l;
    std::string error;
    if (!ParseCoordLayout(text, l, &error)) ADD_FAILURE() << "layout: " << error;
    return l;
}

// ---- the node's ports --------------------------------------------------------------------

class BusNode::Sink : public IDgramSink {
public:
    explicit Sink(BusNode& node) : m_node(node) {}
    ssize_t Send(SinkChannel channel, const uint8_t* data, std::size_t length, const sockaddr_in& to, int16_t group,
                 int16_t member) override {
        NetPacket p;
        p.bytes.assign(data, data + length);
        p.to = to;
        p.from = m_node.m_addr;
        p.channel = channel;
        p.group = group;
        p.member = member;
        p.sender = m_node.m_index;
        m_node.m_net->Post(std::move(p));
        return static_cast<ssize_t>(length);
    }

private:
    BusNode& m_node;
};

class BusNode::SyncChannel : public ISyncChannel {
public:
    explicit SyncChannel(BusNode& node) : m_node(node) {}
    bool Open() override { return true; }
    ssize_t Send(const uint8_t* data, std::size_t length, const sockaddr_in& to, int16_t group,
                 int16_t member) override {
        NetPacket p;
        p.bytes.assign(data, data + length);
        p.to = to;
        p.from = m_node.m_syncAddr;
        p.group = group;
        p.member = member;
        p.sender = m_node.m_index;
        m_node.m_net->Post(std::move(p));
        return static_cast<ssize_t>(length);
    }
    ssize_t Receive(uint8_t* buffer, std::size_t cap, int64_t wait_ns) override {
        if (m_node.m_meanwhile) m_node.m_meanwhile();
        for (int i = 0; i < 100 && m_node.m_syncInbox.empty() && m_node.m_net->InFlight(); ++i) m_node.m_net->Pump();
        if (m_node.m_syncInbox.empty()) {
            m_node.m_net->Clock().Advance(wait_ns);
            return 0;
        }
        NetPacket p = std::move(m_node.m_syncInbox.front());
        m_node.m_syncInbox.erase(m_node.m_syncInbox.begin());
        std::memcpy(buffer, p.bytes.data(), std::min(cap, p.bytes.size()));
        return static_cast<ssize_t>(p.bytes.size());
    }

private:
    BusNode& m_node;
};

// ---- node --------------------------------------------------------------------------------

CGroupSession& BusNode::Group(int16_t group_id) {
    CGroupSession* g = m_mgr->FindGroup(group_id);
    if (!g) {
        ADD_FAILURE() << "no group " << group_id;
        return m_mgr->Group(0);
    }
    return *g;
}

VornPeerWindow& BusNode::Peer(int16_t group_id, int16_t member_id) {
    CGroupSession& g = Group(group_id);
    const int pos = g.FindMember(member_id);
    if (pos < 0) {
        ADD_FAILURE() << "no member " << group_id << "/" << member_id;
        return g.Member(0);
    }
    return g.Member(static_cast<std::size_t>(pos));
}

int BusNode::Send(int16_t group_id, int16_t member_id, int16_t msg_id, const std::vector<uint8_t>& data, int32_t tag) {
    int reached = 0;
    Group(group_id).SendMsg(tag, member_id, msg_id, data.data(), static_cast<uint32_t>(data.size()), -1, &reached);
    return reached;
}

std::vector<Delivered> BusNode::Drain() {
    std::vector<Delivered> out;
    std::vector<CDeliveryList*> lists;
    for (int i = 0;; ++i) {
        VornPeerWindow* w = m_mgr->WindowOf(i);
        if (!w) break;
        CDeliveryList* l = &w->recv->List();
        if (std::find(lists.begin(), lists.end(), l) == lists.end()) lists.push_back(l);
    }
    for (CDeliveryList* l : lists) {
        while (VornBuffer* b = l->Front()) {
            Delivered d;
            VornHeader h;
            if (ReadHostHeader(b->data, b->length, h)) {
                d.src_group = h.src_group_id;
                d.src_member = h.src_member_id;
                d.sequence = h.sequence;
            }
            ReadAppHeader(b->data, b->length, d.msg_id, d.tag);
            if (b->length >= kAppHeaderSize) d.data.assign(b->data + kAppHeaderSize, b->data + b->length);
            d.source = b->Source();
            out.push_back(std::move(d));
            l->PopFront();
        }
    }
    return out;
}

bool BusNode::WindowSync(std::function<void()> meanwhile) {
    m_meanwhile = std::move(meanwhile);
    const bool ok = m_mgr->WindowSync(m_channel.get());
    m_meanwhile = nullptr;
    return ok;
}

// ---- network -----------------------------------------------------------------------------

BusWindowNet::BusWindowNet(const CoordLayout& layout) { m_layout = ToVornLayout(layout, &m_partitions); }

BusWindowNet::~BusWindowNet() = default;

void BusWindowNet::SetFaults(const NetFaults& faults) {
    m_faults = faults;
    m_rng.seed(faults.seed);
}

BusNode& BusWindowNet::Build(int index, int16_t group_id, int16_t member_id, const NodeOptions& options) {
    BusNode& node = *m_nodes[static_cast<std::size_t>(index)];
    node.m_mgr.reset();
    node.m_net = this;
    node.m_index = index;
    node.m_up = true;
    node.m_syncInbox.clear();
    node.m_sys.reset(new CVornSystem());
    CVornSystem& sys = *node.m_sys;
    sys.SetOwnIds(group_id, member_id);
    std::vector<int16_t> partitions = m_partitions;
    VornLayout layout = m_layout;
    if (options.layout) layout = ToVornLayout(*options.layout, &partitions);
    sys.SetPartitions(partitions);
    sys.SetDeviceIdentity(options.identity);
    sys.SetJamWaitUs(options.jam_wait_us);
    node.m_sink.reset(new BusNode::Sink(node));
    node.m_channel.reset(new BusNode::SyncChannel(node));
    node.m_mgr.reset(new CGroupsManager(sys));
    GroupsOptions o;
    o.sink = node.m_sink.get();
    o.clock = &m_clock;
    o.timing = options.timing;
    o.netmask = [](const char*) { return htonl(0xFF000000u); };
    if (options.receiver_leaves_startup)
        o.startup_idle = [&node] {
            if (node.m_mgr->StartupSyncDone()) node.m_mgr->LeaveStartupPhase();
        };
    if (!node.m_mgr->Init(layout, 0, o)) ADD_FAILURE() << "Init of member " << group_id << "/" << member_id;
    if (options.startup_phase) node.m_mgr->BeginStartupPhase();
    const VornIdentity& id = sys.Identity();
    CGroupSession* own = node.m_mgr->OwnGroup();
    MakeAddress(id.ip, own && own->MulticastConfig() ? id.data_port : id.port, node.m_addr);
    MakeAddress("127.0.0.1", static_cast<uint16_t>(40000 + index), node.m_syncAddr);
    return node;
}

BusNode& BusWindowNet::Add(int16_t group_id, int16_t member_id, const NodeOptions& options) {
    m_nodes.emplace_back(new BusNode());
    return Build(static_cast<int>(m_nodes.size() - 1), group_id, member_id, options);
}

BusNode& BusWindowNet::Restart(BusNode& node, const NodeOptions& options) {
    const VornIdentity id = node.Sys().Identity();
    return Build(node.m_index, id.group_id, id.member_id, options);
}

void BusWindowNet::Post(NetPacket packet) {
    m_sent.push_back(packet);
    m_flight.push_back(std::move(packet));
}

void BusWindowNet::Arrive(BusNode& node, const NetPacket& p) {
    if (!node.m_up) return;
    CGroupsManager& mgr = node.Mgr();
    VornBuffer* b = mgr.AppPool().Get();
    if (!b) {
        ADD_FAILURE() << "app pool dry";
        return;
    }
    const std::size_t n = std::min<std::size_t>({p.bytes.size(), b->capacity, kMaxDatagram});
    std::memcpy(b->data, p.bytes.data(), n);
    switch (mgr.OnDatagram(b, n, p.bytes.size(), p.from)) {
        case CGroupsManager::RecvAction::kKept:
            break;
        case CGroupsManager::RecvAction::kToHandler:
            mgr.OnControl(b->data, b->length, m_clock.Peek());
            VornBuffer::Release(b);
            break;
        default:
            VornBuffer::Release(b);
            break;
    }
}

std::size_t BusWindowNet::Pump() {
    std::vector<NetPacket> batch;
    batch.swap(m_flight);
    if (m_faults.reorder) std::shuffle(batch.begin(), batch.end(), m_rng);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::size_t arrived = 0;
    for (NetPacket& p : batch) {
        if (m_filter && m_filter(p)) continue;
        if (m_faults.drop > 0 && chance(m_rng) < m_faults.drop) continue;
        if (m_faults.hold > 0 && chance(m_rng) < m_faults.hold) {
            m_flight.push_back(std::move(p));
            continue;
        }
        const int copies = (m_faults.dup > 0 && chance(m_rng) < m_faults.dup) ? 2 : 1;
        for (int c = 0; c < copies; ++c) {
            bool multicast = false;
            for (const HqtrsGroupInfo& g : m_layout.groups) {
                sockaddr_in a;
                if (!m_layout.multicast || !g.data_port || !g.group_ip[0] || !MakeAddress(g.group_ip, g.data_port, a) ||
                    !SameAddr(a, p.to))
                    continue;
                multicast = true;
                for (auto& n : m_nodes)
                    if (n->m_mgr && n->Sys().Identity().group_id == g.group_id) {
                        Arrive(*n, p);
                        ++arrived;
                    }
            }
            if (multicast) continue;
            for (auto& n : m_nodes) {
                if (SameAddr(n->m_syncAddr, p.to)) {
                    n->m_syncInbox.push_back(p);
                    ++arrived;
                } else if (SameAddr(n->m_addr, p.to)) {
                    Arrive(*n, p);
                    ++arrived;
                }
            }
        }
    }
    return arrived;
}

void BusWindowNet::Settle(int max_pumps) {
    for (int i = 0; i < max_pumps && !m_flight.empty(); ++i) Pump();
}

void BusWindowNet::Tick() {
    const int64_t now = m_clock.Peek();
    for (auto& n : m_nodes)
        if (n->m_up && n->m_mgr) n->m_mgr->AckNakTick(now / 1000000000, now % 1000000000);
}

void BusWindowNet::Run(int steps, int64_t step_ns) {
    for (int i = 0; i < steps; ++i) {
        Pump();
        Tick();
        m_clock.Advance(step_ns);
    }
}

std::vector<NetPacket> BusWindowNet::SentOf(uint8_t type) const {
    std::vector<NetPacket> out;
    for (const NetPacket& p : m_sent)
        if (p.Type() == type) out.push_back(p);
    return out;
}

}  // namespace oxa_test
