// Reading back what a daily file sink wrote: spdlog names each day's file
// "<stem>_<YYYY-MM-DD><ext>" beside the base path, so the test lists the folder instead of
// guessing the date (a run across midnight finds both days, in order).
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace oxa_test {

inline std::vector<std::string> DailyLogFiles(const std::string& dir, const std::string& stem) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(stem + "_", 0) == 0) files.push_back(entry.path().string());
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
