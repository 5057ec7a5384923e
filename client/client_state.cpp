#include "client/client_state.h"

#include "client/ship_systems.h"
#include "common/frame_clock.h"
#include "platform/sys/crt.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <mutex>

std::atomic<int> LogFile{-1};
std::atomic<std::int32_t> SessionOnline{0};
std::atomic<std::int32_t> SetupConfirmed{0};
std::atomic<std::int32_t> VerboseTrace{0};

namespace {
// Orders each line's write against the close: a handler thread never writes to a
// descriptor that was closed (and maybe reused) meanwhile. Constant-initialised, so
// usable before main.
std::mutex g_logLock;
}  // namespace

// The log is opened before main, when other files' static objects may not be
// constructed yet, so it uses the system calls directly and stores each "\n"
// as CR LF itself (text mode).
int OpenLogFile()
{
    std::lock_guard<std::mutex> lock(g_logLock);
    const int fd = crt::Open("logfile.txt", crt::O_WRONLY_ | crt::O_CREAT_ | crt::O_TRUNC_ | crt::O_TEXT_);
    LogFile.store(fd < 0 ? -1 : fd);
    return LogFile.load();
}

// Static records, constructed in this order before main and destroyed in reverse
// (the program opens the log before them).
ShipRecord Ships[MAX_VESSELS];
PlanetRotationRecord PlanetRotation;
PeerSlot PeerSlots[MAX_PEER_SLOTS];
ShipSystem ShipSystems[SHIP_SYSTEM_SLOTS];
UniverseClockRecord UniverseClock;

void CloseLogFile()
{
    std::lock_guard<std::mutex> lock(g_logLock);
    const int fd = LogFile.exchange(-1);
    if (fd >= 0) crt::Close(fd);
}

float UniverseSecondsAt(float applicationTime)
{
    ScopedSection time(UniverseClock.lock);
    return applicationTime + UniverseClock.secondsAtSetup - UniverseClock.localReference;
}

float UniverseSecondsNow() { return UniverseSecondsAt(FrameClock(CLOCK_SINCE_RESET)); }

float VesselUniverseTime(const ShipRecord& ship)
{
    ScopedSection time(UniverseClock.lock);
    return UniverseClock.secondsAtSetup + ship.lastUpdate - UniverseClock.localReference;
}

namespace {

int WriteLogLineV(const char* format, va_list args)
{
    char line[LOG_LINE_MAX + 1];
    int n = std::vsnprintf(line, sizeof line, format, args);
    if (n < 0) return -1;
    if (n > LOG_LINE_MAX) {
        // Cut: keep the line end so the next line starts on its own.
        n = LOG_LINE_MAX;
        line[LOG_LINE_MAX - 1] = '\n';
    }
    std::lock_guard<std::mutex> lock(g_logLock);
    const int fd = LogFile.load();
    if (fd < 0) return -1;
    // Text mode: each "\n" stored as CR LF, the whole line in one write.
    const int w = crt::Write(fd, line, static_cast<unsigned>(n));
    return w < 0 ? -1 : w;
}

}  // namespace

int WriteLogLine(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int r = WriteLogLineV(format, args);
    va_end(args);
    return r;
}

int LogOldPosition(float x, float y, float z, float vesselTime)
{
    return WriteLogLine("OLD x%.3f y%.3f z%.3f @%.3f\n", x, y, z, vesselTime);
}

int LogServerPosition(float x, float y, float z, int vessel, float sampleTime)
{
    return WriteLogLine("2fS x%.3f y%.3f z%.3f %i@%.3f\n", x, y, z, vessel, sampleTime);
}

int LogAdjustedPosition(float x, float y, float z, float interval)
{
    return WriteLogLine("ADJ x%.3f y%.3f z%.3f d%.3f\n", x, y, z, interval);
}

int LogServerVelocity(float x, float y, float z, float groundRadius)
{
    return WriteLogLine("4fS i%.3f j%.3f k%.3f @%.3f\n", x, y, z, groundRadius);
}

int LogPeerVelocity(float x, float y, float z, float groundRadius)
{
    return WriteLogLine("4fP i%.3f j%.3f k%.3f @%.3f\n", x, y, z, groundRadius);
}

int ConsoleSeconds() { return static_cast<int>(CheckedTruncate(FrameClock(CLOCK_SINCE_RESET), INT32_MIN, INT32_MAX)); }

std::int64_t CheckedTruncate(float value, std::int64_t low, std::int64_t high)
{
    if (!std::isfinite(value)) return 0;
    const double t = std::trunc(static_cast<double>(value));
    if (t < static_cast<double>(low) || t > static_cast<double>(high)) return 0;
    return static_cast<std::int64_t>(t);
}


// ---------------------------------------------------------------- sending and receiving
