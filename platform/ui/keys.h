#pragma once
// Key translation: display key codes to virtual keys, and virtual keys to
// characters (US layout) for TranslateMessage.
#include "platform/ui/win_types.h"

union SDL_Event;

// Virtual key of a display key event, 0 when the key has none. scanCode and
// extended receive the keyboard scan code and the extended-key bit. With
// NumLock off the keypad's digit and decimal keys are the navigation keys
// printed on them (keypad 1 is END), as on the desktop platform.
WORD VirtualKeyFromDisplayKey(int sdlKeycode, int sdlScancode, bool numLock, WORD* scanCode, bool* extended);
// Scan code and extended bit of a virtual key (for keys injected by tests).
WORD ScanCodeOfVirtualKey(WORD vk, bool* extended);
// Character that a key-down of vk produces with the given modifiers; 0 for none.
WORD CharacterOfVirtualKey(WORD vk, bool shift, bool control, bool capsLock, bool numLock);
