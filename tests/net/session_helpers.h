#pragma once
// Shared helpers of the session tests: an event recorder and set-up shortcuts.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/dplay8.h"
#include "platform/net/net_tuning.h"

namespace nettest {

constexpr GUID kAppA = {0x1AD4CA3B, 0xAC68, 0x4D9B, {0x95, 0x22, 0xBE, 0x59, 0xCD, 0x48, 0x52, 0x76}};
constexpr GUID kAppB = {0x2AD4CA3B, 0xAC68, 0x4D9B, {0x95, 0x22, 0xBE, 0x59, 0xCD, 0x48, 0x52, 0x76}};

struct Event {
    DWORD id = 0;
    DPNID player = 0;
    std::vector<BYTE> data;
    DWORD flags = 0;  // receive flags, destroy reason
    HRESULT hr = S_OK;
    GUID instance = GUID_NULL;
    std::u16string sessionName;
    bool hasSessionName = false;
    IDirectPlay8Address* sender = nullptr;  // duplicated, enumeration answers only
};

// Records every handler call; optional hook runs inside the handler.
class Recorder {
public:
    ~Recorder()
    {
        for (Event& e : events_) {
            if (e.sender != nullptr) e.sender->Release();
        }
    }

    static HRESULT Handler(PVOID context, DWORD id, PVOID message)
    {
        return static_cast<Recorder*>(context)->Handle(id, message);
    }

    HRESULT Handle(DWORD id, PVOID message)
    {
        Event e;
        e.id = id;
        switch (id) {
        case DPN_MSGID_RECEIVE: {
            auto* m = static_cast<DPNMSG_RECEIVE*>(message);
            e.player = m->dpnidSender;
            e.data.assign(m->pReceiveData, m->pReceiveData + m->dwReceiveDataSize);
            e.flags = m->dwReceiveFlags;
            break;
        }
        case DPN_MSGID_CREATE_PLAYER:
            e.player = static_cast<DPNMSG_CREATE_PLAYER*>(message)->dpnidPlayer;
            break;
        case DPN_MSGID_DESTROY_PLAYER:
            e.player = static_cast<DPNMSG_DESTROY_PLAYER*>(message)->dpnidPlayer;
            e.flags = static_cast<DPNMSG_DESTROY_PLAYER*>(message)->dwReason;
            break;
        case DPN_MSGID_TERMINATE_SESSION:
            e.hr = static_cast<DPNMSG_TERMINATE_SESSION*>(message)->hResultCode;
            break;
        case DPN_MSGID_ENUM_HOSTS_RESPONSE: {
            auto* m = static_cast<DPNMSG_ENUM_HOSTS_RESPONSE*>(message);
            e.instance = m->pApplicationDescription->guidInstance;
            e.hasSessionName = m->pApplicationDescription->pwszSessionName != nullptr;
            if (e.hasSessionName) e.sessionName = m->pApplicationDescription->pwszSessionName;
            m->pAddressSender->Duplicate(&e.sender);
            break;
        }
        default:
            break;
        }
        if (hook) hook(id, message);
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(e));
        cv_.notify_all();
        return S_OK;
    }

    std::vector<Event> Take()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Event> copy;
        for (const Event& e : events_) {
            Event c = e;
            c.sender = nullptr;
            copy.push_back(std::move(c));
        }
        return copy;
    }

    std::size_t Count(DWORD id)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::size_t n = 0;
        for (const Event& e : events_) n += e.id == id ? 1 : 0;
        return n;
    }

    // Waits until `n` messages of `id` arrived or the time ran out.
    bool WaitFor(DWORD id, std::size_t n, int ms = 3000)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] {
            std::size_t k = 0;
            for (const Event& e : events_) k += e.id == id ? 1 : 0;
            return k >= n;
        });
    }

    // First enumeration answer's sender address (duplicated), or null.
    IDirectPlay8Address* FirstSender()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Event& e : events_) {
            if (e.sender != nullptr) {
                IDirectPlay8Address* a = nullptr;
                e.sender->Duplicate(&a);
                return a;
            }
        }
        return nullptr;
    }

    std::function<void(DWORD, PVOID)> hook;

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Event> events_;
};

inline IDirectPlay8Address* NewAddress(const char* host = nullptr, DWORD port = 0)
{
    IDirectPlay8Address* a = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_DirectPlay8Address, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Address,
                               reinterpret_cast<void**>(&a)),
              S_OK);
    a->SetSP(&CLSID_DP8SP_TCPIP);
    if (host != nullptr) {
        std::u16string wide(host, host + std::strlen(host));
        a->AddComponent(DPNA_KEY_HOSTNAME, wide.c_str(), static_cast<DWORD>((wide.size() + 1) * 2),
                        DPNA_DATATYPE_STRING);
    }
    if (port != 0) a->AddComponent(DPNA_KEY_PORT, &port, sizeof port, DPNA_DATATYPE_DWORD);
    return a;
}

inline DWORD PortOf(IDirectPlay8Address* a)
{
    DWORD port = 0, size = sizeof port, type = 0;
    a->GetComponentByName(DPNA_KEY_PORT, &port, &size, &type);
    return port;
}

inline DPN_APPLICATION_DESC Desc(const GUID& app, const WCHAR* name = nullptr)
{
    DPN_APPLICATION_DESC d{};
    d.dwSize = sizeof d;
    d.dwFlags = DPNSESSION_CLIENT_SERVER;
    d.guidApplication = app;
    d.pwszSessionName = const_cast<WCHAR*>(name);
    return d;
}

// A hosting server with its recorder.
struct TestServer {
    Recorder rec;
    IDirectPlay8Server* server = nullptr;
    DWORD port = 0;

    HRESULT Start(const GUID& app, const WCHAR* name = u"Peer to Peer", DWORD fixedPort = 0, DWORD maxPlayers = 0,
                  const char* bindHost = nullptr)
    {
        CoCreateInstance(CLSID_DirectPlay8Server, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Server,
                         reinterpret_cast<void**>(&server));
        HRESULT hr = server->Initialize(&rec, Recorder::Handler, 0);
        if (FAILED(hr)) return hr;
        DPN_APPLICATION_DESC d = Desc(app, name);
        d.dwMaxPlayers = maxPlayers;
        IDirectPlay8Address* device = NewAddress(bindHost, fixedPort);
        hr = server->Host(&d, &device, 1, nullptr, nullptr, nullptr, 0);
        device->Release();
        if (FAILED(hr)) return hr;
        IDirectPlay8Address* local[1] = {nullptr};
        DWORD count = 1;
        if (SUCCEEDED(server->GetLocalHostAddresses(local, &count, 0))) {
            port = PortOf(local[0]);
            local[0]->Release();
        }
        return S_OK;
    }
    ~TestServer()
    {
        if (server != nullptr) {
            server->Close(0);
            server->Release();
        }
    }
};

// A client with its recorder.
struct TestClient {
    Recorder rec;
    IDirectPlay8Client* client = nullptr;

    TestClient()
    {
        CoCreateInstance(CLSID_DirectPlay8Client, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Client,
                         reinterpret_cast<void**>(&client));
        EXPECT_EQ(client->Initialize(&rec, Recorder::Handler, 0), S_OK);
    }
    ~TestClient()
    {
        client->Close(0);
        client->Release();
    }

    HRESULT Enum(const GUID& app, const char* host = "127.0.0.1", DWORD port = 0, DWORD count = 0, DWORD interval = 0,
                 DWORD timeout = 0)
    {
        DPN_APPLICATION_DESC d = Desc(app);
        IDirectPlay8Address* remote = NewAddress(host, port);
        IDirectPlay8Address* device = NewAddress();
        const HRESULT hr = client->EnumHosts(&d, remote, device, nullptr, 0, count, interval, timeout, nullptr,
                                             nullptr, DPNENUMHOSTS_SYNC);
        remote->Release();
        device->Release();
        return hr;
    }

    HRESULT ConnectTo(const GUID& app, DWORD port, const char* host = "127.0.0.1")
    {
        DPN_APPLICATION_DESC d = Desc(app);
        IDirectPlay8Address* remote = NewAddress(host, port);
        IDirectPlay8Address* device = NewAddress();
        const HRESULT hr = client->Connect(&d, remote, device, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                           DPNCONNECT_SYNC);
        remote->Release();
        device->Release();
        return hr;
    }

    HRESULT Send(const void* data, DWORD size, bool guaranteed, DWORD timeout = 0)
    {
        DPN_BUFFER_DESC b{size, static_cast<BYTE*>(const_cast<void*>(data))};
        DPNHANDLE h;
        return client->Send(&b, 1, timeout, nullptr, &h,
                            (guaranteed ? DPNSEND_GUARANTEED : DPNSEND_NOCOMPLETE) | DPNSEND_NOLOOPBACK);
    }
};

inline HRESULT SendTo(IDirectPlay8Server* s, DPNID to, const void* data, DWORD size, bool guaranteed,
                      DWORD extraFlags = DPNSEND_NOLOOPBACK)
{
    DPN_BUFFER_DESC b{size, static_cast<BYTE*>(const_cast<void*>(data))};
    DPNHANDLE h;
    return s->SendTo(to, &b, 1, 0, nullptr, &h, (guaranteed ? DPNSEND_GUARANTEED : DPNSEND_NOCOMPLETE) | extraFlags);
}

inline DPN_CONNECTION_INFO NewInfo()
{
    DPN_CONNECTION_INFO i{};
    i.dwSize = sizeof i;
    return i;
}

// Tuning with short time-outs so failure paths finish quickly.
struct ShortTimeouts {
    NetTuning saved = GetNetTuning();
    ShortTimeouts()
    {
        NetTuning t = saved;
        t.peerTimeoutMinMs = 300;
        t.peerTimeoutMaxMs = 600;
        t.connectTimeoutMs = 800;
        t.handshakeTimeoutMs = 500;
        SetNetTuning(t);
    }
    ~ShortTimeouts() { SetNetTuning(saved); }
};

}  // namespace nettest
