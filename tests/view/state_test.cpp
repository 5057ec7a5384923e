// The shared records' locks.
#include "view/state.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

bool TakenElsewhere(CriticalSectionLock& lock)
{
    bool took = false;
    std::thread other([&] {
        took = lock.TryEnter();
        if (took) lock.Leave();
    });
    other.join();
    return !took;
}

// The owner may enter again; another thread gets the lock only after the last leave.
TEST(ViewState, VesselLocksAreReEntrantAndHeldUntilTheLastLeave)
{
    CriticalSectionLock& lock = Vessels[2].Lock;
    lock.Enter();
    lock.Enter();
    EXPECT_TRUE(TakenElsewhere(lock));
    lock.Leave();
    EXPECT_TRUE(TakenElsewhere(lock));
    lock.Leave();
    EXPECT_FALSE(TakenElsewhere(lock));
}

}  // namespace
