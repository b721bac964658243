// The scene window over the browser: the window is a canvas on the page, fullscreen is the browser's
// fullscreen of that canvas (an 800 × 600 drawing buffer scaled to the screen with its aspect kept), and the
// rendering context is a WebGL context drawn through the fixed-function layer (platform/gles). Each step has
// the meaning of the Win32 call it is named after, so the shell's opening logic and its messages hold here
// too. Swapping buffers hands the frame to the browser and waits for its next one: the shell's frame loop
// stays as it is and yields once a frame.
#include "platform/web/web_internal.h"

#include "platform/gles/gl_layer.h"

#include <emscripten/html5.h>

struct PlatWindowRec {
    bool open;
};

// The one canvas window, its procedure and its context (main thread).
static PlatWindowRec canvasWindow = {false};
static EMSCRIPTEN_WEBGL_CONTEXT_HANDLE currentContext = 0;

PlatWindow WebOpenWindow()
{
    return canvasWindow.open ? &canvasWindow : nullptr;
}

bool PlatRegisterWindowClass(PlatWindowProc proc)
{
    if (proc == nullptr) {
        return false;
    }
    tw_web_start();
    registeredWindowProc = proc;
    return true;
}

bool PlatUnregisterWindowClass()
{
    if (registeredWindowProc == nullptr) {
        return false;
    }
    registeredWindowProc = nullptr;
    return true;
}

bool PlatChangeDisplayMode(int width, int height, int)
{
    // The drawing buffer is sized when the window is made; the screen keeps its own mode and the browser
    // scales the canvas to it. Only the browser's consent is asked for here.
    if (width <= 0 || height <= 0) {
        return false;
    }
    return tw_web_enter_fullscreen() != 0;
}

void PlatRestoreDisplayMode()
{
    tw_web_leave_fullscreen();
}

void PlatShowPointer(bool show)
{
    tw_web_show_pointer(show ? 1 : 0);
}

void PlatAdjustWindowRect(PlatRect*, bool)
{
    // A canvas has no frame: its client area is the whole of it.
}

PlatWindow PlatCreateWindow(const char* title, int, int, int width, int height, bool fullscreenStyle)
{
    if (canvasWindow.open || width <= 0 || height <= 0 ||
        tw_web_create_canvas(title != nullptr ? title : "", width, height, fullscreenStyle ? 1 : 0) == 0) {
        return nullptr;
    }
    canvasWindow.open = true;
    return &canvasWindow;
}

bool PlatDestroyWindow(PlatWindow window)
{
    if (window != &canvasWindow || !canvasWindow.open) {
        return false;
    }
    tw_web_remove_canvas();
    canvasWindow.open = false;
    return true;
}

PlatDeviceContext PlatGetDeviceContext(PlatWindow window)
{
    // The canvas draws itself: the open window stands for its drawing context.
    return window == &canvasWindow && canvasWindow.open ? reinterpret_cast<PlatDeviceContext>(window) : nullptr;
}

bool PlatSetPixelFormat(PlatDeviceContext dc, int format, const PlatPixelFormat&)
{
    return dc != nullptr && format == 1;
}

EMSCRIPTEN_WEBGL_CONTEXT_HANDLE WebCreateGlContext(const char* canvas)
{
    EmscriptenWebGLContextAttributes attributes;
    emscripten_webgl_init_context_attributes(&attributes);
    attributes.alpha = EM_FALSE;
    attributes.depth = EM_TRUE;
    attributes.stencil = EM_FALSE;
    attributes.antialias = EM_FALSE;
    attributes.preserveDrawingBuffer = EM_FALSE;
    attributes.majorVersion = 1;
    attributes.minorVersion = 0;
    EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = emscripten_webgl_create_context(canvas, &attributes);
    return context > 0 ? context : 0;
}

PlatGlContext PlatCreateGlContext(PlatDeviceContext dc)
{
    if (dc == nullptr) {
        return nullptr;
    }
    EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = WebCreateGlContext("#canvas");
    if (context == 0) {
        return nullptr;
    }
    return reinterpret_cast<PlatGlContext>(static_cast<intptr_t>(context));
}

bool PlatMakeGlContextCurrent(PlatDeviceContext dc, PlatGlContext context)
{
    EMSCRIPTEN_WEBGL_CONTEXT_HANDLE handle =
        static_cast<EMSCRIPTEN_WEBGL_CONTEXT_HANDLE>(reinterpret_cast<intptr_t>(context));
    if (context == nullptr) {
        // Unbinding: the layer's objects go before their context is let go.
        if (currentContext != 0) {
            PlatGlLayerContextReleased();
        }
        currentContext = 0;
        return emscripten_webgl_make_context_current(0) == EMSCRIPTEN_RESULT_SUCCESS;
    }
    if (dc == nullptr || emscripten_webgl_make_context_current(handle) != EMSCRIPTEN_RESULT_SUCCESS) {
        return false;
    }
    currentContext = handle;
    return PlatGlLayerContextCurrent();
}

bool PlatDeleteGlContext(PlatGlContext context)
{
    if (context == nullptr) {
        return false;
    }
    EMSCRIPTEN_WEBGL_CONTEXT_HANDLE handle =
        static_cast<EMSCRIPTEN_WEBGL_CONTEXT_HANDLE>(reinterpret_cast<intptr_t>(context));
    if (handle == currentContext) {
        PlatGlLayerContextReleased();
        currentContext = 0;
    }
    return emscripten_webgl_destroy_context(handle) == EMSCRIPTEN_RESULT_SUCCESS;
}

void PlatShowWindow(PlatWindow)
{
    // The canvas is on the page from its creation; the page keeps the keyboard focus.
}

void PlatSwapBuffers(PlatDeviceContext dc)
{
    if (dc == nullptr) {
        return;
    }
    WebPollBetweenFrames();
    tw_web_next_frame();
}

PlatWindow PlatFocusedWindow()
{
    return WebOpenWindow();
}
