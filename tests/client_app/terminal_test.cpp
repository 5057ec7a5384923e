// The console client on a terminal: keys without echo, line editing, cursor keys,
// and the terminal put back on every way out.
#include "tests/client_app/harness.h"

#include <signal.h>
#include <termios.h>

using namespace apptest;

namespace {

constexpr auto npos = std::string::npos;

bool KeyMode(const ClientProcess& c)
{
    unsigned modes = 0;
    return c.TerminalLocalModes(&modes) && (modes & ICANON) == 0 && (modes & ECHO) == 0;
}

bool LineMode(const ClientProcess& c)
{
    unsigned modes = 0;
    return c.TerminalLocalModes(&modes) && (modes & ICANON) != 0 && (modes & ECHO) != 0;
}

// With no server the client waits at "Press any key to exit..." in key mode.
void StartWaiting(Scratch& scratch, ClientProcess& client)
{
    ASSERT_TRUE(client.StartOnTerminal(scratch));
    ASSERT_NE(client.WaitFor("Press any key to exit...", 15000), npos) << client.Output();
    EXPECT_TRUE(KeyMode(client));
}

TEST(ClientTerminal, RestoredAfterAKeyCtrlCAndTerm)
{
    {
        Scratch scratch;
        ClientProcess client;
        StartWaiting(scratch, client);
        client.Type("k");
        EXPECT_EQ(client.WaitExit(), 0);
        EXPECT_TRUE(LineMode(client));
        EXPECT_EQ(client.Output().find("Press any key to exit...\r\nk"), npos);  // the key is not echoed
    }
    {
        Scratch scratch;
        ClientProcess client;
        StartWaiting(scratch, client);
        client.Type("\x03");  // Ctrl-C
        EXPECT_EQ(client.WaitExit(), 128 + SIGINT);
        EXPECT_TRUE(LineMode(client));
    }
    {
        Scratch scratch;
        ClientProcess client;
        StartWaiting(scratch, client);
        kill(client.Pid(), SIGTERM);
        EXPECT_EQ(client.WaitExit(), 128 + SIGTERM);
        EXPECT_TRUE(LineMode(client));
    }
}

TEST(ClientTerminal, CursorKeysLineEditingAndEscape)
{
    ScriptedServer server;
    ASSERT_TRUE(server.Start());
    Scratch scratch;
    ClientProcess client;
    ASSERT_TRUE(client.StartOnTerminal(scratch));
    ASSERT_NE(client.WaitFor("Ready to host peer programs...", 15000), npos) << client.Output();
    EXPECT_TRUE(KeyMode(client));
    // A cursor key is not ESC.
    client.Type("\x1b[A");
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_TRUE(client.Running());
    EXPECT_EQ(client.Output().find("Press any key"), npos);
    // ENTER opens the line; backspace edits it; the cursor keys do not.
    server.inbox.Clear();
    client.Type("\r");
    ASSERT_NE(client.WaitFor("> "), npos);
    client.Type("abx\x7f\x1b[Dc\r");
    Received chat;
    ASSERT_TRUE(server.inbox.WaitFor([](const Received& r) { return r.data.size() == 82; }, 5000, &chat))
        << client.Output();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(chat.data.data() + 2)), "abc");
    ASSERT_NE(client.WaitFor("Message sent successfully!"), npos);
    // A lone ESC leaves.
    client.Type("\x1b");
    ASSERT_NE(client.WaitFor("Press any key to exit..."), npos) << client.Output();
    EXPECT_TRUE(KeyMode(client));
    client.Type(" ");
    EXPECT_EQ(client.WaitExit(), 0);
    EXPECT_TRUE(LineMode(client));
}

}  // namespace
