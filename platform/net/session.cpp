// Client and server objects: one ENet host and one service thread each.
#include <enet/enet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/net/dplay8.h"
#include "platform/net/net_internal.h"
#include "platform/net/net_tuning.h"
#include "platform/net/protocol.h"

using namespace netproto;

// ---------------------------------------------------------------- tuning

namespace {

std::mutex g_tuningMutex;
bool g_tuningLoaded = false;
NetTuning g_tuning;

void LoadTuningLocked()
{
    if (g_tuningLoaded) return;
    g_tuningLoaded = true;
    if (const char* base = std::getenv("MERIDAX_NET_TEST_PORT_BASE")) {
        const long v = std::strtol(base, nullptr, 10);
        if (v > 0 && v + g_tuning.portCount <= 65535) g_tuning.basePort = static_cast<std::uint16_t>(v);
    }
}

}  // namespace

NetTuning GetNetTuning()
{
    std::lock_guard<std::mutex> lock(g_tuningMutex);
    LoadTuningLocked();
    return g_tuning;
}

void SetNetTuning(const NetTuning& tuning)
{
    std::lock_guard<std::mutex> lock(g_tuningMutex);
    g_tuningLoaded = true;
    g_tuning = tuning;
}

// ---------------------------------------------------------------- helpers

namespace {

std::uint32_t NowMs()
{
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void EnsureEnet()
{
    static std::once_flag once;
    std::call_once(once, [] { enet_initialize(); });
}

std::uint64_t RandomBits()
{
    static std::mutex m;
    static std::mt19937_64 gen{std::random_device{}() ^ (std::uint64_t(std::random_device{}()) << 32)};
    std::lock_guard<std::mutex> lock(m);
    return gen();
}

GUID RandomGuid()
{
    GUID g;
    const std::uint64_t a = RandomBits();
    const std::uint64_t b = RandomBits();
    std::memcpy(&g, &a, 8);
    std::memcpy(reinterpret_cast<std::uint8_t*>(&g) + 8, &b, 8);
    return g;
}

// A one-shot result another thread waits for.
struct Waiter {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    HRESULT hr = S_OK;

    void Finish(HRESULT result)
    {
        std::lock_guard<std::mutex> lock(m);
        if (done) return;
        done = true;
        hr = result;
        cv.notify_all();
    }
    HRESULT Wait()
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [this] { return done; });
        return hr;
    }
};

struct ConnStats {
    std::atomic<DWORD> rtt{0};
    std::atomic<DWORD> throughput{0};
    std::atomic<DWORD> peak{0};
    std::atomic<DWORD> bytesSentG{0};
    std::atomic<DWORD> packetsSentG{0};
    std::atomic<DWORD> bytesSentN{0};
    std::atomic<DWORD> packetsSentN{0};
    std::atomic<DWORD> packetsRetried{0};
    std::atomic<DWORD> bytesDropped{0};
    std::atomic<DWORD> packetsDropped{0};
    std::atomic<DWORD> bytesReceivedG{0};
    std::atomic<DWORD> packetsReceivedG{0};
    std::atomic<DWORD> bytesReceivedN{0};
    std::atomic<DWORD> packetsReceivedN{0};
    std::atomic<DWORD> messagesReceived{0};
};

enum class ConnState { Fresh, Created, Gone };

// One connection. `stats` may be read from any thread; the rest belongs to the
// service thread.
struct Conn {
    DPNID id = 0;
    ConnStats stats;
    ENetPeer* peer = nullptr;
    ConnState state = ConnState::Fresh;
    void* context = nullptr;
    std::uint32_t since = 0;
    std::uint32_t welcomeStamp = 0;
    std::uint32_t lastLost = 0;
    std::uint64_t windowBytes = 0;
    std::uint32_t windowStart = 0;
    bool seeded = false;
};

void Add(std::atomic<DWORD>& counter, std::size_t n) { counter.fetch_add(static_cast<DWORD>(n), std::memory_order_relaxed); }

void FillInfo(const ConnStats& s, DPN_CONNECTION_INFO* info)
{
    const DWORD size = info->dwSize;
    std::memset(info, 0, sizeof *info);
    info->dwSize = size;
    info->dwRoundTripLatencyMS = s.rtt.load();
    info->dwThroughputBPS = s.throughput.load();
    info->dwPeakThroughputBPS = s.peak.load();
    info->dwBytesSentGuaranteed = s.bytesSentG.load();
    info->dwPacketsSentGuaranteed = s.packetsSentG.load();
    info->dwBytesSentNonGuaranteed = s.bytesSentN.load();
    info->dwPacketsSentNonGuaranteed = s.packetsSentN.load();
    info->dwPacketsRetried = s.packetsRetried.load();
    info->dwBytesDropped = s.bytesDropped.load();
    info->dwPacketsDropped = s.packetsDropped.load();
    info->dwMessagesTransmittedNormalPriority = info->dwPacketsSentGuaranteed + info->dwPacketsSentNonGuaranteed;
    info->dwMessagesTimedOutNormalPriority = info->dwPacketsDropped;
    info->dwBytesReceivedGuaranteed = s.bytesReceivedG.load();
    info->dwPacketsReceivedGuaranteed = s.packetsReceivedG.load();
    info->dwBytesReceivedNonGuaranteed = s.bytesReceivedN.load();
    info->dwPacketsReceivedNonGuaranteed = s.packetsReceivedN.load();
    info->dwMessagesReceived = s.messagesReceived.load();
}

// A queued send, or a call to run on the service thread.
struct Item {
    DPNID target = 0;
    ENetPacket* packet = nullptr;
    std::size_t bytes = 0;
    std::uint32_t timeoutMs = 0;
    std::uint32_t queuedAt = 0;
    bool guaranteed = false;
    bool loopback = false;
    std::function<void()> fn;
};

struct Answer {
    GUID instance;
    GUID application;
    DWORD maxPlayers;
    DWORD currentPlayers;
    std::u16string name;
    bool hasName;
    ENetAddress from;
    DWORD rtt;
};

const GUID kDeviceGuid = {0x6D0C5E60, 0x2B7A, 0x4C1E, {0x9A, 0x3F, 0x51, 0x0B, 0x7E, 0x24, 0xC8, 0x20}};

HRESULT EnumProviders(const GUID* sp, DPN_SERVICE_PROVIDER_INFO* buffer, DWORD* size, DWORD* count)
{
    if (size == nullptr || count == nullptr) return DPNERR_INVALIDPOINTER;
    const char16_t* name;
    GUID guid;
    if (sp == nullptr) {
        name = u"UDP/IP Service Provider";
        guid = CLSID_DP8SP_TCPIP;
    } else if (*sp == CLSID_DP8SP_TCPIP) {
        name = u"Local UDP/IP adapter";
        guid = kDeviceGuid;
    } else {
        return DPNERR_DOESNOTEXIST;
    }
    const std::size_t units = std::char_traits<char16_t>::length(name) + 1;
    const DWORD need = static_cast<DWORD>(sizeof(DPN_SERVICE_PROVIDER_INFO) + units * sizeof(char16_t));
    if (buffer == nullptr || *size < need) {
        *size = need;
        *count = 0;
        return DPNERR_BUFFERTOOSMALL;
    }
    auto* text = reinterpret_cast<char16_t*>(buffer + 1);
    std::memcpy(text, name, units * sizeof(char16_t));
    buffer->dwFlags = 0;
    buffer->guid = guid;
    buffer->pwszName = text;
    buffer->pvReserved = nullptr;
    buffer->dwReserved = 0;
    *size = need;
    *count = 1;
    return S_OK;
}

bool Resolve(const std::string& host, std::uint16_t port, ENetAddress* out)
{
    out->port = port;
    if (host.empty()) return false;
    return enet_address_set_host(out, host.c_str()) == 0;
}

class SessionCore;
thread_local SessionCore* t_serviceCore = nullptr;

// ---------------------------------------------------------------- session core

class SessionCore {
public:
    explicit SessionCore(bool server) : server_(server) {}
    ~SessionCore() { Close(); }

    ULONG AddRef() { return ++refs_; }
    ULONG Release() { return --refs_; }

    HRESULT Initialize(void* context, PFNDPNMESSAGEHANDLER handler);
    HRESULT EnumServiceProviders(const GUID* sp, DPN_SERVICE_PROVIDER_INFO* buffer, DWORD* size, DWORD* count)
    {
        if (phase_.load() == kIdle) return DPNERR_UNINITIALIZED;
        return EnumProviders(sp, buffer, size, count);
    }
    HRESULT EnumHosts(const DPN_APPLICATION_DESC* desc, IDirectPlay8Address* hostAddress, DWORD count,
                      DWORD interval, DWORD timeout, void* userContext, DWORD flags);
    HRESULT Connect(const DPN_APPLICATION_DESC* desc, IDirectPlay8Address* hostAddress, DWORD flags);
    HRESULT Host(const DPN_APPLICATION_DESC* desc, IDirectPlay8Address** devices, DWORD deviceCount,
                 void* playerContext);
    HRESULT SetServerInfo(const DPN_PLAYER_INFO* info);
    HRESULT Send(DPNID target, const DPN_BUFFER_DESC* buffers, DWORD bufferCount, DWORD timeout, DWORD flags);
    HRESULT GetConnectionInfo(DPNID id, DPN_CONNECTION_INFO* info);
    HRESULT DestroyClient(DPNID id);
    HRESULT GetLocalHostAddresses(IDirectPlay8Address** addresses, DWORD* count);
    HRESULT Close();

    int Intercept(ENetHost* host);

private:
    static constexpr int kIdle = 0;
    static constexpr int kRunning = 1;
    static constexpr int kClosing = 2;

    bool OnServiceThread() const { return t_serviceCore == this; }
    bool Post(Item&& item);
    void RunAndWait(std::function<void()> fn);
    void Deliver(DWORD id, void* message) { handler_(userContext_, id, message); }

    // Service thread.
    void ServiceMain();
    void ServiceHost();
    void Execute(Item& item);
    void Timers();
    void OnConnect(ENetPeer* peer);
    void OnReceive(ENetPeer* peer, ENetPacket* packet);
    void OnDisconnect(ENetPeer* peer, std::uint32_t data);
    void DeliverReceive(DPNID sender, void* context, const std::uint8_t* data, std::size_t size, bool guaranteed);
    void SendControl(ENetPeer* peer, const std::uint8_t* data, std::size_t size);
    void Seed(Conn& c, std::uint32_t rtt);
    void CreatePlayer(const std::shared_ptr<Conn>& c);
    void RemovePlayer(Conn* c);
    void DestroyPlayer(Conn* c, DWORD reason);
    void FinishConnect(HRESULT hr);
    void SendEnumRound();
    void AnswerQuery(ENetHost* host, const std::uint8_t* d);
    void CollectAnswer(const ENetAddress& from, const std::uint8_t* d, std::size_t n);
    void DispatchAnswers();
    void BeginClose();
    void FinishClose();
    DPNID NextId();
    ENetHost* CreateHost(const ENetAddress* address, std::size_t peers);

    const bool server_;
    std::atomic<ULONG> refs_{1};
    NetTuning tuning_;

    // Set before the service thread starts; constant while it runs.
    PFNDPNMESSAGEHANDLER handler_ = nullptr;
    void* userContext_ = nullptr;
    std::thread thread_;
    int wakeFd_ = -1;

    std::mutex lifeMutex_;  // serialises Initialize, EnumHosts, Connect, Host, Close
    std::atomic<int> phase_{kIdle};
    std::atomic<bool> connected_{false};
    std::atomic<bool> hosting_{false};
    std::atomic<std::uint16_t> port_{0};

    std::mutex queueMutex_;
    std::deque<Item> queue_;
    std::deque<Item> running_;  // service thread only: the batch taken from queue_
    bool accepting_ = false;  // guarded by queueMutex_
    std::atomic<bool> wakePending_{false};

    // Players that may be addressed, by id (server), or the one connection (client).
    std::mutex dirMutex_;
    std::unordered_map<DPNID, std::shared_ptr<Conn>> directory_;
    std::shared_ptr<Conn> clientConn_;
    DPNID ownPlayer_ = 0;

    std::mutex infoMutex_;
    std::u16string serverName_;

    // ---- service thread only
    ENetHost* host_ = nullptr;
    bool exit_ = false;
    std::unordered_map<ENetPeer*, std::shared_ptr<Conn>> peers_;
    std::vector<std::shared_ptr<Conn>> created_;  // creation order
    std::unordered_map<DPNID, std::shared_ptr<Conn>> byId_;
    void* ownContext_ = nullptr;
    DPNID nextId_ = 0;
    // hosting
    bool svHosting_ = false;
    GUID app_ = GUID_NULL;
    GUID instance_ = GUID_NULL;
    std::u16string sessionName_;
    bool hasSessionName_ = false;
    DWORD maxPlayers_ = 0;
    double tokens_ = 0;
    std::uint32_t tokensAt_ = 0;
    // connecting (client)
    bool connecting_ = false;
    ENetPeer* connectPeer_ = nullptr;
    GUID connectApp_ = GUID_NULL;
    GUID connectInstance_ = GUID_NULL;
    std::uint32_t connectStamp_ = 0;
    std::uint32_t connectDeadline_ = 0;
    HRESULT rejectHr_ = S_OK;
    Waiter* connectWaiter_ = nullptr;
    std::shared_ptr<Conn> serverConn_;
    // enumerating (client)
    struct {
        bool active = false;
        std::uint32_t nonce = 0;
        GUID app = GUID_NULL;
        std::vector<ENetAddress> targets;
        std::uint32_t roundsLeft = 0;
        std::uint32_t nextAt = 0;
        std::uint32_t interval = 0;
        void* context = nullptr;
    } enum_;
    std::vector<Answer> answers_;
    // closing
    bool closing_ = false;
    std::uint32_t closeDeadline_ = 0;
};

int InterceptThunk(ENetHost* host, ENetEvent*)
{
    return t_serviceCore != nullptr ? t_serviceCore->Intercept(host) : 0;
}

ENetHost* SessionCore::CreateHost(const ENetAddress* address, std::size_t peers)
{
    ENetHost* h = enet_host_create(address, peers, 1, 0, 0);
    if (h == nullptr) return nullptr;
    h->intercept = InterceptThunk;
    h->maximumPacketSize = tuning_.maxMessageSize + 1;
    h->maximumWaitingData = std::max<std::size_t>(4u << 20, 4u * (tuning_.maxMessageSize + 1));
    return h;
}

HRESULT SessionCore::Initialize(void* context, PFNDPNMESSAGEHANDLER handler)
{
    if (handler == nullptr) return DPNERR_INVALIDPARAM;
    std::lock_guard<std::mutex> life(lifeMutex_);
    if (phase_.load() != kIdle) return DPNERR_ALREADYINITIALIZED;
    EnsureEnet();
    tuning_ = GetNetTuning();
    handler_ = handler;
    userContext_ = context;
    exit_ = false;
    closing_ = false;
    if (!server_) {
        ENetAddress any{ENET_HOST_ANY, 0};
        host_ = CreateHost(&any, 1);
        if (host_ == nullptr) return DPNERR_GENERIC;
    }
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        if (host_ != nullptr) enet_host_destroy(host_);
        host_ = nullptr;
        return DPNERR_GENERIC;
    }
    nextId_ = static_cast<DPNID>((RandomBits() & 0x7FFF0000u) | 0x00010000u);
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        accepting_ = true;
    }
    phase_.store(kRunning);
    thread_ = std::thread([this] { ServiceMain(); });
    return S_OK;
}

// Queues work for the service thread. Refused (a send's packet freed) once Close
// has begun, so nothing is queued that the thread will not see, and the wake-up
// descriptor is never written after Close has closed it.
bool SessionCore::Post(Item&& item)
{
    std::lock_guard<std::mutex> lock(queueMutex_);
    if (!accepting_) {
        if (item.packet != nullptr) enet_packet_destroy(item.packet);
        return false;
    }
    queue_.push_back(std::move(item));
    if (!wakePending_.exchange(true)) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
    }
    return true;
}

void SessionCore::RunAndWait(std::function<void()> fn)
{
    auto w = std::make_shared<Waiter>();
    Item item;
    item.fn = [fn = std::move(fn), w] {
        fn();
        w->Finish(S_OK);
    };
    if (Post(std::move(item))) w->Wait();
}

HRESULT SessionCore::Send(DPNID target, const DPN_BUFFER_DESC* buffers, DWORD bufferCount, DWORD timeout, DWORD flags)
{
    if (buffers == nullptr || bufferCount == 0) return DPNERR_INVALIDPARAM;
    std::size_t total = 0;
    for (DWORD i = 0; i < bufferCount; ++i) {
        if (buffers[i].pBufferData == nullptr && buffers[i].dwBufferSize != 0) return DPNERR_INVALIDPOINTER;
        total += buffers[i].dwBufferSize;
    }
    if (total == 0) return DPNERR_INVALIDPARAM;
    if (total > tuning_.maxMessageSize) return DPNERR_SENDTOOLARGE;
    const int phase = phase_.load();
    if (phase == kIdle) return DPNERR_UNINITIALIZED;
    if (phase == kClosing) return DPNERR_ALREADYCLOSING;
    const bool guaranteed = (flags & DPNSEND_GUARANTEED) != 0;
    bool loopback = false;
    if (server_) {
        if (!hosting_.load()) return DPNERR_NOTHOST;
        std::lock_guard<std::mutex> lock(dirMutex_);
        if (target == ownPlayer_) {
            loopback = true;
        } else if (target == DPNID_ALL_PLAYERS_GROUP) {
            loopback = (flags & DPNSEND_NOLOOPBACK) == 0;
        } else if (directory_.find(target) == directory_.end()) {
            return DPNERR_INVALIDPLAYER;
        }
    } else if (!connected_.load()) {
        return DPNERR_NOCONNECTION;
    }
    ENetPacket* packet = enet_packet_create(nullptr, total + 1, guaranteed ? ENET_PACKET_FLAG_RELIABLE : 0);
    if (packet == nullptr) return DPNERR_OUTOFMEMORY;
    packet->data[0] = guaranteed ? kTagDataGuaranteed : kTagData;
    std::size_t at = 1;
    for (DWORD i = 0; i < bufferCount; ++i) {
        if (buffers[i].dwBufferSize == 0) continue;
        std::memcpy(packet->data + at, buffers[i].pBufferData, buffers[i].dwBufferSize);
        at += buffers[i].dwBufferSize;
    }
    Item item;
    item.target = target;
    item.packet = packet;
    item.bytes = total;
    item.timeoutMs = timeout;
    item.queuedAt = NowMs();
    item.guaranteed = guaranteed;
    item.loopback = loopback;
    if (!Post(std::move(item))) return phase_.load() == kIdle ? DPNERR_UNINITIALIZED : DPNERR_ALREADYCLOSING;
    return S_OK;
}

HRESULT SessionCore::GetConnectionInfo(DPNID id, DPN_CONNECTION_INFO* info)
{
    if (info == nullptr) return DPNERR_INVALIDPOINTER;
    if (info->dwSize != sizeof(DPN_CONNECTION_INFO)) return DPNERR_INVALIDPARAM;
    if (phase_.load() == kIdle) return DPNERR_UNINITIALIZED;
    std::shared_ptr<Conn> c;
    {
        std::lock_guard<std::mutex> lock(dirMutex_);
        if (server_) {
            auto it = directory_.find(id);
            if (it != directory_.end()) c = it->second;
        } else {
            c = clientConn_;
        }
    }
    if (c == nullptr) return server_ ? DPNERR_INVALIDPLAYER : DPNERR_NOCONNECTION;
    FillInfo(c->stats, info);
    return S_OK;
}

HRESULT SessionCore::SetServerInfo(const DPN_PLAYER_INFO* info)
{
    if (info == nullptr) return DPNERR_INVALIDPOINTER;
    if (info->dwSize != sizeof(DPN_PLAYER_INFO)) return DPNERR_INVALIDPARAM;
    if (phase_.load() == kIdle) return DPNERR_UNINITIALIZED;
    if ((info->dwInfoFlags & DPNINFO_NAME) != 0) {
        std::lock_guard<std::mutex> lock(infoMutex_);
        serverName_ = info->pwszName != nullptr ? std::u16string(info->pwszName) : std::u16string();
    }
    return S_OK;
}

HRESULT SessionCore::EnumHosts(const DPN_APPLICATION_DESC* desc, IDirectPlay8Address* hostAddress, DWORD count,
                               DWORD interval, DWORD timeout, void* userContext, DWORD flags)
{
    if ((flags & DPNENUMHOSTS_SYNC) == 0) return DPNERR_UNSUPPORTED;
    if (desc == nullptr || desc->dwSize != sizeof(DPN_APPLICATION_DESC)) return DPNERR_INVALIDPARAM;
    if (phase_.load() != kRunning) return phase_.load() == kIdle ? DPNERR_UNINITIALIZED : DPNERR_ALREADYCLOSING;
    if (OnServiceThread()) return DPNERR_NOTALLOWED;
    if (hostAddress != nullptr && !netimpl::AddressIsIp(hostAddress)) return DPNERR_INVALIDHOSTADDRESS;

    std::vector<ENetAddress> targets;
    std::string name;
    std::uint16_t port = 0;
    const bool hasPort = hostAddress != nullptr && netimpl::AddressPort(hostAddress, &port);
    ENetAddress base{ENET_HOST_BROADCAST, 0};
    if (hostAddress != nullptr && netimpl::AddressHostname(hostAddress, &name)) {
        if (!Resolve(name, 0, &base)) return DPNERR_INVALIDHOSTADDRESS;
    }
    if (hasPort) {
        targets.push_back({base.host, port});
    } else {
        for (std::uint16_t i = 0; i < tuning_.portCount; ++i) {
            targets.push_back({base.host, static_cast<std::uint16_t>(tuning_.basePort + i)});
        }
    }

    std::lock_guard<std::mutex> life(lifeMutex_);
    if (phase_.load() != kRunning) return DPNERR_ALREADYCLOSING;
    const std::uint32_t rounds = std::clamp<DWORD>(count != 0 ? count : tuning_.enumCount, 1, 1000);
    const std::uint32_t every = std::min<DWORD>(interval != 0 ? interval : tuning_.enumRetryMs, 60000);
    const std::uint32_t wait = std::min<DWORD>(timeout != 0 ? timeout : tuning_.enumTimeoutMs, 60000);
    const std::uint32_t nonce = static_cast<std::uint32_t>(RandomBits()) | 1u;
    const GUID app = desc->guidApplication;
    const auto started = std::chrono::steady_clock::now();
    RunAndWait([&] {
        enum_.active = host_ != nullptr;
        enum_.nonce = nonce;
        enum_.app = app;
        enum_.targets = targets;
        enum_.roundsLeft = rounds;
        enum_.interval = every;
        enum_.nextAt = NowMs();
        enum_.context = userContext;
        answers_.clear();
        SendEnumRound();
    });
    const auto total = std::chrono::milliseconds(std::uint64_t(rounds - 1) * every + wait);
    std::this_thread::sleep_until(started + total);
    RunAndWait([&] {
        DispatchAnswers();
        enum_.active = false;
        enum_.targets.clear();
        answers_.clear();
    });
    return S_OK;
}

HRESULT SessionCore::Connect(const DPN_APPLICATION_DESC* desc, IDirectPlay8Address* hostAddress, DWORD flags)
{
    if ((flags & DPNCONNECT_SYNC) == 0) return DPNERR_UNSUPPORTED;
    if (desc == nullptr || desc->dwSize != sizeof(DPN_APPLICATION_DESC)) return DPNERR_INVALIDPARAM;
    if (hostAddress == nullptr) return DPNERR_INVALIDPOINTER;
    if (phase_.load() != kRunning) return phase_.load() == kIdle ? DPNERR_UNINITIALIZED : DPNERR_ALREADYCLOSING;
    if (OnServiceThread()) return DPNERR_NOTALLOWED;
    if (!netimpl::AddressIsIp(hostAddress)) return DPNERR_INVALIDHOSTADDRESS;
    std::string name;
    std::uint16_t port = tuning_.basePort;
    netimpl::AddressPort(hostAddress, &port);
    ENetAddress address;
    if (!netimpl::AddressHostname(hostAddress, &name) || !Resolve(name, port, &address)) {
        return DPNERR_INVALIDHOSTADDRESS;
    }

    std::lock_guard<std::mutex> life(lifeMutex_);
    if (phase_.load() != kRunning) return DPNERR_ALREADYCLOSING;
    if (connected_.load()) return DPNERR_ALREADYCONNECTED;
    Waiter w;
    const GUID app = desc->guidApplication;
    const GUID instance = desc->guidInstance;
    RunAndWait([&] {
        if (host_ == nullptr) {
            w.Finish(DPNERR_NOCONNECTION);
            return;
        }
        if (connecting_ || serverConn_ != nullptr) {
            w.Finish(DPNERR_ALREADYCONNECTED);
            return;
        }
        ENetPeer* peer = enet_host_connect(host_, &address, 1, 0);
        if (peer == nullptr) {
            w.Finish(DPNERR_NOCONNECTION);
            return;
        }
        enet_peer_timeout(peer, 0, tuning_.peerTimeoutMinMs, tuning_.peerTimeoutMaxMs);
        auto c = std::make_shared<Conn>();
        c->peer = peer;
        c->since = NowMs();
        peer->data = c.get();
        peers_[peer] = c;
        connecting_ = true;
        connectPeer_ = peer;
        connectApp_ = app;
        connectInstance_ = instance;
        connectDeadline_ = NowMs() + tuning_.connectTimeoutMs;
        rejectHr_ = S_OK;
        connectWaiter_ = &w;
        enet_host_flush(host_);
    });
    return w.Wait();
}

HRESULT SessionCore::Host(const DPN_APPLICATION_DESC* desc, IDirectPlay8Address** devices, DWORD deviceCount,
                          void* playerContext)
{
    if (desc == nullptr || desc->dwSize != sizeof(DPN_APPLICATION_DESC)) return DPNERR_INVALIDPARAM;
    if (devices == nullptr || deviceCount == 0 || devices[0] == nullptr) return DPNERR_INVALIDPARAM;
    if (!netimpl::AddressIsIp(devices[0])) return DPNERR_INVALIDDEVICEADDRESS;
    if (phase_.load() != kRunning) return phase_.load() == kIdle ? DPNERR_UNINITIALIZED : DPNERR_ALREADYCLOSING;
    if (OnServiceThread()) return DPNERR_NOTALLOWED;
    // A "hostname" in the device address binds the session to that interface only.
    ENetAddress bindTo{ENET_HOST_ANY, 0};
    std::string bindHost;
    if (netimpl::AddressHostname(devices[0], &bindHost) && !Resolve(bindHost, 0, &bindTo))
        return DPNERR_INVALIDDEVICEADDRESS;
    std::vector<std::uint16_t> ports;
    std::uint16_t port = 0;
    if (netimpl::AddressPort(devices[0], &port)) {
        ports.push_back(port);
    } else {
        for (std::uint16_t i = 0; i < tuning_.portCount; ++i) ports.push_back(static_cast<std::uint16_t>(tuning_.basePort + i));
    }
    const GUID app = desc->guidApplication;
    const DWORD maxPlayers = desc->dwMaxPlayers;
    const bool hasName = desc->pwszSessionName != nullptr;
    std::u16string name = hasName ? std::u16string(desc->pwszSessionName) : std::u16string();
    if (name.size() > kMaxNameUnits) name.resize(kMaxNameUnits);

    std::lock_guard<std::mutex> life(lifeMutex_);
    if (phase_.load() != kRunning) return DPNERR_ALREADYCLOSING;
    if (hosting_.load()) return DPNERR_ALREADYCONNECTED;
    HRESULT hr = DPNERR_INVALIDDEVICEADDRESS;
    RunAndWait([&] {
        for (std::uint16_t p : ports) {
            ENetAddress a{bindTo.host, p};
            host_ = CreateHost(&a, tuning_.maxPeers);
            if (host_ != nullptr) {
                port_.store(p);
                break;
            }
        }
        if (host_ == nullptr) return;
        svHosting_ = true;
        app_ = app;
        instance_ = RandomGuid();
        sessionName_ = name;
        hasSessionName_ = hasName;
        maxPlayers_ = maxPlayers;
        tokens_ = tuning_.enumAnswersPerSecond;
        tokensAt_ = NowMs();
        const DPNID own = NextId();
        {
            std::lock_guard<std::mutex> lock(dirMutex_);
            ownPlayer_ = own;
        }
        hosting_.store(true);
        DPNMSG_CREATE_PLAYER m{sizeof(DPNMSG_CREATE_PLAYER), own, playerContext};
        Deliver(DPN_MSGID_CREATE_PLAYER, &m);
        ownContext_ = m.pvPlayerContext;
        hr = S_OK;
    });
    return hr;
}

HRESULT SessionCore::DestroyClient(DPNID id)
{
    if (phase_.load() != kRunning) return phase_.load() == kIdle ? DPNERR_UNINITIALIZED : DPNERR_ALREADYCLOSING;
    if (!hosting_.load()) return DPNERR_NOTHOST;
    {
        std::lock_guard<std::mutex> lock(dirMutex_);
        if (directory_.find(id) == directory_.end()) return DPNERR_INVALIDPLAYER;
    }
    Item item;
    item.fn = [this, id] {
        auto it = byId_.find(id);
        if (it == byId_.end()) return;
        std::shared_ptr<Conn> c = it->second;
        if (c->state != ConnState::Created) return;
        if (c->peer != nullptr) enet_peer_disconnect_later(c->peer, kByeDropped);
        DestroyPlayer(c.get(), DPNDESTROYPLAYERREASON_HOSTDESTROYEDPLAYER);
    };
    if (!Post(std::move(item))) return DPNERR_ALREADYCLOSING;
    return S_OK;
}

HRESULT SessionCore::GetLocalHostAddresses(IDirectPlay8Address** addresses, DWORD* count)
{
    if (count == nullptr) return DPNERR_INVALIDPOINTER;
    if (!hosting_.load()) return DPNERR_NOTHOST;
    if (addresses == nullptr || *count < 1) {
        *count = 1;
        return DPNERR_BUFFERTOOSMALL;
    }
    addresses[0] = netimpl::MakeAddress("127.0.0.1", port_.load());
    *count = 1;
    return S_OK;
}

HRESULT SessionCore::Close()
{
    if (OnServiceThread()) return DPNERR_NOTALLOWED;
    std::lock_guard<std::mutex> life(lifeMutex_);
    if (phase_.load() == kIdle) return DPNERR_UNINITIALIZED;
    {
        // From here on sends are refused; those queued before go out first.
        std::lock_guard<std::mutex> lock(queueMutex_);
        phase_.store(kClosing);
        Item item;
        item.fn = [this] { BeginClose(); };
        queue_.push_back(std::move(item));
        accepting_ = false;
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
    }
    thread_.join();
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        close(wakeFd_);
        wakeFd_ = -1;
    }
    {
        std::lock_guard<std::mutex> lock(dirMutex_);
        directory_.clear();
        clientConn_.reset();
        ownPlayer_ = 0;
    }
    connected_.store(false);
    hosting_.store(false);
    port_.store(0);
    wakePending_.store(false);
    handler_ = nullptr;
    userContext_ = nullptr;
    phase_.store(kIdle);
    return S_OK;
}

// ---------------------------------------------------------------- service thread

void SessionCore::ServiceMain()
{
    t_serviceCore = this;
    while (!exit_) {
        pollfd fds[2];
        nfds_t n = 0;
        fds[n++] = {wakeFd_, POLLIN, 0};
        if (host_ != nullptr) fds[n++] = {host_->socket, POLLIN, 0};
        poll(fds, n, host_ != nullptr ? static_cast<int>(tuning_.serviceIntervalMs) : 100);
        if ((fds[0].revents & POLLIN) != 0) {
            std::uint64_t v;
            [[maybe_unused]] ssize_t r = read(wakeFd_, &v, sizeof v);
        }
        wakePending_.store(false);
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            running_.swap(queue_);
        }
        for (Item& item : running_) Execute(item);
        if (host_ != nullptr) ServiceHost();
        Timers();
        if (host_ != nullptr) enet_host_flush(host_);
        running_.clear();
    }
    // Work queued after the end: calls run (they find no host), sends are dropped.
    for (;;) {
        std::deque<Item> items;
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            items.swap(queue_);
        }
        if (items.empty()) break;
        for (Item& item : items) {
            if (item.fn) {
                item.fn();
            } else if (item.packet != nullptr) {
                enet_packet_destroy(item.packet);
            }
        }
    }
    t_serviceCore = nullptr;
}

void SessionCore::ServiceHost()
{
    ENetEvent ev;
    for (int i = 0; i < 1024 && host_ != nullptr; ++i) {
        const int r = enet_host_service(host_, &ev, 0);
        DispatchAnswers();
        if (r <= 0) break;
        switch (ev.type) {
        case ENET_EVENT_TYPE_CONNECT:
            OnConnect(ev.peer);
            break;
        case ENET_EVENT_TYPE_RECEIVE:
            OnReceive(ev.peer, ev.packet);
            enet_packet_destroy(ev.packet);
            break;
        case ENET_EVENT_TYPE_DISCONNECT:
            OnDisconnect(ev.peer, ev.data);
            break;
        default:
            break;
        }
    }
}

void SessionCore::Execute(Item& item)
{
    if (item.fn) {
        item.fn();
        return;
    }
    ENetPacket* packet = item.packet;
    const bool expired = item.timeoutMs != 0 && NowMs() - item.queuedAt > item.timeoutMs;
    if (item.loopback && svHosting_ && !closing_ && !expired) {
        DeliverReceive(ownPlayer_, ownContext_, packet->data + 1, item.bytes, item.guaranteed);
    }
    bool taken = false;
    const auto sendTo = [&](Conn* c) {
        if (!expired && c->peer != nullptr && c->state == ConnState::Created && enet_peer_send(c->peer, 0, packet) == 0) {
            taken = true;
            if (item.guaranteed) {
                Add(c->stats.packetsSentG, 1);
                Add(c->stats.bytesSentG, item.bytes);
            } else {
                Add(c->stats.packetsSentN, 1);
                Add(c->stats.bytesSentN, item.bytes);
            }
            c->windowBytes += item.bytes;
        } else {
            Add(c->stats.packetsDropped, 1);
            Add(c->stats.bytesDropped, item.bytes);
        }
    };
    if (server_) {
        if (item.target == DPNID_ALL_PLAYERS_GROUP) {
            for (auto& c : created_) sendTo(c.get());
        } else if (item.target != ownPlayer_) {
            auto it = byId_.find(item.target);
            if (it != byId_.end()) sendTo(it->second.get());
        }
    } else if (serverConn_ != nullptr) {
        sendTo(serverConn_.get());
    }
    if (!taken) enet_packet_destroy(packet);
}

void SessionCore::SendControl(ENetPeer* peer, const std::uint8_t* data, std::size_t size)
{
    ENetPacket* p = enet_packet_create(data, size, ENET_PACKET_FLAG_RELIABLE);
    if (p != nullptr && enet_peer_send(peer, 0, p) != 0) enet_packet_destroy(p);
}

void SessionCore::Seed(Conn& c, std::uint32_t rtt)
{
    rtt = std::max<std::uint32_t>(rtt, 1);
    ENetPeer* p = c.peer;
    p->roundTripTime = rtt;
    p->lastRoundTripTime = rtt;
    p->lowestRoundTripTime = rtt;
    p->roundTripTimeVariance = std::max<std::uint32_t>(rtt / 2, 1);
    c.stats.rtt.store(rtt);
    c.seeded = true;
    c.windowStart = NowMs();
    c.lastLost = p->packetsLost;
}

DPNID SessionCore::NextId()
{
    DPNID id;
    do {
        id = nextId_++;
    } while (id == 0 || byId_.count(id) != 0 || id == ownPlayer_);
    return id;
}

// Non-guaranteed messages are dropped only when their time-out runs out, where
// they are counted, never by ENet's random congestion throttle.
void KeepAllUnreliable(ENetPeer* peer)
{
    peer->packetThrottleDeceleration = 0;
    peer->packetThrottleLimit = ENET_PEER_PACKET_THROTTLE_SCALE;
    peer->packetThrottle = ENET_PEER_PACKET_THROTTLE_SCALE;
}

void SessionCore::OnConnect(ENetPeer* peer)
{
    KeepAllUnreliable(peer);
    if (server_) {
        if (!svHosting_ || closing_) {
            enet_peer_disconnect_now(peer, kByeClosed);
            return;
        }
        auto c = std::make_shared<Conn>();
        c->peer = peer;
        c->since = NowMs();
        peer->data = c.get();
        peers_[peer] = c;
        enet_peer_timeout(peer, 0, tuning_.peerTimeoutMinMs, tuning_.peerTimeoutMaxMs);
        return;
    }
    if (connecting_ && peer == connectPeer_) {
        std::uint8_t hello[kHelloSize];
        hello[0] = kTagHello;
        hello[1] = kVersion;
        PutGuid(hello + 2, connectApp_);
        PutGuid(hello + 18, connectInstance_);
        connectStamp_ = NowMs();
        Put32(hello + 34, connectStamp_);
        SendControl(peer, hello, sizeof hello);
    }
}

void SessionCore::DeliverReceive(DPNID sender, void* context, const std::uint8_t* data, std::size_t size, bool guaranteed)
{
    DPNMSG_RECEIVE m{};
    m.dwSize = sizeof m;
    m.dpnidSender = sender;
    m.pvPlayerContext = context;
    m.pReceiveData = const_cast<BYTE*>(data);
    m.dwReceiveDataSize = static_cast<DWORD>(size);
    m.hBufferHandle = 0;
    m.dwReceiveFlags = guaranteed ? DPNRECEIVE_GUARANTEED : 0;
    Deliver(DPN_MSGID_RECEIVE, &m);
}

void SessionCore::CreatePlayer(const std::shared_ptr<Conn>& c)
{
    c->state = ConnState::Created;
    byId_[c->id] = c;
    created_.push_back(c);
    {
        std::lock_guard<std::mutex> lock(dirMutex_);
        directory_[c->id] = c;
    }
    DPNMSG_CREATE_PLAYER m{sizeof(DPNMSG_CREATE_PLAYER), c->id, nullptr};
    Deliver(DPN_MSGID_CREATE_PLAYER, &m);
    c->context = m.pvPlayerContext;
}

void SessionCore::RemovePlayer(Conn* c)
{
    byId_.erase(c->id);
    created_.erase(std::remove_if(created_.begin(), created_.end(), [c](const auto& p) { return p.get() == c; }),
                   created_.end());
    std::lock_guard<std::mutex> lock(dirMutex_);
    directory_.erase(c->id);
}

void SessionCore::DestroyPlayer(Conn* c, DWORD reason)
{
    if (c->state != ConnState::Created) return;
    c->state = ConnState::Gone;
    c->since = NowMs();
    RemovePlayer(c);
    DPNMSG_DESTROY_PLAYER m{sizeof(DPNMSG_DESTROY_PLAYER), c->id, c->context, reason};
    Deliver(DPN_MSGID_DESTROY_PLAYER, &m);
}

void SessionCore::FinishConnect(HRESULT hr)
{
    connecting_ = false;
    connectPeer_ = nullptr;
    if (connectWaiter_ != nullptr) connectWaiter_->Finish(hr);
    connectWaiter_ = nullptr;
}

void SessionCore::OnReceive(ENetPeer* peer, ENetPacket* packet)
{
    Conn* c = static_cast<Conn*>(peer->data);
    if (c == nullptr || packet->dataLength < 1) return;
    const std::uint8_t* d = packet->data;
    const std::size_t n = packet->dataLength;
    const std::uint8_t tag = d[0];

    if (tag == kTagData || tag == kTagDataGuaranteed) {
        if (c->state != ConnState::Created || closing_ || n < 2) return;
        const bool guaranteed = tag == kTagDataGuaranteed;
        if (guaranteed) {
            Add(c->stats.packetsReceivedG, 1);
            Add(c->stats.bytesReceivedG, n - 1);
        } else {
            Add(c->stats.packetsReceivedN, 1);
            Add(c->stats.bytesReceivedN, n - 1);
        }
        Add(c->stats.messagesReceived, 1);
        DeliverReceive(c->id, c->context, d + 1, n - 1, guaranteed);
        return;
    }

    if (server_) {
        if (tag == kTagHello && n == kHelloSize && c->state == ConnState::Fresh) {
            HRESULT hr = S_OK;
            const GUID app = GetGuid(d + 2);
            const GUID instance = GetGuid(d + 18);
            if (d[1] != kVersion) {
                hr = DPNERR_HOSTREJECTEDCONNECTION;
            } else if (!svHosting_ || closing_) {
                hr = DPNERR_NOCONNECTION;
            } else if (app != app_) {
                hr = DPNERR_INVALIDAPPLICATION;
            } else if (instance != GUID_NULL && instance != instance_) {
                hr = DPNERR_INVALIDINSTANCE;
            } else if (maxPlayers_ != 0 && created_.size() + 1 >= maxPlayers_) {
                hr = DPNERR_SESSIONFULL;
            }
            if (FAILED(hr)) {
                std::uint8_t reject[kRejectSize];
                reject[0] = kTagReject;
                Put32(reject + 1, static_cast<std::uint32_t>(hr));
                SendControl(peer, reject, sizeof reject);
                enet_peer_disconnect_later(peer, kByeRejected);
                c->state = ConnState::Gone;
                c->since = NowMs();
                return;
            }
            // The player exists before its Connect returns; the ready answer only
            // completes the round-trip measurement.
            c->id = NextId();
            c->welcomeStamp = NowMs();
            auto it = peers_.find(peer);
            if (it == peers_.end()) return;
            CreatePlayer(it->second);
            std::uint8_t welcome[kWelcomeSize];
            welcome[0] = kTagWelcome;
            Put32(welcome + 1, c->id);
            Put32(welcome + 5, ownPlayer_);
            Put32(welcome + 9, Get32(d + 34));
            Put32(welcome + 13, c->welcomeStamp);
            SendControl(peer, welcome, sizeof welcome);
        } else if (tag == kTagReady && n == kReadySize && c->state == ConnState::Created && !c->seeded) {
            Seed(*c, NowMs() - c->welcomeStamp);
        }
        return;
    }

    if (tag == kTagWelcome && n == kWelcomeSize && connecting_ && peer == connectPeer_) {
        Seed(*c, NowMs() - connectStamp_);
        c->id = Get32(d + 5);
        c->state = ConnState::Created;
        std::uint8_t ready[kReadySize];
        ready[0] = kTagReady;
        Put32(ready + 1, Get32(d + 13));
        SendControl(peer, ready, sizeof ready);
        auto it = peers_.find(peer);
        serverConn_ = it != peers_.end() ? it->second : nullptr;
        {
            std::lock_guard<std::mutex> lock(dirMutex_);
            clientConn_ = serverConn_;
        }
        connected_.store(true);
        enet_host_flush(host_);
        FinishConnect(S_OK);
    } else if (tag == kTagReject && n == kRejectSize && connecting_ && peer == connectPeer_) {
        const auto hr = static_cast<HRESULT>(Get32(d + 1));
        rejectHr_ = FAILED(hr) ? hr : DPNERR_HOSTREJECTEDCONNECTION;
    }
}

void SessionCore::OnDisconnect(ENetPeer* peer, std::uint32_t data)
{
    Conn* c = static_cast<Conn*>(peer->data);
    peer->data = nullptr;
    if (c == nullptr) return;
    std::shared_ptr<Conn> keep;
    auto it = peers_.find(peer);
    if (it != peers_.end()) {
        keep = it->second;
        peers_.erase(it);
    }
    c->peer = nullptr;
    if (server_) {
        DestroyPlayer(c, data == kByeClosed || closing_ ? DPNDESTROYPLAYERREASON_NORMAL
                                                        : DPNDESTROYPLAYERREASON_CONNECTIONLOST);
        c->state = ConnState::Gone;
        return;
    }
    if (connecting_ && peer == connectPeer_) {
        HRESULT hr = rejectHr_;
        if (SUCCEEDED(hr)) hr = data == kByeRejected ? DPNERR_HOSTREJECTEDCONNECTION : DPNERR_NOCONNECTION;
        FinishConnect(hr);
        return;
    }
    if (c == serverConn_.get()) {
        const bool wasCreated = c->state == ConnState::Created;
        c->state = ConnState::Gone;
        connected_.store(false);
        serverConn_.reset();
        {
            std::lock_guard<std::mutex> lock(dirMutex_);
            clientConn_.reset();
        }
        if (wasCreated && !closing_) {
            DPNMSG_TERMINATE_SESSION m{};
            m.dwSize = sizeof m;
            m.hResultCode = data == kByeTimeout ? DPNERR_CONNECTIONLOST : DPNERR_HOSTTERMINATEDSESSION;
            Deliver(DPN_MSGID_TERMINATE_SESSION, &m);
        }
    }
}

void SessionCore::Timers()
{
    const std::uint32_t now = NowMs();
    if (enum_.active && enum_.roundsLeft > 0 && static_cast<std::int32_t>(now - enum_.nextAt) >= 0) SendEnumRound();

    if (connecting_ && static_cast<std::int32_t>(now - connectDeadline_) >= 0) {
        ENetPeer* peer = connectPeer_;
        peers_.erase(peer);
        peer->data = nullptr;
        enet_peer_reset(peer);
        FinishConnect(SUCCEEDED(rejectHr_) ? DPNERR_NORESPONSE : rejectHr_);
    }

    // Half-open connections (a connect that never completes) give their slot back
    // within the handshake time, not ENet's much longer default.
    if (server_ && host_ != nullptr) {
        for (std::size_t i = 0; i < host_->peerCount; ++i) {
            ENetPeer* p = &host_->peers[i];
            if (p->state != ENET_PEER_STATE_DISCONNECTED && p->state != ENET_PEER_STATE_CONNECTED && p->data == nullptr &&
                p->timeoutMaximum != tuning_.handshakeTimeoutMs) {
                enet_peer_timeout(p, 0, tuning_.handshakeTimeoutMs / 2, tuning_.handshakeTimeoutMs);
            }
        }
    }

    std::vector<ENetPeer*> stale;
    for (auto& [peer, c] : peers_) {
        if (c->state != ConnState::Created) {
            if (server_ && now - c->since > tuning_.handshakeTimeoutMs) stale.push_back(peer);
            continue;
        }
        if (!c->seeded) continue;
        // Keep the loss epoch fresh so the resend counter is never reset under us.
        peer->packetLossEpoch = host_->serviceTime;
        const std::uint32_t lost = peer->packetsLost;
        if (lost >= c->lastLost) {
            Add(c->stats.packetsRetried, lost - c->lastLost);
        } else {
            Add(c->stats.packetsRetried, lost);
        }
        c->lastLost = lost;
        c->stats.rtt.store(std::max<std::uint32_t>(peer->roundTripTime, 1));
        const std::uint32_t elapsed = now - c->windowStart;
        if (elapsed >= 1000) {
            const auto bps = static_cast<DWORD>(c->windowBytes * 1000 / elapsed);
            c->stats.throughput.store(bps);
            if (bps > c->stats.peak.load()) c->stats.peak.store(bps);
            c->windowBytes = 0;
            c->windowStart = now;
        }
    }
    for (ENetPeer* peer : stale) {
        peers_.erase(peer);
        peer->data = nullptr;
        enet_peer_disconnect_now(peer, kByeRejected);
    }

    if (closing_ && (peers_.empty() || static_cast<std::int32_t>(now - closeDeadline_) >= 0)) FinishClose();
}

void SessionCore::BeginClose()
{
    closing_ = true;
    closeDeadline_ = NowMs() + tuning_.closeLingerMs;
    if (connecting_) FinishConnect(DPNERR_ALREADYCLOSING);
    enum_.active = false;
    answers_.clear();
    std::vector<ENetPeer*> now;
    for (auto& [peer, c] : peers_) {
        if (c->state == ConnState::Created) {
            enet_peer_disconnect_later(peer, kByeClosed);
        } else {
            now.push_back(peer);
        }
    }
    for (ENetPeer* peer : now) {
        peers_.erase(peer);
        peer->data = nullptr;
        enet_peer_disconnect_now(peer, kByeClosed);
    }
    if (host_ == nullptr) exit_ = true;
}

void SessionCore::FinishClose()
{
    std::vector<std::shared_ptr<Conn>> left;
    for (auto& [peer, c] : peers_) left.push_back(c);
    for (auto& c : left) {
        if (c->peer != nullptr) {
            c->peer->data = nullptr;
            enet_peer_disconnect_now(c->peer, kByeClosed);
            c->peer = nullptr;
        }
        if (server_) DestroyPlayer(c.get(), DPNDESTROYPLAYERREASON_NORMAL);
    }
    peers_.clear();
    if (server_ && svHosting_) {
        DPNMSG_DESTROY_PLAYER m{sizeof(DPNMSG_DESTROY_PLAYER), ownPlayer_, ownContext_, DPNDESTROYPLAYERREASON_NORMAL};
        Deliver(DPN_MSGID_DESTROY_PLAYER, &m);
    }
    svHosting_ = false;
    created_.clear();
    byId_.clear();
    serverConn_.reset();
    connected_.store(false);
    hosting_.store(false);
    if (host_ != nullptr) {
        enet_host_flush(host_);
        enet_host_destroy(host_);
        host_ = nullptr;
    }
    closing_ = false;
    exit_ = true;
}

// ---------------------------------------------------------------- enumeration

void SessionCore::SendEnumRound()
{
    if (!enum_.active || enum_.roundsLeft == 0 || host_ == nullptr) return;
    --enum_.roundsLeft;
    enum_.nextAt += enum_.interval;
    std::uint8_t q[kQuerySize];
    std::memcpy(q, kMagic, sizeof kMagic);
    q[5] = kQuery;
    q[6] = kVersion;
    PutGuid(q + 7, enum_.app);
    Put32(q + 23, enum_.nonce);
    Put32(q + 27, NowMs());
    ENetBuffer b{q, sizeof q};
    for (const ENetAddress& a : enum_.targets) enet_socket_send(host_->socket, &a, &b, 1);
}

int SessionCore::Intercept(ENetHost* host)
{
    const std::uint8_t* d = host->receivedData;
    const std::size_t n = host->receivedDataLength;
    if (d == nullptr || !HasMagic(d, n)) return 0;
    if (n < 7 || d[6] != kVersion) return 1;
    if (server_ && d[5] == kQuery && n == kQuerySize) {
        AnswerQuery(host, d);
    } else if (!server_ && d[5] == kAnswer && n >= kAnswerFixedSize) {
        CollectAnswer(host->receivedAddress, d, n);
    }
    return 1;
}

void SessionCore::AnswerQuery(ENetHost* host, const std::uint8_t* d)
{
    if (!svHosting_ || closing_ || GetGuid(d + 7) != app_) return;
    const std::uint32_t now = NowMs();
    tokens_ = std::min<double>(tuning_.enumAnswersPerSecond,
                               tokens_ + (now - tokensAt_) * tuning_.enumAnswersPerSecond / 1000.0);
    tokensAt_ = now;
    if (tokens_ < 1.0) return;
    tokens_ -= 1.0;
    std::uint8_t a[kAnswerFixedSize + 2 * kMaxNameUnits];
    std::memcpy(a, kMagic, sizeof kMagic);
    a[5] = kAnswer;
    a[6] = kVersion;
    PutGuid(a + 7, app_);
    PutGuid(a + 23, instance_);
    Put32(a + 39, Get32(d + 23));
    Put32(a + 43, Get32(d + 27));
    Put32(a + 47, maxPlayers_);
    Put32(a + 51, static_cast<std::uint32_t>(created_.size() + 1));
    const std::size_t units = hasSessionName_ ? std::min(sessionName_.size(), kMaxNameUnits) : 0;
    // 0xFF marks an answer without a session name.
    a[55] = hasSessionName_ ? static_cast<std::uint8_t>(units) : 0xFF;
    for (std::size_t i = 0; i < units; ++i) {
        a[56 + 2 * i] = static_cast<std::uint8_t>(sessionName_[i]);
        a[57 + 2 * i] = static_cast<std::uint8_t>(sessionName_[i] >> 8);
    }
    ENetBuffer b{a, kAnswerFixedSize + 2 * units};
    enet_socket_send(host->socket, &host->receivedAddress, &b, 1);
}

void SessionCore::CollectAnswer(const ENetAddress& from, const std::uint8_t* d, std::size_t n)
{
    if (!enum_.active || Get32(d + 39) != enum_.nonce || GetGuid(d + 7) != enum_.app) return;
    const bool hasName = d[55] != 0xFF;
    const std::size_t units = hasName ? d[55] : 0;
    if (units > kMaxNameUnits || n != kAnswerFixedSize + 2 * units) return;
    if (answers_.size() >= 256) return;
    Answer a;
    a.application = GetGuid(d + 7);
    a.instance = GetGuid(d + 23);
    a.rtt = NowMs() - Get32(d + 43);
    a.maxPlayers = Get32(d + 47);
    a.currentPlayers = Get32(d + 51);
    a.hasName = hasName;
    for (std::size_t i = 0; i < units; ++i) {
        const auto ch = static_cast<char16_t>(d[56 + 2 * i] | d[57 + 2 * i] << 8);
        if (ch == 0) break;
        a.name += ch;
    }
    a.from = from;
    answers_.push_back(std::move(a));
}

void SessionCore::DispatchAnswers()
{
    if (answers_.empty()) return;
    std::vector<Answer> batch;
    batch.swap(answers_);
    for (Answer& a : batch) {
        if (!enum_.active) return;
        DPN_APPLICATION_DESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DPNSESSION_CLIENT_SERVER;
        desc.guidInstance = a.instance;
        desc.guidApplication = a.application;
        desc.dwMaxPlayers = a.maxPlayers;
        desc.dwCurrentPlayers = a.currentPlayers;
        desc.pwszSessionName = a.hasName ? a.name.data() : nullptr;
        char ip[64] = {0};
        enet_address_get_host_ip(&a.from, ip, sizeof ip);
        IDirectPlay8Address* sender = netimpl::MakeAddress(ip, a.from.port);
        IDirectPlay8Address* device = IDirectPlay8Address::Create();
        device->SetSP(&CLSID_DP8SP_TCPIP);
        DPNMSG_ENUM_HOSTS_RESPONSE m{};
        m.dwSize = sizeof m;
        m.pAddressSender = sender;
        m.pAddressDevice = device;
        m.pApplicationDescription = &desc;
        m.pvUserContext = enum_.context;
        m.dwRoundTripLatencyMS = a.rtt;
        Deliver(DPN_MSGID_ENUM_HOSTS_RESPONSE, &m);
        sender->Release();
        device->Release();
    }
}

}  // namespace

// ---------------------------------------------------------------- public objects

struct IDirectPlay8Client::Impl {
    SessionCore core{false};
};
struct IDirectPlay8Server::Impl {
    SessionCore core{true};
};

IDirectPlay8Client::IDirectPlay8Client() : impl_(new Impl) {}
IDirectPlay8Client::~IDirectPlay8Client() { delete impl_; }
ULONG IDirectPlay8Client::AddRef() { return impl_->core.AddRef(); }
ULONG IDirectPlay8Client::Release()
{
    const ULONG left = impl_->core.Release();
    if (left == 0) delete this;
    return left;
}
HRESULT IDirectPlay8Client::Initialize(PVOID pvUserContext, PFNDPNMESSAGEHANDLER pfn, DWORD)
{
    return impl_->core.Initialize(pvUserContext, pfn);
}
HRESULT IDirectPlay8Client::EnumServiceProviders(const GUID* pguidServiceProvider, const GUID*,
                                                 DPN_SERVICE_PROVIDER_INFO* pSPInfoBuffer, DWORD* pcbEnumData,
                                                 DWORD* pcReturned, DWORD)
{
    return impl_->core.EnumServiceProviders(pguidServiceProvider, pSPInfoBuffer, pcbEnumData, pcReturned);
}
HRESULT IDirectPlay8Client::EnumHosts(DPN_APPLICATION_DESC* pApplicationDesc, IDirectPlay8Address* pAddrHost,
                                      IDirectPlay8Address*, PVOID, DWORD, DWORD dwEnumCount, DWORD dwRetryInterval,
                                      DWORD dwTimeOut, PVOID pvUserContext, DPNHANDLE* pAsyncHandle, DWORD dwFlags)
{
    if (pAsyncHandle != nullptr) *pAsyncHandle = 0;
    return impl_->core.EnumHosts(pApplicationDesc, pAddrHost, dwEnumCount, dwRetryInterval, dwTimeOut, pvUserContext,
                                 dwFlags);
}
HRESULT IDirectPlay8Client::Connect(const DPN_APPLICATION_DESC* pdnAppDesc, IDirectPlay8Address* pHostAddr,
                                    IDirectPlay8Address*, const DPN_SECURITY_DESC*, const DPN_SECURITY_CREDENTIALS*,
                                    const void*, DWORD, void*, DPNHANDLE* phAsyncHandle, DWORD dwFlags)
{
    if (phAsyncHandle != nullptr) *phAsyncHandle = 0;
    return impl_->core.Connect(pdnAppDesc, pHostAddr, dwFlags);
}
HRESULT IDirectPlay8Client::Send(const DPN_BUFFER_DESC* prgBufferDesc, DWORD cBufferDesc, DWORD dwTimeOut, void*,
                                 DPNHANDLE* phAsyncHandle, DWORD dwFlags)
{
    if (phAsyncHandle != nullptr) *phAsyncHandle = 0;
    return impl_->core.Send(0, prgBufferDesc, cBufferDesc, dwTimeOut, dwFlags);
}
HRESULT IDirectPlay8Client::GetConnectionInfo(DPN_CONNECTION_INFO* pdpConnectionInfo, DWORD)
{
    return impl_->core.GetConnectionInfo(0, pdpConnectionInfo);
}
HRESULT IDirectPlay8Client::Close(DWORD) { return impl_->core.Close(); }

IDirectPlay8Server::IDirectPlay8Server() : impl_(new Impl) {}
IDirectPlay8Server::~IDirectPlay8Server() { delete impl_; }
ULONG IDirectPlay8Server::AddRef() { return impl_->core.AddRef(); }
ULONG IDirectPlay8Server::Release()
{
    const ULONG left = impl_->core.Release();
    if (left == 0) delete this;
    return left;
}
HRESULT IDirectPlay8Server::Initialize(PVOID pvUserContext, PFNDPNMESSAGEHANDLER pfn, DWORD)
{
    return impl_->core.Initialize(pvUserContext, pfn);
}
HRESULT IDirectPlay8Server::EnumServiceProviders(const GUID* pguidServiceProvider, const GUID*,
                                                 DPN_SERVICE_PROVIDER_INFO* pSPInfoBuffer, DWORD* pcbEnumData,
                                                 DWORD* pcReturned, DWORD)
{
    return impl_->core.EnumServiceProviders(pguidServiceProvider, pSPInfoBuffer, pcbEnumData, pcReturned);
}
HRESULT IDirectPlay8Server::SetServerInfo(const DPN_PLAYER_INFO* pdpnPlayerInfo, PVOID, DPNHANDLE* phAsyncHandle, DWORD)
{
    if (phAsyncHandle != nullptr) *phAsyncHandle = 0;
    return impl_->core.SetServerInfo(pdpnPlayerInfo);
}
HRESULT IDirectPlay8Server::Host(const DPN_APPLICATION_DESC* pdnAppDesc, IDirectPlay8Address** prgpDeviceInfo,
                                 DWORD cDeviceInfo, const DPN_SECURITY_DESC*, const DPN_SECURITY_CREDENTIALS*,
                                 void* pvPlayerContext, DWORD)
{
    return impl_->core.Host(pdnAppDesc, prgpDeviceInfo, cDeviceInfo, pvPlayerContext);
}
HRESULT IDirectPlay8Server::SendTo(DPNID dpnid, const DPN_BUFFER_DESC* prgBufferDesc, DWORD cBufferDesc,
                                   DWORD dwTimeOut, void*, DPNHANDLE* phAsyncHandle, DWORD dwFlags)
{
    if (phAsyncHandle != nullptr) *phAsyncHandle = 0;
    return impl_->core.Send(dpnid, prgBufferDesc, cBufferDesc, dwTimeOut, dwFlags);
}
HRESULT IDirectPlay8Server::GetConnectionInfo(DPNID dpnid, DPN_CONNECTION_INFO* pdpConnectionInfo, DWORD)
{
    return impl_->core.GetConnectionInfo(dpnid, pdpConnectionInfo);
}
HRESULT IDirectPlay8Server::DestroyClient(DPNID dpnidClient, const void*, DWORD, DWORD)
{
    return impl_->core.DestroyClient(dpnidClient);
}
HRESULT IDirectPlay8Server::GetLocalHostAddresses(IDirectPlay8Address** prgpAddress, DWORD* pcAddress, DWORD)
{
    return impl_->core.GetLocalHostAddresses(prgpAddress, pcAddress);
}
HRESULT IDirectPlay8Server::Close(DWORD) { return impl_->core.Close(); }

HRESULT CoCreateInstance(REFCLSID rclsid, void*, DWORD, REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (rclsid == CLSID_DirectPlay8Client) {
        if (riid != IID_IDirectPlay8Client) return E_NOINTERFACE;
        *ppv = new IDirectPlay8Client();
        return S_OK;
    }
    if (rclsid == CLSID_DirectPlay8Server) {
        if (riid != IID_IDirectPlay8Server) return E_NOINTERFACE;
        *ppv = new IDirectPlay8Server();
        return S_OK;
    }
    if (rclsid == CLSID_DirectPlay8Address) {
        if (riid != IID_IDirectPlay8Address) return E_NOINTERFACE;
        *ppv = IDirectPlay8Address::Create();
        return S_OK;
    }
    return MakeHResult(0x80040154u);  // class not registered
}
