// The scene window and its rendering context: opening (windowed or fullscreen), tearing down, the window
// procedure with the keyboard state, and the projection set on every resize.
#include "shell/shell.h"

#include "platform/gl.h"

bool isActive = true;
bool isFullscreen = true;
bool KeyDown[256] = {};

PlatWindow sceneWindow = nullptr;
PlatDeviceContext sceneDeviceContext = nullptr;
static PlatGlContext sceneGlContext = nullptr;

PlatPixelFormat ScenePixelFormat = {};
static bool scenePixelFormatFilled = false;

static const char* const FullscreenQuestion =
    "The Requested Fullscreen Mode Is Not Supported By\nYour Video Card. Use Windowed Mode Instead?";

static void ShowError(const char* text, unsigned icon)
{
    PlatMessageBox(nullptr, text, "ERROR", PLAT_MB_OK | icon);
}

static void ShowShutdownError(const char* text)
{
    PlatMessageBox(nullptr, text, "SHUTDOWN ERROR", PLAT_MB_OK | PLAT_MB_ICONINFORMATION);
}

// A failure once the window may exist: undo what was made, then tell the user.
static bool FailOpening(const char* text)
{
    CloseSceneWindow();
    ShowError(text, PLAT_MB_ICONEXCLAMATION);
    return false;
}

static void FillScenePixelFormat(int colorBits)
{
    ScenePixelFormat = PlatPixelFormat{};
    ScenePixelFormat.nSize = sizeof(PlatPixelFormat);
    ScenePixelFormat.nVersion = 1;
    ScenePixelFormat.dwFlags = PLAT_PFD_DRAW_TO_WINDOW | PLAT_PFD_SUPPORT_OPENGL | PLAT_PFD_DOUBLEBUFFER;
    ScenePixelFormat.iPixelType = PLAT_PFD_TYPE_RGBA;
    ScenePixelFormat.cColorBits = static_cast<uint8_t>(colorBits);
    ScenePixelFormat.cDepthBits = 16;
    ScenePixelFormat.iLayerType = PLAT_PFD_MAIN_PLANE;
    scenePixelFormatFilled = true;
}

bool OpenSceneWindow(const char* title, int width, int height, int colorBits, bool fullscreen)
{
    PlatRect rect{0, 0, width, height};
    isFullscreen = fullscreen;

    if (!PlatRegisterWindowClass(SceneWindowProc)) {
        ShowError("Failed To Register The Window Class.", PLAT_MB_ICONEXCLAMATION);
        return false;
    }

    if (isFullscreen && !PlatChangeDisplayMode(width, height, colorBits)) {
        int answer = PlatMessageBox(nullptr, FullscreenQuestion, "Lumo GL", PLAT_MB_YESNO | PLAT_MB_ICONEXCLAMATION);
        if (answer != PLAT_IDYES) {
            ShowError("Program Will Now Close.", PLAT_MB_ICONSTOP);
            return false;
        }
        isFullscreen = false;
    }

    if (isFullscreen) {
        PlatShowPointer(false);
    }
    PlatAdjustWindowRect(&rect, isFullscreen);

    sceneWindow = PlatCreateWindow(title, 0, 0, rect.right - rect.left, rect.bottom - rect.top, isFullscreen);
    if (sceneWindow == nullptr) {
        return FailOpening("Window Creation Error.");
    }
    sceneDeviceContext = PlatGetDeviceContext(sceneWindow);
    if (sceneDeviceContext == nullptr) {
        return FailOpening("Can't Create A GL Device Context.");
    }
    if (!scenePixelFormatFilled) {
        FillScenePixelFormat(colorBits);
    }
    int format = PlatChoosePixelFormat(sceneDeviceContext, ScenePixelFormat);
    if (format == 0) {
        return FailOpening("Can't Find A Suitable PixelFormat.");
    }
    if (!PlatSetPixelFormat(sceneDeviceContext, format, ScenePixelFormat)) {
        return FailOpening("Can't Set The PixelFormat.");
    }
    sceneGlContext = PlatCreateGlContext(sceneDeviceContext);
    if (sceneGlContext == nullptr) {
        return FailOpening("Can't Create A GL Rendering Context.");
    }
    if (!PlatMakeGlContextCurrent(sceneDeviceContext, sceneGlContext)) {
        return FailOpening("Can't Activate The GL Rendering Context.");
    }

    PlatShowWindow(sceneWindow);
    ResizeScene(width, height);
    if (!InitSceneState()) {
        return FailOpening("Initialization Failed.");
    }
    return true;
}

void CloseSceneWindow()
{
    if (isFullscreen) {
        PlatRestoreDisplayMode();
        PlatShowPointer(true);
    }
    if (sceneGlContext != nullptr) {
        if (!PlatMakeGlContextCurrent(nullptr, nullptr)) {
            ShowShutdownError("Release Of DC And RC Failed.");
        }
        if (!PlatDeleteGlContext(sceneGlContext)) {
            ShowShutdownError("Release Rendering Context Failed.");
        }
        sceneGlContext = nullptr;
    }
    if (sceneDeviceContext != nullptr) {
        if (!PlatReleaseDeviceContext(sceneWindow, sceneDeviceContext)) {
            ShowShutdownError("Release Device Context Failed.");
        }
        sceneDeviceContext = nullptr;
    }
    if (sceneWindow != nullptr) {
        if (!PlatDestroyWindow(sceneWindow)) {
            ShowShutdownError("Could Not Release hWnd.");
        }
        sceneWindow = nullptr;
    }
    if (!PlatUnregisterWindowClass()) {
        ShowShutdownError("Could Not Unregister Class.");
    }
}

void ResizeScene(int width, int height)
{
    // A minimised window may report 0 × 0; neither side may feed 0 into the aspect.
    if (height == 0) {
        height = 1;
    }
    if (width == 0) {
        width = 1;
    }
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, static_cast<double>(width) / static_cast<double>(height), 0.1f, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

bool InitSceneState()
{
    glShadeModel(GL_SMOOTH);
    glClearColor(0.0f, 0.0f, 0.0f, 0.5f);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    return true;
}

intptr_t SceneWindowProc(PlatWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    switch (message) {
    case PLAT_WM_ACTIVATE:
        isActive = ((wParam >> 16) & 0xFFFF) == 0;
        return 0;
    case PLAT_WM_SYSCOMMAND:
        if (wParam == PLAT_SC_SCREENSAVE || wParam == PLAT_SC_MONITORPOWER) {
            return 0;
        }
        break;
    case PLAT_WM_CLOSE:
        PlatPostQuitMessage(0);
        return 0;
    case PLAT_WM_KEYDOWN:
        if (wParam < 256) {
            KeyDown[wParam] = true;
        }
        return 0;
    case PLAT_WM_KEYUP:
        if (wParam < 256) {
            KeyDown[wParam] = false;
        }
        return 0;
    case PLAT_WM_SIZE:
        ResizeScene(static_cast<int>(lParam & 0xFFFF), static_cast<int>((lParam >> 16) & 0xFFFF));
        return 0;
    default:
        break;
    }
    return PlatDefWindowProc(window, message, wParam, lParam);
}
