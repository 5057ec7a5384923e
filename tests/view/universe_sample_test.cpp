// universe.dat as the sample-data generator writes it.
#include "view_test_support.h"

#include "tools/sample-data/sample_data.h"
#include "view/log_file.h"
#include "view/universe.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace viewtest;

namespace {

class SampleUniverseFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetViewState();
        CaptureLog();
        path_ = ScratchFolder() + "/universe.dat";
        const auto records = sample_data::SampleUniverse();
        ASSERT_TRUE(sample_data::WriteUniverseFile(path_, records));
    }
    std::string path_;
};

TEST_F(SampleUniverseFile, SortedOrderAndHomeIndex)
{
    ASSERT_EQ(LoadUniverseObjects(path_.c_str()), S_OK);
    const auto records = sample_data::SampleUniverse();
    // Kind descending; equal kinds (the two stations) in file order.
    const int fileOrder[9] = {3, 0, 1, 2, 8, 4, 5, 6, 7};
    for (int i = 0; i < 9; ++i) {
        const auto& r = records[fileOrder[i]];
        EXPECT_EQ(UniverseObjects[i].Kind, r.kind) << i;
        EXPECT_EQ(UniverseObjects[i].Distance, r.distance) << i;
        EXPECT_EQ(UniverseObjects[i].RateA, r.rateA) << i;
        EXPECT_EQ(UniverseObjects[i].RateB, r.rateB) << i;
        EXPECT_EQ(UniverseObjects[i].HitRadius, r.hitRadius) << i;
        EXPECT_EQ(UniverseObjects[i].PolygonObject, static_cast<int>(r.polygonObject)) << i;
    }
    EXPECT_EQ(HomeObjectIndex, 3);
    EXPECT_EQ(UniverseObjects[3].Tilt, records[2].tilt);
    EXPECT_EQ(UniverseObjects[3].AngleB, records[2].angleB);
    EXPECT_EQ(UniverseObjects[1].BeaconInterval, 0.1f);
    EXPECT_EQ(UniverseObjects[2].BeaconInterval, 0.1f);
    EXPECT_EQ(LogText(), "OneTimeSceneInit() called!\r\nOneTimeSceneInit() exiting successfully!\r\n");
}

TEST_F(SampleUniverseFile, TruncatedAfterTheHomePlanet)
{
    // Records 0..2 whole, record 3 cut inside its first angle.
    std::filesystem::resize_file(path_, 999 + 3000 + 4);
    ASSERT_EQ(LoadUniverseObjects(path_.c_str()), S_OK);
    EXPECT_EQ(UniverseObjects[0].Kind, KIND_CITY);       // record 3's kind arrived
    EXPECT_EQ(UniverseObjects[0].AngleA, 0.0f);          // its angle did not
    EXPECT_EQ(UniverseObjects[1].Kind, KIND_STATION);
    EXPECT_EQ(UniverseObjects[2].Kind, KIND_STATION);
    EXPECT_EQ(UniverseObjects[8].Kind, KIND_HOME_PLANET);  // after the five empty entries
    EXPECT_EQ(HomeObjectIndex, 8);
    EXPECT_EQ(LogText(), "OneTimeSceneInit() called!\r\nOneTimeSceneInit() exiting successfully!\r\n");
}

TEST_F(SampleUniverseFile, Missing)
{
    std::filesystem::remove(path_);
    EXPECT_EQ(LoadUniverseObjects(path_.c_str()), E_FAIL);
    EXPECT_EQ(LogText(), "OneTimeSceneInit() called!\r\nOneTimeSceneInit() failed to load UNIVERSE.DAT file!\r\n");
}

}  // namespace
