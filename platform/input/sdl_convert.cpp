#include "platform/input/sdl_convert.h"

#include <SDL.h>
#include <linux/input-event-codes.h>

#include <climits>

LONG ScaleAxis(int raw, LONG minimum, LONG maximum)
{
    if (raw < -32768) raw = -32768;
    if (raw > 32767) raw = 32767;
    const long long span = static_cast<long long>(maximum) - minimum;
    return static_cast<LONG>(minimum + (static_cast<long long>(raw) + 32768) * span / 65535);
}

DWORD HatToPov(std::uint8_t hat)
{
    switch (hat) {
    case SDL_HAT_UP: return 0;
    case SDL_HAT_RIGHTUP: return 4500;
    case SDL_HAT_RIGHT: return 9000;
    case SDL_HAT_RIGHTDOWN: return 13500;
    case SDL_HAT_DOWN: return 18000;
    case SDL_HAT_LEFTDOWN: return 22500;
    case SDL_HAT_LEFT: return 27000;
    case SDL_HAT_LEFTUP: return 31500;
    default: return POV_CENTERED;
    }
}

std::int16_t ForceLevel(long long magnitude)
{
    if (magnitude < 0) magnitude = 0;
    if (magnitude > DI_FFNOMINALMAX) magnitude = DI_FFNOMINALMAX;
    return static_cast<std::int16_t>(magnitude * 32767 / DI_FFNOMINALMAX);
}

int TwistAxisFromAbsBits(const unsigned long* absBits, int bitCount)
{
    constexpr int bitsPerWord = static_cast<int>(sizeof(unsigned long) * CHAR_BIT);
    auto present = [&](int code) {
        return code < bitCount && ((absBits[code / bitsPerWord] >> (code % bitsPerWord)) & 1UL) != 0;
    };
    if (!present(ABS_RZ)) return -1;
    int index = 0;
    for (int code = 0; code < ABS_RZ; ++code) {
        if (present(code)) ++index;
    }
    return index;
}
