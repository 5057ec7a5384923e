#pragma once
// The device on OpenGL. It draws into an offscreen framebuffer (RGBA8 colour,
// 32-bit float depth with 8-bit stencil) that stands for the back buffer;
// Present copies it to the window. The back buffer keeps its contents between
// frames.
//
// Depth is stored reversed (1 - the platform's depth) so that the float's
// precision lies at the far end: depths near the far plane stay apart even
// with the near plane a billionth of the far one. The reversal stays inside
// the device: Clear's value, the compare function, the viewport's depth range and
// the projection are turned around on their way to GL.
//
// Core (gl_device.cpp): creation, reset, release, caps, scene, Clear, Present,
// back buffer, viewport. Drawing surface: gl_draw_states.cpp (states,
// transforms, lights, material, state blocks, texture and stream binding),
// gl_draw_resources.cpp (textures, vertex buffers, image surfaces),
// gl_draw_primitives.cpp (DrawPrimitive and shaders).
#include <atomic>
#include <memory>
#include <vector>

#include "platform/gfx/d3d_device.h"
#include "platform/gfx/gl_draw_state.h"

class GlContext;
class GlDirect3D;

void FillGlDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps);

// The stored value of a platform depth (0 near, 1 far).
inline double StoredDepth(float platformDepth) { return 1.0 - static_cast<double>(platformDepth); }

class GlDevice final : public IDirect3DDevice8 {
public:
    static HRESULT Create(GlDirect3D* direct3D, UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviour,
                          D3DPRESENT_PARAMETERS* parameters, GlDevice** device);

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

    // --- For the layer's own objects and tests.
    // Resources in the default pool register here; Reset fails while any is alive.
    void DefaultPoolResourceCreated() { ++defaultPoolResources_; }
    void DefaultPoolResourceReleased() { --defaultPoolResources_; }
    int DefaultPoolResourceCount() const { return defaultPoolResources_.load(); }
    bool MakeCurrent();
    UINT BackBufferWidth() const { return width_; }
    UINT BackBufferHeight() const { return height_; }
    bool HasDepthStencil() const { return depthStencil_; }
    // Reads the back buffer, rows top-down, each pixel 0xAARRGGBB.
    bool ReadBackBuffer(std::vector<std::uint32_t>* pixels);
    bool HeadlessContext() const;
    GlDrawState& DrawState() { return draw_; }

private:
    GlDevice(GlDirect3D* direct3D, UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviour);
    ~GlDevice() override;
    HRESULT ApplyPresentParameters(D3DPRESENT_PARAMETERS* parameters, bool creating);
    bool CreateFramebuffer(UINT width, UINT height);
    void DestroyFramebuffer();
    void ResetDrawState();      // gl_draw_states.cpp: states back to their initial values
    void ReleaseBoundObjects();  // gl_draw_states.cpp: drops bound textures and stream
    // gl_draw_primitives.cpp: applies the state and draws vertices from memory;
    // available is the number of readable bytes from base.
    HRESULT DrawVertices(D3DPRIMITIVETYPE type, UINT primitiveCount, const BYTE* base, UINT stride, UINT available);
    bool CheckLost();

    std::atomic<ULONG> refs_{1};
    GlDirect3D* direct3D_;
    UINT adapter_;
    D3DDEVTYPE type_;
    HWND focusWindow_;
    HWND deviceWindow_ = nullptr;
    DWORD behaviour_;
    D3DPRESENT_PARAMETERS parameters_{};
    std::unique_ptr<GlContext> context_;
    unsigned framebuffer_ = 0;
    unsigned colour_ = 0;
    unsigned depth_ = 0;
    UINT width_ = 0;
    UINT height_ = 0;
    bool depthStencil_ = false;
    bool fullscreen_ = false;
    bool inScene_ = false;
    bool lost_ = false;
    BOOL cursorShown_ = FALSE;
    D3DVIEWPORT8 viewport_{};
    std::atomic<int> defaultPoolResources_{0};
    GlDrawState draw_;
    bool lastPretransformed_ = false;
};
