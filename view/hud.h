#pragma once
// The head-up display: the text lines drawn over the scene every frame, worked out
// from a snapshot of the flight state, and the pieces of state the display keeps.
#include "view/state.h"
#include "view/universe.h"
#include "platform/math/d3dx_math.h"
#include "platform/sys/hresult.h"

#include <cstdint>

class CockpitApplication;

constexpr int HUD_TEXT_SIZE = 104;      // one formatted line, NUL included
constexpr int HUD_LINE_CAPACITY = 64;   // more than a frame can show

constexpr float HUD_DEGREES = 57.295776f;
constexpr float HUD_MU = 97386.859375f;
constexpr float HUD_TWO_PI = 6.2831855f;

// Colours (ARGB).
constexpr std::uint32_t HUD_YELLOW = 0xFFFFFF00;
constexpr std::uint32_t HUD_CYAN = 0xFF00FFFF;
constexpr std::uint32_t HUD_LIGHT_GREEN = 0xFF80FF80;
constexpr std::uint32_t HUD_LIGHT_BLUE = 0xFF8080FF;
constexpr std::uint32_t HUD_WHITE = 0xFFFFFFFF;
constexpr std::uint32_t HUD_GREY = 0xFF808080;
constexpr std::uint32_t HUD_RED = 0xFFFF0000;
constexpr std::uint32_t HUD_DARK_RED = 0xFF800000;
constexpr std::uint32_t HUD_DARK_GREEN = 0xFF008000;
constexpr std::uint32_t HUD_LIGHT_RED = 0xFFFF4040;
constexpr std::uint32_t HUD_GREEN = 0xFF00FF00;

// Alpha from a 0..255 value (truncated, low byte) over a colour.
std::uint32_t HudAlphaColour(float alpha, std::uint32_t rgb);

struct HudLine {
    float X = 0.0f;
    float Y = 0.0f;
    std::uint32_t Colour = 0;
    char Text[HUD_TEXT_SIZE] = {};
};

struct HudLineList {
    int Count = 0;
    HudLine Lines[HUD_LINE_CAPACITY];
};

// What the display reads of one vessel.
struct HudVessel {
    D3DXVECTOR3 Position;
    D3DXVECTOR3 Velocity;
    D3DXVECTOR3 TargetPosition;
    D3DXVECTOR3 PreviousPosition;
    D3DXMATRIX WorldMatrix;
    float Distance = 0.0f;
    std::uint8_t Present = 0;
    std::uint8_t Landed = 0;
};

// What the display reads of one universe object.
struct HudObject {
    std::int16_t Kind = 0;
    float ViewerDistance = 0.0f;
    D3DXVECTOR3 Velocity;
    D3DXVECTOR3 Position;
};

// Everything a frame's display reads, copied once.
struct HudSnapshot {
    const char* FrameStatsText = "";
    const char* DeviceText = "";
    float AppTime = 0.0f;
    float ElapsedTime = 0.0f;
    float VisibilityFactor = 1.0f;
    float SunElevation = 0.0f;
    float AltitudeMSL = 0.0f;
    float GroundRadius = 0.0f;
    D3DXVECTOR3 TerrainSlopeVector;
    int OwnVesselIndex = 0;
    HudVessel Vessels[VESSEL_COUNT];
    HudObject Objects[UNIVERSE_OBJECT_COUNT];
    D3DXMATRIX HomeWorldMatrix;
    int TargetIndex = -2;
    float ThrustSetting = 0.0f;
    std::uint8_t DorMode = 0;
    std::uint8_t TvmMode = 0;
    D3DXVECTOR3 RelativeVelocity;
    float IndicatedAirspeed = 0.0f;
    float AngleOfAttack = 0.0f;
    float ThrustAugAuthority = 0.0f;
    D3DXVECTOR3 ApparentVelocity;
    float StickPitch = 0.0f;
    float PitchTrim = 0.0f;
    float ImpactForce = 0.0f;
    std::uint8_t TouchdownLatched = 0;
    D3DXVECTOR3 ForwardAxis;           // the landing light's direction
    D3DXMATRIX ViewMatrix;
    char BoardLines[BOARD_LINE_COUNT][BOARD_LINE_LENGTH] = {};
};

// The state the display keeps up to date.
struct HudState {
    float DisplayedThrust = 0.0f;
    float UniverseHours = 0.0f;
    float UniverseSecondsAtSetup = 0.0f;
    float LocalTimeAtSetup = 0.0f;
    float BoardBrightness[BOARD_LINE_COUNT] = {};
    float AttitudeRoll = 0.0f;
    float AttitudePitch = 0.0f;
};

// The frame's lines in drawing order; updates the thrust figure, the hour roll-over,
// the board fading and the attitude angles in state.
void HudLines(const HudSnapshot& snapshot, float W, float H, HudState& state, HudLineList& out);

struct HudAngle {
    char Letter = 'N';
    float Degrees = 0.0f;
    float Minutes = 0.0f;
    float Seconds = 0.0f;
};

struct HudLatLong {
    float Latitude = 0.0f;    // degrees, negative north
    float Longitude = 0.0f;   // degrees, negative west
    HudAngle Lat;
    HudAngle Lon;
};
HudLatLong LatLong(const D3DXVECTOR3& position);

// Heading in degrees of the forward axis at position, given the position's latitude
// and longitude.
float Heading(const D3DXVECTOR3& position, const D3DXVECTOR3& forward, float latitude, float longitude);

struct HudAttitude {
    float Roll = 0.0f;    // radians
    float Pitch = 0.0f;
};
HudAttitude Attitude(const D3DXMATRIX& homeWorld, const D3DXMATRIX& ownWorld, const D3DXVECTOR3& slope);

struct HudOrbit {
    float SemiMajorAxis = 0.0f;
    float Period = 0.0f;
    float Eccentricity = 0.0f;    // |e|
    float Periapsis = 0.0f;       // radius
    float TrueAnomaly = 0.0f;     // radians
    float Inclination = 0.0f;     // radians
};
HudOrbit OrbitalElements(const D3DXVECTOR3& r, const D3DXVECTOR3& v);

struct HudBearing {
    float Bearing = 0.0f;   // degrees
    float Mark = 0.0f;
};
HudBearing BearingMark(const D3DXVECTOR3& own, const D3DXVECTOR3& target, const D3DXMATRIX& view);

std::uint32_t EccentricityColour(float e);
std::uint32_t PeriapsisColour(float altitude);

// Brightness of a board line one frame later.
inline float FadeBoardLine(float brightness, float elapsed)
{
    return brightness > 0.0f ? brightness - 10.0f * elapsed : brightness;
}

// Attitude angles (radians) of the last frame, kept for the display only.
extern float HudRoll;
extern float HudPitch;

// In one hold of the board's lock: copies its lines and brightness values and fades
// the board's own values, so a line arriving afterwards is never overwritten.
void TakeBoard(MessageBoard& board, float elapsed, HudSnapshot& snapshot, HudState& state);

// The frame's lines from a snapshot of the shared records (each vessel under its
// lock; visibility and sun elevation from this frame's atmosphere step), with the
// thrust figure, the clock at the hour roll-over, the board fading and the attitude
// angles written back.
void HudFrame(const CockpitApplication& app, float visibility, float sunElevation, HudLineList& lines);

// The display step of the frame: HudFrame's lines drawn with the HUD font.
HRESULT DrawHud(CockpitApplication& app, float visibility, float sunElevation);
