// The message poll over the browser: key events (and the user's own exit from fullscreen, which counts as
// F1) are queued by the page's listeners while the frame loop waits for the next frame, and handed out here
// one at a time as Win32-shaped messages. There are no activation messages: a page the user does not see gets
// no frames from the browser, so the frame loop simply waits in SwapBuffers until it is seen again.
#include "platform/web/web_internal.h"

// A quit message posted by the window procedure, handed out by the next poll (main thread).
static bool quitPosted = false;
static int quitCode = 0;

bool PlatPeekMessage(PlatMessage* message)
{
    if (quitPosted) {
        quitPosted = false;
        *message = PlatMessage{nullptr, PLAT_WM_QUIT, static_cast<uintptr_t>(quitCode), 0};
        return true;
    }
    int32_t fields[3];
    if (tw_web_take_event(fields) == 0) {
        return false;
    }
    *message = PlatMessage{WebOpenWindow(), static_cast<uint32_t>(fields[0]), static_cast<uintptr_t>(fields[1]),
                           static_cast<intptr_t>(fields[2])};
    return true;
}

intptr_t PlatDispatchMessage(const PlatMessage& message)
{
    PlatWindowProc proc = WebWindowProc();
    if (proc == nullptr) {
        return 0;
    }
    return proc(message.window, message.message, message.wParam, message.lParam);
}

intptr_t PlatDefWindowProc(PlatWindow, uint32_t, uintptr_t, intptr_t)
{
    return 0;
}

void PlatPostQuitMessage(int exitCode)
{
    quitPosted = true;
    quitCode = exitCode;
}
