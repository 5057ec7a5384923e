#include "platform/ui/keys.h"

#include <SDL2/SDL.h>

namespace {

struct ScanEntry {
    WORD vk;
    WORD scan;
    bool extended;
};

// Set-1 scan codes of the keys the programs can see.
constexpr ScanEntry kScanTable[] = {
    {VK_ESCAPE, 0x01, false}, {'1', 0x02, false}, {'2', 0x03, false}, {'3', 0x04, false}, {'4', 0x05, false},
    {'5', 0x06, false}, {'6', 0x07, false}, {'7', 0x08, false}, {'8', 0x09, false}, {'9', 0x0A, false},
    {'0', 0x0B, false}, {VK_OEM_MINUS, 0x0C, false}, {VK_OEM_PLUS, 0x0D, false}, {VK_BACK, 0x0E, false},
    {VK_TAB, 0x0F, false}, {'Q', 0x10, false}, {'W', 0x11, false}, {'E', 0x12, false}, {'R', 0x13, false},
    {'T', 0x14, false}, {'Y', 0x15, false}, {'U', 0x16, false}, {'I', 0x17, false}, {'O', 0x18, false},
    {'P', 0x19, false}, {VK_OEM_4, 0x1A, false}, {VK_OEM_6, 0x1B, false}, {VK_RETURN, 0x1C, false},
    {VK_CONTROL, 0x1D, false}, {'A', 0x1E, false}, {'S', 0x1F, false}, {'D', 0x20, false}, {'F', 0x21, false},
    {'G', 0x22, false}, {'H', 0x23, false}, {'J', 0x24, false}, {'K', 0x25, false}, {'L', 0x26, false},
    {VK_OEM_1, 0x27, false}, {VK_OEM_7, 0x28, false}, {VK_OEM_3, 0x29, false}, {VK_SHIFT, 0x2A, false},
    {VK_OEM_5, 0x2B, false}, {'Z', 0x2C, false}, {'X', 0x2D, false}, {'C', 0x2E, false}, {'V', 0x2F, false},
    {'B', 0x30, false}, {'N', 0x31, false}, {'M', 0x32, false}, {VK_OEM_COMMA, 0x33, false},
    {VK_OEM_PERIOD, 0x34, false}, {VK_OEM_2, 0x35, false}, {VK_MULTIPLY, 0x37, false}, {VK_MENU, 0x38, false},
    {VK_SPACE, 0x39, false}, {VK_CAPITAL, 0x3A, false}, {VK_F1, 0x3B, false}, {VK_F2, 0x3C, false},
    {VK_F3, 0x3D, false}, {VK_F4, 0x3E, false}, {VK_F5, 0x3F, false}, {VK_F6, 0x40, false}, {VK_F7, 0x41, false},
    {VK_F8, 0x42, false}, {VK_F9, 0x43, false}, {VK_F10, 0x44, false}, {VK_NUMLOCK, 0x45, false},
    {VK_SCROLL, 0x46, false}, {VK_NUMPAD7, 0x47, false}, {VK_NUMPAD8, 0x48, false}, {VK_NUMPAD9, 0x49, false},
    {VK_SUBTRACT, 0x4A, false}, {VK_NUMPAD4, 0x4B, false}, {VK_NUMPAD5, 0x4C, false}, {VK_NUMPAD6, 0x4D, false},
    {VK_ADD, 0x4E, false}, {VK_NUMPAD1, 0x4F, false}, {VK_NUMPAD2, 0x50, false}, {VK_NUMPAD3, 0x51, false},
    {VK_NUMPAD0, 0x52, false}, {VK_DECIMAL, 0x53, false}, {VK_F11, 0x57, false}, {VK_F12, 0x58, false},
    {VK_DIVIDE, 0x35, true}, {VK_HOME, 0x47, true}, {VK_UP, 0x48, true}, {VK_PRIOR, 0x49, true},
    {VK_LEFT, 0x4B, true}, {VK_RIGHT, 0x4D, true}, {VK_END, 0x4F, true}, {VK_DOWN, 0x50, true},
    {VK_NEXT, 0x51, true}, {VK_INSERT, 0x52, true}, {VK_DELETE, 0x53, true}, {VK_PAUSE, 0x45, false},
    {VK_APPS, 0x5D, true},
};

}  // namespace

WORD ScanCodeOfVirtualKey(WORD vk, bool* extended) {
    for (const auto& e : kScanTable) {
        if (e.vk == vk) {
            if (extended) *extended = e.extended;
            return e.scan;
        }
    }
    if (extended) *extended = false;
    return 0;
}

WORD VirtualKeyFromDisplayKey(int key, int scancode, bool numLock, WORD* scanCode, bool* extended) {
    // The keypad by position: its digits and decimal point follow NumLock.
    struct KeypadEntry {
        int scancode;
        WORD digit;
        WORD navigation;
        WORD scan;
    };
    static const KeypadEntry kKeypad[] = {
        {SDL_SCANCODE_KP_0, VK_NUMPAD0, VK_INSERT, 0x52}, {SDL_SCANCODE_KP_1, VK_NUMPAD1, VK_END, 0x4F},
        {SDL_SCANCODE_KP_2, VK_NUMPAD2, VK_DOWN, 0x50},   {SDL_SCANCODE_KP_3, VK_NUMPAD3, VK_NEXT, 0x51},
        {SDL_SCANCODE_KP_4, VK_NUMPAD4, VK_LEFT, 0x4B},   {SDL_SCANCODE_KP_5, VK_NUMPAD5, VK_CLEAR, 0x4C},
        {SDL_SCANCODE_KP_6, VK_NUMPAD6, VK_RIGHT, 0x4D},  {SDL_SCANCODE_KP_7, VK_NUMPAD7, VK_HOME, 0x47},
        {SDL_SCANCODE_KP_8, VK_NUMPAD8, VK_UP, 0x48},     {SDL_SCANCODE_KP_9, VK_NUMPAD9, VK_PRIOR, 0x49},
        {SDL_SCANCODE_KP_PERIOD, VK_DECIMAL, VK_DELETE, 0x53},
    };
    for (const KeypadEntry& k : kKeypad) {
        if (k.scancode != scancode) continue;
        if (scanCode) *scanCode = k.scan;
        if (extended) *extended = false;
        return numLock ? k.digit : k.navigation;
    }

    WORD vk = 0;
    bool ext = false;
    if (key >= 'a' && key <= 'z') {
        vk = static_cast<WORD>(key - 'a' + 'A');
    } else if (key >= '0' && key <= '9') {
        vk = static_cast<WORD>(key);
    } else {
        switch (key) {
            case SDLK_ESCAPE: vk = VK_ESCAPE; break;
            case SDLK_RETURN: vk = VK_RETURN; break;
            case SDLK_KP_ENTER: vk = VK_RETURN; ext = true; break;
            case SDLK_BACKSPACE: vk = VK_BACK; break;
            case SDLK_TAB: vk = VK_TAB; break;
            case SDLK_SPACE: vk = VK_SPACE; break;
            case SDLK_MINUS: vk = VK_OEM_MINUS; break;
            case SDLK_EQUALS: vk = VK_OEM_PLUS; break;
            case SDLK_LEFTBRACKET: vk = VK_OEM_4; break;
            case SDLK_RIGHTBRACKET: vk = VK_OEM_6; break;
            case SDLK_BACKSLASH: vk = VK_OEM_5; break;
            case SDLK_SEMICOLON: vk = VK_OEM_1; break;
            case SDLK_QUOTE: vk = VK_OEM_7; break;
            case SDLK_BACKQUOTE: vk = VK_OEM_3; break;
            case SDLK_COMMA: vk = VK_OEM_COMMA; break;
            case SDLK_PERIOD: vk = VK_OEM_PERIOD; break;
            case SDLK_SLASH: vk = VK_OEM_2; break;
            case SDLK_CAPSLOCK: vk = VK_CAPITAL; break;
            case SDLK_F1: vk = VK_F1; break;
            case SDLK_F2: vk = VK_F2; break;
            case SDLK_F3: vk = VK_F3; break;
            case SDLK_F4: vk = VK_F4; break;
            case SDLK_F5: vk = VK_F5; break;
            case SDLK_F6: vk = VK_F6; break;
            case SDLK_F7: vk = VK_F7; break;
            case SDLK_F8: vk = VK_F8; break;
            case SDLK_F9: vk = VK_F9; break;
            case SDLK_F10: vk = VK_F10; break;
            case SDLK_F11: vk = VK_F11; break;
            case SDLK_F12: vk = VK_F12; break;
            case SDLK_PRINTSCREEN: vk = VK_SNAPSHOT; break;
            case SDLK_SCROLLLOCK: vk = VK_SCROLL; break;
            case SDLK_PAUSE: vk = VK_PAUSE; break;
            case SDLK_INSERT: vk = VK_INSERT; break;
            case SDLK_HOME: vk = VK_HOME; break;
            case SDLK_PAGEUP: vk = VK_PRIOR; break;
            case SDLK_DELETE: vk = VK_DELETE; break;
            case SDLK_END: vk = VK_END; break;
            case SDLK_PAGEDOWN: vk = VK_NEXT; break;
            case SDLK_RIGHT: vk = VK_RIGHT; break;
            case SDLK_LEFT: vk = VK_LEFT; break;
            case SDLK_DOWN: vk = VK_DOWN; break;
            case SDLK_UP: vk = VK_UP; break;
            case SDLK_NUMLOCKCLEAR: vk = VK_NUMLOCK; break;
            case SDLK_KP_DIVIDE: vk = VK_DIVIDE; break;
            case SDLK_KP_MULTIPLY: vk = VK_MULTIPLY; break;
            case SDLK_KP_MINUS: vk = VK_SUBTRACT; break;
            case SDLK_KP_PLUS: vk = VK_ADD; break;
            case SDLK_KP_PERIOD: vk = VK_DECIMAL; break;
            case SDLK_KP_0: vk = VK_NUMPAD0; break;
            case SDLK_KP_1: vk = VK_NUMPAD1; break;
            case SDLK_KP_2: vk = VK_NUMPAD2; break;
            case SDLK_KP_3: vk = VK_NUMPAD3; break;
            case SDLK_KP_4: vk = VK_NUMPAD4; break;
            case SDLK_KP_5: vk = VK_NUMPAD5; break;
            case SDLK_KP_6: vk = VK_NUMPAD6; break;
            case SDLK_KP_7: vk = VK_NUMPAD7; break;
            case SDLK_KP_8: vk = VK_NUMPAD8; break;
            case SDLK_KP_9: vk = VK_NUMPAD9; break;
            case SDLK_APPLICATION: vk = VK_APPS; break;
            case SDLK_LSHIFT:
            case SDLK_RSHIFT: vk = VK_SHIFT; break;
            case SDLK_LCTRL: vk = VK_CONTROL; break;
            case SDLK_RCTRL: vk = VK_CONTROL; ext = true; break;
            case SDLK_LALT: vk = VK_MENU; break;
            case SDLK_RALT: vk = VK_MENU; ext = true; break;
            case SDLK_LGUI: vk = VK_LWIN; break;
            case SDLK_RGUI: vk = VK_RWIN; break;
            default: break;
        }
    }
    bool tableExt = false;
    const WORD scan = vk ? ScanCodeOfVirtualKey(vk, &tableExt) : 0;
    if (scanCode) *scanCode = scan;
    if (extended) *extended = ext || tableExt;
    return vk;
}

WORD CharacterOfVirtualKey(WORD vk, bool shift, bool control, bool capsLock, bool numLock) {
    if (vk >= 'A' && vk <= 'Z') {
        if (control) return static_cast<WORD>(vk - 'A' + 1);
        const bool upper = shift != capsLock;
        return upper ? vk : static_cast<WORD>(vk - 'A' + 'a');
    }
    if (control) {
        switch (vk) {
            case VK_RETURN: return 10;
            case VK_BACK: return 127;
            case VK_ESCAPE: return 27;
            case VK_OEM_4: return 27;
            case VK_OEM_5: return 28;
            case VK_OEM_6: return 29;
            default: return 0;
        }
    }
    if (vk >= '0' && vk <= '9') {
        static const char shifted[] = ")!@#$%^&*(";
        return shift ? static_cast<WORD>(shifted[vk - '0']) : vk;
    }
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9) {
        return numLock ? static_cast<WORD>('0' + (vk - VK_NUMPAD0)) : 0;
    }
    switch (vk) {
        case VK_BACK: return 8;
        case VK_TAB: return 9;
        case VK_RETURN: return 13;
        case VK_ESCAPE: return 27;
        case VK_SPACE: return ' ';
        case VK_MULTIPLY: return '*';
        case VK_ADD: return '+';
        case VK_SUBTRACT: return '-';
        case VK_DIVIDE: return '/';
        case VK_DECIMAL: return numLock ? '.' : 0;
        case VK_OEM_1: return shift ? ':' : ';';
        case VK_OEM_PLUS: return shift ? '+' : '=';
        case VK_OEM_COMMA: return shift ? '<' : ',';
        case VK_OEM_MINUS: return shift ? '_' : '-';
        case VK_OEM_PERIOD: return shift ? '>' : '.';
        case VK_OEM_2: return shift ? '?' : '/';
        case VK_OEM_3: return shift ? '~' : '`';
        case VK_OEM_4: return shift ? '{' : '[';
        case VK_OEM_5: return shift ? '|' : '\\';
        case VK_OEM_6: return shift ? '}' : ']';
        case VK_OEM_7: return shift ? '"' : '\'';
        default: return 0;
    }
}
