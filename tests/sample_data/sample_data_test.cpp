#include "tools/sample-data/sample_data.h"

#include "client/ship_systems.h"
#include "platform/sys/crt.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <numeric>
#include <set>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace sample_data;

class SampleDataTest : public testing::Test {
protected:
    void SetUp() override
    {
        previous_ = fs::current_path();
        folder_ = fs::path(testing::TempDir()) /
                  ("sample_data_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                   std::to_string(getpid()));
        fs::remove_all(folder_);
        std::string error;
        ASSERT_TRUE(WriteSampleData(folder_.string(), &error)) << error;
    }
    void TearDown() override
    {
        fs::current_path(previous_);
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    static std::string Slurp(const fs::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    fs::path previous_;
    fs::path folder_;
};

// Reads one field the way the programs do: seek to its offset, read its bytes.
template <typename T>
T ReadField(int fd, long offset)
{
    T value{};
    EXPECT_EQ(crt::Seek(fd, offset, crt::SEEK_SET_), offset);
    EXPECT_EQ(crt::Read(fd, &value, sizeof value), static_cast<int>(sizeof value));
    return value;
}

TEST_F(SampleDataTest, UniverseFileReadsBackFieldByField)
{
    fs::path path = folder_ / "universe.dat";
    EXPECT_EQ(fs::file_size(path), 9999u);
    int fd = crt::Open(path.c_str(), crt::O_RDONLY_ | crt::O_BINARY_);
    ASSERT_GE(fd, 0);
    auto expect = SampleUniverse();
    std::vector<UniverseRecord> read(UNIVERSE_RECORD_COUNT);
    for (int i = 0; i < UNIVERSE_RECORD_COUNT; ++i) {
        long base = 999 + 1000L * i;
        UniverseRecord& r = read[i];
        r.kind = ReadField<std::int16_t>(fd, base + 0);
        r.angleA = ReadField<float>(fd, base + 2);
        r.angleB = ReadField<float>(fd, base + 6);
        r.angleC = ReadField<float>(fd, base + 10);
        r.distance = ReadField<float>(fd, base + 14);
        r.rateB = ReadField<float>(fd, base + 18);
        r.rateA = ReadField<float>(fd, base + 22);
        r.scale = ReadField<float>(fd, base + 26);
        r.tilt = ReadField<float>(fd, base + 30);
        r.hitRadius = ReadField<float>(fd, base + 64);
        r.polygonObject = ReadField<float>(fd, base + 68);
        const UniverseRecord& e = expect[i];
        EXPECT_EQ(r.kind, e.kind) << i;
        EXPECT_EQ(r.angleA, e.angleA) << i;
        EXPECT_EQ(r.angleB, e.angleB) << i;
        EXPECT_EQ(r.angleC, e.angleC) << i;
        EXPECT_EQ(r.distance, e.distance) << i;
        EXPECT_EQ(r.rateB, e.rateB) << i;
        EXPECT_EQ(r.rateA, e.rateA) << i;
        EXPECT_EQ(r.scale, e.scale) << i;
        EXPECT_EQ(r.tilt, e.tilt) << i;
        EXPECT_EQ(r.hitRadius, e.hitRadius) << i;
        EXPECT_EQ(r.polygonObject, e.polygonObject) << i;
    }
    // The console client's two values: the home planet's spin angle and rate.
    float angle = ReadField<float>(fd, 3005);
    float rate = ReadField<float>(fd, 3017);
    crt::Close(fd);
    EXPECT_EQ(read[2].kind, KIND_HOME_PLANET);
    EXPECT_EQ(angle, read[2].angleB);
    EXPECT_EQ(rate, read[2].rateB);
    EXPECT_GT(rate, 0.0f);
    EXPECT_LT(rate, 0.001f);  // a slow spin

    // Sorted by kind, descending and stable: city, O-4, tactical station, planet, ...
    std::stable_sort(read.begin(), read.end(),
                     [](const UniverseRecord& a, const UniverseRecord& b) { return a.kind > b.kind; });
    const std::int16_t kinds[] = {2, 1, 1, -1, -3, -5, -7, -9, -11};
    for (int i = 0; i < UNIVERSE_RECORD_COUNT; ++i) EXPECT_EQ(read[i].kind, kinds[i]) << i;
    EXPECT_EQ(static_cast<int>(read[1].polygonObject), 1);
    EXPECT_NE(static_cast<int>(read[2].polygonObject), 1);
    EXPECT_EQ(read[0].distance, HOME_PLANET_RADIUS);
    for (int i : {1, 2}) {
        EXPECT_GT(read[i].distance, HOME_PLANET_RADIUS + 100.0f);
        EXPECT_GT(read[i].hitRadius, 0.0f);
    }
}

TEST_F(SampleDataTest, SystemsFileLoadsThroughTheClientLoader)
{
    EXPECT_EQ(fs::file_size(folder_ / "systems.dat"), 44999u);
    fs::current_path(folder_);
    testing::internal::CaptureStdout();
    ASSERT_EQ(LoadShipSystems(), S_OK);
    std::string out = testing::internal::GetCapturedStdout();

    auto expect = SampleSystems();
    std::string expectOut;
    int automatic = 0, manual = 0;
    for (int p = 1; p <= SHIP_SYSTEM_COUNT; ++p) {
        const SystemRecord& e = expect[p - 1];
        const ShipSystem& s = ShipSystems[p];
        EXPECT_EQ(std::string(s.name), e.name) << p;
        EXPECT_FALSE(e.name.empty()) << p;
        EXPECT_LE(e.name.size(), 25u) << p;
        EXPECT_EQ(std::string(s.code), e.code) << p;
        EXPECT_EQ(std::string(s.secondText), e.secondText) << p;
        EXPECT_EQ(s.type, static_cast<int>(e.type)) << p;
        EXPECT_EQ(s.automatic, e.automatic) << p;
        EXPECT_EQ(s.switchOn, 1) << p;
        EXPECT_EQ(s.mtbf, static_cast<int>(e.mtbfHours)) << p;
        EXPECT_GT(s.mtbf, 0) << p;
        EXPECT_EQ(s.fullCondition, e.fullCondition) << p;
        EXPECT_EQ(s.condition, e.condition) << p;
        EXPECT_EQ(s.repairMinutes, e.repairMinutes) << p;
        EXPECT_EQ(s.withoutPower, 0) << p;
        EXPECT_EQ(s.link1Primary, static_cast<int>(e.link1Primary)) << p;
        EXPECT_EQ(s.link1Alternate, static_cast<int>(e.link1Alternate)) << p;
        EXPECT_EQ(s.link2Primary, static_cast<int>(e.link2Primary)) << p;
        EXPECT_EQ(s.link2Alternate, static_cast<int>(e.link2Alternate)) << p;
        EXPECT_EQ(s.link3Primary, static_cast<int>(e.link3Primary)) << p;
        EXPECT_EQ(s.link3Alternate, static_cast<int>(e.link3Alternate)) << p;
        if (s.type == 0) expectOut += "Ok... " + e.name + "\n";
        if (s.type == SHIP_SYSTEM_TYPE_BYPASS) (s.automatic == 1.0f ? automatic : manual)++;
    }
    EXPECT_EQ(out, expectOut + "\n");
    EXPECT_GE(automatic, 1);
    EXPECT_GE(manual, 1);
}

TEST_F(SampleDataTest, SampleShipRunsAndReactsToItsSwitches)
{
    fs::current_path(folder_);
    testing::internal::CaptureStdout();
    ASSERT_EQ(LoadShipSystems(), S_OK);
    testing::internal::GetCapturedStdout();
    ShipSystemsRandom.state = 1;

    // Everything has power from the start.
    testing::internal::CaptureStdout();
    for (int i = 0; i < 5; ++i) UpdateShipSystems();
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("Lost power"), std::string::npos);

    // System 10 runs from its own switch.
    ShipSystems[10].switchOn = 0;
    testing::internal::CaptureStdout();
    UpdateShipSystems();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Lost power: " + std::string(ShipSystems[10].name) + "\n"), std::string::npos) << out;
    ShipSystems[10].switchOn = 1;

    // Reactor off: the buses fail and the automatic shunt takes over one load.
    ShipSystems[1].switchOn = 0;
    testing::internal::CaptureStdout();
    UpdateShipSystems();
    UpdateShipSystems();
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Lost power: Fusion Reactor\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Auto-bypass/shunt: Bus Tie Shunt\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Manual bypass/shunt indicated: Emergency Crosslink\n"), std::string::npos) << out;
}

TEST_F(SampleDataTest, OutputIsDeterministic)
{
    fs::path again = folder_ / "again";
    ASSERT_TRUE(WriteSampleData(again.string()));
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
        if (!entry.is_regular_file() || entry.path().string().find("again") != std::string::npos) continue;
        fs::path rel = fs::relative(entry.path(), folder_);
        std::string a = Slurp(entry.path()), b = Slurp(again / rel);
        EXPECT_FALSE(a.empty()) << rel;
        EXPECT_EQ(a, b) << rel;
        ++files;
    }
    EXPECT_EQ(files, 95);  // 20 data and model files, 75 textures
}

TEST_F(SampleDataTest, ViewConfigurationHasTheSixValues)
{
    EXPECT_EQ(Slurp(folder_ / "Panorel.cfg"), "0 20 127.0.0.1 1 0 142\n");
}

struct FileVertex {
    float p[3], n[3], u, v;
};

// A polygon file as the loader sees it: count, then 32-byte vertices.
std::vector<FileVertex> ReadModel(const std::string& bytes)
{
    std::int16_t n = 0;
    std::memcpy(&n, bytes.data(), 2);
    EXPECT_EQ(bytes.size(), 2 + 32u * static_cast<std::size_t>(n));
    std::vector<FileVertex> list(n > 0 ? n : 0);
    if (bytes.size() >= 2 + 32 * list.size()) std::memcpy(list.data(), bytes.data() + 2, 32 * list.size());
    return list;
}

using Key = std::array<float, 3>;
Key PositionOf(const FileVertex& v) { return {v.p[0], v.p[1], v.p[2]}; }
double Det(const Key& a, const Key& b, const Key& c)
{
    return double(a[0]) * (double(b[1]) * c[2] - double(b[2]) * c[1]) -
           double(a[1]) * (double(b[0]) * c[2] - double(b[2]) * c[0]) +
           double(a[2]) * (double(b[0]) * c[1] - double(b[1]) * c[0]);
}

// Every triangle's (v1 - v0) x (v2 - v0) agrees with its three normals; the
// triangles form closed surfaces (each directed edge met once by its reverse)
// and each surface encloses a positive volume, so every face points outward.
void ExpectClosedAndOutward(const std::vector<FileVertex>& list, const std::string& name)
{
    ASSERT_EQ(list.size() % 3, 0u) << name;
    std::size_t triangles = list.size() / 3;
    for (std::size_t t = 0; t < triangles; ++t) {
        const FileVertex* v = &list[3 * t];
        double e1[3], e2[3];
        for (int i = 0; i < 3; ++i) e1[i] = double(v[1].p[i]) - v[0].p[i], e2[i] = double(v[2].p[i]) - v[0].p[i];
        double c[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
        for (int k = 0; k < 3; ++k) {
            double d = c[0] * v[k].n[0] + c[1] * v[k].n[1] + c[2] * v[k].n[2];
            EXPECT_GT(d, 0.0) << name << " triangle " << t << " corner " << k;
        }
    }
    // Directed edges; surfaces are the classes of triangles joined by edges.
    std::map<std::pair<Key, Key>, int> edges;
    for (std::size_t t = 0; t < triangles; ++t) {
        for (int k = 0; k < 3; ++k) {
            auto e = std::make_pair(PositionOf(list[3 * t + k]), PositionOf(list[3 * t + (k + 1) % 3]));
            EXPECT_TRUE(edges.emplace(e, static_cast<int>(t)).second) << name << " edge used twice, triangle " << t;
        }
    }
    std::vector<int> parent(triangles);
    for (std::size_t t = 0; t < triangles; ++t) parent[t] = static_cast<int>(t);
    auto root = [&](int t) {
        while (parent[t] != t) t = parent[t] = parent[parent[t]];
        return t;
    };
    for (const auto& [e, t] : edges) {
        auto reverse = edges.find({e.second, e.first});
        ASSERT_NE(reverse, edges.end()) << name << " open edge at triangle " << t;
        parent[root(t)] = root(reverse->second);
    }
    std::map<int, double> volume;
    for (std::size_t t = 0; t < triangles; ++t) {
        volume[root(static_cast<int>(t))] +=
            Det(PositionOf(list[3 * t]), PositionOf(list[3 * t + 1]), PositionOf(list[3 * t + 2])) / 6;
    }
    for (const auto& [surface, v] : volume) EXPECT_GT(v, 0.0) << name << " surface of triangle " << surface;
}

std::array<float, 6> Extent(const std::vector<FileVertex>& list)
{
    std::array<float, 6> e{1e9f, 1e9f, 1e9f, -1e9f, -1e9f, -1e9f};
    for (const FileVertex& v : list) {
        for (int i = 0; i < 3; ++i) e[i] = std::min(e[i], v.p[i]), e[3 + i] = std::max(e[3 + i], v.p[i]);
    }
    return e;
}

TEST_F(SampleDataTest, ModelsAreClosedOutwardFacingTriangleLists)
{
    for (const char* name : {"E-10", "O-4", "sphere", "farspher", "lightsph", "deois", "tactical"}) {
        auto list = ReadModel(Slurp(folder_ / "Meshes" / (std::string(name) + ".DAW")));
        EXPECT_GE(list.size(), 36u) << name;
        ExpectClosedAndOutward(list, name);
    }

    auto ship = Extent(ReadModel(Slurp(folder_ / "Meshes/E-10.DAW")));
    EXPECT_NEAR(ship[5] - ship[2], 35.0f, 2.0f);
    EXPECT_LT(ship[2], -2 * ship[5]);  // the nose reaches far toward -z
    EXPECT_LT(ship[3] - ship[0], ship[5] - ship[2]);
    auto station = Extent(ReadModel(Slurp(folder_ / "Meshes/O-4.DAW")));
    EXPECT_NEAR(std::max({station[3] - station[0], station[4] - station[1], station[5] - station[2]}), 80.0f, 5.0f);

    // The city at the station's scale, its towers rising along +y.
    auto city = Extent(ReadModel(Slurp(folder_ / "Meshes/deois.DAW")));
    EXPECT_NEAR(city[3] - city[0], 80.0f, 5.0f);
    EXPECT_NEAR(city[5] - city[2], 80.0f, 5.0f);
    EXPECT_GT(city[4], 4 * -city[1]);
    EXPECT_LT(city[4] - city[1], 20.0f);

    for (const FileVertex& v : ReadModel(Slurp(folder_ / "Meshes/lightsph.DAW"))) {
        EXPECT_NEAR(std::hypot(v.p[0], v.p[1], v.p[2]), 1.0, 1e-6);
    }
}

TEST_F(SampleDataTest, PlanetSphereIsAFrequencyFifteenGeodesicIcosahedron)
{
    auto list = ReadModel(Slurp(folder_ / "Meshes/sphere.DAW"));
    ASSERT_EQ(list.size(), 13500u);
    // 10 f^2 + 2 distinct points: 12 met by five facets, the rest by six.
    std::map<Key, int> uses;
    for (const FileVertex& v : list) uses[PositionOf(v)]++;
    EXPECT_EQ(uses.size(), 2252u);
    int fives = 0;
    for (const auto& [p, n] : uses) {
        EXPECT_TRUE(n == 5 || n == 6) << n;
        fives += n == 5;
    }
    EXPECT_EQ(fives, 12);
    double smallest = 1e9, largest = 0;
    for (std::size_t t = 0; t < 4500; ++t) {
        double e1[3], e2[3];
        for (int i = 0; i < 3; ++i) {
            e1[i] = double(list[3 * t + 1].p[i]) - list[3 * t].p[i];
            e2[i] = double(list[3 * t + 2].p[i]) - list[3 * t].p[i];
        }
        double area = std::hypot(e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                                 e1[0] * e2[1] - e1[1] * e2[0]);
        smallest = std::min(smallest, area);
        largest = std::max(largest, area);
    }
    EXPECT_LT(largest / smallest, 2.0);
}

TEST_F(SampleDataTest, MacroFileGivesEveryLevelAndSmallRotations)
{
    std::string macro = Slurp(folder_ / "Meshes/macro.DAW");
    ASSERT_EQ(macro.size(), 96u * 4500);
    std::array<int, 256> levels{};
    for (int t = 0; t < 4500; ++t) {
        levels[static_cast<std::uint8_t>(macro[96 * t + 32] + 1)]++;
        EXPECT_LE(static_cast<std::uint8_t>(macro[96 * t + 33]), 2) << t;
    }
    for (int level = 0; level <= 8; ++level) EXPECT_GT(levels[level], 20) << level;
    EXPECT_EQ(std::accumulate(levels.begin(), levels.begin() + 9, 0), 4500);
}

// The patch's points in emission order, from the subdivision of the triangle
// P0 = (0, 0), P1 = (1, 0), P2 = (0, 1): row r runs from A = r/20 P1 to
// B = r/20 P2, row r + 1 from C to D.
std::vector<std::array<double, 2>> PatchPoints()
{
    std::vector<std::array<double, 2>> points;
    auto lerp = [](std::array<double, 2> a, std::array<double, 2> b, double s) {
        return std::array<double, 2>{a[0] + (b[0] - a[0]) * s, a[1] + (b[1] - a[1]) * s};
    };
    for (int r = 0; r < 20; ++r) {
        std::array<double, 2> A{r * 0.05, 0}, B{0, r * 0.05}, C{(r + 1) * 0.05, 0}, D{0, (r + 1) * 0.05};
        auto a = [&](int j) { return r == 0 ? A : lerp(A, B, double(j) / r); };
        auto c = [&](int j) { return lerp(C, D, double(j) / (r + 1)); };
        for (auto p : {a(0), c(0), c(1)}) points.push_back(p);
        for (int j = 1; j <= r; ++j) {
            for (auto p : {a(j - 1), c(j), a(j), a(j), c(j), c(j + 1)}) points.push_back(p);
        }
    }
    return points;
}

TEST_F(SampleDataTest, FacetFilesHaveTilesShiftsAndOneHeightPerPoint)
{
    auto points = PatchPoints();
    ASSERT_EQ(points.size(), 1200u);
    const char* names[] = {"facet-1", "facet00", "facet01", "facet02", "facet03",
                           "facet04", "facet05", "facet06", "facet07"};
    std::set<int> tiles;
    for (const char* name : names) {
        std::string bytes = Slurp(folder_ / "Meshes" / (std::string(name) + ".DAW"));
        ASSERT_EQ(bytes.size(), 2800u) << name;
        std::map<std::pair<long, long>, int> heightAt;
        int highest = 0;
        for (int t = 0; t < 400; ++t) {
            const char* rec = bytes.data() + 7 * t;
            int tile = static_cast<std::uint8_t>(rec[0]);
            EXPECT_LE(tile, 8) << name << " " << t;
            tiles.insert(tile);
            EXPECT_LE(static_cast<std::uint8_t>(rec[1]), 2) << name << " " << t;
            EXPECT_EQ(rec[5], 0);
            EXPECT_EQ(rec[6], 0);
            // Vertex 3t takes height C, 3t + 1 A, 3t + 2 B.
            const int heights[3] = {static_cast<std::int8_t>(rec[4]), static_cast<std::int8_t>(rec[2]),
                                    static_cast<std::int8_t>(rec[3])};
            for (int k = 0; k < 3; ++k) {
                auto [x, y] = points[3 * t + k];
                highest = std::max(highest, std::abs(heights[k]));
                bool edge = x < 1e-9 || y < 1e-9 || x + y > 1 - 1e-9;
                EXPECT_TRUE(!edge || heights[k] == 0) << name << " " << t << " " << k << ": " << heights[k];
                auto key = std::make_pair(std::lround(x * 1e6), std::lround(y * 1e6));
                auto [it, fresh] = heightAt.emplace(key, heights[k]);
                EXPECT_EQ(it->second, heights[k]) << name << " point (" << x << ", " << y << ")";
            }
        }
        EXPECT_EQ(heightAt.size(), 231u) << name;  // 21 rows of 1..21 points
        EXPECT_GE(highest, 8) << name;
    }
    EXPECT_EQ(tiles.size(), 9u);
}

TEST_F(SampleDataTest, UnwritableFolderIsReported)
{
    fs::path blocker = folder_ / "file";
    std::ofstream(blocker) << "x";
    std::string error;
    EXPECT_FALSE(WriteSampleData((blocker / "sub").string(), &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
