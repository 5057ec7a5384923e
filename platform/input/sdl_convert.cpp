#include "platform/input/sdl_convert.h"

#include <SDL.h>
#include <linux/input-event-codes.h>

#include <algorithm>
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

bool PlaysStickEffects(unsigned int supported)
{
    return (supported & SDL_HAPTIC_CONSTANT) != 0 && (supported & SDL_HAPTIC_SINE) != 0;
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

HRESULT ApplyEffectParameters(SDL_HapticEffect& out, const GUID& kind, const DIEFFECT* effect, DWORD flags)
{
    if (effect == nullptr || effect->dwSize != sizeof(DIEFFECT)) return DIERR_INVALIDPARAM;
    const bool constant = kind == GUID_ConstantForce;
    if (out.type == 0) {
        out.type = constant ? SDL_HAPTIC_CONSTANT : SDL_HAPTIC_SINE;
    }
    SDL_HapticDirection* direction = constant ? &out.constant.direction : &out.periodic.direction;
    if (flags & DIEP_DURATION) {
        const Uint32 length = effect->dwDuration == INFINITE ? SDL_HAPTIC_INFINITY : effect->dwDuration / 1000;
        if (constant) out.constant.length = length;
        else out.periodic.length = length;
    }
    if (flags & DIEP_DIRECTION) {
        if ((effect->dwFlags & DIEFF_CARTESIAN) == 0 || effect->rglDirection == nullptr || effect->cAxes < 1)
            return DIERR_INVALIDPARAM;
        direction->type = SDL_HAPTIC_CARTESIAN;
        // Cartesian: (roll, pitch) as X and Y.
        for (int i = 0; i < 3; ++i)
            direction->dir[i] = i < static_cast<int>(effect->cAxes) && i < 2 ? effect->rglDirection[i] : 0;
    }
    if (flags & DIEP_TYPESPECIFICPARAMS) {
        if (effect->lpvTypeSpecificParams == nullptr) return DIERR_INVALIDPARAM;
        if (constant) {
            if (effect->cbTypeSpecificParams != sizeof(DICONSTANTFORCE)) return DIERR_INVALIDPARAM;
            const auto* p = static_cast<const DICONSTANTFORCE*>(effect->lpvTypeSpecificParams);
            out.constant.level = ForceLevel(p->lMagnitude);
        } else {
            if (effect->cbTypeSpecificParams != sizeof(DIPERIODIC)) return DIERR_INVALIDPARAM;
            const auto* p = static_cast<const DIPERIODIC*>(effect->lpvTypeSpecificParams);
            out.periodic.magnitude = ForceLevel(p->dwMagnitude);
            out.periodic.offset = 0;   // vibration about the centre
            out.periodic.phase = static_cast<Uint16>(p->dwPhase % 36000);
            out.periodic.period = static_cast<Uint16>(std::min<DWORD>(p->dwPeriod / 1000, 0xFFFF));
        }
    }
    return DI_OK;
}
