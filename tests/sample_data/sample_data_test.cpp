#include "tools/sample-data/sample_data.h"

#include "client/ship_systems.h"
#include "platform/sys/crt.h"

#include <gtest/gtest.h>

#include <algorithm>
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
                  ("sample_data_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
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
    for (const char* name : {"universe.dat", "systems.dat"}) {
        std::string a = Slurp(folder_ / name), b = Slurp(again / name);
        EXPECT_FALSE(a.empty()) << name;
        EXPECT_EQ(a, b) << name;
    }
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
