// Error codes, their texts and the error box.
#include <cstdio>
#include <cstring>

#include "framework/graphics_application.h"

const char* ErrorCodeText(HRESULT code) {
    switch (static_cast<std::uint32_t>(code)) {
        case 0x82000001u:
            return "Could not initialize Direct3D. You may\nwant to check that the latest version of\nDirectX is "
                   "correctly installed on your\nsystem.  Also make sure that this program\nwas compiled with header "
                   "files that match\nthe installed DirectX DLLs.";
        case 0x82000003u:
            return "Could not find any compatible Direct3D\ndevices.  Ensure you have stencil buffer\n(at least 1-bit) "
                   "and w-buffer support (at\nleast 16-bits) enabled.";
        case 0x82000004u:
            return "This application cannot run in a desktop\nwindow with the current display settings.\nPlease change "
                   "your desktop settings to a\n16 or 32-bit display mode and re-run this\nprogram.";
        case 0x82000005u:
            return "No hardware-accelerated Direct3D devices\nwere found.";
        case 0x82000006u:
            return "This program requires functionality that is\nnot available on your Direct3D hardware\naccelerator.";
        case 0x82000007u:
            return "Your Direct3D hardware accelerator cannot\nrender into a window.\nPress F2 while the app is running "
                   "to see a\nlist of available devices and modes.";
        case 0x82000008u:
            return "Your Direct3D hardware accelerator cannot\nrender into a window with the current\ndesktop display "
                   "settings.\nPress F2 while the program is running to\nsee a list of available devices and modes.";
        case 0x82000009u:
            return "This program requires functionality that is\nnot available on your Direct3D hardware\naccelerator "
                   "with the current desktop display\nsettings.\nPress F2 while the program is running to\nsee a list "
                   "of available devices and modes.";
        case 0x8200000Au:
            return "A D3D object has a non-zero reference\ncount (meaning things were not properly\ncleaned up).";
        case 0x8200000Bu:
            return "Could not load required media.\nPlease view the logfile for information.";
        case 0x8200000Cu:
            return "Could not reset the Direct3D device.";
        case 0x8200000Du:
            return "Warning: Nothing will be rendered.\nThe reference rendering device was selected, but your\ncomputer "
                   "only has a reduced-functionality reference\ndevice support.";
        case 0x8007000Eu:
            return "Not enough memory.";
        case 0x8876017Cu:
            return "Not enough video memory.";
        default:
            return "Generic application error.  Enable\ndebug output for detailed information.";
    }
}

HRESULT GraphicsApplication::ShowErrorBox(HRESULT code, int kind) {
    char text[512];
    std::snprintf(text, sizeof(text), "%s", ErrorCodeText(code));
    const char* appendix = "";
    UINT icon = MB_ICONWARNING;
    if (kind == ERRBOX_FATAL) {
        appendix = "\n\nThis application will now exit.";
        icon = MB_ICONERROR;
    } else if (kind == ERRBOX_REF_FALLBACK) {
        appendix = "\n\nSwitching to the reference rasterizer,\na software device that implements the entire\n"
                   "Direct3D feature set, but runs very slowly.";
    }
    const size_t used = std::strlen(text);
    std::snprintf(text + used, sizeof(text) - used, "%s", appendix);
    MessageBoxA(nullptr, text, WindowTitle, icon);
    // A fatal box closes the window, once: a window already closed is left alone.
    if (kind == ERRBOX_FATAL && MainWindow && IsWindow(MainWindow)) SendMessageA(MainWindow, WM_CLOSE, 0, 0);
    return code;
}
