#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "infra/vorn/VornNet.h"
#include "infra/vorn/VornSystem.h"

using namespace OXA::VORN;

TEST(VornNet, LoopbackNetmaskAndSubnets) {
    EXPECT_EQ(htonl(0xFF000000u), GetInterfaceNetmask("127.0.0.1"));
    EXPECT_EQ(0u, GetInterfaceNetmask("203.0.113.77")) << "no interface carries it";
    EXPECT_EQ(0u, GetInterfaceNetmask("not an address"));
    EXPECT_EQ(0u, GetInterfaceNetmask(nullptr));
    EXPECT_EQ(1, IsLocalAddress("127.0.0.1"));
    EXPECT_EQ(0, IsLocalAddress("203.0.113.77"));
    EXPECT_TRUE(SameSubnet("127.0.0.1", "127.9.9.9", htonl(0xFF000000u)));
    EXPECT_FALSE(SameSubnet("127.0.0.1", "10.0.0.1", htonl(0xFF000000u)));
    EXPECT_FALSE(SameSubnet("127.0.0.1", "", htonl(0xFF000000u)));
}

TEST(VornNet, WantedBufferLimits) {
    struct Case {
        char svr;
        int64_t current, want;
    } cases[] = {
        {'1', 200000, 16777216}, {'0', 200000, 67108864}, {'0', 67108864, 0}, {'0', 67108863, 67108864},
        {'1', 16777216, 0},      {'1', 67108864, 0},      {'1', 0, 0},        {'0', -1, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(c.want, WantedBufferLimit(c.svr, c.current)) << c.svr << " " << c.current;
}

TEST(VornNet, HostTuningIsOffUnlessAskedAndWritesTheFilesDirectly) {
    char dir[] = "/tmp/vorn_net_testXXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(dir));
    const std::string r = std::string(dir) + "/rmem_max", w = std::string(dir) + "/wmem_max";
    std::ofstream(r) << "200000\n";
    std::ofstream(w) << "67108864\n";
    auto read = [](const std::string& p) {
        std::ifstream in(p);
        long long v = 0;
        in >> v;
        return v;
    };
    CVornSystem sys;
    SocketBufferTuning tuning;
    tuning.rmem_max_path = r;
    tuning.wmem_max_path = w;
    TuneHostSocketBuffers(sys, '0', tuning);
    EXPECT_EQ(200000, read(r)) << "off by default";
    tuning.enabled = true;
    TuneHostSocketBuffers(sys, '0', tuning);
    EXPECT_EQ(67108864, read(r));
    EXPECT_EQ(67108864, read(w)) << "already high enough";
    ::unlink(r.c_str());
    ::unlink(w.c_str());
    ::rmdir(dir);
    EXPECT_FALSE(SocketBufferTuning().enabled);
    EXPECT_EQ("/proc/sys/net/core/rmem_max", SocketBufferTuning().rmem_max_path);
}

TEST(VornNet, ReceiveBufferReportsWhatTheKernelGave) {
    CVornSystem sys;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    const int got = SetReceiveBuffer(sys, fd, 1 << 20);
    EXPECT_GT(got, 0);
    ::close(fd);
    EXPECT_EQ(-1, SetReceiveBuffer(sys, -1, 1 << 20));
}
