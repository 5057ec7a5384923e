#pragma once
// A scripted Direct3D object and device for the framework's tests: adapters,
// modes, device types and answers are set by the test; calls are logged.
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/gfx/d3d_device.h"

struct FakeDeviceType {
    bool present = true;
    D3DCAPS8 caps{};
    std::set<int> acceptedFormats;           // CheckDeviceType answers S_OK for these
    std::set<int> depthFormats;              // CheckDeviceFormat / CheckDepthStencilMatch
    std::set<int> multiSampleTypes{0};       // CheckDeviceMultiSampleType
    HRESULT createResult = S_OK;             // CreateDevice answer
};

struct FakeAdapter {
    std::string description = "Fake Adapter";
    D3DDISPLAYMODE desktop{1280, 1024, 60, D3DFMT_X8R8G8B8};
    std::vector<D3DDISPLAYMODE> modes;
    FakeDeviceType hal;
    FakeDeviceType ref;
};

class FakeDirect3D;

class FakeDevice final : public IDirect3DDevice8 {
public:
    FakeDevice(FakeDirect3D* owner, UINT adapter, D3DDEVTYPE type, const D3DPRESENT_PARAMETERS& p);
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override;

    HRESULT TestCooperativeLevel() override { return cooperativeLevel; }
    HRESULT GetDirect3D(IDirect3D8** d3d) override;
    HRESULT GetDeviceCaps(D3DCAPS8* caps) override;
    HRESULT GetDisplayMode(D3DDISPLAYMODE*) override { return S_OK; }
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS*) override { return S_OK; }
    HRESULT SetCursorProperties(UINT, UINT, IDirect3DSurface8*) override { return S_OK; }
    void SetCursorPosition(int x, int y, DWORD) override {
        ++cursorMoves;
        cursorX = x;
        cursorY = y;
    }
    BOOL ShowCursor(BOOL show) override;
    HRESULT Reset(D3DPRESENT_PARAMETERS* p) override;
    HRESULT Present(const RECT*, const RECT*, HWND, const void*) override;
    HRESULT GetBackBuffer(UINT, D3DBACKBUFFER_TYPE, IDirect3DSurface8** s) override;
    HRESULT CreateTexture(UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DTexture8**) override { return E_NOTIMPL; }
    HRESULT CreateVertexBuffer(UINT, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer8**) override { return E_NOTIMPL; }
    HRESULT CreateImageSurface(UINT width, UINT height, D3DFORMAT format, IDirect3DSurface8** surface) override;
    HRESULT BeginScene() override { return S_OK; }
    HRESULT EndScene() override { return S_OK; }
    HRESULT Clear(DWORD, const D3DRECT*, DWORD, D3DCOLOR, float, DWORD) override { return S_OK; }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE, const D3DMATRIX*) override { return S_OK; }
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE, D3DMATRIX*) override { return S_OK; }
    HRESULT MultiplyTransform(D3DTRANSFORMSTATETYPE, const D3DMATRIX*) override { return S_OK; }
    HRESULT SetViewport(const D3DVIEWPORT8*) override { return S_OK; }
    HRESULT GetViewport(D3DVIEWPORT8*) override { return S_OK; }
    HRESULT SetMaterial(const D3DMATERIAL8*) override { return S_OK; }
    HRESULT GetMaterial(D3DMATERIAL8*) override { return S_OK; }
    HRESULT SetLight(DWORD, const D3DLIGHT8*) override { return S_OK; }
    HRESULT GetLight(DWORD, D3DLIGHT8*) override { return S_OK; }
    HRESULT LightEnable(DWORD, BOOL) override { return S_OK; }
    HRESULT GetLightEnable(DWORD, BOOL*) override { return S_OK; }
    HRESULT SetRenderState(D3DRENDERSTATETYPE, DWORD) override { return S_OK; }
    HRESULT GetRenderState(D3DRENDERSTATETYPE, DWORD*) override { return S_OK; }
    HRESULT BeginStateBlock() override { return S_OK; }
    HRESULT EndStateBlock(DWORD*) override { return S_OK; }
    HRESULT ApplyStateBlock(DWORD) override { return S_OK; }
    HRESULT CaptureStateBlock(DWORD) override { return S_OK; }
    HRESULT DeleteStateBlock(DWORD) override { return S_OK; }
    HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE, DWORD*) override { return S_OK; }
    HRESULT GetTexture(DWORD, IDirect3DBaseTexture8**) override { return S_OK; }
    HRESULT SetTexture(DWORD, IDirect3DBaseTexture8*) override { return S_OK; }
    HRESULT GetTextureStageState(DWORD, D3DTEXTURESTAGESTATETYPE, DWORD*) override { return S_OK; }
    HRESULT SetTextureStageState(DWORD, D3DTEXTURESTAGESTATETYPE, DWORD) override { return S_OK; }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE, UINT, UINT) override { return S_OK; }
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE, UINT, const void*, UINT) override { return S_OK; }
    HRESULT CreateVertexShader(const DWORD*, const DWORD*, DWORD*, DWORD) override { return E_FAIL; }
    HRESULT SetVertexShader(DWORD) override { return S_OK; }
    HRESULT GetVertexShader(DWORD*) override { return S_OK; }
    HRESULT DeleteVertexShader(DWORD) override { return S_OK; }
    HRESULT SetPixelShader(DWORD) override { return S_OK; }
    HRESULT GetPixelShader(DWORD*) override { return S_OK; }
    HRESULT SetStreamSource(UINT, IDirect3DVertexBuffer8*, UINT) override { return S_OK; }
    HRESULT GetStreamSource(UINT, IDirect3DVertexBuffer8**, UINT*) override { return S_OK; }

    FakeDirect3D* owner;
    ULONG refs = 1;
    UINT adapter;
    D3DDEVTYPE type;
    D3DPRESENT_PARAMETERS params;
    HRESULT cooperativeLevel = S_OK;
    HRESULT resetResult = S_OK;
    int presents = 0;
    int cursorMoves = 0;
    int cursorX = 0, cursorY = 0;  // the last position given
};

class FakeDirect3D final : public IDirect3D8 {
public:
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }  // the test owns the object
    UINT GetAdapterCount() override { return static_cast<UINT>(adapters.size()); }
    HRESULT GetAdapterIdentifier(UINT a, DWORD, D3DADAPTER_IDENTIFIER8* id) override;
    UINT GetAdapterModeCount(UINT a) override { return static_cast<UINT>(adapters[a].modes.size()); }
    HRESULT EnumAdapterModes(UINT a, UINT m, D3DDISPLAYMODE* mode) override;
    HRESULT GetAdapterDisplayMode(UINT a, D3DDISPLAYMODE* mode) override;
    HRESULT CheckDeviceType(UINT a, D3DDEVTYPE t, D3DFORMAT display, D3DFORMAT bb, BOOL windowed) override;
    HRESULT CheckDeviceFormat(UINT a, D3DDEVTYPE t, D3DFORMAT af, DWORD usage, D3DRESOURCETYPE rt,
                              D3DFORMAT f) override;
    HRESULT CheckDeviceMultiSampleType(UINT a, D3DDEVTYPE t, D3DFORMAT f, BOOL windowed,
                                       D3DMULTISAMPLE_TYPE m) override;
    HRESULT CheckDepthStencilMatch(UINT a, D3DDEVTYPE t, D3DFORMAT af, D3DFORMAT rt, D3DFORMAT ds) override;
    HRESULT GetDeviceCaps(UINT a, D3DDEVTYPE t, D3DCAPS8* caps) override;
    HRESULT CreateDevice(UINT a, D3DDEVTYPE t, HWND focus, DWORD behaviour, D3DPRESENT_PARAMETERS* p,
                         IDirect3DDevice8** device) override;

    FakeDeviceType& Type(UINT a, D3DDEVTYPE t) { return t == D3DDEVTYPE_HAL ? adapters[a].hal : adapters[a].ref; }

    ULONG refs = 1;
    std::vector<FakeAdapter> adapters;
    std::vector<std::string>* log = nullptr;  // shared with the application's hook log
    FakeDevice* lastDevice = nullptr;
    std::vector<UINT> createOrdinals;
    std::vector<DWORD> createBehaviours;
    int liveDevices = 0;
};

// A typical machine: one adapter with HAL and REF, 32- and 16-bit modes.
FakeAdapter StandardAdapter();
D3DCAPS8 HalCaps();
