#include "platform/fake/fake_audio.h"

#include <chrono>
#include <new>
#include <thread>

FakeAudioState fakeAudio;

void FakeAudioReset()
{
    fakeAudio.openFails = false;
    fakeAudio.queueFails = false;
    fakeAudio.threadStartFails = false;
    fakeAudio.queryFails.store(false);
    fakeAudio.playedBytes.store(0);
    fakeAudio.open = false;
    fakeAudio.rate = 0;
    fakeAudio.opens = 0;
    fakeAudio.queues = 0;
    fakeAudio.resets = 0;
    fakeAudio.closes = 0;
    fakeAudio.pauses = 0;
    fakeAudio.restarts = 0;
    fakeAudio.paused.store(false);
    fakeAudio.ring = nullptr;
    fakeAudio.ringBytes = 0;
    fakeAudio.queuedOverLoop = false;
    fakeAudio.queries.store(0);
    fakeAudio.writtenBlocks.store(0);
    fakeAudio.lastWrittenOffset.store(0);
    fakeAudio.lastWrittenBytes.store(0);
    fakeAudio.sleeps.store(0);
    fakeAudio.threadsStarted.store(0);
    fakeAudio.threadsJoined.store(0);
    fakeAudio.holdNewThreads.store(false);
}

bool FakeAudioPlay(uint64_t bytes)
{
    if (fakeAudio.paused.load() || fakeAudio.ring == nullptr) {
        return false;
    }
    fakeAudio.playedBytes.fetch_add(bytes);
    return true;
}

bool FakeAudioWaitQueries(uint64_t since, uint64_t count)
{
    for (int i = 0; i < 100000; i++) {
        if (fakeAudio.queries.load() >= since + count) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return false;
}

bool PlatAudioOpen(int32_t rate)
{
    fakeAudio.opens++;
    if (fakeAudio.openFails) {
        return false;
    }
    fakeAudio.open = true;
    fakeAudio.rate = rate;
    fakeAudio.ring = nullptr;
    fakeAudio.ringBytes = 0;
    return true;
}

bool PlatAudioQueueLoop(const void* ring, uint32_t bytes)
{
    if (!fakeAudio.open || fakeAudio.queueFails) {
        return false;
    }
    if (fakeAudio.ring != nullptr) {
        fakeAudio.queuedOverLoop = true;
    }
    fakeAudio.queues++;
    fakeAudio.ring = ring;
    fakeAudio.ringBytes = bytes;
    fakeAudio.playedBytes.store(0);
    fakeAudio.paused.store(false);
    return true;
}

bool PlatAudioPlayedBytes(uint64_t* bytes)
{
    fakeAudio.queries.fetch_add(1);
    if (fakeAudio.queryFails.load()) {
        return false;
    }
    *bytes = fakeAudio.playedBytes.load();
    return true;
}

void PlatAudioWritten(uint32_t offset, uint32_t bytes)
{
    fakeAudio.writtenBlocks.fetch_add(1);
    fakeAudio.lastWrittenOffset.store(offset);
    fakeAudio.lastWrittenBytes.store(bytes);
}

void PlatAudioPause()
{
    if (!fakeAudio.open || fakeAudio.ring == nullptr || fakeAudio.paused.load()) {
        return;
    }
    fakeAudio.pauses++;
    fakeAudio.paused.store(true);
}

void PlatAudioRestart()
{
    if (!fakeAudio.open || !fakeAudio.paused.load()) {
        return;
    }
    fakeAudio.restarts++;
    fakeAudio.paused.store(false);
}

void PlatAudioReset()
{
    if (!fakeAudio.open) {
        return;
    }
    fakeAudio.resets++;
    fakeAudio.ring = nullptr;
    fakeAudio.ringBytes = 0;
    fakeAudio.paused.store(false);
}

void PlatAudioClose()
{
    if (!fakeAudio.open) {
        return;
    }
    fakeAudio.closes++;
    fakeAudio.open = false;
    fakeAudio.ring = nullptr;
    fakeAudio.ringBytes = 0;
    fakeAudio.paused.store(false);
}

struct PlatThreadRec {
    std::thread thread;
};

PlatThread PlatStartThread(PlatThreadProc proc, void* param)
{
    if (proc == nullptr || fakeAudio.threadStartFails) {
        return nullptr;
    }
    PlatThreadRec* rec = new (std::nothrow) PlatThreadRec;
    if (rec == nullptr) {
        return nullptr;
    }
    fakeAudio.threadsStarted.fetch_add(1);
    rec->thread = std::thread([proc, param] {
        while (fakeAudio.holdNewThreads.load()) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        proc(param);
    });
    return rec;
}

void PlatJoinThread(PlatThread thread)
{
    if (thread == nullptr) {
        return;
    }
    thread->thread.join();
    fakeAudio.threadsJoined.fetch_add(1);
    delete thread;
}

// Fake time: a short real pause, so a polling loop neither spins nor slows the tests down.
void PlatSleepMs(uint32_t milliseconds)
{
    fakeAudio.sleeps.fetch_add(1);
    (void)milliseconds;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
}
