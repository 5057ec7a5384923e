#pragma once
// Gravity, ground contact and position integration of the vessels in Vessels.
#include "platform/math/d3dx_math.h"
#include "view/state.h"

#include <cstdint>

constexpr float SURFACE_GRAVITY = 0.01127f;   // km/s^2 at PLANET_RADIUS
constexpr float CONTACT_BAND = 0.001f;        // km either side of the ground radius
constexpr float TERRAIN_OFFSET = 0.004f;      // km added to the measured terrain radius
constexpr float TERRAIN_MIN_RADIUS = 1000.0f;
constexpr float TERRAIN_MAX_RADIUS = 3002.6f;
constexpr float CONTACT_YAW_DAMPING = 0.7f;

// What ApplyGravityAndGround reads besides the vessel.
struct GroundEnvironment {
    float spinRate = 0.0f;           // home planet's rate B
    bool ownVessel = false;
    float terrainRadius = 0.0f;      // GroundRadius (own vessel only)
    D3DXVECTOR3 terrainSlope;        // TerrainSlopeVector (own vessel only)
    D3DXMATRIX homeWorld;            // home planet's world matrix
    float altitudeMSL = -1.0f;       // -1.0: no frame drawn yet
    D3DXVECTOR3 apparentVelocity;    // ApparentVelocity (own vessel only)
};

// Touchdown values of the own vessel, read and updated.
struct TouchdownState {
    bool latched = false;            // TouchdownLatched
    float impactForce = 0.0f;        // ImpactForce
    bool dorMode = false;
    bool tvmMode = false;
};

// Surface velocity of the ground at position under a planet spinning at spinRate
// about -Z; zero at the poles and at the centre.
D3DXVECTOR3 SurfaceVelocityAt(const D3DXVECTOR3& position, float spinRate);

// Impact figure in G of a touchdown: the descent in this step over the vertical
// and horizontal references, weighted by the direction of the air flow.
float ImpactFigure(const D3DXVECTOR3& position, const D3DXVECTOR3& velocity,
                   const D3DXVECTOR3& apparentVelocity);

// Moves the double position by velocity minus surface velocity; turns an airborne
// vessel's velocity with the planet.
void IntegratePosition(VesselState& vessel, float dt, float spinRate);

// Gravity while airborne; snap, touchdown figure, ground velocity and levelling on
// contact. Landed vessels other than the own one stop pitching and rolling (they
// keep their reported attitude) and lose 30 % of their yaw rate per call.
void GravityAndGround(VesselState& vessel, float dt, const GroundEnvironment& env, TouchdownState& touchdown);

// The simulation's entry points on Vessels[v] with the shared globals. The caller
// holds the vessel's lock for vessels other than the own one. Numbers outside 0..7
// are ignored.
void IntegrateVesselPosition(std::int16_t v, float dt);
void ApplyGravityAndGround(std::int16_t v, float dt);
