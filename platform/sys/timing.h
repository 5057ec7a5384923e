#pragma once
// Time sources: the high-resolution counter, the millisecond counter, Sleep,
// and the x87 precision setting.
#include <cstdint>

// Counter ticks per second; returns false when no counter exists.
bool QueryPerformanceFrequency(std::int64_t* frequency);
// Current counter value (monotonic).
bool QueryPerformanceCounter(std::int64_t* count);
// Milliseconds since an arbitrary origin, wrapping at 2^32.
std::uint32_t timeGetTime();
void Sleep(std::uint32_t milliseconds);

// Sets the x87 precision control to 64-bit mantissa where the CPU has an x87 unit.
void SetX87Precision64();
// Reads the x87 precision-control bits (0 where there is no x87 unit).
unsigned GetX87PrecisionControl();
