#pragma once
// The nine universe objects around the own vessel, read from universe.dat.
#include "platform/math/d3dx_math.h"
#include "platform/sys/hresult.h"

#include <cstdint>

constexpr int UNIVERSE_OBJECT_COUNT = 9;

// Kinds; objects of a kind above 0 can be hit by projectiles.
constexpr std::int16_t KIND_CITY = 2;
constexpr std::int16_t KIND_STATION = 1;
constexpr std::int16_t KIND_HOME_PLANET = -1;
constexpr std::int16_t KIND_SURFACE_MESH = -3;
constexpr std::int16_t KIND_SKY_BOX = -5;
constexpr std::int16_t KIND_SUN = -7;
constexpr std::int16_t KIND_HORIZON_RING = -9;
constexpr std::int16_t KIND_CLOUDS = -11;

// Polygon object numbers run 0..7; this marks an object that has none.
constexpr int POLYGON_OBJECT_COUNT = 8;
constexpr std::uint8_t POLYGON_OBJECT_NONE = 0xFF;

struct UniverseObject {
    std::int16_t Kind = 0;
    float AngleA = 0.0f;         // about Z, relative to the home planet's angle B
    float AngleB = 0.0f;         // about Z of the object itself (planet: spin angle)
    float AngleC = 0.0f;         // about Y (city)
    float HitRadius = 0.0f;
    float Distance = 0.0f;       // from the planet centre along local Y
    float RateB = 0.0f;          // rad/s (planet: spin rate)
    float RateA = 0.0f;          // rad/s
    float Scale = 0.0f;
    float Tilt = 0.0f;           // about X (planet: axial tilt)
    std::uint32_t BeaconBits = 0;
    float BeaconInterval = 0.0f;
    float LastBeacon = 0.0f;
    std::uint8_t PolygonObject = 0;
    float ViewerDistance = 0.0f;
    D3DXMATRIX WorldMatrix;
    D3DXMATRIX BaseMatrix;
    D3DXMATRIX CurrentMatrix;
    D3DXVECTOR3 Velocity;
    D3DXVECTOR3 Position;
    double DoublePosition[3] = {0.0, 0.0, 0.0};
};

extern UniverseObject UniverseObjects[UNIVERSE_OBJECT_COUNT];

// Reads universe.dat into UniverseObjects, sorts the table by kind (descending,
// stable), records HomeObjectIndex and sets the stations' beacon timing; writes the
// log lines. S_OK after a read, E_FAIL when the file does not open. This is the
// body of the application object's OneTimeSceneInit.
HRESULT LoadUniverseObjects(const char* path = "universe.dat");

// Converts a polygon object number stored as a float: truncated toward zero,
// POLYGON_OBJECT_NONE unless the result is 0..7.
std::uint8_t PolygonObjectFromFloat(float value);
