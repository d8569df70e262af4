// The push registrations (0xf0002) of one gateway connection.
//
// A connection serves the accounts logged in through it, whatever their node. Every link it
// brings up registers all of them before anything else goes out on it: the registrations are
// the link's first frames, written by the connect itself ahead of any order (the send ring's
// leftovers included), so the gateway never executes an order of an account it has no push
// link for. An account that logs in on a live link registers itself. An account is registered
// once per link.
//
// Several registrations are in flight on a link at once, and one answer may be awaited by two
// threads (the on-connect thread and a login of the same account), so this keeps a table of its
// own instead of an AnswerWait. Each wait ends at its deadline, as soon as its link is lost, or
// when the thread's WaitStop is triggered; the links of one connection never wait for each
// other, nor do two connections.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace OXA {
namespace API {

class PushRegistry {
public:
    using Clock = std::chrono::steady_clock;

    // What a registration of an account on the current link has to do.
    enum class Step {
        kRegistered,  // the gateway accepted it on this link already: nothing to send
        kInFlight,    // sent on this link already (by the connect, or by another registration)
        kSend,        // the caller sends it now; it is in flight from here
    };
    enum class Outcome {
        kAnswered,
        kLinkLost,
        kTimedOut,
        kStopped,
        kWithdrawn,  // the account was forgotten meanwhile (logged out)
    };

    // Accounts the connection serves, in the order they logged in.
    void Serve(uint64_t account);
    bool Serves(uint64_t account) const;
    // Served no more (logged out, or its first login here failed): registered again when it
    // logs in again.
    void Forget(uint64_t account);
    std::vector<uint64_t> Served() const;

    // A link came up carrying the registrations of `sent`; every wait on an earlier link ends.
    void LinkUp(uint64_t link, const std::vector<uint64_t>& sent);
    // The link is gone: its waits end at once. A link that is not the current one is ignored.
    void LinkDown(uint64_t link);
    uint64_t Link() const;

    // Where the account's registration on the current link stands; *link is that link.
    Step Start(uint64_t account, uint64_t* link);
    // A kSend whose request could not be sent.
    void Unsent(uint64_t account, uint64_t link);
    // An answer read on `link`; true when a registration of the account was made there and
    // not answered yet (one given up by its waiters included: the gateway did register it).
    bool Deliver(uint64_t link, uint64_t account, int32_t error);
    // The same on the current link, for a connection that tells nothing of its links.
    bool Deliver(uint64_t account, int32_t error);
    // Accounts whose registration the link carried when it came up and that are still
    // awaited.
    std::vector<uint64_t> Carried(uint64_t link) const;

    // Waits for the answer of the account's registration on `link`. kAnswered gives the
    // gateway's error (0 accepted). A wait that runs out (or is stopped) leaves the other
    // waiters of that registration alone; the next Start sends it again.
    Outcome Wait(uint64_t account, uint64_t link, Clock::time_point deadline, int32_t* error);

private:
    struct State {
        bool answered = false;
        int32_t error = 0;
        bool carried = false;    // sent as one of the link's first frames
        bool abandoned = false;  // a waiter gave up on it
    };
    bool Current(uint64_t link) const { return link == m_link && m_linkUp; }  // under m_mutex

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    // Link 0 stands for a connection that tells nothing of its links: it is always up.
    uint64_t m_link = 0;
    bool m_linkUp = true;
    std::vector<uint64_t> m_served;
    std::map<uint64_t, State> m_states;  // registrations on m_link, by account
};

}  // namespace API
}  // namespace OXA
