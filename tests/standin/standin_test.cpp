#include "tools/universe-standin/standin.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>

#include "client/wire.h"
#include "tests/net/session_helpers.h"
#include "view/atmosphere.h"

using namespace nettest;

namespace {

std::vector<StatusPacket> Statuses(Recorder& rec)
{
    std::vector<StatusPacket> out;
    for (const Event& e : rec.Take()) {
        StatusPacket p;
        if (e.id == DPN_MSGID_RECEIVE && ReadStatusPacket(e.data.data(), e.data.size(), &p)) out.push_back(p);
    }
    return out;
}

std::vector<EventPacket> Events(Recorder& rec)
{
    std::vector<EventPacket> out;
    for (const Event& e : rec.Take()) {
        EventPacket p;
        if (e.id == DPN_MSGID_RECEIVE && ReadEventPacket(e.data.data(), e.data.size(), &p)) out.push_back(p);
    }
    return out;
}

bool WaitForStatus(Recorder& rec, std::uint8_t type, std::size_t n = 1, int ms = 3000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        std::size_t k = 0;
        for (const StatusPacket& p : Statuses(rec)) k += p.Type == type ? 1 : 0;
        if (k >= n) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

UniverseStandin::Options Quiet(int drones = 2)
{
    UniverseStandin::Options o;
    o.drones = drones;
    o.log = nullptr;
    o.keepLog = true;
    o.startHours = 5;
    o.startSeconds = 100;
    return o;
}

// A console-client-like player: finds the server by enumeration, connects, answers
// its configuration.
struct Player : TestClient {
    StatusPacket config{};

    void Join(float registration = 1.0f)
    {
        ASSERT_EQ(Enum(ServerApplicationGuid, "127.0.0.1", 0, 1), S_OK);
        IDirectPlay8Address* found = rec.FirstSender();
        ASSERT_NE(found, nullptr);
        DPN_APPLICATION_DESC d = Desc(ServerApplicationGuid);
        ASSERT_EQ(client->Connect(&d, found, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, DPNCONNECT_SYNC),
                  S_OK);
        found->Release();
        ASSERT_TRUE(WaitForStatus(rec, STATUS_CONFIGURATION));
        config = Statuses(rec).front();
        ASSERT_EQ(config.Type, STATUS_CONFIGURATION);
        if (config.Vessel == VESSEL_NONE) return;
        ASSERT_TRUE(WaitForStatus(rec, STATUS_SETUP_COMPLETE));
        const float ivr = registration == 1.0f ? config.W : registration;
        const StatusPacket answer = MakeStatusPacket(STATUS_CONFIGURATION, 0, 0, 142.0f, 0, ivr);
        ASSERT_EQ(Send(&answer, sizeof answer, true), S_OK);
    }
};

TEST(Standin, NewPlayerGetsConfigurationOtherVesselsAndCompletion)
{
    UniverseStandin standin(Quiet(2));
    ASSERT_EQ(standin.Start(), S_OK);
    Player p;
    p.Join();
    EXPECT_EQ(p.config.Vessel, 0);
    EXPECT_EQ(p.config.Y, 142.0f);
    EXPECT_EQ(p.config.Z, 5.0f);  // hours
    EXPECT_GE(p.config.X, 100.0f);
    EXPECT_LT(p.config.X, 110.0f);
    EXPECT_EQ(p.config.W, 1001.0f);

    // Its own vessel's 4, 2, 6; per drone 1, 4, 2, 6, 8 in this order, then 3; all guaranteed.
    std::vector<std::uint8_t> types, vessels;
    for (const Event& e : p.rec.Take()) {
        if (e.id != DPN_MSGID_RECEIVE) continue;
        EXPECT_NE(e.flags & DPNRECEIVE_GUARANTEED, 0u);
        types.push_back(e.data[0]);
        vessels.push_back(e.data[1]);
    }
    const std::vector<std::uint8_t> expect = {0, 4, 2, 6, 1, 4, 2, 6, 8, 1, 4, 2, 6, 8, 3};
    ASSERT_EQ(types, expect);
    EXPECT_EQ(vessels[1], 0);
    EXPECT_EQ(vessels[3], 0);
    EXPECT_EQ(vessels[4], 6);
    EXPECT_EQ(vessels[9], 7);
    EXPECT_EQ(standin.PlayerCount(), 1);
}

TEST(Standin, DronesReportCircularOrbitsOnceASecond)
{
    UniverseStandin standin(Quiet(3));
    ASSERT_EQ(standin.Start(), S_OK);
    Player p;
    p.Join();
    const std::size_t before = Statuses(p.rec).size();
    ASSERT_TRUE(WaitForStatus(p.rec, STATUS_POSITION, 4 + 3, 2500));  // initial state + one report each
    const double gm = 0.01127 * 2939.6 * 2939.6;
    int reports = 0;
    const auto all = Statuses(p.rec);
    for (std::size_t i = before; i < all.size(); ++i) {
        const StatusPacket& s = all[i];
        if (s.Type == STATUS_VELOCITY) {
            EXPECT_FLOAT_EQ(s.W, 2939.6f);
        }
        if (s.Type != STATUS_POSITION) continue;
        ++reports;
        EXPECT_GE(s.Vessel, 5);
        const double r = std::sqrt(double(s.X) * s.X + double(s.Y) * s.Y + double(s.Z) * s.Z);
        EXPECT_NEAR(r, 2939.6 + 150 + 60 * (7 - s.Vessel), 0.01);
        EXPECT_NEAR(std::sqrt(gm / r), std::sqrt(gm / r), 1e-9);
    }
    EXPECT_GE(reports, 3);
    // Velocity magnitude is the circular speed.
    for (const StatusPacket& s : all) {
        if (s.Type != STATUS_VELOCITY || s.Vessel == p.config.Vessel) continue;
        const double r = 2939.6 + 150 + 60 * (7 - s.Vessel);
        const double v = std::sqrt(double(s.X) * s.X + double(s.Y) * s.Y + double(s.Z) * s.Z);
        EXPECT_NEAR(v, std::sqrt(gm / r), 1e-3);
    }
}

TEST(Standin, PlayersAreAnnouncedAndTheirReportsChatAndShotsRelayed)
{
    UniverseStandin standin(Quiet(0));
    ASSERT_EQ(standin.Start(), S_OK);
    Player a, b;
    a.Join(4242.0f);
    b.Join();
    EXPECT_EQ(b.config.Vessel, 1);
    EXPECT_EQ(b.config.W, 1002.0f);
    // b learnt about a in its initial state, with a's own registration.
    bool sawA = false;
    for (const StatusPacket& s : Statuses(b.rec)) sawA |= s.Type == STATUS_PLAYER_ONLINE && s.Vessel == 0 && s.W == 4242.0f;
    EXPECT_TRUE(sawA);
    // a hears b come online once b answered.
    ASSERT_TRUE(WaitForStatus(a.rec, STATUS_PLAYER_ONLINE));

    const StatusPacket pos = MakeStatusPacket(STATUS_POSITION, 99, 1, 2, 3, 50);
    ASSERT_EQ(a.Send(&pos, sizeof pos, false), S_OK);
    ASSERT_TRUE(WaitForStatus(b.rec, STATUS_POSITION, 3));  // own and a's start, then the relay
    const std::vector<StatusPacket> seen = Statuses(b.rec);
    const StatusPacket& relayed = seen.back();
    EXPECT_EQ(relayed.Type, STATUS_POSITION);
    EXPECT_EQ(relayed.Vessel, 0);
    EXPECT_EQ(relayed.X, 1.0f);
    EXPECT_EQ(relayed.W, 50.0f);
    const EventPacket chat = MakeChatPacket(77, "hello there");
    ASSERT_EQ(a.Send(&chat, sizeof chat, false), S_OK);
    const EventPacket shot = MakeProjectilePacket(77, ProjectileRecord{{1, 2, 3}, {4, 5, 6}, 7});
    ASSERT_EQ(b.Send(&shot, sizeof shot, true), S_OK);
    ASSERT_TRUE(a.rec.WaitFor(DPN_MSGID_RECEIVE, Statuses(a.rec).size() + 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto bEvents = Events(b.rec);
    auto aEvents = Events(a.rec);
    ASSERT_EQ(bEvents.size(), 2u);  // the chat and its own shot back, in either order
    if (bEvents[0].Kind != EVENT_CHAT) std::swap(bEvents[0], bEvents[1]);
    EXPECT_EQ(bEvents[0].Kind, EVENT_CHAT);
    EXPECT_EQ(bEvents[0].Vessel, 0);
    char text[81];
    ReadChatText(bEvents[0], text);
    EXPECT_STREQ(text, "hello there");
    EXPECT_EQ(bEvents[1].Kind, EVENT_PROJECTILE);
    EXPECT_EQ(bEvents[1].Vessel, 1);
    ASSERT_EQ(aEvents.size(), 1u);  // a's chat is not echoed; b's shot is
    EXPECT_EQ(aEvents[0].Kind, EVENT_PROJECTILE);
    EXPECT_EQ(ReadProjectile(aEvents[0]).LaunchTime, 7.0f);

    // Every received message was logged with its mode.
    bool loggedN = false, loggedG = false;
    for (const std::string& l : standin.LogLines()) {
        loggedN |= l.find("recv non-guaranteed") != std::string::npos && l.find("type 2") != std::string::npos;
        loggedG |= l.find("recv guaranteed") != std::string::npos && l.find("projectile") != std::string::npos;
    }
    EXPECT_TRUE(loggedN);
    EXPECT_TRUE(loggedG);

    // b leaves: a hears the log-off.
    b.client->Close(0);
    ASSERT_TRUE(WaitForStatus(a.rec, STATUS_PLAYER_OFFLINE));
    EXPECT_EQ(standin.PlayerCount(), 1);
}

TEST(Standin, CommandsRefuseShutDownDropChatAndNewerBuild)
{
    UniverseStandin standin(Quiet(1));
    ASSERT_EQ(standin.Start(), S_OK);
    EXPECT_TRUE(standin.Command("refuse"));
    Player refused;
    refused.Join();
    EXPECT_EQ(refused.config.Vessel, VESSEL_NONE);
    EXPECT_EQ(refused.config.X, 0.0f);
    EXPECT_EQ(refused.config.W, 0.0f);

    Player p;
    p.Join();
    EXPECT_EQ(p.config.Vessel, 0);
    EXPECT_EQ(p.config.Y, 142.0f);
    EXPECT_TRUE(standin.Command("newer 150"));
    ASSERT_TRUE(WaitForStatus(p.rec, STATUS_CONFIGURATION, 2));
    const StatusPacket again = Statuses(p.rec).back();
    EXPECT_EQ(again.Vessel, 0);
    EXPECT_EQ(again.Y, 150.0f);
    EXPECT_EQ(again.W, p.config.W);
    Player later;
    later.Join();
    EXPECT_EQ(later.config.Vessel, 1);
    EXPECT_EQ(later.config.Y, 150.0f);

    EXPECT_TRUE(standin.Command("chat  Welcome aboard"));
    ASSERT_TRUE(p.rec.WaitFor(DPN_MSGID_RECEIVE, Statuses(p.rec).size() + 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto ev = Events(p.rec);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].Vessel, 7);
    char text[81];
    ReadChatText(ev[0], text);
    EXPECT_STREQ(text, "Welcome aboard");
    EXPECT_EQ(Events(refused.rec).size(), 0u);  // refused players get nothing more

    EXPECT_TRUE(standin.Command("shutdown"));
    ASSERT_TRUE(WaitForStatus(p.rec, STATUS_SHUTDOWN));
    EXPECT_FALSE(standin.Command("drop 5"));
    EXPECT_FALSE(standin.Command("bogus"));
    EXPECT_TRUE(standin.Command("drop 0"));
    ASSERT_TRUE(p.rec.WaitFor(DPN_MSGID_TERMINATE_SESSION, 1));
}

// A chat line typed on a UTF-8 terminal goes out in Windows-1252, one byte per
// character; 8-bit text that is not UTF-8 is kept as it came.
TEST(Standin, ChatCommandTextGoesOutAsWindows1252)
{
    EXPECT_EQ(UniverseStandin::ChatTextFromCommand("Gr\xC3\xBC\xC3\x9F" "e \xE2\x80\x93 5 \xE2\x82\xAC"),
              "Gr\xFC\xDF" "e \x96 5 \x80");
    // No Windows-1252 byte: a question mark; beyond 16 bits too; controls left out.
    EXPECT_EQ(UniverseStandin::ChatTextFromCommand("ok \xE2\x9C\x93 \xF0\x9F\x9A\x80\r\xC2\x85!"), "ok ? ?!");
    EXPECT_EQ(UniverseStandin::ChatTextFromCommand("caf\xE9 \x80"), "caf\xE9 \x80");  // already 8-bit
    EXPECT_EQ(UniverseStandin::ChatTextFromCommand("\xC0\xAF"), "\xC0\xAF");         // overlong: not UTF-8
    EXPECT_EQ(UniverseStandin::ChatTextFromCommand("\xE2\x82"), "\xE2\x82");         // cut short
    EXPECT_EQ(UniverseStandin::ChatTextForLog("Gr\xFC\xDF" "e \x80"), "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC");
    // Control characters in the log are question marks: no escape sequence reaches a terminal.
    EXPECT_EQ(UniverseStandin::ChatTextForLog("a\x1b[2J\x1b]0;t\x07\rb\x7f\x81\x9d"), "a?[2J?]0;t??b???");

    UniverseStandin standin(Quiet(1));
    ASSERT_EQ(standin.Start(), S_OK);
    Player p;
    p.Join();
    std::string typed = "chat ";
    for (int i = 0; i < 100; ++i) typed += "\xC3\xA9";  // 100 times e acute: 200 bytes typed
    EXPECT_TRUE(standin.Command(typed));
    EXPECT_TRUE(standin.Command("chat na\xC3\xAFve \xE2\x82\xAC" "5"));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    std::vector<EventPacket> ev;
    while (std::chrono::steady_clock::now() < end) {
        std::vector<EventPacket> now = Events(p.rec);
        if (now.size() >= 2) {
            ev = now;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(ev.size(), 2u);
    char text[81];
    EXPECT_EQ(ReadChatText(ev[0], text), CHAT_TEXT_MAX);  // 79 characters, then the NUL
    EXPECT_EQ(std::string(text), std::string(CHAT_TEXT_MAX, '\xE9'));
    ReadChatText(ev[1], text);
    EXPECT_STREQ(text, "na\xEFve \x80" "5");
    bool logged = false;
    for (const std::string& line : standin.LogLines()) {
        logged |= line.find("sent: \"na\xC3\xAFve \xE2\x82\xAC" "5\"") != std::string::npos;
    }
    EXPECT_TRUE(logged);
}

// Commands typed while the stand-in stops (a signal on the main thread) either run
// before the session closes or are refused after.
TEST(Standin, CommandsRacingStopRunOrAreRefused)
{
    for (int round = 0; round < 5; ++round) {
        UniverseStandin standin(Quiet(1));
        ASSERT_EQ(standin.Start(), S_OK);
        Player p;
        p.Join();
        std::atomic<bool> stopped{false};
        std::atomic<int> lateAccepted{0};
        std::thread typist([&] {
            for (;;) {
                const bool after = stopped.load();
                const bool ok = standin.Command(round % 2 == 0 ? "chat hello" : "drop 0");
                if (after && ok) ++lateAccepted;
                if (after) return;
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        standin.Stop();
        stopped = true;
        typist.join();
        EXPECT_EQ(lateAccepted.load(), 0);
    }
}

TEST(Standin, ProgramRunsCommandsFromStandardInput)
{
    int in[2], out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[1]);
        close(out[0]);
        execl(STANDIN_EXE, STANDIN_EXE, "--drones", "2", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    Player p;
    // The program needs a moment to host.
    for (int i = 0; i < 50 && p.config.Type == 0 && p.rec.Count(DPN_MSGID_ENUM_HOSTS_RESPONSE) == 0; ++i) {
        p.Enum(ServerApplicationGuid, "127.0.0.1", 0, 1, 0, 100);
    }
    ASSERT_GT(p.rec.Count(DPN_MSGID_ENUM_HOSTS_RESPONSE), 0u);
    p.Join();
    const char cmd[] = "shutdown\n";
    ASSERT_EQ(write(in[1], cmd, sizeof cmd - 1), static_cast<ssize_t>(sizeof cmd - 1));
    EXPECT_TRUE(WaitForStatus(p.rec, STATUS_SHUTDOWN));
    const char quit[] = "quit\n";
    ASSERT_EQ(write(in[1], quit, sizeof quit - 1), static_cast<ssize_t>(sizeof quit - 1));
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string log;
    char buf[4096];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0) log.append(buf, static_cast<std::size_t>(n));
    EXPECT_NE(log.find("hosting the universe session"), std::string::npos);
    EXPECT_NE(log.find("recv guaranteed"), std::string::npos);
    EXPECT_NE(log.find("shut-down announced"), std::string::npos);
    close(in[1]);
    close(out[0]);
}

}  // namespace

TEST(Standin, JoiningPlayerStartsLandedLevelInDaylightFacingTheSun)
{
    // A universe whose home planet turns once in 86400 s, tilted 0.4091, and a sun at
    // angle 1.2; the other records are left empty (kind 0).
    char dir[] = "/tmp/standin-startXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/universe.dat";
    std::vector<unsigned char> file(999 + 9000, 0);
    auto put = [&](int record, int offset, const void* value, std::size_t size) {
        std::memcpy(file.data() + 999 + 1000 * record + offset, value, size);
    };
    const std::int16_t planet = -1, sun = -7;
    const float angleB = 0.35f, rateB = 6.2831855f / 86400.0f, tilt = 0.4091f, angleA = 1.2f, distance = 100000.0f;
    put(2, 0, &planet, 2);
    put(2, 6, &angleB, 4);
    put(2, 18, &rateB, 4);
    put(2, 30, &tilt, 4);
    put(5, 0, &sun, 2);
    put(5, 2, &angleA, 4);
    put(5, 14, &distance, 4);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(file.data(), 1, file.size(), f), file.size());
    std::fclose(f);

    UniverseStandin::Options o = Quiet(0);
    o.universeFile = path;
    UniverseStandin standin(o);
    ASSERT_EQ(standin.Start(), S_OK);
    Player p;
    p.Join();
    const std::vector<StatusPacket> got = Statuses(p.rec);
    ASSERT_GE(got.size(), 5u);
    ASSERT_EQ(got[1].Type, STATUS_VELOCITY);
    ASSERT_EQ(got[2].Type, STATUS_POSITION);
    ASSERT_EQ(got[3].Type, STATUS_ATTITUDE);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(got[i].Vessel, p.config.Vessel);
    EXPECT_EQ(got[4].Type, STATUS_SETUP_COMPLETE);

    // The sun, worked out with plain trigonometry: the row (0, d, 0) turned about Z by
    // (A - B0) + A, about X by the tilt and about Z against the planet's phase; the
    // sun lies opposite it.
    const double hours = p.config.Z, seconds = got[2].W;
    const double phase = std::fmod((hours * 3600.0 + seconds) * rateB, 2.0 * M_PI);
    const double a = (angleA - angleB) + angleA;
    double x = -std::sin(a), y = std::cos(a) * std::cos(tilt), z = std::cos(a) * std::sin(tilt);
    const double sx = -(x * std::cos(phase) + y * std::sin(phase));
    const double sy = -(-x * std::sin(phase) + y * std::cos(phase));
    const double sz = -z;

    const double px = got[2].X, py = got[2].Y, pz = got[2].Z;
    const double r = std::sqrt(px * px + py * py + pz * pz);
    EXPECT_NEAR(r, 2939.604, 1e-3);
    const double ux = px / r, uy = py / r, uz = pz / r;
    // In daylight: the sun 35 degrees above the horizon, the place fully sunlit.
    EXPECT_NEAR(ux * sx + uy * sy + uz * sz, std::sin(35.0 * M_PI / 180.0), 1e-4);
    const D3DXVECTOR3 sunward(static_cast<float>(sx), static_cast<float>(sy), static_cast<float>(sz));
    EXPECT_EQ(SunlightFactor(D3DXVECTOR3(got[2].X, got[2].Y, got[2].Z), sunward), 1.0f);

    // Standing on the ground that turns about +Z at the planet's rate: w x p.
    EXPECT_NEAR(got[1].X, -rateB * py, 1e-6);
    EXPECT_NEAR(got[1].Y, rateB * px, 1e-6);
    EXPECT_NEAR(got[1].Z, 0.0, 1e-6);
    EXPECT_NEAR(got[1].W, 2939.604f, 1e-3);

    // The ship's axes in the drawn scene (the rows of the inverse attitude matrix):
    // Y away from the ground (-up), Z level toward the sun's side (-sun horizontal).
    const D3DXQUATERNION q(got[3].X, got[3].Y, got[3].Z, got[3].W);
    D3DXMATRIX m, world;
    D3DXMatrixRotationQuaternion(&m, &q);
    ASSERT_NE(D3DXMatrixInverse(&world, nullptr, &m), nullptr);
    EXPECT_NEAR(world._21, -ux, 1e-4);
    EXPECT_NEAR(world._22, -uy, 1e-4);
    EXPECT_NEAR(world._23, -uz, 1e-4);
    EXPECT_NEAR(world._31 * ux + world._32 * uy + world._33 * uz, 0.0, 1e-4);
    EXPECT_NEAR(world._31 * sx + world._32 * sy + world._33 * sz, -std::cos(35.0 * M_PI / 180.0), 1e-4);
    EXPECT_NEAR(D3DXMatrixDeterminant(&world), 1.0, 1e-4);
    std::remove(path.c_str());
    rmdir(dir);
}
