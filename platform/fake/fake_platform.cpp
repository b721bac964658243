#include "platform/fake/fake_platform.h"

#include <algorithm>

FakePlatformState fakePlatform;

void FakePlatformReset()
{
    fakePlatform = FakePlatformState{};
    PlatMessageBox = PlatSystemMessageBox;
}

bool FakeCalled(const std::string& call)
{
    return std::find(fakePlatform.calls.begin(), fakePlatform.calls.end(), call) != fakePlatform.calls.end();
}

void FakeQueueMessage(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    fakePlatform.script.push_back(PlatMessage{fakePlatform.openWindow, message, wParam, lParam});
}

void FakeQueueIdle(int polls)
{
    for (int i = 0; i < polls; i++) {
        fakePlatform.script.push_back(std::nullopt);
    }
}

// Records the call and tells whether the test asked this step to fail.
static bool Step(const std::string& call, const std::string& name)
{
    fakePlatform.calls.push_back(call);
    return std::find(fakePlatform.failing.begin(), fakePlatform.failing.end(), name) ==
           fakePlatform.failing.end();
}

static PlatWindow FakeHandle(int n)
{
    return reinterpret_cast<PlatWindow>(static_cast<uintptr_t>(0x1000 + 0x10 * n));
}

bool PlatPeekMessage(PlatMessage* message)
{
    if (fakePlatform.quitPosted) {
        fakePlatform.quitPosted = false;
        *message = PlatMessage{nullptr, PLAT_WM_QUIT, static_cast<uintptr_t>(fakePlatform.quitCode), 0};
        return true;
    }
    if (fakePlatform.script.empty()) {
        fakePlatform.scriptExhausted = true;
        *message = PlatMessage{nullptr, PLAT_WM_QUIT, 0, 0};
        return true;
    }
    std::optional<PlatMessage> next = fakePlatform.script.front();
    fakePlatform.script.pop_front();
    if (!next) {
        return false;
    }
    *message = *next;
    return true;
}

intptr_t PlatDispatchMessage(const PlatMessage& message)
{
    fakePlatform.calls.push_back("Dispatch " + std::to_string(message.message));
    if (fakePlatform.windowProc == nullptr) {
        return 0;
    }
    return fakePlatform.windowProc(message.window, message.message, message.wParam, message.lParam);
}

intptr_t PlatDefWindowProc(PlatWindow, uint32_t message, uintptr_t, intptr_t)
{
    fakePlatform.calls.push_back("DefWindowProc " + std::to_string(message));
    return 0;
}

void PlatPostQuitMessage(int exitCode)
{
    fakePlatform.calls.push_back("PostQuitMessage " + std::to_string(exitCode));
    fakePlatform.quitPosted = true;
    fakePlatform.quitCode = exitCode;
}

bool PlatRegisterWindowClass(PlatWindowProc proc)
{
    if (!Step("RegisterClass", "RegisterClass")) {
        return false;
    }
    fakePlatform.windowProc = proc;
    return true;
}

bool PlatUnregisterWindowClass()
{
    return Step("UnregisterClass", "UnregisterClass");
}

bool PlatChangeDisplayMode(int width, int height, int bits)
{
    return Step("ChangeDisplayMode " + std::to_string(width) + "x" + std::to_string(height) + "x" +
                    std::to_string(bits),
                "ChangeDisplayMode");
}

void PlatRestoreDisplayMode()
{
    fakePlatform.calls.push_back("RestoreDisplayMode");
}

void PlatShowPointer(bool show)
{
    fakePlatform.calls.push_back(show ? "ShowPointer" : "HidePointer");
}

void PlatAdjustWindowRect(PlatRect* rect, bool fullscreenStyle)
{
    fakePlatform.calls.push_back(fullscreenStyle ? "AdjustWindowRect fullscreen" : "AdjustWindowRect windowed");
    if (!fullscreenStyle) {  // a frame and a caption, as a real windowed style adds
        rect->left -= 4;
        rect->right += 4;
        rect->top -= 24;
        rect->bottom += 4;
    }
}

PlatWindow PlatCreateWindow(const char* title, int x, int y, int width, int height, bool fullscreenStyle)
{
    std::string call = "CreateWindow " + std::string(title) + " " + std::to_string(x) + "," + std::to_string(y) +
                       " " + std::to_string(width) + "x" + std::to_string(height) +
                       (fullscreenStyle ? " fullscreen" : " windowed");
    if (!Step(call, "CreateWindow")) {
        return nullptr;
    }
    fakePlatform.windowsCreated++;
    fakePlatform.openWindow = FakeHandle(fakePlatform.windowsCreated);
    return fakePlatform.openWindow;
}

bool PlatDestroyWindow(PlatWindow window)
{
    bool ok = Step("DestroyWindow", "DestroyWindow");
    if (ok && window == fakePlatform.openWindow) {
        fakePlatform.openWindow = nullptr;
    }
    return ok;
}

PlatDeviceContext PlatGetDeviceContext(PlatWindow window)
{
    if (!Step("GetDeviceContext", "GetDeviceContext")) {
        return nullptr;
    }
    return reinterpret_cast<PlatDeviceContext>(reinterpret_cast<uintptr_t>(window) + 1);
}

bool PlatReleaseDeviceContext(PlatWindow, PlatDeviceContext)
{
    return Step("ReleaseDeviceContext", "ReleaseDeviceContext");
}

int PlatChoosePixelFormat(PlatDeviceContext, const PlatPixelFormat& request)
{
    std::string call = "ChoosePixelFormat " + std::to_string(request.cColorBits) + "/" +
                       std::to_string(request.cDepthBits);
    return Step(call, "ChoosePixelFormat") ? 7 : 0;
}

bool PlatSetPixelFormat(PlatDeviceContext, int format, const PlatPixelFormat&)
{
    return Step("SetPixelFormat " + std::to_string(format), "SetPixelFormat");
}

PlatGlContext PlatCreateGlContext(PlatDeviceContext dc)
{
    if (!Step("CreateGlContext", "CreateGlContext")) {
        return nullptr;
    }
    return reinterpret_cast<PlatGlContext>(reinterpret_cast<uintptr_t>(dc) + 1);
}

bool PlatMakeGlContextCurrent(PlatDeviceContext dc, PlatGlContext context)
{
    if (dc == nullptr && context == nullptr) {
        return Step("UnbindGlContext", "UnbindGlContext");
    }
    return Step("MakeGlContextCurrent", "MakeGlContextCurrent");
}

bool PlatDeleteGlContext(PlatGlContext)
{
    return Step("DeleteGlContext", "DeleteGlContext");
}

void PlatShowWindow(PlatWindow window)
{
    fakePlatform.calls.push_back("ShowWindow");
    // As on Windows: showing the window and giving it the focus sends it the activate message at once
    // (active, not minimised).
    if (fakePlatform.windowProc != nullptr) {
        fakePlatform.windowProc(window, PLAT_WM_ACTIVATE, 0x00000001, 0);
    }
}

void PlatSwapBuffers(PlatDeviceContext)
{
    fakePlatform.swaps++;
}

PlatWindow PlatFocusedWindow()
{
    return fakePlatform.openWindow;
}

int PlatSystemMessageBox(PlatWindow owner, const char* text, const char* caption, unsigned flags)
{
    fakePlatform.boxes.push_back(FakeBox{owner, text ? text : "", caption ? caption : "", flags});
    fakePlatform.calls.push_back(std::string("MessageBox ") + (text ? text : ""));
    if (fakePlatform.boxAnswers.empty()) {
        return (flags & PLAT_MB_BUTTONMASK) == PLAT_MB_YESNO ? PLAT_IDNO : PLAT_IDOK;
    }
    int answer = fakePlatform.boxAnswers.front();
    fakePlatform.boxAnswers.pop_front();
    return answer;
}

bool PlatStandardErrorHidden()
{
    return fakePlatform.standardErrorHidden;
}

std::string PlatExecutablePath()
{
    return fakePlatform.executablePath;
}

PlatOffscreen PlatCreateOffscreen(int width, int height, const char** reason)
{
    fakePlatform.calls.push_back("CreateOffscreen " + std::to_string(width) + "x" + std::to_string(height));
    if (reason != nullptr) {
        *reason = "no drawing without a window in the test stand-in";
    }
    return nullptr;
}

void PlatDestroyOffscreen(PlatOffscreen)
{
}
