// Reading back what a daily file sink wrote: spdlog names each day's file
// "<stem>_<YYYY-MM-DD><ext>" beside the base path, the day in local time. The helper lists the
// folder and takes the files of the days this test run spans (a run across midnight finds both
// days, in order); a file of the stem that bears another day, or no day, is a test failure.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace oxa_test {

// When the test binary started.
inline const std::time_t kDailyLogRunStart = std::time(nullptr);

// YYYY-MM-DD of t in local time, as spdlog writes it into the file name.
inline std::string DailyLogDay(std::time_t t) {
    std::tm local{};
    ::localtime_r(&t, &local);
    char day[16];
    std::strftime(day, sizeof day, "%Y-%m-%d", &local);
    return day;
}

// The days from the start of the run to now, in order.
inline std::vector<std::string> DailyLogDays() {
    const std::time_t now = std::time(nullptr);
    std::vector<std::string> days;
    for (std::time_t t = kDailyLogRunStart;; t += 24 * 60 * 60) {
        const std::string day = DailyLogDay(std::min(t, now));
        if (days.empty() || days.back() != day) days.push_back(day);
        if (t >= now) break;
    }
    return days;
}

inline std::vector<std::string> DailyLogFiles(const std::string& dir, const std::string& stem,
                                              const std::string& ext = ".log") {
    const std::vector<std::string> days = DailyLogDays();
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(stem + "_", 0) != 0) continue;
        const bool dated = std::any_of(days.begin(), days.end(),
                                       [&](const std::string& day) { return name == stem + "_" + day + ext; });
        if (dated)
            files.push_back(entry.path().string());
        else
            ADD_FAILURE() << "daily file " << name << " in " << dir << " is not named for a day of this run (from "
                          << days.front() << " to " << days.back() << ")";
    }
    std::sort(files.begin(), files.end());
    return files;
}

inline std::string ReadDailyLog(const std::string& dir, const std::string& stem) {
    std::string all;
    for (const auto& file : DailyLogFiles(dir, stem)) {
        std::ifstream in(file, std::ios::binary);
        all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return all;
}

}  // namespace oxa_test
