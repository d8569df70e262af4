// A slow log sink on demand: while one lives, the default logger's only sink holds the first
// thread that logs a line containing a given text once the stall is armed, until the test lets it
// go (or a bound passes). A test injects with it a stall of a receiving thread between two steps
// of a handler that logs between them, and lets the thread go on once something else has
// happened meanwhile. Every other line passes at once and goes nowhere.
//
// The default logger is read without a lock by every thread that logs, so a LogStall is made
// before the test starts a connection's threads and ends after they are gone (a fixture member
// outlives TearDown).
#pragma once

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace oxa_test {

class LogStall {
public:
    explicit LogStall(std::string text, std::chrono::milliseconds bound = std::chrono::seconds(10))
        : m_state(std::make_shared<State>()), m_previous(spdlog::default_logger()) {
        m_state->text = std::move(text);
        m_state->bound = bound;
        auto logger = std::make_shared<spdlog::logger>("log_stall", std::make_shared<Sink>(m_state));
        logger->set_level(spdlog::level::trace);
        Keep(logger);
        spdlog::set_default_logger(logger);
    }
    ~LogStall() {
        Release();
        // the held thread is out of the sink before the logger goes back
        std::unique_lock<std::mutex> lk(m_state->mu);
        m_state->cv.wait_for(lk, m_state->bound, [&] { return m_state->inside == 0; });
        lk.unlock();
        spdlog::set_default_logger(m_previous);
    }
    LogStall(const LogStall&) = delete;
    LogStall& operator=(const LogStall&) = delete;

    // From now on the first line with the text holds its thread.
    void Arm() {
        std::lock_guard<std::mutex> lk(m_state->mu);
        m_state->armed = true;
    }
    // True once a thread is held (within timeout).
    bool WaitStalled(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lk(m_state->mu);
        return m_state->cv.wait_for(lk, timeout, [&] { return m_state->stalled; });
    }
    // Arms the stall, runs during (which the held thread is to outlast) and lets the thread go;
    // whether a thread was held.
    bool HoldAcross(const std::function<void()>& during) {
        Arm();
        during();
        const bool stalled = WaitStalled(m_state->bound);
        Release();
        return stalled;
    }
    void Release() {
        {
            std::lock_guard<std::mutex> lk(m_state->mu);
            m_state->released = true;
        }
        m_state->cv.notify_all();
    }

private:
    struct State {
        std::mutex mu;
        std::condition_variable cv;
        std::string text;
        std::chrono::milliseconds bound{0};
        bool armed = false;
        bool stalled = false;
        bool released = false;
        int inside = 0;
    };

    // Without a lock of its own: a held thread must not hold up the others.
    class Sink : public spdlog::sinks::base_sink<spdlog::details::null_mutex> {
    public:
        explicit Sink(std::shared_ptr<State> state) : m_state(std::move(state)) {}

    protected:
        void sink_it_(const spdlog::details::log_msg& msg) override {
            const std::string line(msg.payload.data(), msg.payload.size());
            std::unique_lock<std::mutex> lk(m_state->mu);
            if (!m_state->armed || m_state->stalled || line.find(m_state->text) == std::string::npos) return;
            m_state->stalled = true;
            ++m_state->inside;
            m_state->cv.notify_all();
            m_state->cv.wait_for(lk, m_state->bound, [&] { return m_state->released; });
            --m_state->inside;
            m_state->cv.notify_all();
        }
        void flush_() override {}

    private:
        std::shared_ptr<State> m_state;
    };

    // A thread may still hold the raw default logger after it has been replaced: kept for good.
    static void Keep(std::shared_ptr<spdlog::logger> logger) {
        static std::mutex mu;
        static auto* kept = new std::vector<std::shared_ptr<spdlog::logger>>();
        std::lock_guard<std::mutex> lk(mu);
        kept->push_back(std::move(logger));
    }

    std::shared_ptr<State> m_state;
    std::shared_ptr<spdlog::logger> m_previous;
};

}  // namespace oxa_test
