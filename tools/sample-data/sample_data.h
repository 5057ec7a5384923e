#pragma once
// Sample data files for tests and demonstrations, written deterministically from
// the documented binary layouts. Each file has a record description, the sample
// contents and a writer; WriteSampleData writes every file into one folder.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/sample-data/dds_writer.h"
#include "tools/sample-data/geometry.h"

namespace sample_data {

// --- universe.dat: nine 1000-byte records, record i at byte 999 + 1000 i ---
constexpr int UNIVERSE_RECORD_COUNT = 9;
constexpr long UNIVERSE_RECORD_SIZE = 1000;
constexpr long UNIVERSE_FIRST_RECORD = 999;
constexpr int UNIVERSE_HOME_PLANET_RECORD = 2;

enum UniverseKind : std::int16_t {
    KIND_CITY = 2,
    KIND_STATION = 1,
    KIND_HOME_PLANET = -1,
    KIND_SURFACE_MESH = -3,
    KIND_SKY_BOX = -5,
    KIND_SUN = -7,
    KIND_HORIZON_RING = -9,
    KIND_CLOUDS = -11,
};

struct UniverseRecord {
    std::int16_t kind = 0;
    float angleA = 0.0f;   // rotation about Z, relative to the home planet's angle B
    float angleB = 0.0f;   // own rotation about Z; the home planet's spin angle
    float angleC = 0.0f;   // rotation about Y (city)
    float distance = 0.0f; // from the planet centre; orbit radius of a station
    float rateB = 0.0f;    // rad/s; the home planet's spin rate
    float rateA = 0.0f;    // rad/s
    float scale = 0.0f;
    float tilt = 0.0f;     // rotation about X; the home planet's axial tilt
    float hitRadius = 0.0f;
    float polygonObject = 0.0f;  // polygon object number, stored as a float
};

// Field offsets within a universe record.
constexpr long UNIVERSE_KIND = 0, UNIVERSE_ANGLE_A = 2, UNIVERSE_ANGLE_B = 6, UNIVERSE_ANGLE_C = 10,
               UNIVERSE_DISTANCE = 14, UNIVERSE_RATE_B = 18, UNIVERSE_RATE_A = 22, UNIVERSE_SCALE = 26,
               UNIVERSE_TILT = 30, UNIVERSE_HIT_RADIUS = 64, UNIVERSE_POLYGON_OBJECT = 68;

constexpr float HOME_PLANET_RADIUS = 2939.6f;

// The sample world: two stations, the home planet (record 2), a city, sky box,
// sun, horizon ring, clouds and surface mesh.
std::array<UniverseRecord, UNIVERSE_RECORD_COUNT> SampleUniverse();
bool WriteUniverseFile(const std::string& path, std::span<const UniverseRecord, UNIVERSE_RECORD_COUNT> records);

// --- systems.dat: 44 records, system p (1..44) at byte p * 1000 - 1 ---
constexpr int SYSTEM_COUNT = 44;
constexpr long SYSTEM_RECORD_SIZE = 1000;

struct SystemRecord {
    std::string name;        // up to 25 characters
    std::string code;        // up to 8 characters
    std::string secondText;  // up to 25 characters
    float type = 0.0f;       // 3 = bypass/shunt; 0 = reported at load
    float automatic = 0.0f;  // bypass/shunt: 1.0 = switches in by itself
    float switchOn = 1.0f;   // the system's own switch
    float mtbfHours = 0.0f;
    float fullCondition = 100.0f;
    float condition = 100.0f;
    float repairMinutes = 0.0f;
    float withoutPower = 0.0f;
    // Power links: primary and alternate source of links 1, 2, 3
    // (-1 none, 0 own switch, 1..44 that system).
    float link1Primary = -1.0f, link1Alternate = -1.0f;
    float link2Primary = -1.0f, link2Alternate = -1.0f;
    float link3Primary = -1.0f, link3Alternate = -1.0f;
};

// Field offsets within a systems record.
constexpr long SYSTEM_FED = 8, SYSTEM_AUTOMATIC = 12, SYSTEM_TYPE = 24, SYSTEM_SWITCH = 40, SYSTEM_MTBF = 48,
               SYSTEM_FULL_CONDITION = 56, SYSTEM_CONDITION = 60, SYSTEM_NAME = 64, SYSTEM_CODE = 104,
               SYSTEM_LINK2_PRIMARY = 116, SYSTEM_LINK1_PRIMARY = 120, SYSTEM_LINK3_PRIMARY = 124,
               SYSTEM_WITHOUT_POWER = 132, SYSTEM_REPAIR_MINUTES = 136, SYSTEM_LINK2_ALTERNATE = 140,
               SYSTEM_LINK1_ALTERNATE = 144, SYSTEM_LINK3_ALTERNATE = 148, SYSTEM_SECOND_TEXT = 152;

// A believable ship: power plant, buses, automatic and manual bypass/shunts,
// and the systems they feed. Entry 0 is system 1.
std::array<SystemRecord, SYSTEM_COUNT> SampleSystems();
// Writes records 1..records.size() (at most 44); fewer records give a short file.
bool WriteSystemsFile(const std::string& path, std::span<const SystemRecord> records);

// --- Panorel.cfg: offset, field of view, host, propulsion, joystick, version ---
inline constexpr char VIEW_CONFIGURATION[] = "0 20 127.0.0.1 1 0 142\n";

// --- Meshes/: polygon files, the planet's macro file, terrain facet files ---
// Polygon file: int16 vertex count N, then N vertices of 32 bytes (position,
// normal, u, v as floats) forming a triangle list.
constexpr long DAW_VERTEX_SIZE = 32;

enum SampleModelId {
    MODEL_SHIP,           // E-10, about 35 long, nose toward -z
    MODEL_STATION,        // O-4, about 80 across
    MODEL_PLANET_SPHERE,  // sphere: the planet's 4500 facets
    MODEL_FAR_SPHERE,     // farspher
    MODEL_LIGHT_SPHERE,   // lightsph: unit sphere on the origin
    MODEL_CITY,           // deois: a city about 80 across, at the station's scale
    MODEL_TACTICAL,       // tactical station
};
// Every triangle is wound so that (v1 - v0) x (v2 - v0) and the normals point
// out of the model.
std::vector<ModelVertex> SampleModel(SampleModelId id);
bool WriteModelFile(const std::string& path, SampleModelId id);

constexpr int PLANET_SPHERE_FREQUENCY = 15;  // 20 * 15 * 15 = 4500 facets
constexpr int PLANET_FACET_COUNT = 4500;
constexpr int PLANET_LEVEL_COUNT = 9;

// Macro file: per planet facet t, byte MACRO_STRIDE t + MACRO_LEVEL holds its
// level minus one (255 for level 0), the next byte its corner rotation count.
constexpr long MACRO_STRIDE = 96, MACRO_LEVEL = 32, MACRO_ROTATIONS = 33;

struct PlanetFacet {
    std::uint8_t level = 0;      // 0 sea, 1..7 land, 8 ice
    std::uint8_t rotations = 0;  // 0..2
};
std::vector<PlanetFacet> SamplePlanetFacets();
bool WriteMacroFile(const std::string& path);

// Facet file of a level: 400 records of 7 bytes, one per small triangle of a
// terrain patch: tile type, corner shift, heights A, B, C, two unused bytes.
constexpr int PATCH_DIVISIONS = 20;
constexpr int PATCH_TRIANGLES = 400;
constexpr long FACET_RECORD_SIZE = 7;

struct TerrainFace {
    std::uint8_t tileType = 0;     // 0..8
    std::uint8_t cornerShift = 0;  // 0..2
    std::int8_t heightA = 0, heightB = 0, heightC = 0;
};
// The heights come from one height per patch grid point, zero on the edges.
std::array<TerrainFace, PATCH_TRIANGLES> SampleTerrainFaces(int level);
bool WriteFacetFile(const std::string& path, int level);

// --- textures/: the texture set, with Weapons/ and Explosions/ ---
struct SampleTexture {
    std::string name;  // relative to the output folder
    DxtFormat format;
    unsigned size;    // square, a power of two
    unsigned levels;  // 1, or the full mip chain down to 1 x 1
    TexturePattern pattern;
};
std::vector<SampleTexture> SampleTextures();

// Writes every sample file into folder (created if missing). On failure returns
// false with a message in *error (when given).
bool WriteSampleData(const std::string& folder, std::string* error = nullptr);

}  // namespace sample_data
