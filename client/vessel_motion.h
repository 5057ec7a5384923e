#pragma once
// Motion of the vessels of Ships between position reports: ground speed from the
// planet's spin, inverse-square gravity while airborne, ground contact, and
// integration of the double-precision position.
#include <bit>
#include <cstdint>

// Single-precision constants, fixed by their bit patterns.
inline constexpr float MOTION_GROUND_BAND = std::bit_cast<float>(0x39D1B717u);        // 0.0004 km
inline constexpr float MOTION_SURFACE_GRAVITY = std::bit_cast<float>(0x3C38A5CEu);    // 0.01127 km/s^2
inline constexpr float MOTION_REFERENCE_RADIUS = std::bit_cast<float>(0x4537B99Au);   // 2939.6 km
inline constexpr float MOTION_QUARTER_TURN = std::bit_cast<float>(0x3FC90FDBu);       // pi / 2
inline constexpr float MOTION_YAW_DAMPING = std::bit_cast<float>(0x3F333333u);        // 0.7
inline constexpr float MOTION_LEVELLING_THRESHOLD = std::bit_cast<float>(0x34000000u); // 2^-23

static_assert(MOTION_GROUND_BAND == 0.0004f);
static_assert(MOTION_SURFACE_GRAVITY == 0.01127f);
static_assert(MOTION_REFERENCE_RADIUS == 2939.6f);
static_assert(MOTION_QUARTER_TURN == 1.5707964f);
static_assert(MOTION_YAW_DAMPING == 0.7f);
static_assert(MOTION_LEVELLING_THRESHOLD == 1.1920929e-7f);

// Surface velocity, then either the landed step (snap onto the ground when below
// the contact band, ride with the ground, level and damp the rates while the
// session is online) or the airborne step (gravity over dt).
// The caller holds the vessel's ship lock; vessel numbers outside 0..7 are ignored.
void ApplyGravityAndGround(std::int16_t vessel, float dt);

// Advances the double position by (velocity - surface velocity) * dt, refreshes
// the single-precision copy and, while airborne, turns the velocity with the
// planet's spin. dt may be negative. The caller holds the vessel's ship lock;
// vessel numbers outside 0..7 are ignored.
void IntegrateVesselPosition(std::int16_t vessel, float dt);

// Stores a reported position of Ships[vessel] (0..7, its ship lock held) and carries
// it forward by interval seconds with IntegrateVesselPosition. When that would leave
// the position or velocity not finite (an interval too long for the vessel's speed),
// the position is kept as reported. Returns the interval applied (0.0 then).
float StoreReportedPosition(std::uint8_t vessel, float x, float y, float z, float interval);
