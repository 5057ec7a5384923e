// The running console client between a universe server and its view programs:
// relays, registration and slots, initial state, reports, keys, the end of the
// server session and hostile traffic.
#include "tests/client_app/harness.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "tools/universe-standin/standin.h"

using namespace apptest;

namespace {

constexpr auto npos = std::string::npos;
constexpr std::uint8_t kOwn = 2;  // the scripted server's vessel number for the client

// A scripted server, the client at "Ready", and up to two registered views.
class Session {
public:
    explicit Session(const ScriptedServer::Options& o = {}) : server(o) {}

    ::testing::AssertionResult Up() { return StartClient(server, scratch, client); }

    // Joins and registers; waits for the end of the initial state (or the refusal).
    bool Attach(TestView& view, bool propulsion)
    {
        if (FAILED(view.Join()) || FAILED(view.Register(propulsion))) return false;
        return view.inbox.WaitFor([](const Received& r) {
            return IsStatus(r, STATUS_SETUP_COMPLETE) || IsStatus(r, STATUS_CONFIGURATION, VESSEL_NONE);
        });
    }

    void Leave() { LeaveWithEscape(client); }

    ScriptedServer server;
    Scratch scratch;
    ClientProcess client;
};

std::vector<Received> StatusOf(const std::vector<Received>& all, std::uint8_t type)
{
    std::vector<Received> out;
    for (const Received& r : all) {
        if (IsStatus(r, type)) out.push_back(r);
    }
    return out;
}

TEST(ClientSession, InitialStateOfANewViewInItsOrder)
{
    Session s;
    ASSERT_TRUE(s.Up()) << s.client.Output();
    // Vessel 5 comes online with a position before the view attaches.
    ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(STATUS_PLAYER_ONLINE, 5, 0, 0, 0, 7777.0f), true), S_OK);
    ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(STATUS_VELOCITY, 5, 0.1f, 0.2f, 0.3f, 2940.0f), true), S_OK);
    ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(STATUS_ATTITUDE, 5, 0.0f, 0.0f, 0.6f, 0.8f), true), S_OK);
    ASSERT_NE(s.client.WaitFor("] New player online (IVR: 527777):  5\n"), npos);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    TestView view;
    ASSERT_TRUE(s.Attach(view, true)) << s.client.Output();
    const std::vector<Received> all = view.inbox.All();
    std::vector<std::pair<int, int>> order;
    for (const Received& r : all) {
        ASSERT_EQ(r.data.size(), 20u);
        EXPECT_TRUE(r.guaranteed);
        order.emplace_back(r.data[0], r.data[1]);
    }
    std::vector<std::pair<int, int>> expected = {{0, kOwn}};
    for (int i = 0; i < 8; ++i) {
        if (i == kOwn || i == 5) expected.emplace_back(1, i);
        for (int t : {4, 2, 6, 8}) expected.emplace_back(t, i);
    }
    expected.emplace_back(3, 0);
    EXPECT_EQ(order, expected);

    const StatusPacket granted = all.front().Status();
    EXPECT_GE(granted.X, 100.0f);
    EXPECT_LT(granted.X, 160.0f);
    EXPECT_EQ(granted.Y, 0.0f);
    EXPECT_EQ(granted.Z, 5.0f);
    EXPECT_EQ(granted.W, 3001.0f);
    for (const Received& r : all) {
        const StatusPacket p = r.Status();
        if (p.Type == STATUS_PLAYER_ONLINE && p.Vessel == 5) {
            EXPECT_EQ(p.W, 7777.0f);
        }
        if (p.Type == STATUS_PLAYER_ONLINE && p.Vessel == kOwn) {
            EXPECT_EQ(p.W, 3001.0f);
        }
        if (p.Type == STATUS_VELOCITY && p.Vessel == 5) {
            EXPECT_EQ(p.W, 2940.0f);  // (the velocity itself rides with the ground at the origin)
        }
        if (p.Type == STATUS_ATTITUDE && p.Vessel == 5) {
            EXPECT_FLOAT_EQ(p.W, 0.8f);
        }
    }
    EXPECT_NE(s.client.WaitFor("] DPNID peer program requesting connection:  ", 5000), npos);
    EXPECT_NE(s.client.WaitFor("] Propulsion now engaged via connected peer...\n", 5000), npos);
    EXPECT_NE(s.client.WaitFor("] Peer program application instance assigned slot:  0\n", 5000), npos);
    EXPECT_NE(s.client.WaitFor("] Sent new peer application all ship position data...\n", 5000), npos);
    s.Leave();
}

TEST(ClientSession, RelaysTheServersMessagesToBothViewsUnchangedWithTheirModes)
{
    Session s;
    ASSERT_TRUE(s.Up()) << s.client.Output();
    TestView a, b;
    ASSERT_TRUE(s.Attach(a, true));
    ASSERT_TRUE(s.Attach(b, false));
    a.inbox.Clear();
    b.inbox.Clear();

    // Each type with its own bytes, the unused bytes included.
    std::vector<Bytes> sent;
    for (std::uint8_t type : {1, 2, 4, 5, 6, 8}) {
        StatusPacket p = MakeStatusPacket(type, 4, 1.5f * type, -2.25f, 3.0f, 4000.0f + type);
        p.Unused[0] = 0xAB;
        p.Unused[1] = type;
        sent.push_back(StatusBytes(p));
        ASSERT_EQ(s.server.Send(sent.back().data(), 20, false), S_OK);
    }
    // Not relayed: configuration complete, a second configuration, unknown types.
    ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(STATUS_SETUP_COMPLETE, 0, 0, 0, 0, 0), true), S_OK);
    ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(STATUS_CONFIGURATION, kOwn, 1, 142, 5, 3001), true), S_OK);
    ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(9, 4, 0, 0, 0, 0), true), S_OK);
    // Chat (non-guaranteed to the views) and a projectile (guaranteed).
    EventPacket chat = MakeChatPacket(4, "hello views");
    chat.Payload[70] = 0x5A;  // bytes after the NUL travel too
    ASSERT_EQ(s.server.Send(&chat, sizeof chat, true), S_OK);
    ProjectileRecord shot{{1, 2, 3}, {4, 5, 6}, 7};
    const EventPacket projectile = MakeProjectilePacket(4, shot);
    ASSERT_EQ(s.server.Send(&projectile, sizeof projectile, false), S_OK);
    // Types 7 last: it ends the session.
    StatusPacket down = MakeStatusPacket(STATUS_SHUTDOWN, 9, 0, 0, 0, 0);
    ASSERT_EQ(s.server.SendStatus(down, false), S_OK);

    for (TestView* v : {&a, &b}) {
        ASSERT_TRUE(v->inbox.WaitFor([](const Received& r) { return IsStatus(r, STATUS_SHUTDOWN); }));
        const std::vector<Received> got = v->inbox.All();
        ASSERT_EQ(got.size(), 9u);
        for (std::size_t i = 0; i < 6; ++i) {
            EXPECT_EQ(got[i].data, sent[i]) << i;
            EXPECT_TRUE(got[i].guaranteed) << i;
        }
        EXPECT_EQ(got[6].data, Bytes(reinterpret_cast<const std::uint8_t*>(&chat),
                                     reinterpret_cast<const std::uint8_t*>(&chat) + 82));
        EXPECT_FALSE(got[6].guaranteed);
        EXPECT_EQ(got[7].data, Bytes(reinterpret_cast<const std::uint8_t*>(&projectile),
                                     reinterpret_cast<const std::uint8_t*>(&projectile) + 82));
        EXPECT_TRUE(got[7].guaranteed);
        EXPECT_EQ(got[8].data, StatusBytes(down));
        EXPECT_TRUE(got[8].guaranteed);
    }
    EXPECT_NE(s.client.WaitFor("] --- Incoming message from IVR:  52", 5000), npos);
    EXPECT_NE(s.client.WaitFor("         hello views\n", 5000), npos);
    EXPECT_NE(s.client.WaitFor("] Was player number:  4\n", 5000), npos);
    EXPECT_NE(s.client.WaitFor("] Player logged off:  4\n", 5000), npos);
    EXPECT_NE(s.client.WaitFor("[Error!] Server is shutting down, please reconnect in a few minutes...\n", 5000), npos);
    // Position and velocity reports reach the log.
    EXPECT_TRUE(FileHas(s.scratch, "logfile.txt", "2fS x3.000 y-2.250 z3.000 4@4002.000\r\n"));
    EXPECT_TRUE(FileHas(s.scratch, "logfile.txt", "4fS i6.000 j-2.250 k3.000 @4004.000\r\n"));

    // After the shut-down notice nothing more reaches the views, key '4' included.
    a.inbox.Clear();
    s.client.Type("4");
    ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(STATUS_POSITION, 4, 1, 1, 1, 1), true), S_OK);
    // Still kept and logged: a ground radius under 1000 is stored as 2939.601.
    ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(STATUS_VELOCITY, 4, 1, 1, 1, 0), true), S_OK);
    EXPECT_TRUE(FileHas(s.scratch, "logfile.txt", "4fS i1.000 j1.000 k1.000 @2939.601\r\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(a.inbox.All().empty());
    s.Leave();
    EXPECT_TRUE(a.inbox.All().empty());
}

TEST(ClientSession, RegistrationSlotsPropulsionAndLeaveNotices)
{
    Session s;
    ASSERT_TRUE(s.Up()) << s.client.Output();
    TestView pilot, second, third, fourth;
    ASSERT_TRUE(s.Attach(pilot, true));
    // Registration relayed unchanged to the server, guaranteed.
    Received reg;
    ASSERT_TRUE(s.server.inbox.WaitFor([](const Received& r) { return IsStatus(r, STATUS_SHUTDOWN); }, 3000, &reg));
    EXPECT_TRUE(reg.guaranteed);
    EXPECT_EQ(reg.Status().X, 1.0f);
    EXPECT_EQ(reg.Status().Y, 142.0f);
    EXPECT_EQ(reg.Status().Z, 1.0f);
    EXPECT_EQ(reg.Status().W, 1.0f);

    // A second view asking for propulsion is refused and gets no slot.
    ASSERT_TRUE(s.Attach(second, true));
    ASSERT_EQ(second.inbox.All().size(), 1u);
    EXPECT_EQ(second.inbox.All()[0].data, StatusBytes(MakeStatusPacket(0, 255, 0, 0, 0, 0)));
    EXPECT_NE(s.client.WaitFor("] Propulsion already enabled through another peer!\n", 5000), npos);

    // Without propulsion a view gets the second slot; a fourth is one too many.
    ASSERT_TRUE(s.Attach(third, false));
    EXPECT_TRUE(IsStatus(third.inbox.All().back(), STATUS_SETUP_COMPLETE));
    EXPECT_NE(s.client.WaitFor("] Peer program application instance assigned slot:  1\n", 5000), npos);
    ASSERT_TRUE(s.Attach(fourth, false));
    ASSERT_EQ(fourth.inbox.All().size(), 1u);
    EXPECT_TRUE(IsStatus(fourth.inbox.All()[0], STATUS_CONFIGURATION, VESSEL_NONE));
    EXPECT_NE(s.client.WaitFor("] Too many peer programs currently attached!\n", 5000), npos);

    // Leaving without a slot: a line, nothing to the server.
    s.server.inbox.Clear();
    second.Close();
    ASSERT_NE(s.client.WaitFor("] Could not find the instance of that application!\n"), npos) << s.client.Output();
    // The pilot leaves: propulsion disengaged, slot 0 free, the leave notice.
    pilot.Close();
    ASSERT_NE(s.client.WaitFor("] Peer application instance occupied slot:  0\n"), npos) << s.client.Output();
    EXPECT_NE(s.client.WaitFor("] DPNID peer program disconnected:  ", 5000), npos);
    EXPECT_NE(s.client.WaitFor("] Propulsion now disengaged...\n", 5000), npos);
    Received leave;
    ASSERT_TRUE(s.server.inbox.WaitFor([](const Received& r) { return IsStatus(r, STATUS_SHUTDOWN); }, 3000, &leave));
    EXPECT_TRUE(leave.guaranteed);
    EXPECT_EQ(leave.Status().X, 0.0f);
    EXPECT_EQ(leave.Status().Y, 142.0f);
    EXPECT_EQ(leave.Status().Z, 1.0f);
    EXPECT_EQ(leave.Status().W, 0.0f);
    EXPECT_EQ(StatusOf(s.server.inbox.All(), STATUS_SHUTDOWN).size(), 1u);

    // The freed slot and propulsion are available again.
    TestView next;
    ASSERT_TRUE(s.Attach(next, true));
    EXPECT_TRUE(IsStatus(next.inbox.All().back(), STATUS_SETUP_COMPLETE));
    s.Leave();
}

// Reports count only from a registered view, a view holds one slot at most, and the
// session is reached on the loopback interface only.
TEST(ClientSession, UnregisteredViewsAndRepeatedRegistrationsTakeNothing)
{
    Session s;
    ASSERT_TRUE(s.Up()) << s.client.Output();
    TestView far;
    EXPECT_NE(far.Join(u"127.0.0.2"), S_OK);

    TestView early, other;
    ASSERT_EQ(early.Join(), S_OK);
    // Before registering: every kind of report, marked by X = 7.
    for (std::uint8_t type : {STATUS_VELOCITY, STATUS_CONFIGURATION, STATUS_ATTITUDE, STATUS_RATES, STATUS_POSITION})
        ASSERT_EQ(early.SendStatus(MakeStatusPacket(type, 0, 7.0f, 0.5f, 0.5f, 2950.0f), true), S_OK);
    const EventPacket shot = MakeProjectilePacket(0, ProjectileRecord{{7, 7, 7}, {0, 0, 0}, 1.0f});
    ASSERT_EQ(early.Send(&shot, sizeof shot, true), S_OK);
    ASSERT_EQ(early.Register(false), S_OK);
    ASSERT_TRUE(early.inbox.WaitFor([](const Received& r) { return IsStatus(r, STATUS_SETUP_COMPLETE); }));
    // Registering again takes no second slot: the next view still gets one.
    ASSERT_EQ(early.Register(false), S_OK);
    ASSERT_TRUE(s.Attach(other, false));
    EXPECT_TRUE(IsStatus(other.inbox.All().back(), STATUS_SETUP_COMPLETE));
    EXPECT_NE(s.client.WaitFor("] Peer program application instance assigned slot:  1\n"), npos) << s.client.Output();

    const StatusPacket marker = MakeStatusPacket(STATUS_RATES, 0, 9.0f, 9.0f, 9.0f, 9.0f);
    ASSERT_EQ(early.SendStatus(marker, true), S_OK);
    ASSERT_TRUE(s.server.inbox.WaitFor([](const Received& r) { return IsStatus(r, STATUS_RATES) && r.Status().X == 9.0f; }));
    std::size_t registrations = 0;
    for (const Received& r : s.server.inbox.All()) {
        // No shot (82 bytes) and no report marked 7 passed on.
        EXPECT_TRUE(r.data.size() == 20 && r.Status().X != 7.0f) << r.data.size() << " type " << int(r.data[0]);
        registrations += IsStatus(r, STATUS_SHUTDOWN) ? 1 : 0;
    }
    EXPECT_EQ(registrations, 2u);
    for (const Received& r : other.inbox.All()) EXPECT_NE(r.Status().X, 7.0f) << int(r.data[0]);
    std::size_t dumps = 0;
    for (const Received& r : early.inbox.All()) dumps += IsStatus(r, STATUS_SETUP_COMPLETE) ? 1 : 0;
    EXPECT_EQ(dumps, 1u);
    EXPECT_EQ(s.scratch.ReadFile("logfile.txt").find("4fP"), npos);
    EXPECT_EQ(s.client.Count("] Peer program application instance assigned slot:  "), 2u);
    s.Leave();
}

TEST(ClientSession, ViewReportsGoToTheServerAndTheOtherViewWithTheirModes)
{
    Session s;
    ASSERT_TRUE(s.Up()) << s.client.Output();
    TestView pilot, watcher;
    ASSERT_TRUE(s.Attach(pilot, true));
    ASSERT_TRUE(s.Attach(watcher, false));
    // The registrations reach the server on their own link, maybe after the views' answers.
    ASSERT_TRUE(s.server.inbox.WaitUntil(
        [](const std::vector<Received>& all) { return StatusOf(all, STATUS_SHUTDOWN).size() == 2; }));
    watcher.inbox.Clear();
    pilot.inbox.Clear();
    s.server.inbox.Clear();

    const StatusPacket velocity = MakeStatusPacket(STATUS_VELOCITY, 0, 0.5f, 0.25f, -0.125f, 2939.6f);
    const StatusPacket frames = MakeStatusPacket(STATUS_CONFIGURATION, 0, 60.0f, 0.0f, 1.0f, 0.0f);
    const StatusPacket attitude = MakeStatusPacket(STATUS_ATTITUDE, 0, 0.0f, 0.6f, 0.0f, 0.8f);
    const StatusPacket rates = MakeStatusPacket(STATUS_RATES, 0, 0.01f, 0.02f, 0.03f, 150.0f);
    const StatusPacket position = MakeStatusPacket(STATUS_POSITION, 0, 100.0f, 200.0f, 2900.0f, 150.0f);
    for (const StatusPacket& p : {velocity, frames, attitude, rates, position}) ASSERT_EQ(pilot.SendStatus(p, true), S_OK);
    ProjectileRecord shot{{1, 2, 3}, {0.1f, 0.2f, 0.3f}, 150.0f};
    const EventPacket projectile = MakeProjectilePacket(0, shot);
    ASSERT_EQ(pilot.Send(&projectile, sizeof projectile, true), S_OK);
    const EventPacket chat = MakeChatPacket(0, "ignored");
    ASSERT_EQ(pilot.Send(&chat, sizeof chat, true), S_OK);
    const StatusPacket marker = MakeStatusPacket(STATUS_RATES, 0, 9.0f, 9.0f, 9.0f, 9.0f);
    ASSERT_EQ(pilot.SendStatus(marker, true), S_OK);

    auto sameBytes = [](const Received& r, const void* p, std::size_t n) {
        return r.data.size() == n && std::memcmp(r.data.data(), p, n) == 0;
    };
    ASSERT_TRUE(s.server.inbox.WaitFor([&](const Received& r) { return sameBytes(r, &marker, 20); }));
    // To the server: everything but the position and the chat line, unchanged.
    std::vector<Received> toServer;
    for (const Received& r : s.server.inbox.All()) {
        if (!(r.data.size() == 20 && r.data[0] == STATUS_VELOCITY && r.Status().Y == 0.0f && r.Status().X == 0.0f))
            toServer.push_back(r);  // (skip the client's own once-a-second reports)
    }
    std::vector<Received> relayed;
    bool velocityRelayed = false;
    for (const Received& r : toServer) {
        if (r.data.size() == 20 && (r.data[0] == STATUS_POSITION || r.data[0] == STATUS_VELOCITY) &&
            !sameBytes(r, &velocity, 20))
            continue;  // own reports
        if (sameBytes(r, &velocity, 20)) {
            // After the relay, the own report of the view's velocity has the same bytes.
            if (velocityRelayed) continue;
            velocityRelayed = true;
        }
        relayed.push_back(r);
    }
    ASSERT_EQ(relayed.size(), 6u);
    EXPECT_TRUE(sameBytes(relayed[0], &velocity, 20));
    EXPECT_FALSE(relayed[0].guaranteed);
    EXPECT_TRUE(sameBytes(relayed[1], &frames, 20));
    EXPECT_FALSE(relayed[1].guaranteed);
    EXPECT_TRUE(sameBytes(relayed[2], &attitude, 20));
    EXPECT_FALSE(relayed[2].guaranteed);
    EXPECT_TRUE(sameBytes(relayed[3], &rates, 20));
    EXPECT_FALSE(relayed[3].guaranteed);
    EXPECT_TRUE(sameBytes(relayed[4], &projectile, 82));
    EXPECT_TRUE(relayed[4].guaranteed);
    EXPECT_TRUE(sameBytes(relayed[5], &marker, 20));

    // To the other view: position, velocity, attitude, rates with the own vessel number.
    ASSERT_TRUE(watcher.inbox.WaitUntil([](const std::vector<Received>& all) { return all.size() >= 5; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::vector<Received> got = watcher.inbox.All();
    ASSERT_EQ(got.size(), 5u);
    auto withOwn = [](StatusPacket p) {
        p.Vessel = kOwn;
        return StatusBytes(p);
    };
    EXPECT_EQ(got[0].data, withOwn(velocity));
    EXPECT_FALSE(got[0].guaranteed);
    EXPECT_EQ(got[1].data, withOwn(attitude));
    EXPECT_TRUE(got[1].guaranteed);
    EXPECT_EQ(got[2].data, withOwn(rates));
    EXPECT_TRUE(got[2].guaranteed);
    EXPECT_EQ(got[3].data, withOwn(position));
    EXPECT_FALSE(got[3].guaranteed);
    EXPECT_EQ(got[4].data, withOwn(marker));
    // Nothing comes back to the sender.
    EXPECT_TRUE(pilot.inbox.All().empty());
    EXPECT_TRUE(FileHas(s.scratch, "logfile.txt", "4fP i0.500 j0.250 k-0.125 @2939.600\r\n"));
    s.Leave();
}

TEST(ClientSession, ReportsTheOwnVesselOnceASecond)
{
    Session s;
    ASSERT_TRUE(s.Up()) << s.client.Output();
    s.server.inbox.Clear();
    std::this_thread::sleep_for(std::chrono::milliseconds(2600));
    std::vector<Received> reports;
    for (const Received& r : s.server.inbox.All()) {
        if (IsStatus(r, STATUS_VELOCITY) || IsStatus(r, STATUS_POSITION)) reports.push_back(r);
    }
    ASSERT_GE(reports.size(), 4u);
    ASSERT_LE(reports.size(), 6u);
    for (std::size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].data[0], i % 2 == 0 ? STATUS_VELOCITY : STATUS_POSITION) << i;
        EXPECT_FALSE(reports[i].guaranteed);
    }
    s.Leave();
}

TEST(ClientSession, ConsoleKeys)
{
    Session s;
    ASSERT_TRUE(s.Up()) << s.client.Output();
    TestView view;
    ASSERT_TRUE(s.Attach(view, true));
    view.inbox.Clear();
    s.server.inbox.Clear();

    // ENTER: a chat line to the server and the views.
    s.client.Type("\nhello universe\n");
    ASSERT_NE(s.client.WaitFor("] Message sent successfully!\n"), npos) << s.client.Output();
    EXPECT_NE(s.client.WaitFor("> hello universe\n", 5000), npos);
    Received chat;
    ASSERT_TRUE(s.server.inbox.WaitFor([](const Received& r) { return r.data.size() == 82; }, 3000, &chat));
    EXPECT_FALSE(chat.guaranteed);
    EXPECT_EQ(chat.data[0], EVENT_CHAT);
    EXPECT_EQ(chat.data[1], kOwn);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(chat.data.data() + 2)), "hello universe");
    ASSERT_TRUE(view.inbox.WaitFor([](const Received& r) { return r.data.size() == 82; }, 3000, &chat));
    EXPECT_FALSE(chat.guaranteed);
    // An empty line is aborted; a long one is cut to 79 characters.
    s.client.Type("\n\n");
    ASSERT_NE(s.client.WaitFor("] Message aborted...\n"), npos);
    s.server.inbox.Clear();
    s.client.Type("\n" + std::string(100, 'z') + "\n");
    ASSERT_TRUE(s.server.inbox.WaitFor([](const Received& r) { return r.data.size() == 82; }, 3000, &chat));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(chat.data.data() + 2)), std::string(79, 'z'));

    // '2': statistics with the server line, one peer line and the vessel table.
    const std::size_t from = s.client.Output().size();
    s.client.Type("2");
    ASSERT_NE(s.client.WaitFor("\n# ! xposition  yposition  zposition    p, r, y, w   Altitude MSL/AGL\n", 5000, from),
              npos);
    ASSERT_NE(s.client.WaitFor("\n7 0 ", 5000, from), npos);
    const std::string stats = s.client.Output().substr(from);
    EXPECT_NE(stats.find("\nUniverse time: 5:"), npos) << stats;
    EXPECT_NE(stats.find("\nDPNID   PingMS CurBPS MaxBPS SntGPk SntPck PckTry PckDrp RcvGPk RcvPck RcvMsg\nServer  "),
              npos);
    const std::size_t serverRow = stats.find("\nServer  ");
    const std::size_t peerRow = stats.find('\n', serverRow + 1) + 1;
    EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(stats[peerRow]))) << stats;
    EXPECT_NE(stats.find("\n2 1 "), npos);  // the own vessel is present

    // '3' twice.
    s.client.Type("3");
    ASSERT_NE(s.client.WaitFor("] Verbose ON!\n"), npos);
    s.client.Type("3");
    ASSERT_NE(s.client.WaitFor("] Verbose OFF\n"), npos);

    // '4': velocity then position of every other vessel, guaranteed.
    view.inbox.Clear();
    s.client.Type("4");
    ASSERT_TRUE(view.inbox.WaitUntil([](const std::vector<Received>& all) { return all.size() >= 14; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::vector<std::pair<int, int>> order;
    for (const Received& r : view.inbox.All()) {
        EXPECT_TRUE(r.guaranteed);
        if (r.data.size() == 20) order.emplace_back(r.data[0], r.data[1]);
    }
    std::vector<std::pair<int, int>> expected;
    for (int i = 0; i < 8; ++i) {
        if (i == kOwn) continue;
        expected.emplace_back(4, i);
        expected.emplace_back(2, i);
    }
    EXPECT_EQ(order, expected);

    // '6' switches system 10 of the sample ship, the landing lights, off and on
    // again; the key prints nothing itself, the next tick reports the change.
    std::size_t before = s.client.Output().size();
    s.client.Type("6");
    ASSERT_NE(s.client.WaitFor("Lost power: Landing Lights\n", 5000, before), npos) << s.client.Output().substr(before);
    before = s.client.Output().size();
    s.client.Type("6");
    ASSERT_NE(s.client.WaitFor("Resumed operation: Landing Lights\n", 5000, before), npos)
        << s.client.Output().substr(before);
    // Lower case and other keys do nothing visible: no event line and no prompt before
    // the next key's answer.
    before = s.client.Output().size();
    s.client.Type("a53");
    const std::size_t verbose = s.client.WaitFor("] Verbose ON!\n", 5000, before);
    ASSERT_NE(verbose, npos);
    const std::string between = s.client.Output().substr(before, verbose - before);
    EXPECT_EQ(between.find("> "), npos) << between;
    EXPECT_EQ(between.find("[0"), between.rfind("[0")) << between;  // only the verbose line's own
    s.client.Type("3");
    ASSERT_NE(s.client.WaitFor("] Verbose OFF\n", 5000, verbose), npos);

    // '1' leaves; the views are told.
    view.inbox.Clear();
    s.client.Type("1");
    ASSERT_NE(s.client.WaitFor("\nPress any key to exit...\n"), npos);
    ASSERT_TRUE(view.inbox.WaitFor([](const Received& r) { return IsStatus(r, STATUS_SHUTDOWN, 0); }));
    EXPECT_TRUE(view.inbox.All().back().guaranteed);
    s.client.Type("x");
    EXPECT_EQ(s.client.WaitExit(), 0);
}

// The user leaves while the server floods the client with position reports: every
// one of them is logged whole or not at all, and the process ends cleanly (under
// ThreadSanitizer too: the close of the log is ordered with the handlers' writes).
TEST(ClientSession, ExitUnderAFloodOfPositionReports)
{
    Session s;
    ASSERT_TRUE(s.Up()) << s.client.Output();
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        for (int i = 0; !stop.load(); ++i) {
            s.server.SendStatus(MakeStatusPacket(STATUS_POSITION, 4, 1.0f, 2.0f, 3.0f, 5.0f), false);
            if (i % 20 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const bool flowing = FileHas(s.scratch, "logfile.txt", "2fS x1.000 y2.000 z3.000 4@5.000\r\n");
    s.client.Type("\x1b");
    const bool waiting = s.client.WaitFor("Press any key to exit...") != npos;
    s.client.Type(" ");
    const int status = s.client.WaitExit();
    stop.store(true);
    flood.join();
    ASSERT_TRUE(flowing);
    ASSERT_TRUE(waiting) << s.client.Output();
    EXPECT_EQ(status, 0) << s.client.Output();
    const std::string log = s.scratch.ReadFile("logfile.txt");
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
}

// Configured a second and a half before the hour: the console loop rolls the hour
// once the universe seconds pass 3600, and the seconds start again from 0.
TEST(ClientSession, TheConsoleLoopRollsTheUniverseHour)
{
    ScriptedServer::Options o;
    o.hours = 5.0f;
    o.seconds = 3598.5f;
    Session s(o);
    ASSERT_TRUE(s.Up()) << s.client.Output();
    std::string stats;
    for (int i = 0; i < 40 && stats.find("\nUniverse time: 6:") == npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        stats = Statistics(s.client);
    }
    const std::size_t at = stats.find("\nUniverse time: 6:");
    ASSERT_NE(at, npos) << stats;
    const double seconds = std::atof(stats.c_str() + at + std::strlen("\nUniverse time: 6:"));
    EXPECT_GE(seconds, 0.0);
    EXPECT_LT(seconds, 11.0);
    s.Leave();
}

TEST(ClientSession, LostServerSessionTellsTheViewsAndKeepsRunning)
{
    Session s;
    ASSERT_TRUE(s.Up()) << s.client.Output();
    TestView view;
    ASSERT_TRUE(s.Attach(view, false));
    view.inbox.Clear();
    ASSERT_EQ(s.server.DropPlayer(), S_OK);
    ASSERT_NE(s.client.WaitFor("[Error!] The connection to the server has been lost!\n"), npos);
    ASSERT_TRUE(view.inbox.WaitFor([](const Received& r) { return IsStatus(r, STATUS_SHUTDOWN, 0); }));
    EXPECT_EQ(view.inbox.All().front().data, StatusBytes(MakeStatusPacket(7, 0, 0, 0, 0, 0)));
    // Still answering keys; nothing more to the views.
    view.inbox.Clear();
    s.client.Type("3");
    ASSERT_NE(s.client.WaitFor("] Verbose ON!\n"), npos);
    s.client.Type("4");
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_TRUE(view.inbox.All().empty());
    // A chat line cannot reach the server now: its error line, and no success line.
    const std::size_t from = s.client.Output().size();
    s.client.Type("\nanyone there?\n");
    ASSERT_NE(s.client.WaitFor("[Error!] Failed sending data to server:  ", 5000, from), npos) << s.client.Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(s.client.Output().find("Message sent successfully!", from), npos);
    s.Leave();
}

TEST(ClientSession, WithTheStandInServerDronesAndChatReachTheViews)
{
    UniverseStandin::Options o;
    o.log = nullptr;
    o.keepLog = true;
    UniverseStandin standin(o);
    ASSERT_EQ(standin.Start(), S_OK);
    Scratch scratch;
    ClientProcess client;
    ASSERT_TRUE(client.Start(scratch));
    ASSERT_NE(client.WaitFor("Ready to host peer programs...\n", 15000), npos) << client.Output();
    TestView view;
    ASSERT_EQ(view.Join(), S_OK);
    ASSERT_EQ(view.Register(true), S_OK);
    // Drone positions arrive relayed, guaranteed.
    Received drone;
    ASSERT_TRUE(view.inbox.WaitFor([](const Received& r) { return IsStatus(r, STATUS_POSITION, 7) && r.Status().X != 0; },
                                   5000, &drone));
    EXPECT_TRUE(drone.guaranteed);
    ASSERT_TRUE(standin.Command("chat greetings pilot"));
    ASSERT_NE(client.WaitFor("         greetings pilot\n"), npos) << client.Output();
    EXPECT_NE(client.WaitFor("] --- Incoming message from IVR:  529001\n", 5000), npos);
    EXPECT_NE(client.WaitFor("] Was player number:  7\n", 5000), npos);
    ASSERT_TRUE(view.inbox.WaitFor([](const Received& r) { return r.data.size() == 82 && r.data[0] == 0; }));
    // The view's registration reached the server, guaranteed.
    bool seen = false;
    for (int i = 0; i < 50 && !seen; ++i) {
        for (const std::string& line : standin.LogLines())
            seen = seen || (line.find("recv guaranteed     player") != npos &&
                            line.find("StatusPacket type 7 byte1 0 X 1.000 Y 142.000 Z 1.000 W 1.000") != npos);
        if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(seen);
    ASSERT_TRUE(standin.Command("shutdown"));
    ASSERT_NE(client.WaitFor("[Error!] Server is shutting down, please reconnect in a few minutes...\n"), npos);
    ASSERT_TRUE(view.inbox.WaitFor([](const Received& r) { return IsStatus(r, STATUS_SHUTDOWN); }));
    LeaveWithEscape(client);
}

TEST(ClientSession, HostileTrafficLeavesTheClientUpAndRelaying)
{
    Session s;
    ASSERT_TRUE(s.Up()) << s.client.Output();
    TestView view;
    ASSERT_TRUE(s.Attach(view, true));
    view.inbox.Clear();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();

    // Every bad vessel number on every type that indexes with it.
    for (std::uint8_t type : {0, 1, 2, 4, 5, 6, 8}) {
        for (int vessel : {8, 9, 100, 254, 255}) {
            if (type == 0 && vessel == 255) continue;  // the refusal, below
            ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(type, static_cast<std::uint8_t>(vessel), 1, 2, 3, 4), true),
                      S_OK);
        }
    }
    for (int vessel : {8, 200, 255}) {
        EventPacket e = MakeChatPacket(static_cast<std::uint8_t>(vessel), "bad vessel");
        ASSERT_EQ(s.server.Send(&e, sizeof e, true), S_OK);
        e.Kind = EVENT_PROJECTILE;
        ASSERT_EQ(s.server.Send(&e, sizeof e, true), S_OK);
    }
    // Unknown types and kinds, and every odd size.
    for (int type : {9, 10, 127, 255}) ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(type, 1, 0, 0, 0, 0), true), S_OK);
    EventPacket odd = MakeChatPacket(1, "kind 1");
    odd.Kind = 1;
    ASSERT_EQ(s.server.Send(&odd, sizeof odd, true), S_OK);
    std::vector<std::uint8_t> junk(300);
    for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<std::uint8_t>(i * 37 + 11);
    for (DWORD size : {1u, 19u, 21u, 81u, 83u, 300u}) ASSERT_EQ(s.server.Send(junk.data(), size, true), S_OK);
    // NaN and huge floats with valid vessel numbers.
    for (std::uint8_t type : {1, 2, 4, 6, 8}) {
        ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(type, 3, nan, inf, -inf, nan), true), S_OK);
        ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(type, 3, 3e38f, -3e38f, 1e30f, 3e38f), true), S_OK);
    }
    // Chat without a NUL, and a short chat packet.
    EventPacket full{};
    full.Kind = EVENT_CHAT;
    full.Vessel = 3;
    std::memset(full.Payload, 'Q', sizeof full.Payload);
    ASSERT_EQ(s.server.Send(&full, sizeof full, true), S_OK);
    const std::uint8_t shortChat[5] = {0, 3, 'h', 'i', '!'};
    ASSERT_EQ(s.server.Send(shortChat, sizeof shortChat, true), S_OK);
    // A refusal after the start: an error line, no change.
    ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(0, 255, 0, 0, 0, 0), true), S_OK);
    // Then valid traffic.
    const StatusPacket good = MakeStatusPacket(STATUS_POSITION, 6, 10.0f, 20.0f, 3000.0f, 5.0f);
    ASSERT_EQ(s.server.SendStatus(good, true), S_OK);

    ASSERT_TRUE(view.inbox.WaitFor([&](const Received& r) { return r.data == StatusBytes(good); }, 5000))
        << s.client.Output();
    // Only vessels 0-7 were relayed; the chat packets went on as 82 bytes.
    for (const Received& r : view.inbox.All()) {
        ASSERT_GE(r.data.size(), 20u);
        EXPECT_LT(r.data[1], 8) << int(r.data[0]);
        EXPECT_TRUE(r.data.size() == 20 || r.data.size() == 82) << r.data.size();
        if (r.data.size() == 20) {
            EXPECT_LE(r.data[0], 8);
            EXPECT_NE(r.data[0], STATUS_CONFIGURATION);
            EXPECT_NE(r.data[0], STATUS_SETUP_COMPLETE);
        }
    }
    EXPECT_NE(s.client.WaitFor("\n         " + std::string(80, 'Q') + "\n", 5000), npos);
    EXPECT_NE(s.client.WaitFor("\n         hi!\n", 5000), npos);
    const std::string out = s.client.Output();
    EXPECT_EQ(out.find("bad vessel"), npos);
    EXPECT_EQ(out.find("our vessel number:  8"), npos);
    EXPECT_EQ(out.find("our vessel number:  254"), npos);
    EXPECT_NE(s.client.WaitFor("[Error!] Maximum number of players, please try again soon!  255\n", 5000), npos);
    EXPECT_EQ(out.find("runtime error"), npos) << out;

    // From the view: odd sizes, a registration with wild floats.
    for (DWORD size : {1u, 2u, 19u, 21u, 300u}) ASSERT_EQ(view.Send(junk.data(), size, true), S_OK);
    TestView wild;
    ASSERT_EQ(wild.Join(), S_OK);
    ASSERT_EQ(wild.SendStatus(MakeStatusPacket(STATUS_SHUTDOWN, 0, 1.0f, nan, 1e30f, 0.0f), true), S_OK);
    ASSERT_TRUE(wild.inbox.WaitFor([](const Received& r) { return IsStatus(r, STATUS_SETUP_COMPLETE); }));
    s.server.inbox.Clear();
    wild.Close();
    Received leave;
    // (the relayed registration, X 1.0, may still be on its way)
    ASSERT_TRUE(s.server.inbox.WaitFor(
        [](const Received& r) { return IsStatus(r, STATUS_SHUTDOWN) && r.Status().X == 0.0f; }, 5000, &leave));
    EXPECT_EQ(leave.Status().Z, 0.0f);  // out-of-range propulsion value stored as 0
    EXPECT_TRUE(std::isnan(leave.Status().Y));

    // Still up: statistics print and the client leaves normally.
    const std::size_t from = s.client.Output().size();
    s.client.Type("2");
    ASSERT_NE(s.client.WaitFor("\n7 ", 5000, from), npos);
    s.Leave();
    EXPECT_EQ(s.client.Output().find("AddressSanitizer"), npos);
}

// Altitudes above the planet's radius (MSL) and above the ground (AGL) of vessel i.
bool Altitudes(const std::string& stats, int i, float* msl, float* agl)
{
    const std::size_t at = stats.find("\n" + std::to_string(i) + " ");
    if (at == npos) return false;
    const std::size_t end = stats.find('\n', at + 1);
    const std::string row = stats.substr(at + 1, end - at - 1);
    const std::size_t space = row.rfind(' ');
    return space != npos && std::sscanf(row.c_str() + space + 1, "%f/%f", msl, agl) == 2;
}

TEST(ClientSession, LogOffKeepsTheGroundRadiusOfALandedVesselOnly)
{
    Session s;
    ASSERT_TRUE(s.Up()) << s.client.Output();
    // Vessel 4 below its ground (lands at the pole), vessel 5 far above it.
    for (std::uint8_t v : {4, 5}) {
        ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(STATUS_PLAYER_ONLINE, v, 0, 0, 0, 100.0f + v), true), S_OK);
        ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(STATUS_VELOCITY, v, 0, 0, 0, 3000.0f), true), S_OK);
    }
    ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(STATUS_POSITION, 4, 0, 0, -2990.0f, 100.0f), true), S_OK);
    ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(STATUS_POSITION, 5, 0, 0, -5000.0f, 100.0f), true), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    float msl = 0, agl = 0;
    std::string stats = Statistics(s.client);
    ASSERT_TRUE(Altitudes(stats, 4, &msl, &agl)) << stats;
    EXPECT_NEAR(msl, 60.4f, 0.002f) << stats;
    EXPECT_NEAR(agl, 0.0f, 0.002f) << stats;

    for (std::uint8_t v : {4, 5})
        ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(STATUS_PLAYER_OFFLINE, v, 0, 0, 0, 0), true), S_OK);
    ASSERT_NE(s.client.WaitFor("] Player logged off:  5\n"), npos) << s.client.Output();
    stats = Statistics(s.client);
    EXPECT_NE(stats.find("\n4 0 "), npos) << stats;
    EXPECT_NE(stats.find("\n5 0 "), npos) << stats;
    // Landed: the ground stays where it was.
    ASSERT_TRUE(Altitudes(stats, 4, &msl, &agl)) << stats;
    EXPECT_NEAR(agl, 0.0f, 0.002f) << stats;
    // Airborne: the ground drops to 2939.604 under it.
    ASSERT_TRUE(Altitudes(stats, 5, &msl, &agl)) << stats;
    EXPECT_GT(msl, 2000.0f) << stats;
    EXPECT_NEAR(msl - agl, 0.004f, 0.0015f) << stats;
    s.Leave();
}

TEST(ClientSession, AnyRegisteredViewLeavingDisengagesPropulsion)
{
    Session s;
    ASSERT_TRUE(s.Up()) << s.client.Output();
    TestView pilot, watcher, next;
    ASSERT_TRUE(s.Attach(pilot, true));
    ASSERT_TRUE(s.Attach(watcher, false));
    ASSERT_TRUE(IsStatus(watcher.inbox.All().back(), STATUS_SETUP_COMPLETE));
    // The watcher registered with Z 1.0 like every view: its leaving disengages.
    watcher.Close();
    ASSERT_NE(s.client.WaitFor("] Peer application instance occupied slot:  1\n"), npos) << s.client.Output();
    EXPECT_NE(s.client.WaitFor("] Propulsion now disengaged...\n", 3000), npos) << s.client.Output();
    // So the next view asking for propulsion gets it and the free slot.
    ASSERT_TRUE(s.Attach(next, true));
    EXPECT_TRUE(IsStatus(next.inbox.All().back(), STATUS_SETUP_COMPLETE));
    // (the view may hear the answer before the line is read from the client's output)
    const std::string engaged = "] Propulsion now engaged via connected peer...\n";
    const std::size_t first = s.client.WaitFor(engaged);
    ASSERT_NE(first, npos) << s.client.Output();
    EXPECT_NE(s.client.WaitFor(engaged, 3000, first + 1), npos) << s.client.Output();
    EXPECT_EQ(s.client.Count(engaged), 2u);
    s.Leave();
}

TEST(ClientSession, VerboseTraceTokens)
{
    Session s;
    ASSERT_TRUE(s.Up()) << s.client.Output();
    TestView pilot, watcher;
    ASSERT_TRUE(s.Attach(pilot, true));
    ASSERT_TRUE(s.Attach(watcher, false));
    s.client.Type("3");
    ASSERT_NE(s.client.WaitFor("] Verbose ON!\n"), npos);
    // The line comes just before the switch; the statistics of a later pass after it.
    ASSERT_FALSE(Statistics(s.client).empty());
    std::size_t from = s.client.Output().size();

    // From the server: type and vessel of a status message, kind and vessel of an event.
    ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(STATUS_ATTITUDE, 4, 0, 0, 0, 1), true), S_OK);
    const EventPacket chat = MakeChatPacket(5, "traced");
    ASSERT_EQ(s.server.Send(&chat, sizeof chat, true), S_OK);
    EXPECT_NE(s.client.WaitFor("6f4 ", 5000, from), npos) << s.client.Output().substr(from);
    EXPECT_NE(s.client.WaitFor("0Bf5 ", 5000, from), npos) << s.client.Output().substr(from);
    // From the pilot: relays of velocity and position to the other view (slot 1),
    // not of attitude; events with their kind and vessel.
    ASSERT_EQ(pilot.SendStatus(MakeStatusPacket(STATUS_ATTITUDE, 0, 0, 0, 0, 1), true), S_OK);
    ASSERT_EQ(pilot.SendStatus(MakeStatusPacket(STATUS_VELOCITY, 0, 0.1f, 0, 0, 2939.6f), true), S_OK);
    ASSERT_EQ(pilot.SendStatus(MakeStatusPacket(STATUS_POSITION, 0, 3000.0f, 0, 0, 100.0f), true), S_OK);
    const EventPacket shot = MakeProjectilePacket(3, ProjectileRecord{{1, 2, 3}, {4, 5, 6}, 7});
    ASSERT_EQ(pilot.Send(&shot, sizeof shot, true), S_OK);
    EXPECT_NE(s.client.WaitFor("4fCtP1 ", 5000, from), npos) << s.client.Output().substr(from);
    EXPECT_NE(s.client.WaitFor("2fCtP1 ", 5000, from), npos) << s.client.Output().substr(from);
    EXPECT_NE(s.client.WaitFor("2Bf3 ", 5000, from), npos) << s.client.Output().substr(from);
    EXPECT_EQ(s.client.Output().find("CtP0 ", from), npos);
    EXPECT_EQ(s.client.Output().find("6fCtP", from), npos);

    // Off again: no more tokens (after a later pass, as above).
    s.client.Type("3");
    ASSERT_NE(s.client.WaitFor("] Verbose OFF\n", 5000, from), npos);
    ASSERT_FALSE(Statistics(s.client).empty());
    from = s.client.Output().size();
    watcher.inbox.Clear();
    ASSERT_EQ(s.server.SendStatus(MakeStatusPacket(STATUS_ATTITUDE, 4, 0, 0, 0.6f, 0.8f), true), S_OK);
    ASSERT_EQ(pilot.SendStatus(MakeStatusPacket(STATUS_VELOCITY, 0, 0.1f, 0, 0, 2939.6f), true), S_OK);
    // Relayed guaranteed, and handled after the velocity (whose relay may be dropped).
    ASSERT_EQ(pilot.SendStatus(MakeStatusPacket(STATUS_ATTITUDE, 0, 0, 0, 0.6f, 0.8f), true), S_OK);
    ASSERT_TRUE(watcher.inbox.WaitFor(
        [](const Received& r) { return IsStatus(r, STATUS_ATTITUDE, kOwn) && r.Status().Z == 0.6f; }));
    ASSERT_TRUE(watcher.inbox.WaitFor(
        [](const Received& r) { return IsStatus(r, STATUS_ATTITUDE, 4) && r.Status().Z == 0.6f; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::string after = s.client.Output().substr(from);
    EXPECT_EQ(after.find("6f4 "), npos) << after;
    EXPECT_EQ(after.find("CtP"), npos) << after;
    s.Leave();
}

}  // namespace
