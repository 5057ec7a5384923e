#pragma once
// The per-frame simulation. Each step is a function of what it is given; the frame
// (SimulateFrame) gathers those from the shared records under their locks.
#include "platform/gfx/d3d_device.h"
#include "platform/input/dinput.h"
#include "platform/math/d3dx_math.h"
#include "view/ground.h"
#include "view/state.h"
#include "view/universe.h"

#include <cstdint>

constexpr float CONTROLLER_TICK = 0.0333667f;   // seconds between controller reads
constexpr int REACQUIRE_TRIES = 3;
constexpr float SHOT_LIFETIME = 30.0f;
constexpr int SHOT_FLIGHT_FRAMES = 20;
constexpr int SHOT_BLAST_FRAMES = 43;

extern float ControllerTickAccumulator;
extern std::uint8_t FireButtonState;

// Send timers of the reports (application time of the last report of each kind).
struct ReportTimers {
    bool set = false;
    float position = 0.0f, velocity = 0.0f, attitude = 0.0f, rates = 0.0f;
};
extern ReportTimers SendTimers;

// Adds dt to the accumulator; true (and one tick length taken off) once it passes
// a tick.
bool AdvanceControllerTick(float& accumulator, float dt);

// Stick command of an axis value (-1000..1000): 0 up to |100|, then the square of
// the deflection, at most 30 degrees in radians.
float AxisCommand(LONG value);

// What the controller commands on a tick.
struct StickCommands {
    float pitch = 0.0f, roll = 0.0f, yaw = 0.0f;
    float trim = 0.0f;              // PitchTrim, moved by the hat
    std::uint8_t fireButton = 0;    // FireButtonState
};
// Reads the controller. A failing Poll re-acquires (a few tries) and ends the frame
// with S_OK; a failing GetDeviceState ends it with its code. fire is set for a new
// press of button 0.
struct ControllerRead {
    HRESULT result = S_OK;
    bool endFrame = false;
    bool fire = false;
};
ControllerRead ReadController(IDirectInputDevice8A& device, float dt, StickCommands& sticks);

// A projectile's age in seconds between two universe times within the hour,
// taken the short way round the hour.
float ShotAge(float universeSeconds, float launchTime);
// Universe seconds brought into [0, 3600).
float WrapUniverseSeconds(float seconds);

// A vessel or universe object as a shot sees it.
struct HitTarget {
    D3DXVECTOR3 position;
    D3DXVECTOR3 velocity;
    float hitRadius = 0.0f;
    bool hittable = true;   // universe objects: kind above 0
};
struct ShotInputs {
    float dt = 0.0f;
    bool tick = false;
    float universeSeconds = 0.0f;   // T
    float spinRate = 0.0f;          // home planet's rate B
    D3DXVECTOR3 ownPosition;
    HitTarget vessels[VESSEL_COUNT];
    HitTarget objects[UNIVERSE_OBJECT_COUNT];
};
// One active projectile's frame: hits (vessels but the owner, then objects; the
// last hit wins), animation, lifetime and motion. Returns the squared distance from
// the own vessel.
float AdvanceProjectile(Projectile& shot, const ShotInputs& in);

// Colour of the projectile light for the nearest shot.
D3DCOLORVALUE ProjectileLightColour(bool exploded, int frameCounter);

// Angle of a body turning at rate on the universe clock (hours, seconds T within
// the hour): the exact phase, whole hours first.
float ClockAngle(float rate, float hours, float universeSeconds);

struct UniverseInputs {
    float t = 0.0f, dt = 0.0f;
    float hours = 0.0f, universeSeconds = 0.0f;
    float altitudeMSL = -1.0f;
    bool firstFrameDone = false;
    D3DXVECTOR3 ownPosition;
    double ownDoublePosition[3] = {0.0, 0.0, 0.0};
};
// One universe object's frame; home is the home planet's entry as it stands.
void AdvanceUniverseObject(UniverseObject& object, const UniverseObject& home, const UniverseInputs& in);

// Another vessel's frame (the caller holds its lock): dead reckoning, motion,
// attitude, placement relative to the own vessel and the nav-light blink.
void AdvanceOtherVessel(VesselState& vessel, float t, float dt, float spinRate, const D3DXMATRIX& homeWorld,
                        const double ownDoublePosition[3]);

// The own attitude after dt: the rates, then (airborne) the turn that follows the
// local vertical. Fills the rotation matrix M and the world matrix (its inverse).
struct OwnAttitude {
    D3DXQUATERNION attitude;
    D3DXMATRIX rotation;   // M
    D3DXMATRIX world;
};
OwnAttitude TurnOwnAttitude(const D3DXQUATERNION& attitude, const D3DXVECTOR3& rates, bool landed,
                            const D3DXVECTOR3& position, const D3DXVECTOR3& velocity,
                            const D3DXVECTOR3& surfaceVelocity, float dt);

// The own vessel as the reports carry it.
struct OwnReport {
    D3DXVECTOR3 velocity, position, rates;
    D3DXQUATERNION attitude;
    float groundRadius = 0.0f;
    float universeSeconds = 0.0f;   // of its last update, within the hour
};
// Sends the reports that are due (velocity, position with frame rate, attitude, rates).
void SendReports(ReportTimers& timers, float t, float framesPerSecond, const OwnReport& own);

// What one frame works with besides the shared records.
struct FrameContext {
    float t = 0.0f, dt = 0.0f, framesPerSecond = 0.0f;
    IDirect3DDevice8* device = nullptr;
    D3DLIGHT8* landingLight = nullptr;
    D3DLIGHT8* projectileLight = nullptr;
    void (*prepareFirstFrame)(void* context) = nullptr;
    void* prepareContext = nullptr;
    bool sleep = true;      // Sleep(1) at the end of a complete frame
};
// The whole frame on the shared records. S_OK, the controller's failure code, or
// E_FAIL when the force feedback cannot be updated.
HRESULT SimulateFrame(const FrameContext& frame);
