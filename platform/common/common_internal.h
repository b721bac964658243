// What the SDL2 and browser implementations share beyond the seam: the window procedure registered with the
// scene window class, the quit message the procedure posts, and a thread's priority. Main thread only, but
// for PlatRaiseThreadPriority.
#pragma once

#include "platform/platform.h"

// The window procedure registered with the scene window class, or nullptr (set by PlatRegisterWindowClass).
extern PlatWindowProc registeredWindowProc;
// Hands out the quit message posted by PlatPostQuitMessage, once: true (and the message filled) when one was
// posted since the last call.
bool TakePostedQuit(PlatMessage* message);
// Called by a new thread on itself before it runs its procedure: the highest priority the system allows.
void PlatRaiseThreadPriority();
