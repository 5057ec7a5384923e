// Frame time of a scene through the device layer (a lit, textured, fogged
// sphere of a few thousand triangles and a screen of HUD text) on the headless
// path, and the cost of the layer per draw call against bare GL calls doing
// the same work in the same context.
#include "platform/gfx/renderer_heap.h"
#include <benchmark/benchmark.h>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "framework/texture_font.h"
#include "platform/gfx/d3d_device.h"
#include "platform/gfx/gl_device.h"

namespace {

struct LitVertex {
    float x, y, z, nx, ny, nz, u, v;
};

DWORD Bits(float f) {
    DWORD d;
    std::memcpy(&d, &f, 4);
    return d;
}

struct Scene {
    IDirect3D8* d3d = nullptr;
    IDirect3DDevice8* device = nullptr;
    IDirect3DVertexBuffer8* sphere = nullptr;
    IDirect3DTexture8* texture = nullptr;
    TextureFont* font = nullptr;
    UINT triangles = 0;

    bool Open(UINT width, UINT height) {
        if (FAILED(CreateHeadlessDevice(width, height, &d3d, &device))) return false;
        // A sphere of 48 x 48 x 2 = 4608 triangles.
        const int rings = 48, segments = 48;
        std::vector<LitVertex> v;
        auto point = [&](int i, int j) {
            const float t = 3.14159265f * static_cast<float>(i) / rings, f = 6.2831853f * static_cast<float>(j) / segments;
            const float nx = std::sin(t) * std::cos(f), ny = std::cos(t), nz = std::sin(t) * std::sin(f);
            return LitVertex{nx, ny, nz, nx, ny, nz, static_cast<float>(j) / segments, static_cast<float>(i) / rings};
        };
        for (int i = 0; i < rings; ++i) {
            for (int j = 0; j < segments; ++j) {
                v.push_back(point(i, j));
                v.push_back(point(i, j + 1));
                v.push_back(point(i + 1, j));
                v.push_back(point(i, j + 1));
                v.push_back(point(i + 1, j + 1));
                v.push_back(point(i + 1, j));
            }
        }
        triangles = static_cast<UINT>(v.size() / 3);
        device->CreateVertexBuffer(static_cast<UINT>(v.size() * sizeof(LitVertex)), D3DUSAGE_WRITEONLY, 0x112,
                                   D3DPOOL_MANAGED, &sphere);
        BYTE* data = nullptr;
        sphere->Lock(0, 0, &data, 0);
        std::memcpy(data, v.data(), v.size() * sizeof(LitVertex));
        sphere->Unlock();
        // A 256 x 256 DXT1 texture of blocks in two colours.
        device->CreateTexture(256, 256, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &texture);
        D3DLOCKED_RECT lr{};
        texture->LockRect(0, &lr, nullptr, 0);
        for (int by = 0; by < 64; ++by) {
            for (int bx = 0; bx < 64; ++bx) {
                const BYTE block[8] = {0x00, 0xF8, 0xE0, 0x07, static_cast<BYTE>(bx * 4), static_cast<BYTE>(by * 4), 0x1B, 0xE4};
                std::memcpy(static_cast<BYTE*>(lr.pBits) + by * lr.Pitch + bx * 8, block, 8);
            }
        }
        texture->UnlockRect(0);
        font = new TextureFont("Arial", 12, FONT_BOLD);
        font->BuildGlyphAtlas(device);
        font->CreateBuffers();
        return true;
    }

    void Close() {
        delete font;
        if (device) {
            device->SetStreamSource(0, nullptr, 0);
            device->SetTexture(0, nullptr);
        }
        if (sphere) sphere->Release();
        if (texture) texture->Release();
        if (device) device->Release();
        if (d3d) d3d->Release();
    }

    void Frame() {
        device->BeginScene();
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFF203040, 1.0f, 0);
        D3DXMATRIX world, view, projection;
        D3DXMatrixTranslation(&world, 0, 0, 3);
        D3DXMatrixIdentity(&view);
        D3DXMatrixPerspectiveFovLH(&projection, 0.8f, 4.0f / 3.0f, 0.1f, 100.0f);
        device->SetTransform(D3DTS_WORLD, &world);
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &projection);
        D3DMATERIAL8 m{};
        m.Diffuse = m.Ambient = {1, 1, 1, 1};
        device->SetMaterial(&m);
        D3DLIGHT8 l{};
        l.Type = D3DLIGHT_DIRECTIONAL;
        l.Diffuse = {0.9f, 0.95f, 1.0f, 0};
        l.Ambient = {0.13f, 0.05f, 0.15f, 0};
        l.Direction = D3DXVECTOR3(0.3f, -0.4f, 0.8f);
        device->SetLight(0, &l);
        device->LightEnable(0, TRUE);
        device->SetRenderState(D3DRS_LIGHTING, TRUE);
        device->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
        device->SetRenderState(D3DRS_FOGENABLE, TRUE);
        device->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
        device->SetRenderState(D3DRS_RANGEFOGENABLE, TRUE);
        device->SetRenderState(D3DRS_FOGCOLOR, 0xFF808080);
        device->SetRenderState(D3DRS_FOGSTART, Bits(2.0f));
        device->SetRenderState(D3DRS_FOGEND, Bits(4.0f));
        device->SetTexture(0, texture);
        device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
        device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
        device->SetVertexShader(0x112);
        device->SetStreamSource(0, sphere, sizeof(LitVertex));
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, triangles);
        device->SetRenderState(D3DRS_FOGENABLE, FALSE);
        // A screen of HUD text: 22 lines of 48 characters.
        char line[64];
        for (int i = 0; i < 22; ++i) {
            std::snprintf(line, sizeof(line), "Line %02d: ALT 12345.6 km  VEL 7.654 km/s  T: 1.00", i);
            font->DrawText2D(20, 20.0f + 20.0f * static_cast<float>(i), 0xFFFFFF00, line);
        }
        device->EndScene();
        device->Present(nullptr, nullptr, nullptr, nullptr);
        glFinish();  // the frame is done when the renderer has finished it
    }
};

void SceneFrame(benchmark::State& state) {
    Scene scene;
    if (!scene.Open(640, 480)) {
        state.SkipWithError("no headless GL device");
        return;
    }
    scene.Frame();  // uploads the texture and the atlas
    for (auto _ : state) scene.Frame();
    state.counters["triangles"] = scene.triangles;
    state.SetItemsProcessed(state.iterations());
    scene.Close();
}
BENCHMARK(SceneFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// One small textured triangle per call, drawn through the layer and with bare
// GL calls doing the same GL work in the same kind of context: the same
// vertices, projection, texture, sampler and combiner, the same pixels
// written (checked by reading the frame back). Argument 1 changes the
// stage-0 colour operation between calls (MODULATE / SELECTARG1, i.e. the
// combiner mode MODULATE / REPLACE), argument 0 draws with nothing changed.
// On the software renderer most of a changed draw's cost is the renderer's
// own: it stores its fragment state anew for every draw after a change, on
// both sides alike.
struct Tri {
    float x, y, z, rhw;
    DWORD colour;
    float u, v;
};
const Tri kTriangle[3] = {{10, 10, 0.5f, 1, 0xFFFFFFFF, 0, 0}, {20, 10, 0.5f, 1, 0xFFFFFFFF, 1, 0},
                          {10, 20, 0.5f, 1, 0xFFFFFFFF, 0, 1}};
constexpr int kCallsPerIteration = 1000;
constexpr UINT kSide = 64;

// Opens a device, draws the triangle once through the layer (context current,
// texture uploaded, sampler and combiners set) and clears the frame.
bool OpenDrawCall(Scene* scene, benchmark::State& state) {
    if (!scene->Open(kSide, kSide)) {
        state.SkipWithError("no headless GL device");
        return false;
    }
    IDirect3DDevice8* d = scene->device;
    d->SetTexture(0, scene->texture);
    d->SetVertexShader(0x144);
    d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, kTriangle, sizeof(Tri));
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    return true;
}

// Pixels of the frame that are not the clear colour, and a hash of the
// frame; both sides must show the same, or they did not do the same work.
int DrawnPixels(std::uint32_t* hash) {
    glFinish();
    std::vector<std::uint32_t> pixels(kSide * kSide);
    glReadPixels(0, 0, kSide, kSide, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels.data());
    int drawn = 0;
    *hash = 2166136261u;
    for (std::uint32_t p : pixels) {
        drawn += (p & 0xFFFFFFu) != 0;
        *hash = (*hash ^ p) * 16777619u;
    }
    return drawn;
}

void Finish(benchmark::State& state, Scene* scene) {
    std::uint32_t hash = 0;
    const int drawn = DrawnPixels(&hash);
    state.counters["pixels"] = drawn;
    state.counters["frame_hash"] = static_cast<double>(hash);
    if (drawn == 0) state.SkipWithError("nothing was drawn");
    state.SetItemsProcessed(state.iterations() * kCallsPerIteration);
    scene->Close();
}

void DrawCallThroughLayer(benchmark::State& state) {
    Scene scene;
    if (!OpenDrawCall(&scene, state)) return;
    IDirect3DDevice8* d = scene.device;
    const bool change = state.range(0) != 0;
    for (auto _ : state) {
        for (int i = 0; i < kCallsPerIteration; ++i) {
            if (change) d->SetTextureStageState(0, D3DTSS_COLOROP, (i & 1) ? D3DTOP_MODULATE : D3DTOP_SELECTARG1);
            d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, kTriangle, sizeof(Tri));
        }
        glFinish();
    }
    Finish(state, &scene);
}
BENCHMARK(DrawCallThroughLayer)->ArgName("stage_change")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

void DrawCallBareGl(benchmark::State& state) {
    Scene scene;
    if (!OpenDrawCall(&scene, state)) return;
    // The layer's state is in place (texture, sampler, combiner, depth and
    // blend states); set the rest as it does for pre-transformed vertices: a
    // screen-to-clip matrix with the platform's pixel centres, no lighting or
    // fog, positions (x, y, z, 1 / rhw), colour and texture coordinates read
    // straight from the vertices.
    GLint depthMode = GL_NEGATIVE_ONE_TO_ONE;
    glGetIntegerv(GL_CLIP_DEPTH_MODE, &depthMode);
    const bool zeroToOne = depthMode == GL_ZERO_TO_ONE;
    const float side = static_cast<float>(kSide);
    // Depth stored reversed, as the layer stores it.
    const float screen[16] = {2.0f / side, 0, 0, 0, 0, -2.0f / side, 0, 0, 0, 0, zeroToOne ? -1.0f : -2.0f, 0,
                              0.5f * 2.0f / side - 1.0f, 1.0f - 0.5f * 2.0f / side, 1, 1};
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(screen);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    glDisable(GL_FOG);
    float positions[12];
    for (int i = 0; i < 3; ++i) {
        const float w = 1.0f / kTriangle[i].rhw;
        positions[4 * i] = kTriangle[i].x * w;
        positions[4 * i + 1] = kTriangle[i].y * w;
        positions[4 * i + 2] = kTriangle[i].z * w;
        positions[4 * i + 3] = w;
    }
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(4, GL_FLOAT, 0, positions);
    glDisableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, sizeof(Tri), &kTriangle[0].colour);
    glClientActiveTexture(GL_TEXTURE0);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glTexCoordPointer(2, GL_FLOAT, sizeof(Tri), &kTriangle[0].u);
    glDisableClientState(GL_FOG_COORD_ARRAY);
    glActiveTexture(GL_TEXTURE0);
    const bool change = state.range(0) != 0;
    for (auto _ : state) {
        for (int i = 0; i < kCallsPerIteration; ++i) {
            if (change) glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_RGB, (i & 1) ? GL_MODULATE : GL_REPLACE);
            glDrawArrays(GL_TRIANGLES, 0, 3);
        }
        glFinish();
    }
    Finish(state, &scene);
}
BENCHMARK(DrawCallBareGl)->ArgName("stage_change")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    KeepRendererHeap();  // as a drawing program does at start-up
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
