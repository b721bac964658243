// Drawing without a window (the video the page makes): a WebGL context on a canvas of the picture's size that
// is never shown, drawn through the fixed-function layer as the window's canvas is. The page reads each
// picture back with glReadPixels.
#include "platform/web/web_internal.h"

#include "platform/gles/gl_layer.h"

struct PlatOffscreenRec {
    EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context;
};

static PlatOffscreen Fail(const char* why, const char** reason)
{
    if (reason != nullptr) {
        *reason = why;
    }
    return nullptr;
}

PlatOffscreen PlatCreateOffscreen(int width, int height, const char** reason)
{
    if (width < 1 || height < 1) {
        return Fail("no off-screen picture of that size", reason);
    }
    if (tw_web_create_offscreen_canvas(width, height) == 0) {
        return Fail("the page has no place for a canvas to draw on", reason);
    }
    EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = WebCreateGlContext("#tarnwick-offscreen");
    if (context == 0) {
        tw_web_remove_offscreen_canvas();
        return Fail("this browser gives no WebGL to draw the pictures with", reason);
    }
    if (emscripten_webgl_make_context_current(context) != EMSCRIPTEN_RESULT_SUCCESS ||
        !PlatGlLayerContextCurrent()) {
        emscripten_webgl_make_context_current(0);
        emscripten_webgl_destroy_context(context);
        tw_web_remove_offscreen_canvas();
        return Fail("the off-screen WebGL context could not be made ready to draw", reason);
    }
    return new PlatOffscreenRec{context};
}

void PlatDestroyOffscreen(PlatOffscreen offscreen)
{
    if (offscreen == nullptr) {
        return;
    }
    // The layer's objects go before their context is let go.
    PlatGlLayerContextReleased();
    emscripten_webgl_make_context_current(0);
    emscripten_webgl_destroy_context(offscreen->context);
    tw_web_remove_offscreen_canvas();
    delete offscreen;
}
