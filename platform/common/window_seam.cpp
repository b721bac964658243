// The steps of the window seam that come out the same where the window system draws through the window itself
// and knows no Win32 messages of its own (SDL2 and the browser): one pixel format, a drawing context that is
// the window, and messages that go straight to the registered procedure.
#include "platform/common/common_internal.h"

PlatWindowProc registeredWindowProc = nullptr;

// A quit message posted by the window procedure, handed out by the next poll (main thread).
static bool quitPosted = false;
static int quitCode = 0;

bool TakePostedQuit(PlatMessage* message)
{
    if (!quitPosted) {
        return false;
    }
    quitPosted = false;
    *message = PlatMessage{nullptr, PLAT_WM_QUIT, static_cast<uintptr_t>(quitCode), 0};
    return true;
}

void PlatPostQuitMessage(int exitCode)
{
    quitPosted = true;
    quitCode = exitCode;
}

intptr_t PlatDispatchMessage(const PlatMessage& message)
{
    if (registeredWindowProc == nullptr) {
        return 0;
    }
    return registeredWindowProc(message.window, message.message, message.wParam, message.lParam);
}

intptr_t PlatDefWindowProc(PlatWindow, uint32_t, uintptr_t, intptr_t)
{
    return 0;
}

bool PlatReleaseDeviceContext(PlatWindow window, PlatDeviceContext dc)
{
    return dc != nullptr && reinterpret_cast<PlatWindow>(dc) == window;
}

int PlatChoosePixelFormat(PlatDeviceContext dc, const PlatPixelFormat& request)
{
    // One format per window (set up when the class is registered): a request it can serve gets format 1.
    const uint32_t needed = PLAT_PFD_DRAW_TO_WINDOW | PLAT_PFD_SUPPORT_OPENGL;
    if (dc == nullptr || (request.dwFlags & needed) != needed || request.iPixelType != PLAT_PFD_TYPE_RGBA) {
        return 0;
    }
    return 1;
}
