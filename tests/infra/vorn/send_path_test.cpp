#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <vector>

#include "support/BusSendFaults.h"
#include "infra/vorn/SendPath.h"
#include "infra/vorn/VornWire.h"

using namespace OXA::VORN;
using oxa_test::BusSendFaults;
using oxa_test::BusSendRule;

namespace {

struct Udp {
    Udp() {
        fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    }
    ~Udp() { ::close(fd); }
    // The next datagram within the bound: its sequence (-1000 none) and source port.
    int32_t Next(int ms, uint16_t* port = nullptr) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) return -1000;
        uint8_t buf[64];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (port) *port = ntohs(from.sin_port);
        VornHeader h;
        return ReadHeader(buf, static_cast<size_t>(n), h) ? h.sequence : -1001;
    }
    int fd;
    sockaddr_in addr{};
};

std::vector<uint8_t> Ack(int32_t seq, uint8_t type = kPktAck) {
    VornHeader h;
    h.type = type;
    h.sequence = seq;
    std::vector<uint8_t> b(23);
    BuildControl(b.data(), b.size(), h);
    return b;
}

}  // namespace

TEST(SendPath, WithoutHookEverythingLeaves) {
    Udp rx, tx;
    DgramSendPath path;
    for (int32_t s = 1; s <= 3; ++s) {
        const auto b = Ack(s);
        EXPECT_EQ(23, path.SendTo(tx.fd, b.data(), b.size(), rx.addr, 20, 5));
    }
    for (int32_t s = 1; s <= 3; ++s) EXPECT_EQ(s, rx.Next(2000));
}

TEST(SendPath, HookLosesDuplicatesAndDelaysByKey) {
    Udp rx, tx;
    DgramSendPath path;
    auto faults = std::make_shared<BusSendFaults>();
    BusSendRule lose;
    lose.type = kPktAck;
    lose.sequence = 2;
    lose.dst_member = 5;
    lose.verdict.action = SendVerdict::kDrop;
    faults->Add(lose);
    BusSendRule twice;
    twice.sequence = 3;
    twice.verdict.action = SendVerdict::kDuplicate;
    twice.verdict.copies = 2;
    faults->Add(twice);
    BusSendRule late;
    late.sequence = 4;
    late.verdict.action = SendVerdict::kDelay;
    late.verdict.delay_us = 150000;
    faults->Add(late);
    path.SetHook(faults);

    for (int32_t s = 1; s <= 5; ++s) {
        const auto b = Ack(s);
        EXPECT_EQ(23, path.SendTo(tx.fd, b.data(), b.size(), rx.addr, 20, 5));
    }
    // the same sequence to another addressee is not the rule's
    const auto other = Ack(2);
    path.SendTo(tx.fd, other.data(), other.size(), rx.addr, 20, 6);

    const int32_t expected[] = {1, 3, 3, 5, 2, 4};  // 2 to member 5 lost, 3 twice, 4 late
    uint16_t port = 0;
    for (int32_t e : expected) {
        EXPECT_EQ(e, rx.Next(5000, &port));
        EXPECT_EQ(ntohs(tx.addr.sin_port), port);  // a late datagram leaves from its own socket
    }
    EXPECT_EQ(-1000, rx.Next(50));
    EXPECT_EQ(3u, faults->Fired());
    const auto seen = faults->Seen();
    ASSERT_EQ(6u, seen.size());
    EXPECT_EQ(kPktAck, seen[0].type);
    EXPECT_EQ(20, seen[0].dst_group_id);
    EXPECT_EQ(6, seen[5].dst_member_id);
}

TEST(SendPath, DelayedDatagramOutlivesItsSocket) {
    Udp rx;
    DgramSendPath path;
    auto faults = std::make_shared<BusSendFaults>();
    BusSendRule late;
    late.verdict.action = SendVerdict::kDelay;
    late.verdict.delay_us = 50000;
    faults->Add(late);
    path.SetHook(faults);
    {
        Udp tx;  // closed before the datagram leaves, as a coordinator request's socket is
        const auto b = Ack(9);
        path.SendTo(tx.fd, b.data(), b.size(), rx.addr, -1, -1);
        EXPECT_EQ(1u, path.PendingDelayed());
    }
    EXPECT_EQ(9, rx.Next(5000));
    path.SetHook(nullptr);
    const auto b = Ack(10);
    Udp tx;
    path.SendTo(tx.fd, b.data(), b.size(), rx.addr, -1, -1);
    EXPECT_EQ(10, rx.Next(2000));
}

TEST(SendPath, PendingDelayedDatagramsAreDroppedAtDestruction) {
    Udp rx, tx;
    {
        DgramSendPath path;
        auto faults = std::make_shared<BusSendFaults>();
        BusSendRule late;
        late.verdict.action = SendVerdict::kDelay;
        late.verdict.delay_us = 60000000;
        late.times = -1;
        faults->Add(late);
        path.SetHook(faults);
        for (int i = 0; i < 3; ++i) {
            const auto b = Ack(i);
            path.SendTo(tx.fd, b.data(), b.size(), rx.addr, -1, -1);
        }
        EXPECT_EQ(3u, path.PendingDelayed());
    }  // ends without waiting a minute
    EXPECT_EQ(-1000, rx.Next(20));
}
