#include "infra/vorn/AppMsgStorage.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "infra/vorn/AppMsgDeliver.h"
#include "infra/vorn/HqtrsClient.h"
#include "infra/vorn/VornSystem.h"
#include "infra/vorn/VornWire.h"

namespace OXA {
namespace VORN {

namespace {

constexpr std::size_t kZeroBlock = 2048;

// Copies a record with its version byte last: a writer killed part-way leaves a version of
// 0 there, which a reader takes for the end of the records.
void Commit(uint8_t* dst, const uint8_t* src, std::size_t n) {
    std::memcpy(dst + 1, src + 1, n - 1);
    __atomic_store_n(dst, src[0], __ATOMIC_RELEASE);
}

bool WriteAll(int fd, const void* data, std::size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// One host setting, written straight to its file (no shell) as a line.
bool WriteSetting(const std::string& path, const char* value) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return false;
    const std::string line = std::string(value) + "\n";
    const bool ok = WriteAll(fd, line.data(), line.size());
    return ::close(fd) == 0 && ok;
}

}  // namespace

StorageConfig StorageConfig::Of(CVornSystem& system) {
    StorageConfig c;
    c.has_base_path = system.BasePath() != nullptr;
    c.base_path = c.has_base_path ? system.BasePath() : "";
    c.group_id = system.Identity().group_id;
    c.member_id = system.Identity().member_id;
    c.date = system.Date();
    c.msgs = system.Hqtrs().Msgs();
    for (std::size_t i = 0; i < system.Hqtrs().Members().size(); ++i)
        c.partitions.push_back(system.PartitionOf(static_cast<int>(i)));
    c.storage_core = system.ThreadCore(VornThread::kStorage);
    c.host_tuning = system.HostTuning();
    c.user_data = system.UserData();
    c.options = system.StorageOpts();
    return c;
}

bool StorageFolder(char* out, std::size_t cap, const char* base_path) {
    int n;
    if (!base_path) {
        n = std::snprintf(out, cap, ".%cvorn_data", '/');
    } else {
        const std::size_t len = std::strlen(base_path);
        if (len > 0 && base_path[len - 1] == '/')
            n = std::snprintf(out, cap, "%svorn_data", base_path);
        else
            n = std::snprintf(out, cap, "%s%cvorn_data", base_path, '/');
    }
    return n > 0 && static_cast<std::size_t>(n) < cap;
}

CAppMsgStorage::CAppMsgStorage(CVornSystem& system) : m_sys(system) {}

CAppMsgStorage::~CAppMsgStorage() { Stop(); }

bool CAppMsgStorage::SetUp(int run_mode, VornDeliverCallback callback) {
    return SetUp(StorageConfig::Of(m_sys), run_mode, callback);
}

bool CAppMsgStorage::Flagged(int16_t msg_id) const {
    const int32_t i = static_cast<int32_t>(msg_id) - m_lowId;
    return i >= 0 && static_cast<std::size_t>(i) < m_flags.size() && m_flags[static_cast<std::size_t>(i)];
}

std::string CAppMsgStorage::FilePath(int number) const {
    char path[256];
    const int n = std::snprintf(path, sizeof path, "%s%cin_%03d_%03d_%d_%04d.dat", m_folder, '/', m_cfg.group_id,
                                m_cfg.member_id, m_cfg.date, number);
    return (n > 0 && static_cast<std::size_t>(n) < sizeof path) ? std::string(path) : std::string();
}

bool CAppMsgStorage::SetUp(const StorageConfig& config, int run_mode, VornDeliverCallback callback) {
    Stop();
    m_cfg = config;
    m_created.store(0, std::memory_order_release);
    m_unlocked.store(0, std::memory_order_release);
    m_lost.store(0, std::memory_order_relaxed);
    // the ids of the own group flagged 'Y'; any other id is never stored
    int32_t low = 0, high = -1;
    bool any = false;
    for (const HqtrsMsgInfo& m : m_cfg.msgs) {
        if (m.group_id != m_cfg.group_id || m.store_flag != 'Y') continue;
        if (!any || m.msg_id < low) low = m.msg_id;
        if (!any || m.msg_id > high) high = m.msg_id;
        any = true;
    }
    if (!any) {
        m_sys.Note("Non-Storage Mode.");
        return true;
    }
    m_lowId = low;
    m_flags.assign(static_cast<std::size_t>(high - low + 1), 0);
    for (const HqtrsMsgInfo& m : m_cfg.msgs)
        if (m.group_id == m_cfg.group_id && m.store_flag == 'Y') m_flags[static_cast<std::size_t>(m.msg_id - low)] = 1;

    m_async = m_cfg.storage_core >= 0;
    m_sys.Note(m_async ? "Async-Storage Mode." : "Sync-Storage Mode.");
    m_fileSize = m_cfg.options.file_size;
    if (m_fileSize < 4096 || m_fileSize % kStorageGuard != 0) m_fileSize = kStorageFileSize;
    m_limit = m_fileSize - kStorageGuard;
    if (m_async && m_cfg.host_tuning) TuneHost();

    if (!StorageFolder(m_folder, sizeof m_folder, m_cfg.has_base_path ? m_cfg.base_path.c_str() : nullptr)) {
        m_sys.Note("Open App-Msg-Storage File Fail: Create Dir (vorn_data) Error.");
        return false;
    }
    struct stat st;
    if (::stat(m_folder, &st) != 0 && ::mkdir(m_folder, 0754) != 0 && errno != EEXIST) {
        m_sys.Note("Open App-Msg-Storage File Fail: Create Dir (vorn_data) Error.");
        return false;
    }
    const int n = std::snprintf(m_listPath, sizeof m_listPath, "%s%clist_%03d_%03d_%d.txt", m_folder, '/',
                                m_cfg.group_id, m_cfg.member_id, m_cfg.date);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof m_listPath) {
        m_sys.Note("Open App-Msg-Storage File Fail: Open File (%s) Error.", m_listPath);
        return false;
    }
    int used = 0;
    m_playback = run_mode != 0;
    if (!OpenList(m_playback)) return false;
    if (run_mode != 0) {
        std::rewind(m_list);
        PlaybackContext pc;
        pc.callback = callback;
        pc.user_data = m_cfg.user_data;
        pc.partitions = m_cfg.partitions;
        pc.log = &m_sys.Log();
        CStoragePlayback playback(std::move(pc));
        const bool ok = playback.ReplayList(m_list, &used);
        if (!ok) {
            Stop();
            return false;
        }
        // new files never replace one of the day, listed or not (a damaged line may hide
        // one): they are numbered after the highest there is and after every list line
        const int highest = HighestFileNumber();
        if (highest > used) used = highest;
        playback.Finish();
        // a last line cut short of its newline must not run into the first new one
        const bool cut = std::fseek(m_list, -1, SEEK_END) == 0 && std::fgetc(m_list) != '\n';
        std::fseek(m_list, 0, SEEK_END);
        if (cut) std::fputc('\n', m_list);
    }

    if (m_cfg.host_tuning && ::mlockall(MCL_CURRENT) != 0)
        m_sys.Note("Storage: Lock Current Pages Fail ( errno %d ).", errno);

    m_ringSize = m_async ? kAsyncStorageRing : kSyncStorageRing;
    m_slots.reset(new Slot[static_cast<std::size_t>(m_ringSize)]);
    m_first = used;
    m_nextNumber = used + 1;
    m_current = 0;
    m_currentNumber = 0;
    for (int position = 1; position <= m_ringSize; ++position) {
        if (!CreateNext(SlotOf(position))) {
            Stop();
            return false;
        }
    }
    m_on = true;
    if (!NextFile()) {
        Stop();
        return false;
    }
    VornHeader h;
    h.type = kPktStorageHeader;
    h.sequence = 0;
    h.src_group_id = h.src_group_index = h.src_member_id = h.src_member_index = 0;
    h.dst_group_id = h.dst_member_id = 0;
    uint8_t header[kHeaderSize];
    if (BuildControl(header, sizeof header, h) != kHeaderSize) {
        Stop();
        return false;
    }
    Commit(m_map, header, kHeaderSize);
    m_offset = kHeaderSize;

    m_stop.store(false, std::memory_order_release);
    if (!m_thread.Start("vorn_storage", m_cfg.storage_core, [this](bool pinned) { Loop(pinned); })) {
        m_sys.Note("Init Storage Thread Fail.");
        Stop();
        return false;
    }
    return true;
}

void CAppMsgStorage::TuneHost() {
    struct Setting {
        const char* name;
        const char* value;
    };
    static const Setting kSettings[] = {
        {"dirty_expire_centisecs", "3000"}, {"dirty_background_ratio", "5"}, {"dirty_ratio", "80"},
        {"dirty_writeback_centisecs", "500"}, {"swappiness", "1"},
    };
    for (const Setting& s : kSettings) {
        const std::string path = m_cfg.options.vm_dir + "/" + s.name;
        if (WriteSetting(path, s.value))
            m_sys.Note("Storage Host Setting ( %s ): %s.", path, s.value);
        else
            m_sys.Note("Storage Host Setting ( %s ): Write %s Fail ( errno %d ).", path, s.value, errno);
    }
}

int CAppMsgStorage::HighestFileNumber() const {
    char prefix[64];
    const int n = std::snprintf(prefix, sizeof prefix, "in_%03d_%03d_%d_", m_cfg.group_id, m_cfg.member_id, m_cfg.date);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof prefix) return 0;
    const std::size_t plen = static_cast<std::size_t>(n);
    int highest = 0;
    DIR* dir = ::opendir(m_folder);
    if (!dir) return 0;
    while (const dirent* e = ::readdir(dir)) {
        const char* name = e->d_name;
        if (std::strncmp(name, prefix, plen) != 0) continue;
        const char* p = name + plen;
        long number = 0;
        std::size_t digits = 0;
        for (; *p >= '0' && *p <= '9' && digits < 9; ++p, ++digits) number = number * 10 + (*p - '0');
        if (digits == 0 || std::strcmp(p, ".dat") != 0) continue;
        if (number > highest) highest = static_cast<int>(number);
    }
    ::closedir(dir);
    return highest;
}

bool CAppMsgStorage::OpenList(bool playback) {
    // a playback appends to the day's list; a normal run empties it, once it holds the lock
    const int fd = ::open(m_listPath, O_RDWR | O_CREAT | O_CLOEXEC | (playback ? O_APPEND : 0), 0664);
    if (fd < 0) {
        m_sys.Note("Open App-Msg-Storage File Fail: Open File (%s) Error.", m_listPath);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            ::close(fd);
            m_sys.Note("Open App-Msg-Storage File Fail: List (%s) Is Held By Another Run Of This Member.", m_listPath);
            return false;
        }
        // a file system without locks: the run goes on as it always did
        m_sys.Note("Open App-Msg-Storage File Warning: List (%s) Cannot Be Locked ( errno %d ).", m_listPath, errno);
    }
    if (!playback && ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        m_sys.Note("Open App-Msg-Storage File Fail: Open File (%s) Error.", m_listPath);
        return false;
    }
    m_list = ::fdopen(fd, playback ? "a+" : "w");
    if (!m_list) {
        ::close(fd);
        m_sys.Note("Open App-Msg-Storage File Fail: Open File (%s) Error.", m_listPath);
        return false;
    }
    return true;
}

bool CAppMsgStorage::CreateNext(Slot& slot) {
    for (;;) {
        const int number = m_nextNumber;
        switch (CreateFile(number, slot)) {
            case Created::kOk:
                ++m_nextNumber;
                return true;
            case Created::kTaken:
                ++m_nextNumber;
                m_sys.Note("Open App-Msg-Storage File Warning: Open File (%s) Taken, File Number ( %d ) Skipped.",
                           FilePath(number), number);
                break;
            case Created::kFailed:
                return false;
        }
    }
}

CAppMsgStorage::Created CAppMsgStorage::CreateFile(int number, Slot& slot) {
    const std::string path = FilePath(number);
    // a playback run adds to the day's files: it never truncates one that exists; neither
    // run follows a link or waits on a FIFO under the name
    const int mode = m_playback ? O_EXCL : O_TRUNC;
    const int fd = path.empty() ? -1
                                : ::open(path.c_str(), O_RDWR | O_CREAT | mode | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                                         0664);
    struct stat st;
    if (fd < 0) {
        // something holds the name: the number is not for this run
        if (!path.empty() && ::lstat(path.c_str(), &st) == 0) return Created::kTaken;
        m_sys.Note("Open App-Msg-Storage File Fail: Open File (%s) Error (001).", path);
        return Created::kFailed;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Created::kTaken;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // a file this playback made and could not finish goes again, so its number is tried again
    auto fail = [&](const char* text) {
        m_sys.Note(text, path);
        if (m_playback) ::unlink(path.c_str());
        return Created::kFailed;
    };
    if (::fallocate(fd, 0, 0, static_cast<off_t>(m_fileSize)) != 0) {
        static const uint8_t kZeros[kZeroBlock] = {0};
        bool ok = ::ftruncate(fd, 0) == 0;
        for (std::size_t done = 0; ok && done < m_fileSize; done += kZeroBlock)
            ok = WriteAll(fd, kZeros, m_fileSize - done < kZeroBlock ? m_fileSize - done : kZeroBlock);
        if (!ok) {
            ::close(fd);
            return fail("Open App-Msg-Storage File Fail: Open File (%s) Error (002).");
        }
    }
    void* map = ::mmap(nullptr, m_fileSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE | MAP_LOCKED, fd, 0);
    if (map == MAP_FAILED) {
        // locking refused (limits, rights): the pages are still populated up front
        const int refused = errno;
        map = ::mmap(nullptr, m_fileSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
        if (map != MAP_FAILED && m_unlocked.fetch_add(1, std::memory_order_acq_rel) == 0)
            m_sys.Note("Storage File (%s) Mapped Unlocked: Lock Refused ( errno %d ).", path, refused);
    }
    ::close(fd);
    if (map == MAP_FAILED) return fail("Open App-Msg-Storage File Fail: Open File (%s) Error (003).");
    std::memset(map, 0, m_fileSize);
    ::msync(map, m_fileSize, MS_SYNC);
    if (m_list) {
        std::fprintf(m_list, "%s\n", path.c_str());
        std::fflush(m_list);
    }
    slot.map = static_cast<uint8_t*>(map);
    slot.number = number;
    m_created.fetch_add(1, std::memory_order_acq_rel);
    slot.ready.store(true, std::memory_order_release);
    return Created::kOk;
}

void CAppMsgStorage::ReleaseSlot(Slot& slot) {
    if (slot.map) ::munmap(slot.map, m_fileSize);
    slot.map = nullptr;
    slot.number = 0;
}

bool CAppMsgStorage::NextFile() {
    if (!m_slots) return false;
    if (m_current != 0) {
        SlotOf(m_current).ready.store(false, std::memory_order_release);
        if (!m_async) m_event.Set();
    }
    Slot& next = SlotOf(m_current + 1);
    const int tries = m_cfg.options.next_file_tries > 0 ? m_cfg.options.next_file_tries : 1;
    for (int t = 0; t < tries; ++t) {
        if (next.ready.load(std::memory_order_acquire)) {
            m_map = next.map;
            m_offset = 0;
            m_haveLast = false;
            m_lastData = nullptr;
            ++m_current;
            m_currentNumber = next.number;
            return true;
        }
        CpuRelax();
    }
    return false;
}

uint8_t* CAppMsgStorage::Room(std::size_t record) {
    if (!m_on || !m_map) return nullptr;
    if (m_offset + record > m_limit && (record > m_limit || !NextFile())) return nullptr;
    return m_map + m_offset;
}

void CAppMsgStorage::Advance(std::size_t record, const uint8_t* data) {
    m_lastRecord = m_offset;
    m_haveLast = true;
    m_lastData = data;
    m_offset += record;
}

bool CAppMsgStorage::Append(const uint8_t* record, std::size_t length) {
    uint8_t* dst = (record && length >= kHeaderSize) ? Room(length) : nullptr;
    if (!dst) return false;
    Commit(dst, record, length);
    Advance(length, nullptr);
    return true;
}

bool CAppMsgStorage::Store(int16_t msg_id, const uint8_t* datagram, std::size_t length) {
    if (!m_on || !Flagged(msg_id)) return true;
    const bool sound =
        datagram && length >= kAppHeaderSize && length - kAppHeaderSize <= static_cast<std::size_t>(kMaxAppData);
    const std::size_t record = length + sizeof(int32_t);  // the HHMMSS behind the datagram
    uint8_t* dst = sound ? Room(record) : nullptr;
    if (dst) {
        std::memcpy(dst + 1, datagram + 1, record - 1);
        // the payload-length field as storage reads it: data length, no extra yet
        const uint16_t data_length = static_cast<uint16_t>(length - kAppHeaderSize);
        const int16_t extra = 0;
        std::memcpy(dst + 19, &data_length, sizeof data_length);
        std::memcpy(dst + 21, &extra, sizeof extra);
        __atomic_store_n(dst, kVornVersion, __ATOMIC_RELEASE);
        Advance(record, datagram + kAppHeaderSize);
        return true;
    }
    m_lost.fetch_add(1, std::memory_order_relaxed);
    int64_t held = 0;
    if (m_failLog.Allow(MonotonicNs(), &held)) {
        if (held == 0)
            m_sys.Note("Deliver Message Fatal: Storage Fail.");
        else
            m_sys.Note("Deliver Message Fatal: Storage Fail. ( %lld Not Logged )", static_cast<long long>(held));
    }
    return false;
}

bool CAppMsgStorage::AppendToLast(const uint8_t* message, const void* extra, uint32_t length) {
    if (!m_on || !m_map || !message || !extra || length < 1 || length > static_cast<uint32_t>(kStorageMaxExtra))
        return false;
    if (!m_haveLast || message != m_lastData) return false;
    uint8_t* rec = m_map + m_lastRecord;
    const uint8_t* header = message - kAppHeaderSize;  // inside the buffer that was stored
    // the buffer may hold a later message by now: sequence and source must still match
    if (std::memcmp(rec + 2, header + 2, 4) != 0 || std::memcmp(rec + 7, header + 7, 2) != 0 ||
        std::memcmp(rec + 11, header + 11, 2) != 0)
        return false;
    uint16_t data_length = 0;
    int16_t old_extra = 0;
    std::memcpy(&data_length, rec + 19, sizeof data_length);
    std::memcpy(&old_extra, rec + 21, sizeof old_extra);
    const std::size_t total = static_cast<std::size_t>(old_extra) + length;
    if (old_extra < 0 || total > static_cast<std::size_t>(kStorageMaxExtra)) return false;
    if (m_lastRecord + kStorageRecordFixed + data_length + static_cast<std::size_t>(old_extra) != m_offset ||
        m_offset + length > m_fileSize)
        return false;
    std::memcpy(m_map + m_offset, extra, length);
    // the length last: a writer killed before it leaves the record as it was
    const int16_t grown = static_cast<int16_t>(total);
    __atomic_signal_fence(__ATOMIC_RELEASE);
    std::memcpy(rec + 21, &grown, sizeof grown);
    m_offset += length;
    return true;
}

void CAppMsgStorage::Loop(bool pinned) {
    if (pinned)
        m_sys.Note("Storage Thread(%s) Start, Bind CPU Core Id(%d) ...", "vorn_storage", m_cfg.storage_core);
    else
        m_sys.Note("Storage Thread(%s) Start ...", "vorn_storage");
    // the file at position i + 1 has been left once the writer cleared its ready flag, and
    // from the ring's (size - 5)th file on the slot five positions ahead is recycled for the
    // next new file
    int i = 0;
    while (!m_stop.load(std::memory_order_acquire)) {
        if (!SlotOf(i + 1).ready.load(std::memory_order_acquire)) {
            if (i >= m_ringSize - kStorageFilesAhead) {
                Slot& slot = SlotOf(i + kStorageFilesAhead + 1);
                ReleaseSlot(slot);
                while (!CreateNext(slot)) {
                    if (m_stop.load(std::memory_order_acquire)) return;
                    m_event.TimedWait(1);
                }
            }
            ++i;
            continue;
        }
        if (pinned)
            CpuRelax();
        else
            m_event.TimedWait(1);
    }
}

void CAppMsgStorage::Stop() {
    m_stop.store(true, std::memory_order_release);
    m_event.Set();
    m_thread.Join();
    if (m_slots)
        for (int s = 0; s < m_ringSize; ++s) ReleaseSlot(m_slots[static_cast<std::size_t>(s)]);
    m_slots.reset();
    if (m_list) std::fclose(m_list);
    m_list = nullptr;
    m_on = false;
    m_map = nullptr;
    m_current = 0;
    m_currentNumber = 0;
    m_offset = 0;
    m_haveLast = false;
    m_lastData = nullptr;
    m_ringSize = 0;
}

bool AppendToLastMsg(CVornSystem& system, const uint8_t* message, const void* extra, uint32_t length) {
    if (!system.Launched() || !CAppMsgDeliver::OnDeliverThreadOf(&system)) return false;
    CAppMsgDeliver* deliver = system.Deliver();
    return deliver && deliver->Storage().AppendToLast(message, extra, length);
}

}  // namespace VORN
}  // namespace OXA
