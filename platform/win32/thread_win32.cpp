// Threads and sleeping over Win32: CreateThread, then the new thread is raised to time-critical priority.
#include "platform/win32/win32_internal.h"

#include <new>

struct PlatThreadRec {
    HANDLE handle;
    PlatThreadProc proc;
    void* param;
};

// The thread's entry with the system's calling convention; runs the seam's procedure.
static DWORD WINAPI RunThread(LPVOID data)
{
    PlatThreadRec* rec = static_cast<PlatThreadRec*>(data);
    return static_cast<DWORD>(rec->proc(rec->param));
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
    rec->handle = CreateThread(nullptr, 0, RunThread, rec, 0, nullptr);
    if (rec->handle == nullptr) {
        delete rec;
        return nullptr;
    }
    // A refused priority leaves the thread at normal priority; it still runs.
    SetThreadPriority(rec->handle, THREAD_PRIORITY_TIME_CRITICAL);
    return rec;
}

void PlatJoinThread(PlatThread thread)
{
    if (thread == nullptr) {
        return;
    }
    WaitForSingleObject(thread->handle, INFINITE);
    CloseHandle(thread->handle);
    delete thread;
}

void PlatSleepMs(uint32_t milliseconds)
{
    Sleep(milliseconds);
}
