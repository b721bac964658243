// The scene window and its OpenGL context over Win32, GDI and WGL: each function is the one call it is
// named after, so the shell's opening logic, its order and its failure messages are the same everywhere.
#include "platform/win32/win32_internal.h"

#include <cstddef>

// The seam's pixel-format record is laid out field for field as the Win32 descriptor.
static_assert(sizeof(PlatPixelFormat) == sizeof(PIXELFORMATDESCRIPTOR), "pixel format record differs");
static_assert(offsetof(PlatPixelFormat, cDepthBits) == offsetof(PIXELFORMATDESCRIPTOR, cDepthBits),
              "pixel format record differs");
static_assert(offsetof(PlatPixelFormat, dwDamageMask) == offsetof(PIXELFORMATDESCRIPTOR, dwDamageMask),
              "pixel format record differs");
#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40, "32-bit PIXELFORMATDESCRIPTOR is 40 bytes");
#endif

static const char* const SceneClassName = "OpenGL";

PlatWindowProc win32WindowProc = nullptr;

// The program's own module, read by every opening (main thread).
static HINSTANCE instance = nullptr;

// The class's procedure: hands every message to the scene's window procedure, with the window procedure's
// own calling convention, or to the default handling before one is registered.
static LRESULT CALLBACK ForwardToSceneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (win32WindowProc == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return static_cast<LRESULT>(win32WindowProc(FromHwnd(window), message, static_cast<uintptr_t>(wParam),
                                                static_cast<intptr_t>(lParam)));
}

static void StylesFor(bool fullscreenStyle, DWORD* style, DWORD* exStyle)
{
    if (fullscreenStyle) {
        *exStyle = WS_EX_APPWINDOW;
        *style = WS_POPUP;
    } else {
        *exStyle = WS_EX_APPWINDOW | WS_EX_WINDOWEDGE;
        *style = WS_OVERLAPPEDWINDOW;
    }
}

bool PlatRegisterWindowClass(PlatWindowProc proc)
{
    instance = GetModuleHandleA(nullptr);
    win32WindowProc = proc;
    WNDCLASSA windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
    windowClass.lpfnWndProc = ForwardToSceneProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_WINLOGO);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = nullptr;
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = SceneClassName;
    return RegisterClassA(&windowClass) != 0;
}

bool PlatUnregisterWindowClass()
{
    return UnregisterClassA(SceneClassName, instance) != 0;
}

bool PlatChangeDisplayMode(int width, int height, int bits)
{
    DEVMODEA mode{};
    mode.dmSize = sizeof(mode);
    mode.dmPelsWidth = static_cast<DWORD>(width);
    mode.dmPelsHeight = static_cast<DWORD>(height);
    mode.dmBitsPerPel = static_cast<DWORD>(bits);
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    return ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL;
}

void PlatRestoreDisplayMode()
{
    ChangeDisplaySettingsA(nullptr, 0);
}

void PlatShowPointer(bool show)
{
    ShowCursor(show ? TRUE : FALSE);
}

void PlatAdjustWindowRect(PlatRect* rect, bool fullscreenStyle)
{
    DWORD style = 0;
    DWORD exStyle = 0;
    StylesFor(fullscreenStyle, &style, &exStyle);
    RECT r{rect->left, rect->top, rect->right, rect->bottom};
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    *rect = PlatRect{r.left, r.top, r.right, r.bottom};
}

PlatWindow PlatCreateWindow(const char* title, int x, int y, int width, int height, bool fullscreenStyle)
{
    DWORD style = 0;
    DWORD exStyle = 0;
    StylesFor(fullscreenStyle, &style, &exStyle);
    HWND window = CreateWindowExA(exStyle, SceneClassName, title, style | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, x, y,
                                  width, height, nullptr, nullptr, instance, nullptr);
    return FromHwnd(window);
}

bool PlatDestroyWindow(PlatWindow window)
{
    return DestroyWindow(ToHwnd(window)) != 0;
}

PlatDeviceContext PlatGetDeviceContext(PlatWindow window)
{
    return reinterpret_cast<PlatDeviceContext>(GetDC(ToHwnd(window)));
}

bool PlatReleaseDeviceContext(PlatWindow window, PlatDeviceContext dc)
{
    return ReleaseDC(ToHwnd(window), ToHdc(dc)) != 0;
}

static PIXELFORMATDESCRIPTOR ToDescriptor(const PlatPixelFormat& request)
{
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    pfd.nVersion = request.nVersion;
    pfd.dwFlags = request.dwFlags;
    pfd.iPixelType = request.iPixelType;
    pfd.cColorBits = request.cColorBits;
    pfd.cRedBits = request.cRedBits;
    pfd.cRedShift = request.cRedShift;
    pfd.cGreenBits = request.cGreenBits;
    pfd.cGreenShift = request.cGreenShift;
    pfd.cBlueBits = request.cBlueBits;
    pfd.cBlueShift = request.cBlueShift;
    pfd.cAlphaBits = request.cAlphaBits;
    pfd.cAlphaShift = request.cAlphaShift;
    pfd.cAccumBits = request.cAccumBits;
    pfd.cAccumRedBits = request.cAccumRedBits;
    pfd.cAccumGreenBits = request.cAccumGreenBits;
    pfd.cAccumBlueBits = request.cAccumBlueBits;
    pfd.cAccumAlphaBits = request.cAccumAlphaBits;
    pfd.cDepthBits = request.cDepthBits;
    pfd.cStencilBits = request.cStencilBits;
    pfd.cAuxBuffers = request.cAuxBuffers;
    pfd.iLayerType = request.iLayerType;
    pfd.bReserved = request.bReserved;
    pfd.dwLayerMask = request.dwLayerMask;
    pfd.dwVisibleMask = request.dwVisibleMask;
    pfd.dwDamageMask = request.dwDamageMask;
    return pfd;
}

int PlatChoosePixelFormat(PlatDeviceContext dc, const PlatPixelFormat& request)
{
    PIXELFORMATDESCRIPTOR pfd = ToDescriptor(request);
    return ChoosePixelFormat(ToHdc(dc), &pfd);
}

bool PlatSetPixelFormat(PlatDeviceContext dc, int format, const PlatPixelFormat& request)
{
    PIXELFORMATDESCRIPTOR pfd = ToDescriptor(request);
    return SetPixelFormat(ToHdc(dc), format, &pfd) != 0;
}

PlatGlContext PlatCreateGlContext(PlatDeviceContext dc)
{
    return reinterpret_cast<PlatGlContext>(wglCreateContext(ToHdc(dc)));
}

bool PlatMakeGlContextCurrent(PlatDeviceContext dc, PlatGlContext context)
{
    return wglMakeCurrent(ToHdc(dc), reinterpret_cast<HGLRC>(context)) != 0;
}

bool PlatDeleteGlContext(PlatGlContext context)
{
    return wglDeleteContext(reinterpret_cast<HGLRC>(context)) != 0;
}

void PlatShowWindow(PlatWindow window)
{
    ShowWindow(ToHwnd(window), SW_SHOW);
    SetForegroundWindow(ToHwnd(window));
    SetFocus(ToHwnd(window));
}

void PlatSwapBuffers(PlatDeviceContext dc)
{
    SwapBuffers(ToHdc(dc));
}

PlatWindow PlatFocusedWindow()
{
    return FromHwnd(GetFocus());
}
