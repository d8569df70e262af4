// The one way a request thread waits for its answer from the io thread.
//
// The waiter arms the slot with a key (the account or request it waits for) before it sends,
// so an answer that arrives before the wait begins is kept, and an answer for another key, or
// one that comes after the waiter gave up, is ignored. The flag is set under the slot's mutex
// and the wait is a predicate wait against a steady-clock deadline.
//
// A request of which only one is in flight at a time (a login) may be answered by a refusal
// that does not echo its key: deliver_sole() lets such an answer end the armed round, while an
// acceptance must still name the key.
//
// A wait made on a thread inside a WaitStop::Scope also ends, at once, when that stop is
// triggered: a Login's waits, down to the back-ends' own, end when the API is released.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace OXA {
namespace API {

// Ends waits before their deadline. A wait watches the stop of the scope its thread is in; the
// stop wakes every wait that watches it, and a wait that begins after the trigger ends at once.
// The waiter tells a stopped wait from a timeout by Triggered().
class WaitStop {
    struct Watcher {
        std::mutex* mutex;
        std::condition_variable* cv;
    };

public:
    WaitStop() = default;
    WaitStop(const WaitStop&) = delete;
    WaitStop& operator=(const WaitStop&) = delete;

    void Trigger() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_triggered.store(true, std::memory_order_release);
        // Each waiter's own mutex is taken before it is woken, so one that is between its check
        // and its sleep cannot miss this. A waiter leaves the list under m_mutex, after it let go
        // of its own mutex, so both stay valid here.
        for (const Watcher* w : m_watchers) {
            { std::lock_guard<std::mutex> waiter(*w->mutex); }
            w->cv->notify_all();
        }
    }
    bool Triggered() const { return m_triggered.load(std::memory_order_acquire); }

    // The stop of the calling thread's innermost scope; null outside any.
    static WaitStop* Current() { return t_current; }

    // Puts the calling thread's waits under `stop` until the scope ends.
    class Scope {
    public:
        explicit Scope(WaitStop& stop) : m_previous(t_current) { t_current = &stop; }
        ~Scope() { t_current = m_previous; }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        WaitStop* m_previous;
    };

    // Held by a waiter around its wait, outside its own mutex: while it lives, a trigger wakes
    // the waiter's condition variable. A null stop watches nothing.
    class Watch {
    public:
        Watch(WaitStop* stop, std::mutex& mutex, std::condition_variable& cv) : m_stop(stop), m_watcher{&mutex, &cv} {
            if (m_stop == nullptr) return;
            std::lock_guard<std::mutex> lock(m_stop->m_mutex);
            m_stop->m_watchers.push_back(&m_watcher);
        }
        ~Watch() {
            if (m_stop == nullptr) return;
            std::lock_guard<std::mutex> lock(m_stop->m_mutex);
            auto& list = m_stop->m_watchers;
            list.erase(std::find(list.begin(), list.end(), &m_watcher));
        }
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;
        // Under the waiter's mutex, in its wait predicate.
        bool Stopped() const { return m_stop != nullptr && m_stop->Triggered(); }

    private:
        WaitStop* m_stop;
        Watcher m_watcher;
    };

private:
    static inline thread_local WaitStop* t_current = nullptr;
    std::mutex m_mutex;
    std::atomic<bool> m_triggered{false};
    std::vector<const Watcher*> m_watchers;
};

template <typename Answer>
class AnswerWait {
public:
    using Clock = std::chrono::steady_clock;

    // Starts a new round for key; an earlier answer or round is forgotten, and a thread
    // still waiting in the earlier round gives up at once. One waiter at a time: callers
    // that may wait concurrently serialise their rounds. Returns the round's ticket, to be
    // passed to wait() and cancel().
    uint64_t arm(uint64_t key) {
        uint64_t ticket;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_round;
            m_key = key;
            m_armed = true;
            m_answered = false;
            m_answer = Answer{};
            ticket = m_round;
        }
        m_cv.notify_all();
        return ticket;
    }

    // Called by the io thread. True when a waiter armed for key took the answer.
    bool deliver(uint64_t key, const Answer& answer) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_armed || m_answered || m_key != key) return false;
            m_answer = answer;
            m_answered = true;
        }
        m_cv.notify_all();
        return true;
    }

    // What deliver_sole() did with an answer, and what was waiting for it.
    struct SoleDelivery {
        bool taken = false;
        bool armed = false;      // a round was waiting for an answer
        uint64_t armed_key = 0;  // the key it waits for (when armed)
    };

    // Called by the io thread for a request of which one is in flight at a time: an answer
    // that carries an error (is_error) ends the armed round whatever key it names; one
    // without error must name the armed key. dry_run only says what would happen.
    SoleDelivery deliver_sole(uint64_t key, bool is_error, const Answer& answer, bool dry_run = false) {
        SoleDelivery r;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            r.armed = m_armed && !m_answered;
            r.armed_key = r.armed ? m_key : 0;
            if (!r.armed || (!is_error && m_key != key)) return r;
            r.taken = true;
            if (dry_run) return r;
            m_answer = answer;
            m_answered = true;
        }
        m_cv.notify_all();
        return r;
    }

    // Waits up to timeout for the answer of round ticket. True with the answer copied out;
    // false on timeout or when the thread's WaitStop is triggered (the round is closed, so a
    // late answer is dropped).
    template <typename Rep, typename Period>
    bool wait(uint64_t ticket, std::chrono::duration<Rep, Period> timeout, Answer& out) {
        const WaitStop::Watch stop(WaitStop::Current(), m_mutex, m_cv);
        std::unique_lock<std::mutex> lock(m_mutex);
        const auto deadline = Clock::now() + timeout;
        const bool got =
            m_cv.wait_until(lock, deadline, [&] { return m_round != ticket || m_answered || stop.Stopped(); });
        if (!got || m_round != ticket || !m_answered) {
            if (m_round == ticket) m_armed = false;
            return false;
        }
        out = m_answer;
        m_armed = false;
        return true;
    }

    // The request could not be sent: close the round without waiting.
    void cancel(uint64_t ticket) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_round == ticket) m_armed = false;
    }

    bool armed_for(uint64_t key) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_armed && !m_answered && m_key == key;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    uint64_t m_round = 0;
    uint64_t m_key = 0;
    bool m_armed = false;
    bool m_answered = false;
    Answer m_answer{};
};

// Copies a text of at most src_len bytes (ending earlier at a zero byte) into a field of
// dst_size bytes, cut to dst_size - 1 and always zero-terminated; the rest of the field is
// zeroed. A null source gives an empty text. Returns the bytes copied.
inline std::size_t CopyText(char* dst, std::size_t dst_size, const char* src, std::size_t src_len) noexcept {
    if (!dst || dst_size == 0) return 0;
    std::size_t n = 0;
    if (src) {
        const std::size_t limit = src_len < dst_size - 1 ? src_len : dst_size - 1;
        const void* z = std::memchr(src, 0, limit);
        n = z ? static_cast<std::size_t>(static_cast<const char*>(z) - src) : limit;
        std::memcpy(dst, src, n);
    }
    std::memset(dst + n, 0, dst_size - n);
    return n;
}

template <std::size_t N>
inline std::size_t CopyText(char (&dst)[N], const char* src, std::size_t src_len) noexcept {
    return CopyText(dst, N, src, src_len);
}

}  // namespace API
}  // namespace OXA
