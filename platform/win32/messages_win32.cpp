// The message poll over Win32: PeekMessageA, TranslateMessage and DispatchMessageA into the class's
// procedure, which forwards to the scene's window procedure.
#include "platform/win32/win32_internal.h"

// The message last taken from the queue, so a dispatch hands on its time and cursor position too
// (main thread).
static MSG lastMessage{};

bool PlatPeekMessage(PlatMessage* message)
{
    MSG taken;
    if (!PeekMessageA(&taken, nullptr, 0, 0, PM_REMOVE)) {
        return false;
    }
    lastMessage = taken;
    *message = PlatMessage{FromHwnd(taken.hwnd), taken.message, static_cast<uintptr_t>(taken.wParam),
                           static_cast<intptr_t>(taken.lParam)};
    return true;
}

intptr_t PlatDispatchMessage(const PlatMessage& message)
{
    MSG dispatched = lastMessage;
    if (dispatched.hwnd != ToHwnd(message.window) || dispatched.message != message.message ||
        dispatched.wParam != static_cast<WPARAM>(message.wParam) ||
        dispatched.lParam != static_cast<LPARAM>(message.lParam)) {
        // A message made up by the caller rather than the one just taken.
        dispatched = MSG{};
        dispatched.hwnd = ToHwnd(message.window);
        dispatched.message = message.message;
        dispatched.wParam = static_cast<WPARAM>(message.wParam);
        dispatched.lParam = static_cast<LPARAM>(message.lParam);
    }
    TranslateMessage(&dispatched);
    return static_cast<intptr_t>(DispatchMessageA(&dispatched));
}

intptr_t PlatDefWindowProc(PlatWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    return static_cast<intptr_t>(
        DefWindowProcA(ToHwnd(window), message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)));
}

void PlatPostQuitMessage(int exitCode)
{
    PostQuitMessage(exitCode);
}
