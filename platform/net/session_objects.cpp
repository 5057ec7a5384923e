// The public client and server objects, forwarding to their core, and object
// creation.
#include "platform/net/session_core.h"

using netimpl::SessionCore;

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
