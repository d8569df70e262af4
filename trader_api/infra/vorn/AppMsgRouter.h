// Which groups take a message id, and the send rules over them.
//
// Built once from the coordinator's message table: for every id a list of the groups that
// take it, groups whose svr_type is '1' first, each group once. A send walks that list: a
// broadcast reaches every member of every server group ('0') and, in another group, only a
// named member of the named group; a directed send goes to the first group of the list that
// is the named one. The result says how many members took the message, so a send that
// reached nobody (every peer abandoned, or no group to take it) is a failed send.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "infra/vorn/HqtrsWire.h"
#include "infra/vorn/VornThreads.h"

namespace OXA {
namespace VORN {

class CGroupSession;
class CGroupsManager;
class CVornSystem;

struct RouteResult {
    // The id and the addressee were valid: the result the send rules give.
    bool routed = false;
    // Members that took the message (windowed, listed in a multicast, or looped back).
    int reached = 0;
    // 1 only when somebody took the message.
    uint8_t Result() const { return routed && reached > 0 ? 1 : 0; }
};

class CAppMsgRouter {
public:
    CAppMsgRouter(CVornSystem& system, CGroupsManager& groups);

    // Always true.
    bool Build(const std::vector<HqtrsMsgInfo>& msgs);

    int16_t LowestId() const { return m_lowest; }
    int16_t HighestId() const { return m_highest; }
    // The groups that take msg_id in routing order, null when none.
    const std::vector<CGroupSession*>* RouteList(int16_t msg_id) const;

    // The send of one message: the checks of its data and length, then the routing. The
    // partition argument filters members only when the own partition id is 0.
    RouteResult Send(int32_t tag, int16_t msg_id, const void* data, uint32_t length, int16_t group, int16_t member,
                     bool broadcast, int16_t partition);
    // The same with the device identity in the partition's place.
    RouteResult Route(int32_t tag, int16_t msg_id, const void* data, uint32_t length, int16_t group, int16_t member,
                      bool broadcast);

private:
    RouteResult Deliver(int32_t tag, int16_t msg_id, const void* data, uint32_t length, int16_t group, int16_t member,
                        bool broadcast, int16_t filter);

    CVornSystem& m_sys;
    CGroupsManager& m_groups;
    int16_t m_lowest = 0x7FFF;
    int16_t m_highest = 0;
    std::vector<std::vector<CGroupSession*>> m_lists;
    std::vector<uint8_t> m_has;
    CRateLimit m_failLog{1000000000, 20};
};

}  // namespace VORN
}  // namespace OXA
