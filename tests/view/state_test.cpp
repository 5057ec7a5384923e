// Program-start values; runs in its own process so nothing has touched them.
#include "view/log_file.h"
#include "view/state.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ViewStateAtStart, SharedValuesHaveTheirStartValues)
{
    EXPECT_EQ(OwnVesselIndex.load(), 255);
    EXPECT_EQ(InitialStateComplete.load(), 0);
    EXPECT_EQ(TargetIndex, -2);
    EXPECT_EQ(AltitudeMSL, -1.0f);
    EXPECT_EQ(RvrSetting, 2.0f);
    EXPECT_EQ(ThrustAugEnabled, 1);
    EXPECT_EQ(HomeObjectIndex, 0);
    EXPECT_EQ(LogDescriptor.load(), -1);
    EXPECT_EQ(MainWindow.load(), nullptr);
    EXPECT_EQ(HostAddress[0], u'\0');
    for (const VesselState& v : Vessels) {
        EXPECT_EQ(v.Present, 0);
        EXPECT_EQ(v.GroundRadius, 0.0f);
        EXPECT_EQ(v.BlinkBits, 0u);
    }
    for (const Projectile& p : Projectiles) EXPECT_EQ(p.Active, 0);
    for (int i = 0; i < BOARD_LINE_COUNT; ++i) {
        EXPECT_EQ(Board.Lines[i][0], '\0');
        EXPECT_EQ(Board.Brightness[i], 0.0f);
    }
}

TEST(ViewStateAtStart, VesselLocksAreReEntrant)
{
    ScopedSection outer(Vessels[2].Lock);
    ScopedSection inner(Vessels[2].Lock);
    SUCCEED();
}

}  // namespace
