#include "common/frame_clock.h"
#include "common/frame_clock_test_hooks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// Scripted time: the tests move these by hand.
std::atomic<std::int64_t> g_ticks{0};
std::atomic<std::int64_t> g_frequency{1000};
std::atomic<bool> g_hasCounter{true};
std::atomic<std::uint32_t> g_ms{0};
std::atomic<int> g_frequencyQueries{0};
std::atomic<bool> g_advancePerRead{false};

const FrameClockTickSource kScripted = {
    [](std::int64_t* f) {
        ++g_frequencyQueries;
        *f = g_frequency.load();
        return g_hasCounter.load();
    },
    [](std::int64_t* c) {
        *c = g_advancePerRead ? g_ticks.fetch_add(1) + 1 : g_ticks.load();
        return true;
    },
    [] { return g_ms.load(); },
};

class FrameClockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_ticks = 0;
        g_frequency = 1000;
        g_hasCounter = true;
        g_ms = 0;
        g_frequencyQueries = 0;
        g_advancePerRead = false;
        SetFrameClockTickSource(&kScripted);
        ResetFrameClockForTest();
    }
    void TearDown() override
    {
        SetFrameClockTickSource(nullptr);
        ResetFrameClockForTest();
    }
};

TEST_F(FrameClockTest, FirstResumeStartsApplicationTimeAtZero)
{
    g_ticks = 5000;
    // Before any resume the base is 0: application time is the absolute counter time.
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_SINCE_RESET), 5.0f);
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_RESUME), 0.0f);
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_SINCE_RESET), 0.0f);
    g_ticks = 6500;
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_SINCE_RESET), 1.5f);
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_ABSOLUTE), 6.5f);
    EXPECT_EQ(g_frequencyQueries.load(), 1);
}

TEST_F(FrameClockTest, PauseFreezesTimeAndResumeSkipsThePause)
{
    g_ticks = 1000;
    FrameClock(CLOCK_RESUME);
    g_ticks = 3000;
    FrameClock(CLOCK_PAUSE);
    g_ticks = 7000;
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_SINCE_RESET), 2.0f);
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_SINCE_RESET), 2.0f);
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_DELTA), 0.0f);
    // A second pause keeps the first stop time.
    FrameClock(CLOCK_PAUSE);
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_SINCE_RESET), 2.0f);
    // Absolute time is live even while stopped.
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_ABSOLUTE), 7.0f);

    FrameClock(CLOCK_RESUME);  // the 4 s stopped do not count
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_SINCE_RESET), 2.0f);
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_DELTA), 0.0f);
    g_ticks = 7250;
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_SINCE_RESET), 2.25f);
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_DELTA), 0.25f);
}

TEST_F(FrameClockTest, StepAdvancesAStoppedClockByATenthInWholeTicks)
{
    g_frequency = 1009;  // a tenth is 100 ticks (integer division)
    g_ticks = 0;
    FrameClock(CLOCK_RESUME);
    g_ticks = 1009;
    FrameClock(CLOCK_PAUSE);
    FrameClock(CLOCK_STEP);
    FrameClock(CLOCK_STEP);
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_SINCE_RESET), static_cast<float>(1209.0 / 1009.0));
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_DELTA), static_cast<float>(200.0 / 1009.0));
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_DELTA), 0.0f);
}

TEST_F(FrameClockTest, ResumeOnRunningClockOnlyMovesTheDeltaOrigin)
{
    g_ticks = 100;
    FrameClock(CLOCK_RESUME);
    g_ticks = 1100;
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_DELTA), 1.0f);
    g_ticks = 1600;
    FrameClock(CLOCK_RESUME);
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_SINCE_RESET), 1.5f);
    g_ticks = 1700;
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_DELTA), 0.1f);
}

TEST_F(FrameClockTest, ResetSetsBaseAndClearsThePendingPause)
{
    g_ticks = 2000;
    FrameClock(CLOCK_RESET);
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_SINCE_RESET), 0.0f);
    g_ticks = 3000;
    // Paused flag is 0 now: a resume does not move the base.
    FrameClock(CLOCK_RESUME);
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_SINCE_RESET), 1.0f);
    // A reset of a stopped clock takes the stop time as its sample.
    FrameClock(CLOCK_PAUSE);
    g_ticks = 4000;
    FrameClock(CLOCK_RESET);
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_SINCE_RESET), 1.0f);
}

TEST_F(FrameClockTest, UnknownCommandsReturnMinusOneAndChangeNothing)
{
    g_ticks = 500;
    FrameClock(CLOCK_RESUME);
    g_ticks = 800;
    EXPECT_FLOAT_EQ(FrameClock(7), -1.0f);
    EXPECT_FLOAT_EQ(FrameClock(-1), -1.0f);
    EXPECT_FLOAT_EQ(FrameClock(1000000), -1.0f);
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_DELTA), 0.3f);
}

TEST_F(FrameClockTest, UnknownCommandAsFirstCallStillChoosesTheMode)
{
    g_hasCounter = false;
    EXPECT_FLOAT_EQ(FrameClock(42), -1.0f);
    g_hasCounter = true;  // too late: the choice is never revisited
    g_ms = 2500;
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_ABSOLUTE), 2.5f);
    EXPECT_EQ(g_frequencyQueries.load(), 1);
}

TEST_F(FrameClockTest, FallbackUsesMillisecondsAndSinglePrecisionTenth)
{
    g_hasCounter = false;
    g_ms = 10000;
    FrameClock(CLOCK_RESUME);
    g_ms = 10250;
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_SINCE_RESET), 0.25f);
    FrameClock(CLOCK_PAUSE);
    g_ms = 20000;
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_DELTA), 0.0f);
    FrameClock(CLOCK_STEP);
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_SINCE_RESET), static_cast<float>(0.25 + 0.10000000149011612));
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_ABSOLUTE), 20.0f);
    FrameClock(CLOCK_RESUME);
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_SINCE_RESET), static_cast<float>(0.25 + 0.10000000149011612));
    // The millisecond count is unsigned: the top of its range is a large time.
    g_ms = 0xFFFFFFF0u;
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_ABSOLUTE), static_cast<float>(4294967280.0 * 0.001));
}

TEST_F(FrameClockTest, CounterWithoutRateFallsBackToMilliseconds)
{
    g_frequency = 0;
    g_ticks = 123456;
    g_ms = 4000;
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_ABSOLUTE), 4.0f);
}

TEST_F(FrameClockTest, ConcurrentDeltasShareOneLastTimeAndNeverTear)
{
    g_frequency = 1;
    g_ticks = 0;
    FrameClock(CLOCK_RESUME);
    g_advancePerRead = true;  // every counter read moves time on by one tick
    constexpr int kThreads = 4;
    constexpr int kCalls = 5000;
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kCalls; ++i) {
                // Each call reads the counter once, so it must see exactly one tick
                // since the previous delta of any thread.
                if (FrameClock(CLOCK_DELTA) != 1.0f) ++bad;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(bad.load(), 0);
    g_advancePerRead = false;
    EXPECT_FLOAT_EQ(FrameClock(CLOCK_SINCE_RESET), static_cast<float>(kThreads * kCalls));
}

TEST_F(FrameClockTest, SystemSourceRunsForward)
{
    SetFrameClockTickSource(nullptr);
    ResetFrameClockForTest();
    FrameClock(CLOCK_RESUME);
    float a = FrameClock(CLOCK_SINCE_RESET);
    EXPECT_GE(a, 0.0f);
    EXPECT_LT(a, 1.0f);
    EXPECT_GT(FrameClock(CLOCK_ABSOLUTE), 0.0f);
    EXPECT_GE(FrameClock(CLOCK_DELTA), 0.0f);
}

}  // namespace
