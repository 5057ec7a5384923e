// Connecting a client object to a session.
#include "platform/net/session_core.h"

namespace netimpl {

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

void SessionCore::FinishConnect(HRESULT hr)
{
    connecting_ = false;
    connectPeer_ = nullptr;
    if (connectWaiter_ != nullptr) connectWaiter_->Finish(hr);
    connectWaiter_ = nullptr;
}

}  // namespace netimpl
