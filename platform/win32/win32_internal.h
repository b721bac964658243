// State shared by the Win32 implementation's files (window, messages, boxes). Main thread only.
#pragma once

#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// The window procedure registered with the scene window class; the class's real procedure forwards to it.
extern PlatWindowProc win32WindowProc;

inline HWND ToHwnd(PlatWindow window)
{
    return reinterpret_cast<HWND>(window);
}

inline PlatWindow FromHwnd(HWND window)
{
    return reinterpret_cast<PlatWindow>(window);
}

inline HDC ToHdc(PlatDeviceContext dc)
{
    return reinterpret_cast<HDC>(dc);
}
