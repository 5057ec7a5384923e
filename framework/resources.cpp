// Window resources of the framework: accelerators, popup menu, device dialog.
#include <mutex>

#include "framework/graphics_application.h"

namespace {

const ACCEL kAccelerators[] = {
    {FVIRTKEY | FNOINVERT, VK_ESCAPE, CMD_EXIT},
    {FVIRTKEY | FALT | FNOINVERT, 'X', CMD_EXIT},
    {FVIRTKEY | FNOINVERT, VK_F2, CMD_CHANGE_DEVICE},
    {FVIRTKEY | FALT | FNOINVERT, VK_RETURN, CMD_TOGGLE_FULLSCREEN},
    {FVIRTKEY | FNOINVERT, VK_RETURN, CMD_GO_STOP},
    {FVIRTKEY | FNOINVERT, VK_SPACE, CMD_SINGLE_STEP},
};

const MenuItemTemplate kPopupItems[] = {
    {"&Go/stop", CMD_GO_STOP, nullptr, 0},
    {"&Single step", CMD_SINGLE_STEP, nullptr, 0},
    {nullptr, 0, nullptr, 0},
    {"&Change device...", CMD_CHANGE_DEVICE, nullptr, 0},
    {nullptr, 0, nullptr, 0},
    {"E&xit", CMD_EXIT, nullptr, 0},
};
const MenuItemTemplate kPopupMenu[] = {
    {"Popup", 0, kPopupItems, static_cast<int>(sizeof(kPopupItems) / sizeof(kPopupItems[0]))},
};

const DialogControlTemplate kDeviceDialogControls[] = {
    {-1, ControlKind::GroupBox, "Rendering device", 5, 5, 200, 45, false},
    {-1, ControlKind::Static, "&Adapter:", 22, 17, 65, 10, false},
    {IDC_ADAPTER_COMBO, ControlKind::DropDownList, "", 90, 15, 105, 100, false},
    {-1, ControlKind::Static, "&Device:", 22, 32, 65, 10, false},
    {IDC_DEVICE_COMBO, ControlKind::DropDownList, "", 90, 30, 105, 100, false},
    {-1, ControlKind::GroupBox, "Rendering mode", 5, 52, 200, 45, false},
    {IDC_WINDOW, ControlKind::RadioButton, "Use desktop &window", 10, 62, 85, 15, true},
    {IDC_FULLSCREEN, ControlKind::RadioButton, "&Fullscreen mode:", 10, 77, 75, 15, false},
    {IDC_FULLSCREENMODES_COMBO, ControlKind::DropDownList, "", 90, 77, 105, 204, true},
    {-1, ControlKind::GroupBox, "Multisample", 5, 101, 200, 28, false},
    {-1, ControlKind::Static, "&Multisample Type:", 22, 113, 62, 10, false},
    {IDC_MULTISAMPLE_COMBO, ControlKind::DropDownList, "", 90, 111, 105, 100, false},
    {IDOK, ControlKind::DefPushButton, "OK", 210, 10, 50, 14, false},
    {IDCANCEL, ControlKind::PushButton, "Cancel", 210, 30, 50, 14, false},
};
const DialogTemplate kDeviceDialog = {
    "Select Device", 267, 138, kDeviceDialogControls,
    static_cast<int>(sizeof(kDeviceDialogControls) / sizeof(kDeviceDialogControls[0]))};

}  // namespace

void RegisterFrameworkResources() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterAcceleratorResource(IDR_MAIN_ACCEL, kAccelerators,
                                    static_cast<int>(sizeof(kAccelerators) / sizeof(kAccelerators[0])));
        RegisterMenuResource(IDR_POPUP_MENU, kPopupMenu, 1);
        RegisterDialogResource(IDD_SELECT_DEVICE, &kDeviceDialog);
    });
}
