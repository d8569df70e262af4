// What the client tests share: a recorder of every callback (with the thread it ran on), a log
// sink that keeps what the client logged, and a rig that binds a client to both.
#pragma once

#include <dirent.h>
#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
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

// Threads of this process that carry `name` right now.
inline int threads_named(const std::string& name) {
    int n = 0;
    DIR* d = ::opendir("/proc/self/task");
    if (!d) return -1;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream f(std::string("/proc/self/task/") + e->d_name + "/comm");
        std::string comm;
        if (std::getline(f, comm) && comm == name) ++n;
    }
    ::closedir(d);
    return n;
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
    int count(const std::string& part) { return static_cast<int>(matching(part).size()); }

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
    // Optional hooks, set before the client connects. They run on the callback's own thread,
    // before the event is recorded; a package hook's result is the callback's result.
    std::function<int(const Received&)> on_push;
    std::function<int(const Received&)> on_response;
    std::function<void()> on_connected;
    std::function<void(int code)> on_disconnected;
    std::function<void(int code)> on_heartbeat;

    // The callbacks hold the recorder: a client that outlives its test (its io thread keeps it)
    // never calls into freed memory.
    static void bind(const std::shared_ptr<Recorder>& self, const std::shared_ptr<TcpClient>& c) {
        std::shared_ptr<Recorder> r = self;
        c->set_response_async_callback([r](std::shared_ptr<TcpClient>, unsigned int m, unsigned long id,
                                           const unsigned char* b, unsigned int n) {
            Received rec{m, id, std::vector<uint8_t>(b, b + n), thread_name()};
            const int rc = r->on_response ? r->on_response(rec) : 0;
            r->add([&] { r->responses.push_back(std::move(rec)); });
            return rc;
        });
        c->set_push_callback([r](std::shared_ptr<TcpClient>, unsigned int m, unsigned long id,
                                 const unsigned char* b, unsigned int n) {
            Received rec{m, id, std::vector<uint8_t>(b, b + n), thread_name()};
            const int rc = r->on_push ? r->on_push(rec) : 0;
            r->add([&] { r->pushes.push_back(std::move(rec)); });
            return rc;
        });
        c->set_connected_callback([r](std::shared_ptr<TcpClient>) {
            if (r->on_connected) r->on_connected();
            r->add([&] {
                r->connected_threads.push_back(thread_name());
                r->connected_at.push_back(Clock::now());
            });
            return 0;
        });
        c->set_heartbeat_callback([r](std::shared_ptr<TcpClient>, int code, const char* text) {
            if (r->on_heartbeat) r->on_heartbeat(code);
            r->add([&] { r->heartbeats.push_back({code, text ? text : "<null>", thread_name(), Clock::now()}); });
            return 0;
        });
        c->set_disconnected_callback([r](std::shared_ptr<TcpClient>, int code, const char* text) {
            if (r->on_disconnected) r->on_disconnected(code);
            r->add([&] { r->disconnects.push_back({code, text ? text : "<null>", thread_name(), Clock::now()}); });
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
    size_t n_heartbeats(int code) {
        return read([&] {
            size_t n = 0;
            for (auto& h : heartbeats) n += h.code == code;
            return n;
        });
    }
    std::vector<Status> disconnects_copy() { return read([&] { return disconnects; }); }
    std::vector<Status> heartbeats_copy() { return read([&] { return heartbeats; }); }
    std::vector<Received> pushes_copy() { return read([&] { return pushes; }); }
    std::vector<Received> responses_copy() { return read([&] { return responses; }); }
    std::vector<std::string> connected_copy() { return read([&] { return connected_threads; }); }

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

// A client with a capture log and a recorder bound to it. Stopped when the rig goes; the client
// itself may live on (a client that once connected is kept by its io thread).
struct ClientRig {
    std::shared_ptr<CaptureSink> sink = std::make_shared<CaptureSink>();
    std::shared_ptr<Recorder> rec = std::make_shared<Recorder>();
    std::shared_ptr<TcpClient> client;

    ClientRig(int reconnect_ms, int heartbeat_ms, int stop_timeout_ms = 2000) {
        client = std::make_shared<TcpClient>(reconnect_ms, nullptr);
        client->set_logger(capture_logger(sink));
        client->set_heartbeat_interval(heartbeat_ms);
        client->set_stop_timeout(stop_timeout_ms);
        Recorder::bind(rec, client);
    }
    ~ClientRig() {
        if (client) client->stop();
    }
    ClientRig(const ClientRig&) = delete;
    ClientRig& operator=(const ClientRig&) = delete;

    int logged(const std::string& part) { return sink->count(part); }
    // The client's log, for a failure message.
    std::string log_text() {
        std::string out;
        for (auto& l : sink->lines()) out += "  " + l.text + "\n";
        return out;
    }
    bool wait_logged(const std::string& part, int n, std::chrono::milliseconds timeout) {
        return rec->wait([&] { return logged(part) >= n; }, timeout);
    }
    // n connected callbacks have returned and the on-connect thread is gone: a connection lost
    // from now on is reported where it was lost, not behind its connected callback.
    bool wait_connected_done(size_t n, std::chrono::milliseconds timeout) {
        return rec->wait([&] { return rec->n_connected() >= n && threads_named("tcp_on_connect") == 0; }, timeout);
    }
};

}  // namespace oxa_test
