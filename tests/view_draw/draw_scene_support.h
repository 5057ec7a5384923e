#pragma once
// Shared pieces of the drawing-step tests.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// Writes pixels (0x00RRGGBB, rows top-down) as a PPM image into the folder named
// by MERIDAX_SCREENSHOT_DIR, when it is set, for looking at what a test drew.
inline void SaveScreenshot(const std::string& name, const std::vector<std::uint32_t>& pixels, unsigned width,
                           unsigned height)
{
    const char* dir = std::getenv("MERIDAX_SCREENSHOT_DIR");
    if (dir == nullptr || pixels.size() < static_cast<size_t>(width) * height) return;
    std::FILE* f = std::fopen((std::string(dir) + "/" + name).c_str(), "wb");
    if (f == nullptr) return;
    std::fprintf(f, "P6\n%u %u\n255\n", width, height);
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
        const unsigned char rgb[3] = {static_cast<unsigned char>(pixels[i] >> 16),
                                      static_cast<unsigned char>(pixels[i] >> 8),
                                      static_cast<unsigned char>(pixels[i])};
        std::fwrite(rgb, 1, 3, f);
    }
    std::fclose(f);
}

#include <memory>

#include "platform/gfx/recording_device.h"
#include "tests/gfx_draw/draw_fixture.h"
#include "view/atmosphere.h"
#include "view/cockpit_app.h"
#include "view/state.h"

// The application object on a recording headless device, with the shared
// vessel and projectile tables back at their start values.
class SceneTest : public DrawTest {
protected:
    void SetUp() override
    {
        DrawTest::SetUp();
        if (HasFatalFailure()) return;
        recorder_ = new RecordingDevice(device_);
        app_ = std::make_unique<CockpitApplication>();
        app_->Device = recorder_;
        for (VesselState& v : Vessels) {
            ScopedSection hold(v.Lock);
            v.Model = 0;
            v.Position = {0, 0, 0};
            v.Present = 0;
            v.HitRadius = VESSEL_HIT_RADIUS;
            v.BlinkBits = 0;
            v.Distance = 0.0f;
            D3DXMatrixIdentity(&v.WorldMatrix);
        }
        for (Projectile& p : Projectiles) {
            ScopedSection hold(p.Lock);
            p.Active = 0;
            p.Exploded = 0;
            p.FrameCounter = 0;
            p.Position = {0, 0, 0};
        }
        OwnVesselIndex = 0;
        FogEnabled = 0;
        ResourcesLoaded = 0;
        AltitudeMSL = -1.0f;
        RvrSetting = 2.0f;
        HorizonSunFactor = 0.0f;
        Atmosphere = AtmosphereFrame{};
        D3DXMatrixIdentity(&Atmosphere.HorizonFrame);
        WhiteMaterial = MakeWhiteMaterial();
    }
    void TearDown() override
    {
        if (app_) {
            for (DWORD stage = 0; stage < 8; ++stage) device_->SetTexture(stage, nullptr);
            device_->SetStreamSource(0, nullptr, 0);
            for (IUnknown* r : owned_) r->Release();
            app_->Device = nullptr;
            app_.reset();
        }
        if (recorder_) recorder_->Release();
        DrawTest::TearDown();
    }
    // A polygon object from a triangle list; the buffer is released by the fixture.
    void SetModel(int index, const std::vector<ModelVertex>& vertices)
    {
        IDirect3DVertexBuffer8* vb = nullptr;
        const UINT bytes = static_cast<UINT>(vertices.size() * sizeof(ModelVertex));
        ASSERT_EQ(device_->CreateVertexBuffer(bytes, 0, MODEL_VERTEX_FVF, D3DPOOL_MANAGED, &vb), D3D_OK);
        BYTE* data = nullptr;
        ASSERT_EQ(vb->Lock(0, 0, &data, 0), D3D_OK);
        std::memcpy(data, vertices.data(), bytes);
        vb->Unlock();
        owned_.push_back(vb);
        app_->PolygonObjects[index].VertexBuffer = vb;
        app_->PolygonObjects[index].VertexCount = static_cast<std::int16_t>(vertices.size());
        app_->PolygonObjects[index].TriangleCount = static_cast<std::int16_t>(vertices.size() / 3);
    }
    IDirect3DTexture8* Texture(std::uint32_t argb)
    {
        IDirect3DTexture8* t = SolidTexture(D3DFMT_A8R8G8B8, argb);
        owned_.push_back(t);
        return t;
    }
    // The texture set on stage 0 of the real device now.
    IDirect3DBaseTexture8* StageTexture(DWORD stage)
    {
        IDirect3DBaseTexture8* t = nullptr;
        device_->GetTexture(stage, &t);
        if (t) t->Release();
        return t;
    }

    RecordingDevice* recorder_ = nullptr;
    std::unique_ptr<CockpitApplication> app_;
    std::vector<IUnknown*> owned_;
};

// A square of side 2 in the z = 0 plane facing -z, as two triangles.
inline std::vector<ModelVertex> FacingSquare()
{
    const D3DXVECTOR3 n(0, 0, -1);
    const ModelVertex a{{-1, 1, 0}, n, 0, 0}, b{{1, 1, 0}, n, 1, 0}, c{{-1, -1, 0}, n, 0, 1},
        d{{1, -1, 0}, n, 1, 1};
    return {a, b, c, c, b, d};
}
