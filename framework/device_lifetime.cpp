// Device creation, reset, window/full-screen switching, release, and the
// window messages of the application.
#include <cstdio>
#include <cstring>

#include "framework/d3d_helpers.h"
#include "framework/graphics_application.h"

namespace {
constexpr DWORD kFullscreenStyle = WS_POPUP | WS_VISIBLE | WS_SYSMENU;

// Appends to a fixed text field, cutting what does not fit.
void AppendBounded(char* out, size_t size, const char* piece) {
    const size_t used = std::strlen(out);
    if (used + 1 < size) std::snprintf(out + used, size - used, "%s", piece);
}
}  // namespace

void GraphicsApplication::ReadBackBufferDescription() {
    IDirect3DSurface8* backBuffer = nullptr;
    if (SUCCEEDED(Device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &backBuffer)) && backBuffer) {
        backBuffer->GetDesc(&BackBufferDesc);
        backBuffer->Release();
    }
}

void GraphicsApplication::SetUpCursor() {
    if (ShowCursorWhenFullscreen && !Windowed) {
        CopyCursorToDevice(Device, GetClassCursor(MainWindow), TRUE);
        Device->ShowCursor(TRUE);
    }
    if (ClipCursorWhenFullscreen) {
        if (!Windowed) {
            RECT r;
            GetWindowRect(MainWindow, &r);
            ClipCursor(&r);
        } else {
            ClipCursor(nullptr);
        }
    }
}

void GraphicsApplication::ReleaseDevice() {
    if (Device) {
        Device->Release();
        Device = nullptr;
    }
}

void GraphicsApplication::SetPresentMode() {
    const DeviceRecord& device = CurrentDevice();
    const ModeRecord& mode = CurrentMode();
    PresentParams.Windowed = device.Windowed;
    PresentParams.MultiSampleType = device.Windowed ? device.WindowedMultiSampleType : device.FullscreenMultiSampleType;
    PresentParams.AutoDepthStencilFormat = mode.DepthStencilFormat;
    PresentParams.hDeviceWindow = MainWindow;
    if (!Windowed) {
        PresentParams.BackBufferWidth = mode.Width;
        PresentParams.BackBufferHeight = mode.Height;
        PresentParams.BackBufferFormat = mode.Format;
    } else {
        PresentParams.BackBufferWidth = static_cast<UINT>(ClientRect.right - ClientRect.left);
        PresentParams.BackBufferHeight = static_cast<UINT>(ClientRect.bottom - ClientRect.top);
        PresentParams.BackBufferFormat = CurrentAdapter().DesktopMode.Format;
    }
}

void GraphicsApplication::BuildDeviceText() {
    const DeviceRecord& device = CurrentDevice();
    const bool hal = device.DeviceType == D3DDEVTYPE_HAL;
    std::snprintf(DeviceText, sizeof(DeviceText), "%s", hal ? "HAL" : "REF");
    const DWORD b = BehaviourFlags;
    if ((b & D3DCREATE_HARDWARE_VERTEXPROCESSING) && (b & D3DCREATE_PUREDEVICE)) {
        AppendBounded(DeviceText, sizeof(DeviceText), hal ? " (pure hw vp)" : " (simulated pure hw vp)");
    } else if (b & D3DCREATE_HARDWARE_VERTEXPROCESSING) {
        AppendBounded(DeviceText, sizeof(DeviceText), hal ? " (hw vp)" : " (simulated hw vp)");
    } else if (b & D3DCREATE_MIXED_VERTEXPROCESSING) {
        AppendBounded(DeviceText, sizeof(DeviceText), hal ? " (mixed vp)" : " (simulated mixed vp)");
    } else if (b & D3DCREATE_SOFTWARE_VERTEXPROCESSING) {
        AppendBounded(DeviceText, sizeof(DeviceText), " (sw vp)");
    }
    if (hal) {
        AppendBounded(DeviceText, sizeof(DeviceText), ": ");
        AppendBounded(DeviceText, sizeof(DeviceText), CurrentAdapter().Identifier.Description);
    }
}

HRESULT GraphicsApplication::InitializeDevice() {
    ApplyWindowStyle();
    AdapterRecord& adapter = CurrentAdapter();
    DeviceRecord& device = CurrentDevice();
    ModeRecord& mode = CurrentMode();

    std::memset(&PresentParams, 0, sizeof(PresentParams));
    PresentParams.BackBufferCount = 1;
    PresentParams.SwapEffect = D3DSWAPEFFECT_DISCARD;
    PresentParams.EnableAutoDepthStencil = UseDepthBuffer;
    SetPresentMode();

    if (device.Caps.PrimitiveMiscCaps & D3DPMISCCAPS_NULLREFERENCE) {
        ShowErrorBox(APP_E_NULL_REFERENCE_DEVICE, ERRBOX_WARNING);
        return APP_E_HAL_LACKS_FEATURES;
    }

    HRESULT hr = Direct3D->CreateDevice(adapter.Ordinal, device.DeviceType, FocusWindow, mode.BehaviourFlags,
                                        &PresentParams, &Device);
    if (SUCCEEDED(hr)) {
        if (Windowed) {
            SetWindowPos(MainWindow, HWND_NOTOPMOST, WindowRect.left, WindowRect.top,
                         WindowRect.right - WindowRect.left, WindowRect.bottom - WindowRect.top, SWP_SHOWWINDOW);
        }
        Device->GetDeviceCaps(&DeviceCaps);
        BehaviourFlags = mode.BehaviourFlags;
        BuildDeviceText();
        ReadBackBufferDescription();
        SetUpCursor();
        hr = InitDeviceObjects();
        if (SUCCEEDED(hr)) hr = PrepareDeviceObjects();
        if (SUCCEEDED(hr)) {
            Active = TRUE;
            return S_OK;
        }
        ReleaseVolatileObjects();
        FreeDeviceObjects();
        ReleaseDevice();
    } else {
        Device = nullptr;
    }

    // Reference fall-back, after a failed HAL.
    if (device.DeviceType == D3DDEVTYPE_HAL) {
        CurrentAdapterIndex = 0;
        AdapterRecord& first = Adapters[0];
        for (UINT d = 0; d < first.DeviceCount; ++d) {
            if (first.Devices[d].DeviceType == D3DDEVTYPE_REF) {
                first.CurrentDevice = d;
                Windowed = first.Devices[d].Windowed;
                break;
            }
        }
        if (first.Devices[first.CurrentDevice].DeviceType == D3DDEVTYPE_REF) {
            SetWindowPos(MainWindow, HWND_NOTOPMOST, WindowRect.left, WindowRect.top,
                         WindowRect.right - WindowRect.left, WindowRect.bottom - WindowRect.top, SWP_SHOWWINDOW);
            ApplyWindowStyle();
            ShowErrorBox(hr, ERRBOX_REF_FALLBACK);
            return InitializeDevice();
        }
    }
    return hr;
}

HRESULT GraphicsApplication::ResetDevice() {
    HRESULT hr = ReleaseVolatileObjects();
    if (FAILED(hr)) return hr;
    hr = Device->Reset(&PresentParams);
    if (FAILED(hr)) return hr;
    ReadBackBufferDescription();
    SetUpCursor();
    return PrepareDeviceObjects();
}

HRESULT GraphicsApplication::ToggleWindowedMode() {
    DeviceRecord& device = CurrentDevice();
    if (!Windowed && !device.CanRenderWindowed) return SwitchToWindowedDevice();
    Ready = FALSE;
    Windowed = !Windowed;
    device.Windowed = Windowed;
    ApplyWindowStyle();
    SetPresentMode();
    if (FAILED(ResetDevice())) {
        if (!Windowed) return E_FAIL;
        return SwitchToWindowedDevice();
    }
    if (Windowed) {
        SetWindowPos(MainWindow, HWND_NOTOPMOST, WindowRect.left, WindowRect.top, WindowRect.right - WindowRect.left,
                     WindowRect.bottom - WindowRect.top, SWP_SHOWWINDOW);
    }
    Ready = TRUE;
    return S_OK;
}

HRESULT GraphicsApplication::SwitchToWindowedDevice() {
    if (!CurrentDevice().CanRenderWindowed) {
        bool found = false;
        for (UINT a = 0; a < AdapterCount && !found; ++a) {
            for (UINT d = 0; d < Adapters[a].DeviceCount; ++d) {
                if (Adapters[a].Devices[d].CanRenderWindowed) {
                    CurrentAdapterIndex = a;
                    Adapters[a].CurrentDevice = d;
                    found = true;
                    break;
                }
            }
        }
        if (!found) return E_FAIL;
    }
    CurrentDevice().Windowed = TRUE;
    Windowed = TRUE;
    Ready = FALSE;
    const HRESULT hr = RecreateDevice();
    if (FAILED(hr)) return hr;
    Ready = TRUE;
    return S_OK;
}

HRESULT GraphicsApplication::RecreateDevice() {
    ReleaseVolatileObjects();
    FreeDeviceObjects();
    if (Device) {
        const ULONG left = Device->Release();
        Device = nullptr;
        if (left != 0) return ShowErrorBox(APP_E_LEAKED_REFERENCES, ERRBOX_FATAL);
    }
    const HRESULT hr = InitializeDevice();
    if (FAILED(hr)) return ShowErrorBox(hr, ERRBOX_FATAL);
    return S_OK;
}

HRESULT GraphicsApplication::ApplyWindowStyle() {
    if (Windowed) {
        SetWindowLongA(MainWindow, GWL_STYLE, static_cast<LONG>(WindowedStyle));
        if (SavedMenu) {
            SetMenu(MainWindow, SavedMenu);
            SavedMenu = nullptr;
        }
    } else {
        SetWindowLongA(MainWindow, GWL_STYLE, static_cast<LONG>(kFullscreenStyle));
        if (!SavedMenu) SavedMenu = GetMenu(MainWindow);
        SetMenu(MainWindow, nullptr);
    }
    return S_OK;
}

HRESULT GraphicsApplication::ShutdownDevice() {
    Active = FALSE;
    Ready = FALSE;
    if (Device) {
        ReleaseVolatileObjects();
        FreeDeviceObjects();
        ReleaseDevice();
    }
    if (Direct3D) {
        Direct3D->Release();
        Direct3D = nullptr;
    }
    return OneTimeSceneShutdown();
}

LRESULT GraphicsApplication::HandleWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            if (wParam == SIZE_MINIMIZED || wParam == SIZE_MAXHIDE) {
                Active = FALSE;
                if (ClipCursorWhenFullscreen && !Windowed) ClipCursor(nullptr);
            } else {
                Active = TRUE;
            }
            break;
        case WM_PAINT:
            if (Device && !Ready && Windowed) {
                DrawScene();
                Device->Present(nullptr, nullptr, nullptr, nullptr);
            }
            break;
        case WM_CLOSE: {
            // A second close (after an earlier fatal box) finds everything gone.
            if (!shutDown_) {
                shutDown_ = true;
                ShutdownDevice();
            }
            HMENU menu = GetMenu(hwnd);
            if (menu) DestroyMenu(menu);
            SetMenu(hwnd, nullptr);
            if (SavedMenu) {
                DestroyMenu(SavedMenu);
                SavedMenu = nullptr;
            }
            DestroyWindow(hwnd);
            PostQuitMessage(0);
            return 0;
        }
        case WM_SETCURSOR:
            if (Active && Ready && !Windowed) {
                SetCursor(nullptr);
                if (ShowCursorWhenFullscreen && Device) Device->ShowCursor(TRUE);
                return TRUE;
            }
            break;
        case WM_GETMINMAXINFO:
            reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {100, 100};
            break;
        case WM_CONTEXTMENU:
            if (Windowed) {
                HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_POPUP_MENU));
                HMENU popup = GetSubMenu(menu, 0);
                TrackPopupMenuEx(popup, TPM_VERTICAL, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), hwnd, nullptr);
                DestroyMenu(menu);
            }
            break;
        case WM_NCHITTEST:
            if (!Windowed) return HTCLIENT;
            break;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case CMD_CHANGE_DEVICE:
                    if (Active && Ready) ChooseDeviceInteractively();
                    return 0;
                case CMD_TOGGLE_FULLSCREEN:
                    if (Active && Ready && FAILED(ToggleWindowedMode()) && !shutDown_) {
                        ShowErrorBox(APP_E_RESET_FAILED, ERRBOX_FATAL);
                    }
                    return 0;
                case CMD_EXIT:
                    SendMessageA(hwnd, WM_CLOSE, 0, 0);
                    return 0;
                default:
                    break;
            }
            break;
        case WM_SYSCOMMAND:
            if (wParam == SC_MOVE || wParam == SC_SIZE || wParam == SC_MAXIMIZE || wParam == SC_KEYMENU ||
                wParam == SC_MONITORPOWER) {
                if (!Windowed) return 1;
            }
            break;
        case WM_MOUSEMOVE:
            if (Active && Ready && Device) {
                POINT p;
                GetCursorPos(&p);
                if (!Windowed) ScreenToClient(MainWindow, &p);
                Device->SetCursorPosition(p.x, p.y, 0);
            }
            break;
        case WM_POWERBROADCAST:
            if (wParam == PBT_APMQUERYSUSPEND || wParam == PBT_APMRESUMESUSPEND) return TRUE;
            break;
        case WM_EXITSIZEMOVE:
            if (Active && Windowed) {
                const RECT old = ClientRect;
                GetWindowRect(hwnd, &WindowRect);
                GetClientRect(hwnd, &ClientRect);
                if (old.right - old.left != ClientRect.right - ClientRect.left ||
                    old.bottom - old.top != ClientRect.bottom - ClientRect.top) {
                    Ready = FALSE;
                    PresentParams.BackBufferWidth = static_cast<UINT>(ClientRect.right - ClientRect.left);
                    PresentParams.BackBufferHeight = static_cast<UINT>(ClientRect.bottom - ClientRect.top);
                    if (FAILED(ResetDevice())) {
                        ShowErrorBox(APP_E_RESET_FAILED, ERRBOX_FATAL);
                        return 0;
                    }
                    Ready = TRUE;
                }
            }
            break;
        default:
            break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}
