// The wave output device over Web Audio: an AudioWorklet reads the queued ring straight from the program's
// shared memory, in an endless loop, and counts the bytes it has copied out in a 64-bit word with Atomics.
// The context runs at the rate asked for (44,100 Hz) or the device does not open. The count is read by the
// streaming thread (a Web Worker) without calling into the browser.
#include "platform/web/web_internal.h"

#include <emscripten.h>

// The words shared with the worklet (the worklet and every thread).
static WebAudioShared audioShared = {};
// Whether the device is open and whether a ring is queued (main thread writes; the streaming thread reads
// `queued`).
static bool audioOpen = false;
static std::atomic<bool> queued{false};
// When the streaming thread last asked for the position (milliseconds, streaming thread only).
static double lastPollMs = 0.0;

bool PlatAudioOpen(int32_t rate)
{
    PlatAudioClose();
    if (rate <= 0 || tw_web_audio_open(rate) == 0) {
        return false;
    }
    audioOpen = true;
    return true;
}

bool PlatAudioQueueLoop(const void* ring, uint32_t bytes)
{
    if (!audioOpen || ring == nullptr || bytes < 4) {
        return false;
    }
    PlatAudioReset();
    audioShared.playedBytes.store(0);
    audioShared.longestPollGapMs.store(0);
    audioShared.stop.store(0);
    audioShared.paused.store(0);
    lastPollMs = 0.0;
    if (tw_web_audio_start(ring, bytes & ~3u, &audioShared) == 0) {
        audioShared.stop.store(1);
        return false;
    }
    queued.store(true);
    return true;
}

bool PlatAudioPlayedBytes(uint64_t* bytes)
{
    if (bytes == nullptr || !queued.load()) {
        return false;
    }
    // The longest gap between two queries tells a host that starved this thread from a fault of ours.
    double now = emscripten_get_now();
    if (lastPollMs > 0.0 && now - lastPollMs > audioShared.longestPollGapMs.load()) {
        audioShared.longestPollGapMs.store(static_cast<int32_t>(now - lastPollMs));
    }
    lastPollMs = now;
    *bytes = audioShared.playedBytes.load();
    return true;
}

void PlatAudioPause()
{
    // The worklet plays silence from its next quantum on and neither moves through the ring nor counts.
    audioShared.paused.store(1);
}

void PlatAudioRestart()
{
    audioShared.paused.store(0);
}

void PlatAudioReset()
{
    if (!queued.load()) {
        return;
    }
    // The worklet copies only after seeing `stop` clear with `busy` set, so once `busy` reads clear after
    // `stop` is set, it never touches the ring again and the ring may be released.
    audioShared.stop.store(1);
    while (audioShared.busy.load() != 0) {
    }
    tw_web_audio_stop();
    queued.store(false);
}

void PlatAudioClose()
{
    if (!audioOpen) {
        return;
    }
    PlatAudioReset();
    // The page's audio context stays: it was started by the user's click and cannot start again without one.
    audioOpen = false;
}
