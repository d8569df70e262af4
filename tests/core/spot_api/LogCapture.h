// Collects what the library logs through spdlog's default logger while a test runs.
#pragma once

#include <gtest/gtest.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace spot_test {

class LogCapture {
public:
    LogCapture() : m_previous(spdlog::default_logger()) {
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(m_out, true);
        m_logger = std::make_shared<spdlog::logger>("spot_test", sink);
        m_logger->set_level(spdlog::level::trace);
        m_logger->set_pattern("%l|%v");
        spdlog::set_default_logger(m_logger);
    }
    ~LogCapture() { spdlog::set_default_logger(m_previous); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // "level|text" per line, e.g. "info|[...]Unknown Ord_Type:Z".
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(m_out.str());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    // Lines matching the whole pattern: '*' stands for any run of characters, '#' for one or
    // more digits; every other character stands for itself.
    std::size_t Count(const std::string& pattern) const {
        std::size_t n = 0;
        for (const std::string& line : Lines()) n += Match(pattern.c_str(), line.c_str());
        return n;
    }
    void Clear() { m_out.str(std::string()); }

private:
    static bool Match(const char* p, const char* s) {
        if (*p == 0) return *s == 0;
        if (*p == '*') {
            for (;; ++s) {
                if (Match(p + 1, s)) return true;
                if (*s == 0) return false;
            }
        }
        if (*p == '#') {
            if (*s < '0' || *s > '9') return false;
            while (*s >= '0' && *s <= '9') {
                ++s;
                if (Match(p + 1, s)) return true;
            }
            return false;
        }
        return *p == *s && Match(p + 1, s + 1);
    }

    std::ostringstream m_out;
    std::shared_ptr<spdlog::logger> m_previous;
    std::shared_ptr<spdlog::logger> m_logger;
};

// Sends what no LogCapture collects nowhere, so expected warnings do not flood the output.
class QuietLogs : public ::testing::Environment {
public:
    void SetUp() override {
        m_previous = spdlog::default_logger();
        auto sink = std::make_shared<spdlog::sinks::null_sink_mt>();
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("spot_quiet", sink));
    }
    void TearDown() override { spdlog::set_default_logger(m_previous); }

private:
    std::shared_ptr<spdlog::logger> m_previous;
};

}  // namespace spot_test
