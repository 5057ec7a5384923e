#include "tests/client_app/harness.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/registry_values.h"
#include "tests/support/scratch.h"
#include "tools/sample-data/sample_data.h"

#ifndef CLIENT_PROGRAM
#error "CLIENT_PROGRAM names the console client executable"
#endif

namespace apptest {

// ---------------------------------------------------------------- Scratch

Scratch::Scratch() : folder_(std::make_unique<testsupport::ScratchFolder>("client_app")), path_(folder_->Path())
{
    std::filesystem::create_directories(ConfigHome());
    std::string error;
    if (!sample_data::WriteSampleData(path_, &error)) ADD_FAILURE() << "sample data: " << error;
}

Scratch::~Scratch() = default;

std::string Scratch::UnwritableConfigHome() const
{
    const std::string blocker = path_ + "/not-a-folder";
    { std::ofstream(blocker) << "x"; }
    return blocker + "/config";
}

std::string Scratch::ReadFile(const std::string& name) const
{
    std::ifstream in(path_ + "/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Scratch::ReadRegistration(DWORD* value) const
{
    setenv("XDG_CONFIG_HOME", ConfigHome().c_str(), 1);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Meridax Industries", 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = sizeof(DWORD);
    const bool ok = RegQueryValueExA(key, "IVR", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
                    ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

bool Scratch::WriteRegistration(DWORD value) const
{
    setenv("XDG_CONFIG_HOME", ConfigHome().c_str(), 1);
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Meridax Industries", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    const bool ok = key != nullptr && SUCCEEDED(RegWriteDword(key, "IVR", value));
    if (key != nullptr) RegCloseKey(key);
    return ok;
}

// ---------------------------------------------------------------- ClientProcess

ClientProcess::~ClientProcess()
{
    if (pid_ > 0 && status_ < 0) {
        kill(pid_, SIGKILL);
        int st = 0;
        waitpid(pid_, &st, 0);
    }
    if (input_ >= 0) close(input_);
    if (reader_.joinable()) reader_.join();
    if (terminal_ >= 0) close(terminal_);
}

bool ClientProcess::StartOnTerminal(const Scratch& scratch, const std::string& locale, const std::string& configHome)
{
    const std::string config = configHome.empty() ? scratch.ConfigHome() : configHome;
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return false;
    fcntl(master, F_SETFD, FD_CLOEXEC);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        setsid();
        ioctl(slave, TIOCSCTTY, 0);
        dup2(slave, STDIN_FILENO);
        dup2(slave, STDOUT_FILENO);
        dup2(slave, STDERR_FILENO);
        if (slave > STDERR_FILENO) close(slave);
        if (chdir(scratch.Path().c_str()) != 0) _exit(126);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        if (!locale.empty()) setenv("LC_ALL", locale.c_str(), 1);
        execl(CLIENT_PROGRAM, CLIENT_PROGRAM, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(slave);
    pid_ = pid;
    terminal_ = master;
    input_ = dup(master);
    reader_ = std::thread([this, fd = dup(master)] { ReadLoop(fd); });
    return true;
}

bool ClientProcess::TerminalLocalModes(unsigned* modes) const
{
    termios t{};
    if (terminal_ < 0 || tcgetattr(terminal_, &t) != 0) return false;
    *modes = static_cast<unsigned>(t.c_lflag);
    return true;
}

bool ClientProcess::Start(const Scratch& scratch, const std::string& configHome, const std::string& locale)
{
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return false;
    const std::string config = configHome.empty() ? scratch.ConfigHome() : configHome;
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        if (chdir(scratch.Path().c_str()) != 0) _exit(126);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        if (!locale.empty()) setenv("LC_ALL", locale.c_str(), 1);
        execl(CLIENT_PROGRAM, CLIENT_PROGRAM, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    pid_ = pid;
    input_ = in[1];
    reader_ = std::thread([this, fd = out[0]] { ReadLoop(fd); });
    return true;
}

void ClientProcess::ReadLoop(int fd)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            output_.append(buffer, static_cast<std::size_t>(n));
        }
        changed_.notify_all();
    }
    close(fd);
}

void ClientProcess::Type(const std::string& keys)
{
    if (input_ < 0) return;
    const ssize_t n = write(input_, keys.data(), keys.size());
    (void)n;
}

std::size_t ClientProcess::WaitFor(const std::string& text, int timeoutMs, std::size_t from)
{
    std::unique_lock<std::mutex> lock(mutex_);
    std::size_t at = std::string::npos;
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        at = output_.find(text, from);
        return at != std::string::npos;
    });
    return at;
}

std::string ClientProcess::Output() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return output_;
}

std::size_t ClientProcess::Count(const std::string& text) const
{
    const std::string out = Output();
    std::size_t n = 0;
    for (std::size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++n;
    return n;
}

int ClientProcess::WaitExit(int timeoutMs)
{
    if (status_ >= 0) return status_;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int st = 0;
        const pid_t r = waitpid(pid_, &st, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            if (reader_.joinable()) reader_.join();
            return status_;
        }
        if (Clock::now() > end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool ClientProcess::Running() { return WaitExit(0) < 0; }

// ---------------------------------------------------------------- ViewProcess

ViewProcess::~ViewProcess()
{
    if (pid_ > 0 && WaitExit(std::chrono::milliseconds(0)) < 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool ViewProcess::Start(const std::string& program, const std::string& folder)
{
    folder_ = folder;
    const std::string output = folder + "/panorel.out";
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
        const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
        }
        if (chdir(folder.c_str()) != 0) _exit(126);
        setenv("MERIDAX_MESSAGEBOX", "stderr", 1);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return true;
}

int ViewProcess::WaitExit(std::chrono::milliseconds limit)
{
    if (status_ >= 0 || pid_ <= 0) return status_;
    const auto end = Clock::now() + limit;
    for (;;) {
        int st = 0;
        if (waitpid(pid_, &st, WNOHANG) == pid_) {
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            return status_;
        }
        if (Clock::now() >= end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::string ViewProcess::Output() const
{
    std::ifstream in(folder_ + "/panorel.out", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// ---------------------------------------------------------------- Inbox

StatusPacket Received::Status() const
{
    StatusPacket p{};
    if (data.size() == sizeof p) std::memcpy(&p, data.data(), sizeof p);
    return p;
}

void Inbox::Add(Received r)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        items_.push_back(std::move(r));
    }
    changed_.notify_all();
}

std::vector<Received> Inbox::All() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return items_;
}

bool Inbox::WaitUntil(const std::function<bool(const std::vector<Received>&)>& pred, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return pred(items_); });
}

bool Inbox::WaitFor(const std::function<bool(const Received&)>& pred, int timeoutMs, Received* out) const
{
    return WaitUntil(
        [&](const std::vector<Received>& all) {
            for (const Received& r : all) {
                if (pred(r)) {
                    if (out != nullptr) *out = r;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
}

void Inbox::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    items_.clear();
}

Bytes StatusBytes(const StatusPacket& p)
{
    Bytes b(sizeof p);
    std::memcpy(b.data(), &p, sizeof p);
    return b;
}

bool IsStatus(const Received& r, std::uint8_t type) { return r.data.size() == 20 && r.data[0] == type; }
bool IsStatus(const Received& r, std::uint8_t type, std::uint8_t vessel)
{
    return IsStatus(r, type) && r.data[1] == vessel;
}

::testing::AssertionResult StartClient(ScriptedServer& server, const Scratch& scratch, ClientProcess& client,
                                       const std::string& text)
{
    if (!server.Start()) return ::testing::AssertionFailure() << "the scripted server did not start";
    if (!client.Start(scratch)) return ::testing::AssertionFailure() << "the client did not start";
    if (client.WaitFor(text, 15000) == std::string::npos)
        return ::testing::AssertionFailure() << "no \"" << text << "\" in:\n" << client.Output();
    return ::testing::AssertionSuccess();
}

void LeaveWithEscape(ClientProcess& client)
{
    client.Type("\x1b");
    ASSERT_NE(client.WaitFor("\nPress any key to exit...\n"), std::string::npos) << client.Output();
    client.Type("x");
    EXPECT_EQ(client.WaitExit(), 0);
}

std::string Statistics(ClientProcess& client)
{
    const std::size_t from = client.Output().size();
    client.Type("2");
    const std::size_t last = client.WaitFor("\n7 ", 5000, from);
    if (last == std::string::npos) return "";
    client.WaitFor("\n\n", 5000, last);
    return client.Output().substr(from);
}

bool FileHas(const Scratch& scratch, const std::string& name, const std::string& text)
{
    for (int i = 0; i < 100; ++i) {
        if (scratch.ReadFile(name).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

namespace {

void Record(Inbox& inbox, const DPNMSG_RECEIVE* m)
{
    Received r;
    r.from = m->dpnidSender;
    r.data.assign(m->pReceiveData, m->pReceiveData + m->dwReceiveDataSize);
    r.guaranteed = (m->dwReceiveFlags & DPNRECEIVE_GUARANTEED) != 0;
    inbox.Add(std::move(r));
}

HRESULT SendOn(IDirectPlay8Client* c, const void* data, DWORD size, bool guaranteed, DWORD timeoutMs)
{
    if (c == nullptr) return E_FAIL;
    DPN_BUFFER_DESC b{size, static_cast<BYTE*>(const_cast<void*>(data))};
    DPNHANDLE h = 0;
    return c->Send(&b, 1, timeoutMs, nullptr, &h,
                   (guaranteed ? DPNSEND_GUARANTEED : DPNSEND_NOCOMPLETE) | DPNSEND_NOLOOPBACK);
}

}  // namespace

// ---------------------------------------------------------------- TestView

TestView::~TestView()
{
    Close();
    for (IDirectPlay8Address* a : answers_) a->Release();
}

HRESULT TestView::Handler(PVOID context, DWORD id, PVOID message)
{
    auto* self = static_cast<TestView*>(context);
    switch (id) {
    case DPN_MSGID_RECEIVE:
        Record(self->inbox, static_cast<DPNMSG_RECEIVE*>(message));
        break;
    case DPN_MSGID_TERMINATE_SESSION:
        self->terminated.store(1);
        break;
    case DPN_MSGID_ENUM_HOSTS_RESPONSE: {
        auto* m = static_cast<DPNMSG_ENUM_HOSTS_RESPONSE*>(message);
        IDirectPlay8Address* a = nullptr;
        if (SUCCEEDED(m->pAddressSender->Duplicate(&a))) {
            std::lock_guard<std::mutex> lock(self->answersMutex_);
            self->answers_.push_back(a);
        }
        break;
    }
    default:
        break;
    }
    return S_OK;
}

HRESULT TestView::Join(const WCHAR* host)
{
    HRESULT hr = CoCreateInstance(CLSID_DirectPlay8Client, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Client,
                                  reinterpret_cast<void**>(&client_));
    if (FAILED(hr)) return hr;
    hr = client_->Initialize(this, Handler, 0);
    if (FAILED(hr)) return hr;
    DPN_APPLICATION_DESC desc{};
    desc.dwSize = sizeof desc;
    desc.guidApplication = PeerApplicationGuid;
    IDirectPlay8Address* address = IDirectPlay8Address::Create();
    address->SetSP(&CLSID_DP8SP_TCPIP);
    address->AddComponent(DPNA_KEY_HOSTNAME, host, static_cast<DWORD>((std::u16string(host).size() + 1) * 2),
                          DPNA_DATATYPE_STRING);
    IDirectPlay8Address* device = IDirectPlay8Address::Create();
    device->SetSP(&CLSID_DP8SP_TCPIP);
    hr = client_->EnumHosts(&desc, address, device, nullptr, 0, 2, 100, 100, nullptr, nullptr, DPNENUMHOSTS_SYNC);
    IDirectPlay8Address* target = nullptr;
    {
        std::lock_guard<std::mutex> lock(answersMutex_);
        if (!answers_.empty()) target = answers_.back();
    }
    if (SUCCEEDED(hr)) {
        hr = target == nullptr ? E_FAIL
                               : client_->Connect(&desc, target, device, nullptr, nullptr, nullptr, 0, nullptr,
                                                  nullptr, DPNCONNECT_SYNC);
    }
    address->Release();
    device->Release();
    return hr;
}

HRESULT TestView::Send(const void* data, DWORD size, bool guaranteed, DWORD timeoutMs)
{
    return SendOn(client_, data, size, guaranteed, timeoutMs);
}

HRESULT TestView::SendStatus(const StatusPacket& p, bool guaranteed, DWORD timeoutMs)
{
    return Send(&p, sizeof p, guaranteed, timeoutMs);
}

HRESULT TestView::Register(bool propulsion)
{
    return SendStatus(MakeStatusPacket(STATUS_SHUTDOWN, 0, 1.0f, 142.0f, 1.0f, propulsion ? 1.0f : 0.0f), true);
}

void TestView::Close()
{
    if (client_ == nullptr) return;
    client_->Close(0);
    client_->Release();
    client_ = nullptr;
}

// ---------------------------------------------------------------- ScriptedServer

ScriptedServer::~ScriptedServer() { Close(); }

bool ScriptedServer::Start()
{
    if (FAILED(CoCreateInstance(CLSID_DirectPlay8Server, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Server,
                                reinterpret_cast<void**>(&server_))))
        return false;
    if (FAILED(server_->Initialize(this, Handler, 0))) return false;
    DPN_APPLICATION_DESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DPNSESSION_CLIENT_SERVER;
    desc.guidApplication = ServerApplicationGuid;
    desc.pwszSessionName = const_cast<WCHAR*>(u"Scripted Universe");
    IDirectPlay8Address* device = IDirectPlay8Address::Create();
    device->SetSP(&CLSID_DP8SP_TCPIP);
    const HRESULT hr = server_->Host(&desc, &device, 1, nullptr, nullptr, this, 0);
    device->Release();
    return SUCCEEDED(hr);
}

void ScriptedServer::Close()
{
    if (server_ == nullptr) return;
    server_->Close(0);
    server_->Release();
    server_ = nullptr;
}

HRESULT ScriptedServer::Handler(PVOID context, DWORD id, PVOID message)
{
    auto* self = static_cast<ScriptedServer*>(context);
    switch (id) {
    case DPN_MSGID_CREATE_PLAYER: {
        auto* m = static_cast<DPNMSG_CREATE_PLAYER*>(message);
        if (m->pvPlayerContext == self) break;  // the host's own player
        DPNID expected = 0;
        self->player_.compare_exchange_strong(expected, m->dpnidPlayer);
        self->players.fetch_add(1);
        const Options& o = self->options_;
        if (o.configure) {
            self->SendStatus(
                MakeStatusPacket(STATUS_CONFIGURATION, o.vessel, o.seconds, o.newestBuild, o.hours, o.registration),
                true);
            if (o.complete) self->SendStatus(MakeStatusPacket(STATUS_SETUP_COMPLETE, 0, 0, 0, 0, 0), true);
        }
        break;
    }
    case DPN_MSGID_RECEIVE:
        Record(self->inbox, static_cast<DPNMSG_RECEIVE*>(message));
        break;
    default:
        break;
    }
    return S_OK;
}

HRESULT ScriptedServer::Send(const void* data, DWORD size, bool guaranteed)
{
    if (server_ == nullptr || player_.load() == 0) return E_FAIL;
    DPN_BUFFER_DESC b{size, static_cast<BYTE*>(const_cast<void*>(data))};
    DPNHANDLE h = 0;
    return server_->SendTo(player_.load(), &b, 1, 0, nullptr, &h,
                           (guaranteed ? DPNSEND_GUARANTEED : DPNSEND_NOCOMPLETE) | DPNSEND_NOLOOPBACK);
}

HRESULT ScriptedServer::SendStatus(const StatusPacket& p, bool guaranteed) { return Send(&p, sizeof p, guaranteed); }

HRESULT ScriptedServer::DropPlayer()
{
    if (server_ == nullptr || player_.load() == 0) return E_FAIL;
    return server_->DestroyClient(player_.load(), nullptr, 0, 0);
}

void StandinRun::StartServerAndClient()
{
    UniverseStandin::Options o;
    o.log = nullptr;
    o.keepLog = true;
    o.drones = 1;
    o.universeFile = scratch.Path() + "/universe.dat";
    server = std::make_unique<UniverseStandin>(o);
    ASSERT_EQ(server->Start(), S_OK);
    ASSERT_TRUE(client.Start(scratch));
    ASSERT_NE(client.WaitFor("Ready to host peer programs...\n", 15000), std::string::npos) << client.Output();
}

bool LogHas(const UniverseStandin& standin, const std::string& text)
{
    for (int i = 0; i < 100; ++i) {
        for (const std::string& line : standin.LogLines())
            if (line.find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::string PanorelWindow(int seconds)
{
    std::string id;
    const std::string command = "timeout " + std::to_string(seconds) +
                                " xdotool search --sync --onlyvisible --name '^Panorel Peer$' 2>/dev/null";
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[64];
        if (std::fgets(buffer, sizeof buffer, p)) id = buffer;
        pclose(p);
    }
    id.erase(id.find_last_not_of("\n ") + 1);
    return id;
}

void StandinRun::TearDown()
{
    if (server) server->Stop();
}

}  // namespace apptest
