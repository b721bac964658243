// The real audio device and threads over SDL2, run headless: SDL's dummy driver plays in real time into
// nothing, its disk driver writes what it plays to a file.
#include "sound/sound.h"

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

// Polls the device until it has played at least `bytes` (about 5 s at most).
bool WaitPlayed(uint64_t bytes)
{
    for (int i = 0; i < 500; i++) {
        uint64_t played = 0;
        if (PlatAudioPlayedBytes(&played) && played >= bytes) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Opens the device on SDL's disk driver, which writes what it plays to a file of that name in the test's
// temporary folder (no wait between callbacks); returns the file's path.
std::string OpenDiskDevice(const char* name)
{
    std::string path = ::testing::TempDir() + name;
    std::remove(path.c_str());
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "1", 1);
    EXPECT_TRUE(PlatAudioOpen(44100));
    return path;
}

// A ring of 1000 frames, left i + 1 and right -(i + 1): none silent, and a length no callback size divides.
std::vector<int16_t> CountingRing()
{
    std::vector<int16_t> ring(2 * 1000);
    for (int i = 0; i < 1000; i++) {
        ring[2 * i] = static_cast<int16_t>(i + 1);
        ring[2 * i + 1] = static_cast<int16_t>(-(i + 1));
    }
    return ring;
}

TEST(AudioDevice, DummyDriverPlaysTheLoopAndCountsWholeFrames)
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(PlatAudioOpen(44100));
    uint64_t played = 123;
    ASSERT_TRUE(PlatAudioPlayedBytes(&played));
    EXPECT_EQ(played, 0u);  // nothing queued yet

    std::vector<int16_t> ring(2 * 2048, 0);
    ASSERT_TRUE(PlatAudioQueueLoop(ring.data(), static_cast<uint32_t>(ring.size() * 2)));
    ASSERT_TRUE(WaitPlayed(3 * ring.size() * 2));  // more than one turn of the loop
    ASSERT_TRUE(PlatAudioPlayedBytes(&played));
    EXPECT_EQ(played % 4, 0u);

    PlatAudioReset();
    ASSERT_TRUE(PlatAudioPlayedBytes(&played));
    EXPECT_EQ(played, 0u);
    PlatAudioClose();
    EXPECT_FALSE(PlatAudioPlayedBytes(&played));
    PlatAudioReset();  // harmless when closed
    PlatAudioClose();
}

TEST(AudioDevice, DiskDriverWritesTheRingOverAndOver)
{
    std::string path = OpenDiskDevice("tw_disk_audio.raw");
    ASSERT_FALSE(HasFailure());
    std::vector<int16_t> ring = CountingRing();
    uint32_t ringBytes = static_cast<uint32_t>(ring.size() * 2);
    ASSERT_TRUE(PlatAudioQueueLoop(ring.data(), ringBytes));
    ASSERT_TRUE(WaitPlayed(4 * uint64_t{ringBytes}));
    PlatAudioClose();

    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The paused device wrote silence until the ring was queued; from there on the ring, turn after turn.
    size_t start = 0;
    while (start < bytes.size() && bytes[start] == 0) {
        start++;
    }
    EXPECT_EQ(start % 4, 0u);
    ASSERT_GE(bytes.size() - start, 2 * size_t{ringBytes});
    const char* ringBytesData = reinterpret_cast<const char*>(ring.data());
    for (size_t i = start; i < bytes.size(); i++) {
        ASSERT_EQ(bytes[i], ringBytesData[(i - start) % ringBytes]) << "byte " << i;
    }
    std::remove(path.c_str());
}

TEST(AudioDevice, APauseHoldsThePlaceInTheRingAndTheCount)
{
    std::string path = OpenDiskDevice("tw_disk_audio_pause.raw");
    ASSERT_FALSE(HasFailure());
    PlatAudioPause();  // nothing queued: harmless
    PlatAudioRestart();
    // No frame of the ring is silent, so the frames played can be told from the silence of the pause.
    std::vector<int16_t> ring = CountingRing();
    uint32_t ringBytes = static_cast<uint32_t>(ring.size() * 2);
    ASSERT_TRUE(PlatAudioQueueLoop(ring.data(), ringBytes));
    ASSERT_TRUE(WaitPlayed(2 * uint64_t{ringBytes}));

    PlatAudioPause();
    uint64_t atPause = 0;
    ASSERT_TRUE(PlatAudioPlayedBytes(&atPause));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    uint64_t later = 0;
    ASSERT_TRUE(PlatAudioPlayedBytes(&later));
    EXPECT_EQ(later, atPause);  // the count stands while paused
    PlatAudioRestart();
    ASSERT_TRUE(WaitPlayed(atPause + 2 * uint64_t{ringBytes}));
    PlatAudioClose();

    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::remove(path.c_str());
    // Without the silent frames the capture is the ring turn after turn, across the pause: nothing of it was
    // skipped or played twice. The pause itself is a stretch of silence between the sounding frames.
    std::vector<int32_t> frames;
    size_t silentAfterSound = 0;
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        int16_t left = 0;
        int16_t right = 0;
        std::memcpy(&left, &bytes[i], 2);
        std::memcpy(&right, &bytes[i + 2], 2);
        if (left == 0 && right == 0) {
            silentAfterSound += frames.empty() ? 0 : 1;
            continue;
        }
        frames.push_back(left);
        ASSERT_EQ(right, -left);
    }
    ASSERT_GE(frames.size(), 4 * 1000u);
    for (size_t k = 0; k < frames.size(); k++) {
        ASSERT_EQ(frames[k], static_cast<int32_t>(k % 1000) + 1) << "frame " << k;
    }
    EXPECT_GE(silentAfterSound, 1024u);  // at least one whole callback of silence
}

TEST(AudioDevice, OpeningFailsWithAnUnknownDriver)
{
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    EXPECT_FALSE(PlatAudioOpen(44100));
    uint64_t played = 0;
    EXPECT_FALSE(PlatAudioPlayedBytes(&played));
    int16_t frame[2] = {};
    EXPECT_FALSE(PlatAudioQueueLoop(frame, 4));
    PlatAudioReset();
    PlatAudioClose();
}

std::atomic<int> threadRuns{0};
uint32_t CountRun(void* param)
{
    threadRuns += *static_cast<int*>(param);
    return 0;
}

TEST(AudioDevice, ThreadsRunTheirProcedureAndAreJoined)
{
    int by = 3;
    PlatThread thread = PlatStartThread(CountRun, &by);
    ASSERT_NE(thread, nullptr);
    PlatJoinThread(thread);
    EXPECT_EQ(threadRuns.load(), 3);
    EXPECT_EQ(PlatStartThread(nullptr, nullptr), nullptr);
    PlatJoinThread(nullptr);
    PlatSleepMs(1);
}

// The whole chain on the real device: the streaming thread re-mixes blocks as the dummy driver plays them.
std::atomic<int> ticks{0};
void CountTick(Song* song)
{
    song->samplesPerTick = BlockFrames;
    ticks++;
}

TEST(AudioDevice, ASongStreamsThroughTheDummyDevice)
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    ASSERT_TRUE(SndInit(44100));
    Song song{};
    song.defaultBpm = 125;
    song.defaultSpeed = 6;
    song.onTick = CountTick;
    ASSERT_TRUE(ModPlaySong(&song));
    EXPECT_GE(ticks.load(), 100);  // the pre-mix; the thread may already have re-mixed a block
    for (int i = 0; i < 500 && ticks.load() < 105; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GE(ticks.load(), 105);
    EXPECT_TRUE(ModStopSong(&song));
    SndClose();
    ModSetFileCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace
