// The message handler on its own thread against the main thread's use of the same
// records, as during a session (also run under ThreadSanitizer).
#include "view_test_support.h"

#include "view/ground.h"
#include "view/link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>

using namespace viewtest;

namespace {

TEST(LinkConcurrency, HandlerThreadAgainstTheSimulation)
{
    ResetViewState();
    Deliver(STATUS_CONFIGURATION, 0, 10.0f, 0.0f, 1.0f, 5.0f);
    for (std::uint8_t i = 0; i < 8; ++i) {
        Deliver(STATUS_VELOCITY, i, 0.0f, 0.0f, 0.0f, 2941.0f);
        Deliver(STATUS_POSITION, i, 0.0f, 2950.0f + i, 0.0f, 10.0f);
        Deliver(STATUS_ATTITUDE, i, 0.0f, 0.0f, 0.0f, 1.0f);
    }
    Deliver(STATUS_SETUP_COMPLETE, 0);
    ASSERT_TRUE(WaitForInitialState());

    std::atomic<bool> done{false};
    std::thread handler([&] {
        std::mt19937 gen(1);
        std::uniform_int_distribution<int> vessel(1, 7), type(0, 6);
        const std::uint8_t types[] = {1, 2, 4, 5, 6, 8, 8};
        for (int n = 0; n < 4000; ++n) {
            const std::uint8_t v = static_cast<std::uint8_t>(vessel(gen));
            const float f = static_cast<float>(n % 100) * 0.001f;
            Deliver(types[type(gen)], v, f, 2950.0f + f, f, 2941.0f + f);
            if (n % 7 == 0) Deliver(STATUS_RATES, 0, f, f, f, 0.0f);  // own rates set the sticks
            if (n % 11 == 0) DeliverEvent(MakeChatPacket(v, ("chat " + std::to_string(n)).c_str()));
            if (n % 13 == 0) {
                ProjectileRecord r{};
                r.LaunchTime = f;
                DeliverEvent(MakeProjectilePacket(v, r));
            }
        }
        done = true;
    });

    float t = 0.0f;
    int frames = 0;
    while (!done.load() || frames < 50) {
        t += 0.01f;
        for (std::int16_t v = 1; v < 8; ++v) {
            ScopedSection lock(Vessels[v].Lock);
            Vessels[v].LastUpdate = t;
            IntegrateVesselPosition(v, 0.01f);
            ApplyGravityAndGround(v, 0.01f);
        }
        for (Projectile& shot : Projectiles) {
            ScopedSection lock(shot.Lock);
            if (shot.Active && ++shot.FrameCounter > 3) shot.Active = 0;
        }
        {
            ScopedSection lock(Board.Lock);
            for (int k = 0; k < BOARD_LINE_COUNT; ++k) {
                ASSERT_LT(std::strlen(Board.Lines[k]), 80u);
                Board.Brightness[k] *= 0.99f;
            }
        }
        if (frames % 5 == 0) FireWeapon();
        const float stick = StickPitch.load() + StickRoll.load() + StickYaw.load();
        ASSERT_TRUE(stick >= 0.0f);
        ++frames;
    }
    handler.join();
    EXPECT_EQ(OwnVesselIndex.load(), 0);
    EXPECT_FALSE(Recorder().sent.empty());
}

}  // namespace
