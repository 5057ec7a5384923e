// The message handler on its own thread while the frame runs, as during a session
// (also run under ThreadSanitizer).
#include "fly_fixture.h"
#include "view/link.h"

#include <atomic>
#include <cstring>
#include <thread>

TEST(FrameThreads, HandlerWritesVesselsShotsAndBoardDuringFiveThousandFrames)
{
    flytest::ResetFlightState();
    using viewtest::Deliver;
    Deliver(STATUS_CONFIGURATION, 2, 10.0f, 0.0f, 1.0f, 5.0f);
    for (std::uint8_t i = 0; i < 8; ++i) {
        Deliver(STATUS_VELOCITY, i, 0.0f, 0.1f, 0.0f, 2941.0f);
        Deliver(STATUS_POSITION, i, 0.0f, 2950.0f + i, 0.0f, 10.0f);
        Deliver(STATUS_ATTITUDE, i, 0.0f, 0.0f, 0.0f, 1.0f);
    }
    Deliver(STATUS_SETUP_COMPLETE, 0);
    ASSERT_TRUE(WaitForInitialState());
    PropulsionEnabled = 1;
    AltitudeMSL = 12.0f;   // as if a frame had been drawn: the aerodynamics run too

    std::atomic<bool> done{false};
    std::thread handler([&] {
        const std::uint8_t types[] = {1, 2, 4, 6, 8, 5};
        for (int n = 0; !done.load(); ++n) {
            const std::uint8_t v = static_cast<std::uint8_t>(n % 8);   // the own vessel 2 too
            const float f = static_cast<float>(n % 50) * 0.001f;
            Deliver(types[n % 6], v, f, 2950.0f + f, f, 2941.0f + f);
            if (n % 7 == 0) {
                const ProjectileRecord shot{{2950.0f, 0.0f, f}, {0.0f, 0.0f, -0.5f}, 9.0f};
                viewtest::DeliverEvent(MakeProjectilePacket(v, shot));
            }
            if (n % 11 == 0) viewtest::DeliverEvent(MakeChatPacket(v, "hello"));
        }
    });

    FrameContext frame;
    frame.sleep = false;
    int failures = 0;
    for (int k = 0; k < 5000; ++k) {
        frame.t = 10.0f + static_cast<float>(k) * 0.01f;
        frame.dt = 0.01f;
        if (SimulateFrame(frame) != S_OK) ++failures;
        if (k % 250 == 0) FireWeapon();
    }
    done = true;
    handler.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(FirstFrameDone, 1);
}
