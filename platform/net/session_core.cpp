// The core of a client or server object: its calls, its service thread and the
// connection records; and the layer's tuning.
#include "platform/net/session_core.h"

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

namespace netimpl {

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

}  // namespace netimpl
