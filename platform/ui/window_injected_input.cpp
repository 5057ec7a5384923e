// Input injected by tests and tools.
#include "platform/ui/window_state.h"

using namespace uiwin;

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
