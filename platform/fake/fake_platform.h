// The test stand-in for the platform seam: every call is recorded in order, any named step can be made to
// fail, messages come from a script, and message boxes are recorded and answered from a list.
#pragma once

#include "platform/platform.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

struct FakeBox {
    PlatWindow owner;
    std::string text;
    std::string caption;
    unsigned flags;
};

struct FakePlatformState {
    // Calls in order, by name ("CreateWindow 800x600 fullscreen", "SwapBuffers", ...).
    std::vector<std::string> calls;
    // Names of the steps that fail ("RegisterClass", "ChangeDisplayMode", "CreateWindow",
    // "GetDeviceContext", "ChoosePixelFormat", "SetPixelFormat", "CreateGlContext", "MakeGlContextCurrent",
    // "UnbindGlContext", "DeleteGlContext", "ReleaseDeviceContext", "DestroyWindow", "UnregisterClass").
    std::vector<std::string> failing;
    // The message script: each entry is one poll; std::nullopt is a poll that finds no message. When the
    // script runs out, every poll returns PLAT_WM_QUIT with wParam 0 and `scriptExhausted` is set, so a
    // loop that never ends by itself still ends.
    std::deque<std::optional<PlatMessage>> script;
    bool scriptExhausted = false;
    bool quitPosted = false;
    int quitCode = 0;
    // Message boxes shown, and the answers to give (PLAT_IDOK / PLAT_IDYES / PLAT_IDNO; OK when empty).
    std::vector<FakeBox> boxes;
    std::deque<int> boxAnswers;
    // Window procedure registered with the class, and the window open now.
    PlatWindowProc windowProc = nullptr;
    PlatWindow openWindow = nullptr;
    int windowsCreated = 0;
    int swaps = 0;
    // What PlatStandardErrorHidden answers (true: as a windowed Win32 program).
    bool standardErrorHidden = false;
    // What PlatExecutablePath answers (empty: the path cannot be told).
    std::string executablePath;
};

extern FakePlatformState fakePlatform;

// Back to a fresh state: no calls, nothing failing, empty script, PlatMessageBox = the recorder.
void FakePlatformReset();
bool FakeCalled(const std::string& call);
// Script helpers.
void FakeQueueMessage(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);
void FakeQueueIdle(int polls = 1);
