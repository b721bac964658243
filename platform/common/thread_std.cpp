// Threads and sleeping through the C++ library (POSIX threads underneath: on Linux, and as Web Workers in the
// browser build with shared memory). A new thread raises its own priority before it runs its procedure.
#include "platform/common/common_internal.h"

#include <chrono>
#include <new>
#include <system_error>
#include <thread>

struct PlatThreadRec {
    std::thread thread;
};

PlatThread PlatStartThread(PlatThreadProc proc, void* param)
{
    if (proc == nullptr) {
        return nullptr;
    }
    PlatThreadRec* rec = new (std::nothrow) PlatThreadRec;
    if (rec == nullptr) {
        return nullptr;
    }
    try {
        rec->thread = std::thread([proc, param] {
            PlatRaiseThreadPriority();
            proc(param);
        });
    } catch (const std::system_error&) {
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
    thread->thread.join();
    delete thread;
}

void PlatSleepMs(uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
