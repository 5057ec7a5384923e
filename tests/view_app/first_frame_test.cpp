// PrepareFirstFrame: the universe objects' base matrices, the static buffers and
// the help lines.
#include "app_fixture.h"

#include "../view/view_test_support.h"
#include "view/state.h"
#include "view/universe.h"

#include <cmath>
#include <cstring>

namespace viewapp {
namespace {

constexpr float S = 524288.0f;

D3DXVECTOR3 Through(const D3DXMATRIX& m, D3DXVECTOR3 p)
{
    D3DXVECTOR3 out;
    D3DXVec3TransformCoord(&out, &p, &m);
    return out;
}

void ExpectNear(const D3DXVECTOR3& actual, double x, double y, double z, double tolerance = 1e-4)
{
    EXPECT_NEAR(actual.x, x, tolerance);
    EXPECT_NEAR(actual.y, y, tolerance);
    EXPECT_NEAR(actual.z, z, tolerance);
}

class FirstFrame : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        UniverseObject station, city, planet, sky;
        station.Kind = KIND_STATION;
        station.AngleA = 0.9f;
        station.AngleB = 0.2f;
        station.Scale = 2.0f;
        station.Tilt = 0.1f;
        station.Distance = 9000.0f;
        city.Kind = KIND_CITY;
        city.AngleA = 0.5f;
        city.AngleC = 0.4f;
        city.Scale = 1.0f;
        city.Distance = 2939.6f;
        planet.Kind = KIND_HOME_PLANET;
        planet.AngleB = 0.3f;
        planet.Tilt = 0.25f;
        planet.Distance = 5.0f;
        sky.Kind = KIND_SKY_BOX;
        sky.Tilt = 1.0f;
        sky.AngleB = 2.0f;
        sky.Distance = 77.0f;
        UniverseObjects[0] = city;
        UniverseObjects[1] = station;
        UniverseObjects[3] = planet;
        UniverseObjects[5] = sky;
        HomeObjectIndex = 3;
    }
};

TEST_F(FirstFrame, BaseMatricesPlaceEachKind)
{
    app_->PrepareFirstFrame();
    const double phi = 0.9 - 0.3;  // the station's angle A against the planet's spin angle

    // A station sits one unit out along Y, turned about Z, whatever its distance.
    const D3DXMATRIX& station = UniverseObjects[1].BaseMatrix;
    ExpectNear(Through(station, D3DXVECTOR3(0, 0, 0)), -std::sin(phi), std::cos(phi), 0.0);
    // (1, 0, 0): turned by B, scaled by 2, tilted about X, lifted, turned about Z.
    {
        const double x = 2 * std::cos(0.2), y0 = 2 * std::sin(0.2);
        const double y = y0 * std::cos(0.1) + 1.0, z = y0 * std::sin(0.1);
        ExpectNear(Through(station, D3DXVECTOR3(1, 0, 0)), x * std::cos(phi) - y * std::sin(phi),
                   x * std::sin(phi) + y * std::cos(phi), z);
    }
    EXPECT_EQ(std::memcmp(&UniverseObjects[1].WorldMatrix, &station, sizeof station), 0);

    // The city turns about Y by -C after everything else.
    {
        const double a = 0.5 - 0.3, d = 2939.6;
        const double x = -d * std::sin(a), y = d * std::cos(a);
        ExpectNear(Through(UniverseObjects[0].BaseMatrix, D3DXVECTOR3(0, 0, 0)), x * std::cos(0.4), y,
                   x * std::sin(0.4), 2e-3);
    }

    // The home planet is only moved along Y.
    ExpectNear(Through(UniverseObjects[3].BaseMatrix, D3DXVECTOR3(1, 2, 3)), 1.0, 7.0, 3.0);

    // The sky box turns about X by the home planet's tilt plus a quarter turn.
    const double alpha = 0.25 + 1.5707964;
    ExpectNear(Through(UniverseObjects[5].BaseMatrix, D3DXVECTOR3(0, 1, 0)), 0.0, std::cos(alpha), std::sin(alpha));
    ExpectNear(Through(UniverseObjects[5].BaseMatrix, D3DXVECTOR3(0, 0, 0)), 0.0, 0.0, 0.0);
}

// Position and texture coordinates of one vertex; s stands for the sky box's half size.
struct Corner {
    float x, y, z, u, v;
};

void ExpectCorners(const std::vector<ModelVertex>& actual, const std::vector<Corner>& expected, float s)
{
    ASSERT_GE(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        const Corner& e = expected[i];
        EXPECT_EQ(actual[i].Position, D3DXVECTOR3(e.x * s, e.y * s, e.z * s));
        EXPECT_EQ(actual[i].U, e.u);
        EXPECT_EQ(actual[i].V, e.v);
    }
}

TEST_F(FirstFrame, StaticBuffersHoldTheSkyBoxSunAndPuffShapes)
{
    MakeDevice();
    ASSERT_EQ(app_->InitDeviceObjects(), S_OK);
    // Marks the sun quad's normals, which the preparation leaves alone.
    BYTE* data = nullptr;
    ASSERT_EQ(app_->SunQuadBuffer->Lock(0, 0, &data, 0), D3D_OK);
    std::memset(data, 0x41, 128);
    app_->SunQuadBuffer->Unlock();
    app_->PrepareFirstFrame();

    const std::vector<ModelVertex> wall = ReadVertices(app_->SkyWallBuffer, 10);
    ExpectCorners(wall,
                  {{-1, -1, 1, 0, 1}, {-1, 1, 1, 0, 0}, {1, -1, 1, 2, 1}, {1, 1, 1, 2, 0}, {1, -1, -1, 4, 1},
                   {1, 1, -1, 4, 0}, {-1, -1, -1, 6, 1}, {-1, 1, -1, 6, 0}, {-1, -1, 1, 8, 1}, {-1, 1, 1, 8, 0}},
                  S);
    const std::vector<ModelVertex> caps = ReadVertices(app_->SkyCapBuffer, 12);
    ExpectCorners(caps,
                  {{-1, 1, 1, 0, 0}, {-1, 1, -1, 2, 0}, {1, 1, 1, 0, 2}, {1, 1, 1, 0, 2}, {-1, 1, -1, 2, 0},
                   {1, 1, -1, 2, 2}, {-1, -1, 1, 0, 0}, {1, -1, 1, 0, 2}, {-1, -1, -1, 2, 0}, {1, -1, 1, 0, 2},
                   {1, -1, -1, 2, 2}, {-1, -1, -1, 2, 0}},
                  S);
    for (const ModelVertex& v : wall) EXPECT_EQ(v.Normal, D3DXVECTOR3(1, 1, 1));
    for (const ModelVertex& v : caps) EXPECT_EQ(v.Normal, D3DXVECTOR3(1, 1, 1));

    const std::vector<ModelVertex> sun = ReadVertices(app_->SunQuadBuffer, 4);
    ExpectCorners(sun, {{1, -1, 1, 1, 0}, {-1, -1, 1, 1, 1}, {1, -1, -1, 0, 0}, {-1, -1, -1, 0, 1}}, 1.0f);
    float mark;
    std::memset(&mark, 0x41, sizeof mark);
    ExpectNear(sun[2].Normal, mark, mark, mark, 0);

    // Three crossed unit squares, on the planes z, y and x = 0, each on its own quarter
    // of the texture; nothing after them.
    const std::vector<ModelVertex> puff = ReadVertices(app_->CloudPuffBuffer, 19);
    const float h = 0.5f;
    ExpectCorners(puff,
                  {{-h, h, 0, 0, 0}, {h, h, 0, 0, h}, {h, -h, 0, h, h}, {h, -h, 0, h, h}, {-h, -h, 0, h, 0},
                   {-h, h, 0, 0, 0}, {-h, 0, h, h, 0}, {h, 0, h, h, h}, {h, 0, -h, 1, h}, {h, 0, -h, 1, h},
                   {-h, 0, -h, 1, 0}, {-h, 0, h, h, 0}, {0, -h, h, h, h}, {0, h, h, 0, h}, {0, h, -h, 0, 1},
                   {0, h, -h, 0, 1}, {0, -h, -h, h, 1}, {0, -h, h, h, h}},
                  1.0f);
    for (int i = 0; i < 18; ++i)
        EXPECT_EQ(puff[i].Normal, i < 6 ? D3DXVECTOR3(0, 0, 1) : i < 12 ? D3DXVECTOR3(0, 1, 0) : D3DXVECTOR3(1, 0, 0))
            << i;
    ExpectNear(puff[18].Position, 0, 0, 0, 0);
}

TEST_F(FirstFrame, HelpLinesReplaceEarlierChatAtFullBrightness)
{
    std::strcpy(Board.Lines[0], "IVR 52  3: an early chat line that is longer than any help line here");
    Board.Brightness[0] = 12.0f;
    app_->PrepareFirstFrame();
    const char* expected[6] = {"Forward/reverse thrust using + or - and * or /",
                               "Pitch and yaw rotation available using arrow keys",
                               "Rolling moment available using HOME and END keys",
                               "F1 to null rotation, F6 fires weapons, F3/F4 RVR",
                               "ALT-ENTER toggles exclusive full-screen mode",
                               "ESC to exit, L for landing light toggle"};
    for (int line = 0; line < 6; ++line) {
        EXPECT_STREQ(Board.Lines[line], expected[line]);
        EXPECT_EQ(Board.Brightness[line], 255.0f);
    }
}

}  // namespace
}  // namespace viewapp
