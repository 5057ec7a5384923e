#include "app_fixture.h"

#include "../view/view_test_support.h"
#include "view/log_file.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace viewapp {
namespace {

template <typename T>
void Append(std::vector<std::uint8_t>& bytes, T value)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
    bytes.insert(bytes.end(), p, p + sizeof value);
}

std::vector<DawVertex> SmallModel(int count, float scale)
{
    std::vector<DawVertex> vertices;
    for (int k = 0; k < count; ++k)
        vertices.push_back({scale * k, scale * (k % 3), -scale * k, 0.0f, 0.0f, 2.0f + k, 0.1f * k, 0.2f * k});
    return vertices;
}

}  // namespace

std::vector<std::uint8_t> DawImage(std::int16_t count, const std::vector<DawVertex>& vertices)
{
    std::vector<std::uint8_t> bytes;
    Append(bytes, count);
    for (const DawVertex& v : vertices) {
        for (float f : {v.px, v.py, v.pz, v.nx, v.ny, v.nz, v.u, v.v}) Append(bytes, f);
    }
    return bytes;
}

std::vector<DawVertex> SphereVertices(int count)
{
    std::vector<DawVertex> vertices;
    for (int k = 0; k < count; ++k) {
        const int t = k / 3, corner = k % 3;
        const float a = 0.0013f * static_cast<float>(t) + 0.2f * static_cast<float>(corner);
        const float radius = 1.0f + static_cast<float>(corner);
        const float z = corner == 2 ? 0.9f : 0.3f - 0.4f * static_cast<float>(corner);
        vertices.push_back({radius * std::cos(a), radius * std::sin(a), radius * z, static_cast<float>(t),
                            static_cast<float>(corner), 0.0f, 7.0f, 8.0f});
    }
    return vertices;
}

std::vector<std::uint8_t> MacroImage(int triangles)
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(triangles) * 96, 0x77);
    for (int t = 0; t < triangles; ++t) {
        bytes[96 * t + 32] = static_cast<std::uint8_t>(t % 9 - 1);
        bytes[96 * t + 33] = static_cast<std::uint8_t>(t % 5);
    }
    return bytes;
}

std::vector<std::uint8_t> FacetImage(int seed)
{
    std::vector<std::uint8_t> bytes;
    for (int p = 0; p < 400; ++p) {
        const int q = p + seed;
        bytes.push_back(static_cast<std::uint8_t>(q % 9));
        bytes.push_back(static_cast<std::uint8_t>(q % 3));
        bytes.push_back(static_cast<std::uint8_t>(q % 7 - 3));
        bytes.push_back(static_cast<std::uint8_t>(-(q % 5)));
        bytes.push_back(static_cast<std::uint8_t>(q % 11 - 5));
        bytes.push_back(0x5A);
        bytes.push_back(0x5A);
    }
    return bytes;
}

void WriteModelFiles(const std::string& folder)
{
    const std::string meshes = folder + "/Meshes";
    std::filesystem::create_directories(meshes);
    viewtest::WriteBytes(meshes + "/E-10.DAW", DawImage(6, SmallModel(6, 1.0f)));
    viewtest::WriteBytes(meshes + "/O-4.DAW", DawImage(9, SmallModel(9, 2.0f)));
    viewtest::WriteBytes(meshes + "/sphere.DAW", DawImage(13500, SphereVertices(13500)));
    for (const char* name : {"farspher.DAW", "lightsph.DAW", "deois.DAW", "tactical.DAW"})
        viewtest::WriteBytes(meshes + "/" + name, DawImage(3, SmallModel(3, 0.5f)));
    viewtest::WriteBytes(meshes + "/macro.DAW", MacroImage(4500));
    const char* facets[9] = {"facet-1", "facet00", "facet01", "facet02", "facet03",
                             "facet04", "facet05", "facet06", "facet07"};
    for (int i = 0; i < 9; ++i) viewtest::WriteBytes(meshes + "/" + facets[i] + ".DAW", FacetImage(i));
}

std::vector<ModelVertex> ReadVertices(IDirect3DVertexBuffer8* buffer, int count)
{
    std::vector<ModelVertex> out(static_cast<std::size_t>(count));
    BYTE* data = nullptr;
    EXPECT_EQ(buffer->Lock(0, 0, &data, 0), D3D_OK);
    std::memcpy(out.data(), data, out.size() * sizeof(ModelVertex));
    buffer->Unlock();
    return out;
}

void AppTest::SetUp()
{
    viewtest::ResetViewState();
    folder_ = viewtest::ScratchFolder();
    WriteModelFiles(folder_);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    previousFolder_ = cwd;
    ASSERT_EQ(chdir(folder_.c_str()), 0);
    viewtest::CaptureLog();
    app_ = std::make_unique<CockpitApplication>();
}

void AppTest::MakeDevice(UINT width, UINT height)
{
    SetHeadlessGraphics(true);
    if (!d3d_) d3d_ = Direct3DCreate8(D3D_SDK_VERSION);
    ASSERT_NE(d3d_, nullptr) << "no GL driver";
    D3DPRESENT_PARAMETERS p{};
    p.Windowed = TRUE;
    p.BackBufferWidth = width;
    p.BackBufferHeight = height;
    p.BackBufferFormat = D3DFMT_X8R8G8B8;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D24S8;
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &gl_), D3D_OK);
    device_ = new RecordingDevice(gl_);
    app_->Device = device_;
    app_->BackBufferDesc.Width = width;
    app_->BackBufferDesc.Height = height;
}

bool AppTest::ReleaseDevice()
{
    if (!gl_) return true;
    app_->ReleaseVolatileObjects();
    app_->FreeDeviceObjects();
    app_->Device = nullptr;
    device_->Release();
    device_ = nullptr;
    const ULONG left = gl_->Release();
    gl_ = nullptr;
    return left == 0;
}

void AppTest::TearDown()
{
    ReleaseDevice();
    if (app_) app_->OneTimeSceneShutdown();
    app_.reset();
    if (d3d_) d3d_->Release();
    d3d_ = nullptr;
    CloseLogFile();
    ASSERT_FALSE(previousFolder_.empty());
    EXPECT_EQ(chdir(previousFolder_.c_str()), 0);
}

}  // namespace viewapp
