#pragma once
// The view program's shared records, tables and globals. Message handler threads
// write some of them; those are atomics or live in records guarded by their lock.
#include "client/wire.h"
#include "platform/math/d3dx_math.h"
#include "platform/sys/critical_section.h"
#include "platform/ui/win_types.h"

#include <atomic>
#include <cstdint>

// VESSEL_COUNT (8) and VESSEL_NONE (255) come with the wire messages.
constexpr int PROJECTILE_COUNT = 8;
constexpr int BOARD_LINE_COUNT = 6;
constexpr int BOARD_LINE_LENGTH = 80;

// Planet and motion constants shared by the simulation and the link.
constexpr float PLANET_RADIUS = 2939.6f;
constexpr float DEFAULT_GROUND_RADIUS = 2939.604f;
// Lower bound for a reported ground radius, as the console client bounds its own.
constexpr float REPORTED_GROUND_RADIUS_MIN = 1000.0f;
constexpr float REPORTED_GROUND_RADIUS_FALLBACK = 2939.601f;
// Upper bound for a reported ground radius: the top of the atmosphere, 63 km above
// the surface, where the terrain under the own vessel is no longer measured; no
// terrain reaches it.
constexpr float REPORTED_GROUND_RADIUS_MAX = 3002.6f;
constexpr float VESSEL_MODEL_SCALE = 0.001f;
constexpr float VESSEL_HIT_RADIUS = 0.038f;

// One vessel of the session.
struct VesselState {
    std::int16_t Model = 0;          // polygon object drawn for the vessel
    float Registration = 0.0f;       // IVR, shown as "52" and the number
    D3DXVECTOR3 Velocity;
    D3DXVECTOR3 Position;            // float copy of DoublePosition
    D3DXVECTOR3 SurfaceVelocity;     // ground velocity under the vessel
    D3DXVECTOR3 TargetPosition;      // dead-reckoned position the vessel is pulled to
    D3DXVECTOR3 PreviousPosition;    // position at the previous report
    double DoublePosition[3] = {0.0, 0.0, 0.0};
    std::uint32_t BlinkBits = 0;     // nav-light pattern
    float BlinkInterval = 0.0f;
    float LastBlink = 0.0f;
    D3DXMATRIX WorldMatrix;
    D3DXMATRIX ModelMatrix;
    D3DXQUATERNION Attitude;
    D3DXVECTOR3 Rates;               // x pitch, y roll, z yaw (rad/s)
    std::uint8_t Present = 0;
    std::uint8_t Landed = 0;
    float Scale = 0.0f;
    float HitRadius = 0.0f;
    float Distance = 0.0f;           // from the own vessel, set by the renderer
    float LastUpdate = 0.0f;         // application time of the last update
    float GroundRadius = 0.0f;       // planet centre to the ground under the vessel
    CriticalSectionLock Lock;
};

// One shot. Its first 28 bytes are the projectile payload of the wire message.
struct Projectile {
    D3DXVECTOR3 Position;
    D3DXVECTOR3 Velocity;
    float LaunchTime = 0.0f;         // universe seconds within the hour
    std::uint8_t Active = 0;
    std::uint8_t Exploded = 0;
    std::uint8_t FrameCounter = 0;
    std::uint8_t Owner = 0;
    CriticalSectionLock Lock;
};
constexpr unsigned PROJECTILE_PAYLOAD_SIZE = 28;

// The HUD's six message lines; line 0 is the newest.
struct MessageBoard {
    char Lines[BOARD_LINE_COUNT][BOARD_LINE_LENGTH] = {};
    float Brightness[BOARD_LINE_COUNT] = {};
    CriticalSectionLock Lock;
};

extern VesselState Vessels[VESSEL_COUNT];
extern Projectile Projectiles[PROJECTILE_COUNT];
extern MessageBoard Board;

// Written by the link's handler threads, read by the main thread.
extern std::atomic<std::uint8_t> OwnVesselIndex;          // VESSEL_NONE until the initial set-up
extern std::atomic<std::uint8_t> InitialStateComplete;
extern std::atomic<float> LocalTimeAtSetup;
extern std::atomic<float> UniverseSecondsAtSetup;
extern std::atomic<float> UniverseHours;
extern std::atomic<float> StickPitch;
extern std::atomic<float> StickRoll;
extern std::atomic<float> StickYaw;

// Set once on the main thread before the link starts; owner of every message box
// and target of the close request.
extern std::atomic<HWND> MainWindow;

// Main thread only.
extern std::int16_t TargetIndex;          // 0..7 a vessel; -1, -2, -3 universe objects 0, 1, 2
extern float RvrSetting;
extern float AltitudeMSL;                 // -1.0 until the first frame has been drawn
extern std::uint8_t ThrustAugEnabled;
extern D3DXMATRIX ProjectionMatrix;
extern D3DXVECTOR3 ApparentVelocity;
extern std::uint8_t HomeObjectIndex;
extern D3DXMATRIX ViewMatrix;
extern std::int32_t ForceFeedbackPitch;
extern std::int32_t ForceFeedbackRoll;
extern D3DXVECTOR3 TerrainSlopeVector;
extern char16_t HostAddress[128];
extern float FieldOfView;
extern float ViewOffset;
extern std::uint8_t TouchdownLatched;
extern D3DXVECTOR3 RelativeVelocity;
extern float ThrustSetting;
extern float ImpactForce;
extern float GroundRadius;
extern std::uint8_t DorMode;
extern std::uint8_t TvmMode;
extern std::uint8_t FogEnabled;
extern std::uint8_t LandingLightOn;
extern float DisplayedThrust;
extern float PitchTrim;
extern float AngleOfAttack;
extern float IndicatedAirspeed;
extern float ThrustAugAuthority;
extern std::uint8_t YawFromThrust;
extern std::uint8_t PropulsionEnabled;
extern std::uint8_t ForceFeedbackAvailable;
extern std::uint8_t JoystickEnabled;
extern std::uint8_t FirstFrameDone;
extern std::uint8_t ResourcesLoaded;
extern float HorizonSunFactor;

// A vessel number from the network or a table index: true for 0..7.
constexpr bool IsVesselNumber(int v) { return v >= 0 && v < VESSEL_COUNT; }

// Terrain patch cache: the facet id each slot holds (-1 free) and the slot of the
// nearest facet (-1 until the first patch exists).
extern std::int16_t TerrainPatchIds[32];
extern std::int16_t NearestPatchSlot;
