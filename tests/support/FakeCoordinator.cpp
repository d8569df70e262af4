#include "FakeCoordinator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <random>
#include <sstream>

namespace oxa_test {

namespace {

// Offsets of the 23-byte header.
constexpr size_t kOrderAt = 1, kSequenceAt = 2, kTypeAt = 6, kSrcGroupAt = 7, kSrcGroupIndexAt = 9,
                 kSrcMemberAt = 11, kSrcMemberIndexAt = 13, kDstGroupAt = 15, kDstMemberAt = 17, kPayloadAt = 19,
                 kHead = 23;

void PutN(std::vector<uint8_t>& out, uint64_t v, int bytes, bool big) {
    for (int i = 0; i < bytes; ++i) {
        const int shift = big ? (bytes - 1 - i) * 8 : i * 8;
        out.push_back(static_cast<uint8_t>(v >> shift));
    }
}

uint64_t GetN(const uint8_t* p, int bytes, bool big) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        const int shift = big ? (bytes - 1 - i) * 8 : i * 8;
        v |= static_cast<uint64_t>(p[i]) << shift;
    }
    return v;
}

void PutText(std::vector<uint8_t>& out, const std::string& s, size_t width) {
    for (size_t i = 0; i < width; ++i) out.push_back(i < s.size() && i + 1 < width ? static_cast<uint8_t>(s[i]) : 0);
}

int16_t I16(uint64_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

template <typename State>
void StampGrant(State& p) {
    timeval tv;
    ::gettimeofday(&tv, nullptr);
    p.grant_sec = tv.tv_sec;
    p.grant_usec = tv.tv_usec;
}

bool ParseNumber(const std::string& s, long& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    out = std::strtol(s.c_str(), &end, 0);
    return end && *end == 0;
}

}  // namespace

namespace {

// The lowest port the kernel hands to sockets that bind no port of their own. A port above it,
// free a moment ago, can be taken by any such socket before the member binds it.
int EphemeralLow() {
    int low = 32768, high = 60999;
    if (FILE* f = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
        if (std::fscanf(f, "%d %d", &low, &high) != 2) low = 32768;
        std::fclose(f);
    }
    return low;
}

int BindUdp(uint16_t port, uint16_t* bound) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return -1;
    }
    *bound = ntohs(a.sin_port);
    return fd;
}

// Test processes that run side by side choose ports from one range: each port chosen is
// reserved by a lock on a file of its own in a folder they all share, held while the process
// runs (the kernel drops it when the process ends), so that no other process chooses it in the
// time between the choice and the member's bind. A process keeps its latest 256 reservations:
// an older port has long been bound by its member. Without the folder the port is taken as
// it is.
bool ReservePort(uint16_t port) {
    static std::mutex& mutex = *new std::mutex();
    static std::deque<int>& held = *new std::deque<int>();
    static const std::string& dir = *new std::string([] {
        const std::string d = (std::filesystem::temp_directory_path() / "oxa_test_udp_ports").string();
        ::mkdir(d.c_str(), 0777);
        return d;
    }());
    const std::string path = dir + "/" + std::to_string(port);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex);
    held.push_back(fd);
    if (held.size() > 256) {
        ::close(held.front());
        held.pop_front();
    }
    return true;
}

}  // namespace

std::vector<uint16_t> FreeUdpPorts(std::size_t n) {
    std::vector<int> fds;
    std::vector<uint16_t> ports;
    // Below the kernel's own range where there is room, picked at random so that tests running
    // side by side seldom try the same ones; else what the kernel gives.
    constexpr int kFirst = 10000;
    const int low = EphemeralLow();
    std::mt19937 pick(std::random_device{}());
    for (int tries = 0; low - kFirst > 1000 && ports.size() < n && tries < 1000; ++tries) {
        const auto port = static_cast<uint16_t>(std::uniform_int_distribution<int>(kFirst, low - 1)(pick));
        uint16_t bound = 0;
        const int fd = BindUdp(port, &bound);
        if (fd < 0) continue;
        if (!ReservePort(bound)) {
            ::close(fd);
            continue;
        }
        fds.push_back(fd);
        ports.push_back(bound);
    }
    while (ports.size() < n) {
        uint16_t bound = 0;
        const int fd = BindUdp(0, &bound);
        if (fd < 0) {
            ports.clear();
            break;
        }
        fds.push_back(fd);
        ports.push_back(bound);
    }
    for (int fd : fds) ::close(fd);
    return ports;
}

bool ParseCoordLayout(const std::string& text, CoordLayout& out, std::string* error) {
    CoordLayout layout;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& why) {
        if (error) *error = "line " + std::to_string(number) + ": " + why;
        return false;
    };
    while (std::getline(lines, line)) {
        ++number;
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string s; words >> s;) w.push_back(s);
        if (w.empty()) continue;
        long v = 0;
        if (w[0] == "window" || w[0] == "watermark" || w[0] == "date" || w[0] == "lost" || w[0] == "multicast") {
            if (w.size() != 2 || !ParseNumber(w[1], v)) return fail("expected one number");
            if (w[0] == "window") layout.window = static_cast<int32_t>(v);
            else if (w[0] == "watermark") layout.ack_water_mark = static_cast<int32_t>(v);
            else if (w[0] == "date") layout.date = static_cast<int32_t>(v);
            else if (w[0] == "lost") layout.lost_over_time_s = static_cast<int32_t>(v);
            else layout.multicast = v != 0;
        } else if (w[0] == "group") {
            if (w.size() < 4 || !ParseNumber(w[1], v) || w[2].size() != 1 || w[3].size() != 1)
                return fail("group ID MODE SVR [key=value...]");
            CoordGroup g;
            g.id = static_cast<int16_t>(v);
            g.mode = w[2][0];
            g.svr_type = w[3][0];
            for (size_t i = 4; i < w.size(); ++i) {
                const size_t eq = w[i].find('=');
                if (eq == std::string::npos) return fail("expected key=value: " + w[i]);
                const std::string key = w[i].substr(0, eq), value = w[i].substr(eq + 1);
                if (key == "ip") {
                    if (value.size() > 15) return fail("ip longer than 15 characters");
                    g.ip = value;
                    continue;
                }
                if (key != "data" && key != "control" && key != "inner" && key != "chief")
                    return fail("unknown key: " + key);
                if (!ParseNumber(value, v)) return fail("not a number: " + value);
                if (key == "data") g.data_port = static_cast<uint16_t>(v);
                else if (key == "control") g.control_port = static_cast<uint16_t>(v);
                else if (key == "inner") g.inner_port = static_cast<uint16_t>(v);
                else g.chief = static_cast<int16_t>(v);
            }
            layout.groups.push_back(g);
        } else if (w[0] == "member") {
            long gid = 0, port = 0;
            if (w.size() < 5 || !ParseNumber(w[1], gid) || !ParseNumber(w[2], v) || !ParseNumber(w[4], port) ||
                w[3].size() > 15)
                return fail("member GROUP ID IP PORT [partition=N]");
            CoordMember m;
            m.group_id = static_cast<int16_t>(gid);
            m.member_id = static_cast<int16_t>(v);
            m.ip = w[3];
            m.port = static_cast<uint16_t>(port);
            for (size_t i = 5; i < w.size(); ++i) {
                if (w[i].rfind("partition=", 0) != 0 || !ParseNumber(w[i].substr(10), v))
                    return fail("expected partition=N");
                m.partition = static_cast<int16_t>(v);
            }
            layout.members.push_back(m);
        } else if (w[0] == "msg") {
            long gid = 0;
            if (w.size() < 3 || w.size() > 4 || !ParseNumber(w[1], gid) || !ParseNumber(w[2], v))
                return fail("msg GROUP ID [Y|N]");
            CoordMsg m;
            m.group_id = static_cast<int16_t>(gid);
            m.msg_id = static_cast<int16_t>(v);
            if (w.size() == 4) {
                if (w[3] != "Y" && w[3] != "N") return fail("store flag Y or N");
                m.store = w[3][0];
            }
            layout.msgs.push_back(m);
        } else {
            return fail("unknown item: " + w[0]);
        }
    }
    out = layout;
    return true;
}

FakeCoordinator::FakeCoordinator(CoordLayout layout) : FakeCoordinator(std::move(layout), Options()) {}

FakeCoordinator::FakeCoordinator(CoordLayout layout, Options options)
    : m_layout(std::move(layout)), m_options(std::move(options)), m_nextThreadId(m_options.first_thread_id) {
    // members in group order, each group's members in the order given
    auto group_pos = [this](int16_t gid) {
        for (size_t i = 0; i < m_layout.groups.size(); ++i)
            if (m_layout.groups[i].id == gid) return i;
        return m_layout.groups.size();
    };
    std::stable_sort(m_layout.members.begin(), m_layout.members.end(),
                     [&](const CoordMember& a, const CoordMember& b) { return group_pos(a.group_id) < group_pos(b.group_id); });
}

FakeCoordinator::~FakeCoordinator() { Stop(); }

bool FakeCoordinator::Start() {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    if (::inet_pton(AF_INET, m_options.ip.c_str(), &a.sin_addr) != 1) return false;
    bool bound = false;
    if (m_options.port || !m_options.min_port) {
        a.sin_port = htons(m_options.port);
        bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    } else {
        std::mt19937 rng(static_cast<uint32_t>(::getpid()) * 7919u + static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this)));
        const uint32_t span = 61000u - m_options.min_port;
        for (int i = 0; i < 200 && !bound; ++i) {
            a.sin_port = htons(static_cast<uint16_t>(m_options.min_port + rng() % span));
            bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        }
    }
    if (!bound) {
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    socklen_t len = sizeof a;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
    m_port = ntohs(a.sin_port);
    m_stop = false;
    m_thread = std::thread([this] { Loop(); });
    return true;
}

void FakeCoordinator::Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

void FakeCoordinator::AddFault(const CoordRule& rule) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rules.push_back(rule);
}

void FakeCoordinator::SetReplyEditor(Editor editor) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_editor = std::move(editor);
}

std::vector<CoordRequest> FakeCoordinator::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

std::size_t FakeCoordinator::Count(uint8_t type) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<size_t>(std::count_if(m_requests.begin(), m_requests.end(),
                                             [type](const CoordRequest& r) { return r.type == type; }));
}

bool FakeCoordinator::WaitFor(uint8_t type, std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] {
        return static_cast<size_t>(std::count_if(m_requests.begin(), m_requests.end(),
                                                 [type](const CoordRequest& r) { return r.type == type; })) >= n;
    });
}

int16_t FakeCoordinator::Primary(int16_t group_id) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_pairs.find(group_id);
    return it == m_pairs.end() ? -1 : it->second.primary;
}

char FakeCoordinator::Mode(int16_t group_id) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_pairs.find(group_id);
    return it == m_pairs.end() ? '1' : it->second.mode;
}

void FakeCoordinator::SetPrimary(int16_t group_id, int16_t member_id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    PairState& p = m_pairs[group_id];
    p.primary = member_id;
    StampGrant(p);
}

bool FakeCoordinator::SendDatagram(const std::string& ip, uint16_t port, const std::vector<uint8_t>& bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (::inet_pton(AF_INET, ip.c_str(), &to.sin_addr) != 1) return false;
    return ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(bytes.size());
}

void FakeCoordinator::Loop() {
    uint8_t buf[2048];
    while (!m_stop) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < static_cast<ssize_t>(kHead)) continue;
        CoordRequest r;
        r.order = static_cast<char>(buf[kOrderAt]);
        const bool big = r.order == '1';
        r.type = buf[kTypeAt];
        r.sequence = static_cast<int32_t>(GetN(buf + kSequenceAt, 4, big));
        r.src_group_id = I16(GetN(buf + kSrcGroupAt, 2, big));
        r.src_group_index = I16(GetN(buf + kSrcGroupIndexAt, 2, big));
        r.src_member_id = I16(GetN(buf + kSrcMemberAt, 2, big));
        r.src_member_index = I16(GetN(buf + kSrcMemberIndexAt, 2, big));
        r.dst_group_id = I16(GetN(buf + kDstGroupAt, 2, big));
        r.dst_member_id = I16(GetN(buf + kDstMemberAt, 2, big));
        r.payload_length = static_cast<int32_t>(GetN(buf + kPayloadAt, 4, big));
        r.datagram.assign(buf, buf + n);
        r.from = from;
        r.at = std::chrono::steady_clock::now();
        {
            // recorded before the reply leaves, so a member that has its reply sees it counted
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(r);
        }
        m_cv.notify_all();
        Handle(r);
    }
}

bool FakeCoordinator::TakeFault(uint8_t type, int32_t sequence, CoordFault& fault) {
    for (CoordRule& rule : m_rules) {
        if (rule.request_type != type || (rule.sequence != -1 && rule.sequence != sequence) || rule.times == 0) continue;
        if (rule.times > 0) --rule.times;
        fault = rule.fault;
        return true;
    }
    return false;
}

std::vector<uint8_t> FakeCoordinator::Reply(uint8_t type, int32_t sequence, const std::vector<uint8_t>& body) const {
    const bool big = m_options.big_endian;
    std::vector<uint8_t> out;
    out.push_back(5);
    out.push_back(big ? '1' : '0');
    PutN(out, static_cast<uint32_t>(sequence), 4, big);
    out.push_back(type);
    for (int i = 0; i < 6; ++i) PutN(out, static_cast<uint16_t>(-1), 2, big);  // source and destination
    PutN(out, static_cast<uint32_t>(body.size()), 4, big);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<uint8_t> FakeCoordinator::GroupBody(const CoordLayout& layout, std::size_t index) {
    const CoordGroup& g = layout.groups[index];
    const int16_t members = static_cast<int16_t>(std::count_if(
        layout.members.begin(), layout.members.end(), [&](const CoordMember& m) { return m.group_id == g.id; }));
    const int16_t msgs = static_cast<int16_t>(
        std::count_if(layout.msgs.begin(), layout.msgs.end(), [&](const CoordMsg& m) { return m.group_id == g.id; }));
    std::vector<uint8_t> b;
    PutN(b, index, 2, true);
    PutN(b, static_cast<uint16_t>(g.id), 2, true);
    b.push_back(static_cast<uint8_t>(g.mode));
    b.push_back(static_cast<uint8_t>(g.svr_type));
    PutText(b, g.ip, 16);
    PutN(b, g.data_port, 2, true);
    PutN(b, g.control_port, 2, true);
    PutN(b, g.inner_port, 2, true);
    PutN(b, static_cast<uint16_t>(members), 2, true);
    PutN(b, static_cast<uint16_t>(msgs), 2, true);
    PutN(b, static_cast<uint16_t>(g.chief), 2, true);
    return b;  // 34 bytes
}

std::vector<uint8_t> FakeCoordinator::MemberBody(const CoordLayout& layout, std::size_t index) {
    const CoordMember& m = layout.members[index];
    std::vector<uint8_t> b;
    PutN(b, index, 2, true);
    PutN(b, static_cast<uint16_t>(m.group_id), 2, true);
    PutN(b, static_cast<uint16_t>(m.member_id), 2, true);
    PutText(b, m.ip, 16);
    PutN(b, m.port, 2, true);
    return b;  // 24 bytes
}

std::vector<uint8_t> FakeCoordinator::MasterBody(const PairState& s) const {
    const bool big = m_options.big_endian;
    std::vector<uint8_t> b;
    b.push_back(static_cast<uint8_t>(s.mode));
    PutN(b, static_cast<uint16_t>(s.primary), 2, big);
    PutN(b, static_cast<uint64_t>(s.grant_sec), 8, big);
    PutN(b, static_cast<uint64_t>(s.grant_usec), 8, big);
    return b;  // 19 bytes
}

void FakeCoordinator::Handle(const CoordRequest& r) {
    std::unique_lock<std::mutex> lock(m_mutex);
    CoordFault fault = CoordFault::kDrop;
    const bool faulty = TakeFault(r.type, r.sequence, fault);
    if (faulty && fault == CoordFault::kDrop) return;

    const size_t seq = r.sequence < 0 ? SIZE_MAX : static_cast<size_t>(r.sequence);
    uint8_t type = 0;
    int32_t sequence = r.sequence;
    std::vector<uint8_t> body;
    switch (r.type) {
        case kCoordDigestReq:
            type = kCoordDigestRep;
            PutN(body, static_cast<uint16_t>(m_layout.groups.size()), 2, true);
            PutN(body, static_cast<uint16_t>(m_layout.members.size()), 2, true);
            PutN(body, static_cast<uint16_t>(m_layout.msgs.size()), 2, true);
            PutN(body, static_cast<uint32_t>(m_layout.window), 4, true);
            PutN(body, static_cast<uint32_t>(m_layout.ack_water_mark), 4, true);
            PutN(body, static_cast<uint32_t>(m_layout.date), 4, true);
            PutN(body, static_cast<uint32_t>(m_layout.lost_over_time_s), 4, true);
            break;
        case kCoordGroupReq:
            if (seq >= m_layout.groups.size()) return;
            type = kCoordGroupRep;
            body = GroupBody(m_layout, seq);
            break;
        case kCoordMemberReq:
            if (seq >= m_layout.members.size()) return;
            type = kCoordMemberRep;
            body = MemberBody(m_layout, seq);
            break;
        case kCoordMsgReq: {
            if (seq >= m_layout.msgs.size()) return;
            type = kCoordMsgRep;
            const CoordMsg& m = m_layout.msgs[seq];
            PutN(body, seq, 2, true);
            PutN(body, static_cast<uint16_t>(m.group_id), 2, true);
            PutN(body, static_cast<uint16_t>(m.msg_id), 2, true);
            body.push_back(static_cast<uint8_t>(m.store));
            break;
        }
        case kCoordPartitionReq:
            if (seq >= m_layout.members.size()) return;
            type = kCoordPartitionRep;
            PutN(body, seq, 2, true);
            PutN(body, static_cast<uint16_t>(m_layout.members[seq].partition), 2, true);
            break;
        case kCoordMulticastReq:
            type = kCoordMulticastRep;
            sequence = m_layout.multicast ? 1 : 0;
            break;
        case kCoordMasterReq: {
            if (faulty && fault == CoordFault::kReject) {
                type = kCoordRejected;
                body = MasterBody(PairState());
                break;
            }
            type = kCoordGranted;
            PairState& p = m_pairs[r.src_group_id];
            if (faulty && fault == CoordFault::kPrimaryNone) {
                PairState none = p;
                none.primary = -1;
                body = MasterBody(none);
                break;
            }
            if (p.primary == -1) {
                p.primary = r.src_member_id;
                StampGrant(p);
            }
            body = MasterBody(p);
            break;
        }
        case kCoordSwitchReq: {
            type = kCoordSwitchRep;
            PairState& p = m_pairs[r.src_group_id];
            p.primary = r.src_member_id;
            p.mode = '2';
            StampGrant(p);
            body = MasterBody(p);
            break;
        }
        case kCoordThreadIdReq:
            type = kCoordThreadIdRep;
            PutN(body, static_cast<uint32_t>(m_nextThreadId++), 4, m_options.big_endian);
            break;
        default:
            return;  // heartbeats, statistics and slot states are only recorded
    }
    if (faulty && fault == CoordFault::kWrongSequence) sequence += 1;
    std::vector<uint8_t> reply = Reply(type, sequence, body);
    if (faulty && fault == CoordFault::kShortReply) reply.pop_back();
    Editor editor = m_editor;
    lock.unlock();
    if (editor) editor(r, reply);
    if (reply.empty()) return;
    ::sendto(m_fd, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&r.from), sizeof r.from);
}

}  // namespace oxa_test
