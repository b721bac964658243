// The song's first pass: the measurement that only runs the song's ticks gives the very frame at which a
// watched render stops, for wraps, jumps, tempo changes, pattern delays and loops, at two rates; an end past
// the ceiling or behind too many ticks is unknown; and the measurement runs while the output is open with
// nothing streaming, leaving it as it was, but not while a song streams or a render runs.
#include "tests/support/song_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Where a render of the song stops: the watch followed while every block is mixed, as xmrender does.
int64_t RenderedEnd(const XmModule& module, int32_t rate, int64_t ceilingFrames)
{
    Song* song = LoadModule(module);
    if (song == nullptr) {
        return -2;
    }
    SndWatchFirstPass(song);
    if (!SndRenderStart(song, rate)) {
        ModFreeSong(song);
        return -2;
    }
    std::vector<int16_t> block(2 * static_cast<size_t>(BlockFrames));
    int64_t mixed = 0;
    while (SndFirstPassFrames() < 0 && mixed < ceilingFrames) {
        mixed += SndRenderBlock(block.data());
    }
    SndRenderStop();
    ModFreeSong(song);
    return SndFirstPassFrames() < ceilingFrames ? SndFirstPassFrames() : -1;
}

// The measurement of a freshly loaded copy, and the order position the song came back to.
int64_t MeasuredEnd(const XmModule& module, int32_t rate, int64_t ceilingFrames, int32_t* loopOrderPos = nullptr)
{
    Song* song = LoadModule(module);
    if (song == nullptr) {
        return -2;
    }
    int64_t end = SndMeasureFirstPass(song, rate, ceilingFrames);
    if (end >= 0 && loopOrderPos != nullptr) {
        *loopOrderPos = SndFirstPassOrder();
    }
    ModFreeSong(song);
    return end;
}

TEST(FirstPass, MeasuringWithoutMixingFindsTheFrameARenderStopsAt)
{
    struct Case {
        const char* name;
        XmModule module;
    };
    std::vector<Case> cases;
    XmModule plain = TraceModule(2, {4, 4}, 6);
    XmSetCell(&plain.patterns[0], 2, 0, 0, Cell(NoteC4, 1));
    cases.push_back({"wrap to the restart position", plain});

    XmModule jump = TraceModule(2, {4, 4, 4}, 6);
    XmSetCell(&jump.patterns[2], 2, 1, 0, Cell(0, 0, 0, 0x0B, 0x01));  // B01: back to order 1
    jump.restartPosition = 2;
    cases.push_back({"position jump", jump});

    XmModule tempo = TraceModule(2, {8, 8}, 5);
    XmSetCell(&tempo.patterns[0], 2, 2, 1, Cell(0, 0, 0, 0x0F, 0x51));  // F51: 81 BPM
    XmSetCell(&tempo.patterns[0], 2, 3, 1, Cell(0, 0, 0, 0x0F, 0x03));  // F03: speed 3
    XmSetCell(&tempo.patterns[1], 2, 5, 0, Cell(0, 0, 0, 0x0E, 0xE3));  // EE3: pattern delay
    cases.push_back({"tempo, speed and pattern delay", tempo});

    XmModule loops = TraceModule(1, {8, 4}, 2);
    XmSetCell(&loops.patterns[0], 1, 1, 0, Cell(0, 0, 0, 0x0E, 0x60));  // E60: loop start
    XmSetCell(&loops.patterns[0], 1, 4, 0, Cell(0, 0, 0, 0x0E, 0x62));  // E62: twice more
    XmSetCell(&loops.patterns[1], 1, 2, 0, Cell(0, 0, 0, 0x0D, 0x00));  // D00 on the last order
    cases.push_back({"pattern loop and break", loops});

    XmModule repeated = TraceModule(1, {4}, 6);
    repeated.orders = {0, 0, 0};
    cases.push_back({"one pattern three times", repeated});

    for (int32_t rate : {44100, 22050}) {
        for (const Case& c : cases) {
            int64_t rendered = RenderedEnd(c.module, rate, int64_t{600} * rate);
            ASSERT_GT(rendered, 0) << c.name;
            EXPECT_EQ(MeasuredEnd(c.module, rate, int64_t{600} * rate), rendered) << c.name << " at " << rate;
        }
    }
    // Two patterns of 4 rows, 6 ticks of 882 frames: the wrap to order 0 comes after 8 rows.
    int32_t loopOrder = -1;
    EXPECT_EQ(MeasuredEnd(plain, 44100, 44100 * 60, &loopOrder), 8 * 6 * 882);
    EXPECT_EQ(loopOrder, 0);
    jump.restartPosition = 0;
    EXPECT_EQ(MeasuredEnd(jump, 44100, 44100 * 60, &loopOrder), (4 + 4 + 2) * 6 * 882);
    EXPECT_EQ(loopOrder, 1);
}

TEST(FirstPass, AnEndBeyondTheCeilingOrAnEndlessTempoIsUnknown)
{
    XmModule module = TraceModule(1, {64}, 31);
    module.defaultBpm = 32;  // 64 rows x 31 ticks x 3445 frames: about 155 s
    EXPECT_EQ(MeasuredEnd(module, 44100, 44100 * 100), -1);
    EXPECT_EQ(MeasuredEnd(module, 44100, 44100 * 200), 64 * 31 * 3445);
    // An end exactly at the ceiling still counts.
    EXPECT_EQ(MeasuredEnd(module, 44100, 64 * 31 * 3445), 64 * 31 * 3445);
    EXPECT_EQ(MeasuredEnd(module, 44100, 64 * 31 * 3445 - 1), -1);
    // At the fastest tempo the file can hold a tick lasts 3 frames, and with a long pattern delay on every
    // row of 256 orders the song lasts 32 million ticks (37 minutes): too many to run, so the measurement
    // gives up rather than keep the listener waiting.
    XmModule fast = TraceModule(1, {256}, 31);
    for (int row = 0; row < 256; row++) {
        XmSetCell(&fast.patterns[0], 1, row, 0, Cell(0, 0, 0, 0x0E, 0xEF));
    }
    fast.orders.assign(256, 0);
    fast.defaultBpm = 32767;
    EXPECT_EQ(MeasuredEnd(fast, 44100, int64_t{44100} * 3600), -1);
}

// The timing values, the voices and the tracks byte for byte, as a measurement must leave them.
std::vector<uint8_t> OutputState()
{
    std::vector<uint8_t> bytes;
    auto add = [&bytes](const void* data, size_t size) {
        const auto* at = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), at, at + size);
    };
    add(&OutputRate, sizeof OutputRate);
    add(&SecondsPerFrame, sizeof SecondsPerFrame);
    add(&BlockFrames, sizeof BlockFrames);
    add(&RingFrames, sizeof RingFrames);
    add(&RingBlocks, sizeof RingBlocks);
    add(&RampFrames, sizeof RampFrames);
    add(&RampFramesReciprocal, sizeof RampFramesReciprocal);
    add(MixVoices, sizeof MixVoices);
    add(MusicChannels, sizeof MusicChannels);
    return bytes;
}

// xmplay measures each file with its output open between two songs: the measurement runs at its own rate and
// puts back the timing values the device was opened with, the voices and the tracks.
TEST(FirstPass, MeasuringWithTheOutputOpenAndNothingStreamingLeavesTheOutputAsItWas)
{
    XmModule module = TraceModule(2, {4, 4}, 6);
    XmSetCell(&module.patterns[0], 2, 0, 0, Cell(NoteC4, 1));
    int64_t rendered = RenderedEnd(module, 22050, int64_t{600} * 22050);
    ASSERT_GT(rendered, 0);

    FakeAudioReset();
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    ASSERT_TRUE(SndInit(44100));
    const std::vector<uint8_t> before = OutputState();
    EXPECT_EQ(MeasuredEnd(module, 22050, int64_t{600} * 22050), rendered);
    EXPECT_TRUE(OutputState() == before) << "the measurement left the output changed";

    // A song plays on it afterwards as on a fresh output, and its ticks are the player's own again.
    Song* song = LoadModule(module);
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(SndMeasureFirstPass(song, 44100, int64_t{600} * 44100), 8 * 6 * 882);
    EXPECT_EQ(song->onTick, ModUpdateTick);
    fakeAudio.holdNewThreads = true;
    EXPECT_TRUE(ModPlaySong(song));
    StopStreamedSong(song);
}

// A streaming song owns the voices and the tracks, a render the timing values too: the measurement is
// refused then and touches nothing, not even the song's tick.
TEST(FirstPass, RefusedWhileASongStreamsOrARenderRuns)
{
    XmModule module = TraceModule(2, {4, 4}, 6);
    XmSetCell(&module.patterns[0], 2, 0, 0, Cell(NoteC4, 1));
    Song* playing = LoadModule(module);
    Song* measured = LoadModule(module);
    ASSERT_NE(playing, nullptr);
    ASSERT_NE(measured, nullptr);
    // A tick of its own that a refused measurement must leave in place.
    measured->onTick = nullptr;

    ASSERT_TRUE(StartStreamedSong(playing));
    std::vector<uint8_t> before = OutputState();
    EXPECT_EQ(SndMeasureFirstPass(measured, 44100, int64_t{600} * 44100), -1);
    EXPECT_TRUE(OutputState() == before) << "a refused measurement changed the stream's output";
    EXPECT_EQ(measured->onTick, nullptr);
    StopStreamedSong(playing);

    ASSERT_TRUE(SndRenderStart(measured, 22050));
    before = OutputState();
    Song* other = LoadModule(module);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(SndMeasureFirstPass(other, 44100, int64_t{600} * 44100), -1);
    EXPECT_TRUE(OutputState() == before) << "a refused measurement changed the render's output";
    SndRenderStop();
    EXPECT_EQ(SndMeasureFirstPass(other, 44100, int64_t{600} * 44100), 8 * 6 * 882);
    ModFreeSong(other);
    ModFreeSong(measured);

    // Nor for no song or a rate the output cannot run at.
    EXPECT_EQ(SndMeasureFirstPass(nullptr, 44100, 44100), -1);
    Song* song = LoadModule(module);
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(SndMeasureFirstPass(song, MinOutputRate - 1, int64_t{600} * 44100), -1);
    EXPECT_EQ(SndMeasureFirstPass(song, MaxOutputRate + 1, int64_t{600} * 44100), -1);
    ModFreeSong(song);
}

}  // namespace
