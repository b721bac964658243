// The browser build without shared memory has no threads: the streaming work runs on the main thread, once
// before each frame is handed to the browser and, while the browser gives no frames (a hidden tab, a dialog
// waiting for its answer), whenever the audio worklet reports that it has played on. The worklet holds about
// two seconds of sound ahead of itself, so a poll now and then keeps it fed.
#include "platform/web/web_internal.h"

#include <emscripten.h>

#include <new>

struct PlatThreadRec {
    PlatPollProc poll;
    void* param;
    bool ended;   // the poll returned false: it is not called again
};

// The streaming work while it runs (main thread).
static PlatThreadRec* polling = nullptr;
// Set while a poll runs, so that a report of the worklet coming in meanwhile does not start another.
static bool inPoll = false;

static void PollOnce()
{
    if (polling == nullptr || polling->ended || inPoll) {
        return;
    }
    inPoll = true;
    double start = emscripten_get_now();
    if (!polling->poll(polling->param)) {
        polling->ended = true;
        tw_web_polling(0);
    }
    tw_web_polled(emscripten_get_now() - start);
    inPoll = false;
}

PlatThread PlatStartThread(PlatThreadProc, void*)
{
    return nullptr;   // no threads in this build
}

PlatThread PlatStartPolling(PlatPollProc poll, void* param, uint32_t)
{
    if (poll == nullptr || polling != nullptr) {
        return nullptr;
    }
    polling = new (std::nothrow) PlatThreadRec{poll, param, false};
    if (polling != nullptr) {
        tw_web_polling(1);
    }
    return polling;
}

void PlatJoinThread(PlatThread thread)
{
    if (thread == nullptr) {
        return;
    }
    // Nothing runs beside the main thread: once forgotten, the poll is called no more.
    if (thread == polling) {
        polling = nullptr;
        tw_web_polling(0);
    }
    delete thread;
}

void PlatSleepMs(uint32_t)
{
    // The main thread never waits by sleeping here: it hands control back to the browser instead.
}

void WebPollBetweenFrames()
{
    PollOnce();
}

// Called by the page when the worklet reports progress and no frame has polled for a while.
extern "C" EMSCRIPTEN_KEEPALIVE void tw_web_poll()
{
    PollOnce();
}
