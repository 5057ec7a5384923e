// Windows and window classes: creation, position, size, style and destruction.
#include "platform/ui/window_state.h"

using namespace uiwin;

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
