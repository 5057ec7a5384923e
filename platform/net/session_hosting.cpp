// Hosting a session, and answering enumeration queries as its host.
#include "platform/net/session_core.h"

namespace netimpl {

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

}  // namespace netimpl
