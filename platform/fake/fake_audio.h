// The test stand-in for the audio device and threads: a device whose played-bytes count the test sets by
// hand (so streaming is tested without real time), whose opening and position query can be made to fail,
// and real threads with a short sleep.
#pragma once

#include "platform/platform.h"

#include <atomic>
#include <cstdint>

struct FakeAudioState {
    // Set by the test (main thread) before the call they affect.
    bool openFails = false;
    bool queueFails = false;         // PlatAudioQueueLoop refuses the ring
    bool threadStartFails = false;   // PlatStartThread makes no thread
    // Every position query fails while set (any thread may read it).
    std::atomic<bool> queryFails{false};
    // What PlatAudioPlayedBytes reports; the test moves it, PlatAudioQueueLoop sets it to 0.
    std::atomic<uint64_t> playedBytes{0};

    // Recorded by the device (main thread).
    bool open = false;
    int32_t rate = 0;
    int opens = 0;
    int queues = 0;
    int resets = 0;
    int closes = 0;
    int pauses = 0;    // PlatAudioPause calls that paused a playing ring
    int restarts = 0;  // PlatAudioRestart calls that ended a pause
    // Between PlatAudioPause and PlatAudioRestart (or a newly queued ring); FakeAudioPlay then plays nothing.
    std::atomic<bool> paused{false};
    const void* ring = nullptr;  // the queued buffer, nullptr after a reset
    uint32_t ringBytes = 0;
    // A reset or close came while a buffer was queued and another was queued after it without a reset in
    // between: the second buffer would never start playing on the real device.
    bool queuedOverLoop = false;

    // Counted on any thread.
    std::atomic<uint64_t> queries{0};         // position queries, failed ones included
    std::atomic<uint64_t> sleeps{0};          // PlatSleepMs calls
    std::atomic<uint64_t> writtenBlocks{0};   // PlatAudioWritten calls
    std::atomic<uint32_t> lastWrittenOffset{0};   // ring bytes of the latest PlatAudioWritten
    std::atomic<uint32_t> lastWrittenBytes{0};
    std::atomic<int> threadsStarted{0};
    std::atomic<int> threadsJoined{0};
    // While set, a started thread waits before running its procedure (to test a stop that comes first).
    std::atomic<bool> holdNewThreads{false};
};

extern FakeAudioState fakeAudio;

// Back to a closed device with nothing recorded and nothing failing.
void FakeAudioReset();
// The device plays `bytes` more of its ring, as a real one does in time: the played-bytes count moves on
// unless the device is paused or has nothing queued. Returns whether it moved.
bool FakeAudioPlay(uint64_t bytes);
// Waits (really, up to about 10 s) until `count` more position queries than `since` have been made; true when
// they have. After two more queries than were counted when the played-bytes count was set, the streaming
// thread has finished a whole poll that saw the new count.
bool FakeAudioWaitQueries(uint64_t since, uint64_t count);
