#include "view/link_session.h"

#include "platform/ui/window.h"
#include "view/link.h"
#include "view/state.h"

#include <cstdlib>
#include <cstring>
#include <vector>

IDirectPlay8Client* DirectPlayClient = nullptr;
IDirectPlay8Address* DeviceAddress = nullptr;
IDirectPlay8Address* RemoteAddress = nullptr;

namespace {

constexpr const char* kCaption = "Communication Error!";

void ShowBox(const char* text)
{
    const LinkHooks hooks = GetLinkHooks();
    if (hooks.messageBox) hooks.messageBox(text, kCaption, MB_ICONWARNING);
}

HRESULT SessionSend(const void* data, DWORD size, bool guaranteed, DWORD timeoutMs)
{
    IDirectPlay8Client* client = DirectPlayClient;
    if (client == nullptr) return E_FAIL;
    DPN_BUFFER_DESC buffer;
    buffer.dwBufferSize = size;
    buffer.pBufferData = static_cast<BYTE*>(const_cast<void*>(data));
    DPNHANDLE handle = 0;
    const DWORD flags = guaranteed ? (DPNSEND_GUARANTEED | DPNSEND_NOLOOPBACK) : (DPNSEND_NOCOMPLETE | DPNSEND_NOLOOPBACK);
    return client->Send(&buffer, 1, timeoutMs, nullptr, &handle, flags);
}

DWORD SessionRoundTrip()
{
    IDirectPlay8Client* client = DirectPlayClient;
    if (client == nullptr) return 0;
    DPN_CONNECTION_INFO info{};
    info.dwSize = sizeof info;
    if (FAILED(client->GetConnectionInfo(&info, 0))) return 0;
    return info.dwRoundTripLatencyMS;
}

void PostClose() { PostMessageA(MainWindow.load(), WM_CLOSE, 0, 0); }

void WindowBox(const char* text, const char* caption, UINT type) { MessageBoxA(MainWindow.load(), text, caption, type); }

void EndProcess(int code) { std::_Exit(code); }

}  // namespace

void InstallSessionLinkHooks()
{
    LinkHooks hooks;
    hooks.send = SessionSend;
    hooks.roundTripMs = SessionRoundTrip;
    hooks.postClose = PostClose;
    hooks.messageBox = WindowBox;
    hooks.exitProcess = EndProcess;
    SetLinkHooks(hooks);
}

HRESULT InitDirectPlay()
{
    InstallSessionLinkHooks();
    HRESULT hr = CoCreateInstance(CLSID_DirectPlay8Client, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Client,
                                  reinterpret_cast<void**>(&DirectPlayClient));
    if (FAILED(hr)) {
        DirectPlayClient = nullptr;
        ShowBox("Failed co-creating the IDirectPlay8Client instance, please report this error.");
        return hr;
    }
    hr = DirectPlayClient->Initialize(nullptr, DirectPlayMessageHandler, 0);
    if (FAILED(hr)) {
        ShowBox("Failed on Initialize, please report this error.");
        return hr;
    }
    if (!ValidateServiceProvider()) {
        ShowBox("Failed validating CLSID_DP8SP_TCPIP, please report this error.");
        return E_FAIL;
    }
    return S_OK;
}

bool ValidateServiceProvider()
{
    if (DirectPlayClient == nullptr) return false;
    DWORD size = 0, count = 0;
    HRESULT hr = DirectPlayClient->EnumServiceProviders(&CLSID_DP8SP_TCPIP, nullptr, nullptr, &size, &count, 0);
    if (hr != DPNERR_BUFFERTOOSMALL) {
        ShowBox("Failed on Enumerating Service Providers (1), please report this error.");
        return false;
    }
    std::vector<DPN_SERVICE_PROVIDER_INFO> buffer(size / sizeof(DPN_SERVICE_PROVIDER_INFO) + 1);
    hr = DirectPlayClient->EnumServiceProviders(&CLSID_DP8SP_TCPIP, nullptr, buffer.data(), &size, &count, 0);
    if (FAILED(hr)) {
        ShowBox("Failed on Enumerating Service Providers (2), please report this error.");
        return false;
    }
    return count != 0;
}

namespace {

HRESULT NewAddress(IDirectPlay8Address** address)
{
    HRESULT hr = CoCreateInstance(CLSID_DirectPlay8Address, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Address,
                                  reinterpret_cast<void**>(address));
    if (FAILED(hr)) {
        *address = nullptr;
        ShowBox("Failed to co-create the IDirectPlay8Address instance, please report this error.");
        return hr;
    }
    hr = (*address)->SetSP(&CLSID_DP8SP_TCPIP);
    if (FAILED(hr)) ShowBox("Failed setting the service provider, please report this error.");
    return hr;
}

}  // namespace

HRESULT CreateDeviceAddress() { return NewAddress(&DeviceAddress); }

HRESULT CreateHostAddress(const WCHAR* host)
{
    HRESULT hr = NewAddress(&RemoteAddress);
    if (FAILED(hr)) return hr;
    std::size_t n = 0;
    while (host[n] != 0) ++n;
    hr = RemoteAddress->AddComponent(DPNA_KEY_HOSTNAME, host, static_cast<DWORD>((n + 1) * sizeof(WCHAR)),
                                     DPNA_DATATYPE_STRING);
    if (FAILED(hr)) ShowBox("Failed adding host name to host address, please report this error.");
    return hr;
}

HRESULT EnumDirectPlayHosts()
{
    WCHAR host[128];
    std::memcpy(host, HostAddress, sizeof host);
    host[127] = 0;
    HRESULT hr = CreateHostAddress(host);
    if (FAILED(hr)) {
        ShowBox("Failed to create host address, please report this error.");
        return hr;
    }
    DPN_APPLICATION_DESC desc{};
    desc.dwSize = sizeof desc;
    desc.guidApplication = PeerApplicationGuid;
    hr = DirectPlayClient->EnumHosts(&desc, RemoteAddress, DeviceAddress, nullptr, 0, 1, 0, 0, nullptr, nullptr,
                                     DPNENUMHOSTS_SYNC);
    if (FAILED(hr)) ShowBox("Failed to enumerate the host, please check that address is valid.");
    return hr;
}

HRESULT ConnectToSession()
{
    DPN_APPLICATION_DESC desc{};
    desc.dwSize = sizeof desc;
    desc.guidApplication = PeerApplicationGuid;
    HRESULT hr = E_FAIL;
    IDirectPlay8Address* host = nullptr;
    {
        ScopedSection lock(HostListLock);
        hr = DuplicateNewestHostAddress(&host);
        if (FAILED(hr)) {
            host = nullptr;
            ShowBox("Failed duplicating host address.");
        } else {
            hr = DirectPlayClient->Connect(&desc, host, DeviceAddress, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                           DPNCONNECT_SYNC);
            if (FAILED(hr)) ShowBox("Failed connecting to the host.");
        }
    }
    if (host != nullptr) host->Release();
    return hr;
}

HRESULT DirectPlayMessageHandler(PVOID, DWORD messageId, PVOID message)
{
    if (message == nullptr) return S_OK;
    switch (messageId) {
    case DPN_MSGID_ENUM_HOSTS_RESPONSE:
        AddHostRecord(static_cast<const DPNMSG_ENUM_HOSTS_RESPONSE*>(message));
        break;
    case DPN_MSGID_TERMINATE_SESSION:
        RequestClose();
        break;
    case DPN_MSGID_RECEIVE: {
        const auto* receive = static_cast<const DPNMSG_RECEIVE*>(message);
        if (receive->pReceiveData != nullptr) HandleReceivedData(receive->pReceiveData, receive->dwReceiveDataSize);
        break;
    }
    default:
        break;
    }
    return S_OK;
}
