// Helpers of the storage and playback tests: a temporary folder removed with everything in
// it, delivered datagrams as the deliver thread leaves them for storage, and a recorder for
// the deliver callback.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "infra/vorn/StoragePlayback.h"
#include "infra/vorn/VornTypes.h"
#include "infra/vorn/VornWire.h"
#include "support/BusLive.h"

namespace storage_test {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "oxa_storage_XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        const char* made = ::mkdtemp(buf.data());
        EXPECT_NE(nullptr, made);
        m_path = made ? made : "";
    }
    ~TempDir() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

struct Source {
    int16_t group = 10;
    int16_t member = 1;
    int16_t index = 0;  // member-table index
};

// What the deliver thread hands storage: the datagram (header in host order, the sender's
// byte-order character, id and tag in host order, data) followed by the HHMMSS of delivery.
// The datagram is size() - 4 bytes long.
inline std::vector<uint8_t> Delivered(const Source& src, int32_t sequence, int16_t msg_id, int32_t tag,
                                      const std::vector<uint8_t>& data, int32_t hhmmss = 93000) {
    using namespace OXA::VORN;
    VornHeader h;
    h.sequence = sequence;
    h.type = kPktApp;
    h.src_group_id = src.group;
    h.src_group_index = 0;
    h.src_member_id = src.member;
    h.src_member_index = src.index;
    h.dst_group_id = 20;
    h.dst_member_id = -1;
    std::vector<uint8_t> out(kAppHeaderSize + data.size() + 4);
    const std::size_t n = BuildApp(out.data(), out.size(), h, msg_id, tag, data.data(), data.size());
    EXPECT_EQ(kAppHeaderSize + data.size(), n);
    std::memcpy(out.data() + n, &hhmmss, 4);
    return out;
}

struct Replayed {
    uint32_t tag = 0;
    uint32_t msg_id = 0;
    std::vector<uint8_t> data;
    bool null_data = false;
    uint64_t playback = 0;
    int16_t group = 0, member = 0, partition = 0;
    std::vector<uint8_t> extra;
};

// Records every call of the deliver callback whose source carries it as user data.
class Recorder {
public:
    static void Callback(uint32_t tag, uint32_t msg_id, const void* data, uint32_t length, uint64_t playback,
                         const OXA::VORN::VornMsgSource* source) {
        Recorder* self = source ? static_cast<Recorder*>(source->user_data) : nullptr;
        if (!self) return;
        Replayed r;
        r.tag = tag;
        r.msg_id = msg_id;
        r.null_data = data == nullptr;
        if (data) r.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + length);
        r.playback = playback;
        r.group = source->group_id;
        r.member = source->member_id;
        r.partition = source->partition_id;
        if (source->extra_data && source->extra_length > 0)
            r.extra.assign(static_cast<const uint8_t*>(source->extra_data),
                           static_cast<const uint8_t*>(source->extra_data) + source->extra_length);
        if (self->hook) self->hook(r, data);
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_got.push_back(std::move(r));
    }
    std::vector<Replayed> Got() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_got;
    }
    std::size_t Count() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_got.size();
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_got.clear();
    }
    // Runs in the callback (on its thread) with the data pointer the callback got.
    std::function<void(const Replayed&, const void* data)> hook;

private:
    mutable std::mutex m_mutex;
    std::vector<Replayed> m_got;
};

inline OXA::VORN::PlaybackContext ContextFor(Recorder& recorder, std::size_t members = 4) {
    OXA::VORN::PlaybackContext c;
    c.callback = &Recorder::Callback;
    c.user_data = &recorder;
    for (std::size_t i = 0; i < members; ++i) c.partitions.push_back(static_cast<int16_t>(100 + i));
    return c;
}

// Replays the list file at path through playback; false when it cannot be opened or a
// file it names fails.
inline bool ReplayListAt(OXA::VORN::CStoragePlayback& playback, const std::string& path, int* files = nullptr) {
    std::FILE* l = std::fopen(path.c_str(), "r");
    if (!l) return false;
    const bool ok = playback.ReplayList(l, files);
    std::fclose(l);
    return ok;
}

inline std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> out;
    std::ifstream in(path);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

inline std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace storage_test
