// The message poll over the browser: key events (and the user's own exit from fullscreen, which counts as
// F1) are queued by the page's listeners while the frame loop waits for the next frame, and handed out here
// one at a time as Win32-shaped messages. There are no activation messages: a page the user does not see gets
// no frames from the browser, so the frame loop simply waits in SwapBuffers until it is seen again.
#include "platform/web/web_internal.h"

bool PlatPeekMessage(PlatMessage* message)
{
    if (TakePostedQuit(message)) {
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
