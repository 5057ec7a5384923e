#include "view/cockpit_app.h"

// Keyboard controls; for now only the framework's keys.
LRESULT CockpitApplication::HandleWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return GraphicsApplication::HandleWindowMessage(hwnd, message, wParam, lParam);
}
