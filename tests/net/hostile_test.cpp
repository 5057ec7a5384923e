#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <enet/enet.h>

#include <atomic>
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

// A raw ENet peer that joins only after a run of malformed session messages: none
// of them makes a player or reaches the handler, and the real join still works.
TEST(HostileTraffic, MalformedSessionMessagesBeforeAndAfterTheJoinAreIgnored)
{
    using namespace netproto;
    TestServer s;
    ASSERT_EQ(s.Start(kAppA), S_OK);
    ENetHost* raw = enet_host_create(nullptr, 1, 1, 0, 0);
    ASSERT_NE(raw, nullptr);
    ENetAddress to;
    enet_address_set_host(&to, "127.0.0.1");
    to.port = static_cast<enet_uint16>(s.port);
    ENetPeer* peer = enet_host_connect(raw, &to, 1, 0);
    auto send = [&](std::vector<std::uint8_t> d) {
        enet_peer_send(peer, 0, enet_packet_create(d.empty() ? nullptr : d.data(), d.size(), ENET_PACKET_FLAG_RELIABLE));
    };
    std::uint8_t hello[kHelloSize] = {kTagHello, kVersion};
    PutGuid(hello + 2, kAppA);
    int welcomes = 0;
    std::size_t welcomeSize = 0;
    auto pump = [&](int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            ENetEvent ev;
            if (enet_host_service(raw, &ev, 5) > 0 && ev.type == ENET_EVENT_TYPE_RECEIVE) {
                if (ev.packet->dataLength > 0 && ev.packet->data[0] == kTagWelcome) {
                    ++welcomes;
                    welcomeSize = ev.packet->dataLength;
                }
                enet_packet_destroy(ev.packet);
            }
        }
    };
    bool connected = false;
    for (int i = 0; i < 200 && !connected; ++i) {
        ENetEvent ev;
        if (enet_host_service(raw, &ev, 10) > 0) connected = ev.type == ENET_EVENT_TYPE_CONNECT;
    }
    ASSERT_TRUE(connected);

    send({});                                          // empty
    send({kTagData});                                  // tag alone
    send({kTagDataGuaranteed, 1, 2, 3, 4});            // data before the join
    send({kTagReady, 0, 0, 0, 0});                     // ready before the join
    send({kTagWelcome, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});  // host-only message
    send({kTagReject, 0, 0, 0, 0});
    send({0x77, 1, 2});                                // unknown tag
    for (std::size_t n = 1; n < sizeof hello; ++n) send(std::vector<std::uint8_t>(hello, hello + n));
    std::vector<std::uint8_t> longHello(hello, hello + sizeof hello);
    longHello.push_back(0);
    send(longHello);
    pump(300);
    EXPECT_EQ(s.rec.Count(DPN_MSGID_CREATE_PLAYER), 1u);  // the host's own only
    EXPECT_EQ(s.rec.Count(DPN_MSGID_RECEIVE), 0u);
    EXPECT_EQ(welcomes, 0);

    send(std::vector<std::uint8_t>(hello, hello + sizeof hello));
    pump(200);
    EXPECT_EQ(welcomes, 1);
    EXPECT_EQ(welcomeSize, kWelcomeSize);
    EXPECT_EQ(s.rec.Count(DPN_MSGID_CREATE_PLAYER), 2u);

    send(std::vector<std::uint8_t>(hello, hello + sizeof hello));  // a second join
    send({kTagReady});                                             // short ready
    send({kTagData});                                              // empty data
    send({kTagDataGuaranteed, 'o', 'k'});
    pump(300);
    EXPECT_EQ(welcomes, 1);
    EXPECT_EQ(s.rec.Count(DPN_MSGID_CREATE_PLAYER), 2u);
    ASSERT_EQ(s.rec.Count(DPN_MSGID_RECEIVE), 1u);
    for (const Event& e : s.rec.Take()) {
        if (e.id != DPN_MSGID_RECEIVE) continue;
        EXPECT_EQ(e.data, (std::vector<BYTE>{'o', 'k'}));
        EXPECT_EQ(e.flags, DPNRECEIVE_GUARANTEED);
    }
    enet_peer_disconnect_now(peer, 0);
    enet_host_destroy(raw);
}

// A host that answers the join with malformed messages: the client delivers
// nothing and its Connect fails when the connect time runs out.
TEST(HostileTraffic, MalformedJoinAnswersFailTheConnect)
{
    using namespace netproto;
    ShortTimeouts quick;
    ENetAddress at{ENET_HOST_ANY, GetNetTuning().basePort};
    ENetHost* raw = enet_host_create(&at, 4, 1, 0, 0);
    ASSERT_NE(raw, nullptr);
    TestClient c;
    std::atomic<bool> done{false};
    std::thread host([&] {
        while (!done.load()) {
            ENetEvent ev;
            if (enet_host_service(raw, &ev, 5) <= 0) continue;
            if (ev.type != ENET_EVENT_TYPE_RECEIVE) continue;
            const bool isHello = ev.packet->dataLength > 0 && ev.packet->data[0] == kTagHello;
            enet_packet_destroy(ev.packet);
            if (!isHello) continue;
            auto send = [&](std::vector<std::uint8_t> d) {
                enet_peer_send(ev.peer, 0,
                               enet_packet_create(d.empty() ? nullptr : d.data(), d.size(), ENET_PACKET_FLAG_RELIABLE));
            };
            send({});
            send({kTagDataGuaranteed, 1, 2, 3});  // data before the welcome
            send({kTagData, 4});
            std::vector<std::uint8_t> welcome(kWelcomeSize, 0);
            welcome[0] = kTagWelcome;
            send(std::vector<std::uint8_t>(welcome.begin(), welcome.end() - 1));  // short
            welcome.push_back(0);
            send(welcome);  // long
            send({kTagReject, 0, 0});  // short reject
            send({kTagHello});
            enet_host_flush(raw);
        }
    });
    const HRESULT hr = c.ConnectTo(kAppA, GetNetTuning().basePort);
    done = true;
    host.join();
    enet_host_destroy(raw);
    EXPECT_EQ(hr, DPNERR_NORESPONSE);
    EXPECT_EQ(c.rec.Take().size(), 0u);
    EXPECT_EQ(c.Send("x", 1, true), DPNERR_NOCONNECTION);
}

// Enumeration answers that carry the right nonce but a broken size or name length
// are dropped; well-formed ones (with and without a name) are delivered.
TEST(HostileTraffic, AnswersWithBrokenLengthsAreDropped)
{
    using namespace netproto;
    const std::uint16_t port = GetNetTuning().basePort;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at = Loopback(port);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    TestClient c;
    const GUID first = {0x11111111, 0x1111, 0x1111, {1, 1, 1, 1, 1, 1, 1, 1}};
    const GUID second = {0x22222222, 0x2222, 0x2222, {2, 2, 2, 2, 2, 2, 2, 2}};
    std::thread host([&] {
        std::uint8_t q[256];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) != 1) return;
        const ssize_t n = recvfrom(fd, q, sizeof q, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n != static_cast<ssize_t>(kQuerySize)) return;
        auto answer = [&](const GUID& instance, int units, std::size_t size, std::uint8_t version = kVersion,
                          const GUID& app = kAppA) {
            std::vector<std::uint8_t> a(std::max<std::size_t>(size, kAnswerFixedSize), 0);
            std::memcpy(a.data(), kMagic, sizeof kMagic);
            a[5] = kAnswer;
            a[6] = version;
            PutGuid(a.data() + 7, app);
            PutGuid(a.data() + 23, instance);
            std::memcpy(a.data() + 39, q + 23, 4);  // nonce
            std::memcpy(a.data() + 43, q + 27, 4);  // stamp
            a[55] = static_cast<std::uint8_t>(units);
            for (std::size_t i = 56; i + 1 < a.size(); i += 2) a[i] = 'A';
            a.resize(size);
            sendto(fd, a.data(), a.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        };
        const GUID bad = {0xBAD, 0xBAD, 0xBAD, {0xB, 0xA, 0xD}};
        answer(bad, 65, kAnswerFixedSize + 130);    // name longer than allowed
        answer(bad, 200, kAnswerFixedSize + 2);     // name length past the end
        answer(bad, 3, kAnswerFixedSize + 4);       // short
        answer(bad, 3, kAnswerFixedSize + 8);       // long
        answer(bad, 0xFF, kAnswerFixedSize - 1);    // truncated fixed part
        answer(bad, 0xFF, kAnswerFixedSize + 2);    // no name, yet name bytes
        answer(bad, 0, kAnswerFixedSize, kVersion + 1);
        answer(bad, 0, kAnswerFixedSize, kVersion, kAppB);
        answer(first, 0xFF, kAnswerFixedSize);
        answer(second, 2, kAnswerFixedSize + 4);
    });
    EXPECT_EQ(c.Enum(kAppA, "127.0.0.1", port, 1, 0, 500), S_OK);
    host.join();
    close(fd);
    const auto events = c.rec.Take();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].instance, first);
    EXPECT_FALSE(events[0].hasSessionName);
    EXPECT_EQ(events[1].instance, second);
    EXPECT_TRUE(events[1].hasSessionName);
    EXPECT_EQ(events[1].sessionName, u"AA");
}

}  // namespace
