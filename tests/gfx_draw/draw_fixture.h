#pragma once
// A headless device of 64 x 64 pixels with depth and stencil, and helpers to
// draw and read pixels back.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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

// A white spot light at the origin: no attenuation with distance, linear falloff.
inline D3DLIGHT8 SpotLight(const D3DVECTOR& direction, float range, float theta, float phi) {
    D3DLIGHT8 l{};
    l.Type = D3DLIGHT_SPOT;
    l.Diffuse = {1, 1, 1, 1};
    l.Direction = direction;
    l.Range = range;
    l.Attenuation0 = 1.0f;
    l.Falloff = 1.0f;
    l.Theta = theta;
    l.Phi = phi;
    return l;
}

inline DWORD FloatBits(float f) {
    DWORD d;
    std::memcpy(&d, &f, sizeof(d));
    return d;
}

// An RGB PNG with stored (uncompressed) deflate blocks, one per row.
inline void WritePng(const std::string& path, const std::vector<std::uint32_t>& rgb, UINT w, UINT h) {
    auto crc = [](const std::vector<unsigned char>& b, size_t from) {
        std::uint32_t c = 0xFFFFFFFFu;
        for (size_t i = from; i < b.size(); ++i) {
            c ^= b[i];
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        }
        return ~c;
    };
    auto be32 = [](std::vector<unsigned char>& b, std::uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<unsigned char>(v >> s));
    };
    std::vector<unsigned char> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&](const char* type, const std::vector<unsigned char>& data) {
        be32(out, static_cast<std::uint32_t>(data.size()));
        const size_t from = out.size();
        out.insert(out.end(), type, type + 4);
        out.insert(out.end(), data.begin(), data.end());
        be32(out, crc(out, from));
    };
    std::vector<unsigned char> ihdr;
    be32(ihdr, w);
    be32(ihdr, h);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    chunk("IHDR", ihdr);
    std::vector<unsigned char> z = {0x78, 0x01};
    std::uint32_t a = 1, b = 0;
    const UINT rowBytes = 1 + 3 * w;
    for (UINT y = 0; y < h; ++y) {
        std::vector<unsigned char> row = {0};
        for (UINT x = 0; x < w; ++x) {
            const std::uint32_t p = rgb[static_cast<size_t>(y) * w + x];
            row.insert(row.end(), {static_cast<unsigned char>(p >> 16), static_cast<unsigned char>(p >> 8),
                                   static_cast<unsigned char>(p)});
        }
        z.insert(z.end(), {static_cast<unsigned char>(y + 1 == h ? 1 : 0), static_cast<unsigned char>(rowBytes),
                           static_cast<unsigned char>(rowBytes >> 8), static_cast<unsigned char>(~rowBytes),
                           static_cast<unsigned char>(~rowBytes >> 8)});
        for (unsigned char c : row) {
            a = (a + c) % 65521;
            b = (b + a) % 65521;
        }
        z.insert(z.end(), row.begin(), row.end());
    }
    be32(z, (b << 16) | a);
    chunk("IDAT", z);
    chunk("IEND", {});
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(out.data(), 1, out.size(), f);
        std::fclose(f);
    }
}

class DrawTest : public ::testing::Test {
protected:
    static constexpr UINT kSize = 64;
    void SetUp() override {
        ASSERT_EQ(CreateHeadlessDevice(kSize, kSize, &d3d_, &device_), D3D_OK) << "no GL driver";
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
    // With MERIDAX_PIXEL_DUMP set to a folder, writes the back buffer there as
    // name.png, to be looked at.
    void Dump(const char* name) {
        const char* folder = std::getenv("MERIDAX_PIXEL_DUMP");
        if (!folder) return;
        WritePng(std::string(folder) + "/" + name + ".png", Pixels(), kSize, kSize);
    }
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
