// Polygon files (the ship, the stations, the city and the spheres), the planet's
// macro file and the nine terrain facet files.
#include "tools/sample-data/binary_writer.h"
#include "tools/sample-data/geometry.h"
#include "tools/sample-data/sample_data.h"

#include <algorithm>
#include <map>
#include <numbers>
#include <utility>

namespace sample_data {

void AppendPart(std::vector<ModelVertex>& list, ClosedPart part)
{
    double volume = 0;
    for (const auto& t : part.triangles) {
        volume += Dot(part.corners[t[0]].position, Cross(part.corners[t[1]].position, part.corners[t[2]].position));
    }
    for (auto& t : part.triangles) {
        if (volume < 0) std::swap(t[1], t[2]);
        Vec3 p0 = part.corners[t[0]].position;
        Vec3 face = Normalize(Cross(part.corners[t[1]].position - p0, part.corners[t[2]].position - p0));
        for (int c : t) {
            ModelVertex v = part.corners[c];
            if (!part.smooth) v.normal = face;
            list.push_back(v);
        }
    }
}

namespace {

constexpr double kPi = std::numbers::pi;

// Local axes of a part: a point (x, y, z) lies at origin + x ax + y ay + z az.
struct Frame {
    Vec3 origin;
    Vec3 ax{1, 0, 0}, ay{0, 1, 0}, az{0, 0, 1};
    Vec3 At(double x, double y, double z) const { return origin + ax * x + ay * y + az * z; }
};

// One cross-section of a lofted body: an ellipse of half width w spanning
// bottom..top in y, at z.
struct Section {
    double z, w, bottom, top;
};

// A body lofted through sections of k points, closed by a point before the
// first section and one after the last (an apex, or the centre of a flat cap).
ClosedPart Loft(const Frame& f, Vec3 start, const std::vector<Section>& sections, Vec3 end, int k)
{
    ClosedPart part;
    double z0 = start.z, z1 = end.z;
    auto along = [&](double z) { return (z - z0) / (z1 - z0); };
    int s = part.Add(f.At(start.x, start.y, start.z), 0.5, 0.0);
    std::vector<int> first;
    for (const Section& sec : sections) {
        double yc = (sec.bottom + sec.top) / 2, hy = (sec.top - sec.bottom) / 2;
        int base = static_cast<int>(part.corners.size());
        for (int j = 0; j < k; ++j) {
            double a = 2 * kPi * (j + 0.5) / k;
            part.Add(f.At(sec.w * std::cos(a), yc + hy * std::sin(a), sec.z), double(j) / k, along(sec.z));
        }
        first.push_back(base);
    }
    int e = part.Add(f.At(end.x, end.y, end.z), 0.5, 1.0);
    for (int j = 0; j < k; ++j) {
        int jn = (j + 1) % k;
        part.Triangle(s, first.front() + jn, first.front() + j);
        for (std::size_t i = 0; i + 1 < first.size(); ++i) {
            part.Quad(first[i] + j, first[i] + jn, first[i + 1] + jn, first[i + 1] + j);
        }
        part.Triangle(first.back() + j, first.back() + jn, e);
    }
    return part;
}

// A box of half sizes (hx, hy, hz) about centre, with flat caps.
ClosedPart Box(Vec3 centre, double hx, double hy, double hz)
{
    Frame f{centre};
    double r = std::numbers::sqrt2;
    return Loft(f, {0, 0, -hz}, {{-hz, hx * r, -hy * r, hy * r}, {hz, hx * r, -hy * r, hy * r}}, {0, 0, hz}, 4);
}

// A cylinder of radius r along axis az from a to b (flat caps).
ClosedPart Cylinder(Frame f, double r, double a, double b, int k)
{
    return Loft(f, {0, 0, a}, {{a, r, -r, r}, {b, r, -r, r}}, {0, 0, b}, k);
}

// A torus about the z axis through centre: ring radius big, tube radius small.
ClosedPart Torus(Vec3 centre, double big, double small, int n, int m)
{
    ClosedPart part;
    for (int i = 0; i < n; ++i) {
        double t = 2 * kPi * i / n;
        for (int j = 0; j < m; ++j) {
            double p = 2 * kPi * j / m;
            double rr = big + small * std::cos(p);
            part.Add(centre + Vec3{rr * std::cos(t), rr * std::sin(t), small * std::sin(p)}, double(i) / n,
                     double(j) / m);
        }
    }
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < m; ++j) {
            int in = (i + 1) % n, jn = (j + 1) % m;
            part.Quad(i * m + j, in * m + j, in * m + jn, i * m + jn);
        }
    }
    return part;
}

// A geodesic sphere: an icosahedron whose faces are cut into frequency^2
// triangles, the points pushed out to the radius. Face points are found again
// by their integer weights, so shared corners are one vertex.
ClosedPart GeodesicSphere(int frequency, double radius)
{
    const double g = (1 + std::sqrt(5.0)) / 2;
    const Vec3 ico[12] = {{0, 1, g},  {0, -1, g},  {0, 1, -g},  {0, -1, -g}, {1, g, 0},  {-1, g, 0},
                          {1, -g, 0}, {-1, -g, 0}, {g, 0, 1},   {-g, 0, 1},  {g, 0, -1}, {-g, 0, -1}};
    std::vector<std::array<int, 3>> faces;
    for (int a = 0; a < 12; ++a)
        for (int b = a + 1; b < 12; ++b)
            for (int c = b + 1; c < 12; ++c) {
                auto edge = [&](int i, int j) { return std::abs(Dot(ico[i] - ico[j], ico[i] - ico[j]) - 4) < 1e-9; };
                if (!edge(a, b) || !edge(b, c) || !edge(a, c)) continue;
                bool out = Dot(Cross(ico[b] - ico[a], ico[c] - ico[a]), ico[a] + ico[b] + ico[c]) > 0;
                faces.push_back(out ? std::array<int, 3>{a, b, c} : std::array<int, 3>{a, c, b});
            }

    ClosedPart part;
    part.smooth = true;
    std::map<std::array<int, 6>, int> known;
    auto point = [&](const std::array<int, 3>& face, int w0, int w1, int w2) {
        std::array<std::pair<int, int>, 3> terms{{{face[0], w0}, {face[1], w1}, {face[2], w2}}};
        std::sort(terms.begin(), terms.end());
        std::array<int, 6> key{};
        Vec3 p;
        for (int i = 0; i < 3; ++i) {
            bool used = terms[i].second != 0;
            key[2 * i] = used ? terms[i].first : -1;
            key[2 * i + 1] = terms[i].second;
            p = p + ico[terms[i].first] * terms[i].second;
        }
        auto found = known.find(key);
        if (found != known.end()) return found->second;
        Vec3 n = Normalize(p);
        double u = std::atan2(n.y, n.x) / (2 * kPi) + 0.5, v = std::acos(std::clamp(n.z, -1.0, 1.0)) / kPi;
        int index = part.Add(n * radius, u, v);
        part.corners[index].normal = n;
        known.emplace(key, index);
        return index;
    };
    const int f = frequency;
    for (const auto& face : faces) {
        // Row r, point j: weights (f - r, r - j, j) of the face's corners.
        auto at = [&](int r, int j) { return point(face, f - r, r - j, j); };
        for (int r = 0; r < f; ++r) {
            part.Triangle(at(r, 0), at(r + 1, 0), at(r + 1, 1));
            for (int j = 1; j <= r; ++j) {
                part.Triangle(at(r, j - 1), at(r + 1, j), at(r, j));
                part.Triangle(at(r, j), at(r + 1, j), at(r + 1, j + 1));
            }
        }
    }
    return part;
}

std::vector<ModelVertex> Sphere(int frequency)
{
    std::vector<ModelVertex> list;
    AppendPart(list, GeodesicSphere(frequency, 1.0));
    return list;
}

// E-10: hull from the nose at z = -28 to the engines at z = 8, wings, fin,
// two engines and the bow mast that carries the white light.
std::vector<ModelVertex> Ship()
{
    std::vector<ModelVertex> list;
    AppendPart(list, Loft({}, {0, 1.5, -28},
                          {{-25, 2.2, -1.0, 3.8}, {-18, 4.0, -2.6, 5.8}, {-8, 5.0, -3.4, 5.6}, {1, 5.0, -3.9, 4.6},
                           {7, 4.0, -3.4, 3.6}},
                          {0, 0.1, 7}, 8));
    AppendPart(list, Box({9.5, -1.2, 1}, 5.5, 0.4, 4.5));
    AppendPart(list, Box({-9.5, -1.2, 1}, 5.5, 0.4, 4.5));
    AppendPart(list, Box({0, 6.0, 3.5}, 0.3, 2.5, 3));
    AppendPart(list, Box({0, 4.1, -27.4}, 0.15, 2.9, 0.15));
    for (double x : {-3.0, 3.0}) AppendPart(list, Cylinder({{x, -1, 0}}, 1.5, 3, 8, 8));
    return list;
}

// O-4: a hub from z = -39 to 31 carrying the lights on its caps, a ring of
// radius 36 and four spokes.
std::vector<ModelVertex> Station()
{
    std::vector<ModelVertex> list;
    AppendPart(list, Cylinder({}, 5, -39, 31, 12));
    AppendPart(list, Torus({0, 0, -4}, 36, 3, 32, 8));
    AppendPart(list, Box({19.5, 0, -4}, 15, 1, 1));
    AppendPart(list, Box({-19.5, 0, -4}, 15, 1, 1));
    AppendPart(list, Box({0, 19.5, -4}, 1, 15, 1));
    AppendPart(list, Box({0, -19.5, -4}, 1, 15, 1));
    return list;
}

// The tactical station: a pointed core and four arms ending in panels.
std::vector<ModelVertex> Tactical()
{
    std::vector<ModelVertex> list;
    AppendPart(list, Loft({}, {0, 0, -30}, {{-18, 7, -7, 7}, {18, 7, -7, 7}}, {0, 0, 30}, 8));
    for (int s : {-1, 1}) {
        AppendPart(list, Box({s * 15.0, 0, 0}, 9, 1.5, 1.5));
        AppendPart(list, Box({0, s * 15.0, 0}, 1.5, 9, 1.5));
        AppendPart(list, Box({s * 25.0, 0, 0}, 1, 8, 8));
        AppendPart(list, Box({0, s * 25.0, 0}, 8, 1, 8));
    }
    return list;
}

// The city, at the station's scale (it carries the station's lights): a base
// slab under a 9 x 9 grid of towers rising along +y, tallest near the middle.
std::vector<ModelVertex> City()
{
    std::vector<ModelVertex> list;
    AppendPart(list, Box({0, -0.5, 0}, 40, 0.5, 40));
    for (int i = 0; i < 9; ++i) {
        for (int j = 0; j < 9; ++j) {
            double x = (i - 4) * 9.0, z = (j - 4) * 9.0;
            double h = 1 + 7 * std::exp(-(x * x + z * z) / 600) * (0.6 + 0.4 * std::sin(3.0 * i + 5.0 * j));
            AppendPart(list, Box({x, (h - 0.2) / 2, z}, 2.5, (h + 0.2) / 2, 2.5));
        }
    }
    return list;
}

bool WriteModel(const std::string& path, const std::vector<ModelVertex>& list)
{
    BinaryImage image(2 + DAW_VERTEX_SIZE * list.size());
    image.PutInt16(0, static_cast<std::int16_t>(list.size()));
    long at = 2;
    for (const ModelVertex& v : list) {
        for (double c : {v.position.x, v.position.y, v.position.z, v.normal.x, v.normal.y, v.normal.z, v.u, v.v}) {
            image.PutFloat(at, static_cast<float>(c));
            at += 4;
        }
    }
    return image.WriteTo(path);
}

// Land level of the planet at unit direction d: 0 sea, 1..7 land, 8 the ice
// about the spin axis (z).
int PlanetLevel(Vec3 d)
{
    if (std::abs(d.z) > 0.9) return 8;
    double n = std::sin(2.3 * d.x + 0.4) * std::cos(1.9 * d.y - 0.3) + 0.6 * std::sin(3.7 * d.z + 2.1 * d.x) +
               0.35 * std::cos(5.1 * d.y + 4.3 * d.z);
    if (n < 0.05) return 0;
    return std::clamp(1 + static_cast<int>(n * 6.5), 1, 7);
}

// Height of terrain grid point (r, j) of a patch for a level: zero on the
// patch edges, hills inside, higher for higher land.
int GridHeight(int level, int r, int j)
{
    static constexpr double kAmplitude[PLANET_LEVEL_COUNT] = {10, 30, 50, 70, 90, 110, 127, 127, 60};
    double n = PATCH_DIVISIONS;
    double bump = 27 * ((n - r) / n) * ((r - j) / n) * (j / n);
    double ripple = std::sin(0.9 * r + 1.7 * j + level) * std::cos(0.6 * j - 0.4 * r + 2.0 * level);
    double h = kAmplitude[level] * bump * (0.5 + 0.8 * ripple);
    return std::clamp(static_cast<int>(std::lround(h)), -127, 127);
}

}  // namespace

std::vector<ModelVertex> SampleModel(SampleModelId id)
{
    switch (id) {
    case MODEL_SHIP: return Ship();
    case MODEL_STATION: return Station();
    case MODEL_PLANET_SPHERE: return Sphere(PLANET_SPHERE_FREQUENCY);
    case MODEL_FAR_SPHERE: return Sphere(4);
    case MODEL_LIGHT_SPHERE: return Sphere(2);
    case MODEL_CITY: return City();
    case MODEL_TACTICAL: return Tactical();
    }
    return {};
}

bool WriteModelFile(const std::string& path, SampleModelId id) { return WriteModel(path, SampleModel(id)); }

std::vector<PlanetFacet> SamplePlanetFacets()
{
    std::vector<ModelVertex> sphere = Sphere(PLANET_SPHERE_FREQUENCY);
    std::vector<PlanetFacet> facets(sphere.size() / 3);
    for (std::size_t t = 0; t < facets.size(); ++t) {
        Vec3 c = sphere[3 * t].position + sphere[3 * t + 1].position + sphere[3 * t + 2].position;
        facets[t].level = static_cast<std::uint8_t>(PlanetLevel(Normalize(c)));
        facets[t].rotations = static_cast<std::uint8_t>(t % 3);
    }
    return facets;
}

bool WriteMacroFile(const std::string& path)
{
    std::vector<PlanetFacet> facets = SamplePlanetFacets();
    BinaryImage image(MACRO_STRIDE * facets.size());
    for (std::size_t t = 0; t < facets.size(); ++t) {
        long at = static_cast<long>(MACRO_STRIDE * t);
        image.PutByte(at + MACRO_LEVEL, static_cast<std::uint8_t>(facets[t].level - 1));
        image.PutByte(at + MACRO_ROTATIONS, facets[t].rotations);
    }
    return image.WriteTo(path);
}

std::array<TerrainFace, PATCH_TRIANGLES> SampleTerrainFaces(int level)
{
    std::array<TerrainFace, PATCH_TRIANGLES> faces{};
    int t = 0;
    // Triangles in the patch's emission order; corner C is the first vertex,
    // A the second, B the third.
    auto emit = [&](std::pair<int, int> c, std::pair<int, int> a, std::pair<int, int> b) {
        TerrainFace& f = faces[t];
        f.heightC = static_cast<std::int8_t>(GridHeight(level, c.first, c.second));
        f.heightA = static_cast<std::int8_t>(GridHeight(level, a.first, a.second));
        f.heightB = static_cast<std::int8_t>(GridHeight(level, b.first, b.second));
        int tile = level;
        if (level == 0 && f.heightC > 4) tile = 1;                 // shallows
        if (level > 0 && f.heightC > 60) tile = level % 8 + 1;     // high ground
        if (level > 1 && f.heightC < -10) tile = level - 1;        // hollows
        f.tileType = static_cast<std::uint8_t>(tile);
        f.cornerShift = static_cast<std::uint8_t>((t * 5 + level) % 3);
        ++t;
    };
    for (int r = 0; r < PATCH_DIVISIONS; ++r) {
        emit({r, 0}, {r + 1, 0}, {r + 1, 1});
        for (int j = 1; j <= r; ++j) {
            emit({r, j - 1}, {r + 1, j}, {r, j});
            emit({r, j}, {r + 1, j}, {r + 1, j + 1});
        }
    }
    return faces;
}

bool WriteFacetFile(const std::string& path, int level)
{
    auto faces = SampleTerrainFaces(level);
    BinaryImage image(FACET_RECORD_SIZE * PATCH_TRIANGLES);
    for (int p = 0; p < PATCH_TRIANGLES; ++p) {
        const TerrainFace& f = faces[p];
        long at = FACET_RECORD_SIZE * p;
        image.PutByte(at + 0, f.tileType);
        image.PutByte(at + 1, f.cornerShift);
        image.PutByte(at + 2, static_cast<std::uint8_t>(f.heightA));
        image.PutByte(at + 3, static_cast<std::uint8_t>(f.heightB));
        image.PutByte(at + 4, static_cast<std::uint8_t>(f.heightC));
    }
    return image.WriteTo(path);
}

}  // namespace sample_data
