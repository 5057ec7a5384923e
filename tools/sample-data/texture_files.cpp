// The texture set: planet atlas, terrain detail, sky, sun, clouds, ship and
// station maps, and the projectile and explosion frames.
#include "tools/sample-data/dds_writer.h"
#include "tools/sample-data/sample_data.h"

#include <cmath>
#include <cstdint>

namespace sample_data {
namespace {

Colour565 Rgb(int r, int g, int b) { return Colour565::Nearest(r, g, b); }
const Colour565 kBlack{0};

// Corners of the terrain atlas triangles, in texels of a 2048 x 2048 atlas.
constexpr double kTiles[PLANET_LEVEL_COUNT][3][2] = {
    {{517, 841}, {515, 843}, {516, 843}},         {{511.5, 1}, {1020, 883}, {3, 883}},
    {{1023.5, 883}, {515, 1}, {1532, 1}},         {{1535.5, 1}, {2044, 883}, {1027, 883}},
    {{2047.5, 883}, {1539, 1}, {2556, 1}},        {{511.5, 886}, {1020, 1768}, {3, 1768}},
    {{1023.5, 1768}, {515, 886}, {1532, 886}},    {{1535.5, 886}, {2044, 1768}, {1027, 1768}},
    {{2047.5, 1768}, {1539, 886}, {2556, 886}},
};

bool InTriangle(const double (&t)[3][2], double x, double y)
{
    auto side = [&](int a, int b) {
        return (t[b][0] - t[a][0]) * (y - t[a][1]) - (t[b][1] - t[a][1]) * (x - t[a][0]);
    };
    double s0 = side(0, 1), s1 = side(1, 2), s2 = side(2, 0);
    return (s0 >= 0 && s1 >= 0 && s2 >= 0) || (s0 <= 0 && s1 <= 0 && s2 <= 0);
}

// Planet atlas: one colour per tile region (tiles 4 and 8 wrap past the right
// edge); tile 0's texels and their neighbours hold the sea colour.
Colour565 PlanetAtlas(double u, double v)
{
    static const Colour565 kTileColours[PLANET_LEVEL_COUNT] = {
        Rgb(30, 60, 150),   Rgb(200, 180, 120), Rgb(80, 150, 60),  Rgb(40, 100, 50),  Rgb(150, 110, 70),
        Rgb(170, 80, 50),   Rgb(125, 120, 115), Rgb(85, 70, 70),   Rgb(235, 240, 250),
    };
    double x = u * 2048, y = v * 2048;
    if (x >= 480 && x < 544 && y >= 832 && y < 864) return kTileColours[0];
    for (int tile = 1; tile < PLANET_LEVEL_COUNT; ++tile) {
        if (InTriangle(kTiles[tile], x, y) || InTriangle(kTiles[tile], x + 2048, y)) return kTileColours[tile];
    }
    return Rgb(60, 60, 60);
}

// Deterministic hash of a cell to 0..1.
double Hash(int x, int y, int seed)
{
    std::uint32_t h = static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u ^
                      static_cast<std::uint32_t>(seed) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return (h & 0xFFFFFF) / double(0x1000000);
}

// Black sky with a star in about one block in twelve.
TexturePattern StarField(unsigned size, int seed)
{
    return {[size, seed](double u, double v) {
                int bx = static_cast<int>(u * size / 4), by = static_cast<int>(v * size / 4);
                double h = Hash(bx, by, seed);
                if (h > 1.0 / 12) return kBlack;
                int grey = 90 + static_cast<int>(h * 12 * 165);
                return Rgb(grey, grey, std::min(255, grey + 20));
            },
            {}};
}

TexturePattern Flat(Colour565 c) { return {[c](double, double) { return c; }, {}}; }

// Panels of side 1/count with dark seams between them and lit windows.
TexturePattern Panels(int count, Colour565 plate, Colour565 seam, Colour565 window, int seed)
{
    return {[=](double u, double v) {
                double pu = u * count, pv = v * count;
                double fu = pu - std::floor(pu), fv = pv - std::floor(pv);
                if (fu < 0.2 || fv < 0.2) return seam;
                if (Hash(static_cast<int>(pu), static_cast<int>(pv), seed) < 0.25 && fv > 0.4 && fv < 0.7) {
                    return window;
                }
                return plate;
            },
            {}};
}

// Black with one bright rectangle [u0, u1) x [v0, v1).
TexturePattern Patch(double u0, double u1, double v0, double v1, Colour565 c)
{
    return {[=](double u, double v) { return u >= u0 && u < u1 && v >= v0 && v < v1 ? c : kBlack; }, {}};
}

double Distance(double u, double v, double cu, double cv) { return std::hypot(u - cu, v - cv); }

// White everywhere; alpha 15 inside a puff of three overlapping discs in each
// of the quarters the puff squares use (top left, top right, bottom left),
// 0 elsewhere and along the quarters' borders.
TexturePattern Clouds()
{
    return {[](double, double) { return Rgb(255, 255, 255); },
            [](double u, double v) {
                int qu = u < 0.5 ? 0 : 1, qv = v < 0.5 ? 0 : 1;
                if (qu == 1 && qv == 1) return 0;
                double lu = u * 2 - qu, lv = v * 2 - qv;  // 0..1 within the quarter
                int q = qu + 2 * qv;
                const double lobes[3][3][3] = {
                    {{0.5, 0.5, 0.3}, {0.32, 0.42, 0.2}, {0.68, 0.6, 0.22}},
                    {{0.5, 0.5, 0.28}, {0.3, 0.6, 0.2}, {0.7, 0.38, 0.2}},
                    {{0.5, 0.5, 0.32}, {0.5, 0.25, 0.2}, {0.5, 0.72, 0.18}},
                };
                for (const auto& l : lobes[q]) {
                    if (Distance(lu, lv, l[0], l[1]) < l[2]) return 15;
                }
                return 0;
            }};
}

// Projectile frame k (1..20): a pulsing disc with a white core, its colour
// its own for every k.
TexturePattern WeaponFrame(int k)
{
    Colour565 c{static_cast<std::uint16_t>(31 << 11 | (2 + 3 * k) << 5 | (k * 7) % 32)};
    double radius = 0.18 + 0.06 * ((k - 1) % 5);
    return {[=](double u, double v) {
                double d = Distance(u, v, 0.5, 0.5);
                return d < radius * 0.4 ? Rgb(255, 255, 255) : d < radius ? c : kBlack;
            },
            {}};
}

// Explosion frame k (1..43): a ring that grows and cools from yellow to red.
TexturePattern BlastFrame(int k)
{
    Colour565 c{static_cast<std::uint16_t>(31 << 11 | (63 - k) << 5 | (k < 20 ? 20 - k : 0))};
    double outer = 0.12 + 0.34 * k / 43.0, inner = outer * 0.6 * k / 43.0;
    return {[=](double u, double v) {
                double d = Distance(u, v, 0.5, 0.5);
                return d < outer && d >= inner ? c : kBlack;
            },
            {}};
}

}  // namespace

std::vector<SampleTexture> SampleTextures()
{
    const DxtFormat dxt1 = DxtFormat::DXT1, dxt3 = DxtFormat::DXT3;
    std::vector<SampleTexture> t = {
        {"textures/bluemars.dds", dxt3, 256, 9, {PlanetAtlas, {}}},
        {"textures/wall.dds", dxt1, 256, 1, StarField(256, 1)},
        {"textures/floor.dds", dxt1, 256, 1, StarField(256, 2)},
        {"textures/World2a1.dds", dxt1, 128, 1,
         {[](double u, double v) {
              double h = Hash(static_cast<int>(u * 16), static_cast<int>(v * 16), 3);
              return h < 0.5 ? Rgb(90, 130, 60) : h < 0.8 ? Rgb(140, 120, 80) : Rgb(60, 90, 50);
          },
          {}}},
        {"textures/sunmap.dds", dxt1, 128, 1,
         {[](double u, double v) { return Distance(u, v, 0.5, 0.5) < 0.3 ? Rgb(255, 255, 255) : kBlack; }, {}}},
        {"textures/E-10.dds", dxt1, 128, 1, Panels(8, Rgb(170, 175, 180), Rgb(70, 72, 80), Rgb(60, 110, 170), 4)},
        {"textures/E-10engine.dds", dxt1, 64, 1, Patch(0.25, 0.75, 0.875, 1.0, Rgb(255, 200, 120))},
        {"textures/E-10light.dds", dxt1, 64, 1, Patch(0.375, 0.625, 0.0, 0.125, Rgb(255, 255, 220))},
        {"textures/o-4.dds", dxt1, 64, 7, Panels(4, Rgb(150, 160, 180), Rgb(50, 55, 70), Rgb(255, 230, 150), 5)},
        {"textures/tactical.dds", dxt1, 64, 7, Panels(4, Rgb(90, 110, 90), Rgb(200, 120, 40), Rgb(230, 60, 40), 6)},
        {"textures/facet01.dds", dxt1, 64, 7, Flat(Colour565::Nearest(128, 128, 128))},
        {"textures/cloud8.dds", dxt3, 128, 1, Clouds()},
    };
    for (int k = 1; k <= 20; ++k) {
        t.push_back({"textures/Weapons/weapon" + std::to_string(k) + ".dds", dxt1, 32, 1, WeaponFrame(k)});
    }
    for (int k = 1; k <= 43; ++k) {
        t.push_back({"textures/Explosions/blast" + std::to_string(k) + ".dds", dxt1, 64, 1, BlastFrame(k)});
    }
    return t;
}

}  // namespace sample_data
