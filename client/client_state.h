#pragma once
// The console client's shared records: vessel table, universe clock, planet
// rotation, peer slots, session flags and the log file.
//
// Threads: the main thread (console loop) and the network handler threads.
// Lock order: a thread holds at most one ship lock and at most one slot lock,
// never both; the time lock and the rotation lock are innermost (no other lock
// is taken while either is held). An operation needing a ship and the time takes
// the ship lock first.
#include "platform/math/d3dx_math.h"
#include "platform/sys/critical_section.h"

#include <atomic>
#include <cstdint>

constexpr int MAX_VESSELS = 8;
constexpr int MAX_PEER_SLOTS = 2;

// One vessel. Guarded by its own lock (every field).
struct ShipRecord {
    std::uint8_t present = 0;   // 1 while online (or the own vessel)
    std::uint8_t onGround = 0;  // 1 while resting on the ground
    D3DXVECTOR3 position;        // single-precision copy of doublePosition
    D3DXVECTOR3 velocity;        // planet-fixed, km/s
    D3DXVECTOR3 surfaceVelocity; // ground velocity under the vessel from the planet's spin
    double doublePosition[3] = {0.0, 0.0, 0.0};  // master position, km
    D3DXQUATERNION attitude;     // (0, 0, 0, 0) until the first attitude report
    D3DXMATRIX viewMatrix;       // Inverse(rotation(attitude)) * Translation(-position)
    float pitchRate = 0.0f;      // rad/s
    float rollRate = 0.0f;
    float yawRate = 0.0f;
    float registration = 0.0f;   // the pilot's registration number
    float lastUpdate = 0.0f;     // application time of the last motion step
    float groundRadius = 0.0f;   // centre-to-ground distance under the vessel; 0 until reported
    CriticalSectionLock lock;    // the ship lock
};

// The universe time base. Guarded by its lock (the time lock), innermost.
struct UniverseClockRecord {
    float secondsAtSetup = 0.0f;  // universe seconds within the hour at configuration
    float hours = 0.0f;           // universe hours
    float localReference = 0.0f;  // application time at configuration (+3600 per hour roll)
    std::int16_t playersOnline = 0;
    float registration = 0.0f;    // own registration; 1.0 = none assigned
    std::uint8_t propulsionEngaged = 0;
    std::uint8_t ownVessel = 0;
    CriticalSectionLock lock;     // the time lock
};

// The home planet's spin. Guarded by its lock (the rotation lock), innermost.
struct PlanetRotationRecord {
    float angle = 0.0f;  // radians
    float rate = 0.0f;   // rad/s
    D3DXMATRIX universeMatrix;
    CriticalSectionLock lock;  // the rotation lock
};

// One attached view program. Guarded by its lock (the slot lock).
struct PeerSlot {
    std::uint8_t occupied = 0;
    std::uint32_t dpnid = 0;
    std::uint8_t registrationZ = 0;       // registration message's Z, as an integer, 8 bits
    std::uint32_t registrationValue = 0;  // raw bits of the registration message's Y
    CriticalSectionLock lock;  // the slot lock
};

extern ShipRecord Ships[MAX_VESSELS];
extern UniverseClockRecord UniverseClock;
extern PlanetRotationRecord PlanetRotation;
extern PeerSlot PeerSlots[MAX_PEER_SLOTS];

// Session flags, read and written without a lock.
extern std::atomic<std::int32_t> SessionOnline;   // local session hosted and server alive
extern std::atomic<std::int32_t> SetupConfirmed;  // server configuration complete
extern std::atomic<std::int32_t> VerboseTrace;    // handlers print trace tokens

// --- Time arithmetic (each enters the time lock itself; the lock is re-entrant,
// so callers may hold it around a larger section) ---

// Universe seconds at the given application time:
// applicationTime + secondsAtSetup - localReference.
float UniverseSecondsAt(float applicationTime);
// Universe seconds now, from FrameClock(CLOCK_SINCE_RESET).
float UniverseSecondsNow();
// A vessel's universe time: secondsAtSetup + lastUpdate - localReference.
// The caller holds that vessel's ship lock (the time lock is taken inside it).
float VesselUniverseTime(const ShipRecord& ship);

// --- Log file "logfile.txt" ---

// Descriptor of the log file, -1 when not open.
extern std::atomic<int> LogFile;
// Longest line written, including its line end.
constexpr int LOG_LINE_MAX = 111;

// Opens "logfile.txt" in the working folder (write-only, created or truncated,
// text mode) into LogFile; the program runs it once before main. Returns the
// descriptor or -1.
int OpenLogFile();
// Closes LogFile (shut-down). A line written meanwhile is either complete before the
// close or not written at all; later lines are dropped.
void CloseLogFile();
// Formats one line into a 112-byte buffer and writes it with one write call.
// A line that does not fit is cut to LOG_LINE_MAX characters and still ends in
// "\n" (stored as CR LF). Returns the write's result, or -1 when the log is not open.
int WriteLogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The log lines of the network handlers.
// "OLD x%.3f y%.3f z%.3f @%.3f\n": position before a report, vessel's universe time.
int LogOldPosition(float x, float y, float z, float vesselTime);
// "2fS x%.3f y%.3f z%.3f %i@%.3f\n": reported position, vessel number, sample time.
int LogServerPosition(float x, float y, float z, int vessel, float sampleTime);
// "ADJ x%.3f y%.3f z%.3f d%.3f\n": reported position, interval carried forward.
int LogAdjustedPosition(float x, float y, float z, float interval);
// "4fS i%.3f j%.3f k%.3f @%.3f\n": velocity from the server, stored ground radius.
int LogServerVelocity(float x, float y, float z, float groundRadius);
// "4fP i%.3f j%.3f k%.3f @%.3f\n": own velocity from a view program, ground radius.
int LogPeerVelocity(float x, float y, float z, float groundRadius);

// A float from the network as an integer: truncated toward zero when finite and
// within [low, high], else 0.
std::int64_t CheckedTruncate(float value, std::int64_t low, std::int64_t high);

// Whole seconds of application time, for "[%06i] " lines.
int ConsoleSeconds();
