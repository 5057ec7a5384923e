// Start-up and shut-down of the real console client against universe servers.
#include "tests/client_app/harness.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "tools/universe-standin/standin.h"

using namespace apptest;

namespace {

constexpr auto npos = std::string::npos;

UniverseStandin::Options QuietStandin()
{
    UniverseStandin::Options o;
    o.log = nullptr;
    o.keepLog = true;
    return o;
}

TEST(ClientStartup, ReachesReadyWithTheConfigurationAndStoresTheAssignedRegistration)
{
    UniverseStandin standin(QuietStandin());
    ASSERT_EQ(standin.Start(), S_OK);
    Scratch scratch;
    ClientProcess client;
    ASSERT_TRUE(client.Start(scratch));
    ASSERT_NE(client.WaitFor("Ready to host peer programs...\n", 15000), npos) << client.Output();
    const std::string out = client.Output();

    // Banner and key help first, then the start-up lines in their order.
    const std::size_t banner = out.find("Console Client (build 142 on 11/01/2002)\n\n");
    ASSERT_NE(banner, npos) << out;
    const std::size_t help =
        out.find("\"1\" or ESC to exit, \"2\" for statistics, \"3\" for verbose, ENTER to send message\n\n", banner);
    ASSERT_NE(help, npos);
    const std::size_t connecting = out.find("] Connecting to the Meridax Industries host computer...\n", help);
    ASSERT_NE(connecting, npos);
    EXPECT_NE(out.find("[000000] Connecting"), npos);
    EXPECT_NE(out.find("] Connection successful!\n", connecting), npos);
    const std::size_t config = out.find("] Configuration received, our vessel number:  0\n", connecting);
    ASSERT_NE(config, npos);
    EXPECT_NE(out.find("] Universe has been running:  12:", config), npos);
    const std::size_t assigned = out.find("] Server assigned Intergalactic Vessel Registration:  521001\n", config);
    ASSERT_NE(assigned, npos);
    const std::size_t confirmed = out.find("] Confirmation received!\n", assigned);
    ASSERT_NE(confirmed, npos);
    EXPECT_NE(out.find("] Ready to host peer programs...\n", confirmed), npos);
    EXPECT_EQ(out.find("Newer Console Client"), npos);
    // The drones are announced.
    EXPECT_NE(out.find("] New player online (IVR: 529001):  7\n"), npos);
    EXPECT_NE(out.find("] Other players online:  3\n"), npos);

    DWORD ivr = 0;
    ASSERT_TRUE(scratch.ReadRegistration(&ivr));
    EXPECT_EQ(ivr, 1001u);
    // The answer to the configuration: Y the build, W the registration, guaranteed.
    EXPECT_TRUE(LogHas(standin, "recv guaranteed     player"));
    EXPECT_TRUE(LogHas(standin, "StatusPacket type 0 byte1 0 X 0.000 Y 142.000 Z 0.000 W 1001.000"));

    LeaveWithEscape(client);
    const std::string all = client.Output();
    const std::size_t end = all.find("\n\n\nPress any key to exit...\n");
    EXPECT_NE(end, npos) << all;
    // The log file was written with CR LF line ends.
    const std::string log = scratch.ReadFile("logfile.txt");
    EXPECT_NE(log.find("4fS i"), npos);
    EXPECT_NE(log.find("\r\n"), npos);
    EXPECT_EQ(log.find("\n", log.find("\r\n") + 2) - 1, log.find("\r\n", log.find("\r\n") + 2));
}

TEST(ClientStartup, KeepsARegistrationAlreadyInTheRegistry)
{
    UniverseStandin standin(QuietStandin());
    ASSERT_EQ(standin.Start(), S_OK);
    Scratch scratch;
    ASSERT_TRUE(scratch.WriteRegistration(4242));
    ClientProcess client;
    ASSERT_TRUE(client.Start(scratch));
    ASSERT_NE(client.WaitFor("Ready to host peer programs...\n", 15000), npos) << client.Output();
    EXPECT_NE(client.Output().find("] Our Intergalactic Vessel Registration number:  524242\n"), npos);
    EXPECT_EQ(client.Output().find("Server assigned"), npos);
    EXPECT_TRUE(LogHas(standin, "StatusPacket type 0 byte1 0 X 0.000 Y 142.000 Z 0.000 W 4242.000"));
    DWORD ivr = 0;
    ASSERT_TRUE(scratch.ReadRegistration(&ivr));
    EXPECT_EQ(ivr, 4242u);
    LeaveWithEscape(client);
}

TEST(ClientStartup, AnnouncesANewerBuild)
{
    UniverseStandin::Options o = QuietStandin();
    o.newestBuild = 150.0f;
    UniverseStandin standin(o);
    ASSERT_EQ(standin.Start(), S_OK);
    Scratch scratch;
    ClientProcess client;
    ASSERT_TRUE(client.Start(scratch));
    ASSERT_NE(client.WaitFor("Ready to host peer programs...\n", 15000), npos) << client.Output();
    const std::string out = client.Output();
    const std::size_t note = out.find("] --- Newer Console Client version available:\n");
    ASSERT_NE(note, npos) << out;
    const std::size_t second = note + std::string("] --- Newer Console Client version available:\n").size();
    EXPECT_EQ(out.compare(second, 9, "         "), 0);
    const std::string line = out.substr(second, out.find('\n', second) - second);
    EXPECT_NE(line.find("\"http"), npos) << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), '"'), 2);
    LeaveWithEscape(client);
}

TEST(ClientStartup, NothingListeningPrintsTheConnectHelpAndEnds)
{
    Scratch scratch;
    ClientProcess client;
    ASSERT_TRUE(client.Start(scratch));
    ASSERT_NE(client.WaitFor("Press any key to exit...\n", 15000), npos) << client.Output();
    const std::string out = client.Output();
    const std::string expected =
        "[Error!] Server may have changed IP addresses, please download newer version...\n"
        "[Error!] Failed to duplicate host address:  80004005\n"
        "[Error!] --- Failed on ConnectToSession:  80004005\n"
        "\n"
        "If you HAVE been able to connect before...\n"
        "- The host may be temporarily offline OR\n"
        "- A connection could not be established (Internet or provider trouble) OR\n"
        "- Previous session has not yet timed out (approximately one minute)\n"
        "\n"
        "If you have NOT been able to connect before...\n"
        "- You need to have DirectX 8.0 or higher installed OR\n"
        "- There is a firewall blocking your connection (office LAN) OR\n"
        "- Your computer is not configured properly for TCP/IP\n"
        "\n"
        "\nPress any key to exit...\n";
    EXPECT_NE(out.find(expected), npos) << out;
    EXPECT_EQ(out.find("Connection successful"), npos);
    client.Type("q");
    EXPECT_EQ(client.WaitExit(), 0);
}

TEST(ClientStartup, RefusalEndsTheStartUpCleanly)
{
    UniverseStandin standin(QuietStandin());
    ASSERT_EQ(standin.Start(), S_OK);
    ASSERT_TRUE(standin.Command("refuse"));
    Scratch scratch;
    ClientProcess client;
    ASSERT_TRUE(client.Start(scratch));
    ASSERT_NE(client.WaitFor("Press any key to exit...\n", 15000), npos) << client.Output();
    const std::string out = client.Output();
    EXPECT_NE(out.find("[Error!] Maximum number of players, please try again soon!  255\n"), npos) << out;
    EXPECT_EQ(out.find("Confirmation received"), npos);
    EXPECT_EQ(out.find("Ready to host"), npos);
    // The registry is untouched by a refusal.
    DWORD ivr = 0;
    EXPECT_FALSE(scratch.ReadRegistration(&ivr));
    client.Type("\n");
    EXPECT_EQ(client.WaitExit(), 0);
}

TEST(ClientStartup, ShutDownNoticeOrLostSessionBeforeConfigurationCompleteEndsTheWait)
{
    {
        ScriptedServer::Options o;
        o.complete = false;
        ScriptedServer server(o);
        Scratch scratch;
        ClientProcess client;
        ASSERT_TRUE(StartClient(server, scratch, client, "] Configuration received, our vessel number:  2\n"));
        ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_SHUTDOWN, 0, 0, 0, 0, 0), true), S_OK);
        ASSERT_NE(client.WaitFor("Press any key to exit...\n"), npos) << client.Output();
        EXPECT_NE(client.Output().find("[Error!] Server is shutting down, please reconnect in a few minutes...\n"),
                  npos);
        EXPECT_EQ(client.Output().find("Ready to host"), npos);
        client.Type("x");
        EXPECT_EQ(client.WaitExit(), 0);
    }
    {
        ScriptedServer::Options o;
        o.complete = false;
        ScriptedServer server(o);
        Scratch scratch;
        ClientProcess client;
        ASSERT_TRUE(StartClient(server, scratch, client, "] Configuration received, our vessel number:  2\n"));
        ASSERT_EQ(server.DropPlayer(), S_OK);
        ASSERT_NE(client.WaitFor("Press any key to exit...\n"), npos) << client.Output();
        EXPECT_NE(client.Output().find("[Error!] The connection to the server has been lost!\n"), npos);
        client.Type("x");
        EXPECT_EQ(client.WaitExit(), 0);
    }
}

TEST(ClientStartup, ShutDownNoticeRightAfterTheConfigurationKeepsTheLocalSessionOffline)
{
    // Configuration, "complete" and the shut-down notice back to back: the notice is
    // handled while the client is still setting up its local session, or just after.
    ScriptedServer::Options o;
    o.configure = false;
    ScriptedServer server(o);
    Scratch scratch;
    ClientProcess client;
    ASSERT_TRUE(StartClient(server, scratch, client, "Connection successful!\n"));
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_CONFIGURATION, 1, 0, 142, 1, 77), true), S_OK);
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_SETUP_COMPLETE, 0, 0, 0, 0, 0), true), S_OK);
    // Past the wait for the configuration the client goes on to host; the notice comes
    // while it does so or just after.
    ASSERT_NE(client.WaitFor("Confirmation received!\n"), npos) << client.Output();
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_SHUTDOWN, 0, 0, 0, 0, 0), true), S_OK);
    ASSERT_NE(client.WaitFor("[Error!] Server is shutting down"), npos) << client.Output();
    ASSERT_NE(client.WaitFor("Ready to host peer programs...\n"), npos) << client.Output();
    // Offline: a view gets no answer and the server no once-a-second reports.
    server.inbox.Clear();
    TestView view;
    ASSERT_EQ(view.Join(), S_OK);
    ASSERT_EQ(view.Register(true), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(view.inbox.All().empty());
    for (const Received& r : server.inbox.All()) EXPECT_FALSE(IsStatus(r, STATUS_POSITION));
    EXPECT_EQ(client.Output().find("Propulsion now engaged"), npos);
    client.Type("1");
    ASSERT_NE(client.WaitFor("Press any key to exit...\n"), npos) << client.Output();
    client.Type("x");
    EXPECT_EQ(client.WaitExit(), 0);
}

TEST(ClientStartup, ConnectsToTheNewerOfTwoAnsweringSessions)
{
    ScriptedServer::Options oa, ob;
    oa.vessel = 3;
    ob.vessel = 4;
    ScriptedServer older(oa), newer(ob);
    ASSERT_TRUE(older.Start());
    Scratch scratch;
    ClientProcess client;
    ASSERT_TRUE(client.Start(scratch));
    ASSERT_NE(client.WaitFor("Connecting to the Meridax Industries host computer...\n", 15000), npos);
    // The second session starts answering a few rounds after the first.
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    ASSERT_TRUE(newer.Start());
    ASSERT_NE(client.WaitFor("Ready to host peer programs...\n", 15000), npos) << client.Output();
    EXPECT_NE(client.Output().find("our vessel number:  4\n"), npos) << client.Output();
    EXPECT_EQ(older.players.load(), 0);
    EXPECT_EQ(newer.players.load(), 1);
    LeaveWithEscape(client);
}

TEST(ClientStartup, AFailedRegistryWriteEndsTheProcess)
{
    ScriptedServer server;
    ASSERT_TRUE(server.Start());
    Scratch scratch;
    ClientProcess client;
    ASSERT_TRUE(client.Start(scratch, scratch.UnwritableConfigHome()));
    EXPECT_EQ(client.WaitExit(15000), 0) << client.Output();
    const std::string out = client.Output();
    const std::size_t assigned = out.find("] Server assigned Intergalactic Vessel Registration:  523001\n");
    ASSERT_NE(assigned, npos) << out;
    EXPECT_NE(out.find("[Error!] Could not save assigned IVR to registry!", assigned), npos) << out;
    EXPECT_EQ(out.find("Ready to host"), npos);
    EXPECT_EQ(out.find("ERROR: AddressSanitizer"), npos);
}

TEST(ClientStartup, UnusableRegistrationNumbersBecomeZero)
{
    ScriptedServer::Options o;
    o.registration = std::nanf("");
    ScriptedServer server(o);
    Scratch scratch;
    ClientProcess client;
    ASSERT_TRUE(StartClient(server, scratch, client));
    EXPECT_NE(client.Output().find("] Server assigned Intergalactic Vessel Registration:  520\n"), npos);
    DWORD ivr = 99;
    ASSERT_TRUE(scratch.ReadRegistration(&ivr));
    EXPECT_EQ(ivr, 0u);
    // The number held is that 0 too, never NaN: the answer carries it.
    Received answer;
    ASSERT_TRUE(server.inbox.WaitFor([](const Received& r) { return IsStatus(r, STATUS_CONFIGURATION); }, 3000, &answer));
    EXPECT_EQ(answer.Status().W, 0.0f);
    // A second configuration keeps the number now held, even a huge one offered.
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_CONFIGURATION, 2, 10.0f, 142.0f, 5.0f, 3.0e38f), true), S_OK);
    ASSERT_NE(client.WaitFor("] Our Intergalactic Vessel Registration number:  520\n"), npos) << client.Output();
    LeaveWithEscape(client);
}

TEST(ClientStartup, MissingDataFilesEndTheStartUp)
{
    Scratch scratch;
    std::filesystem::remove(scratch.Path() + "/universe.dat");
    ClientProcess client;
    ASSERT_TRUE(client.Start(scratch));
    ASSERT_NE(client.WaitFor("Press any key to exit...\n", 15000), npos) << client.Output();
    EXPECT_NE(client.Output().find("[Error!] Failed to load \"universe.dat\"!\n"), npos);
    EXPECT_EQ(client.Output().find("Console Client (build"), npos);
    client.Type("x");
    EXPECT_EQ(client.WaitExit(), 0);

    Scratch second;
    std::filesystem::remove(second.Path() + "/systems.dat");
    ClientProcess again;
    ASSERT_TRUE(again.Start(second));
    ASSERT_NE(again.WaitFor("Press any key to exit...\n", 15000), npos) << again.Output();
    EXPECT_NE(again.Output().find("[Error!] Failed to load \"systems.dat\"!\n"), npos);
    again.Type("x");
    EXPECT_EQ(again.WaitExit(), 0);
}

}  // namespace
