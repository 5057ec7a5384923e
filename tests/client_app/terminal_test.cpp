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

TEST(ClientTerminal, RestoredWhenAFailedRegistryWriteEndsTheProcess)
{
    ScriptedServer server;
    ASSERT_TRUE(server.Start());
    Scratch scratch;
    ClientProcess client;
    ASSERT_TRUE(client.StartOnTerminal(scratch, "", scratch.UnwritableConfigHome()));
    ASSERT_NE(client.WaitFor("Connecting to the Meridax Industries host computer...", 15000), npos) << client.Output();
    EXPECT_EQ(client.WaitExit(15000), 0) << client.Output();
    EXPECT_NE(client.Output().find("[Error!] Could not save assigned IVR to registry!"), npos) << client.Output();
    EXPECT_TRUE(LineMode(client));
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

namespace {

// The chat text of the next 82-byte message the server receives.
std::string NextChat(ScriptedServer& server)
{
    Received chat;
    if (!server.inbox.WaitFor([](const Received& r) { return r.data.size() == 82; }, 5000, &chat)) return "<none>";
    server.inbox.Clear();
    return std::string(reinterpret_cast<const char*>(chat.data.data() + 2));
}

// A chat line from the server in Windows-1252: "café € “ok”".
const char kChat1252[] = "caf\xE9 \x80 \x93ok\x94";
// One that would clear the screen, write the clipboard and overwrite its own line,
// and the same as it is to be shown: each control byte (ESC, BEL, CR, DEL, and 0x81,
// which 1252 leaves a C1 control) one question mark.
const char kHostileChat[] = "a\x1b[2Jb\x1b]52;c;eA==\x07" "c\rd\x7f\x81\xE9";
const char kHostileShown[] = "a?[2Jb?]52;c;eA==?c?d??";

TEST(ClientTerminal, ChatIsWindows1252OnTheWireAndUtf8OnAUtf8Terminal)
{
    ScriptedServer server;
    ASSERT_TRUE(server.Start());
    Scratch scratch;
    ClientProcess client;
    ASSERT_TRUE(client.StartOnTerminal(scratch, "C.UTF-8"));
    ASSERT_NE(client.WaitFor("Ready to host peer programs...", 15000), npos) << client.Output();
    server.inbox.Clear();

    // Typed in UTF-8: one byte per character on the wire, '?' where 1252 has none;
    // backspace takes a whole character; the echo stays UTF-8.
    std::size_t from = client.Output().size();
    client.Type("\r");
    ASSERT_NE(client.WaitFor("> ", 5000, from), npos);
    client.Type("Gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93 \xF0\x9F\x98\x80 \xE2\x82\xAC\xC3\xA9\x7fx\r");
    EXPECT_EQ(NextChat(server), "Gr\xFC\xDF" "e ? ? \x80x");
    EXPECT_NE(client.WaitFor("Gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93 \xF0\x9F\x98\x80 \xE2\x82\xAC\xC3\xA9\b \bx", 5000, from),
              npos)
        << client.Output().substr(from);

    // 100 two-byte characters: 80 are kept, 79 travel.
    std::string many;
    for (int i = 0; i < 100; ++i) many += "\xC3\xA9";
    client.Type("\r" + many + "\r");
    EXPECT_EQ(NextChat(server), std::string(79, '\xE9'));

    // Received 1252 text is shown in UTF-8.
    const EventPacket chat = MakeChatPacket(3, kChat1252);
    ASSERT_EQ(server.Send(&chat, sizeof chat, true), S_OK);
    EXPECT_NE(client.WaitFor("         caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\x9Cok\xE2\x80\x9D\r\n"), npos) << client.Output();
    const EventPacket hostile = MakeChatPacket(3, kHostileChat);
    ASSERT_EQ(server.Send(&hostile, sizeof hostile, true), S_OK);
    EXPECT_NE(client.WaitFor(std::string("         ") + kHostileShown + "\xC3\xA9\r\n"), npos) << client.Output();
    EXPECT_EQ(client.Output().find('\x1b'), npos);

    client.Type("\x1b");
    ASSERT_NE(client.WaitFor("Press any key to exit..."), npos);
    client.Type(" ");
    EXPECT_EQ(client.WaitExit(), 0);
}

// On a terminal of another locale, and on pipes whatever the locale, bytes pass
// unchanged both ways.
TEST(ClientTerminal, ChatBytesPassUnchangedOnOtherTerminalsAndOnPipes)
{
    for (bool terminal : {true, false}) {
        SCOPED_TRACE(terminal ? "terminal, C locale" : "pipes, UTF-8 locale");
        ScriptedServer server;
        ASSERT_TRUE(server.Start());
        Scratch scratch;
        ClientProcess client;
        ASSERT_TRUE(terminal ? client.StartOnTerminal(scratch, "C") : client.Start(scratch, "", "C.UTF-8"));
        ASSERT_NE(client.WaitFor("Ready to host peer programs...", 15000), npos) << client.Output();
        server.inbox.Clear();
        client.Type("\rGr\xC3\xBC\xC3\x9F" "e \xE9\r");
        EXPECT_EQ(NextChat(server), "Gr\xC3\xBC\xC3\x9F" "e \xE9");
        const EventPacket chat = MakeChatPacket(3, kChat1252);
        ASSERT_EQ(server.Send(&chat, sizeof chat, true), S_OK);
        EXPECT_NE(client.WaitFor(std::string("         ") + kChat1252 + (terminal ? "\r\n" : "\n")), npos)
            << client.Output();
        const EventPacket hostile = MakeChatPacket(3, kHostileChat);
        ASSERT_EQ(server.Send(&hostile, sizeof hostile, true), S_OK);
        EXPECT_NE(client.WaitFor(std::string("         ") + kHostileShown + "\xE9" + (terminal ? "\r\n" : "\n")),
                  npos)
            << client.Output();
        EXPECT_EQ(client.Output().find('\x1b'), npos);
        client.Type("\x1b");
        ASSERT_NE(client.WaitFor("Press any key to exit..."), npos);
        client.Type(" ");
        EXPECT_EQ(client.WaitExit(), 0);
    }
}

}  // namespace
