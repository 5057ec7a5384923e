// Construction, start-up, the message loop and one frame.
#include "framework/graphics_application.h"

#include <cstdio>
#include <cstring>

#include "common/frame_clock.h"

GraphicsApplication* AppInstance = nullptr;

namespace {
// Counters of the frame statistics, beside the object.
UINT g_statFrames = 0;
float g_statLastTime = 0.0f;
}  // namespace

void ResetFrameStatistics() {
    g_statFrames = 0;
    g_statLastTime = 0.0f;
}

GraphicsApplication::GraphicsApplication() {
    AppInstance = this;
    std::memset(Adapters, 0, sizeof(Adapters));
    RegisterFrameworkResources();
}

GraphicsApplication::~GraphicsApplication() {
    if (AppInstance == this) AppInstance = nullptr;
}

HRESULT GraphicsApplication::ValidateDeviceCaps(const D3DCAPS8*, DWORD, D3DFORMAT) { return S_OK; }

LRESULT GraphicsApplication::StaticWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!AppInstance) return DefWindowProcA(hwnd, message, wParam, lParam);
    return AppInstance->HandleWindowMessage(hwnd, message, wParam, lParam);
}

HRESULT GraphicsApplication::StartUp(HINSTANCE instance) {
    Direct3D = Direct3DCreate8(D3D_SDK_VERSION);
    if (!Direct3D) return ShowErrorBox(APP_E_D3D_INIT, ERRBOX_FATAL);

    HRESULT hr = EnumerateDevices();
    if (SUCCEEDED(hr) && !MainWindow) {
        WNDCLASSA wc{};
        wc.style = 0;
        wc.lpfnWndProc = StaticWindowProc;
        wc.hInstance = instance;
        wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN_ICON));
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = GetStockBrush(WHITE_BRUSH);
        wc.lpszMenuName = nullptr;
        wc.lpszClassName = "D3D Window";
        RegisterClassA(&wc);
        WindowedStyle = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX;
        // The outer size counts a menu bar the window does not have.
        RECT rc{0, 0, static_cast<LONG>(ClientWidth), static_cast<LONG>(ClientHeight)};
        AdjustWindowRect(&rc, WindowedStyle, TRUE);
        MainWindow = CreateWindowA("D3D Window", WindowTitle, WindowedStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                   rc.right - rc.left, rc.bottom - rc.top, nullptr, nullptr, instance, nullptr);
        if (!MainWindow) hr = E_FAIL;
    }
    if (SUCCEEDED(hr)) {
        if (!FocusWindow) FocusWindow = MainWindow;
        WindowedStyle = static_cast<DWORD>(GetWindowLongA(MainWindow, GWL_STYLE));
        GetWindowRect(MainWindow, &WindowRect);
        GetClientRect(MainWindow, &ClientRect);
        FrameClock(CLOCK_RESUME);
        hr = OneTimeSceneInit();
    }
    if (SUCCEEDED(hr)) hr = InitializeDevice();
    if (SUCCEEDED(hr)) {
        Ready = TRUE;
        return S_OK;
    }
    if (Direct3D) {
        Direct3D->Release();
        Direct3D = nullptr;
    }
    return ShowErrorBox(hr, ERRBOX_FATAL);
}

int GraphicsApplication::RunMessageLoop() {
    HACCEL accelerators = LoadAcceleratorsA(nullptr, MAKEINTRESOURCEA(IDR_MAIN_ACCEL));
    MSG msg{};
    msg.message = WM_NULL;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    while (msg.message != WM_QUIT) {
        BOOL got;
        if (Active) {
            got = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
        } else {
            GetMessageA(&msg, nullptr, 0, 0);
            got = TRUE;
        }
        if (got) {
            if (msg.message == WM_QUIT) break;
            if (!TranslateAcceleratorA(MainWindow, accelerators, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        } else if (Active && Ready) {
            const HRESULT hr = RenderOneFrame();
            if (FAILED(hr)) ShowErrorBox(hr, ERRBOX_FATAL);
        }
    }
    DestroyAcceleratorTable(accelerators);
    return static_cast<int>(msg.wParam);
}

HRESULT GraphicsApplication::RenderOneFrame() {
    if (!Device) return E_FAIL;
    HRESULT hr = Device->TestCooperativeLevel();
    if (FAILED(hr)) {
        if (hr == D3DERR_DEVICELOST) return E_FAIL;
        if (hr == D3DERR_DEVICENOTRESET) {
            if (Windowed) {
                AdapterRecord& adapter = CurrentAdapter();
                Direct3D->GetAdapterDisplayMode(adapter.Ordinal, &adapter.DesktopMode);
                PresentParams.BackBufferFormat = adapter.DesktopMode.Format;
            }
            return ResetDevice();
        }
        return hr;
    }
    const float t = FrameClock(CLOCK_SINCE_RESET);
    const float dt = FrameClock(CLOCK_DELTA);
    if (dt == 0.0f) return S_OK;
    AppTime = t;
    ElapsedTime = dt;
    hr = AdvanceScene();
    if (FAILED(hr)) return hr;
    hr = DrawScene();
    if (FAILED(hr)) return hr;
    Device->Present(nullptr, nullptr, nullptr, nullptr);

    const float now = FrameClock(CLOCK_ABSOLUTE);
    ++g_statFrames;
    if (now - g_statLastTime > 1.0f) {
        FramesPerSecond = static_cast<float>(g_statFrames) / (now - g_statLastTime);
        g_statFrames = 0;
        g_statLastTime = now;
        D3DDISPLAYMODE mode{};
        Direct3D->GetAdapterDisplayMode(CurrentAdapter().Ordinal, &mode);
        // Bounded: each piece is cut at the end of the text field.
        char* out = FrameStatsText;
        size_t room = sizeof(FrameStatsText);
        auto append = [&](const char* piece) {
            const size_t used = std::strlen(out);
            if (used + 1 < room) std::snprintf(out + used, room - used, "%s", piece);
        };
        std::snprintf(out, room, "%.02f fps (%dx%dx%d)", FramesPerSecond, static_cast<int>(BackBufferDesc.Width),
                      static_cast<int>(BackBufferDesc.Height), mode.Format == D3DFMT_X8R8G8B8 ? 32 : 16);
        if (UseDepthBuffer) {
            switch (CurrentMode().DepthStencilFormat) {
                case D3DFMT_D16: append(" (D16)"); break;
                case D3DFMT_D15S1: append(" (D15S1)"); break;
                case D3DFMT_D24X8: append(" (D24X8)"); break;
                case D3DFMT_D24S8: append(" (D24S8)"); break;
                case D3DFMT_D24X4S4: append(" (D24X4S4)"); break;
                case D3DFMT_D32: append(" (D32)"); break;
                default: break;
            }
        }
        const DeviceRecord& device = CurrentDevice();
        const int ms = device.Windowed ? device.WindowedMultiSampleType : device.FullscreenMultiSampleType;
        if (ms >= 2 && ms <= 16) {
            char label[32];
            std::snprintf(label, sizeof(label), " (%dx Multisample)", ms);
            append(label);
        }
    }
    return S_OK;
}
