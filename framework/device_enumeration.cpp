// Adapters, devices and display modes; the start-up choice; the "Select
// Device" dialog and the device change it leads to.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "framework/graphics_application.h"

int GraphicsApplication::CompareDisplayModes(const D3DDISPLAYMODE* a, const D3DDISPLAYMODE* b) {
    if (a->Format > b->Format) return -1;
    if (a->Format < b->Format) return 1;
    if (a->Width < b->Width) return -1;
    if (a->Width > b->Width) return 1;
    if (a->Height < b->Height) return -1;
    if (a->Height > b->Height) return 1;
    return 0;
}

BOOL GraphicsApplication::PickDepthStencilFormat(UINT ordinal, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                                 D3DFORMAT* format) {
    struct Candidate {
        D3DFORMAT format;
        UINT depth;
        UINT stencil;
    };
    static const Candidate kCandidates[] = {
        {D3DFMT_D24X8, 24, 0}, {D3DFMT_D24X4S4, 24, 4}, {D3DFMT_D24S8, 24, 8}, {D3DFMT_D16, 16, 0},
        {D3DFMT_D15S1, 15, 1},
    };
    for (const Candidate& c : kCandidates) {
        if (MinDepthBits > c.depth || MinStencilBits > c.stencil) continue;
        if (FAILED(Direct3D->CheckDeviceFormat(ordinal, type, adapterFormat, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE,
                                               c.format))) {
            continue;
        }
        if (FAILED(Direct3D->CheckDepthStencilMatch(ordinal, type, adapterFormat, adapterFormat, c.format))) continue;
        *format = c.format;
        return TRUE;
    }
    return FALSE;
}

HRESULT GraphicsApplication::EnumerateDevices() {
    static const D3DDEVTYPE kTypes[] = {D3DDEVTYPE_HAL, D3DDEVTYPE_REF};
    static const char* const kNames[] = {"HAL", "REF"};
    bool halFound = false, halWindowed = false, halDesktopWindowed = false, halModes = false;
    AdapterCount = 0;
    const UINT ordinals = Direct3D->GetAdapterCount();
    for (UINT ordinal = 0; ordinal < ordinals && AdapterCount < kMaxAdapters; ++ordinal) {
        AdapterRecord& adapter = Adapters[AdapterCount];
        std::memset(&adapter, 0, sizeof(adapter));
        adapter.Ordinal = ordinal;
        Direct3D->GetAdapterIdentifier(ordinal, D3DENUM_NO_WHQL_LEVEL, &adapter.Identifier);
        Direct3D->GetAdapterDisplayMode(ordinal, &adapter.DesktopMode);
        adapter.DeviceCount = 0;
        adapter.CurrentDevice = 0;

        D3DDISPLAYMODE modes[kMaxDisplayModes];
        UINT modeCount = 0;
        D3DFORMAT formats[kMaxFormats];
        UINT formatCount = 0;
        formats[formatCount++] = adapter.DesktopMode.Format;
        const UINT available = Direct3D->GetAdapterModeCount(ordinal);
        for (UINT m = 0; m < available; ++m) {
            D3DDISPLAYMODE mode{};
            if (FAILED(Direct3D->EnumAdapterModes(ordinal, m, &mode))) continue;
            if (mode.Width < 640 || mode.Height < 400) continue;
            bool listed = false;
            for (UINT i = 0; i < modeCount; ++i) {
                if (modes[i].Width == mode.Width && modes[i].Height == mode.Height && modes[i].Format == mode.Format) {
                    listed = true;
                    break;
                }
            }
            if (listed || modeCount >= kMaxDisplayModes) continue;
            mode.RefreshRate = 0;
            modes[modeCount++] = mode;
            bool formatListed = false;
            for (UINT f = 0; f < formatCount; ++f) formatListed = formatListed || formats[f] == mode.Format;
            if (!formatListed && formatCount < kMaxFormats) formats[formatCount++] = mode.Format;
        }
        std::stable_sort(modes, modes + modeCount, [](const D3DDISPLAYMODE& a, const D3DDISPLAYMODE& b) {
            return CompareDisplayModes(&a, &b) < 0;
        });

        for (int t = 0; t < 2 && adapter.DeviceCount < kMaxDevicesPerAdapter; ++t) {
            DeviceRecord& device = adapter.Devices[adapter.DeviceCount];
            device.DeviceType = kTypes[t];
            Direct3D->GetDeviceCaps(ordinal, kTypes[t], &device.Caps);
            device.Name = kNames[t];
            device.ModeCount = 0;
            device.CurrentMode = 0;
            device.CanRenderWindowed = FALSE;
            device.Windowed = FALSE;
            device.WindowedMultiSampleType = D3DMULTISAMPLE_NONE;
            device.FullscreenMultiSampleType = D3DMULTISAMPLE_NONE;

            bool accepted[kMaxFormats] = {};
            DWORD behaviour[kMaxFormats] = {};
            D3DFORMAT depthFormat[kMaxFormats] = {};
            for (UINT f = 0; f < formatCount; ++f) {
                accepted[f] = false;
                depthFormat[f] = D3DFMT_UNKNOWN;
                if (FAILED(Direct3D->CheckDeviceType(ordinal, kTypes[t], formats[f], formats[f], FALSE))) continue;
                if (kTypes[t] == D3DDEVTYPE_HAL) {
                    halFound = true;
                    if (device.Caps.Caps2 & D3DCAPS2_CANRENDERWINDOWED) {
                        halWindowed = true;
                        if (f == 0) halDesktopWindowed = true;
                    }
                }
                DWORD candidates[4];
                int candidateCount = 0;
                if (device.Caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) {
                    if (device.Caps.DevCaps & D3DDEVCAPS_PUREDEVICE) {
                        candidates[candidateCount++] = D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE;
                    }
                    candidates[candidateCount++] = D3DCREATE_HARDWARE_VERTEXPROCESSING;
                    candidates[candidateCount++] = D3DCREATE_MIXED_VERTEXPROCESSING;
                }
                candidates[candidateCount++] = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
                for (int c = 0; c < candidateCount; ++c) {
                    if (SUCCEEDED(ValidateDeviceCaps(&device.Caps, candidates[c], formats[f]))) {
                        behaviour[f] = candidates[c];
                        accepted[f] = true;
                        break;
                    }
                }
                if (accepted[f] && UseDepthBuffer &&
                    !PickDepthStencilFormat(ordinal, kTypes[t], formats[f], &depthFormat[f])) {
                    accepted[f] = false;
                }
            }

            for (UINT m = 0; m < modeCount; ++m) {
                for (UINT f = 0; f < formatCount; ++f) {
                    if (!accepted[f] || formats[f] != modes[m].Format) continue;
                    if (device.ModeCount >= kMaxModesPerDevice) continue;
                    device.Modes[device.ModeCount++] = {modes[m].Width, modes[m].Height, modes[m].Format, behaviour[f],
                                                        depthFormat[f]};
                    if (kTypes[t] == D3DDEVTYPE_HAL) halModes = true;
                }
            }
            for (UINT m = 0; m < device.ModeCount; ++m) {
                const ModeRecord& r = device.Modes[m];
                if (r.Width == 1024 && r.Height == 768) {
                    device.CurrentMode = m;
                    if (r.Format == D3DFMT_R8G8B8 || r.Format == D3DFMT_A8R8G8B8 || r.Format == D3DFMT_X8R8G8B8) break;
                }
            }
            if (accepted[0] && (device.Caps.Caps2 & D3DCAPS2_CANRENDERWINDOWED)) {
                device.CanRenderWindowed = TRUE;
                device.Windowed = TRUE;
            }
            if (device.ModeCount > 0) ++adapter.DeviceCount;
        }
        if (adapter.DeviceCount > 0) ++AdapterCount;
    }

    if (AdapterCount == 0) return APP_E_NO_COMPATIBLE_DEVICE;
    bool chosen = false;
    for (UINT a = 0; a < AdapterCount && !chosen; ++a) {
        for (UINT d = 0; d < Adapters[a].DeviceCount; ++d) {
            if (Adapters[a].Devices[d].Windowed) {
                CurrentAdapterIndex = a;
                Adapters[a].CurrentDevice = d;
                Windowed = TRUE;
                chosen = true;
                break;
            }
        }
    }
    if (!chosen) return APP_E_DESKTOP_NOT_USABLE;
    if (CurrentDevice().DeviceType == D3DDEVTYPE_REF) {
        HRESULT reason = APP_E_HAL_LACKS_DESKTOP_FEATURES;
        if (!halFound) {
            reason = APP_E_NO_HAL;
        } else if (!halModes) {
            reason = APP_E_HAL_LACKS_FEATURES;
        } else if (!halWindowed) {
            reason = APP_E_HAL_NO_WINDOW;
        } else if (!halDesktopWindowed) {
            reason = APP_E_HAL_NO_DESKTOP_WINDOW;
        }
        ShowErrorBox(reason, ERRBOX_REF_FALLBACK);
    }
    return S_OK;
}

// ---------------------------------------------------------------- the dialog

namespace {

struct DialogSelection {
    GraphicsApplication* app = nullptr;
    UINT oldAdapter = 0, newAdapter = 0;
    UINT oldDevice = 0, newDevice = 0;
    UINT oldMode = 0, newMode = 0;
    BOOL oldWindowed = FALSE, newWindowed = FALSE;
    D3DMULTISAMPLE_TYPE oldWindowedMs = D3DMULTISAMPLE_NONE, newWindowedMs = D3DMULTISAMPLE_NONE;
    D3DMULTISAMPLE_TYPE oldFullscreenMs = D3DMULTISAMPLE_NONE, newFullscreenMs = D3DMULTISAMPLE_NONE;
};
DialogSelection g_selection;

void Refill(DialogControls* dlg) {
    DialogSelection& s = g_selection;
    GraphicsApplication* app = s.app;
    dlg->ResetContent(IDC_ADAPTER_COMBO);
    dlg->ResetContent(IDC_DEVICE_COMBO);
    dlg->ResetContent(IDC_FULLSCREENMODES_COMBO);
    dlg->ResetContent(IDC_MULTISAMPLE_COMBO);

    for (UINT a = 0; a < app->AdapterCount; ++a) {
        const int pos = dlg->AddString(IDC_ADAPTER_COMBO, app->Adapters[a].Identifier.Description);
        dlg->SetItemData(IDC_ADAPTER_COMBO, pos, static_cast<std::intptr_t>(a));
        if (a == s.newAdapter) dlg->SetCurSel(IDC_ADAPTER_COMBO, pos);
    }
    AdapterRecord& adapter = app->Adapters[s.newAdapter];
    for (UINT d = 0; d < adapter.DeviceCount; ++d) {
        const int pos = dlg->AddString(IDC_DEVICE_COMBO, adapter.Devices[d].Name);
        dlg->SetItemData(IDC_DEVICE_COMBO, pos, static_cast<std::intptr_t>(d));
        if (d == s.newDevice) dlg->SetCurSel(IDC_DEVICE_COMBO, pos);
    }
    DeviceRecord& device = adapter.Devices[s.newDevice];
    for (UINT m = 0; m < device.ModeCount; ++m) {
        const ModeRecord& r = device.Modes[m];
        const long bits =
            (r.Format == D3DFMT_R8G8B8 || r.Format == D3DFMT_A8R8G8B8 || r.Format == D3DFMT_X8R8G8B8) ? 32 : 16;
        char text[64];
        std::snprintf(text, sizeof(text), "%ld x %ld x %ld", static_cast<long>(r.Width), static_cast<long>(r.Height),
                      bits);
        const int pos = dlg->AddString(IDC_FULLSCREENMODES_COMBO, text);
        dlg->SetItemData(IDC_FULLSCREENMODES_COMBO, pos, static_cast<std::intptr_t>(m));
        if (m == s.newMode) dlg->SetCurSel(IDC_FULLSCREENMODES_COMBO, pos);
    }
    const D3DFORMAT format =
        s.newWindowed ? adapter.DesktopMode.Format : (s.newMode < device.ModeCount ? device.Modes[s.newMode].Format
                                                                                   : adapter.DesktopMode.Format);
    D3DMULTISAMPLE_TYPE& stored = s.newWindowed ? s.newWindowedMs : s.newFullscreenMs;
    for (int m = 0; m <= 16; ++m) {
        if (m == 1) continue;
        if (FAILED(app->Direct3D->CheckDeviceMultiSampleType(adapter.Ordinal, device.DeviceType, format, s.newWindowed,
                                                             static_cast<D3DMULTISAMPLE_TYPE>(m)))) {
            continue;
        }
        char text[32];
        if (m == 0) {
            std::snprintf(text, sizeof(text), "none");
        } else {
            std::snprintf(text, sizeof(text), "%d samples", m);
        }
        const int pos = dlg->AddString(IDC_MULTISAMPLE_COMBO, text);
        dlg->SetItemData(IDC_MULTISAMPLE_COMBO, pos, m);
        if (m == 0 || m == stored) dlg->SetCurSel(IDC_MULTISAMPLE_COMBO, pos);
    }
    const int selected = dlg->GetCurSel(IDC_MULTISAMPLE_COMBO);
    // An empty list stores none.
    stored = selected >= 0 ? static_cast<D3DMULTISAMPLE_TYPE>(dlg->GetItemData(IDC_MULTISAMPLE_COMBO, selected))
                           : D3DMULTISAMPLE_NONE;
    dlg->EnableControl(IDC_MULTISAMPLE_COMBO, dlg->GetCount(IDC_MULTISAMPLE_COMBO) > 1);
    dlg->EnableControl(IDC_WINDOW, device.CanRenderWindowed != FALSE);
    if (s.newWindowed) {
        dlg->CheckButton(IDC_WINDOW, true);
        dlg->CheckButton(IDC_FULLSCREEN, false);
        dlg->EnableControl(IDC_FULLSCREENMODES_COMBO, false);
    } else {
        dlg->CheckButton(IDC_FULLSCREEN, true);
        dlg->CheckButton(IDC_WINDOW, false);
        dlg->EnableControl(IDC_FULLSCREENMODES_COMBO, true);
    }
}

// A stored multisample type the device cannot do for its use falls back to none.
D3DMULTISAMPLE_TYPE Checked(GraphicsApplication* app, const AdapterRecord& adapter, const DeviceRecord& device,
                            BOOL windowed, D3DMULTISAMPLE_TYPE type) {
    if (type == D3DMULTISAMPLE_NONE) return type;
    const D3DFORMAT format = windowed ? adapter.DesktopMode.Format
                                      : (device.CurrentMode < device.ModeCount ? device.Modes[device.CurrentMode].Format
                                                                               : adapter.DesktopMode.Format);
    const HRESULT hr =
        app->Direct3D->CheckDeviceMultiSampleType(adapter.Ordinal, device.DeviceType, format, windowed, type);
    return SUCCEEDED(hr) ? type : D3DMULTISAMPLE_NONE;
}

}  // namespace

INT_PTR GraphicsApplication::DeviceDialogProc(DialogControls* dlg, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogSelection& s = g_selection;
    if (message == WM_INITDIALOG) {
        s.app = reinterpret_cast<GraphicsApplication*>(lParam);
        GraphicsApplication* app = s.app;
        s.oldAdapter = s.newAdapter = app->CurrentAdapterIndex;
        const AdapterRecord& adapter = app->Adapters[s.oldAdapter];
        s.oldDevice = s.newDevice = adapter.CurrentDevice;
        const DeviceRecord& device = adapter.Devices[s.oldDevice];
        s.oldMode = s.newMode = device.CurrentMode;
        s.oldWindowed = s.newWindowed = device.Windowed;
        s.oldWindowedMs = s.newWindowedMs = device.WindowedMultiSampleType;
        s.oldFullscreenMs = s.newFullscreenMs = device.FullscreenMultiSampleType;
        Refill(dlg);
        return TRUE;
    }
    if (message != WM_COMMAND || !s.app) return FALSE;
    GraphicsApplication* app = s.app;
    s.newWindowed = dlg->IsButtonChecked(IDC_WINDOW) ? TRUE : FALSE;
    const WORD id = LOWORD(wParam);
    const WORD code = HIWORD(wParam);
    if (id == IDOK) {
        if (s.newAdapter == s.oldAdapter && s.newDevice == s.oldDevice && s.newMode == s.oldMode &&
            s.newWindowed == s.oldWindowed && s.newWindowedMs == s.oldWindowedMs &&
            s.newFullscreenMs == s.oldFullscreenMs) {
            dlg->EndDialog(IDCANCEL);
            return TRUE;
        }
        app->CurrentAdapterIndex = s.newAdapter;
        AdapterRecord& adapter = app->Adapters[s.newAdapter];
        adapter.CurrentDevice = s.newDevice;
        DeviceRecord& device = adapter.Devices[s.newDevice];
        device.CurrentMode = s.newMode;
        device.Windowed = s.newWindowed;
        device.WindowedMultiSampleType = Checked(app, adapter, device, TRUE, s.newWindowedMs);
        device.FullscreenMultiSampleType = Checked(app, adapter, device, FALSE, s.newFullscreenMs);
        dlg->EndDialog(IDOK);
        return TRUE;
    }
    if (id == IDCANCEL) {
        dlg->EndDialog(IDCANCEL);
        return TRUE;
    }
    if (code == CBN_SELENDOK) {
        const int pos = dlg->GetCurSel(id);
        if (id == IDC_ADAPTER_COMBO && pos >= 0) {
            const auto a = static_cast<UINT>(dlg->GetItemData(id, pos));
            if (a < app->AdapterCount) {
                s.newAdapter = a;
                const AdapterRecord& adapter = app->Adapters[a];
                s.newDevice = adapter.CurrentDevice;
                s.newMode = adapter.Devices[s.newDevice].CurrentMode;
                s.newWindowed = adapter.Devices[s.newDevice].Windowed;
            }
        } else if (id == IDC_DEVICE_COMBO && pos >= 0) {
            const auto d = static_cast<UINT>(dlg->GetItemData(id, pos));
            const AdapterRecord& adapter = app->Adapters[s.newAdapter];
            if (d < adapter.DeviceCount) {
                s.newDevice = d;
                s.newMode = adapter.Devices[d].CurrentMode;
                s.newWindowed = adapter.Devices[d].Windowed;
            }
        } else if (id == IDC_FULLSCREENMODES_COMBO && pos >= 0) {
            const auto m = static_cast<UINT>(dlg->GetItemData(id, pos));
            if (m < app->Adapters[s.newAdapter].Devices[s.newDevice].ModeCount) s.newMode = m;
        } else if (id == IDC_MULTISAMPLE_COMBO && pos >= 0) {
            const auto type = static_cast<D3DMULTISAMPLE_TYPE>(dlg->GetItemData(id, pos));
            if (s.newWindowed) {
                s.newWindowedMs = type;
            } else {
                s.newFullscreenMs = type;
            }
        }
    }
    Refill(dlg);
    return TRUE;
}

HRESULT GraphicsApplication::ChooseDeviceInteractively() {
    if (!Windowed) {
        if (FAILED(ToggleWindowedMode())) {
            ShowErrorBox(APP_E_RESET_FAILED, ERRBOX_FATAL);
            return E_FAIL;
        }
    }
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SELECT_DEVICE), MainWindow,
                                           DeviceDialogProc, reinterpret_cast<LPARAM>(this));
    if (result != IDOK) return S_OK;
    Windowed = CurrentDevice().Windowed;
    return RecreateDevice();
}
