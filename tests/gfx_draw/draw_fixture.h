#pragma once
// A headless device of 64 x 64 pixels with depth and stencil, and helpers to
// draw and read pixels back.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/gfx/d3d_device.h"
#include "platform/gfx/gl_device.h"

struct TlVertex {  // 0x144
    float x, y, z, rhw;
    D3DCOLOR colour;
    float u, v;
};
struct ColourVertex {  // 0x42
    float x, y, z;
    D3DCOLOR colour;
};
struct LitVertex {  // 0x112
    float x, y, z;
    float nx, ny, nz;
    float u, v;
};

inline DWORD FloatBits(float f) {
    DWORD d;
    std::memcpy(&d, &f, sizeof(d));
    return d;
}

class DrawTest : public ::testing::Test {
protected:
    static constexpr UINT kSize = 64;
    void SetUp() override {
        SetHeadlessGraphics(true);
        d3d_ = Direct3DCreate8(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr) << "no GL driver";
        D3DPRESENT_PARAMETERS p{};
        p.Windowed = TRUE;
        p.BackBufferWidth = kSize;
        p.BackBufferHeight = kSize;
        p.BackBufferFormat = D3DFMT_X8R8G8B8;
        p.BackBufferCount = 1;
        p.SwapEffect = D3DSWAPEFFECT_DISCARD;
        p.EnableAutoDepthStencil = TRUE;
        p.AutoDepthStencilFormat = D3DFMT_D24S8;
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device_),
                  D3D_OK);
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 1.0f, 0);
    }
    void TearDown() override {
        if (device_) {
            EXPECT_EQ(device_->Release(), 0u);
        }
        if (d3d_) {
            EXPECT_EQ(d3d_->Release(), 0u);
        }
    }
    std::uint32_t Pixel(int x, int y) {
        std::vector<std::uint32_t> pixels;
        static_cast<GlDevice*>(device_)->ReadBackBuffer(&pixels);
        return pixels[static_cast<size_t>(y) * kSize + static_cast<size_t>(x)] & 0x00FFFFFFu;
    }
    std::vector<std::uint32_t> Pixels() {
        std::vector<std::uint32_t> pixels;
        static_cast<GlDevice*>(device_)->ReadBackBuffer(&pixels);
        for (auto& p : pixels) p &= 0x00FFFFFFu;
        return pixels;
    }
    // A screen rectangle covering pixels x0..x1-1, y0..y1-1 (platform pixel centres).
    void ScreenRect(float x0, float y0, float x1, float y1, D3DCOLOR colour, float z = 0.5f) {
        const TlVertex v[4] = {{x0 - 0.5f, y0 - 0.5f, z, 1, colour, 0, 0},
                               {x1 - 0.5f, y0 - 0.5f, z, 1, colour, 1, 0},
                               {x0 - 0.5f, y1 - 0.5f, z, 1, colour, 0, 1},
                               {x1 - 0.5f, y1 - 0.5f, z, 1, colour, 1, 1}};
        device_->SetVertexShader(0x144);
        ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(TlVertex)), D3D_OK);
    }
    void FullScreen(D3DCOLOR colour, float z = 0.5f) { ScreenRect(0, 0, kSize, kSize, colour, z); }
    IDirect3DTexture8* SolidTexture(D3DFORMAT format, std::uint32_t argb) {
        IDirect3DTexture8* t = nullptr;
        EXPECT_EQ(device_->CreateTexture(2, 2, 1, 0, format, D3DPOOL_MANAGED, &t), D3D_OK);
        D3DLOCKED_RECT lr{};
        EXPECT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 2; ++x) {
                BYTE* p = static_cast<BYTE*>(lr.pBits) + y * lr.Pitch + x * 4;
                std::memcpy(p, &argb, 4);
            }
        }
        t->UnlockRect(0);
        return t;
    }
    IDirect3D8* d3d_ = nullptr;
    IDirect3DDevice8* device_ = nullptr;
};

inline int Channel(std::uint32_t c, int shift) { return static_cast<int>((c >> shift) & 0xFF); }

#define EXPECT_RGB_NEAR(actual, r, g, b, tol)                  \
    do {                                                       \
        const std::uint32_t a_ = (actual);                     \
        { EXPECT_NEAR(Channel(a_, 16), (r), (tol)) << std::hex << a_; } \
        { EXPECT_NEAR(Channel(a_, 8), (g), (tol)) << std::hex << a_; }  \
        { EXPECT_NEAR(Channel(a_, 0), (b), (tol)) << std::hex << a_; }  \
    } while (0)
