#include "client/session_objects.h"

#include "client/client_state.h"
#include "client/wire.h"
#include "platform/console/console.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>

#ifndef MERIDAX_DEFAULT_SERVER_HOST
#define MERIDAX_DEFAULT_SERVER_HOST "localhost"
#endif

const WCHAR* const DefaultServerHost = u"" MERIDAX_DEFAULT_SERVER_HOST;

IDirectPlay8Client* DirectPlayClient = nullptr;
IDirectPlay8Server* DirectPlayServer = nullptr;
IDirectPlay8Address* DeviceAddress = nullptr;
IDirectPlay8Address* RemoteAddress = nullptr;
std::atomic<std::int32_t> ServerSessionEnded{0};
std::atomic<std::int32_t> ConfigurationRefused{0};

namespace {

unsigned Hex(HRESULT hr) { return static_cast<unsigned>(hr); }

std::size_t WideLength(const WCHAR* s)
{
    std::size_t n = 0;
    while (s[n] != 0) ++n;
    return n;
}

HRESULT SessionSendToServer(const void* data, DWORD size, DWORD timeoutMs, DWORD flags)
{
    if (DirectPlayClient == nullptr) return E_FAIL;
    DPN_BUFFER_DESC b{size, static_cast<BYTE*>(const_cast<void*>(data))};
    DPNHANDLE handle = 0;
    return DirectPlayClient->Send(&b, 1, timeoutMs, nullptr, &handle, flags);
}

HRESULT SessionSendToPeer(DPNID dpnid, const void* data, DWORD size, DWORD timeoutMs, DWORD flags)
{
    if (DirectPlayServer == nullptr) return S_OK;
    DPN_BUFFER_DESC b{size, static_cast<BYTE*>(const_cast<void*>(data))};
    DPNHANDLE handle = 0;
    return DirectPlayServer->SendTo(dpnid, &b, 1, timeoutMs, nullptr, &handle, flags);
}

DWORD SessionRoundTrip()
{
    DPN_CONNECTION_INFO info{};
    info.dwSize = sizeof info;
    if (DirectPlayClient == nullptr || FAILED(DirectPlayClient->GetConnectionInfo(&info, 0))) return 0;
    return info.dwRoundTripLatencyMS;
}

[[noreturn]] void SessionEndProcess()
{
    std::fflush(stdout);
    if (DirectPlayServer != nullptr) DirectPlayServer->Close(0);
    CloseLogFile();
    console::Restore();
    std::fflush(stdout);
    _exit(0);
}

std::mutex g_hooksLock;
ClientSessionHooks g_hooks = SessionBackedHooks();

DWORD SendFlags(bool guaranteed) { return (guaranteed ? DPNSEND_GUARANTEED : DPNSEND_NOCOMPLETE) | DPNSEND_NOLOOPBACK; }

}  // namespace

ClientSessionHooks SessionBackedHooks()
{
    ClientSessionHooks h;
    h.sendToServer = SessionSendToServer;
    h.sendToPeer = SessionSendToPeer;
    h.serverRoundTripMs = SessionRoundTrip;
    h.endProcess = SessionEndProcess;
    return h;
}

void SetClientSessionHooks(const ClientSessionHooks& hooks)
{
    std::lock_guard<std::mutex> lock(g_hooksLock);
    g_hooks = hooks;
}

ClientSessionHooks GetClientSessionHooks()
{
    std::lock_guard<std::mutex> lock(g_hooksLock);
    return g_hooks;
}

DWORD ServerRoundTrip()
{
    const ClientSessionHooks h = GetClientSessionHooks();
    return h.serverRoundTripMs != nullptr ? h.serverRoundTripMs() : 0;
}

void EndProcessFromHandler()
{
    const ClientSessionHooks h = GetClientSessionHooks();
    if (h.endProcess != nullptr) h.endProcess();
}

// ---------------------------------------------------------------- set-up


HRESULT InitDirectPlay()
{
    HRESULT hr = CoCreateInstance(CLSID_DirectPlay8Client, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Client,
                                  reinterpret_cast<void**>(&DirectPlayClient));
    if (FAILED(hr)) {
        std::printf("[Error!] Failed co-creating the IDirectPlay8Client instance:  %X\n", Hex(hr));
        return hr;
    }
    hr = CoCreateInstance(CLSID_DirectPlay8Server, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Server,
                          reinterpret_cast<void**>(&DirectPlayServer));
    if (FAILED(hr)) {
        std::printf("[Error!] Failed co-creating the IDirectPlay8Server instance:  %X\n", Hex(hr));
        return hr;
    }
    hr = DirectPlayClient->Initialize(nullptr, ServerMessageHandler, 0);
    if (FAILED(hr)) {
        std::printf("[Error!] Failed on Initialize for our client:  %X\n", Hex(hr));
        return hr;
    }
    hr = DirectPlayServer->Initialize(nullptr, PeerMessageHandler, 0);
    if (FAILED(hr)) {
        std::printf("[Error!] Failed on Initialize for our peers:  %X\n", Hex(hr));
        return hr;
    }
    if (!ValidateServiceProvider()) {
        std::printf("[Error!] Failed validating CLSID_DP8SP_TCPIP");
        return E_FAIL;
    }
    return S_OK;
}

namespace {

template <class Object>
bool ProviderPresent(Object* object, const char* who)
{
    DWORD size = 0, count = 0;
    HRESULT hr = object->EnumServiceProviders(&CLSID_DP8SP_TCPIP, nullptr, nullptr, &size, &count, 0);
    if (hr != DPNERR_BUFFERTOOSMALL) {
        std::printf("[Error!] Failed on EnumServiceProviders for our %s (1):  %x\n", who, Hex(hr));
        return false;
    }
    auto* buffer = static_cast<DPN_SERVICE_PROVIDER_INFO*>(std::calloc(1, size > 0 ? size : 1));
    if (buffer == nullptr) return false;
    hr = object->EnumServiceProviders(&CLSID_DP8SP_TCPIP, nullptr, buffer, &size, &count, 0);
    std::free(buffer);
    if (FAILED(hr)) {
        std::printf("[Error!] Failed on EnumServiceProviders for our %s (2):  %x\n", who, Hex(hr));
        return false;
    }
    return count > 0;
}

}  // namespace

bool ValidateServiceProvider()
{
    return ProviderPresent(DirectPlayClient, "client") && ProviderPresent(DirectPlayServer, "peers");
}

HRESULT CreateDeviceAddress()
{
    HRESULT hr = CoCreateInstance(CLSID_DirectPlay8Address, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Address,
                                  reinterpret_cast<void**>(&DeviceAddress));
    if (FAILED(hr)) {
        std::printf("[Error!] Failed to co-create the IDirectPlay8Address instance:  %X\n", Hex(hr));
        return hr;
    }
    hr = DeviceAddress->SetSP(&CLSID_DP8SP_TCPIP);
    if (FAILED(hr)) {
        std::printf("[Error!] Failed setting the service provider:  %X\n", Hex(hr));
        return hr;
    }
    return S_OK;
}

HRESULT CreateHostAddress(const WCHAR* host)
{
    HRESULT hr = CoCreateInstance(CLSID_DirectPlay8Address, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Address,
                                  reinterpret_cast<void**>(&RemoteAddress));
    if (FAILED(hr)) {
        std::printf("[Error!] Failed co-creating the IDirectPlay8Address instance (3):  %X\n", Hex(hr));
        return hr;
    }
    hr = RemoteAddress->SetSP(&CLSID_DP8SP_TCPIP);
    if (FAILED(hr)) {
        std::printf("[Error!] Failed setting the service provider:  %X\n", Hex(hr));
        return hr;
    }
    const DWORD bytes = static_cast<DWORD>((WideLength(host) + 1) * 2);
    hr = RemoteAddress->AddComponent(DPNA_KEY_HOSTNAME, host, bytes, DPNA_DATATYPE_STRING);
    if (FAILED(hr)) {
        std::printf("[Error!] Failed adding host name to host address:  %X\n", Hex(hr));
        return hr;
    }
    return S_OK;
}

HRESULT EnumDirectPlayHosts()
{
    WCHAR host[256] = {};
    const std::size_t n = WideLength(DefaultServerHost);
    std::memcpy(host, DefaultServerHost, (n < 255 ? n : 255) * sizeof(WCHAR));

    std::printf("Console Client (build %3.0f on %s)\n\n", static_cast<double>(CLIENT_BUILD), CLIENT_BUILD_DATE);
    std::printf("\"1\" or ESC to exit, \"2\" for statistics, \"3\" for verbose, ENTER to send message\n\n");
    std::printf("[%06i] Connecting to the Meridax Industries host computer...\n", ConsoleSeconds());

    HRESULT hr = CreateHostAddress(host);
    if (FAILED(hr)) {
        std::printf("[Error!] Failed to create host address:  %X\n", Hex(hr));
        return hr;
    }
    DPN_APPLICATION_DESC desc{};
    desc.dwSize = sizeof desc;
    desc.guidApplication = ServerApplicationGuid;
    hr = DirectPlayClient->EnumHosts(&desc, RemoteAddress, DeviceAddress, nullptr, 0, 5, 0, 0, nullptr, nullptr,
                                     DPNENUMHOSTS_SYNC);
    if (FAILED(hr)) {
        std::printf("[Error!] Failed to enumerate the host:  %X\n", Hex(hr));
        return hr;
    }
    return S_OK;
}

HRESULT ConnectToSession()
{
    DPN_APPLICATION_DESC desc{};
    desc.dwSize = sizeof desc;
    desc.guidApplication = ServerApplicationGuid;
    HRESULT hr = E_FAIL;
    IDirectPlay8Address* address = nullptr;
    {
        ScopedSection lock(HostListLock);
        if (HostList == nullptr)
            std::printf("[Error!] Server may have changed IP addresses, please download newer version...\n");
        hr = DuplicateNewestHostAddress(&address);
        if (FAILED(hr)) {
            std::printf("[Error!] Failed to duplicate host address:  %x\n", Hex(hr));
        } else {
            hr = DirectPlayClient->Connect(&desc, address, DeviceAddress, nullptr, nullptr, nullptr, 0, nullptr,
                                           nullptr, DPNCONNECT_SYNC);
            if (FAILED(hr)) std::printf("[Error!] Failed connecting to the host:  %x\n", Hex(hr));
        }
    }
    if (address != nullptr) address->Release();
    return hr;
}

// ---------------------------------------------------------------- sending

HRESULT SendToServer(const void* buffer, DWORD size, bool guaranteed, DWORD timeoutMs)
{
    const ClientSessionHooks h = GetClientSessionHooks();
    if (h.sendToServer == nullptr) return E_FAIL;
    if (timeoutMs != 0) timeoutMs += ServerRoundTrip() / 2;
    const HRESULT hr = h.sendToServer(buffer, size, timeoutMs, SendFlags(guaranteed));
    if (FAILED(hr)) std::printf("[Error!] Failed sending data to server:  %x\n", Hex(hr));
    return hr;
}

HRESULT SendToPeer(DPNID dpnid, const void* buffer, DWORD size, bool guaranteed, DWORD timeoutMs)
{
    if (SessionOnline.load() == 0) return S_OK;
    const ClientSessionHooks h = GetClientSessionHooks();
    if (h.sendToPeer == nullptr) return S_OK;
    const HRESULT hr = h.sendToPeer(dpnid, buffer, size, timeoutMs, SendFlags(guaranteed));
    if (FAILED(hr)) std::printf("[Error!] Failed sending data to peer:  %x\n", Hex(hr));
    return hr;
}
