#pragma once
// The frame start, the loading screen and the texture set of the view program.
#include <cstdint>
#include <functional>

#include "platform/gfx/d3d_device.h"

class CockpitApplication;

// Screen text of the frame start and the loading screen: the HUD font's
// DrawText2D unless replaced (tests record the lines).
using ScreenTextWriter = std::function<void(CockpitApplication& app, float x, float y, D3DCOLOR colour,
                                            const char* text)>;
extern ScreenTextWriter ScreenText;
// The pause that keeps the fatal message on screen; Sleep unless replaced.
extern std::function<void(std::uint32_t milliseconds)> FatalMessagePause;

constexpr D3DCOLOR LOADING_TEXT_COLOUR = 0xFFFFFF00;
constexpr float LOADING_TEXT_X = 20.0f;

// Loads the whole texture set behind the loading screen: S_OK, or
// APP_E_MEDIA_MISSING at the first texture that does not load (the scene open).
HRESULT RunLoadingScreen(CockpitApplication& app);
