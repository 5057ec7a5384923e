#include "timing.h"

#include <chrono>
#include <thread>
#include <time.h>

bool QueryPerformanceFrequency(std::int64_t* frequency)
{
    if (!frequency) return false;
    *frequency = 1000000000;  // nanoseconds of CLOCK_MONOTONIC
    return true;
}

bool QueryPerformanceCounter(std::int64_t* count)
{
    if (!count) return false;
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    *count = static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    return true;
}

std::uint32_t timeGetTime()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

void Sleep(std::uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

#if defined(__i386__) || defined(__x86_64__)
void SetX87Precision64()
{
    unsigned short cw = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(cw));
    cw = static_cast<unsigned short>((cw & ~0x0300u) | 0x0300u);  // PC = 11: 64-bit mantissa
    __asm__ __volatile__("fldcw %0" : : "m"(cw));
}

unsigned GetX87PrecisionControl()
{
    unsigned short cw = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(cw));
    return (cw >> 8) & 3u;
}
#else
void SetX87Precision64() {}
unsigned GetX87PrecisionControl() { return 0; }
#endif
