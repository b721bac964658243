// Streaming against the test device: the test moves the device's played-bytes count by hand and waits for
// whole polls of the streaming thread, so which blocks get mixed, and when, is checked without real time.
// Built as its own executable so it can also run under ThreadSanitizer.
#include "sound/sound.h"

#include "platform/fake/fake_audio.h"
#include "sound_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <thread>
#include <vector>

namespace {

// What the song's tick hook saw: the block being mixed, the device's count then and the song's clock.
struct TickEntry {
    int32_t block;
    uint64_t played;
    int32_t elapsedMs;
};
constexpr int LogCapacity = 1 << 16;
TickEntry tickLog[LogCapacity];
// Written by whichever thread mixes (the main thread only during the pre-mix, before the streaming thread
// exists); read by the test after a synchronising wait.
std::atomic<int> tickCount{0};
// When set, the first tick starts voice 0 on this sample at volumes 255 / 128, as the player would.
Sample* toneSample = nullptr;

void LogTick(Song* song)
{
    int i = tickCount.load();
    if (i < LogCapacity) {
        tickLog[i] = TickEntry{WriteBlock, fakeAudio.playedBytes.load(), song->elapsedMs};
    }
    tickCount.store(i + 1);
}

// One tick at the start of every block.
void BlockTick(Song* song)
{
    song->samplesPerTick = BlockFrames;
    if (toneSample != nullptr && MixVoices[0].sample == nullptr) {
        SetSteadyVoice(MixVoices[0], toneSample, 0, uint64_t{1} << 32, 255, 128);
    }
    LogTick(song);
}

std::vector<int16_t> onStartSawBpm;
void RecordStart(Song* song)
{
    onStartSawBpm.push_back(static_cast<int16_t>(song->bpm));
    song->defaultBpm = 50;
}

int allocCalls = 0;
int failingCall = 0;
void* FailingAlloc(size_t bytes)
{
    allocCalls++;
    if (allocCalls == failingCall) {
        return nullptr;
    }
    return SndSystemAllocZeroed(bytes);
}

uint64_t BlockBytes(int64_t blocks)
{
    return static_cast<uint64_t>(blocks) * static_cast<uint64_t>(BlockFrames) * 4;
}

int32_t PlayingBlock(uint64_t playedBytes)
{
    return static_cast<int32_t>((playedBytes / 4 % static_cast<uint64_t>(RingFrames)) / static_cast<uint64_t>(BlockFrames));
}

// The timing values that SndInit and a render set.
struct Timing {
    int32_t rate, blockFrames, ringFrames, ringBlocks, rampFrames;
    float secondsPerFrame, rampReciprocal;
    bool operator==(const Timing&) const = default;
};

void PrintTo(const Timing& t, std::ostream* out)
{
    *out << t.rate << " Hz, block " << t.blockFrames << ", ring " << t.ringFrames << " in " << t.ringBlocks
         << ", ramp " << t.rampFrames;
}

Timing CurrentTiming()
{
    return Timing{OutputRate, BlockFrames, RingFrames, RingBlocks, RampFrames, SecondsPerFrame, RampFramesReciprocal};
}

// The voice and track tables byte for byte.
std::vector<uint8_t> VoicesAndTracks()
{
    std::vector<uint8_t> bytes(sizeof MixVoices + sizeof MusicChannels);
    std::memcpy(bytes.data(), MixVoices, sizeof MixVoices);
    std::memcpy(bytes.data() + sizeof MixVoices, MusicChannels, sizeof MusicChannels);
    return bytes;
}

class StreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeAudioReset();
        ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
        tickCount = 0;
        toneSample = nullptr;
        onStartSawBpm.clear();
        song.defaultBpm = 125;
        song.defaultSpeed = 6;
        song.channelCount = 4;
        song.initialGlobalVolume = 64;
        song.onTick = BlockTick;
        ASSERT_TRUE(SndInit(44100));
    }
    void TearDown() override
    {
        SndClose();
        SndAllocZeroed = SndSystemAllocZeroed;
        ModSetFileCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    // Moves the device to `bytes` and waits until the streaming thread has finished a poll that saw it.
    void PlayTo(uint64_t bytes)
    {
        fakeAudio.playedBytes = bytes;
        uint64_t since = fakeAudio.queries.load();
        ASSERT_TRUE(FakeAudioWaitQueries(since, 2));
    }
    Song song{};
};

TEST_F(StreamTest, TimingValuesFollowTheRate)
{
    struct Expected {
        int32_t rate, blockFrames, ringFrames, rampFrames;
    };
    for (Expected e : {Expected{44100, 884, 88400, 128}, Expected{22050, 444, 44400, 64},
                       Expected{48000, 960, 96000, 139}}) {
        ASSERT_TRUE(SndInit(e.rate));
        EXPECT_EQ(OutputRate, e.rate);
        EXPECT_EQ(fakeAudio.rate, e.rate);
        EXPECT_EQ(BlockFrames, e.blockFrames);
        EXPECT_EQ(RingFrames, e.ringFrames);
        EXPECT_EQ(RingBlocks, 100);
        EXPECT_EQ(RampFrames, e.rampFrames);
        EXPECT_EQ(RampFramesReciprocal, 1.0f / static_cast<float>(e.rampFrames));
        EXPECT_EQ(SecondsPerFrame, 1.0f / static_cast<float>(e.rate));
    }
    // Just below 1/44100, which is why a tick of 882 frames adds 19 ms.
    ASSERT_TRUE(SndInit(44100));
    EXPECT_LT(static_cast<double>(SecondsPerFrame), 1.0 / 44100);
    // Each SndInit closed the device the one before had opened.
    EXPECT_EQ(fakeAudio.opens, fakeAudio.closes + 1);
    EXPECT_EQ(MixVoices[200].slot, 200);
    EXPECT_EQ(MixVoices[200].speedInt, 1u);
}

TEST_F(StreamTest, InitRefusesWithoutCallbacksAnUnusableRateOrADevice)
{
    SndClose();
    int opens = fakeAudio.opens;
    ModSetFileCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_FALSE(SndInit(44100));
    EXPECT_EQ(fakeAudio.opens, opens);

    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    EXPECT_FALSE(SndInit(344));  // would give a ramp of 0 frames
    EXPECT_FALSE(SndInit(0));
    EXPECT_FALSE(SndInit(MaxOutputRate + 1));
    EXPECT_EQ(fakeAudio.opens, opens);
    EXPECT_TRUE(SndInit(345));
    EXPECT_EQ(RampFrames, 1);

    fakeAudio.openFails = true;
    EXPECT_FALSE(SndInit(44100));
    fakeAudio.openFails = false;
    EXPECT_TRUE(SndInit(44100));
}

TEST_F(StreamTest, TicksLastAWholeNumberOfFramesForEveryTempo)
{
    for (int32_t bpm = 1; bpm <= 255; bpm++) {
        SndSetTempo(&song, bpm);
        ASSERT_EQ(song.samplesPerTick, 110250 / bpm) << bpm;
        ASSERT_EQ(song.bpm, bpm);
    }
    SndSetTempo(&song, 21);
    EXPECT_EQ(song.samplesPerTick, 5250);
    SndSetTempo(&song, 100000);  // under one frame per tick: held at 1
    EXPECT_EQ(song.samplesPerTick, 1);
    SndSetTempo(&song, -3);
    EXPECT_EQ(song.samplesPerTick, 1);
    SndSetTempo(&song, 0);  // never ticks again, and never divides by zero
    EXPECT_EQ(song.samplesPerTick, INT_MAX);
}

int plainTicks = 0;
int32_t elapsedAtTick[4];
void PlainTick(Song* song)
{
    if (plainTicks < 4) {
        elapsedAtTick[plainTicks] = song->elapsedMs;
    }
    plainTicks++;
}

// The first block at 125 BPM: a tick at frame 0, 882 frames, a tick, 2 frames.
TEST_F(StreamTest, FirstBlockOfA125BpmSong)
{
    std::vector<float> mix(2 * static_cast<size_t>(RingFrames), 7.0f);
    std::vector<int16_t> ring(2 * static_cast<size_t>(RingFrames), 0);
    std::vector<BlockPosition> positions(static_cast<size_t>(RingBlocks), BlockPosition{});
    MixBuffer = mix.data();
    OutputRing = ring.data();
    BlockPositions = positions.data();
    CurrentSong = &song;
    WriteBlock = 0;
    TestSample tone(std::vector<int16_t>(2000, 1000), LoopForward, 0, 2000);
    SetSteadyVoice(MixVoices[0], &tone.sample, 0, uint64_t{1} << 32, 255, 128);
    song.onTick = PlainTick;
    plainTicks = 0;
    SndSetTempo(&song, 125);
    song.orderPos = 0x105;
    song.row = 0x203;

    SndMixBlock();

    EXPECT_EQ(plainTicks, 2);
    EXPECT_EQ(elapsedAtTick[0], 0);
    EXPECT_EQ(elapsedAtTick[1], 19);
    EXPECT_EQ(song.tickSamplesLeft, 880);
    EXPECT_EQ(song.elapsedMs, 19);
    EXPECT_EQ(WriteBlock, 1);
    EXPECT_EQ(positions[0].orderPos, 0x05);
    EXPECT_EQ(positions[0].row, 0x03);
    EXPECT_EQ(int32_t{positions[0].elapsedMs}, 19);
    // The block was cleared before mixing, and its 16-bit copy is in the ring; block 1 is untouched.
    for (int f = 0; f < 884; f++) {
        ASSERT_EQ(mix[2 * f], static_cast<float>(1000.0 * static_cast<double>(255.0f * (1.0f / 255.0f)))) << f;
        ASSERT_EQ(ring[2 * f], 1000) << f;
        ASSERT_EQ(ring[2 * f + 1], 502) << f;  // 1000 x 128/255
    }
    EXPECT_EQ(mix[2 * 884], 7.0f);
    EXPECT_EQ(ring[2 * 884], 0);

    // The next block: 880 frames finish the tick (another 19 ms), then a tick and 4 frames.
    SndMixBlock();
    EXPECT_EQ(plainTicks, 3);
    EXPECT_EQ(elapsedAtTick[2], 38);
    EXPECT_EQ(song.tickSamplesLeft, 878);

    MixBuffer = nullptr;
    OutputRing = nullptr;
    BlockPositions = nullptr;
    CurrentSong = nullptr;
    MixVoices[0].sample = nullptr;
}

TEST_F(StreamTest, PlayResetsTheSongAndPreMixesTheWholeRing)
{
    TestSample tone(std::vector<int16_t>(500, 1000), LoopForward, 0, 500);
    toneSample = &tone.sample;
    song.onStart = RecordStart;
    song.row = 12;
    song.orderPos = 3;
    song.elapsedMs = 999;
    song.tickSamplesLeft = 40;
    song.nextRow = 5;
    MusicChannels[1].volume = 9;
    MusicChannels[5].volume = 9;
    MixVoices[70].sample = &tone.sample;  // left over from an earlier song

    ASSERT_TRUE(ModPlaySong(&song));

    EXPECT_EQ(onStartSawBpm, std::vector<int16_t>{0});  // the hook runs before the tempo is set
    EXPECT_EQ(song.bpm, 50);
    EXPECT_EQ(song.globalVolume, 64);
    EXPECT_EQ(song.speed, 6);
    EXPECT_EQ(song.nextRow, -1);
    EXPECT_EQ(song.nextOrderPos, -1);
    EXPECT_EQ(song.row, 0);
    EXPECT_EQ(song.orderPos, 0);
    EXPECT_EQ(MusicChannels[1].volume, 0);
    EXPECT_EQ(MusicChannels[3].voice, &MixVoices[3]);
    EXPECT_EQ(MusicChannels[5].volume, 9);
    EXPECT_EQ(MixVoices[70].sample, nullptr);
    MusicChannels[5].volume = 0;

    // One tick per block, blocks 0..99 in order, and WriteBlock back at 0.
    ASSERT_EQ(tickCount.load(), 100);
    for (int i = 0; i < 100; i++) {
        ASSERT_EQ(tickLog[i].block, i);
    }
    EXPECT_EQ(WriteBlock, 0);
    EXPECT_EQ(tickLog[1].elapsedMs, 20);  // a whole block of 884 frames adds 20 ms
    EXPECT_EQ(int32_t{BlockPositions[99].elapsedMs}, song.elapsedMs);
    EXPECT_EQ(CurrentSong, &song);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(MixBuffer) % 16, 0u);
    // The whole ring is queued, already holding the tone.
    EXPECT_EQ(fakeAudio.queues, 1);
    EXPECT_EQ(fakeAudio.ring, OutputRing);
    EXPECT_EQ(fakeAudio.ringBytes, 88400u * 4);
    for (int f = 0; f < 88400; f++) {
        ASSERT_EQ(OutputRing[2 * f], 1000) << f;
        ASSERT_EQ(OutputRing[2 * f + 1], 502) << f;
    }

    // With the device still in block 0, nothing more is mixed.
    PlayTo(BlockBytes(1) - 4);
    EXPECT_EQ(tickCount.load(), 100);
    EXPECT_TRUE(ModStopSong(&song));
}

TEST_F(StreamTest, BlocksAreRemixedInRingOrderOnlyAfterTheDeviceHasPlayedThem)
{
    ASSERT_TRUE(ModPlaySong(&song));
    PlayTo(BlockBytes(1) - 4);
    EXPECT_EQ(tickCount.load(), 100);
    PlayTo(BlockBytes(1));
    ASSERT_EQ(tickCount.load(), 101);
    EXPECT_EQ(tickLog[100].block, 0);
    PlayTo(BlockBytes(3) + 100);
    ASSERT_EQ(tickCount.load(), 103);
    PlayTo(BlockBytes(3) + 2000);  // still inside block 3
    ASSERT_EQ(tickCount.load(), 103);
    // Round the end of the ring: blocks 3..99, then 0 and 1.
    PlayTo(BlockBytes(100) + BlockBytes(2) + 8);
    ASSERT_EQ(tickCount.load(), 202);
    PlayTo(BlockBytes(100 * 7 + 51));  // several turns later, in one jump
    int count = tickCount.load();
    ASSERT_EQ(count, 202 + 49);
    EXPECT_TRUE(ModStopSong(&song));

    for (int i = 100; i < count; i++) {
        ASSERT_EQ(tickLog[i].block, (i - 100) % 100) << i;
        ASSERT_NE(tickLog[i].block, PlayingBlock(tickLog[i].played)) << "the block being played was rewritten";
    }
}

TEST_F(StreamTest, APlayedCountPastFourGigabytesChangesNothing)
{
    ASSERT_TRUE(ModPlaySong(&song));
    uint64_t played = (uint64_t{1} << 32) - 4000;
    PlayTo(played);
    int count = tickCount.load();
    int32_t next = PlayingBlock(played);
    ASSERT_EQ(tickLog[count - 1].block, (next + 99) % 100);
    for (int step = 0; step < 6; step++) {
        played += BlockBytes(1);
        PlayTo(played);
        ASSERT_EQ(tickCount.load(), count + 1) << step;
        EXPECT_EQ(tickLog[count].block, next) << step;
        count++;
        next = (next + 1) % 100;
    }
    EXPECT_GT(played, uint64_t{1} << 32);
    EXPECT_TRUE(ModStopSong(&song));
}

TEST_F(StreamTest, AFailedPositionQuerySkipsThePoll)
{
    ASSERT_TRUE(ModPlaySong(&song));
    PlayTo(BlockBytes(5));
    ASSERT_EQ(tickCount.load(), 105);
    fakeAudio.queryFails = true;
    PlayTo(BlockBytes(10));
    EXPECT_EQ(tickCount.load(), 105);
    fakeAudio.queryFails = false;
    PlayTo(BlockBytes(10));
    EXPECT_EQ(tickCount.load(), 110);
    EXPECT_TRUE(ModStopSong(&song));
}

TEST_F(StreamTest, StopBeforeTheThreadStartsEndsItWithoutMixing)
{
    fakeAudio.holdNewThreads = true;
    ASSERT_TRUE(ModPlaySong(&song));
    std::thread release([] {
        while (!StopRequested) {
            std::this_thread::yield();
        }
        fakeAudio.holdNewThreads = false;
    });
    EXPECT_TRUE(ModStopSong(&song));
    release.join();

    EXPECT_EQ(fakeAudio.queries.load(), 0u);
    EXPECT_EQ(tickCount.load(), 100);
    EXPECT_TRUE(StreamThreadDone);
    EXPECT_EQ(fakeAudio.threadsJoined.load(), 1);
    EXPECT_EQ(CurrentSong, nullptr);
    EXPECT_EQ(MixBuffer, nullptr);
    EXPECT_EQ(BlockPositions, nullptr);
    // The device has given the ring back (it plays silence) and the ring is gone.
    EXPECT_EQ(OutputRing, nullptr);
    EXPECT_EQ(fakeAudio.ring, nullptr);
    EXPECT_EQ(fakeAudio.resets, 1);
}

TEST_F(StreamTest, StopTwiceAndNoSong)
{
    EXPECT_FALSE(ModPlaySong(nullptr));
    EXPECT_FALSE(ModStopSong(nullptr));
    ASSERT_TRUE(ModPlaySong(&song));
    PlayTo(BlockBytes(2));
    EXPECT_TRUE(ModStopSong(&song));
    EXPECT_TRUE(ModStopSong(&song));
    EXPECT_EQ(fakeAudio.threadsStarted.load(), 1);
    EXPECT_EQ(fakeAudio.threadsJoined.load(), 1);
    EXPECT_EQ(MixBuffer, nullptr);
    EXPECT_EQ(BlockPositions, nullptr);
}

TEST_F(StreamTest, PlayAfterStopStartsFresh)
{
    ASSERT_TRUE(ModPlaySong(&song));
    PlayTo(BlockBytes(2));
    ASSERT_TRUE(ModStopSong(&song));
    EXPECT_EQ(fakeAudio.ring, nullptr);
    TestSample stale(std::vector<int16_t>(10, 1), LoopNone);
    SetSteadyVoice(MixVoices[3], &stale.sample, 0, 3, 40, 40);
    MixVoices[3].slot = 77;
    tickCount = 0;

    ASSERT_TRUE(ModPlaySong(&song));
    EXPECT_EQ(fakeAudio.resets, 1);
    EXPECT_FALSE(fakeAudio.queuedOverLoop);
    EXPECT_EQ(fakeAudio.queues, 2);
    EXPECT_EQ(fakeAudio.ring, OutputRing);
    EXPECT_EQ(MixVoices[3].sample, nullptr);
    EXPECT_EQ(MixVoices[3].slot, 3);
    EXPECT_EQ(MixVoices[3].speedInt, 1u);
    EXPECT_EQ(tickCount.load(), 100);
    PlayTo(BlockBytes(2));
    ASSERT_EQ(tickCount.load(), 102);
    EXPECT_EQ(tickLog[100].block, 0);
    EXPECT_EQ(tickLog[101].block, 1);
    EXPECT_TRUE(ModStopSong(&song));
}

// A song made as the loader makes it (zero-filled, owning nothing yet), freed while it streams: the thread
// is stopped before the song's memory goes, and freeing after a stop releases nothing twice.
TEST_F(StreamTest, FreeingAPlayingSongStopsTheStreamFirst)
{
    for (bool stopFirst : {false, true}) {
        auto* loaded = static_cast<Song*>(std::calloc(1, sizeof(Song)));
        ASSERT_NE(loaded, nullptr);
        *loaded = song;
        ASSERT_TRUE(ModPlaySong(loaded));
        PlayTo(BlockBytes(3));
        if (stopFirst) {
            ASSERT_TRUE(ModStopSong(loaded));
        }
        EXPECT_TRUE(ModFreeSong(loaded));
        EXPECT_EQ(CurrentSong, nullptr);
        EXPECT_EQ(MixBuffer, nullptr);
        EXPECT_FALSE(BlockInProgress);
    }
    EXPECT_EQ(fakeAudio.threadsJoined.load(), 2);
    EXPECT_FALSE(ModFreeSong(nullptr));
}

TEST_F(StreamTest, AFailedAllocationStartsNothing)
{
    for (int failAt = 1; failAt <= 3; failAt++) {
        allocCalls = 0;
        failingCall = failAt;
        SndAllocZeroed = FailingAlloc;
        tickCount = 0;
        EXPECT_FALSE(ModPlaySong(&song)) << failAt;
        EXPECT_EQ(allocCalls, 3);
        EXPECT_EQ(CurrentSong, nullptr);
        EXPECT_EQ(MixBuffer, nullptr);
        EXPECT_EQ(BlockPositions, nullptr);
        EXPECT_EQ(OutputRing, nullptr);
        EXPECT_EQ(fakeAudio.queues, 0);
        EXPECT_EQ(fakeAudio.threadsStarted.load(), 0);
        EXPECT_EQ(tickCount.load(), 0);
    }
    SndAllocZeroed = SndSystemAllocZeroed;
    EXPECT_TRUE(ModPlaySong(&song));
    EXPECT_TRUE(ModStopSong(&song));
}

// A stopped song is silent at once: the stop takes the ring back from the device before it goes. Closing
// afterwards resets and closes the device without releasing anything twice.
TEST_F(StreamTest, StopTakesTheRingBackFromTheDevice)
{
    ASSERT_TRUE(ModPlaySong(&song));
    PlayTo(BlockBytes(3));
    ASSERT_NE(fakeAudio.ring, nullptr);
    ASSERT_TRUE(ModStopSong(&song));
    EXPECT_EQ(OutputRing, nullptr);
    EXPECT_EQ(fakeAudio.ring, nullptr);
    EXPECT_EQ(fakeAudio.resets, 1);
    EXPECT_FALSE(FakeAudioPlay(BlockBytes(1)));
    SndClose();
    EXPECT_EQ(OutputRing, nullptr);
    EXPECT_EQ(fakeAudio.closes, 1);
    EXPECT_FALSE(fakeAudio.open);
    SndClose();  // closing again is harmless
    EXPECT_EQ(fakeAudio.closes, 1);

    // Closed while a song still plays: the thread is ended before the ring goes.
    ASSERT_TRUE(SndInit(44100));
    ASSERT_TRUE(ModPlaySong(&song));
    SndClose();
    EXPECT_EQ(fakeAudio.threadsJoined.load(), 2);
    EXPECT_EQ(CurrentSong, nullptr);
    EXPECT_EQ(OutputRing, nullptr);
}

// A render shares the voices, the tracks and the timing values with the stream: it does not start while the
// output is open, whether a song streams on it or not.
TEST_F(StreamTest, RenderIsRefusedWhileTheOutputIsOpenOrASongStreams)
{
    Song other = song;
    const Timing opened = CurrentTiming();
    std::vector<int16_t> block(2 * 1024);

    EXPECT_FALSE(SndRenderStart(&other, 22050));
    EXPECT_EQ(CurrentTiming(), opened);
    EXPECT_EQ(SndRenderBlock(block.data()), 0);

    ASSERT_TRUE(ModPlaySong(&song));
    EXPECT_FALSE(SndRenderStart(&other, 22050));
    EXPECT_EQ(CurrentTiming(), opened);
    EXPECT_EQ(SndRenderBlock(block.data()), 0);
    // The stream goes on as before: the next block is mixed once the device has played the first.
    PlayTo(BlockBytes(1));
    EXPECT_EQ(tickCount.load(), 101);
    EXPECT_EQ(tickLog[100].block, 0);

    // Stopped, the device still loops the ring at its rate.
    ASSERT_TRUE(ModStopSong(&song));
    EXPECT_FALSE(SndRenderStart(&other, 22050));
    EXPECT_EQ(CurrentTiming(), opened);

    SndClose();
    EXPECT_TRUE(SndRenderStart(&other, 22050));
    SndRenderStop();
}

// While a render runs, neither a play nor the opening of the output starts, and nothing changes; the end of
// the render puts back the timing values, the voices and the tracks as they were before it.
TEST_F(StreamTest, PlayAndOpenAreRefusedWhileARenderRunsAndItsStopPutsBackWhatItChanged)
{
    SndClose();
    const Timing closed = CurrentTiming();
    const std::vector<uint8_t> tablesBefore = VoicesAndTracks();
    const int opens = fakeAudio.opens;

    ASSERT_TRUE(SndRenderStart(&song, 22050));
    const Timing rendering = CurrentTiming();
    EXPECT_EQ(rendering.blockFrames, 444);
    const std::vector<uint8_t> tablesRendering = VoicesAndTracks();

    EXPECT_FALSE(ModPlaySong(&song));
    EXPECT_FALSE(SndInit(44100));
    EXPECT_EQ(CurrentSong, nullptr);
    EXPECT_EQ(OutputRing, nullptr);
    EXPECT_EQ(fakeAudio.opens, opens);
    EXPECT_FALSE(fakeAudio.open);
    EXPECT_EQ(fakeAudio.queues, 0);
    EXPECT_EQ(fakeAudio.threadsStarted.load(), 0);
    EXPECT_EQ(tickCount.load(), 0) << "a refused play pre-mixed the ring";
    EXPECT_EQ(CurrentTiming(), rendering);
    EXPECT_TRUE(VoicesAndTracks() == tablesRendering);

    // The render goes on undisturbed.
    std::vector<int16_t> block(2 * 444);
    EXPECT_EQ(SndRenderBlock(block.data()), 444);
    EXPECT_EQ(tickCount.load(), 1);

    SndRenderStop();
    EXPECT_EQ(CurrentTiming(), closed);
    EXPECT_TRUE(VoicesAndTracks() == tablesBefore);

    ASSERT_TRUE(SndInit(44100));
    ASSERT_TRUE(ModPlaySong(&song));
    EXPECT_EQ(tickCount.load(), 101);
    EXPECT_TRUE(ModStopSong(&song));
}

// After 2^31 ms of play (24.9 days) the song's clock wraps to negative values as a 32-bit count does; it
// never overflows.
TEST_F(StreamTest, TheSongClockWrapsAfterTwoToTheThirtyOneMilliseconds)
{
    ASSERT_TRUE(ModPlaySong(&song));
    // The streaming thread mixes nothing before the device moves on, so the song is the test's here.
    song.elapsedMs = INT32_MAX - 5;
    PlayTo(BlockBytes(1));
    ASSERT_EQ(WriteBlock, 1);
    // One tick of a whole block, 884 frames: 20 ms.
    EXPECT_EQ(song.elapsedMs, INT32_MIN + 14);
    EXPECT_EQ(int32_t{BlockPositions[0].elapsedMs}, INT32_MIN + 14);
    EXPECT_TRUE(ModStopSong(&song));
}

TEST_F(StreamTest, AThousandPlayStopCycles)
{
    for (int i = 0; i < 1000; i++) {
        ASSERT_TRUE(ModPlaySong(&song));
        if (i % 3 == 1) {
            fakeAudio.playedBytes = BlockBytes(i % 100);
        } else if (i % 3 == 2) {
            PlayTo(BlockBytes(1 + i % 99));
        }
        ASSERT_TRUE(ModStopSong(&song));
    }
    EXPECT_EQ(fakeAudio.threadsStarted.load(), 1000);
    EXPECT_EQ(fakeAudio.threadsJoined.load(), 1000);
    EXPECT_TRUE(StreamThreadDone);
    EXPECT_FALSE(BlockInProgress);
    EXPECT_EQ(fakeAudio.resets, 1000);
    EXPECT_FALSE(fakeAudio.queuedOverLoop);
}

// A play that cannot be heard says so: on a device never opened or closed since, on a device that refuses
// the ring, and when the streaming cannot start. Nothing is left playing or allocated, and the device loops
// no ring.
TEST_F(StreamTest, APlayThatCannotBeHeardFails)
{
    SndClose();
    EXPECT_FALSE(ModPlaySong(&song));
    EXPECT_EQ(fakeAudio.queues, 0);
    EXPECT_EQ(OutputRing, nullptr);

    ASSERT_TRUE(SndInit(44100));
    fakeAudio.queueFails = true;
    EXPECT_FALSE(ModPlaySong(&song));
    EXPECT_EQ(fakeAudio.threadsStarted.load(), 0);
    fakeAudio.queueFails = false;

    fakeAudio.threadStartFails = true;
    EXPECT_FALSE(ModPlaySong(&song));
    EXPECT_EQ(fakeAudio.threadsStarted.load(), 0);
    EXPECT_EQ(fakeAudio.ring, nullptr);
    fakeAudio.threadStartFails = false;

    EXPECT_EQ(CurrentSong, nullptr);
    EXPECT_EQ(OutputRing, nullptr);
    EXPECT_EQ(MixBuffer, nullptr);
    EXPECT_EQ(BlockPositions, nullptr);
    EXPECT_TRUE(StreamThreadDone);
    EXPECT_TRUE(ModPlaySong(&song));
    EXPECT_TRUE(ModStopSong(&song));
}

// Every block mixed again is announced to the device with its place in the ring, so that a device that can
// tell new contents from old plays each block once.
TEST_F(StreamTest, EachMixedBlockIsAnnouncedToTheDevice)
{
    ASSERT_TRUE(ModPlaySong(&song));
    EXPECT_EQ(fakeAudio.writtenBlocks.load(), 0u);  // the pre-mix goes with the queued ring
    PlayTo(BlockBytes(3));
    EXPECT_EQ(fakeAudio.writtenBlocks.load(), 3u);
    EXPECT_EQ(fakeAudio.lastWrittenOffset.load(), BlockBytes(2));
    EXPECT_EQ(fakeAudio.lastWrittenBytes.load(), BlockBytes(1));
    PlayTo(BlockBytes(RingBlocks + 1));
    EXPECT_EQ(fakeAudio.writtenBlocks.load(), static_cast<uint64_t>(RingBlocks + 1));
    EXPECT_EQ(fakeAudio.lastWrittenOffset.load(), 0u);
    EXPECT_TRUE(ModStopSong(&song));
}

}  // namespace
