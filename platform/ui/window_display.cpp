// The display: whether one is available, its size, and pumping its events.
#include "platform/ui/window_state.h"

using namespace uiwin;

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
