// The streaming work on a thread of its own, for every system that has threads: the poll is called, then the
// thread sleeps, until the poll says to end. The browser build without shared memory has its own version
// (platform/web/polling_main.cpp) that runs the poll on the main thread.
#include "platform/platform.h"

#include <new>

namespace {

// What the thread runs; made by PlatStartPolling, released by the thread itself when it ends.
struct PollingRun {
    PlatPollProc poll;
    void* param;
    uint32_t periodMs;
};

uint32_t RunPolling(void* data)
{
    PollingRun* run = static_cast<PollingRun*>(data);
    while (run->poll(run->param)) {
        PlatSleepMs(run->periodMs);
    }
    delete run;
    return 0;
}

}  // namespace

PlatThread PlatStartPolling(PlatPollProc poll, void* param, uint32_t periodMs)
{
    if (poll == nullptr) {
        return nullptr;
    }
    PollingRun* run = new (std::nothrow) PollingRun{poll, param, periodMs};
    if (run == nullptr) {
        return nullptr;
    }
    PlatThread thread = PlatStartThread(RunPolling, run);
    if (thread == nullptr) {
        delete run;
    }
    return thread;
}
