#pragma once
// State and helpers shared by the parts of the window system: the window table,
// the message queue, input state, display pumping and injected input.
#include "platform/ui/window.h"

#include <SDL2/SDL.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include "platform/ui/keys.h"
#include "platform/ui/ui_internal.h"

namespace uiwin {


// Frame metrics of the windows (pixels).
inline constexpr int kFrameThick = 4;
inline constexpr int kFrameDialog = 3;
inline constexpr int kCaption = 19;
inline constexpr int kMenuBar = 20;
inline constexpr int kHeadlessScreenW = 1024;
inline constexpr int kHeadlessScreenH = 768;

struct MenuItem {
    std::string text;
    UINT id = 0;
    bool separator = false;
    HMENU sub = nullptr;
};
struct Menu {
    std::vector<MenuItem> items;
};

struct CursorToken {
    int id;
};
inline CursorToken g_arrowCursor{32512};
inline CursorToken g_appIcon{32512};

struct WindowClass {
    WNDPROC proc = nullptr;
    HCURSOR cursor = nullptr;
    HICON icon = nullptr;
};

struct Window {
    HWND handle = nullptr;
    WNDPROC proc = nullptr;
    HCURSOR cursor = nullptr;
    DWORD style = 0;
    std::string title;
    int clientX = 0, clientY = 0, clientW = 0, clientH = 0;  // client area, screen coordinates
    HMENU menu = nullptr;
    SDL_Window* sdl = nullptr;
    bool alive = true;
    bool needsPaint = false;
    bool minimized = false;
    bool fullscreen = false;
    int savedX = 0, savedY = 0, savedW = 0, savedH = 0;
    int expectW = -1, expectH = -1, expectX = INT32_MIN, expectY = INT32_MIN;
    bool sizeMoveBatch = false;
    std::thread::id thread;
};

struct Queued {
    MSG msg;
};

inline std::mutex g_mutex;  // windows table, queue, quit flag
inline std::condition_variable g_wake;
inline std::map<std::uintptr_t, std::unique_ptr<Window>> g_windows;
inline std::uintptr_t g_nextHandle = 1;
inline std::deque<Queued> g_queue;
inline bool g_quitPosted = false;
inline int g_quitCode = 0;
inline std::map<std::string, WindowClass> g_classes;

// Key state as of the last message taken from the queue, and as the input arrives.
inline BYTE g_keyState[256];
inline BYTE g_inputKeys[256];
inline bool g_altAloneRetrieved = false;
inline bool g_altAloneInput = false;
inline POINT g_cursor{0, 0};
inline HCURSOR g_currentCursor = reinterpret_cast<HCURSOR>(&g_arrowCursor);
inline bool g_clipActive = false;
inline RECT g_clipRect{0, 0, 0, 0};

inline std::atomic<bool> g_forceHeadless{false};
inline std::atomic<int> g_videoState{0};  // 0 unknown, 1 up, -1 none
inline std::atomic<MessageBoxRecorder> g_boxRecorder{nullptr};

inline std::map<int, std::vector<ACCEL>> g_accelResources;
inline std::map<int, std::vector<MenuItemTemplate>> g_menuResources;

inline Window* FindLocked(HWND hwnd) {
    auto it = g_windows.find(reinterpret_cast<std::uintptr_t>(hwnd));
    if (it == g_windows.end() || !it->second->alive) return nullptr;
    return it->second.get();
}

inline Window* Find(HWND hwnd) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return FindLocked(hwnd);
}

inline Window* FindBySdlId(unsigned id) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto& [key, w] : g_windows) {
        if (w->alive && w->sdl && SDL_GetWindowID(w->sdl) == id) return w.get();
    }
    return nullptr;
}

inline void FrameOf(DWORD style, bool menu, int* left, int* top, int* right, int* bottom) {
    int border = 0;
    if (style & WS_THICKFRAME) {
        border = kFrameThick;
    } else if ((style & WS_DLGFRAME) || (style & WS_CAPTION) == WS_CAPTION) {
        border = kFrameDialog;
    } else if (style & WS_BORDER) {
        border = 1;
    }
    *left = border;
    *right = border;
    *bottom = border;
    *top = border + (((style & WS_CAPTION) == WS_CAPTION) ? kCaption : 0) + (menu ? kMenuBar : 0);
}

inline DWORD NowMs() { return static_cast<DWORD>(SDL_GetTicks()); }

// The cursor position is read by posting threads, so it changes under the lock.
inline void SetCursorPoint(POINT p) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_cursor = p;
}

inline void WakeLoop() {
    g_wake.notify_all();
    if (g_videoState.load() == 1) {
        SDL_Event e;
        std::memset(&e, 0, sizeof(e));
        e.type = SDL_USEREVENT;
        SDL_PushEvent(&e);
    }
}

inline void QueueMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        MSG m{};
        m.hwnd = hwnd;
        m.message = message;
        m.wParam = wParam;
        m.lParam = lParam;
        m.time = NowMs();
        m.pt = g_cursor;
        g_queue.push_back(Queued{m});
    }
    WakeLoop();
}

inline LRESULT CallProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hwnd);
    if (!w || !w->proc) return 0;
    return w->proc(hwnd, message, wParam, lParam);
}

inline void SendMinMax(Window* w) {
    MINMAXINFO info{};
    info.ptMaxSize = {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    info.ptMinTrackSize = {1, 1};
    info.ptMaxTrackSize = info.ptMaxSize;
    CallProc(w->handle, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    if (w->sdl) {
        int l, t, r, b;
        FrameOf(w->style, w->menu != nullptr, &l, &t, &r, &b);
        SDL_SetWindowMinimumSize(w->sdl, std::max(1, static_cast<int>(info.ptMinTrackSize.x) - l - r),
                                 std::max(1, static_cast<int>(info.ptMinTrackSize.y) - t - b));
    }
}

inline LPARAM KeyLParam(WORD scan, bool extended, bool alt, bool down, bool repeat) {
    DWORD v = 1u | (static_cast<DWORD>(scan & 0xFF) << 16);
    if (extended) v |= 1u << 24;
    if (alt) v |= 1u << 29;
    if (down) {
        if (repeat) v |= 1u << 30;
    } else {
        v |= (1u << 30) | (1u << 31);
    }
    return static_cast<LPARAM>(v);
}

inline void KeyInput(Window* w, WORD vk, WORD scan, bool extended, bool down, bool repeat) {
    if (!w || vk == 0) return;
    const bool altHeld = (g_inputKeys[VK_MENU] & 0x80) != 0;
    const bool ctrlHeld = (g_inputKeys[VK_CONTROL] & 0x80) != 0;
    bool sys = (altHeld && !ctrlHeld) || vk == VK_F10;
    if (vk == VK_MENU) sys = !ctrlHeld;
    if (down) {
        g_altAloneInput = (vk == VK_MENU) ? (repeat ? g_altAloneInput : true) : false;
    }
    const bool altBit = (vk == VK_MENU) ? down || altHeld : altHeld;
    UINT message = down ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
    auto setKey = [](WORD key, bool d) {
        if (d) {
            g_inputKeys[key] |= 0x80;
        } else {
            g_inputKeys[key] &= static_cast<BYTE>(~0x80);
        }
    };
    setKey(vk, down);
    QueueMessage(w->handle, message, vk, KeyLParam(scan, extended, altBit && (message == WM_SYSKEYDOWN || message == WM_SYSKEYUP), down, repeat));
}

inline WPARAM MouseKeyFlags(WPARAM buttons) {
    WPARAM flags = buttons;
    if (g_inputKeys[VK_SHIFT] & 0x80) flags |= MK_SHIFT;
    if (g_inputKeys[VK_CONTROL] & 0x80) flags |= MK_CONTROL;
    return flags;
}

inline WPARAM g_buttons = 0;

inline void MouseMoveInput(Window* w, int x, int y) {
    const POINT screenPoint{w->clientX + x, w->clientY + y};
    SetCursorPoint(screenPoint);
    const LPARAM screen = PointToLParam(screenPoint.x, screenPoint.y);
    const LRESULT hit = CallProc(w->handle, WM_NCHITTEST, 0, screen);
    CallProc(w->handle, WM_SETCURSOR, reinterpret_cast<WPARAM>(w->handle),
             MAKELPARAM(static_cast<WORD>(hit), static_cast<WORD>(WM_MOUSEMOVE)));
    QueueMessage(w->handle, WM_MOUSEMOVE, MouseKeyFlags(g_buttons), PointToLParam(x, y));
}

inline void MouseButtonInput(Window* w, int button, bool down, int x, int y) {
    static const WPARAM masks[3] = {MK_LBUTTON, MK_RBUTTON, MK_MBUTTON};
    static const UINT downs[3] = {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN};
    static const UINT ups[3] = {WM_LBUTTONUP, WM_RBUTTONUP, WM_MBUTTONUP};
    if (button < 0 || button > 2) return;
    SetCursorPoint({w->clientX + x, w->clientY + y});
    if (down) {
        g_buttons |= masks[button];
    } else {
        g_buttons &= ~masks[button];
    }
    QueueMessage(w->handle, down ? downs[button] : ups[button], MouseKeyFlags(g_buttons), PointToLParam(x, y));
}

inline void SizeInput(Window* w, int cw, int ch, bool userDriven) {
    const bool changed = cw != w->clientW || ch != w->clientH;
    w->clientW = cw;
    w->clientH = ch;
    if (changed || w->minimized) {
        w->minimized = false;
        w->needsPaint = true;
        CallProc(w->handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(static_cast<WORD>(cw), static_cast<WORD>(ch)));
    }
    if (userDriven && changed) w->sizeMoveBatch = true;
}

inline void MoveInput(Window* w, int x, int y, bool userDriven) {
    const bool changed = x != w->clientX || y != w->clientY;
    w->clientX = x;
    w->clientY = y;
    if (changed) {
        CallProc(w->handle, WM_MOVE, 0, PointToLParam(x, y));
        if (userDriven) w->sizeMoveBatch = true;
    }
}

inline void MinimizeInput(Window* w, bool minimized) {
    if (minimized == w->minimized) return;
    w->minimized = minimized;
    if (minimized) {
        CallProc(w->handle, WM_SIZE, SIZE_MINIMIZED, 0);
    } else {
        w->needsPaint = true;
        CallProc(w->handle, WM_SIZE, SIZE_RESTORED,
                 MAKELPARAM(static_cast<WORD>(w->clientW), static_cast<WORD>(w->clientH)));
    }
}

inline void PumpDisplay() {
    if (g_videoState.load() != 1) return;
    SDL_Event e;
    while (SDL_PollEvent(&e)) ui_detail::HandleDisplayEvent(e);
    ui_detail::FinishDisplayBatch();
}

inline void RetrievedKey(const MSG& m) {
    const WORD vk = LOWORD(m.wParam);
    if (vk > 255) return;
    switch (m.message) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            if (vk == VK_CAPITAL && !(m.lParam & (1 << 30))) g_keyState[VK_CAPITAL] ^= 0x01;
            if (vk == VK_NUMLOCK && !(m.lParam & (1 << 30))) g_keyState[VK_NUMLOCK] ^= 0x01;
            g_keyState[vk] |= 0x80;
            g_altAloneRetrieved = (vk == VK_MENU) ? ((m.lParam & (1 << 30)) ? g_altAloneRetrieved : true) : false;
            break;
        case WM_KEYUP:
        case WM_SYSKEYUP:
            g_keyState[vk] &= static_cast<BYTE>(~0x80);
            break;
        default:
            break;
    }
}

inline bool MatchesFilter(const MSG& m, HWND hwnd, UINT lo, UINT hi) {
    if (hwnd && m.hwnd != hwnd) return false;
    if (lo == 0 && hi == 0) return true;
    return m.message >= lo && m.message <= hi;
}

}  // namespace uiwin
