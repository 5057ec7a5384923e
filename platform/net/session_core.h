#pragma once
// The session layer's core, shared by its parts: the service-thread core of a
// client or server object (session_core.cpp), hosting (session_hosting.cpp),
// connecting (session_connect.cpp), host enumeration (session_enumeration.cpp) and
// the public objects that forward to it (session_objects.cpp).
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

namespace netimpl {

using namespace netproto;

inline std::uint32_t NowMs()
{
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

inline void EnsureEnet()
{
    static std::once_flag once;
    std::call_once(once, [] { enet_initialize(); });
}

inline std::uint64_t RandomBits()
{
    static std::mutex m;
    static std::mt19937_64 gen{std::random_device{}() ^ (std::uint64_t(std::random_device{}()) << 32)};
    std::lock_guard<std::mutex> lock(m);
    return gen();
}

inline GUID RandomGuid()
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

inline void Add(std::atomic<DWORD>& counter, std::size_t n) { counter.fetch_add(static_cast<DWORD>(n), std::memory_order_relaxed); }

inline void FillInfo(const ConnStats& s, DPN_CONNECTION_INFO* info)
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

inline HRESULT EnumProviders(const GUID* sp, DPN_SERVICE_PROVIDER_INFO* buffer, DWORD* size, DWORD* count)
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

inline bool Resolve(const std::string& host, std::uint16_t port, ENetAddress* out)
{
    out->port = port;
    if (host.empty()) return false;
    return enet_address_set_host(out, host.c_str()) == 0;
}

class SessionCore;
inline thread_local SessionCore* t_serviceCore = nullptr;

// The session core: one ENet host and its service thread.

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

}  // namespace netimpl
