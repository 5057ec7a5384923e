#pragma once
// Lets tests script the clock's time source and start from a freshly loaded state.
#include <cstdint>

struct FrameClockTickSource {
    // Same contracts as QueryPerformanceFrequency, QueryPerformanceCounter and timeGetTime.
    bool (*frequency)(std::int64_t* ticksPerSecond);
    bool (*counter)(std::int64_t* ticks);
    std::uint32_t (*milliseconds)();
};

// Replaces the time source; nullptr restores the system's. The source object must
// outlive its use.
void SetFrameClockTickSource(const FrameClockTickSource* source);

// Puts the clock back into its load-time state (not initialised, paused flag 1).
void ResetFrameClockForTest();
