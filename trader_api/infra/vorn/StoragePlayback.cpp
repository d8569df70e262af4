#include "infra/vorn/StoragePlayback.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "infra/utility/WireCodec.h"
#include "infra/vorn/VornWire.h"
#include "infra/vorn/xLog.h"

namespace OXA {
namespace VORN {

const char* RecordsEndText(RecordsEnd end) {
    switch (end) {
        case RecordsEnd::kZeroFill: return "Zero Fill";
        case RecordsEnd::kFileEnd: return "File End";
        case RecordsEnd::kTruncated: return "Record Past File End";
        case RecordsEnd::kBadOrder: return "Byte-Order Invalid";
        case RecordsEnd::kBadType: return "Type Invalid";
        case RecordsEnd::kBadLength: return "Data Length Over Max";
        case RecordsEnd::kBadExtra: return "Extra Length Invalid";
    }
    return "";
}

ListLine ReadListLine(std::FILE* file, char (&out)[kListLineMax + 1]) {
    std::size_t n = 0;
    bool any = false, too_long = false;
    int c;
    while ((c = std::getc(file)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (n < kListLineMax)
            out[n++] = static_cast<char>(c);
        else
            too_long = true;
    }
    out[n] = '\0';
    if (!any) return ListLine::kEnd;
    return too_long ? ListLine::kTooLong : ListLine::kLine;
}

CStoragePlayback::CStoragePlayback(PlaybackContext context) : m_ctx(std::move(context)) {}

template <typename... A>
void CStoragePlayback::Note(const char* format, const A&... args) {
    if (m_ctx.log) m_ctx.log->Out(1, format, args...);
}

void CStoragePlayback::Call(uint32_t tag, uint32_t msg_id, const void* data, uint32_t length,
                            const VornMsgSource& source) {
    if (!m_ctx.callback) return;
    try {
        m_ctx.callback(tag, msg_id, data, length, 1, &source);
    } catch (...) {
        int64_t held = 0;
        if (m_throwLog.Allow(MonotonicNs(), &held))
            Note("Playback Message Fail: MsgId < %#x > Callback Threw ( %lld Not Logged ).",
                 static_cast<int>(msg_id & 0xFFFFu), static_cast<long long>(held));
    }
}

void CStoragePlayback::Marker(uint32_t msg_id) {
    VornMsgSource source;
    source.user_data = m_ctx.user_data;
    if (msg_id == 0) ++m_starts;
    Call(0, msg_id, nullptr, 0, source);
}

PlaybackFileResult CStoragePlayback::ReplayBytes(const uint8_t* data, std::size_t size, const char* name) {
    PlaybackFileResult r;
    if (!data) size = 0;
    std::size_t off = 0;
    for (;;) {
        const std::size_t left = size - off;
        if (left == 0) {
            r.end = RecordsEnd::kFileEnd;
            break;
        }
        // the writer sets the version byte last: anything else is the end of the records
        if (data[off] != kVornVersion) {
            r.end = RecordsEnd::kZeroFill;
            break;
        }
        if (left < kHeaderSize) {
            r.end = RecordsEnd::kTruncated;
            break;
        }
        VornHeader h;
        if (!ReadHostHeader(data + off, left, h)) {
            r.end = RecordsEnd::kBadOrder;
            break;
        }
        if (h.type == kPktStorageHeader) {
            ++r.starts;
            Marker(0);
            off += kHeaderSize;
            continue;
        }
        if (h.type != kPktApp) {
            r.end = RecordsEnd::kBadType;
            break;
        }
        API::WireReader rd(data + off, left);
        uint16_t data_length = 0;
        int16_t extra_length = 0, msg_id = 0;
        int32_t tag = 0;
        rd.seek(19);
        rd.read_host(data_length);
        rd.read_host(extra_length);
        rd.read_host(msg_id);
        rd.read_host(tag);
        if (!rd.ok() || left < kStorageRecordFixed) {
            r.end = RecordsEnd::kTruncated;
            break;
        }
        if (data_length > static_cast<uint32_t>(kMaxAppData)) {
            r.end = RecordsEnd::kBadLength;
            break;
        }
        if (extra_length < 0 || extra_length > kStorageMaxExtra) {
            r.end = RecordsEnd::kBadExtra;
            break;
        }
        const std::size_t record = kStorageRecordFixed + data_length + static_cast<std::size_t>(extra_length);
        if (record > left) {
            r.end = RecordsEnd::kTruncated;
            break;
        }
        const int index = h.src_member_index;
        if (index < 0 || static_cast<std::size_t>(index) >= m_ctx.partitions.size()) {
            ++r.skipped;
            int64_t held = 0;
            if (m_skipLog.Allow(MonotonicNs(), &held))
                Note("Read File: %s Record At ( %lld ) Skipped: Member-Index ( %d ) Invalid ( %lld Not Logged ).",
                     name ? name : "", static_cast<long long>(off), index, static_cast<long long>(held));
            off += record;
            continue;
        }
        VornMsgSource source;
        source.group_id = h.src_group_id;
        source.member_id = h.src_member_id;
        source.user_data = m_ctx.user_data;
        source.partition_id = m_ctx.partitions[static_cast<std::size_t>(index)];
        if (extra_length > 0) {
            source.extra_data = data + off + kStorageRecordFixed + data_length;
            source.extra_length = extra_length;
        }
        Call(static_cast<uint32_t>(tag), static_cast<uint32_t>(static_cast<int32_t>(msg_id)),
             data + off + kAppHeaderSize, data_length, source);
        ++r.records;
        r.bytes += record;
        off += record;
    }
    r.end_offset = off;
    m_records += r.records;
    if (r.end != RecordsEnd::kZeroFill && r.end != RecordsEnd::kFileEnd)
        Note("Read File: %s Records End At ( %lld ): %s.", name ? name : "", static_cast<long long>(off),
             RecordsEndText(r.end));
    return r;
}

bool CStoragePlayback::ReplayFile(const char* path, PlaybackFileResult* result) {
    // without blocking: opening a FIFO for reading would wait for a writer for ever
    const int fd = path ? ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    if (fd < 0) {
        Note("Open App-Msg-Storage File Fail: Open File (%s) Error.", path ? path : "");
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        Note("Open App-Msg-Storage File Fail: Open File (%s) Error.", path);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        Note("Open App-Msg-Storage File Fail: Open File (%s) Is Not A Regular File, Skipped.", path);
        if (result) {
            *result = PlaybackFileResult();
            result->not_regular = true;
        }
        return true;
    }
    const std::pair<uint64_t, uint64_t> file{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    for (const auto& seen : m_replayed) {
        if (seen != file) continue;
        ::close(fd);
        Note("Read File: %s Replayed Already, Skipped.", path);
        if (result) {
            *result = PlaybackFileResult();
            result->repeated = true;
        }
        return true;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    // read, not mapped: a file cut short meanwhile then reads short instead of faulting;
    // no storage file is longer than 8 MiB
    const std::size_t want = st.st_size > 0
                                 ? static_cast<std::size_t>(st.st_size < static_cast<off_t>(kStorageFileSize)
                                                                ? st.st_size
                                                                : static_cast<off_t>(kStorageFileSize))
                                 : 0;
    m_buffer.resize(want);
    std::size_t got = 0;
    bool ok = true;
    while (got < m_buffer.size()) {
        const ssize_t n = ::read(fd, m_buffer.data() + got, m_buffer.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (!ok) {
        Note("Open App-Msg-Storage File Fail: Open File (%s) Error.", path);
        return false;
    }
    m_replayed.push_back(file);
    Note("Read File: %s ...", path);
    const PlaybackFileResult r = ReplayBytes(m_buffer.data(), got, path);
    Note("Read File: %s Success ( %lld )", path, static_cast<long long>(r.bytes));
    if (result) *result = r;
    return true;
}

bool CStoragePlayback::ReplayList(std::FILE* list, int* lines) {
    int count = 0;
    bool ok = true;
    char line[kListLineMax + 1];
    while (list) {
        const ListLine got = ReadListLine(list, line);
        if (got == ListLine::kEnd) break;
        ++count;
        // a damaged line names no file: the lines after it still do
        if (got == ListLine::kTooLong) {
            Note("Read List: Line ( %d ) Over ( %d ) Characters, Skipped.", count, static_cast<int>(kListLineMax));
            continue;
        }
        const std::size_t length = std::strlen(line);
        if (length < kListLineMin) {
            Note("Read List: Line ( %d ) Of ( %d ) Characters Too Short, Skipped.", count, static_cast<int>(length));
            continue;
        }
        if (!ReplayFile(line)) {
            ok = false;
            break;
        }
    }
    if (lines) *lines = count;
    return ok;
}

void CStoragePlayback::Finish() {
    if (m_starts == 0) Marker(0);
    Marker(kPlaybackEndMsgId);
}

}  // namespace VORN
}  // namespace OXA
