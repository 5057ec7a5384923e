// Host enumeration: query rounds, the answers collected and handed to the handler.
#include "platform/net/session_core.h"

namespace netimpl {

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

}  // namespace netimpl
