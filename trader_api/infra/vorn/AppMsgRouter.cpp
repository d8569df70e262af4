#include "infra/vorn/AppMsgRouter.h"

#include <algorithm>

#include "infra/vorn/GroupsManager.h"
#include "infra/vorn/VornSystem.h"
#include "infra/vorn/VornThreads.h"
#include "infra/vorn/VornWire.h"

namespace OXA {
namespace VORN {

namespace {

inline int IdText(int16_t msg_id) { return static_cast<uint16_t>(msg_id); }

}  // namespace

CAppMsgRouter::CAppMsgRouter(CVornSystem& system, CGroupsManager& groups) : m_sys(system), m_groups(groups) {}

bool CAppMsgRouter::Build(const std::vector<HqtrsMsgInfo>& msgs) {
    m_lowest = 0x7FFF;
    m_highest = 0;
    m_lists.clear();
    m_has.clear();
    if (msgs.empty()) return true;
    int lowest = INT16_MAX, highest = INT16_MIN;
    for (const HqtrsMsgInfo& m : msgs) {
        lowest = std::min<int>(lowest, m.msg_id);
        highest = std::max<int>(highest, m.msg_id);
    }
    m_lowest = static_cast<int16_t>(lowest);
    m_highest = static_cast<int16_t>(highest);
    const std::size_t count = static_cast<std::size_t>(highest - lowest + 1);
    m_lists.assign(count, std::vector<CGroupSession*>());
    m_has.assign(count, 0);
    // groups of svr_type '1' first, then the others; each group once per id
    for (const bool other_first : {true, false}) {
        for (const HqtrsMsgInfo& m : msgs) {
            CGroupSession* g = m_groups.FindGroup(m.group_id);
            if (!g || (g->SvrType() == '1') != other_first) continue;
            const std::size_t i = static_cast<std::size_t>(m.msg_id - lowest);
            std::vector<CGroupSession*>& list = m_lists[i];
            if (std::find(list.begin(), list.end(), g) == list.end()) list.push_back(g);
        }
    }
    for (const HqtrsMsgInfo& m : msgs) m_has[static_cast<std::size_t>(m.msg_id - lowest)] = 1;
    return true;
}

const std::vector<CGroupSession*>* CAppMsgRouter::RouteList(int16_t msg_id) const {
    if (m_lists.empty() || msg_id < m_lowest || msg_id > m_highest) return nullptr;
    const std::size_t i = static_cast<std::size_t>(msg_id - m_lowest);
    return m_has[i] ? &m_lists[i] : nullptr;
}

RouteResult CAppMsgRouter::Send(int32_t tag, int16_t msg_id, const void* data, uint32_t length, int16_t group,
                                int16_t member, bool broadcast, int16_t partition) {
    const int16_t filter = m_sys.Identity().partition_filter ? partition : static_cast<int16_t>(-1);
    return Deliver(tag, msg_id, data, length, group, member, broadcast, filter);
}

RouteResult CAppMsgRouter::Route(int32_t tag, int16_t msg_id, const void* data, uint32_t length, int16_t group,
                                 int16_t member, bool broadcast) {
    const int16_t identity = static_cast<int16_t>(m_sys.DeviceIdentity());
    const int16_t filter = m_sys.Identity().partition_filter ? identity : static_cast<int16_t>(-1);
    return Deliver(tag, msg_id, data, length, group, member, broadcast, filter);
}

RouteResult CAppMsgRouter::Deliver(int32_t tag, int16_t msg_id, const void* data, uint32_t length, int16_t group,
                                   int16_t member, bool broadcast, int16_t filter) {
    RouteResult r;
    if (!data && length > 0) {
        m_sys.Note("Send Msg Fail: Message Is Null, MsgId < %#x >.", IdText(msg_id));
        return r;
    }
    if (length > static_cast<uint32_t>(kMaxAppData)) {
        m_sys.Note("Send Msg Fail: Message_Len Over Max Size, MsgId < %#x > MsgLen < %d >.", IdText(msg_id),
                   static_cast<int64_t>(length));
        return r;
    }
    const std::vector<CGroupSession*>* list = RouteList(msg_id);
    if (!list) {
        m_sys.Note("Send Msg Fail: Not Support MsgId < %#x >.", IdText(msg_id));
        return r;
    }
    if (broadcast) {
        for (CGroupSession* g : *list) {
            int reached = 0;
            if (g->SvrType() == '0')
                g->SendMsg(tag, -1, msg_id, data, length, filter, &reached);
            else if (g->GroupId() == group && member != -1)
                g->SendMsg(tag, member, msg_id, data, length, filter, &reached);
            r.reached += reached;
        }
        r.routed = true;
    } else {
        auto it = std::find_if(list->begin(), list->end(), [group](CGroupSession* g) { return g->GroupId() == group; });
        if (it == list->end()) {
            m_sys.Note("Directed-Route Msg(id: %#x) To Group (%d) Member (%d) Fail: Group-Id Invalid.", IdText(msg_id),
                       group, member);
            return r;
        }
        CGroupSession* g = *it;
        const bool all = g->GroupMode() == '0' || member == -1;
        r.routed = g->SendMsg(tag, all ? static_cast<int16_t>(-1) : member, msg_id, data, length, filter, &r.reached) == 1;
    }
    // a send a second while every peer is abandoned would log a line each
    if (r.routed && r.reached == 0 && m_failLog.Allow(MonotonicNs()))
        m_sys.Note("Send Msg Fail: No Member Reached, MsgId < %#x >.", IdText(msg_id));
    return r;
}

}  // namespace VORN
}  // namespace OXA
