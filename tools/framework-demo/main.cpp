// A small application on the framework: clears the back buffer to a slowly
// changing colour with a few bars, and reports its device hooks. With
// --script it drives itself (full screen and back, a resize, the device
// dialog, a close from another thread) and photographs window and dialog.
#include <SDL2/SDL.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "framework/graphics_application.h"

namespace {

std::string g_shotDir;
bool g_script = false;
int g_failures = 0;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "demo: check failed: %s\n", what);
        ++g_failures;
    }
}

bool Screenshot(const char* name) {
    if (g_shotDir.empty()) return false;
    const std::string path = g_shotDir + "/" + name;
    const std::string command = "import -window root '" + path + "' 2>/dev/null";
    const int rc = std::system(command.c_str());
    FILE* f = std::fopen(path.c_str(), "rb");
    long size = 0;
    if (f) {
        std::fseek(f, 0, SEEK_END);
        size = std::ftell(f);
        std::fclose(f);
    }
    std::printf("screenshot %s: %s (%ld bytes)\n", name, rc == 0 && size > 0 ? "taken" : "failed", size);
    return rc == 0 && size > 0;
}

// The colour of one screen pixel in a screenshot, as 0xRRGGBB (0xFFFFFFFF when unreadable).
DWORD ScreenshotPixel(const char* name, int x, int y) {
    const std::string command = "convert '" + g_shotDir + "/" + name + "' -format '%[fx:int(255*p{" +
                                std::to_string(x) + "," + std::to_string(y) + "}.r)] %[fx:int(255*p{" +
                                std::to_string(x) + "," + std::to_string(y) + "}.g)] %[fx:int(255*p{" +
                                std::to_string(x) + "," + std::to_string(y) + "}.b)]' info: 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return 0xFFFFFFFFu;
    unsigned r = 0, g = 0, b = 0;
    const int n = std::fscanf(pipe, "%u %u %u", &r, &g, &b);
    pclose(pipe);
    return n == 3 ? ((r << 16) | (g << 8) | b) : 0xFFFFFFFFu;
}

int g_dialogRuns = 0;

void PushMouseButton(SDL_Window* window, int x, int y, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = SDL_GetWindowID(window);
    e.button.button = SDL_BUTTON_LEFT;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.clicks = 1;
    e.button.x = x;
    e.button.y = y;
    SDL_PushEvent(&e);
}

void PushKey(SDL_Window* window, SDL_Keycode key, SDL_Scancode scancode) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.windowID = SDL_GetWindowID(window);
    e.key.state = SDL_PRESSED;
    e.key.keysym.sym = key;
    e.key.keysym.scancode = scancode;
    SDL_PushEvent(&e);
}

// Dialog units to dialog pixels, as the dialog window lays its controls out.
int UnitX(float x) { return static_cast<int>(x * 1.8f); }
int UnitY(float y) { return static_cast<int>(y * 1.75f); }

void Click(SDL_Window* window, int frame, int start, int x, int y) {
    if (frame == start) {
        SDL_RaiseWindow(window);
        SDL_WarpMouseInWindow(window, x, y);
    }
    if (frame == start + 2) PushMouseButton(window, x, y, true);
    if (frame == start + 4) PushMouseButton(window, x, y, false);
}

void DialogFrame(int frame, SDL_Window* window) {
    if (!g_script) return;
    if (frame == 0) ++g_dialogRuns;
    if (g_dialogRuns == 1) {
        // Confirm the unchanged choice with the keyboard.
        if (frame == 8) Check(Screenshot("dialog.png"), "dialog screenshot");
        if (frame == 10) PushKey(window, SDLK_RETURN, SDL_SCANCODE_RETURN);
    } else if (g_dialogRuns == 2) {
        // With the mouse: "Fullscreen mode:", then OK.
        Click(window, frame, 4, UnitX(10) + 9, UnitY(77) + 10);
        if (frame == 14) Screenshot("dialog-fullscreen-chosen.png");
        Click(window, frame, 16, UnitX(210 + 25), UnitY(10 + 7));
        if (frame > 60) PushKey(window, SDLK_ESCAPE, SDL_SCANCODE_ESCAPE);  // the clicks did not land
    }
}

class DemoApplication : public GraphicsApplication {
public:
    DemoApplication() {
        WindowTitle = "Framework Demo";
        UseDepthBuffer = TRUE;
        MinDepthBits = 15;
        MinStencilBits = 1;
        ClientWidth = 640;
        ClientHeight = 480;
    }
    HRESULT ValidateDeviceCaps(const D3DCAPS8* caps, DWORD, D3DFORMAT) override {
        return (caps->RasterCaps & D3DPRASTERCAPS_WBUFFER) ? S_OK : E_FAIL;
    }
    HRESULT OneTimeSceneInit() override { return Note("OneTimeSceneInit"); }
    HRESULT InitDeviceObjects() override { return Note("InitDeviceObjects"); }
    HRESULT PrepareDeviceObjects() override {
        std::printf("back buffer %ux%u, %s\n", BackBufferDesc.Width, BackBufferDesc.Height, DeviceText);
        return Note("PrepareDeviceObjects");
    }
    HRESULT ReleaseVolatileObjects() override { return Note("ReleaseVolatileObjects"); }
    HRESULT FreeDeviceObjects() override { return Note("FreeDeviceObjects"); }
    HRESULT OneTimeSceneShutdown() override { return Note("OneTimeSceneShutdown"); }

    HRESULT AdvanceScene() override {
        ++frame_;
        if (g_script) Script();
        return S_OK;
    }

    HRESULT DrawScene() override {
        if (FAILED(Device->BeginScene())) return E_FAIL;
        const float t = AppTime;
        const DWORD r = static_cast<DWORD>(40 + 30 * std::sin(t));
        const DWORD background = D3DCOLOR_XRGB(r, 60, 110);
        Device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, background, 1.0f, 0);
        const LONG w = static_cast<LONG>(BackBufferDesc.Width), h = static_cast<LONG>(BackBufferDesc.Height);
        static const D3DCOLOR bars[] = {0xFFE04040, 0xFF40E040, 0xFF4040E0, 0xFFE0E040};
        for (int i = 0; i < 4; ++i) {
            D3DRECT bar{w / 10 + i * w / 5, h / 3, w / 10 + i * w / 5 + w / 8, h * 2 / 3};
            Device->Clear(1, &bar, D3DCLEAR_TARGET, bars[i], 1.0f, 0);
        }
        Device->EndScene();
        return S_OK;
    }

    std::vector<std::string> hooks;

private:
    HRESULT Note(const char* hook) {
        hooks.push_back(hook);
        std::printf("%s\n", hook);
        return S_OK;
    }

    DWORD PixelAt(LONG x, LONG y) {
        IDirect3DSurface8* bb = nullptr;
        DWORD value = 0;
        if (SUCCEEDED(Device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &bb))) {
            D3DLOCKED_RECT lr{};
            if (SUCCEEDED(bb->LockRect(&lr, nullptr, D3DLOCK_READONLY))) {
                value = *reinterpret_cast<const DWORD*>(static_cast<const BYTE*>(lr.pBits) + y * lr.Pitch + x * 4);
                bb->UnlockRect();
            }
            bb->Release();
        }
        return value & 0xFFFFFF;
    }

    void Script() {
        switch (frame_) {
            case 5:
                Check(PixelAt(static_cast<LONG>(BackBufferDesc.Width) / 10 + 2,
                              static_cast<LONG>(BackBufferDesc.Height) / 2) == 0xE04040,
                      "first bar drawn into the back buffer");
                if (Screenshot("window.png")) {
                    // What was presented reached the window on the screen.
                    POINT p{static_cast<LONG>(BackBufferDesc.Width) / 10 + 2, static_cast<LONG>(BackBufferDesc.Height) / 2};
                    ClientToScreen(MainWindow, &p);
                    const DWORD seen = ScreenshotPixel("window.png", p.x, p.y);
                    std::printf("screen pixel at (%d, %d): %06X\n", p.x, p.y, seen);
                    Check(seen == 0xE04040, "first bar on the screen");
                } else {
                    Check(false, "window screenshot");
                }
                break;
            case 10:
                PostMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(CMD_TOGGLE_FULLSCREEN, 1), 0);
                break;
            case 20:
                Check(!Windowed, "full screen after ALT+RETURN command");
                Check(BackBufferDesc.Width == CurrentMode().Width, "full-screen back buffer has the mode's size");
                Screenshot("fullscreen.png");
                PostMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(CMD_TOGGLE_FULLSCREEN, 1), 0);
                break;
            case 30:
                Check(Windowed, "back in a window");
                InjectResize(MainWindow, 800, 560);
                break;
            case 40:
                Check(BackBufferDesc.Width == 800 && BackBufferDesc.Height == 560, "resize reset the device");
                PostMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(CMD_CHANGE_DEVICE, 1), 0);
                break;
            case 45:
                Check(Device != nullptr && Ready && Windowed, "device kept after the dialog");
                PostMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(CMD_CHANGE_DEVICE, 1), 0);
                break;
            case 50: {
                Check(!Windowed && BackBufferDesc.Width == CurrentMode().Width,
                      "full screen chosen in the dialog with the mouse");
                HWND window = MainWindow;
                std::thread([window] { SendMessageA(window, WM_CLOSE, 0, 0); }).detach();
                break;
            }
            default:
                break;
        }
    }

    int frame_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--script") == 0) g_script = true;
        if (std::strcmp(argv[i], "--shots") == 0 && i + 1 < argc) g_shotDir = argv[++i];
    }
    SetDialogFrameHook(DialogFrame);
    DemoApplication app;
    if (FAILED(app.StartUp(GetModuleHandleA(nullptr)))) return 1;
    const int code = app.RunMessageLoop();
    if (g_script) {
        const std::vector<std::string>& h = app.hooks;
        Check(h.size() >= 4 && h[0] == "OneTimeSceneInit" && h[1] == "InitDeviceObjects" &&
                  h[2] == "PrepareDeviceObjects",
              "creation order");
        Check(h.size() >= 3 && h[h.size() - 3] == "ReleaseVolatileObjects" && h[h.size() - 2] == "FreeDeviceObjects" &&
                  h.back() == "OneTimeSceneShutdown",
              "release order");
        std::printf("demo finished with %d failed checks\n", g_failures);
        return g_failures == 0 ? code : 2;
    }
    return code;
}
