// The XM loader on small modules made by the writer: header, pattern unpacking, instruments, sample decoding,
// loops and guard frames, the sample load hook, and releasing the song.
#include "xm_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

// The first `count` frames of a loaded sample.
std::vector<int> Frames(const Sample* sample, int count)
{
    std::vector<int> frames;
    for (int k = 0; k < count; ++k)
        frames.push_back(sample->data[k]);
    return frames;
}

TEST(XmLoader, SignatureMustMatchByteForByte)
{
    std::vector<uint8_t> bytes = XmWriteModule(MinimalModule());
    Song* song = LoadSongBytes(bytes);
    ASSERT_NE(song, nullptr);
    EXPECT_TRUE(ModFreeSong(song));

    std::vector<uint8_t> lowerCase = bytes;
    lowerCase[9] = 'm';  // "Extended module: "
    EXPECT_EQ(LoadSongBytes(lowerCase), nullptr);

    EXPECT_EQ(LoadSongBytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 16)), nullptr);
    EXPECT_EQ(LoadSongBytes({}), nullptr);
    EXPECT_FALSE(ModFreeSong(nullptr));
}

TEST(XmLoader, HeaderFieldsAndLoadState)
{
    XmModule module = MinimalModule();
    module.channelCount = 6;
    module.patterns = {XmMakePattern(16, 6), XmMakePattern(32, 6)};
    module.orders = {1, 0, 1};
    module.restartPosition = 2;
    module.flags = 1;
    module.defaultSpeed = 3;
    module.defaultBpm = 140;
    Song* song = LoadModule(module);
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(song->orderCount, 3);
    EXPECT_EQ(song->restartPosition, 2);
    EXPECT_EQ(song->channelCount, 6);
    EXPECT_EQ(song->flags, 1);
    EXPECT_EQ(song->defaultSpeed, 3);
    EXPECT_EQ(song->defaultBpm, 140);
    EXPECT_EQ(song->orders[0], 1);
    EXPECT_EQ(song->orders[2], 1);
    EXPECT_EQ(song->usedPatternCount, 2);
    EXPECT_EQ(song->patternSlotCount, 2);
    EXPECT_EQ(song->patterns[0].rowCount, 16);
    EXPECT_EQ(song->patterns[1].rowCount, 32);
    EXPECT_EQ(song->instrumentCount, 0);
    EXPECT_EQ(song->initialGlobalVolume, 64);
    EXPECT_EQ(song->onTick, &ModUpdateTick);
    EXPECT_EQ(song->onStart, nullptr);
    EXPECT_EQ(song->onSampleLoad, nullptr);
    // Loading sets no playback state.
    EXPECT_EQ(song->globalVolume, 0);
    EXPECT_EQ(song->samplesPerTick, 0);
    EXPECT_EQ(song->nextRow, 0);
    ModFreeSong(song);
}

TEST(XmLoader, UnpacksMaskedAndFullCells)
{
    XmModule module = MinimalModule();
    module.channelCount = 7;
    XmPattern pattern = XmMakePattern(1, 7);
    pattern.rawPackedData = std::vector<uint8_t>{
        0x80,                    // empty cell
        0x81, 97,                // key off
        0x98, 0x0F, 0x06,        // effect 15, parameter 6 only
        0x00, 0x01, 0x02, 0x03, 0x04,  // full form starting with note 0: still takes four more bytes
        0x82, 128,               // instrument 128 stays
        0x82, 129,               // instrument 129 becomes 0
        0x31, 0x05, 0x10, 0x0A, 0x0B,  // full form: note 49, instrument 5, volume 0x10, effect 10, param 11
    };
    module.patterns = {pattern};
    Song* song = LoadModule(module);
    ASSERT_NE(song, nullptr);
    const NoteCell* cells = song->patterns[0].cells;
    auto same = [](const NoteCell& c, int n, int i, int v, int e, int p) {
        return c.note == n && c.instrument == i && c.volume == v && c.effect == e && c.param == p;
    };
    EXPECT_TRUE(same(cells[0], 0, 0, 0, 0, 0));
    EXPECT_TRUE(same(cells[1], 255, 0, 0, 0, 0));
    EXPECT_TRUE(same(cells[2], 0, 0, 0, 15, 6));
    EXPECT_TRUE(same(cells[3], 0, 1, 2, 3, 4));
    EXPECT_TRUE(same(cells[4], 0, 128, 0, 0, 0));
    EXPECT_TRUE(same(cells[5], 0, 0, 0, 0, 0));
    EXPECT_TRUE(same(cells[6], 49, 5, 0x10, 10, 11));
    ModFreeSong(song);
}

TEST(XmLoader, PackedSizeZeroMeansEmptyCellsAndNoData)
{
    XmModule module = MinimalModule();
    module.channelCount = 2;
    XmPattern empty = XmMakePattern(32, 2);  // all empty: the writer stores packed size 0 and no data
    XmPattern next = XmMakePattern(2, 2);
    XmSetCell(&next, 2, 1, 1, XmCell{12, 1, 0x40, 0, 0});
    module.patterns = {empty, next};
    module.orders = {0, 1};
    XmLayout layout;
    std::vector<uint8_t> bytes = XmWriteModule(module, &layout);
    ASSERT_EQ(layout.patternOffsets[1], layout.patternOffsets[0] + 9);
    Song* song = LoadSongBytes(bytes);
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(song->patterns[0].rowCount, 32);
    for (int k = 0; k < 64; ++k)
        EXPECT_EQ(song->patterns[0].cells[k].note, 0);
    EXPECT_EQ(song->patterns[1].cells[3].note, 12);
    EXPECT_EQ(song->patterns[1].cells[3].volume, 0x40);
    ModFreeSong(song);
}

TEST(XmLoader, OrdersNamingMissingPatternsGetEmptyOnes)
{
    XmModule module = MinimalModule();
    module.patterns = {XmMakePattern(8, 4), XmMakePattern(8, 4), XmMakePattern(8, 4)};
    module.orders = {0, 5, 2};
    Song* song = LoadModule(module);
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(song->usedPatternCount, 6);
    EXPECT_EQ(song->patternSlotCount, 6);
    for (int p = 3; p < 6; ++p) {
        EXPECT_EQ(song->patterns[p].rowCount, 64);
        ASSERT_NE(song->patterns[p].cells, nullptr);
        for (int k = 0; k < 64 * 4; ++k)
            ASSERT_EQ(std::memcmp(&song->patterns[p].cells[k], "\0\0\0\0\0", 5), 0);
    }
    ModFreeSong(song);

    // A file pattern above every played order is loaded all the same.
    module.orders = {0};
    song = LoadModule(module);
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(song->usedPatternCount, 1);
    EXPECT_EQ(song->patternSlotCount, 3);
    EXPECT_EQ(song->patterns[2].rowCount, 8);
    ModFreeSong(song);
}

TEST(XmLoader, PacksAndUnpacksEveryCellForm)
{
    // Random cells of every density go through the writer's packing and come back unchanged (the key-off
    // note 97 as 255, instruments above 128 as 0).
    XmModule module = MinimalModule();
    module.channelCount = 5;
    std::mt19937 random(12345);
    module.patterns.clear();
    for (int p = 0; p < 3; ++p) {
        XmPattern pattern = XmMakePattern(static_cast<uint16_t>(40 + p * 50), 5);
        for (XmCell& cell : pattern.cells) {
            uint8_t fields[5];
            for (uint8_t& f : fields)
                f = (random() % 3 == 0) ? 0 : static_cast<uint8_t>(random() % 256);
            fields[0] = static_cast<uint8_t>(fields[0] % 98);
            cell = XmCell{fields[0], fields[1], fields[2], fields[3], fields[4]};
        }
        module.patterns.push_back(pattern);
    }
    module.orders = {0, 1, 2};
    Song* song = LoadModule(module);
    ASSERT_NE(song, nullptr);
    for (int p = 0; p < 3; ++p) {
        const XmPattern& written = module.patterns[p];
        ASSERT_EQ(song->patterns[p].rowCount, written.rowCount);
        for (size_t k = 0; k < written.cells.size(); ++k) {
            const XmCell& w = written.cells[k];
            const NoteCell& r = song->patterns[p].cells[k];
            ASSERT_EQ(r.note, w.note == 97 ? 255 : w.note) << p << "/" << k;
            ASSERT_EQ(r.instrument, w.instrument > 128 ? 0 : w.instrument);
            ASSERT_EQ(r.volume, w.volume);
            ASSERT_EQ(r.effect, w.effect);
            ASSERT_EQ(r.param, w.param);
        }
    }
    ModFreeSong(song);
}

TEST(XmLoader, InstrumentFieldsEnvelopesAndFadeout)
{
    XmModule module = MinimalModule();
    XmInstrument bell = InstrumentWith({PcmSample8({1, 2}), PcmSample8({3})});
    for (int n = 0; n < 96; ++n)
        bell.sampleMap[n] = n < 48 ? 0 : 1;
    bell.volumeEnvelope.points = {{0, 64}, {10, 32}, {30, 0}};
    bell.volumeEnvelope.sustain = 1;
    bell.volumeEnvelope.loopStart = 0;
    bell.volumeEnvelope.loopEnd = 1;
    bell.volumeEnvelope.flags = XmEnvelopeOn | XmEnvelopeSustain | XmEnvelopeLoop;
    bell.panningEnvelope.points = {{0, 32}};  // one point: the envelope is off
    bell.panningEnvelope.flags = XmEnvelopeOn;
    bell.vibratoType = 2;
    bell.vibratoSweep = 20;
    bell.vibratoDepth = 5;
    bell.vibratoRate = 9;
    bell.fadeout = 256;
    bell.samples[0].volume = 48;
    bell.samples[0].finetune = -16;
    bell.samples[0].panning = 200;
    bell.samples[0].relativeNote = -12;
    XmInstrument big = InstrumentWith({PcmSample8({0})});
    big.fadeout = 40000;  // doubled and kept to 16 bits
    module.instruments = {bell, big};
    Song* song = LoadModule(module);
    ASSERT_NE(song, nullptr);
    ASSERT_EQ(song->instrumentCount, 2);
    const Instrument& i0 = song->instruments[0];
    EXPECT_EQ(i0.sampleCount, 2);
    EXPECT_EQ(i0.sampleMap[47], 0);
    EXPECT_EQ(i0.sampleMap[48], 1);
    EXPECT_EQ(i0.volumePointCount, 3);
    EXPECT_EQ(i0.volumeEnvelope[1].tick, 10);
    EXPECT_EQ(i0.volumeEnvelope[1].value, 32);
    EXPECT_EQ(i0.volumeSustain, 1);
    EXPECT_EQ(i0.volumeLoopEnd, 1);
    EXPECT_EQ(i0.volumeEnvelopeFlags, 7);
    EXPECT_EQ(i0.panningPointCount, 1);
    EXPECT_EQ(i0.panningEnvelopeFlags, 0);
    EXPECT_EQ(i0.vibratoType, 2);
    EXPECT_EQ(i0.vibratoSweep, 20);
    EXPECT_EQ(i0.vibratoDepth, 5);
    EXPECT_EQ(i0.vibratoRate, 9);
    EXPECT_EQ(i0.fadeout, 512);
    EXPECT_EQ(song->instruments[1].fadeout, 80000 & 0xFFFF);
    const Sample* s0 = i0.samples[0];
    EXPECT_EQ(s0->volume, 48);
    EXPECT_EQ(s0->finetune, -16);
    EXPECT_EQ(s0->panning, 200);
    EXPECT_EQ(s0->relativeNote, -12);
    EXPECT_EQ(s0->bits, 16);
    for (int j = 2; j < 16; ++j)
        EXPECT_EQ(i0.samples[j], &EmptySample);
    ModFreeSong(song);
}

TEST(XmLoader, InstrumentWithoutSamplesIsSkippedByItsSize)
{
    XmModule module = MinimalModule();
    XmInstrument empty;
    empty.rawHeaderSize = 120;  // 91 bytes of padding after the 29 that are read
    XmInstrument next = InstrumentWith({PcmSample8({5, 6, 7})});
    module.instruments = {empty, next};
    XmLayout layout;
    std::vector<uint8_t> bytes = XmWriteModule(module, &layout);
    // Fill the empty instrument's padding with bytes that would read as a 17-sample instrument.
    std::fill(bytes.begin() + long(layout.instrumentOffsets[0] + 29), bytes.begin() + long(layout.instrumentOffsets[1]),
              0x11);
    Song* song = LoadSongBytes(bytes);
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(song->instruments[0].sampleCount, 0);
    for (int j = 0; j < 16; ++j)
        EXPECT_EQ(song->instruments[0].samples[j], &EmptySample);
    ASSERT_EQ(song->instruments[1].sampleCount, 1);
    EXPECT_EQ(Frames(song->instruments[1].samples[0], 3), (std::vector<int>{5 * 256, 6 * 256, 7 * 256}));
    ModFreeSong(song);
}

TEST(XmLoader, EightBitDeltaDataBecomesHighBytes)
{
    XmModule module = MinimalModule();
    XmSample ones = PcmSample8({});
    ones.rawLength = 3;
    ones.rawData = std::vector<uint8_t>{1, 1, 1};
    XmSample wrap = PcmSample8({});
    wrap.rawLength = 2;
    wrap.rawData = std::vector<uint8_t>{127, 1};
    module.instruments = {InstrumentWith({ones, wrap})};
    Song* song = LoadModule(module);
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(Frames(song->instruments[0].samples[0], 3), (std::vector<int>{256, 512, 768}));
    EXPECT_EQ(Frames(song->instruments[0].samples[1], 2), (std::vector<int>{32512, -32768}));
    ModFreeSong(song);
}

TEST(XmLoader, SixteenBitDeltaDataAndHalvedLoops)
{
    XmModule module = MinimalModule();
    XmSample even = PcmSample16({});
    even.rawLength = 10;
    even.rawLoopStart = 4;
    even.rawLoopLength = 5;  // 2.5 frames: rounds down to 2
    even.rawType = 0x11;
    // Deltas 1000, 1000, -3000, 32767, 2 (wrapping): frames 1000, 2000, -1000, 31767, 31769.
    even.rawData = std::vector<uint8_t>{0xE8, 0x03, 0xE8, 0x03, 0x48, 0xF4, 0xFF, 0x7F, 0x02, 0x00};
    module.instruments = {InstrumentWith({even})};
    Song* song = LoadModule(module);
    ASSERT_NE(song, nullptr);
    const Sample* s = song->instruments[0].samples[0];
    EXPECT_EQ(s->length, 5u);
    EXPECT_EQ(s->loopStart, 2u);
    EXPECT_EQ(s->loopLength, 2u);
    EXPECT_EQ(s->loopMode, LoopForward);
    // Frame 4 is the guard frame of the loop 2..3: a copy of frame 2.
    EXPECT_EQ(Frames(s, 5), (std::vector<int>{1000, 2000, -1000, 31767, -1000}));
    ModFreeSong(song);
}

TEST(XmLoader, OddSixteenBitByteCountSkipsItsLastByte)
{
    // 11 stored bytes: 5 frames, and the next sample still starts at its own first byte.
    XmModule module = MinimalModule();
    XmSample odd = PcmSample16({});
    odd.rawLength = 11;
    odd.rawData = std::vector<uint8_t>{1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 0x7F};
    XmSample after = PcmSample8({10, 20, 30});
    XmInstrument second = InstrumentWith({PcmSample16({-5, 5})});
    module.instruments = {InstrumentWith({odd, after}), second};
    Song* song = LoadModule(module);
    ASSERT_NE(song, nullptr);
    const Sample* s = song->instruments[0].samples[0];
    EXPECT_EQ(s->length, 5u);
    EXPECT_EQ(s->loopLength, 5u);
    EXPECT_EQ(Frames(s, 6), (std::vector<int>{1, 2, 3, 4, 5, 0})) << "the odd byte is no frame";
    EXPECT_EQ(Frames(song->instruments[0].samples[1], 3), (std::vector<int>{2560, 5120, 7680}));
    EXPECT_EQ(Frames(song->instruments[1].samples[0], 2), (std::vector<int>{-5, 5}));
    ModFreeSong(song);
}

TEST(XmLoader, LoopKindsFromTheTypeByte)
{
    XmModule module = MinimalModule();
    XmSample zeroLoop = PcmSample8(Ramp(20, 1));
    zeroLoop.rawType = 0x01;
    zeroLoop.rawLoopStart = 5;
    zeroLoop.rawLoopLength = 0;
    XmSample both = PcmSample8(Ramp(20, 1));
    both.rawType = 0x03;  // forward and ping-pong bits: ping-pong
    both.rawLoopStart = 4;
    both.rawLoopLength = 10;
    XmSample none = PcmSample8(Ramp(20, 1));
    none.rawType = 0x00;
    none.rawLoopStart = 4;  // ignored without a loop
    none.rawLoopLength = 10;
    module.instruments = {InstrumentWith({zeroLoop, both, none})};
    Song* song = LoadModule(module);
    ASSERT_NE(song, nullptr);
    Sample* const* s = song->instruments[0].samples;
    EXPECT_EQ(s[0]->loopMode, LoopNone);
    EXPECT_EQ(s[0]->loopStart, 0u);
    EXPECT_EQ(s[0]->loopLength, 20u);
    EXPECT_EQ(s[1]->loopMode, LoopPingPong);
    EXPECT_EQ(s[1]->loopStart, 4u);
    EXPECT_EQ(s[1]->loopLength, 10u);
    EXPECT_EQ(s[2]->loopMode, LoopNone);
    EXPECT_EQ(s[2]->loopStart, 0u);
    EXPECT_EQ(s[2]->loopLength, 20u);
    ModFreeSong(song);
}

TEST(XmLoader, GuardFramesAroundEachLoopKind)
{
    XmModule module = MinimalModule();
    XmSample forward = PcmSample16(Ramp(200, 10, 5));
    forward.loop = XmLoop::Forward;
    forward.loopStart = 100;
    forward.loopLength = 50;
    XmSample pingPong = PcmSample16(Ramp(40, -7, 3));
    pingPong.loop = XmLoop::PingPong;
    pingPong.loopStart = 0;
    pingPong.loopLength = 40;
    XmSample none = PcmSample8(Ramp(30, 3, -40));
    module.instruments = {InstrumentWith({forward, pingPong, none})};
    Song* song = LoadModule(module);
    ASSERT_NE(song, nullptr);
    Sample* const* s = song->instruments[0].samples;

    EXPECT_EQ(s[0]->data[149], 5 + 149 * 10);
    EXPECT_EQ(s[0]->data[150], s[0]->data[100]) << "a loop inside the sample overwrites the frame at its end";
    EXPECT_EQ(s[0]->data[151], 5 + 151 * 10);
    EXPECT_EQ(s[0]->data[-1], s[0]->data[0]);

    EXPECT_EQ(s[1]->data[40], s[1]->data[39]);
    EXPECT_EQ(s[1]->data[-1], 3) << "the leading guard frame copies frame 0";
    for (int k = 41; k <= 40 + 8; ++k)
        EXPECT_EQ(s[1]->data[k], 0);

    EXPECT_EQ(s[2]->data[29], (-40 + 29 * 3) * 256);
    for (int k = 30; k <= 30 + 8; ++k)
        EXPECT_EQ(s[2]->data[k], 0) << "the frames after a sound without loop stay silent";
    EXPECT_EQ(s[2]->data[-1], -40 * 256);
    ModFreeSong(song);
}

// What the sample load hook saw, call by call.
struct HookCall {
    int byteCount, bits, instrument, sample;
};
std::vector<HookCall> HookCalls;

void FillWithOnes(uint8_t* buffer, int32_t byteCount, int32_t bits, int32_t instrument, int32_t sample)
{
    HookCalls.push_back({byteCount, bits, instrument, sample});
    for (int k = 0; k < byteCount; ++k)
        buffer[k] = 0x01;
    // Bytes beyond byteCount are not sample data, whatever a hook leaves there.
    buffer[byteCount] = 0x55;
}

TEST(XmLoader, SampleLoadHookSuppliesPlainPcm)
{
    XmModule module = MinimalModule();
    XmSample two = PcmSample8({0, 0});
    XmSample silent = PcmSample8({});
    XmSample wide = PcmSample16({100, 200, 300});
    XmInstrument after = InstrumentWith({PcmSample8({9, 8})});
    module.instruments = {InstrumentWith({two, silent, wide}), after};
    HookCalls.clear();
    Song* song = LoadModule(module, FillWithOnes);
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(song->onSampleLoad, &FillWithOnes);
    ASSERT_EQ(HookCalls.size(), 3u) << "no call for the sample of length 0";
    EXPECT_EQ(HookCalls[0].byteCount, 2);
    EXPECT_EQ(HookCalls[0].bits, 8);
    EXPECT_EQ(HookCalls[1].byteCount, 6);
    EXPECT_EQ(HookCalls[1].bits, 16);
    EXPECT_EQ(HookCalls[1].instrument, 0);
    EXPECT_EQ(HookCalls[1].sample, 2);
    EXPECT_EQ(HookCalls[2].instrument, 1);
    EXPECT_EQ(HookCalls[2].sample, 0);

    Sample* const* s = song->instruments[0].samples;
    EXPECT_EQ(Frames(s[0], 3), (std::vector<int>{256, 256, 0})) << "no delta decoding";
    EXPECT_EQ(s[1]->data, nullptr);
    EXPECT_EQ(Frames(s[2], 4), (std::vector<int>{0x0101, 0x0101, 0x0101, 0}));
    // The file position moved past each sample's data: the next instrument's header was found.
    EXPECT_EQ(song->instruments[1].sampleCount, 1);
    EXPECT_EQ(song->instruments[1].samples[0]->length, 2u);
    ModFreeSong(song);
}

TEST(XmLoader, FailedLoadInTheMiddleReleasesWhatWasBuilt)
{
    // The first instrument loads its samples, the second claims 17: the load fails and (under LeakSanitizer)
    // nothing of the first instrument remains.
    XmModule module = MinimalModule();
    XmInstrument good = InstrumentWith({PcmSample8(Ramp(100, 1)), PcmSample16(Ramp(50, 3))});
    XmInstrument bad = InstrumentWith({PcmSample8({1})});
    bad.rawSampleCount = 17;
    module.instruments = {good, bad};
    EXPECT_EQ(LoadModule(module), nullptr);
    bad.rawSampleCount = 16;
    module.instruments = {good, bad};
    Song* song = LoadModule(module);
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(song->instruments[1].sampleCount, 16);
    ModFreeSong(song);
}

TEST(XmLoader, LoadsFromARealFileThroughTheHostCallbacks)
{
    XmModule module = MinimalModule();
    module.instruments = {InstrumentWith({PcmSample8({1, 2, 3})})};
    std::string path = ::testing::TempDir() + "loader_real_file.xm";
    ASSERT_TRUE(XmSaveModule(module, path.c_str()));
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    Song* song = ModLoadSong(path.c_str(), nullptr);
    std::remove(path.c_str());
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(Frames(song->instruments[0].samples[0], 3), (std::vector<int>{256, 512, 768}));
    ModFreeSong(song);
}

} // namespace
