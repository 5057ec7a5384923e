// The device on the headless GL path: enumeration answers, lifetime and
// reference counts, and the back buffer's pixels after Clear and Present.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/gfx/d3d_device.h"
#include "platform/gfx/gl_device.h"
#include "platform/ui/window.h"

namespace {

class HeadlessDevice : public ::testing::Test {
protected:
    void SetUp() override {
        SetHeadlessGraphics(true);
        d3d_ = Direct3DCreate8(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr) << "no GL driver";
    }
    void TearDown() override {
        if (d3d_) {
            EXPECT_EQ(d3d_->Release(), 0u);
        }
    }
    D3DPRESENT_PARAMETERS Windowed(UINT w, UINT h, bool depth) {
        D3DPRESENT_PARAMETERS p{};
        p.Windowed = TRUE;
        p.BackBufferWidth = w;
        p.BackBufferHeight = h;
        p.BackBufferFormat = D3DFMT_X8R8G8B8;
        p.BackBufferCount = 1;
        p.SwapEffect = D3DSWAPEFFECT_DISCARD;
        p.EnableAutoDepthStencil = depth ? TRUE : FALSE;
        p.AutoDepthStencilFormat = D3DFMT_D24S8;
        return p;
    }
    std::vector<std::uint32_t> Pixels(IDirect3DDevice8* device, UINT* w, UINT* h) {
        IDirect3DSurface8* bb = nullptr;
        EXPECT_EQ(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &bb), D3D_OK);
        D3DSURFACE_DESC desc{};
        bb->GetDesc(&desc);
        *w = desc.Width;
        *h = desc.Height;
        D3DLOCKED_RECT lr{};
        EXPECT_EQ(bb->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
        std::vector<std::uint32_t> out;
        for (UINT y = 0; y < desc.Height; ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(static_cast<const BYTE*>(lr.pBits) + y * lr.Pitch);
            out.insert(out.end(), row, row + desc.Width);
        }
        bb->UnlockRect();
        bb->Release();
        return out;
    }
    IDirect3D8* d3d_ = nullptr;
};

TEST_F(HeadlessDevice, EnumerationAnswersWhatTheFrameworkAsks) {
    ASSERT_GE(d3d_->GetAdapterCount(), 1u);
    D3DDISPLAYMODE desktop{};
    ASSERT_EQ(d3d_->GetAdapterDisplayMode(0, &desktop), D3D_OK);
    EXPECT_EQ(desktop.Format, D3DFMT_X8R8G8B8);
    EXPECT_GT(d3d_->GetAdapterModeCount(0), 0u);
    D3DDISPLAYMODE mode{};
    EXPECT_EQ(d3d_->EnumAdapterModes(0, d3d_->GetAdapterModeCount(0), &mode), D3DERR_INVALIDCALL);
    D3DADAPTER_IDENTIFIER8 id{};
    ASSERT_EQ(d3d_->GetAdapterIdentifier(0, D3DENUM_NO_WHQL_LEVEL, &id), D3D_OK);
    EXPECT_GT(std::strlen(id.Description), 0u);

    for (D3DDEVTYPE type : {D3DDEVTYPE_HAL, D3DDEVTYPE_REF}) {
        EXPECT_EQ(d3d_->CheckDeviceType(0, type, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE), D3D_OK);
        D3DCAPS8 caps{};
        ASSERT_EQ(d3d_->GetDeviceCaps(0, type, &caps), D3D_OK);
        EXPECT_TRUE(caps.Caps2 & D3DCAPS2_CANRENDERWINDOWED);
        EXPECT_TRUE(caps.RasterCaps & D3DPRASTERCAPS_WBUFFER);
        EXPECT_FALSE(caps.PrimitiveMiscCaps & D3DPMISCCAPS_NULLREFERENCE);
        EXPECT_GE(caps.MaxTextureWidth, 256u);
    }
    EXPECT_NE(d3d_->CheckDeviceType(0, D3DDEVTYPE_SW, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE), D3D_OK);
    // The view program's minimums (15 depth, 1 stencil) find D24S8 and not D24X4S4 or D15S1.
    EXPECT_EQ(d3d_->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_D24S8), D3D_OK);
    EXPECT_NE(d3d_->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE,
                                      D3DFMT_D24X4S4),
              D3D_OK);
    EXPECT_EQ(d3d_->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, TRUE, D3DMULTISAMPLE_NONE), D3D_OK);
    EXPECT_NE(d3d_->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, TRUE, D3DMULTISAMPLE_4_SAMPLES),
              D3D_OK);
}

TEST_F(HeadlessDevice, ClearAndPresentLeaveReadablePixelsThatPersist) {
    IDirect3DDevice8* device = nullptr;
    D3DPRESENT_PARAMETERS p = Windowed(64, 32, true);
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device), D3D_OK);
    ASSERT_EQ(device->TestCooperativeLevel(), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(device->BeginScene(), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFF336699, 1.0f, 0),
              D3D_OK);
    // A rectangle of the top-left corner in another colour (rows counted from the top).
    D3DRECT r{0, 0, 8, 4};
    ASSERT_EQ(device->Clear(1, &r, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);

    UINT w = 0, h = 0;
    auto px = Pixels(device, &w, &h);
    ASSERT_EQ(w, 64u);
    ASSERT_EQ(h, 32u);
    EXPECT_EQ(px[0] & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(px[3 * w + 7] & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(px[4 * w + 7] & 0xFFFFFF, 0x336699u);
    EXPECT_EQ(px[h * w - 1] & 0xFFFFFF, 0x336699u);

    // The back buffer keeps its contents over a Present and a frame that clears only depth.
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    px = Pixels(device, &w, &h);
    EXPECT_EQ(px[0] & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(px[h * w - 1] & 0xFFFFFF, 0x336699u);

    // A viewport limits what Clear touches.
    D3DVIEWPORT8 vp{32, 16, 16, 8, 0.0f, 1.0f};
    ASSERT_EQ(device->SetViewport(&vp), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0), D3D_OK);
    px = Pixels(device, &w, &h);
    EXPECT_EQ(px[16 * w + 32] & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(px[15 * w + 32] & 0xFFFFFF, 0x336699u);
    EXPECT_EQ(px[24 * w + 48] & 0xFFFFFF, 0x336699u);
    EXPECT_EQ(device->Release(), 0u);
}

TEST_F(HeadlessDevice, ResetIsStrictAndReferenceCountsAreHonest) {
    IDirect3DDevice8* device = nullptr;
    D3DPRESENT_PARAMETERS p = Windowed(32, 32, false);
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_REF, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &device), D3D_OK);
    // Without a depth buffer a depth clear fails.
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3DERR_INVALIDCALL);

    IDirect3DVertexBuffer8* dynamic = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(8400, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, 0, D3DPOOL_DEFAULT, &dynamic),
              D3D_OK);
    IDirect3DTexture8* managed = nullptr;
    ASSERT_EQ(device->CreateTexture(256, 256, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &managed), D3D_OK);

    D3DPRESENT_PARAMETERS bigger = Windowed(48, 40, false);
    EXPECT_EQ(device->Reset(&bigger), D3DERR_INVALIDCALL);
    EXPECT_EQ(dynamic->Release(), 0u);
    ASSERT_EQ(device->Reset(&bigger), D3D_OK);
    IDirect3DSurface8* bb = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &bb), D3D_OK);
    D3DSURFACE_DESC desc{};
    bb->GetDesc(&desc);
    bb->Release();
    EXPECT_EQ(desc.Width, 48u);
    EXPECT_EQ(desc.Height, 40u);

    // A bound texture keeps itself and the device alive.
    ASSERT_EQ(device->SetTexture(0, managed), D3D_OK);
    EXPECT_EQ(managed->Release(), 1u);
    EXPECT_GT(device->Release(), 0u);  // the texture still holds the device
    IDirect3DDevice8* again = nullptr;
    ASSERT_EQ(managed->GetDevice(&again), D3D_OK);
    again->SetTexture(0, nullptr);  // drops the texture, which drops its device reference
    EXPECT_EQ(again->Release(), 0u);
}

TEST_F(HeadlessDevice, VertexBufferLocksAreBoundsChecked) {
    IDirect3DDevice8* device = nullptr;
    D3DPRESENT_PARAMETERS p = Windowed(16, 16, false);
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device), D3D_OK);
    IDirect3DVertexBuffer8* vb = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(128, 0, 0x112, D3DPOOL_MANAGED, &vb), D3D_OK);
    BYTE* data = nullptr;
    EXPECT_EQ(vb->Lock(96, 64, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(vb->Lock(129, 0, &data, 0), D3DERR_INVALIDCALL);
    ASSERT_EQ(vb->Lock(96, 32, &data, 0), D3D_OK);
    EXPECT_EQ(vb->Lock(0, 0, &data, 0), D3DERR_INVALIDCALL);  // already locked
    EXPECT_EQ(vb->Unlock(), D3D_OK);
    EXPECT_EQ(vb->Unlock(), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Release(), 0u);
    EXPECT_EQ(device->Release(), 0u);
}

TEST_F(HeadlessDevice, StatesStartAtThePlatformDefaults) {
    IDirect3DDevice8* device = nullptr;
    D3DPRESENT_PARAMETERS p = Windowed(16, 16, true);
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device), D3D_OK);
    DWORD v = 0;
    device->GetRenderState(D3DRS_ZENABLE, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DZB_TRUE));
    device->GetRenderState(D3DRS_AMBIENT, &v);
    EXPECT_EQ(v, 0u);
    device->GetRenderState(D3DRS_TEXTUREFACTOR, &v);
    EXPECT_EQ(v, 0xFFFFFFFFu);
    device->GetTextureStageState(1, D3DTSS_TEXCOORDINDEX, &v);
    EXPECT_EQ(v, 1u);
    device->GetTextureStageState(1, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DTOP_DISABLE));
    EXPECT_EQ(device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(9999), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Release(), 0u);
}

}  // namespace

namespace {

HWND MakeWindow() {
    SetHeadlessWindows(true);
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "Device Test Window";
    RegisterClassA(&wc);
    return CreateWindowA("Device Test Window", "t", WS_VISIBLE | WS_CAPTION | WS_THICKFRAME, 10, 10, 328, 267, nullptr,
                         nullptr, nullptr, nullptr);
}

TEST_F(HeadlessDevice, FullScreenTakesTheModeAndLosesTheDeviceWhileMinimised) {
    HWND window = MakeWindow();
    ASSERT_NE(window, nullptr);
    D3DPRESENT_PARAMETERS p = Windowed(0, 0, true);
    p.hDeviceWindow = window;
    IDirect3DDevice8* device = nullptr;
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device), D3D_OK);
    // A windowed back buffer of size 0 takes the client size.
    EXPECT_EQ(p.BackBufferWidth, 320u);
    EXPECT_EQ(p.BackBufferHeight, 240u);

    D3DPRESENT_PARAMETERS full = p;
    full.Windowed = FALSE;
    full.BackBufferWidth = 800;
    full.BackBufferHeight = 601;  // not a mode
    EXPECT_EQ(device->Reset(&full), D3DERR_INVALIDCALL);
    full.BackBufferHeight = 600;
    ASSERT_EQ(device->Reset(&full), D3D_OK);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 800);
    EXPECT_EQ(client.bottom, 600);

    InjectMinimize(window, true);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(device->Reset(&full), D3DERR_DEVICELOST);
    InjectMinimize(window, false);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    ASSERT_EQ(device->Reset(&full), D3D_OK);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);

    // Back to the window: the window gets its rectangle back.
    ASSERT_EQ(device->Reset(&p), D3D_OK);
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 320);
    EXPECT_EQ(client.bottom, 240);
    EXPECT_EQ(device->Release(), 0u);
    DestroyWindow(window);
}

TEST_F(HeadlessDevice, CreationRefusesWhatTheBackBufferCannotBe) {
    IDirect3DDevice8* device = nullptr;
    D3DPRESENT_PARAMETERS p = Windowed(32, 32, true);
    p.MultiSampleType = D3DMULTISAMPLE_2_SAMPLES;
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device, nullptr);
    p = Windowed(32, 32, true);
    p.AutoDepthStencilFormat = D3DFMT_D15S1;
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device),
              D3DERR_INVALIDCALL);
    p = Windowed(32, 32, true);
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0, &p, &device), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->CreateDevice(7, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device),
              D3DERR_INVALIDCALL);
    // A full-screen device needs a window.
    p.Windowed = FALSE;
    p.BackBufferWidth = 640;
    p.BackBufferHeight = 480;
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device),
              D3DERR_INVALIDCALL);
}

}  // namespace
