// What a stream publishes for the main thread, and its pause, against the test device and a real streaming
// thread: the status read is that of the block being heard (not of the block mixed last), is never torn
// between two blocks, and a pause stops the device, the song's clock and the mixing together. Built as its
// own executable so a ThreadSanitizer build can run it alone.
#include "sound/sound.h"

#include "platform/fake/fake_audio.h"
#include "sound_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// Blocks mixed since the song started: the tick at the start of each block gives every published field a
// value that follows from it, so a torn read or the wrong block shows.
std::atomic<int> blocksTicked{0};
// Voices and levels the tick sets up, when given.
Sample* loudSample = nullptr;

void NumberedTick(Song* song)
{
    int n = blocksTicked.load();
    song->samplesPerTick = BlockFrames;
    song->row = n;
    song->speed = n + 1;
    song->bpm = n + 2;
    song->orderPos = n % 256;
    if (loudSample != nullptr && n == 0) {
        // Track 0 at full volume on its own voice, track 2 fading on its partner voice (slot 34).
        SetSteadyVoice(MixVoices[0], loudSample, 0, uint64_t{1} << 32, 128, 128);
        MixVoices[0].volume = 127;
        SetSteadyVoice(MixVoices[2 + MaxChannels], loudSample, 0, uint64_t{1} << 32, 32, 32);
        MixVoices[2 + MaxChannels].volume = 32;
    }
    blocksTicked.store(n + 1);
}

uint64_t Blocks(int64_t count)
{
    return static_cast<uint64_t>(count) * static_cast<uint64_t>(BlockFrames) * 4;
}

class PlayStatusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeAudioReset();
        ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
        blocksTicked = 0;
        loudSample = nullptr;
        song.defaultBpm = 125;
        song.defaultSpeed = 6;
        song.channelCount = 3;
        song.orderCount = 256;
        for (int k = 0; k < 256; k++) {
            song.orders[k] = static_cast<uint8_t>(255 - k);
        }
        song.onTick = NumberedTick;
        ASSERT_TRUE(SndInit(44100));
    }
    void TearDown() override
    {
        SndClose();
        ModSetFileCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    // The device plays on by `bytes`, and the streaming thread finishes a poll that saw it.
    void Play(uint64_t bytes)
    {
        uint64_t since = fakeAudio.queries.load();
        ASSERT_TRUE(FakeAudioPlay(bytes));
        ASSERT_TRUE(FakeAudioWaitQueries(since, 2));
    }
    SndPlayStatus Read()
    {
        SndPlayStatus status{};
        EXPECT_TRUE(SndReadPlayStatus(&status));
        return status;
    }
    Song song{};
};

TEST_F(PlayStatusTest, TheStatusIsThatOfTheBlockBeingHeard)
{
    SndPlayStatus none{};
    EXPECT_FALSE(SndReadPlayStatus(&none));  // no song streams yet
    ASSERT_TRUE(ModPlaySong(&song));
    // The pre-mix has mixed 100 blocks; the device plays block 0, mixed first.
    SndPlayStatus status = Read();
    EXPECT_EQ(status.playedFrames, 0u);
    EXPECT_EQ(status.row, 0);
    EXPECT_EQ(status.speed, 1);
    EXPECT_EQ(status.bpm, 2);
    EXPECT_EQ(status.orderPos, 0);
    EXPECT_EQ(status.pattern, 255);
    EXPECT_EQ(status.channelCount, 3);

    Play(Blocks(5) + 40);
    status = Read();
    EXPECT_EQ(status.playedFrames, static_cast<uint64_t>(5 * BlockFrames + 10));
    EXPECT_EQ(status.row, 5);
    EXPECT_EQ(status.pattern, 250);

    // A ring turn and a half on, in steps: block 50 of the ring has been mixed again for its second turn,
    // and what is heard is the 150th block, while the blocks mixed last are already near the 250th.
    for (int step = 0; step < 29; step++) {
        Play(Blocks(5));
    }
    status = Read();
    EXPECT_EQ(status.row, 150);
    EXPECT_EQ(status.pattern, 255 - 150);
    EXPECT_GE(blocksTicked.load(), 249);
    EXPECT_FALSE(status.fellBehind);

    // A new play starts the status afresh.
    ASSERT_TRUE(ModStopSong(&song));
    EXPECT_FALSE(SndReadPlayStatus(&status));
    blocksTicked = 0;
    ASSERT_TRUE(ModPlaySong(&song));
    status = Read();
    EXPECT_EQ(status.playedFrames, 0u);
    EXPECT_EQ(status.row, 0);
    EXPECT_EQ(status.longestPollGapFrames, 0u);
    EXPECT_TRUE(ModStopSong(&song));
}

TEST_F(PlayStatusTest, LevelsFollowTheVoicesOfEachTrack)
{
    // Peak 16384 (half of full scale) somewhere in every window of the sample.
    std::vector<int16_t> frames(4000, 100);
    for (size_t k = 0; k < frames.size(); k += 16) {
        frames[k] = k % 32 == 0 ? 16384 : -16384;
    }
    TestSample wave(frames, LoopForward, 0, 4000);
    loudSample = &wave.sample;
    song.channelCount = 4;
    ASSERT_TRUE(ModPlaySong(&song));
    SndPlayStatus status = Read();
    EXPECT_EQ(status.channelCount, 4);
    EXPECT_EQ(status.levels[0], 16384 * 127 * 255 / (32767 * 127));  // half scale at full volume: 127
    EXPECT_EQ(status.levels[1], 0);                                   // no voice
    EXPECT_EQ(status.levels[2], 16384 * 32 * 255 / (32767 * 127));   // through its partner voice: 32
    EXPECT_EQ(status.levels[3], 0);
    EXPECT_EQ(status.levels[4], 0);  // beyond the song's tracks
    EXPECT_TRUE(ModStopSong(&song));
}

TEST_F(PlayStatusTest, PauseStopsTheDeviceTheClockAndTheMixing)
{
    ASSERT_TRUE(ModPlaySong(&song));
    Play(Blocks(3));
    int mixed = blocksTicked.load();
    ASSERT_EQ(mixed, 103);
    SndPlayStatus before = Read();

    SndPause();
    EXPECT_TRUE(fakeAudio.paused);
    EXPECT_EQ(fakeAudio.pauses, 1);
    // The device plays nothing, so the count stands, nothing is mixed and the status stays.
    EXPECT_FALSE(FakeAudioPlay(Blocks(2)));
    uint64_t since = fakeAudio.queries.load();
    ASSERT_TRUE(FakeAudioWaitQueries(since, 4));
    EXPECT_EQ(blocksTicked.load(), mixed);
    SndPlayStatus paused = Read();
    EXPECT_EQ(paused.playedFrames, before.playedFrames);
    EXPECT_EQ(paused.row, before.row);
    SndPause();  // a second pause changes nothing
    EXPECT_EQ(fakeAudio.pauses, 1);

    // Resumed, the device goes on with the very next block: nothing skipped, nothing mixed twice.
    SndResume();
    EXPECT_FALSE(fakeAudio.paused);
    EXPECT_EQ(fakeAudio.restarts, 1);
    Play(Blocks(2));
    EXPECT_EQ(blocksTicked.load(), mixed + 2);
    EXPECT_EQ(Read().row, 5);

    // A new play starts the device even when it was left paused.
    SndPause();
    ASSERT_TRUE(ModStopSong(&song));
    blocksTicked = 0;
    ASSERT_TRUE(ModPlaySong(&song));
    EXPECT_FALSE(fakeAudio.paused);
    Play(Blocks(1));
    EXPECT_EQ(blocksTicked.load(), 101);
    EXPECT_TRUE(ModStopSong(&song));
    SndResume();  // nothing is paused: harmless
    EXPECT_EQ(fakeAudio.restarts, 1);
}

TEST_F(PlayStatusTest, ADeviceThatRanNearlyARingAheadIsReportedAsFallingBehind)
{
    ASSERT_TRUE(ModPlaySong(&song));
    Play(Blocks(40));
    SndPlayStatus status = Read();
    EXPECT_EQ(status.longestPollGapFrames, static_cast<uint64_t>(40 * BlockFrames));
    EXPECT_FALSE(status.fellBehind);
    // Between two looks the device played 98 blocks: the block finished just after the first look came
    // round again before it could be mixed anew.
    Play(Blocks(98));
    status = Read();
    EXPECT_EQ(status.longestPollGapFrames, static_cast<uint64_t>(98 * BlockFrames));
    EXPECT_TRUE(status.fellBehind);
    EXPECT_TRUE(ModStopSong(&song));
}

// The streaming thread mixes and publishes while the main thread reads as fast as it can: every status read
// belongs to one block (its fields agree with each other), is the block being heard, and never goes back.
TEST_F(PlayStatusTest, ReadsNeverTearWhileTheStreamingThreadPublishes)
{
    ASSERT_TRUE(ModPlaySong(&song));
    constexpr int TotalBlocks = 400;
    std::atomic<bool> done{false};
    std::thread device([&] {
        for (int k = 0; k < TotalBlocks; k++) {
            uint64_t since = fakeAudio.queries.load();
            FakeAudioPlay(Blocks(1) / 2);
            FakeAudioWaitQueries(since, 1);
            FakeAudioPlay(Blocks(1) / 2);
            FakeAudioWaitQueries(since, 2);
        }
        done = true;
    });
    int reads = 0;
    int lastRow = 0;
    while (!done) {
        SndPlayStatus status{};
        if (!SndReadPlayStatus(&status)) {
            continue;
        }
        reads++;
        ASSERT_EQ(status.speed, status.row + 1);
        ASSERT_EQ(status.bpm, status.row + 2);
        ASSERT_EQ(status.orderPos, status.row % 256);
        ASSERT_EQ(status.pattern, 255 - status.row % 256);
        ASSERT_EQ(status.row, static_cast<int>(status.playedFrames / static_cast<uint64_t>(BlockFrames)));
        ASSERT_GE(status.row, lastRow);
        lastRow = status.row;
    }
    device.join();
    EXPECT_GT(reads, 100);
    EXPECT_EQ(Read().row, TotalBlocks);
    EXPECT_TRUE(ModStopSong(&song));
}

}  // namespace
