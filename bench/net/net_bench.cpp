// Loopback round trip of a 20-byte guaranteed message and guaranteed message rate:
// through the session layer, and through bare ENet driven the same way.
// Runs in its own network namespace where it can (see tests/support/isolate.h).
#include <benchmark/benchmark.h>
#include <enet/enet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/net/dplay8.h"
#include "platform/net/net_tuning.h"
#include "tests/support/isolate.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr GUID kApp = {0x5B1E0A77, 0x1C2D, 0x4E3F, {0x80, 0x91, 0xA2, 0xB3, 0xC4, 0xD5, 0xE6, 0xF7}};

void Percentiles(benchmark::State& state, std::vector<double>& us)
{
    if (us.empty()) return;
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}

// ---------------------------------------------------------------- the layer

struct LayerPair {
    IDirectPlay8Server* server = nullptr;
    IDirectPlay8Client* client = nullptr;
    std::atomic<std::uint64_t> echoes{0};
    std::atomic<std::uint64_t> received{0};
    bool echo = true;

    static HRESULT ServerHandler(PVOID ctx, DWORD id, PVOID msg)
    {
        auto* self = static_cast<LayerPair*>(ctx);
        if (id == DPN_MSGID_RECEIVE) {
            auto* m = static_cast<DPNMSG_RECEIVE*>(msg);
            self->received.fetch_add(1, std::memory_order_relaxed);
            if (self->echo) {
                DPN_BUFFER_DESC b{m->dwReceiveDataSize, m->pReceiveData};
                DPNHANDLE h;
                self->server->SendTo(m->dpnidSender, &b, 1, 0, nullptr, &h, DPNSEND_GUARANTEED | DPNSEND_NOLOOPBACK);
            }
        }
        return S_OK;
    }
    static HRESULT ClientHandler(PVOID ctx, DWORD id, PVOID)
    {
        if (id == DPN_MSGID_RECEIVE) static_cast<LayerPair*>(ctx)->echoes.fetch_add(1, std::memory_order_release);
        return S_OK;
    }

    bool Open()
    {
        CoCreateInstance(CLSID_DirectPlay8Server, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Server,
                         reinterpret_cast<void**>(&server));
        CoCreateInstance(CLSID_DirectPlay8Client, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Client,
                         reinterpret_cast<void**>(&client));
        server->Initialize(this, ServerHandler, 0);
        client->Initialize(this, ClientHandler, 0);
        DPN_APPLICATION_DESC d{};
        d.dwSize = sizeof d;
        d.guidApplication = kApp;
        IDirectPlay8Address* dev = IDirectPlay8Address::Create();
        dev->SetSP(&CLSID_DP8SP_TCPIP);
        if (FAILED(server->Host(&d, &dev, 1, nullptr, nullptr, nullptr, 0))) return false;
        dev->Release();
        IDirectPlay8Address* local[1];
        DWORD count = 1;
        server->GetLocalHostAddresses(local, &count, 0);
        const HRESULT hr = client->Connect(&d, local[0], nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                           DPNCONNECT_SYNC);
        local[0]->Release();
        return SUCCEEDED(hr);
    }
    ~LayerPair()
    {
        client->Close(0);
        server->Close(0);
        client->Release();
        server->Release();
    }
    void Send(BYTE* msg)
    {
        DPN_BUFFER_DESC b{20, msg};
        DPNHANDLE h;
        client->Send(&b, 1, 0, nullptr, &h, DPNSEND_GUARANTEED | DPNSEND_NOLOOPBACK);
    }
};

void BM_LayerRoundTrip(benchmark::State& state)
{
    LayerPair p;
    if (!p.Open()) {
        state.SkipWithError("cannot open a session");
        return;
    }
    BYTE msg[20] = {};
    std::vector<double> us;
    for (auto _ : state) {
        const std::uint64_t want = p.echoes.load() + 1;
        const auto t0 = Clock::now();
        p.Send(msg);
        while (p.echoes.load(std::memory_order_acquire) < want) std::this_thread::yield();
        const double t = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        us.push_back(t);
        state.SetIterationTime(t * 1e-6);
    }
    Percentiles(state, us);
}
BENCHMARK(BM_LayerRoundTrip)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

void BM_LayerMessageRate(benchmark::State& state)
{
    LayerPair p;
    p.echo = false;
    if (!p.Open()) {
        state.SkipWithError("cannot open a session");
        return;
    }
    BYTE msg[20] = {};
    const int batch = 1000;
    for (auto _ : state) {
        const std::uint64_t want = p.received.load() + batch;
        for (int i = 0; i < batch; ++i) p.Send(msg);
        while (p.received.load(std::memory_order_relaxed) < want) std::this_thread::yield();
    }
    state.counters["msgs_per_s"] = benchmark::Counter(double(state.iterations()) * batch, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LayerMessageRate)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---------------------------------------------------------------- bare ENet

// An ENet host on its own thread that echoes (or just counts) what it receives.
struct EnetEchoHost {
    ENetHost* host = nullptr;
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> received{0};
    bool echo = true;

    bool Open(std::uint16_t port)
    {
        ENetAddress a{ENET_HOST_ANY, port};
        host = enet_host_create(&a, 4, 1, 0, 0);
        if (host == nullptr) return false;
        thread = std::thread([this] {
            ENetEvent ev;
            while (!stop.load()) {
                if (enet_host_service(host, &ev, 5) <= 0) continue;
                do {
                    if (ev.type == ENET_EVENT_TYPE_RECEIVE) {
                        received.fetch_add(1, std::memory_order_relaxed);
                        if (echo) {
                            enet_peer_send(ev.peer, 0, enet_packet_create(ev.packet->data, ev.packet->dataLength,
                                                                          ENET_PACKET_FLAG_RELIABLE));
                        }
                        enet_packet_destroy(ev.packet);
                    }
                } while (enet_host_check_events(host, &ev) > 0);
                enet_host_flush(host);
            }
        });
        return true;
    }
    ~EnetEchoHost()
    {
        stop = true;
        if (thread.joinable()) thread.join();
        if (host != nullptr) enet_host_destroy(host);
    }
};

struct EnetClient {
    ENetHost* host = nullptr;
    ENetPeer* peer = nullptr;
    bool Open(std::uint16_t port)
    {
        host = enet_host_create(nullptr, 1, 1, 0, 0);
        ENetAddress a;
        enet_address_set_host(&a, "127.0.0.1");
        a.port = port;
        peer = enet_host_connect(host, &a, 1, 0);
        ENetEvent ev;
        return enet_host_service(host, &ev, 2000) > 0 && ev.type == ENET_EVENT_TYPE_CONNECT;
    }
    ~EnetClient()
    {
        if (host != nullptr) enet_host_destroy(host);
    }
};

void BM_EnetRoundTrip(benchmark::State& state)
{
    const std::uint16_t port = static_cast<std::uint16_t>(GetNetTuning().basePort + 5);
    EnetEchoHost server;
    EnetClient client;
    if (!server.Open(port) || !client.Open(port)) {
        state.SkipWithError("cannot open ENet hosts");
        return;
    }
    BYTE msg[20] = {};
    std::vector<double> us;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        enet_peer_send(client.peer, 0, enet_packet_create(msg, sizeof msg, ENET_PACKET_FLAG_RELIABLE));
        enet_host_flush(client.host);
        ENetEvent ev;
        bool got = false;
        while (!got) {
            if (enet_host_service(client.host, &ev, 1) > 0 && ev.type == ENET_EVENT_TYPE_RECEIVE) {
                enet_packet_destroy(ev.packet);
                got = true;
            }
        }
        const double t = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        us.push_back(t);
        state.SetIterationTime(t * 1e-6);
    }
    Percentiles(state, us);
}
BENCHMARK(BM_EnetRoundTrip)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

void BM_EnetMessageRate(benchmark::State& state)
{
    const std::uint16_t port = static_cast<std::uint16_t>(GetNetTuning().basePort + 6);
    EnetEchoHost server;
    server.echo = false;
    EnetClient client;
    if (!server.Open(port) || !client.Open(port)) {
        state.SkipWithError("cannot open ENet hosts");
        return;
    }
    BYTE msg[20] = {};
    const int batch = 1000;
    for (auto _ : state) {
        const std::uint64_t want = server.received.load() + batch;
        for (int i = 0; i < batch; ++i) {
            enet_peer_send(client.peer, 0, enet_packet_create(msg, sizeof msg, ENET_PACKET_FLAG_RELIABLE));
        }
        while (server.received.load(std::memory_order_relaxed) < want) {
            ENetEvent ev;
            if (enet_host_service(client.host, &ev, 1) > 0 && ev.type == ENET_EVENT_TYPE_RECEIVE) {
                enet_packet_destroy(ev.packet);
            }
        }
    }
    state.counters["msgs_per_s"] = benchmark::Counter(double(state.iterations()) * batch, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EnetMessageRate)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    IsolateTestNetwork();
    enet_initialize();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
