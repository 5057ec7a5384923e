// Message boxes.
#include "platform/ui/window_state.h"

using namespace uiwin;

void SetMessageBoxRecorder(MessageBoxRecorder recorder) { g_boxRecorder.store(recorder); }

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    text = text ? text : "";
    caption = caption ? caption : "Error";
    const UINT icon = type & MB_ICONMASK;
    const char* kind = icon == MB_ICONERROR ? "error" : icon == MB_ICONWARNING ? "warning"
                     : icon == MB_ICONINFORMATION ? "information" : "message";
    MessageBoxRecorder recorder = g_boxRecorder.load();
    const char* mode = std::getenv("MERIDAX_MESSAGEBOX");
    const bool toStderr = recorder || (mode && std::strcmp(mode, "stderr") == 0) || !DisplayAvailable();
    if (toStderr) {
        std::fprintf(stderr, "[%s box] %s: %s\n", kind, caption, text);
        if (recorder) recorder(text, caption, type);
        return IDOK;
    }
    Uint32 flags = icon == MB_ICONERROR ? SDL_MESSAGEBOX_ERROR : icon == MB_ICONWARNING ? SDL_MESSAGEBOX_WARNING
                                                                                          : SDL_MESSAGEBOX_INFORMATION;
    if (SDL_ShowSimpleMessageBox(flags, caption, text, GetSdlWindow(owner)) != 0) {
        std::fprintf(stderr, "[%s box] %s: %s\n", kind, caption, text);
    }
    return IDOK;
}
