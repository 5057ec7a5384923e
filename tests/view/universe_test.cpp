#include "view_test_support.h"

#include "view/log_file.h"
#include "view/universe.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace viewtest;

namespace {

// The shipped arrangement: home planet in record 2, stations apart, other kinds mixed.
std::vector<UniverseRecord> ShippedRecords()
{
    std::vector<UniverseRecord> r(9);
    r[0].kind = KIND_STATION, r[0].distance = 3500.0f, r[0].polygon = 1.9f, r[0].hitRadius = 0.5f;
    r[1].kind = KIND_SUN, r[1].distance = 100000.0f;
    r[2].kind = KIND_HOME_PLANET, r[2].angleB = 0.25f, r[2].rateB = 7.27e-5f, r[2].tilt = 0.4f;
    r[3].kind = KIND_CITY, r[3].angleC = 0.7f, r[3].polygon = 6.0f;
    r[4].kind = KIND_STATION, r[4].distance = 4200.0f, r[4].polygon = 7.0f, r[4].hitRadius = 0.8f;
    r[5].kind = KIND_CLOUDS;
    r[6].kind = KIND_SKY_BOX, r[6].scale = 3.0f;
    r[7].kind = KIND_SURFACE_MESH;
    r[8].kind = KIND_HORIZON_RING, r[8].angleA = 1.5f, r[8].rateA = 0.01f;
    return r;
}

class UniverseFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetViewState();
        CaptureLog();
        folder_ = ScratchFolder();
    }
    std::string Path() const { return folder_ + "/universe.dat"; }
    std::string folder_;
};

TEST_F(UniverseFile, SortsByKindKeepingFileOrderAndFindsHome)
{
    WriteBytes(Path(), UniverseImage(ShippedRecords()));
    ASSERT_EQ(LoadUniverseObjects(Path().c_str()), S_OK);

    const std::int16_t expected[9] = {KIND_CITY, KIND_STATION, KIND_STATION, KIND_HOME_PLANET, KIND_SURFACE_MESH,
                                      KIND_SKY_BOX, KIND_SUN, KIND_HORIZON_RING, KIND_CLOUDS};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(UniverseObjects[i].Kind, expected[i]) << "entry " << i;

    // Stations keep file order: record 0 (3500 km) before record 4 (4200 km).
    EXPECT_FLOAT_EQ(UniverseObjects[1].Distance, 3500.0f);
    EXPECT_FLOAT_EQ(UniverseObjects[2].Distance, 4200.0f);
    EXPECT_EQ(UniverseObjects[1].PolygonObject, 1);  // 1.9 truncates to 1
    EXPECT_EQ(UniverseObjects[2].PolygonObject, 7);
    EXPECT_FLOAT_EQ(UniverseObjects[1].HitRadius, 0.5f);
    for (int i : {1, 2}) {
        EXPECT_FLOAT_EQ(UniverseObjects[i].BeaconInterval, 0.1f);
        EXPECT_FLOAT_EQ(UniverseObjects[i].LastBeacon, 0.0f);
    }
    EXPECT_FLOAT_EQ(UniverseObjects[0].BeaconInterval, 0.0f);

    EXPECT_EQ(HomeObjectIndex, 3);
    const UniverseObject& home = UniverseObjects[3];
    EXPECT_FLOAT_EQ(home.AngleB, 0.25f);
    EXPECT_FLOAT_EQ(home.RateB, 7.27e-5f);
    EXPECT_FLOAT_EQ(home.Tilt, 0.4f);
    EXPECT_FLOAT_EQ(UniverseObjects[0].AngleC, 0.7f);
    EXPECT_FLOAT_EQ(UniverseObjects[5].Scale, 3.0f);
    EXPECT_FLOAT_EQ(UniverseObjects[7].AngleA, 1.5f);
    EXPECT_FLOAT_EQ(UniverseObjects[7].RateA, 0.01f);

    EXPECT_EQ(LogText(), "OneTimeSceneInit() called!\r\nOneTimeSceneInit() exiting successfully!\r\n");
}

TEST_F(UniverseFile, MissingFileFailsWithItsLogLine)
{
    EXPECT_EQ(LoadUniverseObjects((folder_ + "/none.dat").c_str()), E_FAIL);
    EXPECT_EQ(LogText(), "OneTimeSceneInit() called!\r\nOneTimeSceneInit() failed to load UNIVERSE.DAT file!\r\n");
}

TEST_F(UniverseFile, MixedCaseNameIsFound)
{
    WriteBytes(folder_ + "/Universe.DAT", UniverseImage(ShippedRecords()));
    EXPECT_EQ(LoadUniverseObjects(Path().c_str()), S_OK);
    EXPECT_EQ(HomeObjectIndex, 3);
}

TEST_F(UniverseFile, TruncatedFileKeepsWhatDidNotArriveWhole)
{
    // Values left from before the read must survive for fields that do not arrive.
    for (UniverseObject& o : UniverseObjects) {
        o.Distance = -42.0f;
        o.Tilt = -7.0f;
        o.PolygonObject = 3;
    }
    auto image = UniverseImage(ShippedRecords());
    // Cut inside record 4's distance field (offset 14..17): two of its bytes arrive.
    image.resize(999 + 4000 + 16);
    WriteBytes(Path(), image);
    ASSERT_EQ(LoadUniverseObjects(Path().c_str()), S_OK);

    // Records 0..3 arrived whole; record 4 has its kind and angles but no distance.
    // Sorted: city(3), station(0), station(4), planet(2), sun(1), then 5..8 with kind 0
    // from program start, which sort between the stations and the planet.
    EXPECT_EQ(UniverseObjects[0].Kind, KIND_CITY);
    EXPECT_EQ(UniverseObjects[1].Kind, KIND_STATION);
    EXPECT_FLOAT_EQ(UniverseObjects[1].Distance, 3500.0f);
    EXPECT_EQ(UniverseObjects[2].Kind, KIND_STATION);
    EXPECT_FLOAT_EQ(UniverseObjects[2].Distance, -42.0f);  // not half-written
    EXPECT_FLOAT_EQ(UniverseObjects[2].Tilt, -7.0f);
    EXPECT_EQ(UniverseObjects[2].PolygonObject, 3);
    for (int i = 3; i < 7; ++i) EXPECT_EQ(UniverseObjects[i].Kind, 0) << i;
    EXPECT_EQ(UniverseObjects[7].Kind, KIND_HOME_PLANET);
    EXPECT_EQ(UniverseObjects[8].Kind, KIND_SUN);
    EXPECT_EQ(HomeObjectIndex, 7);
    EXPECT_EQ(LogText(), "OneTimeSceneInit() called!\r\nOneTimeSceneInit() exiting successfully!\r\n");
}

TEST_F(UniverseFile, EmptyFileChangesNothingAndSucceeds)
{
    WriteBytes(Path(), {});
    ASSERT_EQ(LoadUniverseObjects(Path().c_str()), S_OK);
    for (const UniverseObject& o : UniverseObjects) EXPECT_EQ(o.Kind, 0);
    EXPECT_EQ(HomeObjectIndex, 0);  // no home planet: stays 0
}

TEST_F(UniverseFile, PolygonNumbersOutsideTheTableAreNone)
{
    EXPECT_EQ(PolygonObjectFromFloat(0.0f), 0);
    EXPECT_EQ(PolygonObjectFromFloat(-0.5f), 0);
    EXPECT_EQ(PolygonObjectFromFloat(7.99f), 7);
    EXPECT_EQ(PolygonObjectFromFloat(8.0f), POLYGON_OBJECT_NONE);
    EXPECT_EQ(PolygonObjectFromFloat(-1.0f), POLYGON_OBJECT_NONE);
    EXPECT_EQ(PolygonObjectFromFloat(1e30f), POLYGON_OBJECT_NONE);
    EXPECT_EQ(PolygonObjectFromFloat(std::numeric_limits<float>::quiet_NaN()), POLYGON_OBJECT_NONE);
    EXPECT_EQ(PolygonObjectFromFloat(-std::numeric_limits<float>::infinity()), POLYGON_OBJECT_NONE);

    auto records = ShippedRecords();
    records[0].polygon = 300.0f;
    records[4].polygon = std::numeric_limits<float>::quiet_NaN();
    WriteBytes(Path(), UniverseImage(records));
    ASSERT_EQ(LoadUniverseObjects(Path().c_str()), S_OK);
    EXPECT_EQ(UniverseObjects[1].PolygonObject, POLYGON_OBJECT_NONE);
    EXPECT_EQ(UniverseObjects[2].PolygonObject, POLYGON_OBJECT_NONE);
}

TEST_F(UniverseFile, LaterHomePlanetWins)
{
    auto records = ShippedRecords();
    records[7].kind = KIND_HOME_PLANET;
    records[7].rateB = 1.0f;
    WriteBytes(Path(), UniverseImage(records));
    ASSERT_EQ(LoadUniverseObjects(Path().c_str()), S_OK);
    EXPECT_EQ(HomeObjectIndex, 4);
    EXPECT_FLOAT_EQ(UniverseObjects[4].RateB, 1.0f);
    EXPECT_FLOAT_EQ(UniverseObjects[3].RateB, 7.27e-5f);
}

}  // namespace
