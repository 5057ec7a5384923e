#pragma once
// Base class of a 3D application in a desktop window or full screen: window,
// Direct3D object and device, the table of adapters, devices and modes, the
// message loop, frame statistics and error boxes.
#include "platform/gfx/d3d_device.h"
#include "platform/ui/dialog.h"
#include "platform/ui/window.h"

// Error codes of the framework.
constexpr HRESULT APP_E_D3D_INIT = MakeHResult(0x82000001u);
constexpr HRESULT APP_E_NO_COMPATIBLE_DEVICE = MakeHResult(0x82000003u);
constexpr HRESULT APP_E_DESKTOP_NOT_USABLE = MakeHResult(0x82000004u);
constexpr HRESULT APP_E_NO_HAL = MakeHResult(0x82000005u);
constexpr HRESULT APP_E_HAL_LACKS_FEATURES = MakeHResult(0x82000006u);
constexpr HRESULT APP_E_HAL_NO_WINDOW = MakeHResult(0x82000007u);
constexpr HRESULT APP_E_HAL_NO_DESKTOP_WINDOW = MakeHResult(0x82000008u);
constexpr HRESULT APP_E_HAL_LACKS_DESKTOP_FEATURES = MakeHResult(0x82000009u);
constexpr HRESULT APP_E_LEAKED_REFERENCES = MakeHResult(0x8200000Au);
constexpr HRESULT APP_E_MEDIA_MISSING = MakeHResult(0x8200000Bu);
constexpr HRESULT APP_E_RESET_FAILED = MakeHResult(0x8200000Cu);
constexpr HRESULT APP_E_NULL_REFERENCE_DEVICE = MakeHResult(0x8200000Du);

// Kinds of error box.
constexpr int ERRBOX_WARNING = 0;
constexpr int ERRBOX_FATAL = 1;
constexpr int ERRBOX_REF_FALLBACK = 2;

// Text of a framework error code (the generic text for unknown codes).
const char* ErrorCodeText(HRESULT code);

// Commands, resources and dialog controls.
constexpr WORD CMD_CHANGE_DEVICE = 40002;
constexpr WORD CMD_TOGGLE_FULLSCREEN = 40003;
constexpr WORD CMD_GO_STOP = 40004;
constexpr WORD CMD_SINGLE_STEP = 40005;
constexpr WORD CMD_EXIT = 40006;
constexpr int IDI_MAIN_ICON = 101;
constexpr int IDR_MAIN_ACCEL = 113;
constexpr int IDR_POPUP_MENU = 142;
constexpr int IDD_SELECT_DEVICE = 144;
constexpr int IDC_DEVICE_COMBO = 1000;
constexpr int IDC_ADAPTER_COMBO = 1002;
constexpr int IDC_FULLSCREENMODES_COMBO = 1003;
constexpr int IDC_MULTISAMPLE_COMBO = 1005;
constexpr int IDC_WINDOW = 1016;
constexpr int IDC_FULLSCREEN = 1018;

// Registers the accelerator table, popup menu and "Select Device" dialog.
void RegisterFrameworkResources();

constexpr UINT kMaxAdapters = 10;
constexpr UINT kMaxDevicesPerAdapter = 5;
constexpr UINT kMaxModesPerDevice = 150;
constexpr UINT kMaxDisplayModes = 100;
constexpr UINT kMaxFormats = 20;
constexpr size_t kStatusTextSize = 90;

struct ModeRecord {
    UINT Width;
    UINT Height;
    D3DFORMAT Format;
    DWORD BehaviourFlags;
    D3DFORMAT DepthStencilFormat;
};

struct DeviceRecord {
    D3DDEVTYPE DeviceType;
    D3DCAPS8 Caps;
    const char* Name;
    BOOL CanRenderWindowed;
    UINT ModeCount;
    ModeRecord Modes[kMaxModesPerDevice];
    UINT CurrentMode;
    BOOL Windowed;
    D3DMULTISAMPLE_TYPE WindowedMultiSampleType;
    D3DMULTISAMPLE_TYPE FullscreenMultiSampleType;
};

struct AdapterRecord {
    D3DADAPTER_IDENTIFIER8 Identifier;
    D3DDISPLAYMODE DesktopMode;
    UINT DeviceCount;
    DeviceRecord Devices[kMaxDevicesPerAdapter];
    UINT CurrentDevice;
    UINT Ordinal;  // the Direct3D adapter ordinal this record was enumerated from
};

class GraphicsApplication;
extern GraphicsApplication* AppInstance;

class GraphicsApplication {
public:
    GraphicsApplication();
    virtual ~GraphicsApplication();
    GraphicsApplication(const GraphicsApplication&) = delete;
    GraphicsApplication& operator=(const GraphicsApplication&) = delete;

    // The fourteen virtual operations, in slot order.
    virtual HRESULT ApplyWindowStyle();
    virtual HRESULT ValidateDeviceCaps(const D3DCAPS8* caps, DWORD behaviourFlags, D3DFORMAT adapterFormat);
    virtual HRESULT OneTimeSceneInit() { return S_OK; }
    virtual HRESULT InitDeviceObjects() { return S_OK; }
    virtual HRESULT PrepareDeviceObjects() { return S_OK; }
    virtual HRESULT AdvanceScene() { return S_OK; }
    virtual HRESULT DrawScene() { return S_OK; }
    virtual HRESULT ReleaseVolatileObjects() { return S_OK; }
    virtual HRESULT FreeDeviceObjects() { return S_OK; }
    virtual HRESULT OneTimeSceneShutdown() { return S_OK; }
    virtual HRESULT StartUp(HINSTANCE instance);
    virtual int RunMessageLoop();
    virtual LRESULT HandleWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    virtual void SpareHook(DWORD) {}

    static LRESULT StaticWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR DeviceDialogProc(DialogControls* dialog, UINT message, WPARAM wParam, LPARAM lParam);
    static int CompareDisplayModes(const D3DDISPLAYMODE* a, const D3DDISPLAYMODE* b);

    HRESULT RenderOneFrame();
    HRESULT EnumerateDevices();
    BOOL PickDepthStencilFormat(UINT ordinal, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT* format);
    HRESULT ChooseDeviceInteractively();
    HRESULT InitializeDevice();
    HRESULT ResetDevice();
    HRESULT ToggleWindowedMode();
    HRESULT SwitchToWindowedDevice();
    HRESULT ShutdownDevice();
    HRESULT ShowErrorBox(HRESULT code, int kind);

    AdapterRecord& CurrentAdapter() { return Adapters[CurrentAdapterIndex]; }
    DeviceRecord& CurrentDevice() { return CurrentAdapter().Devices[CurrentAdapter().CurrentDevice]; }
    ModeRecord& CurrentMode() { return CurrentDevice().Modes[CurrentDevice().CurrentMode]; }

    // Fields, in declaration order.
    AdapterRecord Adapters[kMaxAdapters];
    UINT AdapterCount = 0;
    UINT CurrentAdapterIndex = 0;
    BOOL Windowed = FALSE;
    BOOL Active = FALSE;
    BOOL Ready = FALSE;
    D3DPRESENT_PARAMETERS PresentParams{};
    HWND FocusWindow = nullptr;
    HMENU SavedMenu = nullptr;
    IDirect3D8* Direct3D = nullptr;
    IDirect3DDevice8* Device = nullptr;
    D3DCAPS8 DeviceCaps{};
    D3DSURFACE_DESC BackBufferDesc{};
    DWORD BehaviourFlags = 0;
    DWORD WindowedStyle = 0;
    RECT WindowRect{};
    RECT ClientRect{};
    float AppTime = 0.0f;
    float ElapsedTime = 0.0f;
    float FramesPerSecond = 0.0f;
    char DeviceText[kStatusTextSize] = {};
    char FrameStatsText[kStatusTextSize] = {};
    const char* WindowTitle = "D3D8 Application";
    BOOL UseDepthBuffer = FALSE;
    UINT MinDepthBits = 16;
    UINT MinStencilBits = 0;
    UINT ClientWidth = 400;
    UINT ClientHeight = 300;
    BOOL ShowCursorWhenFullscreen = FALSE;
    BOOL ClipCursorWhenFullscreen = FALSE;
    HWND MainWindow = nullptr;

private:
    void ReadBackBufferDescription();
    void SetUpCursor();
    void ReleaseDevice();
    void BuildDeviceText();
    // The present parameters that follow the windowed flag and the current mode.
    void SetPresentMode();
    // Frees the device and what was made on it and creates it anew; a failure shows
    // its fatal box.
    HRESULT RecreateDevice();
    bool shutDown_ = false;
};

// The two counters of the frame statistics (process-wide); tests start them afresh.
void ResetFrameStatistics();
