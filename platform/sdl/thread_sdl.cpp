// A thread's priority over SDL2, which can only change the calling thread's: time-critical if the system
// allows it, else high, else the thread keeps the normal priority.
#include "platform/common/common_internal.h"

#include <SDL.h>

void PlatRaiseThreadPriority()
{
    if (SDL_SetThreadPriority(SDL_THREAD_PRIORITY_TIME_CRITICAL) != 0) {
        SDL_SetThreadPriority(SDL_THREAD_PRIORITY_HIGH);
    }
}
