// What the client tests share: a recorder of every callback (with the thread it ran on), a log
// sink that keeps what the client logged, and a client bound to both.
#pragma once

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>

#include "infra/tcp_framework/client/TcpClient.h"

namespace oxa_test {

using tcp_framework::client::TcpClient;
using Clock = std::chrono::steady_clock;

inline std::string thread_name() {
    char name[32] = {0};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

// Keeps every formatted message with its time.
class CaptureSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    struct Line {
        Clock::time_point at;
        spdlog::level::level_enum level;
        std::string text;
    };
    std::vector<Line> lines() {
        std::lock_guard<std::mutex> lk(mutex_);
        return lines_;
    }
    // Lines that contain `part`.
    std::vector<Line> matching(const std::string& part) {
        std::vector<Line> out;
        for (auto& l : lines())
            if (l.text.find(part) != std::string::npos) out.push_back(l);
        return out;
    }
    size_t count(const std::string& part) { return matching(part).size(); }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        lines_.push_back({Clock::now(), msg.level, std::string(msg.payload.data(), msg.payload.size())});
    }
    void flush_() override {}

private:
    std::vector<Line> lines_;
};

struct Received {
    uint32_t message_id;
    uint64_t request_id;
    std::vector<uint8_t> body;
    std::string thread;
};

struct Status {
    int code;
    std::string text;
    std::string thread;
    Clock::time_point at;
};

class Recorder {
public:
    std::vector<Received> responses, pushes;
    std::vector<Status> heartbeats, disconnects;
    std::vector<std::string> connected_threads;
    std::vector<Clock::time_point> connected_at;
    std::function<int(const Received&)> on_push;  // optional, runs on the io thread
    std::function<int(const Received&)> on_response;

    void bind(const std::shared_ptr<TcpClient>& c) {
        c->set_response_async_callback([this](std::shared_ptr<TcpClient>, unsigned int m, unsigned long r,
                                              const unsigned char* b, unsigned int n) {
            Received rec{m, r, std::vector<uint8_t>(b, b + n), thread_name()};
            int rc = on_response ? on_response(rec) : 0;
            add([&] { responses.push_back(std::move(rec)); });
            return rc;
        });
        c->set_push_callback([this](std::shared_ptr<TcpClient>, unsigned int m, unsigned long r,
                                    const unsigned char* b, unsigned int n) {
            Received rec{m, r, std::vector<uint8_t>(b, b + n), thread_name()};
            int rc = on_push ? on_push(rec) : 0;
            add([&] { pushes.push_back(std::move(rec)); });
            return rc;
        });
        c->set_connected_callback([this](std::shared_ptr<TcpClient>) {
            add([&] {
                connected_threads.push_back(thread_name());
                connected_at.push_back(Clock::now());
            });
            return 0;
        });
        c->set_heartbeat_callback([this](std::shared_ptr<TcpClient>, int code, const char* text) {
            add([&] { heartbeats.push_back({code, text ? text : "<null>", thread_name(), Clock::now()}); });
            return 0;
        });
        c->set_disconnected_callback([this](std::shared_ptr<TcpClient>, int code, const char* text) {
            add([&] { disconnects.push_back({code, text ? text : "<null>", thread_name(), Clock::now()}); });
            return 0;
        });
    }

    template <typename F>
    auto read(F f) {
        std::lock_guard<std::mutex> lk(mu_);
        return f();
    }
    size_t n_connected() { return read([&] { return connected_threads.size(); }); }
    size_t n_disconnects() { return read([&] { return disconnects.size(); }); }
    size_t n_pushes() { return read([&] { return pushes.size(); }); }
    size_t n_responses() { return read([&] { return responses.size(); }); }
    std::vector<Status> disconnects_copy() { return read([&] { return disconnects; }); }

    bool wait(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        std::unique_lock<std::mutex> lk(mu_);
        for (;;) {
            lk.unlock();
            if (pred()) return true;
            lk.lock();
            if (Clock::now() >= deadline) {
                lk.unlock();
                return pred();
            }
            cv_.wait_until(lk, std::min(deadline, Clock::now() + std::chrono::milliseconds(2)));
        }
    }

private:
    template <typename F>
    void add(F f) {
        {
            std::lock_guard<std::mutex> lk(mu_);
            f();
        }
        cv_.notify_all();
    }
    std::mutex mu_;
    std::condition_variable cv_;
};

inline std::shared_ptr<spdlog::logger> capture_logger(const std::shared_ptr<CaptureSink>& sink) {
    auto logger = std::make_shared<spdlog::logger>("tcp_client_test", sink);
    logger->set_level(spdlog::level::trace);
    return logger;
}

}  // namespace oxa_test
