// The intro's shell: entry, start-up and shutdown order, the scene window and its rendering context,
// the keyboard state and the frame loop.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// Window state kept by the window layer and read by the frame loop (main thread only).
extern bool isActive;       // false while the window is minimised
extern bool isFullscreen;   // whether the display mode was switched for this window
extern bool KeyDown[256];   // indexed by Win32 virtual-key code; true between key down and key up

// The window this run has open (nullptr when closed) and its drawing context, for SwapBuffers.
extern PlatWindow sceneWindow;
extern PlatDeviceContext sceneDeviceContext;

// The pixel-format request, filled on the first opening and reused by every later one.
extern PlatPixelFormat ScenePixelFormat;

bool OpenSceneWindow(const char* title, int width, int height, int colorBits, bool fullscreen);
void CloseSceneWindow();
void ResizeScene(int width, int height);
bool InitSceneState();
intptr_t SceneWindowProc(PlatWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// The intro's music: register the file callbacks (before the window opens); open the audio output, load
// "data/glimrook.xm" and play it (false after writing one line to standard output); stop, free and close.
void PrepareMusic();
bool StartMusic();
void StopMusic();

// The whole program: start-up, frame loop, shutdown. Returns the process exit code: 0 after a normal quit,
// 1 when start-up or a fullscreen toggle failed.
int IntroMain();
// Puts the shell's program-wide state back to its start values (for a second run in one process).
void ResetShellState();
