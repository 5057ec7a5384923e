#include "view/universe.h"

#include "platform/sys/crt.h"
#include "view/log_file.h"
#include "view/state.h"

#include <cmath>
#include <cstring>
#include <utility>

UniverseObject UniverseObjects[UNIVERSE_OBJECT_COUNT];

namespace {

constexpr long RECORD_BASE = 999;
constexpr long RECORD_SIZE = 1000;

// Reads size bytes at offset into target; target is left untouched unless all arrive.
bool ReadField(int fd, long offset, void* target, unsigned size)
{
    unsigned char buffer[8];
    if (size > sizeof buffer) return false;
    if (crt::Seek(fd, offset, crt::SEEK_SET_) != offset) return false;
    if (crt::Read(fd, buffer, size) != static_cast<int>(size)) return false;
    std::memcpy(target, buffer, size);
    return true;
}

void ReadFloat(int fd, long offset, float* target) { ReadField(fd, offset, target, 4); }

}  // namespace

std::uint8_t PolygonObjectFromFloat(float value)
{
    // Only values that truncate to 0..7 name a polygon object (NaN fails both tests).
    if (!(value > -1.0f && value < static_cast<float>(POLYGON_OBJECT_COUNT))) return POLYGON_OBJECT_NONE;
    return static_cast<std::uint8_t>(static_cast<int>(value));
}

HRESULT LoadUniverseObjects(const char* path)
{
    WriteLogText("OneTimeSceneInit() called!\n");
    int fd = crt::Open(path, crt::O_RDONLY_ | crt::O_BINARY_);
    if (fd < 0) {
        WriteLogText("OneTimeSceneInit() failed to load UNIVERSE.DAT file!\n");
        return E_FAIL;
    }

    for (int i = 0; i < UNIVERSE_OBJECT_COUNT; ++i) {
        UniverseObject& o = UniverseObjects[i];
        const long base = RECORD_BASE + RECORD_SIZE * i;
        ReadField(fd, base + 0, &o.Kind, 2);
        ReadFloat(fd, base + 2, &o.AngleA);
        ReadFloat(fd, base + 6, &o.AngleB);
        ReadFloat(fd, base + 10, &o.AngleC);
        ReadFloat(fd, base + 14, &o.Distance);
        ReadFloat(fd, base + 18, &o.RateB);
        ReadFloat(fd, base + 22, &o.RateA);
        ReadFloat(fd, base + 26, &o.Scale);
        ReadFloat(fd, base + 30, &o.Tilt);
        ReadFloat(fd, base + 64, &o.HitRadius);
        // A polygon number that does not arrive keeps the entry's previous one.
        float polygon = 0.0f;
        if (ReadField(fd, base + 68, &polygon, 4)) o.PolygonObject = PolygonObjectFromFloat(polygon);
    }

    // Bubble sort by kind, descending; equal kinds keep their file order.
    bool swapped = true;
    while (swapped) {
        swapped = false;
        for (int i = 0; i < UNIVERSE_OBJECT_COUNT - 1; ++i) {
            if (UniverseObjects[i].Kind < UniverseObjects[i + 1].Kind) {
                std::swap(UniverseObjects[i], UniverseObjects[i + 1]);
                swapped = true;
            }
        }
    }

    for (int i = 0; i < UNIVERSE_OBJECT_COUNT; ++i) {
        UniverseObject& o = UniverseObjects[i];
        if (o.Kind == KIND_HOME_PLANET) HomeObjectIndex = static_cast<std::uint8_t>(i);
        if (o.Kind == KIND_STATION) {
            o.BeaconInterval = 0.1f;
            o.LastBeacon = 0.0f;
        }
    }

    crt::Close(fd);
    WriteLogText("OneTimeSceneInit() exiting successfully!\n");
    return S_OK;
}
