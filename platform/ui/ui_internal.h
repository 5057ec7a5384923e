#pragma once
// Shared between the window layer and its dialogs; not for application code.
#include "platform/ui/win_types.h"

union SDL_Event;

namespace ui_detail {
// Translates one display event for the layer's windows; false when the event
// belongs to no window of the layer.
bool HandleDisplayEvent(const SDL_Event& event);
// Ends a batch of display events: synthesises WM_EXITSIZEMOVE where due.
void FinishDisplayBatch();
bool IsLayerWindow(unsigned sdlWindowId);
}  // namespace ui_detail
