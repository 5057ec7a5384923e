#pragma once
// A device that records every call made through it and passes it on to a
// real device. For exact checks of the calls and vertices that drawing code
// produces, and for making chosen calls fail.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/gfx/d3d_device.h"

struct DeviceCall {
    std::string name;          // the method name, e.g. "SetRenderState"
    std::vector<DWORD> args;   // numbers as passed (floats as bits, pointers as 0 / 1)
    std::vector<BYTE> vertices;  // DrawPrimitive(UP): the vertices drawn; SetCursorProperties: the image (args + width, height)
    DWORD fvf = 0;             // DrawPrimitive(UP): the vertex format in force
    UINT stride = 0;
};

class RecordingDevice final : public IDirect3DDevice8 {
public:
    // Takes a reference on inner (released with the recorder).
    explicit RecordingDevice(IDirect3DDevice8* inner);

    std::vector<DeviceCall> calls;
    // Calls by name that fail with the given code instead of being passed on.
    std::map<std::string, HRESULT> failures;
    // Texture locks fail on textures created while this is set.
    bool failTextureLocks = false;
    // Replaces MaxTextureWidth/Height in GetDeviceCaps when not 0.
    DWORD maxTextureSize = 0;
    // Called with each call as it is recorded, before it reaches the inner device.
    std::function<void(const DeviceCall&)> onCall;

    // Calls with this name, in order.
    std::vector<DeviceCall> Named(const std::string& name) const;
    void Clear() { calls.clear(); }
    IDirect3DDevice8* Inner() { return inner_; }

    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT TestCooperativeLevel() override;
    HRESULT GetDirect3D(IDirect3D8** direct3D) override;
    HRESULT GetDeviceCaps(D3DCAPS8* caps) override;
    HRESULT GetDisplayMode(D3DDISPLAYMODE* mode) override;
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters) override;
    HRESULT SetCursorProperties(UINT hotSpotX, UINT hotSpotY, IDirect3DSurface8* image) override;
    void SetCursorPosition(int x, int y, DWORD flags) override;
    BOOL ShowCursor(BOOL show) override;
    HRESULT Reset(D3DPRESENT_PARAMETERS* parameters) override;
    HRESULT Present(const RECT* source, const RECT* dest, HWND destWindowOverride, const void* dirtyRegion) override;
    HRESULT GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface8** surface) override;
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture8** texture) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                               IDirect3DVertexBuffer8** buffer) override;
    HRESULT CreateImageSurface(UINT width, UINT height, D3DFORMAT format, IDirect3DSurface8** surface) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT SetViewport(const D3DVIEWPORT8* viewport) override;
    HRESULT GetViewport(D3DVIEWPORT8* viewport) override;
    HRESULT SetMaterial(const D3DMATERIAL8* material) override;
    HRESULT GetMaterial(D3DMATERIAL8* material) override;
    HRESULT SetLight(DWORD index, const D3DLIGHT8* light) override;
    HRESULT GetLight(DWORD index, D3DLIGHT8* light) override;
    HRESULT LightEnable(DWORD index, BOOL enable) override;
    HRESULT GetLightEnable(DWORD index, BOOL* enable) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT BeginStateBlock() override;
    HRESULT EndStateBlock(DWORD* token) override;
    HRESULT ApplyStateBlock(DWORD token) override;
    HRESULT CaptureStateBlock(DWORD token) override;
    HRESULT DeleteStateBlock(DWORD token) override;
    HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE type, DWORD* token) override;
    HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture8** texture) override;
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture8* texture) override;
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices, UINT stride) override;
    HRESULT CreateVertexShader(const DWORD* declaration, const DWORD* function, DWORD* handle, DWORD usage) override;
    HRESULT SetVertexShader(DWORD handle) override;
    HRESULT GetVertexShader(DWORD* handle) override;
    HRESULT DeleteVertexShader(DWORD handle) override;
    HRESULT SetPixelShader(DWORD handle) override;
    HRESULT GetPixelShader(DWORD* handle) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride) override;
    HRESULT GetStreamSource(UINT stream, IDirect3DVertexBuffer8** buffer, UINT* stride) override;

private:
    ~RecordingDevice() override;
    void Log(const char* name, std::vector<DWORD> args);
    bool Fails(const char* name, HRESULT* hr) const;
    IDirect3DBaseTexture8* Unwrap(IDirect3DBaseTexture8* texture) const;
    void CaptureVertices(DeviceCall* call, const BYTE* base, UINT count, UINT stride);

    ULONG refs_ = 1;
    IDirect3DDevice8* inner_;
};

// Number of vertices a primitive call reads.
UINT PrimitiveVertexCount(D3DPRIMITIVETYPE type, UINT primitiveCount);
