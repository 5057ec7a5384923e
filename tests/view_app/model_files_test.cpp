// InitDeviceObjects on generated model files: lines, buffers, vertices, the planet's
// facets, the facet tables and every refusal.
#include "app_fixture.h"

#include "../view/view_test_support.h"
#include "view/log_file.h"
#include "view/model_files.h"
#include "view/state.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace viewapp {
namespace {

constexpr float R = 2939.6f;

D3DXVECTOR3 Unit(float x, float y, float z)
{
    const double length = std::sqrt(double(x) * x + double(y) * y + double(z) * z);
    return D3DXVECTOR3(float(x / length), float(y / length), float(z / length));
}

// Direction of corner `corner` of sphere triangle t as the generator places it.
D3DXVECTOR3 SphereDirection(int t, int corner)
{
    const DawVertex v = SphereVertices(3 * t + 3)[static_cast<std::size_t>(3 * t + corner)];
    return Unit(v.px, v.py, v.pz);
}

void ExpectNear(const D3DXVECTOR3& actual, const D3DXVECTOR3& expected, float tolerance)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

int OpenDescriptors()
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) count += entry.is_symlink() ? 1 : 0;
    return count;
}

// The terrain atlas: corners 0, 1 and 2 of each tile type, in texels.
const float TILE_TEXELS[9][6] = {
    {517, 841, 515, 843, 516, 843},          {511.5f, 1, 1020, 883, 3, 883},
    {1023.5f, 883, 515, 1, 1532, 1},         {1535.5f, 1, 2044, 883, 1027, 883},
    {2047.5f, 883, 1539, 1, 2556, 1},        {511.5f, 886, 1020, 1768, 3, 1768},
    {1023.5f, 1768, 515, 886, 1532, 886},    {1535.5f, 886, 2044, 1768, 1027, 1768},
    {2047.5f, 1768, 1539, 886, 2556, 886},
};

using ModelFiles = AppTest;

TEST_F(ModelFiles, CompleteLoadWritesItsLinesAndCreatesTheBuffersInOrder)
{
    MakeDevice();
    std::strcpy(app_->DeviceText, "HAL (hw vp): 640x480");
    ASSERT_EQ(app_->InitDeviceObjects(), S_OK);

    EXPECT_EQ(viewtest::LogText(),
              "Build: 142 (11/01/2002)  Mode: HAL (hw vp): 640x480\r\n"
              "InitDeviceObjects() called!\r\n"
              "InitDeviceObjects() font for HUD loaded!\r\n"
              "InitDeviceObjects() created all vertex buffers!\r\n"
              "Creating memory (6 vertices) for polygon object number 0...\r\n"
              "Creating memory (9 vertices) for polygon object number 1...\r\n"
              "Creating memory (6750 vertices) for polygon object number 2...\r\n"
              "Creating memory (3 vertices) for polygon object number 3...\r\n"
              "Creating memory (3 vertices) for polygon object number 4...\r\n"
              "Creating memory (13500 vertices) for polygon object number 5...\r\n"
              "Creating memory (3 vertices) for polygon object number 6...\r\n"
              "Creating memory (3 vertices) for polygon object number 7...\r\n"
              "InitDeviceObjects() exiting sucessfully!\r\n");

    // The scene's buffers (length, format), then the models'; all write-only, managed.
    std::vector<std::pair<DWORD, DWORD>> expected = {{320, 0x112}, {384, 0x112}, {128, 0x112}, {38400, 0x112}};
    for (int i = 0; i < 32; ++i) expected.push_back({48000, 0x212});
    expected.push_back({6240, 0x42});
    for (DWORD vertices : {6u, 9u, 6750u, 3u, 3u, 13500u, 3u, 3u}) expected.push_back({vertices * 32, 0x112});
    std::vector<std::pair<DWORD, DWORD>> created;
    for (const DeviceCall& call : device_->Named("CreateVertexBuffer")) {
        EXPECT_EQ(call.args[1], D3DUSAGE_WRITEONLY);
        EXPECT_EQ(call.args[3], static_cast<DWORD>(D3DPOOL_MANAGED));
        created.push_back({call.args[0], call.args[2]});
    }
    EXPECT_EQ(created, expected);

    EXPECT_EQ(app_->PolygonObjects[2].VertexCount, 13500);
    EXPECT_EQ(app_->PolygonObjects[2].TriangleCount, 4500);
    EXPECT_EQ(app_->PolygonObjects[1].TriangleCount, 3);
    EXPECT_NE(app_->Planet.Sphere, nullptr);
}

TEST_F(ModelFiles, ModelVerticesKeepPositionAndTextureAndNormaliseTheNormal)
{
    MakeDevice();
    ASSERT_EQ(app_->InitDeviceObjects(), S_OK);
    // O-4 vertex k: position (2k, 2(k % 3), -2k), normal (0, 0, 2 + k), u 0.1k, v 0.2k.
    const std::vector<ModelVertex> v = ReadVertices(app_->PolygonObjects[1].VertexBuffer, 9);
    EXPECT_EQ(v[5].Position, D3DXVECTOR3(10.0f, 4.0f, -10.0f));
    EXPECT_EQ(v[5].Normal, D3DXVECTOR3(0.0f, 0.0f, 1.0f));
    EXPECT_FLOAT_EQ(v[5].U, 0.5f);
    EXPECT_FLOAT_EQ(v[5].V, 1.0f);
}

TEST_F(ModelFiles, SevenVerticesMakeTwoTrianglesAndAShortFileRepeatsItsLastValue)
{
    // Count 7, six whole vertices and the position of the seventh (-6 last).
    std::vector<std::uint8_t> image = DawImage(7, {});
    for (int k = 0; k < 7; ++k) {
        for (float f : {1.0f * k, 2.0f, -6.0f, 0.0f, 3.0f, 0.0f, 0.25f, 0.75f}) {
            const auto* p = reinterpret_cast<const std::uint8_t*>(&f);
            image.insert(image.end(), p, p + 4);
        }
    }
    image.resize(2 + 6 * 32 + 12);
    viewtest::WriteBytes(folder_ + "/Meshes/E-10.DAW", image);
    MakeDevice();
    ASSERT_EQ(app_->InitDeviceObjects(), S_OK);

    EXPECT_EQ(app_->PolygonObjects[0].VertexCount, 7);
    EXPECT_EQ(app_->PolygonObjects[0].TriangleCount, 2);
    const std::vector<ModelVertex> v = ReadVertices(app_->PolygonObjects[0].VertexBuffer, 7);
    EXPECT_EQ(v[6].Position, D3DXVECTOR3(6.0f, 2.0f, -6.0f));
    const float n = -1.0f / std::sqrt(3.0f);
    ExpectNear(v[6].Normal, D3DXVECTOR3(n, n, n), 1e-6f);
    EXPECT_EQ(v[6].U, -6.0f);
    EXPECT_EQ(v[6].V, -6.0f);
}

TEST_F(ModelFiles, PlanetFacetsAreOnThePlanetWithTheirLevelsRotationsAndTiles)
{
    MakeDevice();
    ASSERT_EQ(app_->InitDeviceObjects(), S_OK);
    const PlanetFacets& planet = app_->Planet;

    // Triangle 9: level byte 255 (level 0), rotation count 4 (acts as 1).
    // Triangle 7: level 7, rotation count 2. Triangle 10: level 1, no rotation.
    struct Case {
        int t, level;
        int from[3];  // original corner now in corners 0, 1, 2
    };
    for (const Case& c : {Case{9, 0, {1, 2, 0}}, Case{7, 7, {2, 0, 1}}, Case{10, 1, {0, 1, 2}}}) {
        SCOPED_TRACE(c.t);
        EXPECT_EQ(planet.Level[c.t], c.level);
        EXPECT_EQ(planet.DrawOrder[c.t], c.t);
        for (int corner = 0; corner < 3; ++corner) {
            const ModelVertex& v = planet.Sphere[3 * c.t + corner];
            ExpectNear(v.Position, SphereDirection(c.t, c.from[corner]) * R, 2e-3f);
            EXPECT_EQ(v.Normal, D3DXVECTOR3(float(c.t), float(c.from[corner]), 0.0f));
            EXPECT_FLOAT_EQ(v.U, TILE_TEXELS[c.level][2 * corner] / 2048.0f);
            EXPECT_FLOAT_EQ(v.V, TILE_TEXELS[c.level][2 * corner + 1] / 2048.0f);
        }
        // The centroid: mean of the corners on the planet, lifted back onto it.
        D3DXVECTOR3 mean = (SphereDirection(c.t, 0) + SphereDirection(c.t, 1) + SphereDirection(c.t, 2)) * R / 3.0f;
        ExpectNear(planet.Centroids[c.t], Unit(mean.x, mean.y, mean.z) * R, 2e-3f);
        EXPECT_NEAR(D3DXVec3Length(&planet.Centroids[c.t]), R, 1e-3f);
    }
}

TEST_F(ModelFiles, FacetTablesTakeTheFirstFiveBytesOfEachRecord)
{
    MakeDevice();
    ASSERT_EQ(app_->InitDeviceObjects(), S_OK);
    // Facet file 8, record 395: q = 403: type 7, shift 1, heights 1, -3, 2.
    const FacetData& facet = app_->Facets[8];
    EXPECT_EQ(facet.TileType[395], 7);
    EXPECT_EQ(facet.CornerShift[395], 1);
    EXPECT_EQ(facet.HeightA[395], 1);
    EXPECT_EQ(facet.HeightB[395], -3);
    EXPECT_EQ(facet.HeightC[395], 2);
    // Facet file 0, record 4: heights 1, -4, -1.
    EXPECT_EQ(app_->Facets[0].HeightB[4], -4);
    EXPECT_EQ(app_->Facets[0].HeightC[4], -1);
}

TEST_F(ModelFiles, ShortFacetAndMacroFilesLeaveZeros)
{
    std::vector<std::uint8_t> facet = FacetImage(2);
    facet.resize(7 * 100 + 3);
    viewtest::WriteBytes(folder_ + "/Meshes/facet01.DAW", facet);
    std::vector<std::uint8_t> macro = MacroImage(4500);
    macro.resize(96 * 20 + 33);  // level of triangle 20, not its rotation
    viewtest::WriteBytes(folder_ + "/Meshes/macro.DAW", macro);
    MakeDevice();
    app_->Facets[2].TileType[150] = 9;
    app_->Planet.Level[3000] = 9;
    ASSERT_EQ(app_->InitDeviceObjects(), S_OK);

    EXPECT_EQ(app_->Facets[2].TileType[99], 101 % 9);
    EXPECT_EQ(app_->Facets[2].TileType[100], 0);
    EXPECT_EQ(app_->Facets[2].HeightA[100], 0);
    EXPECT_EQ(app_->Facets[2].TileType[150], 0);
    EXPECT_EQ(app_->Planet.Level[20], 20 % 9);
    EXPECT_EQ(app_->Planet.Level[21], 0);
    EXPECT_EQ(app_->Planet.Level[3000], 0);
    // Triangle 20 keeps its corners (its rotation was not read).
    ExpectNear(app_->Planet.Sphere[60].Position, SphereDirection(20, 0) * R, 2e-3f);
}

TEST_F(ModelFiles, EachMissingFileStopsWithItsLine)
{
    struct Case {
        const char* file;
        const char* line;
    };
    const Case cases[] = {
        {"E-10.DAW", "Could not load polygon object (DAW file) number 0!\r\n"},
        {"O-4.DAW", "Could not load polygon object (DAW file) number 1!\r\n"},
        {"sphere.DAW", "Could not load polygon object (DAW file) number 2!\r\n"},
        {"macro.DAW", "Could not load polygon object (DAW file) number 2!\r\n"},
        {"farspher.DAW", "Could not load polygon object (DAW file) number 3!\r\n"},
        {"tactical.DAW", "Could not load polygon object (DAW file) number 7!\r\n"},
        {"facet-1.DAW", "Could not load facet data (DAW file) 0!\r\n"},
        {"facet07.DAW", "Could not load facet data (DAW file) 8!\r\n"},
    };
    MakeDevice();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = folder_ + "/Meshes/" + c.file;
        std::filesystem::rename(path, path + ".away");
        viewtest::CaptureLog();
        const int descriptors = OpenDescriptors();
        EXPECT_EQ(app_->InitDeviceObjects(), APP_E_MEDIA_MISSING);
        EXPECT_EQ(OpenDescriptors(), descriptors);
        const std::string log = viewtest::LogText();
        EXPECT_EQ(log.substr(log.size() - std::strlen(c.line)), c.line);
        EXPECT_EQ(log.find("exiting"), std::string::npos);
        app_->FreeDeviceObjects();
        std::filesystem::rename(path + ".away", path);
    }
}

TEST_F(ModelFiles, UnusableVertexCountsAreRefusedBeforeAnythingIsMade)
{
    MakeDevice();
    struct Case {
        const char* file;
        std::int16_t count;
        int vertices;
        int index;
    };
    for (const Case& c : {Case{"sphere.DAW", 13497, 13497, 2}, Case{"sphere.DAW", 13503, 13503, 2},
                          Case{"lightsph.DAW", 0, 0, 4}, Case{"deois.DAW", -3, 3, 6}}) {
        SCOPED_TRACE(c.count);
        WriteModelFiles(folder_);
        viewtest::WriteBytes(folder_ + "/Meshes/" + c.file, DawImage(c.count, SphereVertices(c.vertices)));
        viewtest::CaptureLog();
        device_->Clear();
        const int descriptors = OpenDescriptors();
        EXPECT_EQ(app_->InitDeviceObjects(), APP_E_MEDIA_MISSING);
        EXPECT_EQ(OpenDescriptors(), descriptors);
        const std::string log = viewtest::LogText();
        const std::string line = "Could not load polygon object (DAW file) number " + std::to_string(c.index) + "!\r\n";
        EXPECT_EQ(log.substr(log.size() - line.size()), line);
        EXPECT_EQ(log.find("for polygon object number " + std::to_string(c.index) + "..."), std::string::npos);
        EXPECT_EQ(app_->PolygonObjects[c.index].VertexBuffer, nullptr);
        EXPECT_EQ(app_->Planet.Sphere == nullptr, c.index == 2);
        app_->FreeDeviceObjects();
    }
}

TEST_F(ModelFiles, WriteProtectedFacetFileCountsAsMissing)
{
    std::filesystem::permissions(folder_, std::filesystem::perms(0755));
    std::filesystem::permissions(folder_ + "/Meshes", std::filesystem::perms(0755));
    std::filesystem::permissions(folder_ + "/Meshes/facet02.DAW", std::filesystem::perms(0444));
    std::filesystem::permissions(folder_ + "/Meshes/facet03.DAW", std::filesystem::perms(0666));
    // Permissions bind only an unprivileged user: the loads run in a child as one.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && setuid(65534) != 0) _exit(3);
        static FacetData facet;
        const bool refused = LoadFacetFile(facet, 3) == APP_E_MEDIA_MISSING;
        const bool readable = LoadFacetFile(facet, 4) == S_OK;
        _exit(refused && readable ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(viewtest::LogText(), "Could not load facet data (DAW file) 3!\r\n");
}

TEST(TileCorners, AtlasTrianglesAndUnknownTypes)
{
    float c[6];
    for (int type = 0; type < 9; ++type) {
        GetTileTexCoords(static_cast<std::int8_t>(type), c[0], c[1], c[2], c[3], c[4], c[5]);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(c[i], TILE_TEXELS[type][i] / 2048.0f) << type << " " << i;
    }
    for (std::int8_t type : {std::int8_t(9), std::int8_t(-1), std::int8_t(-128)}) {
        GetTileTexCoords(type, c[0], c[1], c[2], c[3], c[4], c[5]);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(c[i], TILE_TEXELS[0][i] / 2048.0f) << int(type) << " " << i;
    }
}

}  // namespace
}  // namespace viewapp
