// The message queue: posting, sending, retrieving and the default handling.
#include "platform/ui/window_state.h"

using namespace uiwin;

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
