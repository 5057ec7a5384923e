#pragma once
// Conversions between SDL's joystick and haptic values and the DirectInput-shaped
// ones, kept apart so they can be checked without a device.
#include "platform/input/dinput.h"

#include <cstdint>

union SDL_HapticEffect;

// A raw SDL axis value (-32768..32767) on the range set for the axis.
LONG ScaleAxis(int raw, LONG minimum, LONG maximum);

// An SDL hat position (SDL_HAT_* bits) as hundredths of a degree clockwise from
// forward; centred (or an impossible combination) is POV_CENTERED.
DWORD HatToPov(std::uint8_t hat);

// A force magnitude on the 0..10000 scale as SDL's 16-bit level. Magnitudes are
// clamped to 0..10000 first, so a large one never wraps to the opposite force.
std::int16_t ForceLevel(long long magnitude);

// Whether a haptic device that supports the SDL_HAPTIC_* bits of supported can
// play both effects of a force-feedback stick (a constant force and a sine).
// Rumble-only gamepads cannot, and count as plain controllers.
bool PlaysStickEffects(unsigned int supported);

// Index of the twist axis among the axes SDL reports for an event device whose
// absolute-axis bits are absBits (bit n set: axis code n present). SDL numbers
// the axes present in code order, hats left out. -1 when the device has no
// twist axis code.
int TwistAxisFromAbsBits(const unsigned long* absBits, int bitCount);

// Writes the parts of a DirectInput effect named by flags (DIEP_*) into an SDL
// effect: a constant force stays constant, a square wave becomes a sine (SDL has no
// square) with the same period; directions are Cartesian, INFINITE is SDL's
// infinity. DIERR_INVALIDPARAM for a record that does not fit the kind.
HRESULT ApplyEffectParameters(SDL_HapticEffect& out, const GUID& kind, const DIEFFECT* effect, DWORD flags);
