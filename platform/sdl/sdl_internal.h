// State shared by the SDL2 implementation's files (window, messages, boxes). Main thread only.
#pragma once

#include "platform/common/common_internal.h"

#include <SDL.h>

// The window made last and not yet destroyed; only its window events reach the window procedure.
extern SDL_Window* sdlCurrentWindow;

inline SDL_Window* ToSdl(PlatWindow window)
{
    return reinterpret_cast<SDL_Window*>(window);
}

inline PlatWindow FromSdl(SDL_Window* window)
{
    return reinterpret_cast<PlatWindow>(window);
}
