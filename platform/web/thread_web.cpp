// Threads in the browser build with shared memory are POSIX threads running as Web Workers (through the
// C++ library, platform/common/thread_std.cpp). The browser has no thread priorities; the streaming
// thread's worker has a core of its own to run on.
#include "platform/common/common_internal.h"
#include "platform/web/web_internal.h"

void PlatRaiseThreadPriority()
{
}

void WebPollBetweenFrames()
{
    // The streaming thread polls on its own.
}
