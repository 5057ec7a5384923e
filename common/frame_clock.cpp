#include "common/frame_clock.h"

#include "common/frame_clock_test_hooks.h"
#include "platform/sys/timing.h"

#include <atomic>

namespace {

const FrameClockTickSource kSystemSource = {
    [](std::int64_t* f) { return QueryPerformanceFrequency(f); },
    [](std::int64_t* c) { return QueryPerformanceCounter(c); },
    [] { return timeGetTime(); },
};

std::atomic<const FrameClockTickSource*> g_source{&kSystemSource};

struct ClockState {
    std::int32_t initialised = 0;
    std::int32_t counterAvailable = 0;
    std::int64_t ticksPerSecond = 0;
    // Counter mode: ticks.
    std::int64_t stopTicks = 0;
    std::int64_t lastTicks = 0;
    std::int64_t baseTicks = 0;
    // Fallback mode: seconds.
    double stopSeconds = 0.0;
    double lastSeconds = 0.0;
    double baseSeconds = 0.0;
    // A pause is pending; starts at 1 so the first resume sets the time base.
    std::int32_t paused = 1;
};

ClockState g_state;
// One command at a time: a spin lock (no allocation, no system call).
std::atomic_flag g_busy = ATOMIC_FLAG_INIT;

struct SpinGuard {
    SpinGuard()
    {
        while (g_busy.test_and_set(std::memory_order_acquire)) {
            while (g_busy.test(std::memory_order_relaxed)) {
            }
        }
    }
    ~SpinGuard() { g_busy.clear(std::memory_order_release); }
};

float CounterCommand(ClockState& s, const FrameClockTickSource& src, std::int32_t command)
{
    std::int64_t sample = 0;
    if (s.stopTicks != 0 && command != CLOCK_RESUME && command != CLOCK_ABSOLUTE)
        sample = s.stopTicks;
    else
        src.counter(&sample);
    const double freq = static_cast<double>(s.ticksPerSecond);

    switch (command) {
    case CLOCK_RESET:
        s.baseTicks = s.lastTicks = sample;
        s.stopTicks = 0;
        s.paused = 0;
        return 0.0f;
    case CLOCK_RESUME:
        if (s.paused) s.baseTicks += sample - s.stopTicks;
        s.stopTicks = 0;
        s.lastTicks = sample;
        s.paused = 0;
        return 0.0f;
    case CLOCK_PAUSE:
        s.stopTicks = s.lastTicks = sample;
        s.paused = 1;
        return 0.0f;
    case CLOCK_STEP:
        s.stopTicks += s.ticksPerSecond / 10;
        return 0.0f;
    case CLOCK_ABSOLUTE:
        return static_cast<float>(static_cast<double>(sample) / freq);
    case CLOCK_SINCE_RESET:
        return static_cast<float>(static_cast<double>(sample - s.baseTicks) / freq);
    case CLOCK_DELTA: {
        double d = static_cast<double>(sample - s.lastTicks) / freq;
        s.lastTicks = sample;
        return static_cast<float>(d);
    }
    default:
        return -1.0f;
    }
}

float FallbackCommand(ClockState& s, const FrameClockTickSource& src, std::int32_t command)
{
    double sample;
    if (s.stopSeconds != 0.0 && command != CLOCK_RESUME && command != CLOCK_ABSOLUTE)
        sample = s.stopSeconds;
    else
        sample = static_cast<double>(src.milliseconds()) * 0.001;

    switch (command) {
    case CLOCK_RESET:
        s.baseSeconds = s.lastSeconds = sample;
        s.stopSeconds = 0.0;
        s.paused = 0;
        return 0.0f;
    case CLOCK_RESUME:
        if (s.paused) s.baseSeconds += sample - s.stopSeconds;
        s.stopSeconds = 0.0;
        s.lastSeconds = sample;
        s.paused = 0;
        return 0.0f;
    case CLOCK_PAUSE:
        s.stopSeconds = s.lastSeconds = sample;
        s.paused = 1;
        return 0.0f;
    case CLOCK_STEP:
        s.stopSeconds += static_cast<double>(0.1f);
        return 0.0f;
    case CLOCK_ABSOLUTE:
        return static_cast<float>(sample);
    case CLOCK_SINCE_RESET:
        return static_cast<float>(sample - s.baseSeconds);
    case CLOCK_DELTA: {
        double d = sample - s.lastSeconds;
        s.lastSeconds = sample;
        return static_cast<float>(d);
    }
    default:
        return -1.0f;
    }
}

}  // namespace

float FrameClock(std::int32_t command)
{
    SpinGuard guard;
    ClockState& s = g_state;
    const FrameClockTickSource& src = *g_source.load(std::memory_order_acquire);

    if (!s.initialised) {
        s.initialised = 1;
        std::int64_t freq = 0;
        // A counter that reports no positive rate is no use as a time base.
        if (src.frequency(&freq) && freq > 0) {
            s.ticksPerSecond = freq;
            s.counterAvailable = 1;
        }
    }
    if (command < CLOCK_RESET || command > CLOCK_DELTA) return -1.0f;
    return s.counterAvailable ? CounterCommand(s, src, command) : FallbackCommand(s, src, command);
}

void SetFrameClockTickSource(const FrameClockTickSource* source)
{
    SpinGuard guard;
    g_source.store(source ? source : &kSystemSource, std::memory_order_release);
}

void ResetFrameClockForTest()
{
    SpinGuard guard;
    g_state = ClockState{};
}
