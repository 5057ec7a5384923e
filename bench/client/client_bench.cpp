// client_bench [messages]: runs the console client in a scratch folder against an
// in-process universe server and two view programs, all on the session layer, in a
// network namespace of its own, and prints
//   - the latency of position reports from the server to a view through the client
//     (median, 99th percentile), beside the same reports sent directly from a
//     server to a view over the same layer;
//   - the client's CPU use over five idle seconds with two views attached.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/wire.h"
#include "platform/net/dplay8.h"
#include "platform/net/net_tuning.h"
#include "tests/support/isolate.h"
#include "tools/sample-data/sample_data.h"

namespace {

using Clock = std::chrono::steady_clock;

// Arrival times of numbered position reports (number in the unused bytes).
struct Arrivals {
    explicit Arrivals(std::size_t n) : sent(n), received(n) {}
    std::vector<Clock::time_point> sent, received;
    std::atomic<std::size_t> count{0};
    std::mutex mutex;
};

int SequenceOf(const BYTE* data, DWORD size)
{
    if (size != sizeof(StatusPacket) || data[0] != STATUS_POSITION) return -1;
    return data[2] | (data[3] << 8);
}

void Record(Arrivals* a, const DPNMSG_RECEIVE* m)
{
    if (a == nullptr) return;
    const int seq = SequenceOf(m->pReceiveData, m->dwReceiveDataSize);
    if (seq < 0 || static_cast<std::size_t>(seq) >= a->received.size()) return;
    std::lock_guard<std::mutex> lock(a->mutex);
    if (a->received[seq] == Clock::time_point{}) {
        a->received[seq] = Clock::now();
        a->count.fetch_add(1);
    }
}

// A universe server on the layer: configures its first player, then sends on request.
struct Server {
    IDirectPlay8Server* server = nullptr;
    std::atomic<DPNID> player{0};
    bool configure = true;

    static HRESULT Handler(PVOID context, DWORD id, PVOID message)
    {
        auto* self = static_cast<Server*>(context);
        if (id == DPN_MSGID_CREATE_PLAYER) {
            auto* m = static_cast<DPNMSG_CREATE_PLAYER*>(message);
            if (m->pvPlayerContext == self) return S_OK;
            DPNID none = 0;
            if (!self->player.compare_exchange_strong(none, m->dpnidPlayer)) return S_OK;
            if (self->configure) {
                self->Send(MakeStatusPacket(STATUS_CONFIGURATION, 1, 100.0f, 142.0f, 3.0f, 5001.0f), true);
                self->Send(MakeStatusPacket(STATUS_SETUP_COMPLETE, 0, 0, 0, 0, 0), true);
            }
        }
        return S_OK;
    }
    bool Start(const GUID& app)
    {
        if (FAILED(CoCreateInstance(CLSID_DirectPlay8Server, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Server,
                                    reinterpret_cast<void**>(&server))) ||
            FAILED(server->Initialize(this, Handler, 0)))
            return false;
        DPN_APPLICATION_DESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DPNSESSION_CLIENT_SERVER;
        desc.guidApplication = app;
        IDirectPlay8Address* device = IDirectPlay8Address::Create();
        device->SetSP(&CLSID_DP8SP_TCPIP);
        const HRESULT hr = server->Host(&desc, &device, 1, nullptr, nullptr, this, 0);
        device->Release();
        return SUCCEEDED(hr);
    }
    HRESULT Send(const StatusPacket& p, bool guaranteed)
    {
        DPN_BUFFER_DESC b{sizeof p, reinterpret_cast<BYTE*>(const_cast<StatusPacket*>(&p))};
        DPNHANDLE h = 0;
        return server->SendTo(player.load(), &b, 1, guaranteed ? 0 : 1000, nullptr, &h,
                              (guaranteed ? DPNSEND_GUARANTEED : DPNSEND_NOCOMPLETE) | DPNSEND_NOLOOPBACK);
    }
    void Close()
    {
        if (server == nullptr) return;
        server->Close(0);
        server->Release();
        server = nullptr;
    }
};

// A view program: joins a session of the given application and records arrivals.
struct View {
    IDirectPlay8Client* client = nullptr;
    Arrivals* arrivals = nullptr;
    std::atomic<int> initialStateDone{0};
    std::mutex mutex;
    IDirectPlay8Address* answer = nullptr;

    static HRESULT Handler(PVOID context, DWORD id, PVOID message)
    {
        auto* self = static_cast<View*>(context);
        if (id == DPN_MSGID_RECEIVE) {
            auto* m = static_cast<DPNMSG_RECEIVE*>(message);
            if (m->dwReceiveDataSize == 20 && m->pReceiveData[0] == STATUS_SETUP_COMPLETE)
                self->initialStateDone.store(1);
            Record(self->arrivals, m);
        } else if (id == DPN_MSGID_ENUM_HOSTS_RESPONSE) {
            auto* m = static_cast<DPNMSG_ENUM_HOSTS_RESPONSE*>(message);
            std::lock_guard<std::mutex> lock(self->mutex);
            if (self->answer == nullptr) m->pAddressSender->Duplicate(&self->answer);
        }
        return S_OK;
    }
    bool Join(const GUID& app)
    {
        if (FAILED(CoCreateInstance(CLSID_DirectPlay8Client, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Client,
                                    reinterpret_cast<void**>(&client))) ||
            FAILED(client->Initialize(this, Handler, 0)))
            return false;
        DPN_APPLICATION_DESC desc{};
        desc.dwSize = sizeof desc;
        desc.guidApplication = app;
        IDirectPlay8Address* host = IDirectPlay8Address::Create();
        host->SetSP(&CLSID_DP8SP_TCPIP);
        host->AddComponent(DPNA_KEY_HOSTNAME, u"127.0.0.1", sizeof(u"127.0.0.1"), DPNA_DATATYPE_STRING);
        IDirectPlay8Address* device = IDirectPlay8Address::Create();
        device->SetSP(&CLSID_DP8SP_TCPIP);
        HRESULT hr = client->EnumHosts(&desc, host, device, nullptr, 0, 2, 100, 100, nullptr, nullptr,
                                       DPNENUMHOSTS_SYNC);
        if (SUCCEEDED(hr)) {
            hr = answer == nullptr ? E_FAIL
                                   : client->Connect(&desc, answer, device, nullptr, nullptr, nullptr, 0, nullptr,
                                                     nullptr, DPNCONNECT_SYNC);
        }
        host->Release();
        device->Release();
        return SUCCEEDED(hr);
    }
    void Register(bool propulsion)
    {
        const StatusPacket p = MakeStatusPacket(STATUS_SHUTDOWN, 0, 1.0f, 142.0f, 1.0f, propulsion ? 1.0f : 0.0f);
        DPN_BUFFER_DESC b{sizeof p, reinterpret_cast<BYTE*>(const_cast<StatusPacket*>(&p))};
        DPNHANDLE h = 0;
        client->Send(&b, 1, 0, nullptr, &h, DPNSEND_GUARANTEED | DPNSEND_NOLOOPBACK);
    }
    void Close()
    {
        if (client != nullptr) {
            client->Close(0);
            client->Release();
            client = nullptr;
        }
        if (answer != nullptr) answer->Release();
        answer = nullptr;
    }
};

bool WaitUntil(const std::function<bool()>& done, int ms)
{
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Sends n numbered position reports, one every intervalUs, and waits for them.
void Run(Server& server, Arrivals& a, int intervalUs)
{
    const std::size_t n = a.sent.size();
    for (std::size_t i = 0; i < n; ++i) {
        StatusPacket p = MakeStatusPacket(STATUS_POSITION, 3, 3000.0f, 10.0f, 20.0f, 100.0f);
        p.Unused[0] = static_cast<std::uint8_t>(i & 0xFF);
        p.Unused[1] = static_cast<std::uint8_t>(i >> 8);
        a.sent[i] = Clock::now();
        server.Send(p, true);
        std::this_thread::sleep_for(std::chrono::microseconds(intervalUs));
    }
    WaitUntil([&] { return a.count.load() == n; }, 10000);
}

void Report(const char* name, Arrivals& a)
{
    std::vector<double> us;
    for (std::size_t i = 0; i < a.sent.size(); ++i) {
        if (a.received[i] == Clock::time_point{}) continue;
        us.push_back(std::chrono::duration<double, std::micro>(a.received[i] - a.sent[i]).count());
    }
    if (us.empty()) {
        std::printf("%-28s nothing arrived\n", name);
        return;
    }
    std::sort(us.begin(), us.end());
    const auto at = [&](double q) { return us[std::min(us.size() - 1, static_cast<std::size_t>(q * us.size()))]; };
    std::printf("%-28s %6zu/%-6zu median %8.1f us   p99 %8.1f us   max %8.1f us\n", name, us.size(), a.sent.size(),
                at(0.5), at(0.99), us.back());
}

double CpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::vector<std::string> fields;
    std::size_t at = close + 2;
    while (at < text.size()) {
        const std::size_t space = text.find(' ', at);
        fields.push_back(text.substr(at, space - at));
        if (space == std::string::npos) break;
        at = space + 1;
    }
    if (fields.size() < 13) return 0;
    // Fields 14 and 15 of the file (user, system), counted from the state field (3).
    const double ticks = std::stod(fields[11]) + std::stod(fields[12]);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

int main(int argc, char** argv)
{
    const std::size_t messages = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 2000;
    if (messages == 0 || messages > 65535) {
        std::fprintf(stderr, "usage: client_bench [messages 1-65535]\n");
        return 2;
    }
    if (!IsolateTestNetwork())
        setenv("MERIDAX_NET_TEST_PORT_BASE", std::to_string(GetNetTuning().basePort).c_str(), 1);

    char folder[] = "/tmp/client_bench.XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    std::string error;
    if (!sample_data::WriteSampleData(folder, &error)) {
        std::fprintf(stderr, "sample data: %s\n", error.c_str());
        return 1;
    }
    const std::string config = std::string(folder) + "/config";

    Server universe;
    if (!universe.Start(ServerApplicationGuid)) return 1;

    int input[2];
    if (pipe(input) != 0) return 1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(input[0], STDIN_FILENO);
        const int out = open((std::string(folder) + "/console.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        if (chdir(folder) != 0) _exit(126);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        execl(CLIENT_PROGRAM, CLIENT_PROGRAM, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(input[0]);

    int status = 1;
    View pilot, watcher;
    if (!WaitUntil([&] { return universe.player.load() != 0; }, 15000) ||
        !WaitUntil([&] { return pilot.Join(PeerApplicationGuid) || (pilot.Close(), false); }, 15000)) {
        std::fprintf(stderr, "the console client did not come up (see %s/console.txt)\n", folder);
    } else {
        pilot.Register(true);
        watcher.Join(PeerApplicationGuid);
        watcher.Register(false);
        WaitUntil([&] { return pilot.initialStateDone.load() && watcher.initialStateDone.load(); }, 5000);

        std::printf("console client: %s\n", CLIENT_PROGRAM);
        std::printf("%zu guaranteed position reports, one every 2 ms\n", messages);
        Arrivals through(messages);
        watcher.arrivals = &through;
        Run(universe, through, 2000);
        watcher.arrivals = nullptr;
        Report("server -> client -> view", through);

        Server directServer;
        directServer.configure = false;
        View direct;
        Arrivals straight(messages);
        direct.arrivals = &straight;
        const GUID directApp = {0x5AD4CA3B, 0xAC68, 0x4D9B, {0x95, 0x22, 0xBE, 0x59, 0xCD, 0x48, 0x52, 0x77}};
        if (directServer.Start(directApp) && direct.Join(directApp) &&
            WaitUntil([&] { return directServer.player.load() != 0; }, 5000)) {
            Run(directServer, straight, 2000);
            Report("server -> view (direct)", straight);
        }
        direct.Close();
        directServer.Close();

        const double before = CpuSeconds(pid);
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        const double cpu = CpuSeconds(pid) - before;
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("client CPU while idle, two views attached: %.2f%% of one core (%.3f s in %.1f s)\n",
                    100.0 * cpu / wall, cpu, wall);
        status = 0;
    }
    // ESC, then a key at the exit prompt.
    const ssize_t w = write(input[1], "\x1bx", 2);
    (void)w;
    int st = 0;
    if (!WaitUntil([&] { return waitpid(pid, &st, WNOHANG) == pid; }, 10000)) {
        kill(pid, SIGKILL);
        waitpid(pid, &st, 0);
    }
    pilot.Close();
    watcher.Close();
    universe.Close();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return status;
}
