#pragma once
// The one application clock of a process: a stopwatch with pause, resume and step.
#include <cstdint>

enum FrameClockCommand : std::int32_t {
    CLOCK_RESET = 0,
    CLOCK_RESUME = 1,
    CLOCK_PAUSE = 2,
    CLOCK_STEP = 3,
    CLOCK_ABSOLUTE = 4,
    CLOCK_SINCE_RESET = 5,
    CLOCK_DELTA = 6,
};

// Applies one command; returns seconds (or -1.0 for an unknown command).
float FrameClock(std::int32_t command);
