#include "view/state.h"

#include <cstddef>
#include <type_traits>

static_assert(std::is_standard_layout_v<Projectile>, "Projectile must keep a fixed layout");
static_assert(offsetof(Projectile, Position) == 0, "projectile payload: position at 0");
static_assert(offsetof(Projectile, Velocity) == 12, "projectile payload: velocity at 12");
static_assert(offsetof(Projectile, LaunchTime) == 24, "projectile payload: launch time at 24");
static_assert(sizeof(D3DXVECTOR3) == 12 && sizeof(float) == 4, "payload floats are packed");
static_assert(PROJECTILE_PAYLOAD_SIZE == PROJECTILE_RECORD_SIZE, "projectile payload size");
static_assert(offsetof(Projectile, Position) == offsetof(ProjectileRecord, Position), "payload position");
static_assert(offsetof(Projectile, Velocity) == offsetof(ProjectileRecord, Velocity), "payload velocity");
static_assert(offsetof(Projectile, LaunchTime) == offsetof(ProjectileRecord, LaunchTime), "payload launch time");
static_assert(std::atomic<float>::is_always_lock_free, "shared floats are lock-free");
static_assert(std::atomic<std::uint8_t>::is_always_lock_free, "shared flags are lock-free");

VesselState Vessels[VESSEL_COUNT];
Projectile Projectiles[PROJECTILE_COUNT];
MessageBoard Board;

std::atomic<std::uint8_t> OwnVesselIndex{VESSEL_NONE};
std::atomic<std::uint8_t> InitialStateComplete{0};
std::atomic<float> LocalTimeAtSetup{0.0f};
std::atomic<float> UniverseSecondsAtSetup{0.0f};
std::atomic<float> UniverseHours{0.0f};
std::atomic<float> StickPitch{0.0f};
std::atomic<float> StickRoll{0.0f};
std::atomic<float> StickYaw{0.0f};

std::atomic<HWND> MainWindow{nullptr};

std::int16_t TargetIndex = -2;
float RvrSetting = 2.0f;
float AltitudeMSL = -1.0f;
std::uint8_t ThrustAugEnabled = 1;
D3DXMATRIX ProjectionMatrix;
D3DXVECTOR3 ApparentVelocity;
std::uint8_t HomeObjectIndex = 0;
D3DXMATRIX ViewMatrix;
std::int32_t ForceFeedbackPitch = 0;
std::int32_t ForceFeedbackRoll = 0;
D3DXVECTOR3 TerrainSlopeVector;
char16_t HostAddress[128] = {};
float FieldOfView = 0.0f;
float ViewOffset = 0.0f;
std::uint8_t TouchdownLatched = 0;
D3DXVECTOR3 RelativeVelocity;
float ThrustSetting = 0.0f;
float ImpactForce = 0.0f;
float GroundRadius = 0.0f;
std::uint8_t DorMode = 0;
std::uint8_t TvmMode = 0;
std::uint8_t FogEnabled = 0;
std::uint8_t LandingLightOn = 0;
float DisplayedThrust = 0.0f;
float PitchTrim = 0.0f;
float AngleOfAttack = 0.0f;
float IndicatedAirspeed = 0.0f;
float ThrustAugAuthority = 0.0f;
std::uint8_t YawFromThrust = 0;
std::uint8_t PropulsionEnabled = 0;
std::uint8_t ForceFeedbackAvailable = 0;
std::uint8_t JoystickEnabled = 0;
std::uint8_t FirstFrameDone = 0;
std::uint8_t ResourcesLoaded = 0;
float HorizonSunFactor = 0.0f;
std::int16_t TerrainPatchIds[32] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
std::int16_t NearestPatchSlot = -1;
