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

namespace {

// Frame metrics of the windows (pixels).
constexpr int kFrameThick = 4;
constexpr int kFrameDialog = 3;
constexpr int kCaption = 19;
constexpr int kMenuBar = 20;
constexpr int kHeadlessScreenW = 1024;
constexpr int kHeadlessScreenH = 768;

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
CursorToken g_arrowCursor{32512};
CursorToken g_appIcon{32512};

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

std::mutex g_mutex;  // windows table, queue, quit flag
std::condition_variable g_wake;
std::map<std::uintptr_t, std::unique_ptr<Window>> g_windows;
std::uintptr_t g_nextHandle = 1;
std::deque<Queued> g_queue;
bool g_quitPosted = false;
int g_quitCode = 0;
std::map<std::string, WindowClass> g_classes;

// Key state as of the last message taken from the queue, and as the input arrives.
BYTE g_keyState[256];
BYTE g_inputKeys[256];
bool g_altAloneRetrieved = false;
bool g_altAloneInput = false;
POINT g_cursor{0, 0};
HCURSOR g_currentCursor = reinterpret_cast<HCURSOR>(&g_arrowCursor);
bool g_clipActive = false;
RECT g_clipRect{0, 0, 0, 0};

std::atomic<bool> g_forceHeadless{false};
std::atomic<int> g_videoState{0};  // 0 unknown, 1 up, -1 none
std::atomic<MessageBoxRecorder> g_boxRecorder{nullptr};

std::map<int, std::vector<ACCEL>> g_accelResources;
std::map<int, std::vector<MenuItemTemplate>> g_menuResources;

Window* FindLocked(HWND hwnd) {
    auto it = g_windows.find(reinterpret_cast<std::uintptr_t>(hwnd));
    if (it == g_windows.end() || !it->second->alive) return nullptr;
    return it->second.get();
}

Window* Find(HWND hwnd) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return FindLocked(hwnd);
}

Window* FindBySdlId(unsigned id) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto& [key, w] : g_windows) {
        if (w->alive && w->sdl && SDL_GetWindowID(w->sdl) == id) return w.get();
    }
    return nullptr;
}

void FrameOf(DWORD style, bool menu, int* left, int* top, int* right, int* bottom) {
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

DWORD NowMs() { return static_cast<DWORD>(SDL_GetTicks()); }

// The cursor position is read by posting threads, so it changes under the lock.
void SetCursorPoint(POINT p) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_cursor = p;
}

void WakeLoop() {
    g_wake.notify_all();
    if (g_videoState.load() == 1) {
        SDL_Event e;
        std::memset(&e, 0, sizeof(e));
        e.type = SDL_USEREVENT;
        SDL_PushEvent(&e);
    }
}

void QueueMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
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

LRESULT CallProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hwnd);
    if (!w || !w->proc) return 0;
    return w->proc(hwnd, message, wParam, lParam);
}

void SendMinMax(Window* w) {
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

LPARAM KeyLParam(WORD scan, bool extended, bool alt, bool down, bool repeat) {
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

void KeyInput(Window* w, WORD vk, WORD scan, bool extended, bool down, bool repeat) {
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

WPARAM MouseKeyFlags(WPARAM buttons) {
    WPARAM flags = buttons;
    if (g_inputKeys[VK_SHIFT] & 0x80) flags |= MK_SHIFT;
    if (g_inputKeys[VK_CONTROL] & 0x80) flags |= MK_CONTROL;
    return flags;
}

WPARAM g_buttons = 0;

void MouseMoveInput(Window* w, int x, int y) {
    const POINT screenPoint{w->clientX + x, w->clientY + y};
    SetCursorPoint(screenPoint);
    const LPARAM screen = PointToLParam(screenPoint.x, screenPoint.y);
    const LRESULT hit = CallProc(w->handle, WM_NCHITTEST, 0, screen);
    CallProc(w->handle, WM_SETCURSOR, reinterpret_cast<WPARAM>(w->handle),
             MAKELPARAM(static_cast<WORD>(hit), static_cast<WORD>(WM_MOUSEMOVE)));
    QueueMessage(w->handle, WM_MOUSEMOVE, MouseKeyFlags(g_buttons), PointToLParam(x, y));
}

void MouseButtonInput(Window* w, int button, bool down, int x, int y) {
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

void SizeInput(Window* w, int cw, int ch, bool userDriven) {
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

void MoveInput(Window* w, int x, int y, bool userDriven) {
    const bool changed = x != w->clientX || y != w->clientY;
    w->clientX = x;
    w->clientY = y;
    if (changed) {
        CallProc(w->handle, WM_MOVE, 0, PointToLParam(x, y));
        if (userDriven) w->sizeMoveBatch = true;
    }
}

void MinimizeInput(Window* w, bool minimized) {
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

void PumpDisplay() {
    if (g_videoState.load() != 1) return;
    SDL_Event e;
    while (SDL_PollEvent(&e)) ui_detail::HandleDisplayEvent(e);
    ui_detail::FinishDisplayBatch();
}

void RetrievedKey(const MSG& m) {
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

bool MatchesFilter(const MSG& m, HWND hwnd, UINT lo, UINT hi) {
    if (hwnd && m.hwnd != hwnd) return false;
    if (lo == 0 && hi == 0) return true;
    return m.message >= lo && m.message <= hi;
}

}  // namespace

// ---------------------------------------------------------------- display

bool DisplayAvailable() {
    if (g_forceHeadless.load()) return false;
    int state = g_videoState.load();
    if (state != 0) return state == 1;
    bool up = false;
    const char* headless = std::getenv("MERIDAX_HEADLESS");
    const bool wanted = !(headless && *headless && std::strcmp(headless, "0") != 0);
    if (wanted && (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY"))) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) {
            const char* driver = SDL_GetCurrentVideoDriver();
            up = driver && (std::strcmp(driver, "x11") == 0 || std::strcmp(driver, "wayland") == 0);
            if (!up) SDL_QuitSubSystem(SDL_INIT_VIDEO);
        }
    }
    if (up) SDL_StopTextInput();
    g_videoState.store(up ? 1 : -1);
    return up;
}

void SetHeadlessWindows(bool headless) { g_forceHeadless.store(headless); }

SDL_Window* GetSdlWindow(HWND hwnd) {
    Window* w = Find(hwnd);
    return w ? w->sdl : nullptr;
}

namespace ui_detail {

bool IsLayerWindow(unsigned id) { return FindBySdlId(id) != nullptr; }

bool HandleDisplayEvent(const SDL_Event& e) {
    switch (e.type) {
        case SDL_WINDOWEVENT: {
            Window* w = FindBySdlId(e.window.windowID);
            if (!w) return false;
            switch (e.window.event) {
                case SDL_WINDOWEVENT_SIZE_CHANGED:
                case SDL_WINDOWEVENT_RESIZED: {
                    const int cw = e.window.data1, ch = e.window.data2;
                    const bool expected = cw == w->expectW && ch == w->expectH;
                    SizeInput(w, cw, ch, !expected && !w->fullscreen);
                    break;
                }
                case SDL_WINDOWEVENT_MOVED: {
                    const int x = e.window.data1, y = e.window.data2;
                    const bool expected = x == w->expectX && y == w->expectY;
                    MoveInput(w, x, y, !expected && !w->fullscreen);
                    break;
                }
                case SDL_WINDOWEVENT_MINIMIZED: MinimizeInput(w, true); break;
                case SDL_WINDOWEVENT_RESTORED: MinimizeInput(w, false); break;
                case SDL_WINDOWEVENT_EXPOSED: w->needsPaint = true; break;
                case SDL_WINDOWEVENT_CLOSE: CallProc(w->handle, WM_SYSCOMMAND, SC_CLOSE, 0); break;
                default: break;
            }
            return true;
        }
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            Window* w = FindBySdlId(e.key.windowID);
            if (!w) return false;
            WORD scan = 0;
            bool ext = false;
            const WORD vk = VirtualKeyFromDisplayKey(e.key.keysym.sym, e.key.keysym.scancode,
                                                     (e.key.keysym.mod & KMOD_NUM) != 0, &scan, &ext);
            KeyInput(w, vk, scan, ext, e.type == SDL_KEYDOWN, e.key.repeat != 0);
            return true;
        }
        case SDL_MOUSEMOTION: {
            Window* w = FindBySdlId(e.motion.windowID);
            if (!w) return false;
            MouseMoveInput(w, e.motion.x, e.motion.y);
            return true;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            Window* w = FindBySdlId(e.button.windowID);
            if (!w) return false;
            const int b = e.button.button == SDL_BUTTON_LEFT ? 0 : e.button.button == SDL_BUTTON_RIGHT ? 1
                        : e.button.button == SDL_BUTTON_MIDDLE ? 2 : -1;
            MouseButtonInput(w, b, e.type == SDL_MOUSEBUTTONDOWN, e.button.x, e.button.y);
            return true;
        }
        default:
            return false;
    }
}

void FinishDisplayBatch() {
    std::vector<HWND> due;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (auto& [key, w] : g_windows) {
            if (w->alive && w->sizeMoveBatch) {
                w->sizeMoveBatch = false;
                due.push_back(w->handle);
            }
        }
    }
    for (HWND h : due) CallProc(h, WM_EXITSIZEMOVE, 0, 0);
}

}  // namespace ui_detail

// ---------------------------------------------------------------- windows

ATOM RegisterClassA(const WNDCLASSA* wc) {
    if (!wc || !wc->lpszClassName || !wc->lpfnWndProc) return 0;
    std::lock_guard<std::mutex> lock(g_mutex);
    WindowClass c;
    c.proc = wc->lpfnWndProc;
    c.cursor = wc->hCursor;
    c.icon = wc->hIcon;
    g_classes[wc->lpszClassName] = c;
    return static_cast<ATOM>(0xC000 + g_classes.size());
}

HWND CreateWindowExA(DWORD, const char* className, const char* title, DWORD style, int x, int y, int width,
                     int height, HWND, HMENU menu, HINSTANCE, void*) {
    if (!className) return nullptr;
    auto w = std::make_unique<Window>();
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_classes.find(className);
        if (it == g_classes.end()) return nullptr;
        w->proc = it->second.proc;
        w->cursor = it->second.cursor;
        w->handle = reinterpret_cast<HWND>(g_nextHandle++ << 16);
    }
    w->style = style;
    w->title = title ? title : "";
    w->menu = menu;
    w->thread = std::this_thread::get_id();
    int l, t, r, b;
    FrameOf(style, menu != nullptr, &l, &t, &r, &b);
    if (x == CW_USEDEFAULT) {
        x = 32;
        y = 32;
    }
    if (width == CW_USEDEFAULT) {
        width = 640 + l + r;
        height = 480 + t + b;
    }
    w->clientX = x + l;
    w->clientY = y + t;
    w->clientW = std::max(0, width - l - r);
    w->clientH = std::max(0, height - t - b);
    if (DisplayAvailable()) {
        Uint32 flags = SDL_WINDOW_OPENGL | ((style & WS_VISIBLE) ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN);
        if (style & WS_THICKFRAME) flags |= SDL_WINDOW_RESIZABLE;
        w->expectW = w->clientW;
        w->expectH = w->clientH;
        w->sdl = SDL_CreateWindow(w->title.c_str(), w->clientX, w->clientY, std::max(1, w->clientW),
                                  std::max(1, w->clientH), flags);
        if (!w->sdl) {
            std::fprintf(stderr, "CreateWindow: %s\n", SDL_GetError());
            return nullptr;
        }
        SDL_GetWindowPosition(w->sdl, &w->clientX, &w->clientY);
        w->expectX = w->clientX;
        w->expectY = w->clientY;
    }
    w->needsPaint = (style & WS_VISIBLE) != 0;
    Window* raw = w.get();
    HWND handle = raw->handle;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_windows[reinterpret_cast<std::uintptr_t>(handle)] = std::move(w);
    }
    SendMinMax(raw);
    CallProc(handle, WM_CREATE, 0, 0);
    if (style & WS_VISIBLE) {
        CallProc(handle, WM_SHOWWINDOW, TRUE, 0);
        CallProc(handle, WM_SIZE, SIZE_RESTORED,
                 MAKELPARAM(static_cast<WORD>(raw->clientW), static_cast<WORD>(raw->clientH)));
        CallProc(handle, WM_MOVE, 0, PointToLParam(raw->clientX, raw->clientY));
    }
    return handle;
}

BOOL DestroyWindow(HWND hwnd) {
    Window* w = Find(hwnd);
    if (!w) return FALSE;
    CallProc(hwnd, WM_DESTROY, 0, 0);
    CallProc(hwnd, WM_NCDESTROY, 0, 0);
    SDL_Window* sdl = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        w->alive = false;
        sdl = w->sdl;
        w->sdl = nullptr;
        g_queue.erase(std::remove_if(g_queue.begin(), g_queue.end(),
                                     [hwnd](const Queued& q) { return q.msg.hwnd == hwnd; }),
                      g_queue.end());
    }
    if (sdl) SDL_DestroyWindow(sdl);
    return TRUE;
}

BOOL IsWindow(HWND hwnd) { return Find(hwnd) ? TRUE : FALSE; }

BOOL AdjustWindowRect(RECT* rect, DWORD style, BOOL menu) {
    if (!rect) return FALSE;
    int l, t, r, b;
    FrameOf(style, menu != FALSE, &l, &t, &r, &b);
    rect->left -= l;
    rect->top -= t;
    rect->right += r;
    rect->bottom += b;
    return TRUE;
}

LONG GetWindowLongA(HWND hwnd, int index) {
    Window* w = Find(hwnd);
    if (!w || index != GWL_STYLE) return 0;
    DWORD style = w->style;
    if (w->minimized) style |= WS_MINIMIZE;
    return static_cast<LONG>(style);
}

LONG SetWindowLongA(HWND hwnd, int index, LONG value) {
    Window* w = Find(hwnd);
    if (!w || index != GWL_STYLE) return 0;
    const LONG old = static_cast<LONG>(w->style);
    w->style = static_cast<DWORD>(value) & ~WS_MINIMIZE;
    if (w->sdl) {
        SDL_SetWindowBordered(w->sdl, (w->style & WS_CAPTION) ? SDL_TRUE : SDL_FALSE);
        SDL_SetWindowResizable(w->sdl, (w->style & WS_THICKFRAME) ? SDL_TRUE : SDL_FALSE);
        if (w->style & WS_VISIBLE) {
            SDL_ShowWindow(w->sdl);
        }
    }
    return old;
}

BOOL GetWindowRect(HWND hwnd, RECT* rect) {
    Window* w = Find(hwnd);
    if (!w || !rect) return FALSE;
    int l, t, r, b;
    FrameOf(w->style, w->menu != nullptr, &l, &t, &r, &b);
    rect->left = w->clientX - l;
    rect->top = w->clientY - t;
    rect->right = w->clientX + w->clientW + r;
    rect->bottom = w->clientY + w->clientH + b;
    return TRUE;
}

BOOL GetClientRect(HWND hwnd, RECT* rect) {
    Window* w = Find(hwnd);
    if (!w || !rect) return FALSE;
    *rect = {0, 0, w->minimized ? 0 : w->clientW, w->minimized ? 0 : w->clientH};
    return TRUE;
}

BOOL SetWindowPos(HWND hwnd, HWND, int x, int y, int cx, int cy, UINT flags) {
    Window* w = Find(hwnd);
    if (!w) return FALSE;
    int l, t, r, b;
    FrameOf(w->style, w->menu != nullptr, &l, &t, &r, &b);
    if (flags & SWP_SHOWWINDOW) {
        w->style |= WS_VISIBLE;
        if (w->sdl) SDL_ShowWindow(w->sdl);
    }
    if (flags & SWP_HIDEWINDOW) {
        w->style &= ~WS_VISIBLE;
        if (w->sdl) SDL_HideWindow(w->sdl);
    }
    if (!(flags & SWP_NOMOVE)) {
        w->expectX = x + l;
        w->expectY = y + t;
        if (w->sdl && !w->fullscreen) SDL_SetWindowPosition(w->sdl, x + l, y + t);
        MoveInput(w, x + l, y + t, false);
    }
    if (!(flags & SWP_NOSIZE)) {
        const int cw = std::max(0, cx - l - r), ch = std::max(0, cy - t - b);
        w->expectW = cw;
        w->expectH = ch;
        if (w->sdl && !w->fullscreen) SDL_SetWindowSize(w->sdl, std::max(1, cw), std::max(1, ch));
        SizeInput(w, cw, ch, false);
    }
    return TRUE;
}

BOOL ShowWindow(HWND hwnd, int command) {
    Window* w = Find(hwnd);
    if (!w) return FALSE;
    const BOOL wasVisible = (w->style & WS_VISIBLE) ? TRUE : FALSE;
    switch (command) {
        case SW_HIDE:
            w->style &= ~WS_VISIBLE;
            if (w->sdl) SDL_HideWindow(w->sdl);
            break;
        case SW_MINIMIZE:
        case SW_SHOWMINIMIZED:
            if (w->sdl) SDL_MinimizeWindow(w->sdl);
            MinimizeInput(w, true);
            break;
        case SW_RESTORE:
            if (w->sdl) SDL_RestoreWindow(w->sdl);
            MinimizeInput(w, false);
            break;
        default:
            w->style |= WS_VISIBLE;
            w->needsPaint = true;
            if (w->sdl) SDL_ShowWindow(w->sdl);
            break;
    }
    return wasVisible;
}

BOOL IsIconic(HWND hwnd) {
    Window* w = Find(hwnd);
    return (w && w->minimized) ? TRUE : FALSE;
}

BOOL InvalidateRect(HWND hwnd, const RECT*, BOOL) {
    Window* w = Find(hwnd);
    if (!w) return FALSE;
    w->needsPaint = true;
    WakeLoop();
    return TRUE;
}

BOOL ValidateRect(HWND hwnd, const RECT*) {
    Window* w = Find(hwnd);
    if (!w) return FALSE;
    w->needsPaint = false;
    return TRUE;
}

int GetSystemMetrics(int index) {
    switch (index) {
        case SM_CXSCREEN:
        case SM_CYSCREEN: {
            if (DisplayAvailable()) {
                SDL_DisplayMode mode;
                if (SDL_GetDesktopDisplayMode(0, &mode) == 0) return index == SM_CXSCREEN ? mode.w : mode.h;
            }
            return index == SM_CXSCREEN ? kHeadlessScreenW : kHeadlessScreenH;
        }
        case SM_CYCAPTION: return kCaption;
        case SM_CXBORDER:
        case SM_CYBORDER: return 1;
        case SM_CXDLGFRAME:
        case SM_CYDLGFRAME: return kFrameDialog;
        case SM_CYMENU: return kMenuBar;
        case SM_CXFRAME:
        case SM_CYFRAME: return kFrameThick;
        default: return 0;
    }
}

HINSTANCE GetModuleHandleA(const char*) {
    static int token;
    return reinterpret_cast<HINSTANCE>(&token);
}

HCURSOR GetClassCursor(HWND hwnd) {
    Window* w = Find(hwnd);
    return w ? w->cursor : nullptr;
}

HCURSOR LoadCursorA(HINSTANCE, const char* name) {
    if (name == IDC_ARROW) return reinterpret_cast<HCURSOR>(&g_arrowCursor);
    return nullptr;
}

HICON LoadIconA(HINSTANCE, const char*) { return reinterpret_cast<HICON>(&g_appIcon); }

HCURSOR SetCursor(HCURSOR cursor) {
    HCURSOR old = g_currentCursor;
    g_currentCursor = cursor;
    if (g_videoState.load() == 1) SDL_ShowCursor(cursor ? SDL_ENABLE : SDL_DISABLE);
    return old;
}

BOOL GetCursorPos(POINT* point) {
    if (!point) return FALSE;
    if (g_videoState.load() == 1) {
        int x = 0, y = 0;
        SDL_GetGlobalMouseState(&x, &y);
        SetCursorPoint({x, y});
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    *point = g_cursor;
    return TRUE;
}

BOOL ScreenToClient(HWND hwnd, POINT* point) {
    Window* w = Find(hwnd);
    if (!w || !point) return FALSE;
    point->x -= w->clientX;
    point->y -= w->clientY;
    return TRUE;
}

BOOL ClientToScreen(HWND hwnd, POINT* point) {
    Window* w = Find(hwnd);
    if (!w || !point) return FALSE;
    point->x += w->clientX;
    point->y += w->clientY;
    return TRUE;
}

BOOL ClipCursor(const RECT* rect) {
    g_clipActive = rect != nullptr;
    if (rect) g_clipRect = *rect;
    if (g_videoState.load() == 1) {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (auto& [key, w] : g_windows) {
            if (w->alive && w->sdl) SDL_SetWindowGrab(w->sdl, rect ? SDL_TRUE : SDL_FALSE);
        }
    }
    return TRUE;
}

BOOL GetClipCursor(RECT* rect) {
    if (!g_clipActive) return FALSE;
    if (rect) *rect = g_clipRect;
    return TRUE;
}

HBRUSH GetStockBrush(int index) {
    static int brushes[8];
    return reinterpret_cast<HBRUSH>(&brushes[index & 7]);
}

bool SetWindowFullscreen(HWND hwnd, bool fullscreen, int width, int height) {
    Window* w = Find(hwnd);
    if (!w) return false;
    if (fullscreen == w->fullscreen && (!fullscreen || (w->clientW == width && w->clientH == height))) return true;
    if (fullscreen) {
        if (!w->fullscreen) {
            w->savedX = w->clientX;
            w->savedY = w->clientY;
            w->savedW = w->clientW;
            w->savedH = w->clientH;
        }
        w->fullscreen = true;
        w->expectW = width;
        w->expectH = height;
        w->expectX = 0;
        w->expectY = 0;
        if (w->sdl) {
            SDL_DisplayMode want{}, got{};
            want.w = width;
            want.h = height;
            const int display = std::max(0, SDL_GetWindowDisplayIndex(w->sdl));
            if (SDL_GetClosestDisplayMode(display, &want, &got)) SDL_SetWindowDisplayMode(w->sdl, &got);
            // Without a window manager nothing else moves the window onto the display.
            SDL_Rect bounds;
            if (SDL_GetDisplayBounds(display, &bounds) == 0) SDL_SetWindowPosition(w->sdl, bounds.x, bounds.y);
            SDL_SetWindowSize(w->sdl, width, height);
            if (SDL_SetWindowFullscreen(w->sdl, SDL_WINDOW_FULLSCREEN) != 0) {
                SDL_SetWindowFullscreen(w->sdl, SDL_WINDOW_FULLSCREEN_DESKTOP);
            }
        }
        MoveInput(w, 0, 0, false);
        SizeInput(w, width, height, false);
    } else {
        w->fullscreen = false;
        w->expectW = w->savedW;
        w->expectH = w->savedH;
        w->expectX = w->savedX;
        w->expectY = w->savedY;
        if (w->sdl) {
            SDL_SetWindowFullscreen(w->sdl, 0);
            SDL_SetWindowSize(w->sdl, std::max(1, w->savedW), std::max(1, w->savedH));
            SDL_SetWindowPosition(w->sdl, w->savedX, w->savedY);
        }
        MoveInput(w, w->savedX, w->savedY, false);
        SizeInput(w, w->savedW, w->savedH, false);
    }
    return true;
}

// ---------------------------------------------------------------- messages

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT lo, UINT hi, UINT remove) {
    if (!msg) return FALSE;
    PumpDisplay();
    {
        std::unique_lock<std::mutex> lock(g_mutex);
        for (auto it = g_queue.begin(); it != g_queue.end();) {
            // Messages for windows destroyed since they were queued are dropped.
            if (it->msg.hwnd && !FindLocked(it->msg.hwnd)) {
                it = g_queue.erase(it);
                continue;
            }
            if (MatchesFilter(it->msg, hwnd, lo, hi)) {
                *msg = it->msg;
                if (remove & PM_REMOVE) {
                    g_queue.erase(it);
                    lock.unlock();
                    RetrievedKey(*msg);
                }
                return TRUE;
            }
            ++it;
        }
        if (g_quitPosted && (lo == 0 && hi == 0)) {
            *msg = MSG{};
            msg->message = WM_QUIT;
            msg->wParam = static_cast<WPARAM>(g_quitCode);
            msg->time = NowMs();
            if (remove & PM_REMOVE) g_quitPosted = false;
            return TRUE;
        }
        for (auto& [key, w] : g_windows) {
            if (w->alive && w->needsPaint && !w->minimized && (w->style & WS_VISIBLE) && (!hwnd || hwnd == w->handle) &&
                MatchesFilter(MSG{w->handle, WM_PAINT, 0, 0, 0, {0, 0}}, hwnd, lo, hi)) {
                *msg = MSG{};
                msg->hwnd = w->handle;
                msg->message = WM_PAINT;
                msg->time = NowMs();
                return TRUE;
            }
        }
    }
    return FALSE;
}

BOOL GetMessageA(MSG* msg, HWND hwnd, UINT lo, UINT hi) {
    for (;;) {
        if (PeekMessageA(msg, hwnd, lo, hi, PM_REMOVE)) return msg->message == WM_QUIT ? FALSE : TRUE;
        if (g_videoState.load() == 1) {
            SDL_WaitEventTimeout(nullptr, 20);
        } else {
            std::unique_lock<std::mutex> lock(g_mutex);
            g_wake.wait_for(lock, std::chrono::milliseconds(20));
        }
    }
}

BOOL TranslateMessage(const MSG* msg) {
    if (!msg) return FALSE;
    if (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN) return FALSE;
    const WORD vk = LOWORD(msg->wParam);
    const bool shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    const bool control = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
    // The display knows the CapsLock state, also when it was set before start-up.
    const bool caps =
        DisplayAvailable() ? (SDL_GetModState() & KMOD_CAPS) != 0 : (GetKeyState(VK_CAPITAL) & 1) != 0;
    // Keypad digits arrive as VK_NUMPAD0-9 only while NumLock is on, so they always type.
    const bool numLock = true;
    const WORD ch = CharacterOfVirtualKey(vk, shift, control && msg->message == WM_KEYDOWN, caps, numLock);
    if (ch == 0) return FALSE;
    MSG m = *msg;
    m.message = msg->message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR;
    m.wParam = ch;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_queue.push_front(Queued{m});
    }
    return TRUE;
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg || !msg->hwnd) return 0;
    return CallProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (hwnd && !Find(hwnd)) return FALSE;
    QueueMessage(hwnd, message, wParam, lParam);
    return TRUE;
}

LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hwnd);
    if (!w) return 0;
    if (w->thread != std::this_thread::get_id()) {
        QueueMessage(hwnd, message, wParam, lParam);
        return 0;
    }
    return CallProc(hwnd, message, wParam, lParam);
}

void PostQuitMessage(int exitCode) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_quitPosted = true;
        g_quitCode = exitCode;
    }
    WakeLoop();
}

short GetKeyState(int vk) {
    if (vk < 0 || vk > 255) return 0;
    const BYTE s = g_keyState[vk];
    return static_cast<short>(((s & 0x80) ? 0x8000 : 0) | (s & 0x01));
}

LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hwnd);
    if (!w) return 0;
    switch (message) {
        case WM_CLOSE:
            DestroyWindow(hwnd);
            return 0;
        case WM_PAINT:
            w->needsPaint = false;
            return 0;
        case WM_NCHITTEST: {
            const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
            const bool inside = x >= w->clientX && y >= w->clientY && x < w->clientX + w->clientW &&
                                y < w->clientY + w->clientH;
            return inside ? HTCLIENT : HTCAPTION;
        }
        case WM_SETCURSOR:
            if (LOWORD(static_cast<std::uintptr_t>(lParam)) == HTCLIENT) {
                SetCursor(w->cursor);
                return TRUE;
            }
            return FALSE;
        case WM_RBUTTONUP: {
            POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            ClientToScreen(hwnd, &p);
            SendMessageA(hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hwnd), PointToLParam(p.x, p.y));
            return 0;
        }
        case WM_SYSKEYDOWN:
            if (LOWORD(wParam) == VK_F4 && (lParam & (1 << 29))) {
                SendMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
            }
            return 0;
        case WM_SYSKEYUP:
            if (LOWORD(wParam) == VK_MENU && g_altAloneRetrieved) {
                g_altAloneRetrieved = false;
                SendMessageA(hwnd, WM_SYSCOMMAND, SC_KEYMENU, 0);
            }
            return 0;
        case WM_SYSCOMMAND:
            switch (wParam & 0xFFF0) {
                case SC_CLOSE: SendMessageA(hwnd, WM_CLOSE, 0, 0); break;
                case SC_MINIMIZE: ShowWindow(hwnd, SW_MINIMIZE); break;
                case SC_RESTORE: ShowWindow(hwnd, SW_RESTORE); break;
                case SC_MAXIMIZE:
                    if (w->sdl) SDL_MaximizeWindow(w->sdl);
                    break;
                default: break;
            }
            return 0;
        default:
            return 0;
    }
}

// ---------------------------------------------------------------- menus

HMENU CreateMenu() { return reinterpret_cast<HMENU>(new Menu()); }
HMENU CreatePopupMenu() { return reinterpret_cast<HMENU>(new Menu()); }

BOOL AppendMenuA(HMENU menu, UINT flags, std::uintptr_t idOrSub, const char* text) {
    if (!menu) return FALSE;
    auto* m = reinterpret_cast<Menu*>(menu);
    MenuItem item;
    item.separator = (flags & MF_SEPARATOR) != 0;
    if (flags & MF_POPUP) {
        item.sub = reinterpret_cast<HMENU>(idOrSub);
    } else {
        item.id = static_cast<UINT>(idOrSub);
    }
    if (text && !item.separator) item.text = text;
    m->items.push_back(item);
    return TRUE;
}

BOOL DestroyMenu(HMENU menu) {
    if (!menu) return FALSE;
    auto* m = reinterpret_cast<Menu*>(menu);
    for (auto& item : m->items) {
        if (item.sub) DestroyMenu(item.sub);
    }
    delete m;
    return TRUE;
}

HMENU GetSubMenu(HMENU menu, int position) {
    if (!menu) return nullptr;
    auto* m = reinterpret_cast<Menu*>(menu);
    if (position < 0 || position >= static_cast<int>(m->items.size())) return nullptr;
    return m->items[static_cast<size_t>(position)].sub;
}

HMENU GetMenu(HWND hwnd) {
    Window* w = Find(hwnd);
    return w ? w->menu : nullptr;
}

BOOL SetMenu(HWND hwnd, HMENU menu) {
    Window* w = Find(hwnd);
    if (!w) return FALSE;
    w->menu = menu;
    return TRUE;
}

int GetMenuItemCount(HMENU menu) {
    return menu ? static_cast<int>(reinterpret_cast<Menu*>(menu)->items.size()) : -1;
}

UINT GetMenuItemID(HMENU menu, int position) {
    if (!menu) return 0xFFFFFFFFu;
    auto* m = reinterpret_cast<Menu*>(menu);
    if (position < 0 || position >= static_cast<int>(m->items.size())) return 0xFFFFFFFFu;
    const MenuItem& item = m->items[static_cast<size_t>(position)];
    if (item.sub) return 0xFFFFFFFFu;
    return item.separator ? 0 : item.id;
}

int GetMenuStringA(HMENU menu, int position, char* text, int size) {
    if (!menu || !text || size <= 0) return 0;
    auto* m = reinterpret_cast<Menu*>(menu);
    if (position < 0 || position >= static_cast<int>(m->items.size())) return 0;
    const std::string& s = m->items[static_cast<size_t>(position)].text;
    const int n = std::min(static_cast<int>(s.size()), size - 1);
    std::memcpy(text, s.data(), static_cast<size_t>(n));
    text[n] = '\0';
    return n;
}

void RegisterMenuResource(int id, const MenuItemTemplate* items, int count) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_menuResources[id].assign(items, items + std::max(0, count));
}

namespace {
HMENU BuildMenu(const MenuItemTemplate* items, int count, bool popup) {
    HMENU menu = popup ? CreatePopupMenu() : CreateMenu();
    for (int i = 0; i < count; ++i) {
        const MenuItemTemplate& t = items[i];
        if (!t.text) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        } else if (t.subItems) {
            AppendMenuA(menu, MF_POPUP, reinterpret_cast<std::uintptr_t>(BuildMenu(t.subItems, t.subCount, true)),
                        t.text);
        } else {
            AppendMenuA(menu, MF_STRING, t.id, t.text);
        }
    }
    return menu;
}
}  // namespace

HMENU LoadMenuA(HINSTANCE, const char* name) {
    const int id = static_cast<int>(reinterpret_cast<std::intptr_t>(name));
    std::vector<MenuItemTemplate> items;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_menuResources.find(id);
        if (it == g_menuResources.end()) return nullptr;
        items = it->second;
    }
    return BuildMenu(items.data(), static_cast<int>(items.size()), false);
}

// ---------------------------------------------------------------- accelerators

HACCEL CreateAcceleratorTableA(const ACCEL* entries, int count) {
    if (!entries || count <= 0) return nullptr;
    auto* table = new std::vector<ACCEL>(entries, entries + count);
    return reinterpret_cast<HACCEL>(table);
}

BOOL DestroyAcceleratorTable(HACCEL table) {
    if (!table) return FALSE;
    delete reinterpret_cast<std::vector<ACCEL>*>(table);
    return TRUE;
}

void RegisterAcceleratorResource(int id, const ACCEL* entries, int count) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_accelResources[id].assign(entries, entries + std::max(0, count));
}

HACCEL LoadAcceleratorsA(HINSTANCE, const char* name) {
    const int id = static_cast<int>(reinterpret_cast<std::intptr_t>(name));
    std::vector<ACCEL> entries;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_accelResources.find(id);
        if (it == g_accelResources.end()) return nullptr;
        entries = it->second;
    }
    return CreateAcceleratorTableA(entries.data(), static_cast<int>(entries.size()));
}

int TranslateAcceleratorA(HWND hwnd, HACCEL table, MSG* msg) {
    if (!table || !msg || !hwnd) return 0;
    if (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN) return 0;
    const auto* entries = reinterpret_cast<const std::vector<ACCEL>*>(table);
    const bool shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    const bool control = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
    const bool alt = (GetKeyState(VK_MENU) & 0x8000) != 0 || (msg->lParam & (1 << 29)) != 0;
    const WORD vk = LOWORD(msg->wParam);
    for (const ACCEL& a : *entries) {
        if (!(a.fVirt & FVIRTKEY) || a.key != vk) continue;
        if (((a.fVirt & FSHIFT) != 0) != shift) continue;
        if (((a.fVirt & FCONTROL) != 0) != control) continue;
        if (((a.fVirt & FALT) != 0) != alt) continue;
        SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(a.cmd, 1), 0);
        return 1;
    }
    return 0;
}

// ---------------------------------------------------------------- message boxes

void SetMessageBoxRecorder(MessageBoxRecorder recorder) { g_boxRecorder.store(recorder); }

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    text = text ? text : "";
    caption = caption ? caption : "Error";
    const UINT icon = type & MB_ICONMASK;
    const char* kind = icon == MB_ICONERROR ? "error" : icon == MB_ICONWARNING ? "warning"
                     : icon == MB_ICONINFORMATION ? "information" : "message";
    MessageBoxRecorder recorder = g_boxRecorder.load();
    const char* mode = std::getenv("MERIDAX_MESSAGEBOX");
    const bool toStderr = recorder || (mode && std::strcmp(mode, "stderr") == 0) || !DisplayAvailable();
    if (toStderr) {
        std::fprintf(stderr, "[%s box] %s: %s\n", kind, caption, text);
        if (recorder) recorder(text, caption, type);
        return IDOK;
    }
    Uint32 flags = icon == MB_ICONERROR ? SDL_MESSAGEBOX_ERROR : icon == MB_ICONWARNING ? SDL_MESSAGEBOX_WARNING
                                                                                          : SDL_MESSAGEBOX_INFORMATION;
    if (SDL_ShowSimpleMessageBox(flags, caption, text, GetSdlWindow(owner)) != 0) {
        std::fprintf(stderr, "[%s box] %s: %s\n", kind, caption, text);
    }
    return IDOK;
}

// ---------------------------------------------------------------- injected input

void InjectKey(HWND hwnd, WORD vk, bool down, bool repeat) {
    Window* w = Find(hwnd);
    bool ext = false;
    const WORD scan = ScanCodeOfVirtualKey(vk, &ext);
    KeyInput(w, vk, scan, ext, down, repeat);
}

void InjectMouseMove(HWND hwnd, int x, int y, WPARAM buttons) {
    Window* w = Find(hwnd);
    if (!w) return;
    g_buttons = buttons & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON);
    MouseMoveInput(w, x, y);
}

void InjectMouseButton(HWND hwnd, int button, bool down, int x, int y) {
    Window* w = Find(hwnd);
    if (w) MouseButtonInput(w, button, down, x, y);
}

void InjectResize(HWND hwnd, int cw, int ch) {
    Window* w = Find(hwnd);
    if (!w) return;
    if (w->sdl) {
        w->expectW = cw;
        w->expectH = ch;
        SDL_SetWindowSize(w->sdl, cw, ch);
    }
    SizeInput(w, cw, ch, true);
    ui_detail::FinishDisplayBatch();
}

void InjectMinimize(HWND hwnd, bool minimized) {
    Window* w = Find(hwnd);
    if (w) MinimizeInput(w, minimized);
}

void InjectCloseButton(HWND hwnd) {
    if (Find(hwnd)) CallProc(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void ResetMessageQueueForTests() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_queue.clear();
    g_quitPosted = false;
    g_quitCode = 0;
    std::memset(g_keyState, 0, sizeof(g_keyState));
    std::memset(g_inputKeys, 0, sizeof(g_inputKeys));
    g_altAloneRetrieved = false;
    g_altAloneInput = false;
    g_buttons = 0;
}
