// The wave output device over Web Audio: an AudioWorklet plays the queued ring in an endless loop and counts
// the bytes it has read out of it. With shared memory (the build with threads) the worklet reads the ring
// straight out of the program's memory and keeps its count in a 64-bit word that the streaming thread (a Web
// Worker) reads without calling into the browser. Without shared memory the worklet keeps a copy of the
// ring: every block mixed again reaches it by message, and its count comes back by message.
//
// Either way the device plays each block once: it knows which stretch of what it will play holds contents
// written since it last passed there, and plays silence (counting the quanta as starved) where the mixing has
// fallen behind, never the ring's old contents a second time. Where the page's audio context does not run at
// the ring's rate, the worklet converts the rate, so the song keeps its pitch and speed.
#include "platform/web/web_internal.h"

#include <emscripten.h>

// The words shared with the worklet (the worklet and every thread).
static WebAudioShared audioShared = {};
// Whether the device is open (main thread) and whether a ring is queued (main thread writes; the streaming
// side reads).
static bool audioOpen = false;
static std::atomic<bool> queued{false};

// The streaming side's view (the streaming thread, or the main thread in the build without threads): the
// bytes of the queued ring, the count at the latest position query, and the stretch of play positions
// (bytes since the ring was queued, [start, end)) whose ring contents are new.
static uint32_t ringBytes = 0;
static uint64_t lastPlayed = 0;
static uint64_t freshStart = 0;
static uint64_t freshEnd = 0;
// When the streaming side last asked for the position (milliseconds).
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
    ringBytes = bytes & ~3u;
    lastPlayed = 0;
    lastPollMs = 0.0;
    // The whole ring was mixed before it was queued: its first turn is new.
    freshStart = 0;
    freshEnd = ringBytes;
    audioShared.playedBytes.store(0);
    audioShared.freshStart.store(freshStart);
    audioShared.freshEnd.store(freshEnd);
    audioShared.longestPollGapMs.store(0);
    audioShared.stop.store(0);
    audioShared.paused.store(0);
    if (tw_web_audio_start(ring, ringBytes, &audioShared) == 0) {
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
    // The longest gap between two queries tells a host that starved the streaming from a fault of ours.
    double now = emscripten_get_now();
    if (lastPollMs > 0.0 && now - lastPollMs > audioShared.longestPollGapMs.load()) {
        audioShared.longestPollGapMs.store(static_cast<int32_t>(now - lastPollMs));
    }
    lastPollMs = now;
#ifdef __EMSCRIPTEN_PTHREADS__
    lastPlayed = audioShared.playedBytes.load();
#else
    lastPlayed = static_cast<uint64_t>(tw_web_audio_played());
#endif
    *bytes = lastPlayed;
    return true;
}

void PlatAudioWritten(uint32_t offset, uint32_t bytes)
{
    if (!queued.load() || ringBytes == 0 || offset >= ringBytes || bytes > ringBytes - offset) {
        return;
    }
    // The contents are heard at the next pass over `offset` after the latest query. Blocks are mixed in ring
    // order right behind the device, so that pass normally continues the new stretch; where it does not, the
    // device went past the stretch's end before these were written, and the new stretch starts over here.
    uint64_t target = lastPlayed - lastPlayed % ringBytes + offset;
    if (target <= lastPlayed) {
        target += ringBytes;
    }
    if (target == freshEnd) {
        freshEnd += bytes;
    } else {
        freshStart = target;
        freshEnd = target + bytes;
    }
#ifdef __EMSCRIPTEN_PTHREADS__
    // The start first: a worklet that sees the new end then also sees the new start.
    audioShared.freshStart.store(freshStart);
    audioShared.freshEnd.store(freshEnd);
#else
    tw_web_audio_written(offset, bytes, static_cast<double>(freshStart), static_cast<double>(freshEnd));
#endif
}

void PlatAudioPause()
{
    // The worklet plays silence from its next quantum on and neither moves through the ring nor counts.
    audioShared.paused.store(1);
    tw_web_audio_control();
}

void PlatAudioRestart()
{
    audioShared.paused.store(0);
    tw_web_audio_control();
}

void PlatAudioReset()
{
    if (!queued.load()) {
        return;
    }
    // With shared memory the worklet copies only after seeing `stop` clear with `busy` set, so once `busy`
    // reads clear after `stop` is set, it never touches the ring again and the ring may be released. Without
    // it the worklet reads its own copy.
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
    // The page's audio context stays: it was started by the user's tap and cannot start again without one.
    audioOpen = false;
}
