#include "tools/sample-data/binary_writer.h"
#include "tools/sample-data/sample_data.h"

#include <cmath>

namespace sample_data {
namespace {

// Gravitational parameter of the home planet, km^3/s^2 (0.01127 * 2939.6^2).
constexpr double kPlanetMu = 97386.87;
constexpr float kTwoPi = 6.2831855f;

// Angular rate of a circular orbit of radius r.
float OrbitRate(float r) { return static_cast<float>(std::sqrt(kPlanetMu / (double(r) * r * r))); }

}  // namespace

std::array<UniverseRecord, UNIVERSE_RECORD_COUNT> SampleUniverse()
{
    std::array<UniverseRecord, UNIVERSE_RECORD_COUNT> u{};

    // 0: station O-4, 400 km up.
    u[0].kind = KIND_STATION;
    u[0].angleA = 0.3f;
    u[0].distance = HOME_PLANET_RADIUS + 400.0f;
    u[0].rateA = OrbitRate(u[0].distance);
    u[0].rateB = 0.002f;
    u[0].scale = 1.0f;
    u[0].hitRadius = 0.35f;
    u[0].polygonObject = 1.0f;

    // 1: tactical station, 700 km up.
    u[1].kind = KIND_STATION;
    u[1].angleA = 2.1f;
    u[1].distance = HOME_PLANET_RADIUS + 700.0f;
    u[1].rateA = OrbitRate(u[1].distance);
    u[1].rateB = 0.001f;
    u[1].scale = 1.0f;
    u[1].hitRadius = 0.25f;
    u[1].polygonObject = 7.0f;

    // 2: the home planet; a 24-hour day and an axial tilt of 23.44 degrees.
    u[2].kind = KIND_HOME_PLANET;
    u[2].angleB = 0.35f;
    u[2].rateB = kTwoPi / 86400.0f;
    u[2].scale = 1.0f;
    u[2].tilt = 0.4091f;

    // 3: the city on the surface.
    u[3].kind = KIND_CITY;
    u[3].angleA = 0.8f;
    u[3].angleC = 0.6f;
    u[3].distance = HOME_PLANET_RADIUS;
    u[3].scale = 1.0f;
    u[3].hitRadius = 1.5f;
    u[3].polygonObject = 6.0f;

    // 4: star-field sky box.
    u[4].kind = KIND_SKY_BOX;
    u[4].scale = 1.0f;

    // 5: the sun.
    u[5].kind = KIND_SUN;
    u[5].angleA = 1.2f;
    u[5].distance = 100000.0f;
    u[5].scale = 1.0f;

    // 6: horizon ring.
    u[6].kind = KIND_HORIZON_RING;
    u[6].scale = 1.0f;

    // 7: cloud layer, 6 km up, drifting slowly.
    u[7].kind = KIND_CLOUDS;
    u[7].distance = HOME_PLANET_RADIUS + 6.0f;
    u[7].rateB = 0.00001f;
    u[7].scale = 1.0f;

    // 8: surface mesh.
    u[8].kind = KIND_SURFACE_MESH;
    u[8].distance = HOME_PLANET_RADIUS;
    u[8].scale = 1.0f;
    return u;
}

bool WriteUniverseFile(const std::string& path, std::span<const UniverseRecord, UNIVERSE_RECORD_COUNT> records)
{
    BinaryImage image(UNIVERSE_FIRST_RECORD + UNIVERSE_RECORD_COUNT * UNIVERSE_RECORD_SIZE);
    for (int i = 0; i < UNIVERSE_RECORD_COUNT; ++i) {
        const UniverseRecord& r = records[i];
        long base = UNIVERSE_FIRST_RECORD + i * UNIVERSE_RECORD_SIZE;
        image.PutInt16(base + UNIVERSE_KIND, r.kind);
        image.PutFloat(base + UNIVERSE_ANGLE_A, r.angleA);
        image.PutFloat(base + UNIVERSE_ANGLE_B, r.angleB);
        image.PutFloat(base + UNIVERSE_ANGLE_C, r.angleC);
        image.PutFloat(base + UNIVERSE_DISTANCE, r.distance);
        image.PutFloat(base + UNIVERSE_RATE_B, r.rateB);
        image.PutFloat(base + UNIVERSE_RATE_A, r.rateA);
        image.PutFloat(base + UNIVERSE_SCALE, r.scale);
        image.PutFloat(base + UNIVERSE_TILT, r.tilt);
        image.PutFloat(base + UNIVERSE_HIT_RADIUS, r.hitRadius);
        image.PutFloat(base + UNIVERSE_POLYGON_OBJECT, r.polygonObject);
    }
    return image.WriteTo(path);
}

}  // namespace sample_data
