#include "client/client_state.h"

#include "client/ship_systems.h"

#include "platform/sys/crt.h"
#include "tests/support/scratch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

// The shared records as they stand before any test touches them: every field
// zero, whatever the record (nothing but the locks is set up at load).
bool AllZero(const void* p, std::size_t n)
{
    const auto* b = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i)
        if (b[i] != 0) return false;
    return true;
}

struct LoadState {
    std::vector<std::string> nonZero;
    int flags = -1;
    bool logOpen = false;
};
LoadState g_atLoad;

class LoadStateSnapshot : public testing::Environment {
public:
    void SetUp() override
    {
        auto check = [](bool zero, std::string what) {
            if (!zero) g_atLoad.nonZero.push_back(std::move(what));
        };
        for (int i = 0; i < MAX_VESSELS; ++i) {
            const ShipRecord& s = Ships[i];
            const std::string n = "Ships[" + std::to_string(i) + "].";
            check(s.present == 0 && s.onGround == 0, n + "flags");
            check(AllZero(&s.position, sizeof s.position) && AllZero(&s.velocity, sizeof s.velocity) &&
                      AllZero(&s.surfaceVelocity, sizeof s.surfaceVelocity),
                  n + "vectors");
            check(AllZero(s.doublePosition, sizeof s.doublePosition), n + "doublePosition");
            check(AllZero(&s.attitude, sizeof s.attitude), n + "attitude");
            check(AllZero(&s.viewMatrix, sizeof s.viewMatrix), n + "viewMatrix");
            check(s.pitchRate == 0 && s.rollRate == 0 && s.yawRate == 0, n + "rates");
            check(s.registration == 0 && s.lastUpdate == 0 && s.groundRadius == 0, n + "registration/time/radius");
        }
        const UniverseClockRecord& c = UniverseClock;
        check(c.secondsAtSetup == 0 && c.hours == 0 && c.localReference == 0 && c.playersOnline == 0 &&
                  c.registration == 0 && c.propulsionEngaged == 0 && c.ownVessel == 0,
              "UniverseClock");
        check(PlanetRotation.angle == 0 && PlanetRotation.rate == 0 &&
                  AllZero(&PlanetRotation.universeMatrix, sizeof PlanetRotation.universeMatrix),
              "PlanetRotation");
        for (int i = 0; i < MAX_PEER_SLOTS; ++i) {
            const PeerSlot& p = PeerSlots[i];
            check(p.occupied == 0 && p.dpnid == 0 && p.registrationZ == 0 && p.registrationValue == 0,
                  "PeerSlots[" + std::to_string(i) + "]");
        }
        for (int i = 0; i < SHIP_SYSTEM_SLOTS; ++i) {
            const ShipSystem& y = ShipSystems[i];
            check(y.condition == 0 && y.fullCondition == 0 && y.mtbf == 0 && y.switchOn == 0 &&
                      y.withoutPower == 0 && y.type == 0 && y.link1Primary == 0 && y.fedSystem == 0 &&
                      y.name[0] == 0,
                  "ShipSystems[" + std::to_string(i) + "]");
        }
        g_atLoad.flags = SessionOnline.load() | SetupConfirmed.load() | VerboseTrace.load();
        g_atLoad.logOpen = LogFile.load() >= 0;
    }
};
[[maybe_unused]] testing::Environment* const g_loadStateSnapshot =
    testing::AddGlobalTestEnvironment(new LoadStateSnapshot);

TEST(ClientRecordsTest, EveryRecordIsZeroAtLoad)
{
    EXPECT_TRUE(g_atLoad.nonZero.empty()) << testing::PrintToString(g_atLoad.nonZero);
    EXPECT_EQ(g_atLoad.flags, 0);
    // The program opens the log before main; the library alone opens none, so no
    // test binary writes a log into the folder it starts in.
    EXPECT_FALSE(g_atLoad.logOpen);
}

// Reopens the log inside a fresh folder for each test.
class LogFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        CloseLogFile();
        ASSERT_GE(OpenLogFile(), 0);
    }
    void TearDown() override { CloseLogFile(); }
    std::string Log() const { return testsupport::ReadFile("logfile.txt"); }

    testsupport::WorkingFolder folder_{"client_core"};
};

TEST_F(LogFileTest, HandlerLinesEndInCrLf)
{
    LogOldPosition(1.0f, -2.5f, 3.25f, 10.0f);
    LogServerPosition(2939.6f, 0.0f, -1.0f, 5, 6.5f);
    LogAdjustedPosition(1.0f, 2.0f, 3.0f, -0.125f);
    LogServerVelocity(0.1f, 0.2f, 0.3f, 2939.601f);
    LogPeerVelocity(-0.1f, 0.0f, 0.0f, 2939.6f);
    EXPECT_EQ(Log(),
              "OLD x1.000 y-2.500 z3.250 @10.000\r\n"
              "2fS x2939.600 y0.000 z-1.000 5@6.500\r\n"
              "ADJ x1.000 y2.000 z3.000 d-0.125\r\n"
              "4fS i0.100 j0.200 k0.300 @2939.601\r\n"
              "4fP i-0.100 j0.000 k0.000 @2939.600\r\n");
}

TEST_F(LogFileTest, LongLinesAreCutAt111CharactersAndKeepTheirLineEnd)
{
    const float big = std::numeric_limits<float>::max();
    char full[512];
    int fullLength = std::snprintf(full, sizeof full, "OLD x%.3f y%.3f z%.3f @%.3f\n", big, -big, big, big);
    ASSERT_GT(fullLength, LOG_LINE_MAX);

    LogOldPosition(big, -big, big, big);
    LogAdjustedPosition(1.0f, 2.0f, 3.0f, 4.0f);
    std::string log = Log();
    std::string first = log.substr(0, log.find("\r\n") + 2);
    // 110 characters of text, then the line end (CR LF in the file).
    EXPECT_EQ(first.size(), static_cast<size_t>(LOG_LINE_MAX + 1));
    EXPECT_EQ(first.substr(0, LOG_LINE_MAX - 1), std::string(full, LOG_LINE_MAX - 1));
    EXPECT_EQ(log.substr(first.size()), "ADJ x1.000 y2.000 z3.000 d4.000\r\n");

    // A line of exactly 111 characters is kept whole.
    std::string exact(LOG_LINE_MAX - 1, 'a');
    CloseLogFile();
    OpenLogFile();
    WriteLogLine("%s\n", exact.c_str());
    EXPECT_EQ(Log(), exact + "\r\n");
}

TEST_F(LogFileTest, NonFiniteValuesAreWritten)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    LogServerVelocity(nan, inf, -inf, nan);
    EXPECT_EQ(Log(), "4fS inan jinf k-inf @nan\r\n");
}

TEST_F(LogFileTest, ReopeningTruncatesAndClosedLogIgnoresWrites)
{
    WriteLogLine("first run\n");
    CloseLogFile();
    EXPECT_EQ(WriteLogLine("lost\n"), -1);
    EXPECT_EQ(LogFile.load(), -1);
    ASSERT_GE(OpenLogFile(), 0);
    WriteLogLine("second run\n");
    EXPECT_EQ(Log(), "second run\r\n");
}

TEST_F(LogFileTest, ConcurrentWritersNeverInterleaveWithinALine)
{
    constexpr int kThreads = 8;
    constexpr int kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                // Different threads write lines of different lengths.
                std::string pad(static_cast<size_t>(10 + t * 11), static_cast<char>('a' + t));
                WriteLogLine("T%d L%04d %s\n", t, i, pad.c_str());
            }
        });
    }
    for (auto& th : threads) th.join();

    std::string log = Log();
    std::set<std::string> seen;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        std::string line = log.substr(start, end - start);
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "T%d L%d", &t, &i), 2) << line;
        ASSERT_TRUE(t >= 0 && t < kThreads) << line;
        std::string pad(static_cast<size_t>(10 + t * 11), static_cast<char>('a' + t));
        char expect[128];
        std::snprintf(expect, sizeof expect, "T%d L%04d %s", t, i, pad.c_str());
        EXPECT_EQ(line, expect);
        seen.insert(line);
        start = end + 2;
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
}

// Writers flood the log while it is closed and the same descriptor number is taken
// by the next file opened: nothing of theirs may land in that file.
TEST_F(LogFileTest, LinesRacingTheCloseNeverReachTheFileOpenedAfterIt)
{
    for (int round = 0; round < 40; ++round) {
        CloseLogFile();
        ASSERT_GE(OpenLogFile(), 0);
        std::atomic<bool> stop{false};
        std::atomic<int> written{0};
        std::vector<std::thread> writers;
        for (int t = 0; t < 4; ++t) {
            writers.emplace_back([&] {
                while (!stop.load()) {
                    if (WriteLogLine("2fS x1.000 y2.000 z3.000 4@5.000\n") > 0) written.fetch_add(1);
                }
            });
        }
        while (written.load() < 20) std::this_thread::yield();
        const int fd = LogFile.load();
        CloseLogFile();
        const int other = crt::Open("other.txt", crt::O_WRONLY_ | crt::O_CREAT_ | crt::O_TRUNC_ | crt::O_BINARY_);
        stop.store(true);
        for (auto& w : writers) w.join();
        ASSERT_EQ(other, fd);  // the lowest free number: the log's
        crt::Close(other);
        ASSERT_EQ(testsupport::ReadFile("other.txt"), "") << round;
    }
}

class TimeArithmeticTest : public testing::Test {
protected:
    void SetUp() override { Set(0.0f, 0.0f); }
    void TearDown() override { Set(0.0f, 0.0f); }
    static void Set(float secondsAtSetup, float localReference)
    {
        ScopedSection time(UniverseClock.lock);
        UniverseClock.secondsAtSetup = secondsAtSetup;
        UniverseClock.localReference = localReference;
    }
};

TEST_F(TimeArithmeticTest, WithoutConfigurationUniverseTimeIsApplicationTime)
{
    EXPECT_EQ(UniverseSecondsAt(12.5f), 12.5f);
    {
        ScopedSection ship(Ships[3].lock);
        Ships[3].lastUpdate = 7.25f;
        EXPECT_EQ(VesselUniverseTime(Ships[3]), 7.25f);
        Ships[3].lastUpdate = 0.0f;
    }
}

TEST_F(TimeArithmeticTest, SetUpSecondsAndLocalReferenceShiftTheClock)
{
    Set(1800.0f, 20.0f);
    EXPECT_EQ(UniverseSecondsAt(25.0f), 1805.0f);
    // After an hour roll the local reference is 3600 later.
    Set(1800.0f, 3620.0f);
    EXPECT_EQ(UniverseSecondsAt(3625.0f), 1805.0f);
    {
        ScopedSection ship(Ships[2].lock);
        Ships[2].lastUpdate = 3630.0f;
        EXPECT_EQ(VesselUniverseTime(Ships[2]), 1810.0f);
        Ships[2].lastUpdate = 0.0f;
    }
    // The time lock is re-entrant: a caller may hold it around the arithmetic.
    ScopedSection time(UniverseClock.lock);
    EXPECT_EQ(UniverseSecondsAt(3620.0f), 1800.0f);
}

}  // namespace
