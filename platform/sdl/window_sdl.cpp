// The scene window and its OpenGL context over SDL2. Each function carries out the single step of the Win32
// call it is named after, so the shell's opening logic and its failure messages stay the same everywhere.
#include "platform/sdl/sdl_internal.h"

#include <cstdlib>
#include <cstring>

SDL_Window* sdlCurrentWindow = nullptr;

// The display mode found by PlatChangeDisplayMode, applied when the fullscreen window is made.
static SDL_DisplayMode fullscreenMode;
static bool fullscreenModeSet = false;

// Drivers that draw nowhere: accepted only when the user names them in SDL_VIDEODRIVER.
static bool DrawsNowhere(const char* driver)
{
    return std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0 ||
           std::strcmp(driver, "evdev") == 0;
}

// Starts SDL's video on a window system. Left to itself SDL falls back to a driver that draws nowhere
// whenever the window system refuses it, and the intro would run invisibly; and a window system can refuse
// a new connection for a moment (seen under Xvfb on a busy machine, on the reconnection after an F1). So
// each window-system driver is asked by name, several times over, before the step fails.
static bool StartVideo()
{
    const char* wanted = std::getenv("SDL_VIDEODRIVER");
    if (wanted != nullptr && wanted[0] != '\0') {
        return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    }
    // Five rounds, 50 to 800 ms apart: a window system that is really missing fails after 1.5 s.
    for (int attempt = 0; attempt < 5; attempt++) {
        if (attempt > 0) {
            SDL_Delay(25u << attempt);
        }
        for (int i = 0; i < SDL_GetNumVideoDrivers(); i++) {
            const char* driver = SDL_GetVideoDriver(i);
            if (driver == nullptr || DrawsNowhere(driver)) {
                continue;
            }
            SDL_SetHint(SDL_HINT_VIDEODRIVER, driver);
            bool started = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
            SDL_ResetHint(SDL_HINT_VIDEODRIVER);
            if (started) {
                return true;
            }
        }
    }
    return false;
}

bool PlatRegisterWindowClass(PlatWindowProc proc)
{
    if (!StartVideo()) {
        return false;
    }
    // SDL picks the visual when the window is made, so the scene's format is asked for here: 16-bit colour
    // (5-6-5), a 16-bit depth buffer, double-buffered, the fixed-function (compatibility) profile.
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 6);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    registeredWindowProc = proc;
    return true;
}

bool PlatUnregisterWindowClass()
{
    if (registeredWindowProc == nullptr) {
        return false;
    }
    registeredWindowProc = nullptr;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return true;
}

bool PlatChangeDisplayMode(int width, int height, int bits)
{
    // SDL reports success even when it silently uses another size, so the mode is looked for here. Depth
    // is matched only where the display offers modes of that depth (a 24-bit desktop offers none of 16).
    fullscreenModeSet = false;
    int count = SDL_GetNumDisplayModes(0);
    bool depthOffered = false;
    for (int i = 0; i < count; i++) {
        SDL_DisplayMode mode;
        if (SDL_GetDisplayMode(0, i, &mode) == 0 && static_cast<int>(SDL_BITSPERPIXEL(mode.format)) == bits) {
            depthOffered = true;
        }
    }
    for (int i = 0; i < count; i++) {
        SDL_DisplayMode mode;
        if (SDL_GetDisplayMode(0, i, &mode) != 0 || mode.w != width || mode.h != height) {
            continue;
        }
        if (depthOffered && static_cast<int>(SDL_BITSPERPIXEL(mode.format)) != bits) {
            continue;
        }
        fullscreenMode = mode;
        fullscreenModeSet = true;
        return true;
    }
    return false;
}

void PlatRestoreDisplayMode()
{
    // SDL gives the display back its own mode when the fullscreen window leaves fullscreen or goes away.
    SDL_Window* window = SDL_GL_GetCurrentWindow();
    if (window != nullptr && (SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN) != 0) {
        SDL_SetWindowFullscreen(window, 0);
    }
    fullscreenModeSet = false;
}

void PlatShowPointer(bool show)
{
    SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
}

void PlatAdjustWindowRect(PlatRect*, bool)
{
    // SDL sizes windows by their client area already: nothing to add for frames or captions.
}

PlatWindow PlatCreateWindow(const char* title, int x, int y, int width, int height, bool fullscreenStyle)
{
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    flags |= fullscreenStyle ? SDL_WINDOW_FULLSCREEN : SDL_WINDOW_RESIZABLE;
    SDL_Window* window = SDL_CreateWindow(title, x, y, width, height, flags);
    if (window != nullptr && fullscreenStyle && fullscreenModeSet) {
        SDL_SetWindowDisplayMode(window, &fullscreenMode);
    }
    if (window != nullptr) {
        sdlCurrentWindow = window;
    }
    return FromSdl(window);
}

bool PlatDestroyWindow(PlatWindow window)
{
    if (window == nullptr) {
        return false;
    }
    if (ToSdl(window) == sdlCurrentWindow) {
        sdlCurrentWindow = nullptr;
    }
    SDL_DestroyWindow(ToSdl(window));
    // Window events still queued belong to the window just destroyed (leaving fullscreen queues a size
    // change of it). SDL numbers windows afresh when the window class is registered again after an F1, so
    // the next window gets the same id, and those events would be taken for its own: a stale 800 x 600 size
    // would set the new 640 x 480 window's viewport.
    SDL_PumpEvents();
    SDL_FlushEvent(SDL_WINDOWEVENT);
    return true;
}

PlatDeviceContext PlatGetDeviceContext(PlatWindow window)
{
    // SDL draws through the window itself; the window stands for its drawing context.
    return reinterpret_cast<PlatDeviceContext>(window);
}

bool PlatSetPixelFormat(PlatDeviceContext dc, int format, const PlatPixelFormat&)
{
    SDL_Window* window = reinterpret_cast<SDL_Window*>(dc);
    return format == 1 && window != nullptr && (SDL_GetWindowFlags(window) & SDL_WINDOW_OPENGL) != 0;
}

PlatGlContext PlatCreateGlContext(PlatDeviceContext dc)
{
    return reinterpret_cast<PlatGlContext>(SDL_GL_CreateContext(reinterpret_cast<SDL_Window*>(dc)));
}

bool PlatMakeGlContextCurrent(PlatDeviceContext dc, PlatGlContext context)
{
    return SDL_GL_MakeCurrent(reinterpret_cast<SDL_Window*>(dc), reinterpret_cast<SDL_GLContext>(context)) == 0;
}

bool PlatDeleteGlContext(PlatGlContext context)
{
    if (context == nullptr) {
        return false;
    }
    SDL_GL_DeleteContext(reinterpret_cast<SDL_GLContext>(context));
    return true;
}

void PlatShowWindow(PlatWindow window)
{
    SDL_ShowWindow(ToSdl(window));
    SDL_RaiseWindow(ToSdl(window));
    // Without the input focus, the keys after an F1 would go nowhere.
    SDL_SetWindowInputFocus(ToSdl(window));
}

void PlatSwapBuffers(PlatDeviceContext dc)
{
    SDL_GL_SwapWindow(reinterpret_cast<SDL_Window*>(dc));
}

PlatWindow PlatFocusedWindow()
{
    return FromSdl(SDL_GetKeyboardFocus());
}
