// Drawing without a window (recording a video): an OpenGL context on an EGL pbuffer, taken from Mesa's
// surfaceless platform so that no window system, display or GPU is needed (Mesa then draws with its
// software rasteriser).
#include "platform/platform.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

struct PlatOffscreenRec {
    EGLDisplay display;
    EGLSurface surface;
    EGLContext context;
};

static PlatOffscreen Fail(EGLDisplay display, const char* why, const char** reason)
{
    if (display != EGL_NO_DISPLAY) {
        eglTerminate(display);
    }
    if (reason != nullptr) {
        *reason = why;
    }
    return nullptr;
}

PlatOffscreen PlatCreateOffscreen(int width, int height, const char** reason)
{
    if (width < 1 || height < 1) {
        return Fail(EGL_NO_DISPLAY, "no off-screen picture of that size", reason);
    }
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    EGLDisplay display = EGL_NO_DISPLAY;
    if (getPlatformDisplay != nullptr) {
        display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    }
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) {
        return Fail(EGL_NO_DISPLAY, "no OpenGL without a window here (EGL with Mesa's surfaceless platform)",
                    reason);
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        return Fail(display, "EGL offers no desktop OpenGL here", reason);
    }
    // 8 bits per channel for the video; the 16-bit depth buffer the scene window asks for.
    const EGLint configAttributes[] = {
        EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
        EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_DEPTH_SIZE, 16,
        EGL_NONE,
    };
    EGLConfig config = nullptr;
    EGLint configs = 0;
    if (!eglChooseConfig(display, configAttributes, &config, 1, &configs) || configs < 1) {
        return Fail(display, "no off-screen OpenGL format with 8-bit colour and a depth buffer", reason);
    }
    const EGLint surfaceAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    EGLSurface surface = eglCreatePbufferSurface(display, config, surfaceAttributes);
    if (surface == EGL_NO_SURFACE) {
        return Fail(display, "the off-screen picture could not be made (too large?)", reason);
    }
    // No attributes: the compatibility profile, with the fixed-function pipeline the scene draws with.
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT) {
        eglDestroySurface(display, surface);
        return Fail(display, "no OpenGL rendering context without a window", reason);
    }
    if (!eglMakeCurrent(display, surface, surface, context)) {
        eglDestroyContext(display, context);
        eglDestroySurface(display, surface);
        return Fail(display, "the off-screen rendering context could not be made current", reason);
    }
    return new PlatOffscreenRec{display, surface, context};
}

void PlatDestroyOffscreen(PlatOffscreen offscreen)
{
    if (offscreen == nullptr) {
        return;
    }
    eglMakeCurrent(offscreen->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(offscreen->display, offscreen->context);
    eglDestroySurface(offscreen->display, offscreen->surface);
    eglTerminate(offscreen->display);
    delete offscreen;
}
