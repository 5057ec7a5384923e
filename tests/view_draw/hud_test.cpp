// The head-up display's lines, worked out by hand for a 640 x 480 back buffer.
#include "view/hud.h"

#include "view/cockpit_app.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr float W = 640.0f;
constexpr float H = 480.0f;

struct Expected {
    float x, y;
    std::uint32_t colour;
    std::string text;
};

D3DXMATRIX Identity()
{
    D3DXMATRIX m;
    D3DXMatrixIdentity(&m);
    return m;
}

// Free flight: own vessel 2 at (-3000, 0, 0) moving (0, -7, 0), an equatorial orbit
// with periapsis here; forward axis along +z; target O-4.
HudSnapshot FreeFlight(HudState& state)
{
    HudSnapshot s;
    s.FrameStatsText = "60.00 fps (640x480)";
    s.DeviceText = "HAL (hw vp): llvmpipe";
    s.AppTime = 25.5f;
    s.ElapsedTime = 0.02f;
    s.VisibilityFactor = 2.0f;
    s.SunElevation = 0.25f;
    s.AltitudeMSL = 60.4f;
    s.GroundRadius = 2940.1f;
    s.TerrainSlopeVector = D3DXVECTOR3(1.0f, 1.0f, -1.0f);
    s.OwnVesselIndex = 2;
    for (HudVessel& v : s.Vessels) v.WorldMatrix = Identity();
    HudVessel& own = s.Vessels[2];
    own.Position = D3DXVECTOR3(-3000.0f, 0.0f, 0.0f);
    own.Velocity = D3DXVECTOR3(0.0f, -7.0f, 0.0f);
    own.Present = 1;
    s.Vessels[0].Present = 1;
    s.Vessels[0].Distance = 1.5f;
    s.Vessels[3].Present = 1;
    s.Vessels[3].Distance = 12.25f;
    s.Objects[0].Kind = KIND_CITY;
    s.Objects[0].ViewerDistance = 800.0f;
    s.Objects[1].Kind = KIND_STATION;
    s.Objects[1].ViewerDistance = 2.5f;
    s.Objects[1].Velocity = D3DXVECTOR3(0.2f, -7.0f, 0.0f);
    s.Objects[1].Position = D3DXVECTOR3(-3010.0f, 10.0f, -10.0f);
    s.Objects[2].Kind = KIND_STATION;
    s.Objects[2].ViewerDistance = 120.0f;
    s.Objects[3].Kind = KIND_HOME_PLANET;
    s.HomeWorldMatrix = Identity();
    s.TargetIndex = -2;
    s.ThrustSetting = 0.025f;
    s.IndicatedAirspeed = 0.15f;
    s.AngleOfAttack = 0.1f;
    s.ThrustAugAuthority = 0.5f;
    s.ApparentVelocity = D3DXVECTOR3(0.1f, -0.2f, 0.3f);
    s.StickPitch = 0.1f;
    s.PitchTrim = -0.05f;
    s.ForwardAxis = D3DXVECTOR3(0.0f, 0.0f, 1.0f);
    s.ViewMatrix = Identity();
    std::strcpy(s.BoardLines[0], "Welcome");

    state = HudState{};
    state.UniverseHours = 13.0f;
    state.UniverseSecondsAtSetup = 100.0f;
    state.LocalTimeAtSetup = 5.0f;
    state.BoardBrightness[0] = 200.0f;
    return s;
}

HudLineList Frame(const HudSnapshot& s, HudState& state)
{
    HudLineList out;
    HudLines(s, W, H, state, out);
    return out;
}

std::vector<std::string> Texts(const HudLineList& list)
{
    std::vector<std::string> texts;
    for (int i = 0; i < list.Count; ++i) texts.emplace_back(list.Lines[i].Text);
    return texts;
}

// The only line beginning with prefix; fails the test when there is not exactly one.
HudLine Only(const HudLineList& list, const std::string& prefix)
{
    std::vector<HudLine> found;
    for (int i = 0; i < list.Count; ++i)
        if (std::string(list.Lines[i].Text).rfind(prefix, 0) == 0) found.push_back(list.Lines[i]);
    EXPECT_EQ(found.size(), 1u) << prefix;
    return found.empty() ? HudLine{} : found[0];
}

int CountOf(const HudLineList& list, const std::string& prefix)
{
    int n = 0;
    for (int i = 0; i < list.Count; ++i) n += std::string(list.Lines[i].Text).rfind(prefix, 0) == 0;
    return n;
}

TEST(HudFrame, FreeFlightShowsEveryLineInOrder)
{
    HudState state;
    HudSnapshot s = FreeFlight(state);
    HudLineList list = Frame(s, state);

    const std::vector<Expected> expected = {
        {2, 0, HUD_YELLOW, "60.00 fps (640x480)  Build 142 T:2.000"},
        {2, 20, HUD_YELLOW, "HAL (hw vp): llvmpipe"},
        {2, 40, HUD_CYAN, "Thrust: 25.000 m/s (Current velocity: 7.000 km/s)"},
        {2, 60, HUD_LIGHT_GREEN, "Altitude MSL: 60.400 km (59.900 km AGL)"},
        {2, 80, HUD_LIGHT_BLUE, "Time UTC: 13:120.500  (0.250)"},
        {2, 160, HUD_GREY, "Target I:0.200 J:-7.000 K:0.000"},
        {2, 100, HUD_GREY, "Latitude: S0^0'0.000\"  Longitude: E90^0'0.000\""},
        {360, 0, HUD_GREY, "Heading: 180.0"},
        {394, 440, HUD_GREY, "Roll: -45.0"},
        {385, 460, HUD_GREY, "Pitch: -45.0"},
        {520, 380, HUD_LIGHT_BLUE, "a: 6115.508 km"},
        {508, 360, HUD_LIGHT_BLUE, "TP: 9628.94 s"},
        {520, 400, HUD_DARK_GREEN, "e: 0.509444"},
        {510, 420, HUD_DARK_RED, "ap: 60.400 km"},
        {510, 440, HUD_GREY, "vo: 0.0"},
        {525, 460, HUD_GREY, "i: 0.000000"},
        {2, 140, HUD_GREY, "Apparent I: 0.100  J: -0.200  K: 0.300"},
        {510, 240, 0x7F00FF00, "THRUST AUG"},
        {508, 320, HUD_GREEN, "IAS: 150.0 m/s"},
        {495, 300, HUD_LIGHT_BLUE, "Pitch: 5.730"},
        {496, 280, HUD_LIGHT_BLUE, " Trim: -2.865"},
        {2, 460, 0xC80000FF, "Welcome"},
        {520, 40, HUD_LIGHT_GREEN, "0  1.500 km"},
        {520, 60, HUD_DARK_GREEN, "1  0.000 km"},
        {519, 80, HUD_LIGHT_GREEN, "2  Self"},
        {520, 100, HUD_LIGHT_GREEN, "3  12.250 km"},
        {520, 120, HUD_DARK_GREEN, "4  0.000 km"},
        {520, 140, HUD_DARK_GREEN, "5  0.000 km"},
        {520, 160, HUD_DARK_GREEN, "6  0.000 km"},
        {520, 180, HUD_DARK_GREEN, "7  0.000 km"},
        {503, 0, HUD_LIGHT_RED, "O-4  2.500 km"},
        {497, 20, HUD_DARK_GREEN, "CTY  800.000 km"},
        {497, 200, HUD_DARK_GREEN, "TAC  120.000 km"},
        {364, 40, HUD_GREY, "Bearing: 45.0"},
        {375, 60, HUD_GREY, "   Mark: 45.0"},
    };
    ASSERT_EQ(list.Count, static_cast<int>(expected.size())) << ::testing::PrintToString(Texts(list));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const HudLine& line = list.Lines[i];
        EXPECT_EQ(line.Text, expected[i].text) << "line " << i;
        EXPECT_EQ(line.X, expected[i].x) << expected[i].text;
        EXPECT_EQ(line.Y, expected[i].y) << expected[i].text;
        EXPECT_EQ(line.Colour, expected[i].colour) << expected[i].text;
    }

    EXPECT_EQ(state.DisplayedThrust, 25.0f);
    EXPECT_FLOAT_EQ(state.BoardBrightness[0], 199.8f);
    EXPECT_EQ(state.BoardBrightness[1], 0.0f);
    EXPECT_FLOAT_EQ(state.AttitudeRoll, 0.78539819f);
    EXPECT_FLOAT_EQ(state.AttitudePitch, 0.78539819f);
    EXPECT_EQ(state.UniverseHours, 13.0f);
}

TEST(HudFrame, LandedShowsTouchdownAndTheImpactVerdictAboveEachStrictThreshold)
{
    struct Case {
        float force;
        const char* text;
    };
    const Case cases[] = {
        {48.1f, "Impact force was 48.1G, DEATH WAS INSTANTANEOUS"},
        {48.0f, "Impact force was 48.0G, FATAL INJURIES RECEIVED"},
        {30.0f, "Impact force was 30.0G, possible fractures"},
        {20.0f, "Impact force was 20.0G, bruised and dizzy"},
        {10.0f, "Impact force was 10.0G, survivable"},
    };
    for (const Case& c : cases) {
        HudState state;
        HudSnapshot s = FreeFlight(state);
        s.Vessels[2].Landed = 1;
        s.ImpactForce = c.force;
        HudLineList list = Frame(s, state);
        HudLine impact = Only(list, "Impact force");
        EXPECT_STREQ(impact.Text, c.text);
        EXPECT_EQ(impact.X, 2.0f);
        EXPECT_EQ(impact.Y, 180.0f);
        EXPECT_EQ(impact.Colour, HUD_WHITE);
        HudLine touchdown = Only(list, "TOUCHDOWN!");
        EXPECT_STREQ(touchdown.Text, "TOUCHDOWN!  F9 to liftoff (F8 if upside-down)");
        EXPECT_EQ(touchdown.Y, 120.0f);
        EXPECT_EQ(touchdown.Colour, HUD_WHITE);
    }

    // The latch alone shows both lines too; neither flag shows neither.
    HudState state;
    HudSnapshot s = FreeFlight(state);
    s.TouchdownLatched = 1;
    HudLineList latched = Frame(s, state);
    EXPECT_EQ(CountOf(latched, "TOUCHDOWN!"), 1);
    EXPECT_EQ(CountOf(latched, "Impact force was 0.0G, survivable"), 1);
    s.TouchdownLatched = 0;
    HudLineList flying = Frame(s, state);
    EXPECT_EQ(CountOf(flying, "TOUCHDOWN!"), 0);
    EXPECT_EQ(CountOf(flying, "Impact force"), 0);
}

TEST(HudFrame, VelocityModesShowTheDesiredVelocityAndKeepTheThrustFigure)
{
    HudState state;
    HudSnapshot s = FreeFlight(state);
    s.TvmMode = 1;
    s.ThrustSetting = 0.1f;
    s.RelativeVelocity = D3DXVECTOR3(3.0f, 0.0f, -4.0f);
    state.DisplayedThrust = 12.5f;
    HudLineList tvm = Frame(s, state);
    EXPECT_STREQ(tvm.Lines[2].Text, "Velocity desired: 0.100 km/s (Current: 5.000 km/s)");
    EXPECT_EQ(tvm.Lines[2].Colour, HUD_CYAN);
    EXPECT_EQ(state.DisplayedThrust, 12.5f);
    HudLine mode = Only(tvm, "TVM mode");
    EXPECT_EQ(mode.X, 360.0f);
    EXPECT_EQ(mode.Y, 20.0f);
    EXPECT_EQ(mode.Colour, HUD_GREY);
    EXPECT_EQ(CountOf(tvm, "DOR mode"), 0);

    s.TvmMode = 0;
    s.DorMode = 1;
    HudLineList dor = Frame(s, state);
    EXPECT_STREQ(dor.Lines[2].Text, "Velocity desired: 0.100 km/s (Current: 5.000 km/s)");
    EXPECT_EQ(state.DisplayedThrust, 12.5f);
    EXPECT_EQ(Only(dor, "DOR mode").X, 360.0f);
    EXPECT_EQ(CountOf(dor, "TVM mode"), 0);

    // Modes off: the setting is limited to 0.06 either way and shown in m/s.
    s.DorMode = 0;
    HudLineList thrust = Frame(s, state);
    EXPECT_STREQ(thrust.Lines[2].Text, "Thrust: 60.000 m/s (Current velocity: 7.000 km/s)");
    EXPECT_EQ(state.DisplayedThrust, 60.0f);
    s.ThrustSetting = -0.1f;
    Frame(s, state);
    EXPECT_EQ(state.DisplayedThrust, -60.0f);
}

TEST(HudFrame, TargetChoiceSelectsTheTargetLineColoursAndBearing)
{
    struct Case {
        int target;
        const char* targetLine;
        std::uint32_t o4, cty, tac;
    };
    // Object velocities: city (1, 2, 3), O-4 (4, 5, 6), tactical (7, 8, 9).
    const Case cases[] = {
        {-1, "Target I:1.000 J:2.000 K:3.000", HUD_LIGHT_GREEN, HUD_DARK_RED, HUD_DARK_GREEN},
        {-2, "Target I:4.000 J:5.000 K:6.000", HUD_LIGHT_RED, HUD_DARK_GREEN, HUD_DARK_GREEN},
        {-3, "Target I:7.000 J:8.000 K:9.000", HUD_LIGHT_GREEN, HUD_DARK_GREEN, HUD_DARK_RED},
    };
    for (const Case& c : cases) {
        HudState state;
        HudSnapshot s = FreeFlight(state);
        for (int i = 0; i < 3; ++i) {
            const float b = 3.0f * static_cast<float>(i);
            s.Objects[i].Velocity = D3DXVECTOR3(b + 1.0f, b + 2.0f, b + 3.0f);
            // Object i sits 10 km ahead and (i + 1) x 10 km to the right, level.
            s.Objects[i].Position = D3DXVECTOR3(-3000.0f - 10.0f * static_cast<float>(i + 1), 0.0f, -10.0f);
        }
        s.TargetIndex = static_cast<std::int16_t>(c.target);
        HudLineList list = Frame(s, state);
        EXPECT_STREQ(Only(list, "Target I:").Text, c.targetLine);
        EXPECT_EQ(Only(list, "O-4").Colour, c.o4);
        EXPECT_EQ(Only(list, "CTY").Colour, c.cty);
        EXPECT_EQ(Only(list, "TAC").Colour, c.tac);
        // atan(10 (k) / 10) for object k - 1 = -target - 1.
        const double expectedBearing[] = {45.0, 63.4, 71.6};
        char bearing[32];
        std::snprintf(bearing, sizeof bearing, "Bearing: %.1f", expectedBearing[-c.target - 1]);
        EXPECT_STREQ(Only(list, "Bearing:").Text, bearing);
        EXPECT_STREQ(Only(list, "   Mark:").Text, "   Mark: -0.0");
        EXPECT_EQ(CountOf(list, "Network lag"), 0);
    }

    // A target number that is neither a vessel nor -1, -2: the tactical station.
    {
        HudState state;
        HudSnapshot s = FreeFlight(state);
        s.Objects[2].Velocity = D3DXVECTOR3(7.0f, 8.0f, 9.0f);
        s.Objects[2].Position = D3DXVECTOR3(-3010.0f, 0.0f, -10.0f);
        s.TargetIndex = 9;
        HudLineList list = Frame(s, state);
        EXPECT_STREQ(Only(list, "Target I:").Text, "Target I:7.000 J:8.000 K:9.000");
        EXPECT_STREQ(Only(list, "Bearing:").Text, "Bearing: 45.0");
    }

    // A present vessel as target: network lag, light red in the list, bearing to it.
    HudState state;
    HudSnapshot s = FreeFlight(state);
    s.TargetIndex = 3;
    s.Vessels[3].PreviousPosition = D3DXVECTOR3(1.5f, 2.0f, -3.0f);
    s.Vessels[3].TargetPosition = D3DXVECTOR3(1.0f, 2.25f, 1.0f);
    s.Vessels[3].Position = D3DXVECTOR3(-3000.0f, 0.0f, 5.0f);   // behind
    HudLineList list = Frame(s, state);
    EXPECT_STREQ(Only(list, "Network lag").Text, "Network lag: X0.500 Y-0.250 Z-4.000");
    EXPECT_EQ(CountOf(list, "Target I:"), 0);
    EXPECT_EQ(Only(list, "3  12.250 km").Colour, HUD_LIGHT_RED);
    EXPECT_EQ(Only(list, "O-4").Colour, HUD_LIGHT_GREEN);
    EXPECT_STREQ(Only(list, "Bearing:").Text, "Bearing: 180.0");

    // An absent target vessel is dark red.
    s.Vessels[3].Present = 0;
    EXPECT_EQ(Only(Frame(s, state), "3  12.250 km").Colour, HUD_DARK_RED);
}

TEST(HudFrame, BoardLinesFadeOverTwentyFiveAndAHalfSeconds)
{
    HudState state;
    HudSnapshot s = FreeFlight(state);
    state.BoardBrightness[0] = 255.0f;
    std::strcpy(s.BoardLines[1], "older");
    state.BoardBrightness[1] = 100.0f;

    HudLineList first = Frame(s, state);
    HudLine newest = Only(first, "Welcome");
    EXPECT_EQ(newest.X, 2.0f);
    EXPECT_EQ(newest.Y, 460.0f);
    EXPECT_EQ(newest.Colour, 0xFF0000FFu);
    HudLine older = Only(first, "older");
    EXPECT_EQ(older.Y, 440.0f);
    EXPECT_EQ(older.Colour, 0x640000FFu);

    // 50 frames a second: the newest line is drawn 1275 frames, about 25.5 s.
    int drawn = 1;
    for (int frame = 1; frame < 2000; ++frame) drawn += CountOf(Frame(s, state), "Welcome");
    EXPECT_GE(drawn, 1275);
    EXPECT_LE(drawn, 1276);
    EXPECT_LE(state.BoardBrightness[0], 0.0f);
    EXPECT_GT(state.BoardBrightness[0], -0.2f);
}

TEST(HudFrame, TakingTheBoardCopiesItAndFadesTheBoardItself)
{
    MessageBoard board;
    std::strcpy(board.Lines[0], "first");
    std::strcpy(board.Lines[5], "last");
    board.Brightness[0] = 255.0f;
    board.Brightness[5] = 0.1f;
    HudSnapshot s;
    HudState state;
    TakeBoard(board, 0.02f, s, state);
    EXPECT_STREQ(s.BoardLines[0], "first");
    EXPECT_STREQ(s.BoardLines[5], "last");
    EXPECT_EQ(state.BoardBrightness[0], 255.0f);
    EXPECT_EQ(state.BoardBrightness[5], 0.1f);
    EXPECT_FLOAT_EQ(board.Brightness[0], 254.8f);
    EXPECT_FLOAT_EQ(board.Brightness[5], -0.1f);
    EXPECT_EQ(board.Brightness[1], 0.0f);
}

TEST(HudStep, FrameReadsTheSharedRecordsAndWritesItsStateBack)
{
    auto app = std::make_unique<CockpitApplication>();
    app->BackBufferDesc.Width = 640;
    app->BackBufferDesc.Height = 480;
    app->AppTime = 610.0f;
    app->ElapsedTime = 0.02f;
    std::strcpy(app->FrameStatsText, "stats");
    OwnVesselIndex = 1;
    Vessels[1].Velocity = D3DXVECTOR3(0.0f, 3.0f, 4.0f);
    D3DXMatrixIdentity(&Vessels[1].WorldMatrix);
    D3DXMatrixIdentity(&UniverseObjects[HomeObjectIndex].WorldMatrix);
    TerrainSlopeVector = D3DXVECTOR3(1.0f, 1.0f, 0.0f);
    Vessels[4].Present = 1;
    Vessels[4].Distance = 2.5f;
    TargetIndex = 4;
    ThrustSetting = 0.1f;
    UniverseHours = 5.0f;
    UniverseSecondsAtSetup = 3000.0f;
    LocalTimeAtSetup = 10.0f;
    std::strcpy(Board.Lines[0], "hello");
    Board.Brightness[0] = 255.0f;

    HudLineList lines;
    HudFrame(*app, 2.0f, 0.5f, lines);
    EXPECT_STREQ(lines.Lines[0].Text, "stats  Build 142 T:2.000");
    EXPECT_STREQ(lines.Lines[2].Text, "Thrust: 60.000 m/s (Current velocity: 5.000 km/s)");
    EXPECT_STREQ(lines.Lines[4].Text, "Time UTC: 5:3600.000  (0.500)");
    EXPECT_EQ(Only(lines, "4  2.500 km").Colour, HUD_LIGHT_RED);
    EXPECT_EQ(Only(lines, "1  Self").X, 519.0f);
    EXPECT_EQ(Only(lines, "hello").Colour, 0xFF0000FFu);
    EXPECT_EQ(DisplayedThrust, 60.0f);
    EXPECT_EQ(UniverseHours.load(), 6.0f);
    EXPECT_EQ(UniverseSecondsAtSetup.load(), -600.0f);
    EXPECT_EQ(LocalTimeAtSetup.load(), 10.0f);
    EXPECT_FLOAT_EQ(Board.Brightness[0], 254.8f);
    EXPECT_FLOAT_EQ(HudRoll, 0.78539819f);

    // Before the initial set-up nothing is shown or written.
    OwnVesselIndex = VESSEL_NONE;
    ThrustSetting = 0.01f;
    HudFrame(*app, 2.0f, 0.5f, lines);
    EXPECT_EQ(lines.Count, 0);
    EXPECT_EQ(DisplayedThrust, 60.0f);
    EXPECT_FLOAT_EQ(Board.Brightness[0], 254.8f);
}

// Puts a snapshot and a state into the shared records the frame step reads.
void Publish(const HudSnapshot& s, const HudState& state, CockpitApplication& app)
{
    std::snprintf(app.FrameStatsText, sizeof app.FrameStatsText, "%s", s.FrameStatsText);
    std::snprintf(app.DeviceText, sizeof app.DeviceText, "%s", s.DeviceText);
    app.AppTime = s.AppTime;
    app.ElapsedTime = s.ElapsedTime;
    app.LandingLight.Direction = s.ForwardAxis;
    AltitudeMSL = s.AltitudeMSL;
    GroundRadius = s.GroundRadius;
    TerrainSlopeVector = s.TerrainSlopeVector;
    OwnVesselIndex = static_cast<std::uint8_t>(s.OwnVesselIndex);
    for (int k = 0; k < VESSEL_COUNT; ++k) {
        const HudVessel& v = s.Vessels[k];
        Vessels[k].Position = v.Position;
        Vessels[k].Velocity = v.Velocity;
        Vessels[k].TargetPosition = v.TargetPosition;
        Vessels[k].PreviousPosition = v.PreviousPosition;
        Vessels[k].WorldMatrix = v.WorldMatrix;
        Vessels[k].Distance = v.Distance;
        Vessels[k].Present = v.Present;
        Vessels[k].Landed = v.Landed;
    }
    for (int i = 0; i < UNIVERSE_OBJECT_COUNT; ++i) {
        UniverseObjects[i].Kind = s.Objects[i].Kind;
        UniverseObjects[i].ViewerDistance = s.Objects[i].ViewerDistance;
        UniverseObjects[i].Velocity = s.Objects[i].Velocity;
        UniverseObjects[i].Position = s.Objects[i].Position;
    }
    UniverseObjects[HomeObjectIndex].WorldMatrix = s.HomeWorldMatrix;
    TargetIndex = static_cast<std::int16_t>(s.TargetIndex);
    ThrustSetting = s.ThrustSetting;
    DorMode = s.DorMode;
    TvmMode = s.TvmMode;
    RelativeVelocity = s.RelativeVelocity;
    IndicatedAirspeed = s.IndicatedAirspeed;
    AngleOfAttack = s.AngleOfAttack;
    ThrustAugAuthority = s.ThrustAugAuthority;
    ApparentVelocity = s.ApparentVelocity;
    StickPitch = s.StickPitch;
    PitchTrim = s.PitchTrim;
    ImpactForce = s.ImpactForce;
    TouchdownLatched = s.TouchdownLatched;
    ViewMatrix = s.ViewMatrix;
    std::memcpy(Board.Lines, s.BoardLines, sizeof Board.Lines);
    std::memcpy(Board.Brightness, state.BoardBrightness, sizeof Board.Brightness);
    DisplayedThrust = state.DisplayedThrust;
    UniverseHours = state.UniverseHours;
    UniverseSecondsAtSetup = state.UniverseSecondsAtSetup;
    LocalTimeAtSetup = state.LocalTimeAtSetup;
}

TEST(HudStep, FrameShowsTheSharedRecordsAsTheLinesShowTheSameValues)
{
    auto app = std::make_unique<CockpitApplication>();
    app->BackBufferDesc.Width = 640;
    app->BackBufferDesc.Height = 480;
    auto check = [&](const HudSnapshot& s, HudState state) {
        Publish(s, state, *app);
        HudLineList expected;
        HudLines(s, W, H, state, expected);
        HudLineList lines;
        HudFrame(*app, s.VisibilityFactor, s.SunElevation, lines);
        ASSERT_EQ(lines.Count, expected.Count) << ::testing::PrintToString(Texts(lines));
        for (int i = 0; i < expected.Count; ++i) {
            EXPECT_STREQ(lines.Lines[i].Text, expected.Lines[i].Text);
            EXPECT_EQ(lines.Lines[i].X, expected.Lines[i].X) << expected.Lines[i].Text;
            EXPECT_EQ(lines.Lines[i].Y, expected.Lines[i].Y) << expected.Lines[i].Text;
            EXPECT_EQ(lines.Lines[i].Colour, expected.Lines[i].Colour) << expected.Lines[i].Text;
        }
        EXPECT_EQ(DisplayedThrust, state.DisplayedThrust);
        EXPECT_EQ(UniverseHours.load(), state.UniverseHours);
        EXPECT_EQ(UniverseSecondsAtSetup.load(), state.UniverseSecondsAtSetup);
        EXPECT_EQ(LocalTimeAtSetup.load(), state.LocalTimeAtSetup);
        EXPECT_EQ(HudRoll, state.AttitudeRoll);
        EXPECT_EQ(HudPitch, state.AttitudePitch);
    };

    // DOR mode keeps the thrust figure; latched touchdown; a fast near station; the
    // hour rolls over with no seconds taken at set-up.
    HudState state;
    HudSnapshot s = FreeFlight(state);
    s.DorMode = 1;
    s.RelativeVelocity = D3DXVECTOR3(0.0f, 3.0f, 4.0f);
    s.TouchdownLatched = 1;
    s.ImpactForce = 25.0f;
    s.AngleOfAttack = 0.2f;
    s.Objects[1].Velocity = D3DXVECTOR3(0.3f, -7.0f, 0.0f);
    s.AppTime = 3700.0f;
    state.DisplayedThrust = 12.5f;
    state.UniverseSecondsAtSetup = 0.0f;
    state.LocalTimeAtSetup = 90.0f;
    check(s, state);
    EXPECT_EQ(LocalTimeAtSetup.load(), 3690.0f);
    EXPECT_EQ(DisplayedThrust, 12.5f);

    // Landed; a vessel as target, with its network lag.
    s = FreeFlight(state);
    s.Vessels[2].Landed = 1;
    s.TargetIndex = 3;
    s.Vessels[3].PreviousPosition = D3DXVECTOR3(1.5f, 2.0f, -3.0f);
    s.Vessels[3].Position = D3DXVECTOR3(-3000.0f, 4.0f, -3.0f);
    check(s, state);
}

TEST(HudFrame, BoardLinesAreDrawnAsTheyReadAndReadAtMostEightyBytes)
{
    HudState state;
    HudSnapshot s = FreeFlight(state);
    std::strcpy(s.BoardLines[0], "%s%n%x");
    std::memset(s.BoardLines[1], 'q', BOARD_LINE_LENGTH);   // no terminator
    std::memset(s.BoardLines[2], 'r', BOARD_LINE_LENGTH);
    state.BoardBrightness[1] = 50.0f;
    HudLineList list = Frame(s, state);
    EXPECT_STREQ(Only(list, "%s").Text, "%s%n%x");
    EXPECT_EQ(Only(list, "q").Text, std::string(BOARD_LINE_LENGTH, 'q'));
}

TEST(HudFrame, LongStatisticsTextIsCutAt103Characters)
{
    HudState state;
    HudSnapshot s = FreeFlight(state);
    const std::string stats(200, 's');
    const std::string device(150, 'd');
    s.FrameStatsText = stats.c_str();
    s.DeviceText = device.c_str();
    HudLineList list = Frame(s, state);
    EXPECT_EQ(std::string(list.Lines[0].Text), stats.substr(0, 103));
    EXPECT_EQ(std::string(list.Lines[1].Text), device.substr(0, 103));
    EXPECT_STREQ(list.Lines[2].Text, "Thrust: 25.000 m/s (Current velocity: 7.000 km/s)");
}

TEST(HudFrame, HourRollsOverAfterTheFrameThatReachesIt)
{
    // Seconds taken over at set-up: the roll-over takes an hour off them.
    HudState state;
    HudSnapshot s = FreeFlight(state);
    state.UniverseHours = 5.0f;
    state.UniverseSecondsAtSetup = 3000.0f;
    state.LocalTimeAtSetup = 10.0f;
    s.AppTime = 609.9f;
    EXPECT_STREQ(Only(Frame(s, state), "Time UTC").Text, "Time UTC: 5:3599.900  (0.250)");
    EXPECT_EQ(state.UniverseHours, 5.0f);
    s.AppTime = 610.0f;
    EXPECT_STREQ(Only(Frame(s, state), "Time UTC").Text, "Time UTC: 5:3600.000  (0.250)");
    EXPECT_EQ(state.UniverseHours, 6.0f);
    EXPECT_EQ(state.UniverseSecondsAtSetup, -600.0f);
    EXPECT_EQ(state.LocalTimeAtSetup, 10.0f);
    s.AppTime = 610.5f;
    EXPECT_STREQ(Only(Frame(s, state), "Time UTC").Text, "Time UTC: 6:0.500  (0.250)");
    EXPECT_EQ(state.UniverseHours, 6.0f);

    // No seconds at set-up: the local time moves on an hour instead.
    state.UniverseHours = 7.0f;
    state.UniverseSecondsAtSetup = 0.0f;
    state.LocalTimeAtSetup = 10.0f;
    s.AppTime = 3611.0f;
    EXPECT_STREQ(Only(Frame(s, state), "Time UTC").Text, "Time UTC: 7:3601.000  (0.250)");
    EXPECT_EQ(state.UniverseHours, 8.0f);
    EXPECT_EQ(state.UniverseSecondsAtSetup, 0.0f);
    EXPECT_EQ(state.LocalTimeAtSetup, 3610.0f);
}

TEST(HudFrame, PortSpeedWarningForNearFastStations)
{
    struct Case {
        std::int16_t kind;
        float distance;
        D3DXVECTOR3 relative;
        int warnings;
    };
    const Case cases[] = {
        {KIND_STATION, 29.0f, D3DXVECTOR3(0.156f, 0.0f, 0.208f), 1},   // 0.26 km/s
        {KIND_STATION, 30.0f, D3DXVECTOR3(0.156f, 0.0f, 0.208f), 0},
        {KIND_STATION, 29.0f, D3DXVECTOR3(0.0f, 0.0f, 0.25f), 0},
        {KIND_CITY, 29.0f, D3DXVECTOR3(0.156f, 0.0f, 0.208f), 0},
    };
    for (const Case& c : cases) {
        HudState state;
        HudSnapshot s = FreeFlight(state);
        s.Objects[4].Kind = c.kind;
        s.Objects[4].ViewerDistance = c.distance;
        s.Objects[4].Velocity = s.Vessels[2].Velocity + c.relative;
        EXPECT_EQ(CountOf(Frame(s, state), "EXCEEDING PORT SPEED"), c.warnings) << c.distance << " " << c.relative.z;
    }

    // One line per station, all in the middle of the screen.
    HudState state;
    HudSnapshot s = FreeFlight(state);
    for (int i : {5, 6}) {
        s.Objects[i].Kind = KIND_STATION;
        s.Objects[i].ViewerDistance = 1.0f;
        s.Objects[i].Velocity = D3DXVECTOR3(1.0f, 0.0f, 0.0f);
    }
    HudLineList list = Frame(s, state);
    EXPECT_EQ(CountOf(list, "EXCEEDING PORT SPEED"), 2);
    HudLine warning = list.Lines[17];
    EXPECT_STREQ(warning.Text, "EXCEEDING PORT SPEED");
    EXPECT_EQ(warning.X, 218.5f);
    EXPECT_EQ(warning.Y, 234.0f);
    EXPECT_EQ(warning.Colour, HUD_RED);
}

TEST(HudFrame, AirspeedAndAltitudeThresholds)
{
    struct Case {
        float ias, aoaDegrees;
        std::uint32_t colour;
    };
    const Case cases[] = {
        {0.04f, 0.0f, HUD_RED}, {0.05f, 9.0f, HUD_GREEN}, {0.05f, -9.1f, HUD_YELLOW}, {0.05f, 9.1f, HUD_YELLOW}};
    for (const Case& c : cases) {
        HudState state;
        HudSnapshot s = FreeFlight(state);
        s.IndicatedAirspeed = c.ias;
        s.AngleOfAttack = c.aoaDegrees / 57.29577951308232f;
        EXPECT_EQ(Only(Frame(s, state), "IAS:").Colour, c.colour) << c.ias << " " << c.aoaDegrees;
    }

    HudState state;
    HudSnapshot s = FreeFlight(state);
    s.AltitudeMSL = 629.9f;
    s.GroundRadius = 2939.6f;
    EXPECT_STREQ(Only(Frame(s, state), "Altitude").Text, "Altitude MSL: 629.900 km (629.900 km AGL)");
    s.AltitudeMSL = 630.0f;
    EXPECT_STREQ(Only(Frame(s, state), "Altitude").Text, "Altitude MSL: 630.000 km");
}

TEST(HudColours, OrbitFiguresTurnRedAtTheirLimits)
{
    EXPECT_EQ(EccentricityColour(0.7499f), HUD_DARK_GREEN);
    EXPECT_EQ(EccentricityColour(0.75f), HUD_DARK_RED);
    EXPECT_EQ(EccentricityColour(0.9999f), HUD_DARK_RED);
    EXPECT_EQ(EccentricityColour(1.0f), HUD_RED);
    EXPECT_EQ(PeriapsisColour(63.0f), HUD_DARK_GREEN);
    EXPECT_EQ(PeriapsisColour(62.9f), HUD_DARK_RED);
    EXPECT_EQ(PeriapsisColour(0.0f), HUD_DARK_RED);
    EXPECT_EQ(PeriapsisColour(-0.1f), HUD_RED);
    EXPECT_EQ(HudAlphaColour(127.9f, 0x0000FF), 0x7F0000FFu);
    EXPECT_EQ(HudAlphaColour(0.0f, 0x00FF00), 0x0000FF00u);
}

TEST(HudPosition, LatitudeAndLongitudeInDegreesMinutesSeconds)
{
    // Above the pole that -z points to: north 90, and east 90 by the rule.
    HudState state;
    HudSnapshot s = FreeFlight(state);
    s.Vessels[2].Position = D3DXVECTOR3(0.0f, 0.0f, 3000.0f);
    EXPECT_STREQ(Only(Frame(s, state), "Latitude").Text, "Latitude: N90^0'0.000\"  Longitude: E90^0'0.000\"");

    // On the meridian of -x (longitude exactly 0): east, as is latitude 0 south.
    s.Vessels[2].Position = D3DXVECTOR3(0.0f, 3000.0f, 0.0f);
    EXPECT_STREQ(Only(Frame(s, state), "Latitude").Text, "Latitude: S0^0'0.000\"  Longitude: E0^0'0.000\"");

    // Negative z is south: 30 degrees below the equator, on the -y side (west 90).
    HudLatLong south = LatLong(D3DXVECTOR3(2598.0762f, 0.0f, -1500.0f));
    EXPECT_EQ(south.Lat.Letter, 'S');
    EXPECT_NEAR(south.Latitude, 30.0f, 1e-3f);
    EXPECT_EQ(south.Lon.Letter, 'W');
    EXPECT_NEAR(south.Longitude, -90.0f, 1e-3f);

    // 12^35'15" north, 100^15'30" west. With n = -p / |p|: n.z = -sin(lat) and, by
    // longitude from -x with east along P x n, n = (-cos lat sin lon, -cos lat cos lon)
    // in x and y; west turns the sign of x.
    const double lat = 12.5875 * M_PI / 180.0, lon = (100.0 + 15.5 / 60.0) * M_PI / 180.0;
    const D3DXVECTOR3 n(static_cast<float>(-std::cos(lat) * std::sin(lon)),
                        static_cast<float>(-std::cos(lat) * std::cos(lon)), static_cast<float>(-std::sin(lat)));
    HudLatLong ll = LatLong(n * -3000.0f);
    EXPECT_EQ(ll.Lat.Letter, 'N');
    EXPECT_EQ(ll.Lat.Degrees, 12.0f);
    EXPECT_EQ(ll.Lat.Minutes, 35.0f);
    EXPECT_NEAR(ll.Lat.Seconds, 15.0f, 0.05f);
    EXPECT_EQ(ll.Lon.Letter, 'W');
    EXPECT_EQ(ll.Lon.Degrees, 100.0f);
    EXPECT_EQ(ll.Lon.Minutes, 15.0f);
    EXPECT_NEAR(ll.Lon.Seconds, 30.0f, 0.05f);
}

TEST(HudPosition, HeadingInEachQuadrant)
{
    // At latitude 0, longitude E90; a forward axis of (0, y, z) moves the point ahead
    // by z / 3000 rad in latitude and y / 3000 rad in longitude, so the split of 90
    // degrees is |y| / (|y| + |z|).
    const D3DXVECTOR3 p(-3000.0f, 0.0f, 0.0f);
    HudLatLong ll = LatLong(p);
    struct Case {
        float y, z;
        float heading;
    };
    // Due north (-z) the longitudes are equal and the rule gives 360, not 0.
    const Case cases[] = {{1, 2, 150}, {-1, 2, 210}, {-1, -2, 330}, {1, -2, 30}, {0, -2, 360}};
    for (const Case& c : cases)
        EXPECT_NEAR(Heading(p, D3DXVECTOR3(0.0f, c.y, c.z), ll.Latitude, ll.Longitude), c.heading, 0.05f)
            << c.y << " " << c.z;
}

TEST(HudAttitudeAngles, PitchAndRollOfTheSlopeInTheOwnAxes)
{
    // home x inverse(own): the home translation first, then the own rotation undone.
    D3DXMATRIX home, own;
    D3DXMatrixTranslation(&home, 0.0f, 2.0f, 0.0f);
    D3DXMatrixRotationZ(&own, static_cast<float>(M_PI / 2));
    // (1, 0, 0.5) + (0, 2, 0) = (1, 2, 0.5), turned -90 degrees about z: (2, -1, 0.5).
    HudAttitude a = Attitude(home, own, D3DXVECTOR3(1.0f, 0.0f, 0.5f));
    EXPECT_NEAR(a.Pitch, std::atan(0.5), 1e-5);
    EXPECT_NEAR(a.Roll, std::atan(-2.0), 1e-5);

    D3DXMATRIX identity = Identity();
    HudAttitude flat = Attitude(identity, identity, D3DXVECTOR3(1.0f, 1.1920929e-07f, 1.0f));
    EXPECT_EQ(flat.Pitch, 0.0f);
    EXPECT_EQ(flat.Roll, 0.0f);
    HudAttitude slight = Attitude(identity, identity, D3DXVECTOR3(1.0f, -2.4e-07f, 1.0f));
    EXPECT_NEAR(slight.Pitch, M_PI / 2, 1e-3);
    EXPECT_NEAR(slight.Roll, -M_PI / 2, 1e-3);
}

TEST(HudOrbitElements, InclinedOrbitAgainstEnergyAndMomentumInDouble)
{
    // Worked in double from the energy and the angular momentum: a = -mu / (2 eps),
    // |e| = sqrt(1 + 2 eps h^2 / mu^2), rp = a (1 - |e|), cos nu = (h^2 / (mu r) - 1) / |e|.
    HudOrbit o = OrbitalElements(D3DXVECTOR3(1200.0f, -2500.0f, 1800.0f), D3DXVECTOR3(3.1f, 4.2f, -2.5f));
    EXPECT_NEAR(o.SemiMajorAxis, 3831.98009, 0.01);
    EXPECT_NEAR(o.Eccentricity, 0.599824645, 2e-6);
    EXPECT_NEAR(o.Period, 4776.00259, 0.02);
    EXPECT_NEAR(o.Periapsis, 1533.46399, 0.01);
    EXPECT_NEAR(o.Inclination * 57.29577951, 34.1612317, 1e-3);
    // r . v < 0: the far side, 360 - 115.47.
    EXPECT_NEAR(o.TrueAnomaly * 57.29577951, 244.530243, 1e-3);
}

TEST(HudFrame, OrbitAnglesAreShownInDegrees)
{
    // The inclined orbit above: nu 244.530 and i 34.1612 degrees.
    HudState state;
    HudSnapshot s = FreeFlight(state);
    s.Vessels[2].Position = D3DXVECTOR3(1200.0f, -2500.0f, 1800.0f);
    s.Vessels[2].Velocity = D3DXVECTOR3(3.1f, 4.2f, -2.5f);
    HudLineList list = Frame(s, state);
    EXPECT_STREQ(Only(list, "vo:").Text, "vo: 244.5");
    double inclination = 0.0;
    ASSERT_EQ(std::sscanf(Only(list, "i:").Text, "i: %lf", &inclination), 1);
    EXPECT_NEAR(inclination, 34.1612317, 1e-3);
}

TEST(HudOrbitElements, CosinesCarriedPastOneByRoundingAreClamped)
{
    // Velocity across the radius: e lies along r, and in float (e . r) / (|r| |e|)
    // comes out as 1.00000012 for the first and -1.00000012 for the second.
    HudOrbit out = OrbitalElements(D3DXVECTOR3(-621.0f, -2446.0f, -1583.0f), D3DXVECTOR3(-6.78475189f, 1.72253919f, 0.0f));
    EXPECT_EQ(out.TrueAnomaly, 0.0f);
    HudOrbit in = OrbitalElements(D3DXVECTOR3(-416.0f, 352.0f, -257.0f), D3DXVECTOR3(4.52159595f, 5.34370422f, 0.0f));
    EXPECT_NEAR(in.TrueAnomaly, M_PI, 1e-6);

    // The values the arithmetic cannot give stay as the C library spells them.
    HudOrbit parabola = OrbitalElements(D3DXVECTOR3(-3000.0f, 0.0f, 0.0f),
                                        D3DXVECTOR3(0.0f, -std::sqrt(2.0f * HUD_MU / 3000.0f), 0.0f));
    EXPECT_NEAR(parabola.Eccentricity, 1.0f, 1e-6f);
    HudOrbit hyperbola = OrbitalElements(D3DXVECTOR3(-3000.0f, 0.0f, 0.0f), D3DXVECTOR3(0.0f, -10.0f, 0.0f));
    EXPECT_LT(hyperbola.SemiMajorAxis, 0.0f);
    EXPECT_TRUE(std::isnan(hyperbola.Period));
}

TEST(HudTargeting, BearingAndMarkAheadBehindAndTurned)
{
    D3DXMATRIX identity = Identity();
    const D3DXVECTOR3 own(10.0f, 20.0f, 30.0f);
    HudBearing ahead = BearingMark(own, own - D3DXVECTOR3(0.0f, 0.0f, 5.0f), identity);
    EXPECT_EQ(ahead.Bearing, 0.0f);
    HudBearing behind = BearingMark(own, own - D3DXVECTOR3(0.0f, 0.0f, -5.0f), identity);
    EXPECT_EQ(behind.Bearing, 180.0f);
    HudBearing behindLeft = BearingMark(own, own - D3DXVECTOR3(-0.1f, 0.0f, -5.0f), identity);
    EXPECT_NEAR(behindLeft.Bearing, -180.0 + 1.14576, 1e-3);
    HudBearing behindRight = BearingMark(own, own - D3DXVECTOR3(0.1f, 0.0f, -5.0f), identity);
    EXPECT_NEAR(behindRight.Bearing, 180.0 - 1.14576, 1e-3);
    HudBearing side = BearingMark(own, own - D3DXVECTOR3(5.0f, 0.0f, 0.0f), identity);
    EXPECT_NEAR(side.Bearing, 90.0, 1e-4);   // d.z = 0 is not behind
    HudBearing up = BearingMark(own, own - D3DXVECTOR3(0.0f, 5.0f, 10.0f), identity);
    EXPECT_NEAR(up.Mark, -26.5651, 1e-3);
    EXPECT_NEAR(up.Bearing, 0.0, 1e-6);

    // Turned a quarter about y: d = (x, y, z) becomes (z, y, -x).
    D3DXMATRIX turn;
    D3DXMatrixRotationY(&turn, static_cast<float>(M_PI / 2));
    HudBearing turned = BearingMark(own, own - D3DXVECTOR3(-5.0f, 5.0f, 5.0f), turn);
    EXPECT_NEAR(turned.Bearing, 45.0, 1e-3);
    EXPECT_NEAR(turned.Mark, -45.0, 1e-3);
}

} // namespace
