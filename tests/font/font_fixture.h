#pragma once
// A headless device seen through a recording device.
#include <gtest/gtest.h>

#include <vector>

#include "platform/gfx/d3d_device.h"
#include "platform/gfx/gl_device.h"
#include "platform/gfx/recording_device.h"

class RecordedDevice : public ::testing::Test {
protected:
    void SetUp() override {
        SetHeadlessGraphics(true);
        d3d_ = Direct3DCreate8(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr) << "no GL driver";
        D3DPRESENT_PARAMETERS p{};
        p.Windowed = TRUE;
        p.BackBufferWidth = 128;
        p.BackBufferHeight = 64;
        p.BackBufferFormat = D3DFMT_X8R8G8B8;
        p.SwapEffect = D3DSWAPEFFECT_DISCARD;
        p.EnableAutoDepthStencil = TRUE;
        p.AutoDepthStencilFormat = D3DFMT_D24S8;
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &gl_),
                  D3D_OK);
        device_ = new RecordingDevice(gl_);
    }
    void TearDown() override {
        // As a program does before releasing: nothing stays bound to the device.
        if (gl_) {
            gl_->SetStreamSource(0, nullptr, 0);
            for (DWORD stage = 0; stage < 8; ++stage) gl_->SetTexture(stage, nullptr);
        }
        if (device_) device_->Release();
        if (gl_) {
            EXPECT_EQ(gl_->Release(), 0u) << "something still holds the device";
        }
        if (d3d_) d3d_->Release();
    }
    std::vector<std::uint32_t> Pixels() {
        std::vector<std::uint32_t> pixels;
        static_cast<GlDevice*>(gl_)->ReadBackBuffer(&pixels);
        return pixels;
    }
    IDirect3D8* d3d_ = nullptr;
    IDirect3DDevice8* gl_ = nullptr;
    RecordingDevice* device_ = nullptr;
};
