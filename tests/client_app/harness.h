#pragma once
// End-to-end harness: the real console client as a child process in a scratch
// folder with generated data and its own registry store, and the programs around
// it on the session layer (universe servers and view programs) in this process.
// main() moves the test process into its own network namespace first, so every
// test has the whole port range to itself and the child shares it.
#include <gtest/gtest.h>

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/wire.h"
#include "platform/net/dplay8.h"
#include "tools/universe-standin/standin.h"

namespace testsupport {
class ScratchFolder;
}

namespace apptest {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// A scratch folder with universe.dat, systems.dat and a registry folder.
class Scratch {
public:
    Scratch();
    ~Scratch();
    const std::string& Path() const { return path_; }
    std::string ConfigHome() const { return path_ + "/config"; }
    // A registry folder below a plain file of this folder: it cannot be written.
    std::string UnwritableConfigHome() const;
    std::string ReadFile(const std::string& name) const;
    // Registry value IVR of this folder's store; false when missing.
    bool ReadRegistration(DWORD* value) const;
    bool WriteRegistration(DWORD value) const;

private:
    std::unique_ptr<testsupport::ScratchFolder> folder_;
    std::string path_;
};

// The console client running in a scratch folder, its input a pipe.
class ClientProcess {
public:
    ~ClientProcess();
    // configHome empty: the scratch folder's own. locale: LC_ALL of the child when
    // not empty.
    bool Start(const Scratch& scratch, const std::string& configHome = "", const std::string& locale = "");
    // The same on a new pseudo-terminal (its controlling terminal).
    bool StartOnTerminal(const Scratch& scratch, const std::string& locale = "", const std::string& configHome = "");
    // Local modes of that terminal now (ICANON, ECHO, ...).
    bool TerminalLocalModes(unsigned* modes) const;
    pid_t Pid() const { return pid_; }
    void Type(const std::string& keys);
    // Waits until the output holds `text` after position `from`; returns its position
    // or npos after the time-out.
    std::size_t WaitFor(const std::string& text, int timeoutMs = 10000, std::size_t from = 0);
    std::string Output() const;
    std::size_t Count(const std::string& text) const;
    // Exit status, or -1 when the process is still running after the time-out.
    int WaitExit(int timeoutMs = 10000);
    bool Running();

private:
    void ReadLoop(int fd);
    pid_t pid_ = -1;
    int input_ = -1;
    int terminal_ = -1;  // pseudo-terminal master, when on one
    int status_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;
};

// A view program (Panorel) as a child process working in `folder`; its standard
// output and error, where MERIDAX_MESSAGEBOX=stderr sends its boxes, go to
// panorel.out there. Killed at destruction when still running.
class ViewProcess {
public:
    ~ViewProcess();
    bool Start(const std::string& program, const std::string& folder);
    // Exit status (128 + the signal when killed), or -1 while it still runs after the
    // time-out.
    int WaitExit(std::chrono::milliseconds limit);
    bool Running() { return WaitExit(std::chrono::milliseconds(0)) < 0; }
    std::string Output() const;
    const std::string& Folder() const { return folder_; }

private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::string folder_;
};

// One received message with its send mode.
struct Received {
    DPNID from = 0;
    Bytes data;
    bool guaranteed = false;
    StatusPacket Status() const;  // valid when data.size() == 20
};

class Inbox {
public:
    void Add(Received r);
    std::vector<Received> All() const;
    // Waits until pred holds for the whole inbox.
    bool WaitUntil(const std::function<bool(const std::vector<Received>&)>& pred, int timeoutMs = 5000) const;
    // Waits for a message matching pred; returns it through out.
    bool WaitFor(const std::function<bool(const Received&)>& pred, int timeoutMs = 5000, Received* out = nullptr) const;
    void Clear();

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Received> items_;
};

// A view program on the session layer: joins the console client's local session.
class TestView {
public:
    ~TestView();
    // Enumerates the local session at the host address and connects to it.
    HRESULT Join(const WCHAR* host = u"127.0.0.1");
    HRESULT Send(const void* data, DWORD size, bool guaranteed, DWORD timeoutMs = 0);
    HRESULT SendStatus(const StatusPacket& p, bool guaranteed, DWORD timeoutMs = 0);
    // Registration as a view program sends it: X 1.0, Y 142.0, Z 1.0, W propulsion.
    HRESULT Register(bool propulsion);
    void Close();
    Inbox inbox;
    std::atomic<int> terminated{0};

private:
    static HRESULT Handler(PVOID context, DWORD id, PVOID message);
    IDirectPlay8Client* client_ = nullptr;
    std::mutex answersMutex_;
    std::vector<IDirectPlay8Address*> answers_;
};

// A universe server under the test's control.
class ScriptedServer {
public:
    struct Options {
        bool configure = true;        // answer a new player with type 0 and type 3
        bool complete = true;         // ... and send type 3
        std::uint8_t vessel = 2;      // vessel number given
        float registration = 3001.0f; // registration given
        float newestBuild = 142.0f;
        float hours = 5.0f;
        float seconds = 100.0f;
    };
    ScriptedServer() = default;
    explicit ScriptedServer(const Options& options) : options_(options) {}
    ~ScriptedServer();
    bool Start();
    void Close();
    HRESULT Send(const void* data, DWORD size, bool guaranteed);  // to the (first) player
    HRESULT SendStatus(const StatusPacket& p, bool guaranteed);
    HRESULT DropPlayer();
    DPNID Player() const { return player_.load(); }
    std::atomic<int> players{0};
    Inbox inbox;

private:
    static HRESULT Handler(PVOID context, DWORD id, PVOID message);
    Options options_;
    IDirectPlay8Server* server_ = nullptr;
    std::atomic<DPNID> player_{0};
};

// A StatusPacket as raw bytes.
Bytes StatusBytes(const StatusPacket& p);
bool IsStatus(const Received& r, std::uint8_t type);
bool IsStatus(const Received& r, std::uint8_t type, std::uint8_t vessel);

// Starts the server, then the client in the scratch folder, and waits up to 15 s for
// `text` in the client's output (which a failure shows).
::testing::AssertionResult StartClient(ScriptedServer& server, const Scratch& scratch, ClientProcess& client,
                                       const std::string& text = "Ready to host peer programs...\n");
// ESC, then any key at "Press any key to exit...": status 0.
void LeaveWithEscape(ClientProcess& client);
// Statistics after the next key '2': the text from "Universe time" to the table's end.
std::string Statistics(ClientProcess& client);
// Waits up to 5 s until the scratch folder's file holds the text.
bool FileHas(const Scratch& scratch, const std::string& name, const std::string& text);

// Waits up to 5 s for the stand-in's log to hold the text: the client does not wait
// for the server to take its last message before it goes on.
bool LogHas(const UniverseStandin& standin, const std::string& text);
// The id xdotool gives the visible window titled "Panorel Peer", or empty when none
// shows within `seconds` (needs a display).
std::string PanorelWindow(int seconds);

// The stand-in universe server (quiet, log kept, one drone, its universe file in
// the scratch folder) and the client in front of it, for the view's process tests.
class StandinRun : public ::testing::Test {
protected:
    // Server first, then the client up to "Ready to host peer programs...".
    void StartServerAndClient();
    bool ServerLogHas(const std::string& text) { return LogHas(*server, text); }
    void TearDown() override;

    Scratch scratch;
    ClientProcess client;
    std::unique_ptr<UniverseStandin> server;
};

}  // namespace apptest
