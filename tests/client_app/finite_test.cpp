// Floats that are not numbers, or infinite, from the server and from a view program:
// the message is ignored whole, every vessel stays finite in the log, in what the
// views receive and in the statistics, and valid traffic still flows.
#include "tests/client_app/harness.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>

using namespace apptest;

namespace {

constexpr auto npos = std::string::npos;
constexpr std::uint8_t kOwn = 2;
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

bool FiniteStatus(const Received& r)
{
    if (r.data.size() != 20) return true;
    const StatusPacket p = r.Status();
    return std::isfinite(p.X) && std::isfinite(p.Y) && std::isfinite(p.Z) && std::isfinite(p.W);
}

// Type, vessel, send mode and values of every message in an inbox, one a line.
std::string Describe(const std::vector<Received>& all)
{
    std::string out;
    char line[160];
    for (const Received& r : all) {
        if (r.data.size() == 20) {
            const StatusPacket p = r.Status();
            std::snprintf(line, sizeof line, "type %d vessel %d %s X %g Y %g Z %g W %g\n", p.Type, p.Vessel,
                          r.guaranteed ? "guaranteed" : "unguaranteed", static_cast<double>(p.X),
                          static_cast<double>(p.Y), static_cast<double>(p.Z), static_cast<double>(p.W));
        } else {
            std::snprintf(line, sizeof line, "%zu bytes, first %d\n", r.data.size(),
                          r.data.empty() ? -1 : int(r.data[0]));
        }
        out += line;
    }
    return out;
}

bool NoNonFinite(const std::string& text) { return text.find("nan") == npos && text.find("inf") == npos; }

// Copies of p with one of the fields in `fields` (bit 0 X .. bit 3 W) set to NaN,
// +inf or -inf.
std::vector<StatusPacket> Spoiled(const StatusPacket& p, unsigned fields)
{
    std::vector<StatusPacket> out;
    for (int f = 0; f < 4; ++f) {
        if ((fields & (1u << f)) == 0) continue;
        for (float bad : {kNaN, kInf, -kInf}) {
            StatusPacket q = p;
            float* slot[4] = {&q.X, &q.Y, &q.Z, &q.W};
            *slot[f] = bad;
            out.push_back(q);
        }
    }
    return out;
}


bool Attach(TestView& view, bool propulsion)
{
    if (FAILED(view.Join()) || FAILED(view.Register(propulsion))) return false;
    return view.inbox.WaitFor([](const Received& r) { return IsStatus(r, STATUS_SETUP_COMPLETE); });
}

TEST(ClientFinite, NonFiniteReportsAreIgnoredWholeAndEveryVesselStaysFinite)
{
    ScriptedServer server;
    Scratch scratch;
    ClientProcess client;
    ASSERT_TRUE(StartClient(server, scratch, client));
    TestView pilot, watcher;
    ASSERT_TRUE(Attach(pilot, true));
    ASSERT_TRUE(Attach(watcher, false));

    // Vessel 3 with valid state first.
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_PLAYER_ONLINE, 3, 0, 0, 0, 4444.0f), true), S_OK);
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_VELOCITY, 3, 0.5f, 0.0f, 0.0f, 2939.6f), true), S_OK);
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_POSITION, 3, 0.0f, 3100.0f, 0.0f, 100.0f), true), S_OK);
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_ATTITUDE, 3, 0.0f, 0.0f, 0.6f, 0.8f), true), S_OK);
    const StatusPacket rates3 = MakeStatusPacket(STATUS_RATES, 3, 0.01f, 0.0f, 0.0f, 0.0f);
    ASSERT_EQ(server.SendStatus(rates3, true), S_OK);
    ASSERT_TRUE(FileHas(scratch, "logfile.txt", "2fS x0.000 y3100.000 z0.000 3@100.000\r\n"));
    // The initial state already holds rates of vessel 3: only the relayed bytes show that
    // the relays of this setup (in order, guaranteed) have all arrived.
    for (TestView* v : {&pilot, &watcher})
        ASSERT_TRUE(v->inbox.WaitFor([&](const Received& r) { return r.data == StatusBytes(rates3); }));
    pilot.inbox.Clear();
    watcher.inbox.Clear();
    server.inbox.Clear();

    // From the server: every stored field of every type spoiled in turn, for vessel 3
    // and for the own vessel.
    std::vector<StatusPacket> hostile;
    for (std::uint8_t v : {std::uint8_t{3}, kOwn}) {
        for (const StatusPacket& q : Spoiled(MakeStatusPacket(STATUS_PLAYER_ONLINE, v, 0, 0, 0, 5555.0f), 0x8))
            hostile.push_back(q);
        for (const StatusPacket& q : Spoiled(MakeStatusPacket(STATUS_POSITION, v, 1, 3000, 2, 101), 0xF))
            hostile.push_back(q);
        for (const StatusPacket& q : Spoiled(MakeStatusPacket(STATUS_VELOCITY, v, 0.1f, 0.2f, 0.3f, 2950), 0xF))
            hostile.push_back(q);
        for (const StatusPacket& q : Spoiled(MakeStatusPacket(STATUS_ATTITUDE, v, 0, 0.6f, 0, 0.8f), 0xF))
            hostile.push_back(q);
        for (const StatusPacket& q : Spoiled(MakeStatusPacket(STATUS_RATES, v, 0.1f, 0.2f, 0.3f, 0), 0x7))
            hostile.push_back(q);
    }
    for (const StatusPacket& q : hostile) ASSERT_EQ(server.SendStatus(q, true), S_OK);
    // From the view that flies the own vessel: its four kinds of report.
    std::vector<StatusPacket> fromView;
    for (const StatusPacket& q : Spoiled(MakeStatusPacket(STATUS_POSITION, 0, 5, 3050, 5, 100), 0xF))
        fromView.push_back(q);
    for (const StatusPacket& q : Spoiled(MakeStatusPacket(STATUS_VELOCITY, 0, 0.1f, 0.1f, 0.1f, 2939.6f), 0xF))
        fromView.push_back(q);
    for (const StatusPacket& q : Spoiled(MakeStatusPacket(STATUS_ATTITUDE, 0, 0, 0, 0, 1), 0xF)) fromView.push_back(q);
    for (const StatusPacket& q : Spoiled(MakeStatusPacket(STATUS_RATES, 0, 0.1f, 0.1f, 0.1f, 100), 0x7))
        fromView.push_back(q);
    for (const StatusPacket& q : fromView) ASSERT_EQ(pilot.SendStatus(q, true), S_OK);

    // Valid traffic still passes both ways.
    const StatusPacket serverMarker = MakeStatusPacket(STATUS_POSITION, 6, 10.0f, 20.0f, 3000.0f, 5.0f);
    ASSERT_EQ(server.SendStatus(serverMarker, true), S_OK);
    const StatusPacket viewMarker = MakeStatusPacket(STATUS_RATES, 0, 0.0f, 0.0f, 0.0f, kNaN);  // W is passed on
    ASSERT_EQ(pilot.SendStatus(viewMarker, true), S_OK);
    ASSERT_TRUE(pilot.inbox.WaitFor([&](const Received& r) { return r.data == StatusBytes(serverMarker); }))
        << client.Output();
    ASSERT_TRUE(watcher.inbox.WaitFor([&](const Received& r) { return r.data == StatusBytes(serverMarker); }));
    ASSERT_TRUE(watcher.inbox.WaitFor([&](const Received& r) { return IsStatus(r, STATUS_RATES, kOwn); }));
    ASSERT_TRUE(server.inbox.WaitFor([&](const Received& r) { return r.data == StatusBytes(viewMarker); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    // Nothing spoiled was relayed to a view or passed to the server (but the marker's W).
    for (const Received& r : pilot.inbox.All()) EXPECT_TRUE(FiniteStatus(r)) << int(r.data[0]);
    for (const Received& r : watcher.inbox.All()) {
        if (IsStatus(r, STATUS_RATES) && std::isnan(r.Status().W)) continue;
        EXPECT_TRUE(FiniteStatus(r)) << int(r.data[0]);
    }
    for (const Received& r : server.inbox.All()) {
        if (r.data == StatusBytes(viewMarker)) continue;
        EXPECT_TRUE(FiniteStatus(r)) << int(r.data[0]);
    }
    EXPECT_EQ(watcher.inbox.All().size(), 2u) << Describe(watcher.inbox.All());  // the two markers
    EXPECT_EQ(client.Count("] New player online (IVR: "), 1u) << client.Output();

    // A few motion steps and once-a-second reports later, every vessel is finite:
    // in the log, in the statistics, in the own reports and in a new view's state.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    const std::string stats = Statistics(client);
    ASSERT_NE(stats, "");
    EXPECT_TRUE(NoNonFinite(stats)) << stats;
    EXPECT_NE(stats.find("\n3 1 "), npos) << stats;
    const std::string log = scratch.ReadFile("logfile.txt");
    EXPECT_TRUE(NoNonFinite(log)) << log;
    bool reported = false;
    for (const Received& r : server.inbox.All()) {
        if (IsStatus(r, STATUS_POSITION) && r.data != StatusBytes(viewMarker)) {
            reported = true;
            EXPECT_TRUE(FiniteStatus(r));
        }
    }
    EXPECT_TRUE(reported);
    watcher.Close();
    ASSERT_NE(client.WaitFor("] Peer application instance occupied slot:  1\n"), npos);
    TestView late;
    ASSERT_TRUE(Attach(late, false)) << client.Output();
    std::size_t count = 0;
    for (const Received& r : late.inbox.All()) {
        ++count;
        EXPECT_TRUE(FiniteStatus(r)) << int(r.data[0]) << " " << int(r.data[1]);
        if (IsStatus(r, STATUS_PLAYER_ONLINE, 3)) {
            EXPECT_EQ(r.Status().W, 4444.0f);
        }
        if (IsStatus(r, STATUS_ATTITUDE, 3)) {
            EXPECT_NEAR(r.Status().Z, 0.6f, 0.01f);  // turning slowly since
        }
    }
    EXPECT_EQ(count, 1u + 2u + 8u * 4u + 1u);  // granted, two present vessels, four per vessel, end
    EXPECT_EQ(client.Output().find("runtime error"), npos) << client.Output();

    LeaveWithEscape(client);
}

TEST(ClientFinite, NonFiniteConfigurationIsTakenAsNotReceived)
{
    ScriptedServer::Options o;
    o.configure = false;
    ScriptedServer server(o);
    Scratch scratch;
    ClientProcess client;
    ASSERT_TRUE(StartClient(server, scratch, client, "Connection successful!\n"));

    // Seconds or hours not finite: no line, no state, no answer, no registry.
    for (const StatusPacket& q : Spoiled(MakeStatusPacket(STATUS_CONFIGURATION, 4, 100, 142, 5, 3001), 0x5))
        ASSERT_EQ(server.SendStatus(q, true), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_TRUE(client.Running());
    EXPECT_EQ(client.Output().find("Configuration received"), npos) << client.Output();
    EXPECT_TRUE(server.inbox.All().empty());
    DWORD ivr = 0;
    EXPECT_FALSE(scratch.ReadRegistration(&ivr));

    // The start-up wait ends as usual with "configuration complete".
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_SETUP_COMPLETE, 0, 0, 0, 0, 0), true), S_OK);
    ASSERT_NE(client.WaitFor("] Ready to host peer programs...\n"), npos) << client.Output();
    // A valid configuration later is taken; a newest build that is not a number is
    // only compared.
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_CONFIGURATION, 4, 100, kNaN, 5, 3001), true), S_OK);
    ASSERT_NE(client.WaitFor("] Configuration received, our vessel number:  4\n"), npos) << client.Output();
    ASSERT_NE(client.WaitFor("] Server assigned Intergalactic Vessel Registration:  523001\n"), npos);
    EXPECT_EQ(client.Output().find("Newer Console Client"), npos);
    // (the line comes just before the write)
    for (int i = 0; i < 40 && !scratch.ReadRegistration(&ivr); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ivr, 3001u);

    // Huge but finite times: nothing overflows into the state. A position whose sample
    // time is as far the other way cannot be carried forward and is kept as reported.
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_CONFIGURATION, 4, 3e38f, 142, 3e38f, 3e38f), true), S_OK);
    ASSERT_NE(client.WaitFor("] Our Intergalactic Vessel Registration number:  523001\n"), npos);
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_VELOCITY, 5, 1.0f, 0.0f, 0.0f, 2939.6f), true), S_OK);
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_POSITION, 5, 0.0f, 3100.0f, 0.0f, -3e38f), true), S_OK);
    ASSERT_TRUE(FileHas(scratch, "logfile.txt", "ADJ x0.000 y3100.000 z0.000 d0.000\r\n"))
        << scratch.ReadFile("logfile.txt");
    // A vessel far beyond single precision's squares, fast and spinning: the motion
    // steps leave it as it is rather than not finite.
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_VELOCITY, 6, 3e38f, -3e38f, 3e38f, 3e38f), true), S_OK);
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_POSITION, 6, 3e38f, -3e38f, 1e30f, 3e38f), true), S_OK);
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_ATTITUDE, 6, 3e38f, 3e38f, -3e38f, 3e38f), true), S_OK);
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_RATES, 6, 3e38f, -3e38f, 3e38f, 0), true), S_OK);
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_PLAYER_ONLINE, 6, 0, 0, 0, 3e38f), true), S_OK);
    ASSERT_NE(client.WaitFor("] Other players online:  1\n"), npos) << client.Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::string stats = Statistics(client);
    ASSERT_NE(stats, "");
    EXPECT_TRUE(NoNonFinite(stats)) << stats;
    EXPECT_NE(stats.find("\n6 1 "), npos) << stats;
    EXPECT_TRUE(NoNonFinite(scratch.ReadFile("logfile.txt"))) << scratch.ReadFile("logfile.txt");
    TestView view;
    ASSERT_TRUE(Attach(view, false)) << client.Output();
    for (const Received& r : view.inbox.All()) EXPECT_TRUE(FiniteStatus(r)) << int(r.data[0]) << " " << int(r.data[1]);
    EXPECT_EQ(view.inbox.All().size(), 1u + 2u + 8u * 4u + 1u);
    EXPECT_EQ(client.Output().find("runtime error"), npos) << client.Output();

    LeaveWithEscape(client);
}

// x of vessel i in a statistics text; NaN when its row is missing.
float RowX(const std::string& stats, int i)
{
    const std::size_t at = stats.find("\n" + std::to_string(i) + " ");
    int vessel = -1, present = -1;
    float x = kNaN;
    if (at == npos || std::sscanf(stats.c_str() + at + 1, "%d %d %f", &vessel, &present, &x) != 3) return kNaN;
    return x;
}

TEST(ClientFinite, PlanetValuesThatAreNotFiniteInUniverseDatCountAsZero)
{
    ScriptedServer server;
    ASSERT_TRUE(server.Start());
    Scratch scratch;
    {
        // The planet's rotation angle and rate.
        std::fstream f(scratch.Path() + "/universe.dat", std::ios::in | std::ios::out | std::ios::binary);
        ASSERT_TRUE(f.good());
        f.seekp(3005);
        f.write(reinterpret_cast<const char*>(&kNaN), 4);
        f.seekp(3017);
        f.write(reinterpret_cast<const char*>(&kInf), 4);
    }
    ClientProcess client;
    ASSERT_TRUE(client.Start(scratch));
    ASSERT_NE(client.WaitFor("] Ready to host peer programs...\n", 15000), npos) << client.Output();
    // A vessel far above the ground, flying outward: it moves between reports.
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_VELOCITY, 4, 1.0f, 0.0f, 0.0f, 2939.6f), true), S_OK);
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_POSITION, 4, 5000.0f, 0.0f, 0.0f, 100.0f), true), S_OK);
    ASSERT_TRUE(FileHas(scratch, "logfile.txt", "2fS x5000.000 y0.000 z0.000 4@100.000\r\n"));
    const float first = RowX(Statistics(client), 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const std::string stats = Statistics(client);
    const float second = RowX(stats, 4);
    ASSERT_TRUE(std::isfinite(first)) << stats;
    EXPECT_GT(second, first + 0.3f) << stats;
    EXPECT_TRUE(NoNonFinite(stats)) << stats;

    LeaveWithEscape(client);
}

}  // namespace
