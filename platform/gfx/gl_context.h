#pragma once
// An OpenGL compatibility-profile context: on an SDL window, or headless
// (EGL surfaceless, no display needed).
#include <memory>
#include <string>

struct SDL_Window;

class GlContext {
public:
    virtual ~GlContext() = default;
    virtual bool MakeCurrent() = 0;
    // Shows the window's default framebuffer; nothing for a headless context.
    virtual void Swap() = 0;
    // Size of the window's drawable; 0 x 0 for a headless context.
    virtual void DrawableSize(int* width, int* height) = 0;
    virtual bool Headless() const = 0;

    static std::unique_ptr<GlContext> CreateHeadless(std::string* error);
    static std::unique_ptr<GlContext> CreateForWindow(SDL_Window* window, std::string* error);
};

// Renderer facts read once from a headless probe context.
struct GlDriverInfo {
    bool usable = false;
    std::string renderer;
    std::string vendor;
    std::string version;
    int maxTextureSize = 2048;
    int maxTextureUnits = 8;
    int maxLights = 8;
    bool softwareRenderer = false;
};
const GlDriverInfo& ProbeGlDriver();
