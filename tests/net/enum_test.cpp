#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

#include "platform/net/protocol.h"
#include "tests/net/session_helpers.h"

using namespace nettest;

namespace {

TEST(Enumeration, OnlyHostsOfTheAskedApplicationAnswer)
{
    TestServer a, b;
    ASSERT_EQ(a.Start(kAppA, u"Server A"), S_OK);
    ASSERT_EQ(b.Start(kAppB, u"Peer to Peer"), S_OK);
    EXPECT_NE(a.port, b.port);

    TestClient c;
    ASSERT_EQ(c.Enum(kAppB, "127.0.0.1", 0, 1), S_OK);
    auto events = c.rec.Take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, DPN_MSGID_ENUM_HOSTS_RESPONSE);
    EXPECT_EQ(events[0].sessionName, u"Peer to Peer");
    IDirectPlay8Address* found = c.rec.FirstSender();
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(PortOf(found), b.port);
    DPN_APPLICATION_DESC d = Desc(kAppB);
    EXPECT_EQ(c.client->Connect(&d, found, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, DPNCONNECT_SYNC),
              S_OK);
    found->Release();
    EXPECT_EQ(a.rec.Count(DPN_MSGID_CREATE_PLAYER), 1u);
    EXPECT_TRUE(b.rec.WaitFor(DPN_MSGID_CREATE_PLAYER, 2));
}

TEST(Enumeration, RepeatedRoundsAnswerWithOneInstanceAndTakeAboutASecond)
{
    TestServer s;
    ASSERT_EQ(s.Start(kAppA, nullptr), S_OK);
    TestClient c;
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(c.Enum(kAppA, "localhost"), S_OK);  // defaults: 5 rounds
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(950));
    EXPECT_LT(took, std::chrono::milliseconds(1500));
    auto events = c.rec.Take();
    ASSERT_EQ(events.size(), 5u);
    for (const Event& e : events) {
        EXPECT_EQ(e.instance, events[0].instance);
        EXPECT_FALSE(e.hasSessionName);
    }
    EXPECT_NE(events[0].instance, GUID_NULL);
    // A second enumeration on the same object works the same way.
    ASSERT_EQ(c.Enum(kAppA, "127.0.0.1", s.port, 2, 50, 50), S_OK);
    EXPECT_EQ(c.rec.Count(DPN_MSGID_ENUM_HOSTS_RESPONSE), 7u);
}

TEST(Enumeration, NoAnswerStillSucceeds)
{
    TestClient c;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(c.Enum(kAppA, "127.0.0.1", 0, 1), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(600));
    EXPECT_EQ(c.rec.Take().size(), 0u);
}

TEST(Enumeration, UnresolvableHostFails)
{
    TestClient c;
    EXPECT_EQ(c.Enum(kAppA, "no-such-host.invalid", 0, 1), DPNERR_INVALIDHOSTADDRESS);
    IDirectPlay8Address* noSp = nullptr;
    CoCreateInstance(CLSID_DirectPlay8Address, nullptr, 1, IID_IDirectPlay8Address, reinterpret_cast<void**>(&noSp));
    DPN_APPLICATION_DESC d = Desc(kAppA);
    EXPECT_EQ(c.client->EnumHosts(&d, noSp, nullptr, nullptr, 0, 1, 0, 0, nullptr, nullptr, DPNENUMHOSTS_SYNC),
              DPNERR_INVALIDHOSTADDRESS);
    d.dwSize = 72;
    EXPECT_EQ(c.client->EnumHosts(&d, nullptr, nullptr, nullptr, 0, 1, 0, 0, nullptr, nullptr, DPNENUMHOSTS_SYNC),
              DPNERR_INVALIDPARAM);
    noSp->Release();
}

// A fake host on a raw socket answers each query twice: at once and after a delay.
TEST(Enumeration, NoAnswerIsDeliveredAfterEnumHostsReturns)
{
    using namespace netproto;
    const std::uint16_t port = GetNetTuning().basePort;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

    std::atomic<int> lateSent{0};
    std::thread fake([&] {
        std::uint8_t q[64];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 3000) <= 0) return;
        const ssize_t n = recvfrom(fd, q, sizeof q, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n != static_cast<ssize_t>(kQuerySize)) return;
        std::uint8_t ans[kAnswerFixedSize] = {};
        std::memcpy(ans, kMagic, sizeof kMagic);
        ans[5] = kAnswer;
        ans[6] = kVersion;
        std::memcpy(ans + 7, q + 7, 16);
        PutGuid(ans + 23, kAppB);
        std::memcpy(ans + 39, q + 23, 8);  // nonce and stamp
        ans[55] = 0;
        sendto(fd, ans, sizeof ans, 0, reinterpret_cast<sockaddr*>(&from), len);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        ans[23] ^= 0xFF;  // a different instance
        sendto(fd, ans, sizeof ans, 0, reinterpret_cast<sockaddr*>(&from), len);
        lateSent = 1;
    });

    TestClient c;
    ASSERT_EQ(c.Enum(kAppA, "127.0.0.1", port, 1, 0, 150), S_OK);
    const std::size_t atReturn = c.rec.Count(DPN_MSGID_ENUM_HOSTS_RESPONSE);
    fake.join();
    ASSERT_EQ(lateSent.load(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(atReturn, 1u);
    EXPECT_EQ(c.rec.Count(DPN_MSGID_ENUM_HOSTS_RESPONSE), 1u);
    close(fd);
}

}  // namespace
