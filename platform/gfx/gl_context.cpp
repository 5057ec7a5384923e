#include "platform/gfx/gl_context.h"

#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <SDL2/SDL.h>

#include <cstring>
#include <mutex>

namespace {

EGLDisplay SurfacelessDisplay(std::string* error) {
    static std::once_flag once;
    static EGLDisplay display = EGL_NO_DISPLAY;
    static std::string failure;
    std::call_once(once, [] {
        auto getPlatformDisplay =
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (!getPlatformDisplay) {
            failure = "EGL has no platform displays";
            return;
        }
        EGLDisplay d = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        EGLint major = 0, minor = 0;
        if (d == EGL_NO_DISPLAY || !eglInitialize(d, &major, &minor)) {
            failure = "EGL surfaceless display unavailable";
            return;
        }
        display = d;
    });
    if (display == EGL_NO_DISPLAY && error) *error = failure;
    return display;
}

class HeadlessContext : public GlContext {
public:
    HeadlessContext(EGLDisplay d, EGLContext c) : display_(d), context_(c) {}
    ~HeadlessContext() override {
        if (eglGetCurrentContext() == context_) eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(display_, context_);
    }
    bool MakeCurrent() override {
        eglBindAPI(EGL_OPENGL_API);
        return eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_) == EGL_TRUE;
    }
    void Swap() override { glFlush(); }
    void DrawableSize(int* w, int* h) override {
        *w = 0;
        *h = 0;
    }
    bool Headless() const override { return true; }

private:
    EGLDisplay display_;
    EGLContext context_;
};

class WindowContext : public GlContext {
public:
    WindowContext(SDL_Window* w, SDL_GLContext c) : window_(w), context_(c) {}
    ~WindowContext() override {
        if (SDL_GL_GetCurrentContext() == context_) SDL_GL_MakeCurrent(window_, nullptr);
        SDL_GL_DeleteContext(context_);
    }
    bool MakeCurrent() override {
        // A headless context of this thread must give way to the window's.
        if (eglGetCurrentContext() != EGL_NO_CONTEXT) {
            eglMakeCurrent(eglGetCurrentDisplay(), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        }
        return SDL_GL_MakeCurrent(window_, context_) == 0;
    }
    void Swap() override { SDL_GL_SwapWindow(window_); }
    void DrawableSize(int* w, int* h) override { SDL_GL_GetDrawableSize(window_, w, h); }
    bool Headless() const override { return false; }

private:
    SDL_Window* window_;
    SDL_GLContext context_;
};

}  // namespace

std::unique_ptr<GlContext> GlContext::CreateHeadless(std::string* error) {
    EGLDisplay display = SurfacelessDisplay(error);
    if (display == EGL_NO_DISPLAY) return nullptr;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        if (error) *error = "EGL cannot bind OpenGL";
        return nullptr;
    }
    const EGLint configAttribs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(display, configAttribs, &config, 1, &count) || count < 1) config = nullptr;
    const EGLint compat45[] = {EGL_CONTEXT_MAJOR_VERSION, 4, EGL_CONTEXT_MINOR_VERSION, 5,
                               EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                               EGL_NONE};
    const EGLint anyVersion[] = {EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, compat45);
    if (context == EGL_NO_CONTEXT) context = eglCreateContext(display, config, EGL_NO_CONTEXT, anyVersion);
    if (context == EGL_NO_CONTEXT) {
        if (error) *error = "EGL context creation failed";
        return nullptr;
    }
    auto result = std::make_unique<HeadlessContext>(display, context);
    if (!result->MakeCurrent()) {
        if (error) *error = "EGL context cannot be made current";
        return nullptr;
    }
    return result;
}

std::unique_ptr<GlContext> GlContext::CreateForWindow(SDL_Window* window, std::string* error) {
    if (!window) {
        if (error) *error = "no window";
        return nullptr;
    }
    if (eglGetCurrentContext() != EGL_NO_CONTEXT) {
        eglMakeCurrent(eglGetCurrentDisplay(), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 5);
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (!context) {
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, 0);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
        context = SDL_GL_CreateContext(window);
    }
    if (!context) {
        if (error) *error = SDL_GetError();
        return nullptr;
    }
    auto result = std::make_unique<WindowContext>(window, context);
    if (!result->MakeCurrent()) {
        if (error) *error = SDL_GetError();
        return nullptr;
    }
    SDL_GL_SetSwapInterval(0);
    return result;
}

const GlDriverInfo& ProbeGlDriver() {
    static std::once_flag once;
    static GlDriverInfo info;
    std::call_once(once, [] {
        EGLDisplay prevDisplay = eglGetCurrentDisplay();
        EGLContext prevContext = eglGetCurrentContext();
        EGLSurface prevDraw = eglGetCurrentSurface(EGL_DRAW);
        EGLSurface prevRead = eglGetCurrentSurface(EGL_READ);
        SDL_Window* prevWindow = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GL_GetCurrentWindow() : nullptr;
        SDL_GLContext prevSdl = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GL_GetCurrentContext() : nullptr;
        std::string error;
        auto probe = GlContext::CreateHeadless(&error);
        if (!probe) return;
        auto str = [](GLenum name) {
            const GLubyte* s = glGetString(name);
            return std::string(s ? reinterpret_cast<const char*>(s) : "");
        };
        info.renderer = str(GL_RENDERER);
        info.vendor = str(GL_VENDOR);
        info.version = str(GL_VERSION);
        GLint v = 0;
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &v);
        if (v > 0) info.maxTextureSize = v;
        v = 0;
        glGetIntegerv(GL_MAX_TEXTURE_UNITS, &v);
        if (v > 0) info.maxTextureUnits = v;
        v = 0;
        glGetIntegerv(GL_MAX_LIGHTS, &v);
        if (v > 0) info.maxLights = v;
        glGetError();
        info.softwareRenderer = info.renderer.find("llvmpipe") != std::string::npos ||
                                info.renderer.find("softpipe") != std::string::npos;
        info.usable = !info.renderer.empty();
        probe.reset();
        if (prevContext != EGL_NO_CONTEXT) {
            eglMakeCurrent(prevDisplay, prevDraw, prevRead, prevContext);
        } else if (prevWindow && prevSdl) {
            SDL_GL_MakeCurrent(prevWindow, prevSdl);
        }
    });
    return info;
}
