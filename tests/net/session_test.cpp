#include <arpa/inet.h>
#include <enet/enet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <set>

#include "platform/net/protocol.h"
#include "tests/net/session_helpers.h"

using namespace nettest;

namespace {

DPNID CreatedPlayer(Recorder& rec, std::size_t index)
{
    std::size_t k = 0;
    for (const Event& e : rec.Take()) {
        if (e.id == DPN_MSGID_CREATE_PLAYER && k++ == index) return e.player;
    }
    return 0;
}

std::uint32_t SeqOf(const Event& e)
{
    std::uint32_t v = 0;
    if (e.data.size() >= 4) std::memcpy(&v, e.data.data(), 4);
    return v;
}

TEST(SessionObjects, ServiceProvidersTakeTwoPasses)
{
    TestClient c;
    DWORD size = 0, count = 0;
    EXPECT_EQ(c.client->EnumServiceProviders(&CLSID_DP8SP_TCPIP, nullptr, nullptr, &size, &count, 0),
              DPNERR_BUFFERTOOSMALL);
    ASSERT_GT(size, sizeof(DPN_SERVICE_PROVIDER_INFO));
    std::vector<std::uint64_t> storage((size + 7) / 8);
    auto* info = reinterpret_cast<DPN_SERVICE_PROVIDER_INFO*>(storage.data());
    EXPECT_EQ(c.client->EnumServiceProviders(&CLSID_DP8SP_TCPIP, nullptr, info, &size, &count, 0), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_NE(info->pwszName, nullptr);
    GUID other = kAppA;
    size = 0;
    EXPECT_EQ(c.client->EnumServiceProviders(&other, nullptr, nullptr, &size, &count, 0), DPNERR_DOESNOTEXIST);

    IDirectPlay8Server* s = nullptr;
    CoCreateInstance(CLSID_DirectPlay8Server, nullptr, 1, IID_IDirectPlay8Server, reinterpret_cast<void**>(&s));
    size = 0;
    EXPECT_EQ(s->EnumServiceProviders(&CLSID_DP8SP_TCPIP, nullptr, nullptr, &size, &count, 0), DPNERR_UNINITIALIZED);
    EXPECT_EQ(s->Close(0), DPNERR_UNINITIALIZED);
    s->Release();
    void* wrong = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_DirectPlay8Client, nullptr, 1, IID_IDirectPlay8Server, &wrong), E_NOINTERFACE);
    EXPECT_EQ(wrong, nullptr);
}

TEST(SessionObjects, CallsOutOfStateFailCleanly)
{
    TestClient c;
    const BYTE data[20] = {};
    EXPECT_EQ(c.Send(data, 20, true), DPNERR_NOCONNECTION);
    DPN_CONNECTION_INFO info = NewInfo();
    EXPECT_EQ(c.client->GetConnectionInfo(&info, 0), DPNERR_NOCONNECTION);
    info.dwSize = 72;
    EXPECT_EQ(c.client->GetConnectionInfo(&info, 0), DPNERR_INVALIDPARAM);
    EXPECT_EQ(c.client->Initialize(&c.rec, Recorder::Handler, 0), DPNERR_ALREADYINITIALIZED);

    TestServer s;
    ASSERT_EQ(s.Start(kAppA), S_OK);
    EXPECT_EQ(SendTo(s.server, 0x12345, data, 20, true), DPNERR_INVALIDPLAYER);
    EXPECT_EQ(SendTo(s.server, 0, data, 0, true), DPNERR_INVALIDPARAM);
    DPN_CONNECTION_INFO sinfo = NewInfo();
    EXPECT_EQ(s.server->GetConnectionInfo(0x12345, &sinfo, 0), DPNERR_INVALIDPLAYER);
    std::vector<BYTE> huge(GetNetTuning().maxMessageSize + 1);
    ASSERT_EQ(c.ConnectTo(kAppA, s.port), S_OK);
    EXPECT_EQ(c.Send(huge.data(), static_cast<DWORD>(huge.size()), true), DPNERR_SENDTOOLARGE);
    EXPECT_EQ(c.ConnectTo(kAppA, s.port), DPNERR_ALREADYCONNECTED);
}

TEST(SessionObjects, AddressComponentsAreCheckedCopiedAndDuplicated)
{
    IDirectPlay8Address* a = NewAddress("host.example", 2400);
    DWORD size = 0, type = 0;
    EXPECT_EQ(a->GetComponentByName(DPNA_KEY_HOSTNAME, nullptr, &size, &type), DPNERR_BUFFERTOOSMALL);
    EXPECT_EQ(size, 26u);  // 12 characters and the NUL, two bytes each
    EXPECT_EQ(type, DPNA_DATATYPE_STRING);
    std::vector<char16_t> host(size / 2);
    EXPECT_EQ(a->GetComponentByName(DPNA_KEY_HOSTNAME, host.data(), &size, &type), S_OK);
    EXPECT_EQ(std::u16string(host.data()), u"host.example");
    EXPECT_EQ(a->GetComponentByName(u"nothing", nullptr, &size, &type), DPNERR_DOESNOTEXIST);

    // Wrong types and strings without their NUL are refused.
    const char16_t noNul[2] = {u'a', u'b'};
    EXPECT_EQ(a->AddComponent(DPNA_KEY_HOSTNAME, noNul, sizeof noNul, DPNA_DATATYPE_STRING), DPNERR_INVALIDPARAM);
    EXPECT_EQ(a->AddComponent(DPNA_KEY_HOSTNAME, noNul, 3, DPNA_DATATYPE_STRING), DPNERR_INVALIDPARAM);
    const DWORD port = 1;
    EXPECT_EQ(a->AddComponent(DPNA_KEY_HOSTNAME, &port, sizeof port, DPNA_DATATYPE_DWORD), DPNERR_INVALIDPARAM);
    EXPECT_EQ(a->AddComponent(DPNA_KEY_PORT, &port, 2, DPNA_DATATYPE_DWORD), DPNERR_INVALIDPARAM);
    EXPECT_EQ(a->AddComponent(DPNA_KEY_HOSTNAME, "ansi", 5, DPNA_DATATYPE_STRING_ANSI), S_OK);

    IDirectPlay8Address* copy = nullptr;
    ASSERT_EQ(a->Duplicate(&copy), S_OK);
    const DWORD other = 2500;
    a->AddComponent(DPNA_KEY_PORT, &other, sizeof other, DPNA_DATATYPE_DWORD);
    EXPECT_EQ(PortOf(copy), 2400u);
    EXPECT_EQ(PortOf(a), 2500u);
    GUID sp;
    EXPECT_EQ(copy->GetSP(&sp), S_OK);
    EXPECT_EQ(sp, CLSID_DP8SP_TCPIP);
    char ansi[8];
    size = sizeof ansi;
    EXPECT_EQ(copy->GetComponentByName(DPNA_KEY_HOSTNAME, ansi, &size, &type), S_OK);
    EXPECT_EQ(type, DPNA_DATATYPE_STRING_ANSI);
    EXPECT_STREQ(ansi, "ansi");
    copy->Release();
    a->Release();
}

TEST(SessionConnect, RoundTripIsMeasuredWhenConnectReturns)
{
    TestServer s;
    ASSERT_EQ(s.Start(kAppA), S_OK);
    EXPECT_EQ(s.port, GetNetTuning().basePort);
    TestClient c;
    ASSERT_EQ(c.ConnectTo(kAppA, s.port), S_OK);
    DPN_CONNECTION_INFO info = NewInfo();
    ASSERT_EQ(c.client->GetConnectionInfo(&info, 0), S_OK);
    EXPECT_GE(info.dwRoundTripLatencyMS, 1u);
    EXPECT_LT(info.dwRoundTripLatencyMS, 100u);

    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_CREATE_PLAYER, 2));
    const DPNID id = CreatedPlayer(s.rec, 1);
    DPN_CONNECTION_INFO sinfo = NewInfo();
    ASSERT_EQ(s.server->GetConnectionInfo(id, &sinfo, 0), S_OK);
    EXPECT_LT(sinfo.dwRoundTripLatencyMS, 100u);
}

TEST(SessionConnect, WrongApplicationAndNobodyThereAreRefused)
{
    ShortTimeouts quick;
    TestServer s;
    ASSERT_EQ(s.Start(kAppA), S_OK);
    TestClient wrong;
    EXPECT_EQ(wrong.ConnectTo(kAppB, s.port), DPNERR_INVALIDAPPLICATION);
    EXPECT_EQ(s.rec.Count(DPN_MSGID_CREATE_PLAYER), 1u);  // only the host's own player

    TestClient nobody;
    const auto t0 = std::chrono::steady_clock::now();
    const HRESULT hr = nobody.ConnectTo(kAppA, s.port + 5);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    EXPECT_EQ(nobody.ConnectTo(kAppA, 1, "no-such-host.invalid"), DPNERR_INVALIDHOSTADDRESS);

    // A refused client can still connect to the right session afterwards.
    EXPECT_EQ(wrong.ConnectTo(kAppA, s.port), S_OK);
}

TEST(SessionConnect, FullSessionRefusesTheNextPlayer)
{
    TestServer s;
    ASSERT_EQ(s.Start(kAppA, u"small", 0, 2), S_OK);  // the host and one client
    TestClient a, b;
    EXPECT_EQ(a.ConnectTo(kAppA, s.port), S_OK);
    EXPECT_EQ(b.ConnectTo(kAppA, s.port), DPNERR_SESSIONFULL);
}

TEST(SessionDelivery, ThousandMixedMessagesArriveInOrderWithTheirModes)
{
    TestServer s;
    ASSERT_EQ(s.Start(kAppA), S_OK);
    TestClient c;
    ASSERT_EQ(c.ConnectTo(kAppA, s.port), S_OK);
    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_CREATE_PLAYER, 2));
    const DPNID id = CreatedPlayer(s.rec, 1);

    std::size_t guaranteedSent = 0;
    for (std::uint32_t i = 0; i < 1000; ++i) {
        BYTE msg[20] = {};
        std::memcpy(msg, &i, 4);
        const bool g = (i % 3) != 1;
        msg[4] = g ? 1 : 0;
        guaranteedSent += g ? 1 : 0;
        ASSERT_EQ(c.Send(msg, 20, g), S_OK);
        ASSERT_EQ(SendTo(s.server, id, msg, 20, g), S_OK);
    }
    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_RECEIVE, 1000, 5000));
    ASSERT_TRUE(c.rec.WaitFor(DPN_MSGID_RECEIVE, 1000, 5000));

    for (Recorder* rec : {&s.rec, &c.rec}) {
        std::int64_t last = -1;
        std::size_t guaranteedSeen = 0;
        for (const Event& e : rec->Take()) {
            if (e.id != DPN_MSGID_RECEIVE) continue;
            ASSERT_EQ(e.data.size(), 20u);
            const std::uint32_t seq = SeqOf(e);
            EXPECT_GT(static_cast<std::int64_t>(seq), last);
            last = seq;
            const bool g = e.data[4] == 1;
            EXPECT_EQ((e.flags & DPNRECEIVE_GUARANTEED) != 0, g) << seq;
            guaranteedSeen += g ? 1 : 0;
        }
        EXPECT_EQ(guaranteedSeen, guaranteedSent);
        EXPECT_EQ(last, 999);
    }
}

TEST(SessionDelivery, SendToZeroReachesEveryPlayerAndLoopsBackOnlyWhenAsked)
{
    TestServer s;
    ASSERT_EQ(s.Start(kAppA), S_OK);
    TestClient a, b;
    ASSERT_EQ(a.ConnectTo(kAppA, s.port), S_OK);
    ASSERT_EQ(b.ConnectTo(kAppA, s.port), S_OK);
    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_CREATE_PLAYER, 3));
    const DPNID own = CreatedPlayer(s.rec, 0);

    const BYTE first[3] = {1, 2, 3};
    ASSERT_EQ(SendTo(s.server, DPNID_ALL_PLAYERS_GROUP, first, 3, true), S_OK);
    ASSERT_TRUE(a.rec.WaitFor(DPN_MSGID_RECEIVE, 1));
    ASSERT_TRUE(b.rec.WaitFor(DPN_MSGID_RECEIVE, 1));
    const BYTE second[2] = {9, 9};
    ASSERT_EQ(SendTo(s.server, DPNID_ALL_PLAYERS_GROUP, second, 2, false, 0), S_OK);
    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_RECEIVE, 1));
    ASSERT_TRUE(a.rec.WaitFor(DPN_MSGID_RECEIVE, 2));
    ASSERT_TRUE(b.rec.WaitFor(DPN_MSGID_RECEIVE, 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(s.rec.Count(DPN_MSGID_RECEIVE), 1u);
    for (const Event& e : s.rec.Take()) {
        if (e.id == DPN_MSGID_RECEIVE) {
            EXPECT_EQ(e.player, own);
            EXPECT_EQ(e.data, std::vector<BYTE>({9, 9}));
            EXPECT_EQ(e.flags, 0u);
        }
    }
}

TEST(SessionPlayers, CreateComesFirstDestroyComesLastAndIdsAreUnique)
{
    TestServer s;
    ASSERT_EQ(s.Start(kAppA), S_OK);
    {
        TestClient a, b, c;
        for (TestClient* t : {&a, &b, &c}) ASSERT_EQ(t->ConnectTo(kAppA, s.port), S_OK);
        for (TestClient* t : {&a, &b, &c}) {
            for (std::uint32_t i = 0; i < 20; ++i) t->Send(&i, 4, i % 2 == 0);
        }
        ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_RECEIVE, 60));
    }  // the clients close here
    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_DESTROY_PLAYER, 3));

    std::set<DPNID> created, destroyed;
    for (const Event& e : s.rec.Take()) {
        if (e.id == DPN_MSGID_CREATE_PLAYER) {
            EXPECT_NE(e.player, 0u);
            EXPECT_TRUE(created.insert(e.player).second);
        } else if (e.id == DPN_MSGID_RECEIVE) {
            EXPECT_TRUE(created.count(e.player) == 1 && destroyed.count(e.player) == 0);
        } else if (e.id == DPN_MSGID_DESTROY_PLAYER) {
            EXPECT_EQ(created.count(e.player), 1u);
            EXPECT_EQ(e.flags, DPNDESTROYPLAYERREASON_NORMAL);
            destroyed.insert(e.player);
        }
    }
    EXPECT_EQ(created.size(), 4u);
    EXPECT_EQ(destroyed.size(), 3u);
}

TEST(SessionPorts, BusyPortMovesTheHostToTheNextAndEnumerationFindsIt)
{
    const std::uint16_t base = GetNetTuning().basePort;
    const int blocker = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(base);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

    TestServer s;
    ASSERT_EQ(s.Start(kAppA), S_OK);
    EXPECT_EQ(s.port, base + 1u);
    TestServer fixed;
    EXPECT_EQ(fixed.Start(kAppA, u"fixed", base), DPNERR_INVALIDDEVICEADDRESS);

    TestClient c;
    ASSERT_EQ(c.Enum(kAppA, "127.0.0.1", 0, 1), S_OK);
    IDirectPlay8Address* found = c.rec.FirstSender();
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(PortOf(found), base + 1u);
    DPN_APPLICATION_DESC d = Desc(kAppA);
    EXPECT_EQ(c.client->Connect(&d, found, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, DPNCONNECT_SYNC),
              S_OK);
    found->Release();
    close(blocker);
}

TEST(SessionPorts, HostNamedInTheDeviceAddressIsTheOnlyInterfaceListenedOn)
{
    ShortTimeouts quick;
    TestServer any;
    ASSERT_EQ(any.Start(kAppA, u"any"), S_OK);
    TestServer local;
    ASSERT_EQ(local.Start(kAppB, u"local", 0, 0, "127.0.0.1"), S_OK);
    TestServer bad;
    EXPECT_EQ(bad.Start(kAppB, u"bad", 0, 0, "no.such.host.invalid"), DPNERR_INVALIDDEVICEADDRESS);

    // 127.0.0.2 is this machine too, but not the interface the second session took.
    TestClient far;
    ASSERT_EQ(far.Enum(kAppB, "127.0.0.2", local.port, 2, 100, 100), S_OK);
    EXPECT_EQ(far.rec.Count(DPN_MSGID_ENUM_HOSTS_RESPONSE), 0u);
    EXPECT_NE(far.ConnectTo(kAppB, local.port, "127.0.0.2"), S_OK);
    // A session on every interface answers there.
    TestClient anyFar;
    ASSERT_EQ(anyFar.Enum(kAppA, "127.0.0.2", any.port, 2, 100, 100), S_OK);
    EXPECT_GE(anyFar.rec.Count(DPN_MSGID_ENUM_HOSTS_RESPONSE), 1u);

    TestClient near;
    ASSERT_EQ(near.Enum(kAppB, "127.0.0.1", local.port, 2, 100, 100), S_OK);
    EXPECT_GE(near.rec.Count(DPN_MSGID_ENUM_HOSTS_RESPONSE), 1u);
    EXPECT_EQ(near.ConnectTo(kAppB, local.port), S_OK);
}

TEST(SessionPorts, WholeRangeBusyFailsHost)
{
    NetTuning saved = GetNetTuning();
    NetTuning t = saved;
    t.portCount = 2;
    SetNetTuning(t);
    TestServer a, b, c;
    EXPECT_EQ(a.Start(kAppA), S_OK);
    EXPECT_EQ(b.Start(kAppB), S_OK);
    EXPECT_EQ(c.Start(kAppA), DPNERR_INVALIDDEVICEADDRESS);
    SetNetTuning(saved);
}

TEST(SessionClose, GuaranteedMessagesSentJustBeforeCloseArrive)
{
    TestServer s;
    ASSERT_EQ(s.Start(kAppA), S_OK);
    auto c = std::make_unique<TestClient>();
    ASSERT_EQ(c->ConnectTo(kAppA, s.port), S_OK);
    for (std::uint32_t i = 0; i < 200; ++i) {
        BYTE msg[82] = {};
        std::memcpy(msg, &i, 4);
        ASSERT_EQ(c->Send(msg, sizeof msg, true), S_OK);
    }
    EXPECT_EQ(c->client->Close(0), S_OK);
    EXPECT_EQ(c->rec.Count(DPN_MSGID_TERMINATE_SESSION), 0u);
    const std::size_t handled = c->rec.Take().size();
    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_DESTROY_PLAYER, 1));
    std::uint32_t expect = 0;
    bool destroyedSeen = false;
    for (const Event& e : s.rec.Take()) {
        if (e.id == DPN_MSGID_RECEIVE) {
            EXPECT_FALSE(destroyedSeen);
            EXPECT_EQ(SeqOf(e), expect++);
        }
        destroyedSeen |= e.id == DPN_MSGID_DESTROY_PLAYER;
    }
    EXPECT_EQ(expect, 200u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(c->rec.Take().size(), handled);  // no handler after Close
    EXPECT_EQ(c->Send("x", 1, true), DPNERR_UNINITIALIZED);
}

TEST(SessionClose, HostCloseTerminatesTheClientsSession)
{
    TestClient c;
    auto s = std::make_unique<TestServer>();
    ASSERT_EQ(s->Start(kAppA), S_OK);
    ASSERT_EQ(c.ConnectTo(kAppA, s->port), S_OK);
    const BYTE last[20] = {7};
    ASSERT_EQ(SendTo(s->server, DPNID_ALL_PLAYERS_GROUP, last, 20, true), S_OK);
    ASSERT_EQ(s->server->Close(0), S_OK);
    // Close delivered the client's and the host's own destroy-player.
    EXPECT_EQ(s->rec.Count(DPN_MSGID_DESTROY_PLAYER), 2u);
    const std::size_t handled = s->rec.Take().size();

    ASSERT_TRUE(c.rec.WaitFor(DPN_MSGID_TERMINATE_SESSION, 1));
    auto events = c.rec.Take();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0].id, DPN_MSGID_RECEIVE);
    EXPECT_EQ(events.back().id, DPN_MSGID_TERMINATE_SESSION);
    EXPECT_EQ(events.back().hr, DPNERR_HOSTTERMINATEDSESSION);
    EXPECT_EQ(c.Send(last, 20, true), DPNERR_NOCONNECTION);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(s->rec.Take().size(), handled);
}

TEST(SessionClose, DestroyClientEndsThatClientsSession)
{
    TestServer s;
    ASSERT_EQ(s.Start(kAppA), S_OK);
    TestClient a, b;
    ASSERT_EQ(a.ConnectTo(kAppA, s.port), S_OK);
    ASSERT_EQ(b.ConnectTo(kAppA, s.port), S_OK);
    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_CREATE_PLAYER, 3));
    ASSERT_EQ(s.server->DestroyClient(CreatedPlayer(s.rec, 1), nullptr, 0, 0), S_OK);
    ASSERT_TRUE(a.rec.WaitFor(DPN_MSGID_TERMINATE_SESSION, 1));
    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_DESTROY_PLAYER, 1));
    EXPECT_EQ(b.rec.Count(DPN_MSGID_TERMINATE_SESSION), 0u);
    const BYTE m[20] = {};
    EXPECT_EQ(b.Send(m, 20, true), S_OK);
    EXPECT_TRUE(s.rec.WaitFor(DPN_MSGID_RECEIVE, 1));
}

// A raw ENet peer that speaks the join handshake and can then vanish.
struct RawPeer {
    ENetHost* host = nullptr;
    ENetPeer* peer = nullptr;

    void Pump(int ms, const std::function<bool(ENetEvent&)>& on)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            ENetEvent ev;
            if (enet_host_service(host, &ev, 5) > 0) {
                const bool done = on(ev);
                if (ev.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(ev.packet);
                if (done) return;
            }
        }
    }
    // Vanishes: no disconnect is sent.
    void Vanish()
    {
        enet_host_destroy(host);
        host = nullptr;
    }
    ~RawPeer()
    {
        if (host != nullptr) enet_host_destroy(host);
    }
};

TEST(SessionTimeout, VanishedClientIsDestroyedWithinThePeerTimeout)
{
    ShortTimeouts quick;
    TestServer s;
    ASSERT_EQ(s.Start(kAppA), S_OK);
    RawPeer raw;
    raw.host = enet_host_create(nullptr, 1, 1, 0, 0);
    ENetAddress to;
    enet_address_set_host(&to, "127.0.0.1");
    to.port = static_cast<enet_uint16>(s.port);
    raw.peer = enet_host_connect(raw.host, &to, 1, 0);
    bool joined = false;
    raw.Pump(2000, [&](ENetEvent& ev) {
        using namespace netproto;
        if (ev.type == ENET_EVENT_TYPE_CONNECT) {
            std::uint8_t hello[kHelloSize] = {kTagHello, kVersion};
            PutGuid(hello + 2, kAppA);
            PutGuid(hello + 18, GUID_NULL);
            enet_peer_send(ev.peer, 0, enet_packet_create(hello, sizeof hello, ENET_PACKET_FLAG_RELIABLE));
        } else if (ev.type == ENET_EVENT_TYPE_RECEIVE && ev.packet->data[0] == kTagWelcome) {
            std::uint8_t ready[kReadySize] = {kTagReady};
            enet_peer_send(ev.peer, 0, enet_packet_create(ready, sizeof ready, ENET_PACKET_FLAG_RELIABLE));
            enet_host_flush(raw.host);
            joined = true;
            return true;
        }
        return false;
    });
    ASSERT_TRUE(joined);
    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_CREATE_PLAYER, 2));
    const auto t0 = std::chrono::steady_clock::now();
    raw.Vanish();
    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_DESTROY_PLAYER, 1, 4000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2500));
    EXPECT_EQ(s.rec.Take().back().flags, DPNDESTROYPLAYERREASON_CONNECTIONLOST);
}

TEST(SessionTimeout, VanishedHostTerminatesTheClientsSession)
{
    ShortTimeouts quick;
    RawPeer raw;
    ENetAddress at{ENET_HOST_ANY, GetNetTuning().basePort};
    raw.host = enet_host_create(&at, 4, 1, 0, 0);
    ASSERT_NE(raw.host, nullptr);
    TestClient c;
    std::thread host([&] {
        raw.Pump(3000, [&](ENetEvent& ev) {
            using namespace netproto;
            if (ev.type == ENET_EVENT_TYPE_RECEIVE && ev.packet->data[0] == kTagHello) {
                std::uint8_t welcome[kWelcomeSize] = {kTagWelcome};
                Put32(welcome + 1, 0x100);
                Put32(welcome + 5, 0x200);
                enet_peer_send(ev.peer, 0, enet_packet_create(welcome, sizeof welcome, ENET_PACKET_FLAG_RELIABLE));
            } else if (ev.type == ENET_EVENT_TYPE_RECEIVE && ev.packet->data[0] == kTagReady) {
                enet_host_flush(raw.host);
                return true;
            }
            return false;
        });
    });
    const HRESULT hr = c.ConnectTo(kAppA, GetNetTuning().basePort);
    host.join();
    ASSERT_EQ(hr, S_OK);
    const auto t0 = std::chrono::steady_clock::now();
    raw.Vanish();
    ASSERT_TRUE(c.rec.WaitFor(DPN_MSGID_TERMINATE_SESSION, 1, 4000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2500));
    EXPECT_EQ(c.rec.Take().back().hr, DPNERR_CONNECTIONLOST);
}

TEST(SessionStatistics, CountsFollowTheTraffic)
{
    TestServer s;
    ASSERT_EQ(s.Start(kAppA), S_OK);
    TestClient c;
    ASSERT_EQ(c.ConnectTo(kAppA, s.port), S_OK);
    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_CREATE_PLAYER, 2));
    const DPNID id = CreatedPlayer(s.rec, 1);
    const BYTE msg[20] = {};
    for (int i = 0; i < 10; ++i) ASSERT_EQ(c.Send(msg, 20, true), S_OK);
    for (int i = 0; i < 7; ++i) ASSERT_EQ(c.Send(msg, 20, false), S_OK);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(SendTo(s.server, id, msg, 20, true), S_OK);
    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_RECEIVE, 17));
    ASSERT_TRUE(c.rec.WaitFor(DPN_MSGID_RECEIVE, 3));
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));

    DPN_CONNECTION_INFO ci = NewInfo();
    ASSERT_EQ(c.client->GetConnectionInfo(&ci, 0), S_OK);
    EXPECT_EQ(ci.dwPacketsSentGuaranteed, 10u);
    EXPECT_EQ(ci.dwPacketsSentNonGuaranteed, 7u);
    EXPECT_EQ(ci.dwBytesSentGuaranteed, 200u);
    EXPECT_EQ(ci.dwPacketsReceivedGuaranteed, 3u);
    EXPECT_EQ(ci.dwPacketsReceivedNonGuaranteed, 0u);
    EXPECT_EQ(ci.dwMessagesReceived, 3u);
    // Retries depend on how quickly acknowledgements come back on a loaded machine: not checked here.
    EXPECT_EQ(ci.dwPacketsDropped, 0u);
    EXPECT_GE(ci.dwPeakThroughputBPS, ci.dwThroughputBPS);
    EXPECT_GT(ci.dwPeakThroughputBPS, 0u);

    DPN_CONNECTION_INFO si = NewInfo();
    ASSERT_EQ(s.server->GetConnectionInfo(id, &si, 0), S_OK);
    EXPECT_EQ(si.dwPacketsReceivedGuaranteed, 10u);
    EXPECT_EQ(si.dwPacketsReceivedNonGuaranteed, 7u);
    EXPECT_EQ(si.dwMessagesReceived, 17u);
    EXPECT_EQ(si.dwPacketsSentGuaranteed, 3u);
}

TEST(SessionStatistics, MessagesWhoseTimeOutRunsOutInTheQueueAreCountedDropped)
{
    TestServer s;
    ASSERT_EQ(s.Start(kAppA), S_OK);
    TestClient c;
    std::atomic<bool> inHandler{false};
    // The client's handler holds its service thread for a while on the first message.
    c.rec.hook = [&](DWORD id, PVOID) {
        if (id == DPN_MSGID_RECEIVE && !inHandler.exchange(true)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    };
    ASSERT_EQ(c.ConnectTo(kAppA, s.port), S_OK);
    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_CREATE_PLAYER, 2));
    const BYTE m[20] = {};
    ASSERT_EQ(SendTo(s.server, CreatedPlayer(s.rec, 1), m, 20, true), S_OK);
    while (!inHandler.load()) std::this_thread::yield();
    for (int i = 0; i < 5; ++i) ASSERT_EQ(c.Send(m, 20, false, 20), S_OK);  // 20 ms time-out
    ASSERT_EQ(c.Send(m, 20, true, 0), S_OK);                                 // no time-out
    ASSERT_TRUE(s.rec.WaitFor(DPN_MSGID_RECEIVE, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(s.rec.Count(DPN_MSGID_RECEIVE), 1u);
    DPN_CONNECTION_INFO ci = NewInfo();
    ASSERT_EQ(c.client->GetConnectionInfo(&ci, 0), S_OK);
    EXPECT_EQ(ci.dwPacketsDropped, 5u);
    EXPECT_EQ(ci.dwBytesDropped, 100u);
    EXPECT_EQ(ci.dwPacketsSentNonGuaranteed, 0u);
    EXPECT_EQ(ci.dwPacketsSentGuaranteed, 1u);
}

}  // namespace
