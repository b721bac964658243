// Threads and sleeping in the browser: POSIX threads, which run as Web Workers sharing the program's memory.
// The browser has no thread priorities; the streaming thread's worker has a core of its own to run on.
#include "platform/platform.h"

#include <pthread.h>
#include <unistd.h>

#include <new>

struct PlatThreadRec {
    pthread_t thread;
    PlatThreadProc proc;
    void* param;
};

static void* RunThread(void* data)
{
    PlatThreadRec* rec = static_cast<PlatThreadRec*>(data);
    rec->proc(rec->param);
    return nullptr;
}

PlatThread PlatStartThread(PlatThreadProc proc, void* param)
{
    if (proc == nullptr) {
        return nullptr;
    }
    PlatThreadRec* rec = new (std::nothrow) PlatThreadRec{};
    if (rec == nullptr) {
        return nullptr;
    }
    rec->proc = proc;
    rec->param = param;
    if (pthread_create(&rec->thread, nullptr, RunThread, rec) != 0) {
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
    pthread_join(thread->thread, nullptr);
    delete thread;
}

void PlatSleepMs(uint32_t milliseconds)
{
    usleep(static_cast<useconds_t>(milliseconds) * 1000);
}
