#include "client/ship_systems.h"

#include "tests/support/scratch.h"
#include "tools/sample-data/sample_data.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

using sample_data::SystemRecord;

// The generator state whose next draw leaves the state `next`.
std::uint32_t StateBefore(std::uint32_t next)
{
    // Inverse of the odd multiplier modulo 2^32 (Newton iteration).
    std::uint32_t a = 214013u, inv = a;
    for (int i = 0; i < 5; ++i) inv *= 2u - a * inv;
    return (next - 2531011u) * inv;
}

// A generator state whose next two draws are first and second
// (second < 0 means any value).
std::uint32_t StateForDraws(int first, int second)
{
    for (std::uint32_t high = 0; high < 2; ++high) {
        for (std::uint32_t low = 0; low < 0x10000u; ++low) {
            std::uint32_t next = (high << 31) | (static_cast<std::uint32_t>(first) << 16) | low;
            crt::RandomGenerator g{next};
            if (second < 0 || g.Next() == second) return StateBefore(next);
        }
    }
    ADD_FAILURE() << "no state for draws " << first << ", " << second;
    return 1;
}

class ShipSystemsTest : public testing::Test {
protected:
    ShipSystemsTest()
    {
        for (SystemRecord& r : ship_) {
            r.type = 5;  // no "Ok" line
            r.switchOn = 1.0f;
        }
        for (int i = 0; i < SHIP_SYSTEM_COUNT; ++i) ship_[i].name = "Sys" + std::to_string(i + 1);
    }
    void SetUp() override { ShipSystemsRandom.state = 1; }

    SystemRecord& Sys(int p) { return ship_[p - 1]; }

    // Writes the ship to systems.dat and loads it; returns the printed text.
    std::string Load()
    {
        EXPECT_TRUE(sample_data::WriteSystemsFile("systems.dat", ship_));
        testing::internal::CaptureStdout();
        EXPECT_EQ(LoadShipSystems(), S_OK);
        return testing::internal::GetCapturedStdout();
    }
    static std::string Tick()
    {
        testing::internal::CaptureStdout();
        UpdateShipSystems();
        return testing::internal::GetCapturedStdout();
    }

    testsupport::WorkingFolder folder_{"client_core"};
    std::array<SystemRecord, SHIP_SYSTEM_COUNT> ship_;
};

TEST_F(ShipSystemsTest, LoadReadsEveryFieldAndReportsOkSystems)
{
    Sys(1).type = 0;
    Sys(1).name = "Fusion Reactor";
    Sys(2).type = 3;
    Sys(2).automatic = 1.0f;
    Sys(2).name = "A name that is longer than twenty-five";
    Sys(3).type = 0;
    Sys(3).name = "Life Support";
    Sys(3).code = "LSS-01-XYZ";
    Sys(3).secondText = "Deck 2";
    Sys(3).switchOn = 0.5f;
    Sys(3).mtbfHours = 1234.9f;
    Sys(3).fullCondition = 90.0f;
    Sys(3).condition = 45.5f;
    Sys(3).repairMinutes = 12.0f;
    Sys(3).withoutPower = 2.0f;
    Sys(3).link1Primary = 2.7f;
    Sys(3).link1Alternate = 0.0f;
    Sys(3).link2Primary = 44.0f;
    Sys(3).link2Alternate = -1.0f;
    Sys(3).link3Primary = 1.0f;
    Sys(3).link3Alternate = 2.0f;
    EXPECT_EQ(Load(), "Ok... Fusion Reactor\nOk... Life Support\n\n");

    EXPECT_EQ(ShipSystems[2].type, 3);
    EXPECT_EQ(ShipSystems[2].automatic, 1.0f);
    EXPECT_STREQ(ShipSystems[2].name, "A name that is longer tha");
    const ShipSystem& s = ShipSystems[3];
    EXPECT_STREQ(s.name, "Life Support");
    EXPECT_STREQ(s.code, "LSS-01-X");
    EXPECT_STREQ(s.secondText, "Deck 2");
    EXPECT_EQ(s.switchOn, 1);
    EXPECT_EQ(s.mtbf, 1234);
    EXPECT_EQ(s.fullCondition, 90.0f);
    EXPECT_EQ(s.condition, 45.5f);
    EXPECT_EQ(s.repairMinutes, 12.0f);
    EXPECT_EQ(s.withoutPower, 1);
    EXPECT_EQ(s.link1Primary, 2);
    EXPECT_EQ(s.link1Alternate, 0);
    EXPECT_EQ(s.link2Primary, 44);
    EXPECT_EQ(s.link2Alternate, -1);
    EXPECT_EQ(s.link3Primary, 1);
    EXPECT_EQ(s.link3Alternate, 2);
}

// The file written byte by byte from the record layout, each field with a value of
// its own and the skipped words zero, so that a field read from any other offset
// (or from another record) comes out wrong. Records 1 and 44: the first and last.
TEST_F(ShipSystemsTest, EachFieldComesFromItsOwnOffsetInTheFirstAndLastRecord)
{
    std::string file(44 * 1000 - 1 + 181, '\0');
    auto put = [&](int p, int offset, float v) { std::memcpy(&file[p * 1000 - 1 + offset], &v, 4); };
    auto text = [&](int p, int offset, const char* t) { std::memcpy(&file[p * 1000 - 1 + offset], t, std::strlen(t)); };
    for (int p : {1, 44}) {
        const float k = static_cast<float>(p) * 1000.0f;
        put(p, 0, k + 0.5f);
        put(p, 4, k + 4.5f);
        put(p, 8, k + 8.5f);
        put(p, 12, k + 12.5f);
        put(p, 20, k + 20.9f);
        put(p, 24, 3.0f + static_cast<float>(p));  // type: not 0, so no "Ok" line
        put(p, 32, k + 32.5f);
        put(p, 40, 0.25f);                         // switch: any non-zero value
        put(p, 48, k + 48.9f);
        put(p, 52, k + 52.5f);
        put(p, 56, k + 56.5f);
        put(p, 60, k + 60.5f);
        text(p, 64, p == 1 ? "First system name here 25" : "Last system");
        put(p, 89, k + 89.5f);
        put(p, 93, k + 93.5f);
        put(p, 97, k + 97.5f);
        text(p, 104, p == 1 ? "CODE0001" : "CODE0044");
        put(p, 112, -2.0f);                        // flag: non-zero
        put(p, 116, 22.0f);                        // links: six different sources
        put(p, 120, 21.0f);
        put(p, 124, 23.0f);
        put(p, 128, k + 128.5f);
        put(p, 132, 7.0f);                         // without power: non-zero
        put(p, 136, k + 136.5f);
        put(p, 140, 25.0f);
        put(p, 144, 24.0f);
        put(p, 148, 26.0f);
        text(p, 152, p == 1 ? "second text of record one" : "second of 44");
        put(p, 177, k + 177.9f);
    }
    {
        std::FILE* f = std::fopen("systems.dat", "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(file.data(), 1, file.size(), f), file.size());
        std::fclose(f);
    }
    testing::internal::CaptureStdout();
    ASSERT_EQ(LoadShipSystems(), S_OK);
    std::string okLines;
    for (int p = 2; p <= 43; ++p) okLines += "Ok... \n";  // the empty records are type 0
    EXPECT_EQ(testing::internal::GetCapturedStdout(), okLines + "\n");
    for (int p : {1, 44}) {
        SCOPED_TRACE(p);
        const ShipSystem& s = ShipSystems[p];
        const float k = static_cast<float>(p) * 1000.0f;
        EXPECT_EQ(s.value0, k + 0.5f);
        EXPECT_EQ(s.value4, k + 4.5f);
        EXPECT_EQ(s.fedSystem, k + 8.5f);
        EXPECT_EQ(s.automatic, k + 12.5f);
        EXPECT_EQ(s.value20, static_cast<std::int16_t>(p * 1000 + 20));
        EXPECT_EQ(s.type, 3 + p);
        EXPECT_EQ(s.value32, k + 32.5f);
        EXPECT_EQ(s.switchOn, 1);
        EXPECT_EQ(s.mtbf, p * 1000 + 48);
        EXPECT_EQ(s.value52, k + 52.5f);
        EXPECT_EQ(s.fullCondition, k + 56.5f);
        EXPECT_EQ(s.condition, k + 60.5f);
        EXPECT_STREQ(s.name, p == 1 ? "First system name here 25" : "Last system");
        EXPECT_EQ(s.value89, k + 89.5f);
        EXPECT_EQ(s.value93, k + 93.5f);
        EXPECT_EQ(s.value97, k + 97.5f);
        EXPECT_STREQ(s.code, p == 1 ? "CODE0001" : "CODE0044");
        EXPECT_EQ(s.flag112, 1);
        EXPECT_EQ(s.link1Primary, 21);
        EXPECT_EQ(s.link2Primary, 22);
        EXPECT_EQ(s.link3Primary, 23);
        EXPECT_EQ(s.value128, k + 128.5f);
        EXPECT_EQ(s.withoutPower, 1);
        EXPECT_EQ(s.repairMinutes, k + 136.5f);
        EXPECT_EQ(s.link1Alternate, 24);
        EXPECT_EQ(s.link2Alternate, 25);
        EXPECT_EQ(s.link3Alternate, 26);
        EXPECT_STREQ(s.secondText, p == 1 ? "second text of record one" : "second of 44");
        EXPECT_EQ(s.value177, static_cast<std::int16_t>(p * 1000 + 177));
    }
}

// The tick reaches the last system too.
TEST_F(ShipSystemsTest, TheLastSystemIsUpdatedEverySecond)
{
    Sys(44).name = "Last";
    Sys(44).link3Alternate = 0.0f;
    Sys(44).link3Primary = 43.0f;
    Sys(43).link1Primary = 0.0f;
    Load();
    EXPECT_EQ(Tick(), "");
    ShipSystems[44].switchOn = 0;  // its alternate is the switch: not needed yet
    EXPECT_EQ(Tick(), "");
    ShipSystems[43].switchOn = 0;
    EXPECT_EQ(Tick(), "Lost power: Sys43\nLost power: Last\n");
    EXPECT_EQ(ShipSystems[44].withoutPower, 1);
    ShipSystems[44].switchOn = 1;
    EXPECT_EQ(Tick(), "Resumed operation: Last\n");
    EXPECT_EQ(ShipSystems[44].withoutPower, 0);
}

TEST_F(ShipSystemsTest, MissingFileFails)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(LoadShipSystems(), E_FAIL);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(ShipSystemsTest, ShortFileLeavesMissingFieldsAsTheyWere)
{
    Sys(1).name = "First";
    Sys(2).name = "Second";
    Sys(2).condition = 70.0f;
    Sys(2).link1Primary = 1.0f;
    ASSERT_TRUE(sample_data::WriteSystemsFile("systems.dat", ship_));
    // Cut the file inside record 2, after its name (offset 89) but before its links.
    std::filesystem::resize_file("systems.dat", 2 * 1000 - 1 + 100);
    for (int p = 3; p <= SHIP_SYSTEM_COUNT; ++p) ShipSystems[p].type = 5;
    ShipSystems[2].link1Primary = 7;
    ShipSystems[2].repairMinutes = 3.0f;
    std::snprintf(ShipSystems[3].name, sizeof ShipSystems[3].name, "Untouched");
    ShipSystems[3].link1Primary = 4;

    testing::internal::CaptureStdout();
    EXPECT_EQ(LoadShipSystems(), S_OK);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n");
    EXPECT_STREQ(ShipSystems[2].name, "Second");
    EXPECT_EQ(ShipSystems[2].condition, 70.0f);
    EXPECT_EQ(ShipSystems[2].link1Primary, 7);
    EXPECT_EQ(ShipSystems[2].repairMinutes, 3.0f);
    EXPECT_EQ(ShipSystems[2].type, 5);
    EXPECT_STREQ(ShipSystems[3].name, "Untouched");
    EXPECT_EQ(ShipSystems[3].link1Primary, 4);
    ShipSystems[3].link1Primary = -1;
    ShipSystems[2].link1Primary = -1;
}

TEST_F(ShipSystemsTest, OutOfRangeLinksBecomeNoSourceAndAreReportedOnce)
{
    Sys(1).link1Primary = 45.0f;
    Sys(1).link2Alternate = -2.0f;
    Sys(7).link3Primary = 65535.0f;  // would be -1 when kept to 16 bits
    Sys(9).link1Alternate = 1e30f;
    Sys(9).link2Alternate = -1.5f;  // truncates to -1: in range
    std::string out = Load();
    EXPECT_EQ(out,
              "[Error!] \"systems.dat\" has 4 power link(s) outside -1 to 44, treated as no source\n"
              "\n");
    EXPECT_EQ(ShipSystems[1].link1Primary, -1);
    EXPECT_EQ(ShipSystems[1].link2Alternate, -1);
    EXPECT_EQ(ShipSystems[7].link3Primary, -1);
    EXPECT_EQ(ShipSystems[9].link1Alternate, -1);
    EXPECT_EQ(ShipSystems[9].link2Alternate, -1);
    EXPECT_EQ(Tick(), "");  // all links now empty: everything powered
}

TEST_F(ShipSystemsTest, FailureDrawWithKnownSequence)
{
    // MTBF 10: q = draw * 36000 / 32767, which is 1 only for draw 1.
    Sys(1).name = "Pump";
    Sys(1).mtbfHours = 10.0f;
    Sys(2).mtbfHours = 10.0f;
    Load();

    ShipSystemsRandom.state = StateForDraws(1, 16384);
    crt::RandomGenerator expect = ShipSystemsRandom;
    expect.Next();
    float damage = static_cast<float>(expect.Next() / 32767.0 * 100.0f);
    int afterFailure = expect.Next();  // system 2's draw
    EXPECT_EQ(Tick(), "Damage 50 for MTBF failure: Pump\n");
    EXPECT_EQ(ShipSystems[1].condition, 100.0f - damage);
    EXPECT_EQ(ShipSystems[2].condition, 100.0f);
    EXPECT_NE(afterFailure, 1);
    // One draw per system, plus one for the failure.
    for (int i = 3; i <= SHIP_SYSTEM_COUNT; ++i) expect.Next();
    EXPECT_EQ(ShipSystemsRandom.state, expect.state);

    // Draw 2 gives q = 2: no failure.
    ShipSystemsRandom.state = StateForDraws(2, -1);
    EXPECT_EQ(Tick(), "");
}

TEST_F(ShipSystemsTest, FailureProductWrapsAroundIn32Bits)
{
    // 1193056 h * 3600 s = 4295001600, which wraps to 34304: draw 1 gives q = 1
    // and the system fails as if its MTBF were about 10 hours.
    Sys(1).name = "Old Relay";
    Sys(1).mtbfHours = 1193056.0f;
    Load();
    ASSERT_EQ(ShipSystems[1].mtbf, 1193056);
    ShipSystemsRandom.state = StateForDraws(1, 16384);
    EXPECT_EQ(Tick(), "Damage 50 for MTBF failure: Old Relay\n");
    // Draw 2 wraps to 68608: q = 2, no failure.
    ShipSystems[1].condition = 100.0f;
    ShipSystemsRandom.state = StateForDraws(2, -1);
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(ShipSystems[1].condition, 100.0f);
}

TEST_F(ShipSystemsTest, FailureWithSecondDrawZeroChangesNothing)
{
    Sys(1).mtbfHours = 10.0f;
    Load();
    ShipSystemsRandom.state = StateForDraws(1, 0);
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(ShipSystems[1].condition, 100.0f);
}

TEST_F(ShipSystemsTest, MtbfZeroNeverFails)
{
    Load();
    for (int i = 0; i < 200; ++i) ASSERT_EQ(Tick(), "");
}

TEST_F(ShipSystemsTest, RepairReachesExactlyFullAndPrintsOnce)
{
    Sys(4).name = "Hull";
    Sys(4).condition = 40.0f;
    Sys(4).repairMinutes = 10.0f;
    Sys(5).condition = 40.0f;  // no repair time: stays
    Load();
    int printedAt = -1;
    for (int tick = 1; tick <= 400; ++tick) {
        std::string out = Tick();
        if (!out.empty()) {
            EXPECT_EQ(out, "System restored to 100: Hull\n");
            EXPECT_EQ(printedAt, -1) << "printed twice";
            printedAt = tick;
            EXPECT_EQ(ShipSystems[4].condition, 100.0f);
        } else if (printedAt < 0) {
            EXPECT_LT(ShipSystems[4].condition, 100.0f);
        }
    }
    // 100 / 60 / 10 per tick from 40: about 360 ticks.
    EXPECT_NEAR(printedAt, 360, 1);
    EXPECT_EQ(ShipSystems[4].condition, 100.0f);
    EXPECT_EQ(ShipSystems[5].condition, 40.0f);
}

TEST_F(ShipSystemsTest, SwitchLossAndRecoveryPrintOncePerChange)
{
    Sys(10).name = "Landing Lights";
    Sys(10).link1Primary = 0.0f;
    Load();
    EXPECT_EQ(Tick(), "");
    ShipSystems[10].switchOn = 0;
    EXPECT_EQ(Tick(), "Lost power: Landing Lights\n");
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(ShipSystems[10].withoutPower, 1);
    ShipSystems[10].switchOn = 1;
    EXPECT_EQ(Tick(), "Resumed operation: Landing Lights\n");
    EXPECT_EQ(Tick(), "");
}

TEST_F(ShipSystemsTest, AutomaticBypassFeedsTheLowerNumberedSystemOnly)
{
    Sys(1).name = "Main";
    Sys(1).link1Primary = 0.0f;
    // The last system, so that its claim is also released each second.
    Sys(44).name = "Shunt";
    Sys(44).type = 3;
    Sys(44).automatic = 1.0f;
    Sys(3).name = "A";
    Sys(3).link1Primary = 1.0f;
    Sys(3).link1Alternate = 44.0f;
    Sys(4).name = "B";
    Sys(4).link2Primary = 1.0f;
    Sys(4).link2Alternate = 44.0f;
    Load();
    EXPECT_EQ(Tick(), "");

    ShipSystems[1].switchOn = 0;
    EXPECT_EQ(Tick(), "Lost power: Main\nAuto-bypass/shunt: Shunt\nLost power: B\n");
    EXPECT_EQ(ShipSystems[44].fedSystem, 3.0f);
    EXPECT_EQ(ShipSystems[3].withoutPower, 0);
    // The claim lasts one second and is renewed each tick.
    EXPECT_EQ(Tick(), "Auto-bypass/shunt: Shunt\n");

    ShipSystems[1].switchOn = 1;
    EXPECT_EQ(Tick(), "Resumed operation: Main\nResumed operation: B\n");
    EXPECT_EQ(ShipSystems[44].fedSystem, 0.0f);
}

TEST_F(ShipSystemsTest, ManualBypassIsIndicatedEverySecond)
{
    Sys(1).name = "Main";
    Sys(1).link1Primary = 0.0f;
    Sys(2).name = "Crosslink";
    Sys(2).type = 3;
    Sys(2).automatic = 0.5f;
    Sys(3).name = "Airlock";
    Sys(3).link3Primary = 1.0f;
    Sys(3).link3Alternate = 2.0f;
    Load();
    ShipSystems[1].switchOn = 0;
    EXPECT_EQ(Tick(), "Lost power: Main\nManual bypass/shunt indicated: Crosslink\nLost power: Airlock\n");
    EXPECT_EQ(Tick(), "Manual bypass/shunt indicated: Crosslink\n");
    EXPECT_EQ(Tick(), "Manual bypass/shunt indicated: Crosslink\n");
    EXPECT_EQ(ShipSystems[2].fedSystem, 0.0f);
}

TEST_F(ShipSystemsTest, HigherNumberedSourceIsSeenOneSecondLater)
{
    Sys(10).name = "Bus";
    Sys(10).link1Primary = 0.0f;
    Sys(5).name = "Early";
    Sys(5).link1Primary = 10.0f;
    Sys(15).name = "Late";
    Sys(15).link1Primary = 10.0f;
    Load();
    ShipSystems[10].switchOn = 0;
    EXPECT_EQ(Tick(), "Lost power: Bus\nLost power: Late\n");
    EXPECT_EQ(Tick(), "Lost power: Early\n");
    ShipSystems[10].switchOn = 1;
    EXPECT_EQ(Tick(), "Resumed operation: Bus\nResumed operation: Late\n");
    EXPECT_EQ(Tick(), "Resumed operation: Early\n");
}

TEST_F(ShipSystemsTest, EmptyLinksAreAlwaysPoweredAndPrimaryNoneWithAlternateNeedsIt)
{
    Sys(1).name = "Free";
    Sys(2).name = "Needs alternate";
    Sys(2).link1Primary = -1.0f;
    Sys(2).link1Alternate = 0.0f;  // its own switch
    Load();
    EXPECT_EQ(Tick(), "");
    ShipSystems[2].switchOn = 0;
    ShipSystems[1].switchOn = 0;
    EXPECT_EQ(Tick(), "Lost power: Needs alternate\n");
    EXPECT_EQ(ShipSystems[1].withoutPower, 0);
}

}  // namespace
