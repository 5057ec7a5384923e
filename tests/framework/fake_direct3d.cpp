#include "tests/framework/fake_direct3d.h"

#include <cstdio>
#include <cstring>

namespace {
class FakeSurface final : public IDirect3DSurface8 {
public:
    FakeSurface(FakeDevice* d) : device(d) { ++device->refs; }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        const ULONG left = --refs;
        if (left == 0) {
            --device->refs;  // the device outlives its back buffer in these tests
            delete this;
        }
        return left;
    }
    HRESULT GetDevice(IDirect3DDevice8**) override { return E_NOTIMPL; }
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override {
        std::memset(desc, 0, sizeof(*desc));
        desc->Format = device->params.BackBufferFormat;
        desc->Width = device->params.BackBufferWidth;
        desc->Height = device->params.BackBufferHeight;
        return S_OK;
    }
    HRESULT LockRect(D3DLOCKED_RECT*, const RECT*, DWORD) override { return E_NOTIMPL; }
    HRESULT UnlockRect() override { return E_NOTIMPL; }
    ULONG refs = 1;
    FakeDevice* device;
};

void Log(FakeDirect3D* d, const std::string& s) {
    if (d->log) d->log->push_back(s);
}
}  // namespace

D3DCAPS8 HalCaps() {
    D3DCAPS8 caps{};
    caps.Caps2 = D3DCAPS2_CANRENDERWINDOWED;
    caps.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT;
    caps.RasterCaps = D3DPRASTERCAPS_WBUFFER;
    caps.MaxTextureWidth = 2048;
    return caps;
}

FakeAdapter StandardAdapter() {
    FakeAdapter a;
    for (D3DFORMAT f : {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5}) {
        for (auto [w, h] : {std::pair{640u, 480u}, {800u, 600u}, {1024u, 768u}, {1280u, 1024u}}) {
            a.modes.push_back({w, h, 60, f});
            a.modes.push_back({w, h, 75, f});
        }
    }
    a.hal.caps = HalCaps();
    a.hal.acceptedFormats = {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5};
    a.hal.depthFormats = {D3DFMT_D16, D3DFMT_D24S8, D3DFMT_D24X8};
    a.ref = a.hal;
    a.ref.caps.DevCaps = 0;
    return a;
}

FakeDevice::FakeDevice(FakeDirect3D* o, UINT a, D3DDEVTYPE t, const D3DPRESENT_PARAMETERS& p)
    : owner(o), adapter(a), type(t), params(p) {
    ++owner->liveDevices;
}

ULONG FakeDevice::Release() {
    const ULONG left = --refs;
    Log(owner, "Device::Release");
    if (left == 0) {
        --owner->liveDevices;
        if (owner->lastDevice == this) owner->lastDevice = nullptr;
        delete this;
    }
    return left;
}

HRESULT FakeDevice::GetDirect3D(IDirect3D8** d3d) {
    owner->AddRef();
    *d3d = owner;
    return S_OK;
}

HRESULT FakeDevice::GetDeviceCaps(D3DCAPS8* caps) { return owner->GetDeviceCaps(adapter, type, caps); }

HRESULT FakeDevice::Reset(D3DPRESENT_PARAMETERS* p) {
    char line[96];
    std::snprintf(line, sizeof(line), "Device::Reset %ux%u %s", p->BackBufferWidth, p->BackBufferHeight,
                  p->Windowed ? "windowed" : "fullscreen");
    Log(owner, line);
    if (FAILED(resetResult)) return resetResult;
    params = *p;
    return S_OK;
}

HRESULT FakeDevice::Present(const RECT*, const RECT*, HWND, const void*) {
    ++presents;
    Log(owner, "Device::Present");
    return S_OK;
}

HRESULT FakeDevice::GetBackBuffer(UINT, D3DBACKBUFFER_TYPE, IDirect3DSurface8** s) {
    *s = new FakeSurface(this);
    return S_OK;
}

HRESULT FakeDirect3D::GetAdapterIdentifier(UINT a, DWORD, D3DADAPTER_IDENTIFIER8* id) {
    if (a >= adapters.size()) return D3DERR_INVALIDCALL;
    std::memset(id, 0, sizeof(*id));
    std::snprintf(id->Description, sizeof(id->Description), "%s", adapters[a].description.c_str());
    return S_OK;
}

HRESULT FakeDirect3D::EnumAdapterModes(UINT a, UINT m, D3DDISPLAYMODE* mode) {
    if (a >= adapters.size() || m >= adapters[a].modes.size()) return D3DERR_INVALIDCALL;
    *mode = adapters[a].modes[m];
    return S_OK;
}

HRESULT FakeDirect3D::GetAdapterDisplayMode(UINT a, D3DDISPLAYMODE* mode) {
    if (a >= adapters.size()) return D3DERR_INVALIDCALL;
    *mode = adapters[a].desktop;
    return S_OK;
}

HRESULT FakeDirect3D::CheckDeviceType(UINT a, D3DDEVTYPE t, D3DFORMAT display, D3DFORMAT, BOOL) {
    if (a >= adapters.size()) return D3DERR_INVALIDCALL;
    const FakeDeviceType& dt = Type(a, t);
    return dt.present && dt.acceptedFormats.count(display) ? S_OK : D3DERR_NOTAVAILABLE;
}

HRESULT FakeDirect3D::CheckDeviceFormat(UINT a, D3DDEVTYPE t, D3DFORMAT, DWORD, D3DRESOURCETYPE, D3DFORMAT f) {
    if (a >= adapters.size()) return D3DERR_INVALIDCALL;
    return Type(a, t).depthFormats.count(f) ? S_OK : D3DERR_NOTAVAILABLE;
}

HRESULT FakeDirect3D::CheckDeviceMultiSampleType(UINT a, D3DDEVTYPE t, D3DFORMAT, BOOL, D3DMULTISAMPLE_TYPE m) {
    if (a >= adapters.size()) return D3DERR_INVALIDCALL;
    return Type(a, t).multiSampleTypes.count(m) ? S_OK : D3DERR_NOTAVAILABLE;
}

HRESULT FakeDirect3D::CheckDepthStencilMatch(UINT a, D3DDEVTYPE t, D3DFORMAT, D3DFORMAT, D3DFORMAT ds) {
    if (a >= adapters.size()) return D3DERR_INVALIDCALL;
    return Type(a, t).depthFormats.count(ds) ? S_OK : D3DERR_NOTAVAILABLE;
}

HRESULT FakeDirect3D::GetDeviceCaps(UINT a, D3DDEVTYPE t, D3DCAPS8* caps) {
    if (a >= adapters.size()) return D3DERR_INVALIDCALL;
    *caps = Type(a, t).caps;
    caps->DeviceType = t;
    caps->AdapterOrdinal = a;
    return S_OK;
}

HRESULT FakeDirect3D::CreateDevice(UINT a, D3DDEVTYPE t, HWND, DWORD behaviour, D3DPRESENT_PARAMETERS* p,
                                   IDirect3DDevice8** device) {
    createOrdinals.push_back(a);
    createBehaviours.push_back(behaviour);
    char line[96];
    std::snprintf(line, sizeof(line), "CreateDevice %u %s %ux%u %s", a, t == D3DDEVTYPE_HAL ? "HAL" : "REF",
                  p->BackBufferWidth, p->BackBufferHeight, p->Windowed ? "windowed" : "fullscreen");
    Log(this, line);
    if (a >= adapters.size()) return D3DERR_INVALIDCALL;
    if (FAILED(Type(a, t).createResult)) return Type(a, t).createResult;
    lastDevice = new FakeDevice(this, a, t, *p);
    *device = lastDevice;
    return S_OK;
}

BOOL FakeDevice::ShowCursor(BOOL show) {
    Log(owner, show ? "Device::ShowCursor 1" : "Device::ShowCursor 0");
    return FALSE;
}

HRESULT FakeDevice::CreateImageSurface(UINT width, UINT height, D3DFORMAT, IDirect3DSurface8** surface) {
    char line[64];
    std::snprintf(line, sizeof(line), "Device::CreateImageSurface %ux%u", width, height);
    Log(owner, line);
    if (surface) *surface = nullptr;
    return E_OUTOFMEMORY;
}
