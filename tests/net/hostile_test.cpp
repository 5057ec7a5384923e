#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <enet/enet.h>

#include <random>

#include "platform/net/protocol.h"
#include "tests/net/session_helpers.h"

using namespace nettest;

namespace {

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Datagrams of every size and shape: random bytes, truncated and malformed
// enumeration queries and answers, ENet-looking headers.
std::vector<std::vector<std::uint8_t>> Garbage(const GUID& app)
{
    using namespace netproto;
    std::mt19937 rng(12345);
    std::vector<std::vector<std::uint8_t>> out;
    out.push_back({});
    for (int i = 0; i < 1500; ++i) {
        std::vector<std::uint8_t> d(rng() % 1400);
        for (auto& b : d) b = static_cast<std::uint8_t>(rng());
        out.push_back(std::move(d));
    }
    std::uint8_t q[kQuerySize];
    std::memcpy(q, kMagic, sizeof kMagic);
    q[5] = kQuery;
    q[6] = kVersion;
    PutGuid(q + 7, app);
    for (std::size_t n = 0; n < sizeof q; ++n) out.emplace_back(q, q + n);  // truncated queries
    std::vector<std::uint8_t> longQuery(q, q + sizeof q);
    longQuery.resize(900, 0xEE);
    out.push_back(longQuery);
    for (int i = 0; i < 200; ++i) {  // answers nobody asked for, with wild name lengths
        std::vector<std::uint8_t> a(kAnswerFixedSize + rng() % 300);
        for (auto& b : a) b = static_cast<std::uint8_t>(rng());
        std::memcpy(a.data(), kMagic, sizeof kMagic);
        a[5] = kAnswer;
        a[6] = kVersion;
        out.push_back(std::move(a));
    }
    for (int i = 0; i < 500; ++i) {  // ENet-like headers with random peer ids and commands
        std::vector<std::uint8_t> d(4 + rng() % 64);
        for (auto& b : d) b = static_cast<std::uint8_t>(rng());
        d[0] &= 0x8F;
        out.push_back(std::move(d));
    }
    return out;
}

void Spray(std::uint16_t port, const std::vector<std::vector<std::uint8_t>>& datagrams)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = Loopback(port);
    int k = 0;
    for (const auto& d : datagrams) {
        sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (++k % 200 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    close(fd);
}

TEST(HostileTraffic, GarbageDatagramsAreDroppedAndTheSessionGoesOn)
{
    TestServer s;
    ASSERT_EQ(s.Start(kAppA), S_OK);
    TestClient c;
    ASSERT_EQ(c.ConnectTo(kAppA, s.port), S_OK);
    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_CREATE_PLAYER, 2));

    // Learn the client's own port from a query it sends to a socket of ours.
    const std::uint16_t probePort = static_cast<std::uint16_t>(s.port + 3);
    const int probe = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at = Loopback(probePort);
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(c.Enum(kAppA, "127.0.0.1", probePort, 1, 0, 50), S_OK);
    std::uint8_t buf[64];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    pollfd p{probe, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    ASSERT_GT(recvfrom(probe, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len), 0);
    close(probe);
    const std::uint16_t clientPort = ntohs(from.sin_port);

    const auto garbage = Garbage(kAppA);
    std::thread a([&] { Spray(s.port, garbage); });
    std::thread b([&] { Spray(clientPort, garbage); });
    for (std::uint32_t i = 0; i < 100; ++i) {
        ASSERT_EQ(c.Send(&i, 4, true), S_OK);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    a.join();
    b.join();
    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_RECEIVE, 100));

    // Only the real traffic reached the handlers.
    for (const Event& e : s.rec.Take()) {
        EXPECT_TRUE(e.id == DPN_MSGID_CREATE_PLAYER || e.id == DPN_MSGID_RECEIVE);
        if (e.id == DPN_MSGID_RECEIVE) {
            EXPECT_EQ(e.data.size(), 4u);
        }
    }
    EXPECT_EQ(s.rec.Count(DPN_MSGID_CREATE_PLAYER), 2u);
    EXPECT_EQ(c.rec.Count(DPN_MSGID_TERMINATE_SESSION), 0u);
    EXPECT_EQ(c.rec.Count(DPN_MSGID_ENUM_HOSTS_RESPONSE), 0u);

    // Both ends still work, and enumeration still answers.
    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_CREATE_PLAYER, 2));
    const BYTE m[20] = {1};
    ASSERT_EQ(SendTo(s.server, DPNID_ALL_PLAYERS_GROUP, m, 20, true), S_OK);
    EXPECT_TRUE(c.rec.WaitFor(DPN_MSGID_RECEIVE, 1));
    TestClient other;
    EXPECT_EQ(other.Enum(kAppA, "127.0.0.1", s.port, 1, 0, 100), S_OK);
    EXPECT_EQ(other.rec.Count(DPN_MSGID_ENUM_HOSTS_RESPONSE), 1u);
}

TEST(HostileTraffic, QueryFloodIsAnsweredAtALimitedRate)
{
    using namespace netproto;
    TestServer s;
    ASSERT_EQ(s.Start(kAppA), S_OK);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = Loopback(static_cast<std::uint16_t>(s.port));
    std::uint8_t q[kQuerySize] = {};
    std::memcpy(q, kMagic, sizeof kMagic);
    q[5] = kQuery;
    q[6] = kVersion;
    PutGuid(q + 7, kAppA);
    for (int i = 0; i < 2000; ++i) {
        sendto(fd, q, sizeof q, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (i % 100 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    int answers = 0;
    std::uint8_t buf[512];
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 300) == 1 && recv(fd, buf, sizeof buf, 0) > 0) ++answers;
    close(fd);
    EXPECT_GT(answers, 0);
    EXPECT_LE(answers, static_cast<int>(GetNetTuning().enumAnswersPerSecond) + 100);
    // The host is still there for real clients.
    TestClient c;
    EXPECT_EQ(c.ConnectTo(kAppA, s.port), S_OK);
}

TEST(HostileTraffic, PeersThatNeverJoinAreDropped)
{
    ShortTimeouts quick;
    TestServer s;
    ASSERT_EQ(s.Start(kAppA), S_OK);
    ENetHost* raw = enet_host_create(nullptr, 8, 1, 0, 0);
    ENetAddress to;
    enet_address_set_host(&to, "127.0.0.1");
    to.port = static_cast<enet_uint16>(s.port);
    for (int i = 0; i < 8; ++i) enet_host_connect(raw, &to, 1, 0);
    int connected = 0, dropped = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(2500);
    while (std::chrono::steady_clock::now() < end && dropped < 8) {
        ENetEvent ev;
        if (enet_host_service(raw, &ev, 10) > 0) {
            connected += ev.type == ENET_EVENT_TYPE_CONNECT;
            dropped += ev.type == ENET_EVENT_TYPE_DISCONNECT;
        }
    }
    enet_host_destroy(raw);
    EXPECT_EQ(connected, 8);
    EXPECT_EQ(dropped, 8);
    EXPECT_EQ(s.rec.Count(DPN_MSGID_CREATE_PLAYER), 1u);
    TestClient c;
    EXPECT_EQ(c.ConnectTo(kAppA, s.port), S_OK);
}

}  // namespace
