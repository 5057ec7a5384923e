#pragma once
// The own vessel's flight model: velocity hold toward a reference velocity (free
// flight, DOR or TVM), then, once a frame has been drawn, the aerodynamics of a
// winged vessel in an exponential atmosphere.
#include "platform/math/d3dx_math.h"

#include <cstdint>

// Everything one step reads.
struct FlightInputs {
    D3DXVECTOR3 position;          // own position (float copy)
    D3DXVECTOR3 velocity;          // own velocity
    D3DXVECTOR3 surfaceVelocity;   // ground velocity under the vessel
    D3DXVECTOR3 rates;             // x pitch, y roll, z yaw
    D3DXMATRIX rotation;           // M: universe frame to ship axes
    D3DXMATRIX world;              // inverse of M: ship axes to universe frame
    float dt = 0.0f;
    bool controllerTick = false;

    float thrustSetting = 0.0f;
    bool tvmMode = false;
    bool dorMode = false;
    D3DXVECTOR3 targetVelocity;    // TVM reference (target's velocity)
    bool targetValid = false;      // false: TVM has no target and uses the own velocity

    float stickPitch = 0.0f, stickRoll = 0.0f, stickYaw = 0.0f;
    float pitchTrim = 0.0f;
    bool thrustAugEnabled = true;
    bool yawFromThrust = false;
    float displayedThrust = 0.0f;
    float altitudeMSL = -1.0f;     // -1.0: no frame drawn yet
    bool forceFeedbackAvailable = false;
};

// Values carried from frame to frame; the step reads and updates them.
struct FlightState {
    bool dorMode = false;
    bool tvmMode = false;
    D3DXVECTOR3 relativeVelocity;
    D3DXVECTOR3 apparentVelocity;
    float indicatedAirspeed = 0.0f;  // the previous frame's value on entry
    float thrustAugAuthority = 0.0f;
    float angleOfAttack = 0.0f;
    std::int32_t forceFeedbackRoll = 0;
    std::int32_t forceFeedbackPitch = 0;
};

// Results for the own vessel record.
struct FlightOutputs {
    D3DXVECTOR3 velocity;
    D3DXVECTOR3 rates;
    bool moved = false;              // false before the first drawn frame: nothing changes
};

// Circular-orbit velocity over the ground track (the DOR reference). When the
// velocity has no horizontal part, the direction comes from the ship's forward axis
// (forward = (0, 0, -1) in ship axes); with no horizontal part there either the own
// velocity is returned, so the hold does nothing across the radius.
D3DXVECTOR3 DorReferenceVelocity(const D3DXVECTOR3& position, const D3DXVECTOR3& velocity,
                                 const D3DXMATRIX& world);

// Lift coefficients of the wing and of the tail or fin at angle alpha (rad); 0 at
// and beyond the stall angle (0.2618 wing, 0.20943952 tail).
float WingLiftCoefficient(float alpha);
float TailLiftCoefficient(float alpha);

// One flight-model step.
FlightOutputs FlightModelStep(const FlightInputs& in, FlightState& state);

// Float to int32 by truncation toward zero, saturated at the int32 range; NaN gives 0.
std::int32_t TruncateToInt32(double value);

// The per-frame entry point: gathers the globals and the own vessel (a TVM target
// vessel is read first under its lock, then the own record under its lock), runs
// one step and writes the results back.
// M is the rotation matrix of the own attitude (the own world matrix is its inverse).
void FlyOwnVessel(const D3DXMATRIX& M, float dt, bool controllerTick);
