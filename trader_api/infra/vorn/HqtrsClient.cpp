#include "infra/vorn/HqtrsClient.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "infra/vorn/VornSystem.h"

namespace OXA {
namespace VORN {

namespace {

// Waits up to ms for fd to become readable; a signal does not shorten the wait.
bool WaitReadable(int fd, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (r > 0) return true;
        if (r == 0 || errno != EINTR) return false;
    }
}

void Now(int64_t& sec, int64_t& usec) {
    timeval tv;
    ::gettimeofday(&tv, nullptr);
    sec = tv.tv_sec;
    usec = tv.tv_usec;
}

}  // namespace

CHqtrsClient::CHqtrsClient(CVornSystem& system) : m_sys(system) {}

void CHqtrsClient::SetTiming(const HqtrsTiming& timing) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_timing = timing;
    if (m_timing.attempts < 1) m_timing.attempts = 1;
}

bool CHqtrsClient::RefreshAddress() {
    std::memset(&m_addr, 0, sizeof m_addr);
    m_addr.sin_family = AF_INET;
    m_addr.sin_port = htons(m_sys.CoordinatorPort());
    return ::inet_pton(AF_INET, m_sys.CoordinatorIp(), &m_addr.sin_addr) == 1;
}

std::size_t CHqtrsClient::BuildRequest(uint8_t type, int32_t sequence, const void* payload, std::size_t n) {
    const VornIdentity& id = m_sys.Identity();
    return BuildHqtrsRequest(m_request, sizeof m_request, m_sys.OwnOrder(), type, sequence, id.group_id, id.member_id,
                             static_cast<int16_t>(OwnGroupIndex()), payload, n);
}

bool CHqtrsClient::Request(std::size_t length) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_replyBodyLength = 0;
    if (length < kHeaderSize || length > sizeof m_request) return false;
    const bool address_ok = m_addr.sin_family == AF_INET && m_addr.sin_addr.s_addr != 0;
    for (int attempt = 0; attempt < m_timing.attempts; ++attempt) {
        if (m_sys.Stopping()) return false;
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            m_sys.Note("Create Dgram Socket Failt.");
            return false;
        }
        const ssize_t sent = address_ok ? m_sys.SendPath().SendTo(fd, m_request, length, m_addr, -1, -1) : -1;
        if (sent < 0) {
            const int err = address_ok ? errno : EINVAL;
            if (err != EAGAIN) {
                m_sys.Note("Send Fail: error ( %d ).", err);
                ::close(fd);
                continue;
            }
        }
        if (!WaitReadable(fd, m_timing.reply_wait_ms)) {
            ::close(fd);
            continue;
        }
        // MSG_TRUNC: the datagram's own length, so a truncated reply is seen as one
        const ssize_t n = ::recv(fd, m_reply, sizeof m_reply, MSG_TRUNC);
        const int err = errno;
        ::close(fd);
        if (n < 0) {
            if (err != EAGAIN) m_sys.Note("Receive Fail: error ( %d ).", err);
            continue;
        }
        VornHeader h;
        const std::size_t got = static_cast<std::size_t>(n);
        if (got > sizeof m_reply || !ReadHeader(m_reply, got, h) || h.payload_length < 0 ||
            got != static_cast<std::size_t>(h.payload_length) + kHeaderSize) {
            m_sys.Note("Receive Invalid Packet: Data Len Error, Discard.");
            continue;
        }
        m_replyHeader = h;
        m_replyBodyLength = static_cast<std::size_t>(h.payload_length);
        return true;
    }
    return false;
}

bool CHqtrsClient::Fail(const char* reason) {
    m_sys.Note("Hqtrs Tables Invalid: %s ( %s:%d ).", reason, m_sys.CoordinatorIp(),
               static_cast<int>(m_sys.CoordinatorPort()));
    return false;
}

bool CHqtrsClient::QueryEntry(uint8_t req, uint8_t rep, int32_t i) {
    return Request(BuildRequest(req, i)) && m_replyHeader.type == rep && m_replyHeader.sequence == i;
}

template <typename Record, typename Decode>
bool CHqtrsClient::QueryTable(uint8_t req, uint8_t rep, int32_t count, std::vector<Record>& out, Decode decode,
                              const char* fail_format) {
    for (int32_t i = 0; i < count; ++i) {
        Record record;
        if (!QueryEntry(req, rep, i) || !decode(LastReplyBody(), m_replyBodyLength, record)) {
            m_sys.Note(fail_format, i, m_sys.CoordinatorIp(), static_cast<int>(m_sys.CoordinatorPort()));
            return false;
        }
        out.push_back(record);
    }
    return true;
}

int CHqtrsClient::OwnGroupIndex() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    for (std::size_t i = 0; i < m_groups.size(); ++i)
        if (m_groups[i].group_id == m_sys.Identity().group_id) return static_cast<int>(i);
    return -1;
}

bool CHqtrsClient::QueryBasicInfo(int date) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const char* ip = m_sys.CoordinatorIp();
    const int port = m_sys.CoordinatorPort();
    RefreshAddress();
    m_groups.clear();
    m_members.clear();
    m_msgs.clear();
    m_partitions.clear();

    HqtrsDigestInfo digest;
    if (!Request(BuildRequest(kHqDigestReq, date)) || m_replyHeader.type != kHqDigestRep ||
        !DecodeDigest(LastReplyBody(), m_replyBodyLength, digest)) {
        m_sys.Note("Send Query Digest-Info Req To Hqtrs ( %s:%d ) Fail.", ip, port);
        return false;
    }
    m_digest = digest;
    m_groups.reserve(static_cast<std::size_t>(digest.group_count));
    m_members.reserve(static_cast<std::size_t>(digest.member_count));
    m_msgs.reserve(static_cast<std::size_t>(digest.message_count));
    m_partitions.reserve(static_cast<std::size_t>(digest.member_count));
    m_sys.Note("Query Digest-Info From Hqtrs ( %s:%d ) Success.", ip, port);

    if (!QueryTable(kHqGroupReq, kHqGroupRep, digest.group_count, m_groups, DecodeGroup,
                    "Send Query Group[%d]-Info Req To Hqtrs ( %s:%d ) Fail."))
        return false;
    int members_named = 0;
    for (const HqtrsGroupInfo& g : m_groups) members_named += g.member_numer;
    if (members_named != digest.member_count) return Fail("Member Numbers Of Groups Differ From Digest");
    m_sys.Note("Query Group-Info From Hqtrs ( %s:%d ) Success.", ip, port);

    if (!QueryTable(kHqMemberReq, kHqMemberRep, digest.member_count, m_members, DecodeMember,
                    "Send Query Member[%d]-Info Req To Hqtrs ( %s:%d ) Fail."))
        return false;
    if (!MembersConsecutiveByGroup(m_groups, m_members)) return Fail("Members Not Consecutive By Group");
    m_sys.Note("Query Member-Info From Hqtrs ( %s:%d ) Success.", ip, port);

    if (!QueryTable(kHqMsgReq, kHqMsgRep, digest.message_count, m_msgs, DecodeMsg,
                    "Send Query Msg[%d]-Info Req To Hqtrs ( %s:%d ) Fail."))
        return false;
    m_sys.Note("Query Msg-Info From Hqtrs ( %s:%d ) Success.", ip, port);

    if (!QueryTable(kHqPartitionReq, kHqPartitionRep, digest.member_count, m_partitions, DecodePartition,
                    "Send Query Member[%d]-Partition-Id Req To Hqtrs ( %s:%d ) Fail."))
        return false;
    std::vector<int16_t> by_index;
    by_index.reserve(m_partitions.size());
    for (const HqtrsPartitionInfo& p : m_partitions) by_index.push_back(p.partition_id);
    m_sys.SetPartitions(std::move(by_index));
    m_sys.Note("Query Member-Partition-Id From Hqtrs ( %s:%d ) Success.", ip, port);

    if (Request(BuildRequest(kHqMulticastReq, 0)) && m_replyHeader.type == kHqMulticastRep) {
        m_multicast = m_replyHeader.sequence;
    } else {
        m_sys.Note("Send Query Support-Multicase-Flag Req To Hqtrs ( %s:%d ) Fail.", ip, port);
        m_multicast = 0;
    }
    m_sys.Note("Support-Multicase-Flag: %d.", m_multicast);

    const int own = OwnGroupIndex();
    if (!m_havePrimary) {
        std::lock_guard<std::mutex> primary(m_primaryMutex);
        m_primary = HqtrsPrimaryInfo();
        m_primary.group_index = static_cast<int16_t>(own);
        m_primary.group_id = m_sys.Identity().group_id;
        Now(m_primary.heartbeat_sec, m_primary.heartbeat_usec);
        m_havePrimary = true;
    }
    if (own >= 0) m_sys.Identity().group_mode = m_groups[static_cast<std::size_t>(own)].group_mode;

    DumpTables();
    return true;
}

int CHqtrsClient::ApplyMaster() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const int own = OwnGroupIndex();
    const VornIdentity& id = m_sys.Identity();
    if (own < 0) {
        m_sys.Note("Init Own Group Info Fail: Group ID ( %d ) Not Exist.", id.group_id);
        return 0;
    }
    if (m_groups[static_cast<std::size_t>(own)].group_mode == '1') {
        std::lock_guard<std::mutex> primary(m_primaryMutex);
        m_primary.primary_member_id = id.member_id;
        m_primary.grant_sec = 0;
        m_primary.grant_usec = 0;
        return 1;
    }
    RefreshAddress();
    HqtrsMasterReply grant;
    for (;;) {
        if (m_sys.Stopping()) return 0;
        const bool answered = Request(BuildRequest(kHqMasterReq, 0));
        if (answered && m_replyHeader.type == kHqMasterRejected) {
            m_sys.Note("< Apply for authorization as master device > Rejected By Hqtrs!");
            return 0;
        }
        ByteOrder order;
        if (answered && m_replyHeader.type == kHqMasterGranted && OrderOfChar(m_replyHeader.byte_order, order) &&
            DecodeMasterReply(LastReplyBody(), m_replyBodyLength, order, grant)) {
            if (grant.primary_member_id != -1) break;
            if (!m_sys.SleepUnlessStopped(m_timing.primary_retry_ms)) return 0;
            continue;
        }
        m_sys.Note("< Apply for authorization as master device > To Hqtrs ( %s:%d ) Fail.", m_sys.CoordinatorIp(),
                   static_cast<int>(m_sys.CoordinatorPort()));
        if (!m_sys.SleepUnlessStopped(m_timing.failure_retry_ms)) return 0;
    }
    {
        std::lock_guard<std::mutex> primary(m_primaryMutex);
        Now(m_primary.heartbeat_sec, m_primary.heartbeat_usec);
        m_primary.mode = grant.mode;
        m_mode.store(grant.mode, std::memory_order_release);
        m_primary.primary_member_id = grant.primary_member_id;
        m_primary.grant_sec = grant.grant_sec;
        m_primary.grant_usec = grant.grant_usec;
    }
    if (grant.primary_member_id == id.member_id) {
        m_sys.Note("I'm The Master Device!");
        return 1;
    }
    m_sys.Note("I'm The Standby Device!");
    return 2;
}

int CHqtrsClient::SwitchSingleDevice() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    RefreshAddress();
    HqtrsMasterReply reply;
    ByteOrder order;
    if (Request(BuildRequest(kHqSwitchReq, 0)) && m_replyHeader.type == kHqSwitchRep &&
        OrderOfChar(m_replyHeader.byte_order, order) &&
        DecodeMasterReply(LastReplyBody(), m_replyBodyLength, order, reply)) {
        {
            std::lock_guard<std::mutex> primary(m_primaryMutex);
            m_primary.primary_member_id = reply.primary_member_id;
            m_primary.grant_sec = reply.grant_sec;
            m_primary.grant_usec = reply.grant_usec;
            m_primary.mode = '2';
        }
        m_sys.SetDeviceIdentity(reply.primary_member_id == m_sys.Identity().member_id ? 1 : 2);
        m_mode.store('2', std::memory_order_release);
        m_sys.Note("< Switch to Single-Device Mode > Success! Master Device MemberId: %d.", reply.primary_member_id);
        return 1;
    }
    m_sys.Note("Request < Switch to Single-Device Mode > To Hqtrs ( %s:%d ) Fail.", m_sys.CoordinatorIp(),
               static_cast<int>(m_sys.CoordinatorPort()));
    m_sys.SleepUnlessStopped(m_timing.failure_retry_ms);
    return 0;
}

int32_t CHqtrsClient::RequestThreadId(const char* name) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const char* text = name ? name : "";
    const std::size_t n = strnlen(text, kThreadNameMax);
    RefreshAddress();
    int32_t id = 0;
    ByteOrder order;
    if (Request(BuildRequest(kHqThreadIdReq, 0, text, n)) && m_replyHeader.type == kHqThreadIdRep &&
        OrderOfChar(m_replyHeader.byte_order, order) && DecodeThreadId(LastReplyBody(), m_replyBodyLength, order, id))
        return id;
    m_sys.Note("Request ThreadId[%s] To Hqtrs ( %s:%d ) Fail.", text, m_sys.CoordinatorIp(),
               static_cast<int>(m_sys.CoordinatorPort()));
    m_sys.SleepUnlessStopped(m_timing.failure_retry_ms);
    return 0;
}

HqtrsPrimaryInfo CHqtrsClient::Primary() const {
    // not the exchange lock: the handler reads the record while a switch waits for its reply
    std::lock_guard<std::mutex> lock(m_primaryMutex);
    return m_primary;
}

void CHqtrsClient::DumpTables() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_sys.Note("*********************************************************** Debug Basic Info Begin "
               "***********************************************************");
    m_sys.Note("VORN Communication Window Size: %d, AckWaterMark: %d .", m_digest.window_size, m_digest.ack_water_mark);
    m_sys.Note("VORN Peer Member Lost-Over-Time: %d (s) .", m_digest.lost_over_time_s);
    m_sys.Note("=============================================== Group Basic Info "
               "===============================================");
    m_sys.Note("Group Number: %d.", static_cast<int>(m_groups.size()));
    for (const HqtrsGroupInfo& g : m_groups) {
        if (g.data_port)
            m_sys.Note("index = %d, group_id = %d, group_mode = %c, group_ip = %s, data_port = %d, member_numer = %d, "
                       "msg_numer = %d, svr_type = %c.",
                       g.index, g.group_id, g.group_mode, g.group_ip, g.data_port, g.member_numer, g.msg_numer,
                       g.svr_type);
        else
            m_sys.Note("index = %d, group_id = %d, group_mode = %c, member_numer = %d, msg_numer = %d, svr_type = %c.",
                       g.index, g.group_id, g.group_mode, g.member_numer, g.msg_numer, g.svr_type);
    }
    m_sys.Note("=============================================== Member Basic Info "
               "===============================================");
    m_sys.Note("Member Number: %d.", static_cast<int>(m_members.size()));
    for (std::size_t i = 0; i < m_members.size(); ++i) {
        const HqtrsMemberInfo& m = m_members[i];
        char chief = 'N';
        for (const HqtrsGroupInfo& g : m_groups)
            if (g.group_id == m.group_id && g.chief_member_id == m.member_id) chief = 'Y';
        m_sys.Note("index = %d, group_id = %d, member_id = %d, memeber_ip = %s, member_port = %d, chief_member = %c, "
                   "partition_id = %d.",
                   m.index, m.group_id, m.member_id, m.member_ip, m.member_port, chief,
                   m_sys.PartitionOf(static_cast<int>(i)));
    }
    m_sys.Note("=============================================== Msg Basic Info "
               "===============================================");
    m_sys.Note("Msg Number: %d.", static_cast<int>(m_msgs.size()));
    for (const HqtrsMsgInfo& m : m_msgs)
        m_sys.Note("index = %d, group_id = %d, msg_id = %#x, store_flag = %c.", m.index, m.group_id, m.msg_id,
                   m.store_flag);
    m_sys.Note("*********************************************************** Debug Basic Info End "
               "***********************************************************");
}

}  // namespace VORN
}  // namespace OXA
