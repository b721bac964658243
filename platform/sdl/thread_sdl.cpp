// Threads and sleeping over SDL2. A new thread raises its own priority first (SDL can only change the
// calling thread's): time-critical if the system allows it, else high, else it keeps the normal priority.
#include "platform/platform.h"

#include <SDL.h>

#include <new>

struct PlatThreadRec {
    SDL_Thread* thread;
    PlatThreadProc proc;
    void* param;
};

static int SDLCALL RunThread(void* data)
{
    PlatThreadRec* rec = static_cast<PlatThreadRec*>(data);
    if (SDL_SetThreadPriority(SDL_THREAD_PRIORITY_TIME_CRITICAL) != 0) {
        SDL_SetThreadPriority(SDL_THREAD_PRIORITY_HIGH);
    }
    return static_cast<int>(rec->proc(rec->param));
}

PlatThread PlatStartThread(PlatThreadProc proc, void* param)
{
    if (proc == nullptr) {
        return nullptr;
    }
    PlatThreadRec* rec = new (std::nothrow) PlatThreadRec{nullptr, proc, param};
    if (rec == nullptr) {
        return nullptr;
    }
    rec->thread = SDL_CreateThread(RunThread, "tw-stream", rec);
    if (rec->thread == nullptr) {
        delete rec;
        return nullptr;
    }
    return rec;
}

void PlatJoinThread(PlatThread thread)
{
    if (thread == nullptr) {
        return;
    }
    SDL_WaitThread(thread->thread, nullptr);
    delete thread;
}

void PlatSleepMs(uint32_t milliseconds)
{
    SDL_Delay(milliseconds);
}
