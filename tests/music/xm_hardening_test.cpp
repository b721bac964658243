// Hostile and broken modules: every limit check of the loader, with the expected accept or reject and the
// values it stores. Under LeakSanitizer a rejected load must leave nothing behind.
#include "xm_test_support.h"

#include <gtest/gtest.h>

namespace {

void PutU16At(std::vector<uint8_t>& bytes, size_t offset, uint16_t value)
{
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void PutU32At(std::vector<uint8_t>& bytes, size_t offset, uint32_t value)
{
    for (int k = 0; k < 4; ++k)
        bytes[offset + size_t(k)] = static_cast<uint8_t>(value >> (8 * k));
}

// Loads, checks success against `accepted`, and frees. Returns the song's field through `check` first.
template <typename Check>
void ExpectLoad(const XmModule& module, bool accepted, Check check)
{
    Song* song = LoadModule(module);
    EXPECT_EQ(song != nullptr, accepted);
    if (song != nullptr) {
        check(*song);
        EXPECT_TRUE(ModFreeSong(song));
    }
}

void ExpectLoad(const XmModule& module, bool accepted)
{
    ExpectLoad(module, accepted, [](const Song&) {});
}

TEST(XmHardening, HeaderCountsOutsideTheirLimitsFail)
{
    XmModule module = MinimalModule();
    module.channelCount = 33;
    module.patterns = {XmMakePattern(1, 33)};
    ExpectLoad(module, false);
    module.channelCount = 32;
    module.patterns = {XmMakePattern(1, 32)};
    ExpectLoad(module, true, [](const Song& s) { EXPECT_EQ(s.channelCount, 32); });
    module.channelCount = 0xFFFF;  // negative as i16: must not slip through as -1
    module.patterns = {};
    ExpectLoad(module, false);

    module = MinimalModule();
    module.rawSongLength = 0;
    ExpectLoad(module, false);

    module = MinimalModule();
    module.rawInstrumentCount = 32768;
    ExpectLoad(module, false);
    module.rawInstrumentCount = 0xFFFF;
    ExpectLoad(module, false);
    // The most a file may declare, in a file that holds none of them: all without samples.
    module.rawInstrumentCount = 32767;
    ExpectLoad(module, true, [](const Song& s) {
        ASSERT_EQ(s.instrumentCount, 32767);
        EXPECT_EQ(s.instruments[32766].sampleCount, 0);
        EXPECT_EQ(s.instruments[32766].samples[0], &EmptySample);
        EXPECT_EQ(s.instruments[32766].samples[15], &EmptySample);
    });

    module = MinimalModule();
    module.rawPatternCount = 257;
    ExpectLoad(module, false);

    module = MinimalModule();
    module.patterns = {XmMakePattern(257, 4)};
    ExpectLoad(module, false);
    module.patterns = {XmMakePattern(256, 4)};
    XmSetCell(&module.patterns[0], 4, 255, 3, XmCell{1, 1, 0, 0, 0});
    ExpectLoad(module, true, [](const Song& s) {
        EXPECT_EQ(s.patterns[0].rowCount, 256);
        EXPECT_EQ(s.patterns[0].cells[255 * 4 + 3].note, 1);
    });

    module = MinimalModule();
    for (uint16_t bpm : {0, 0x8000, 0xFFFF}) {
        module.defaultBpm = bpm;
        ExpectLoad(module, false);
    }
    module.defaultBpm = 1;
    ExpectLoad(module, true);
    module.defaultBpm = 0x7FFF;
    ExpectLoad(module, true, [](const Song& s) { EXPECT_EQ(s.defaultBpm, 0x7FFF); });
}

TEST(XmHardening, SongLengthAndRestartAreKeptInsideTheOrders)
{
    XmModule module = MinimalModule();
    module.orders.assign(256, 0);
    module.orders[255] = 7;
    module.rawSongLength = 300;
    module.restartPosition = 255;
    ExpectLoad(module, true, [](const Song& s) {
        EXPECT_EQ(s.orderCount, 256);
        EXPECT_EQ(s.restartPosition, 255);
        EXPECT_EQ(s.usedPatternCount, 8);
    });

    module = MinimalModule();
    module.orders = {0, 0, 0};
    module.restartPosition = 3;
    ExpectLoad(module, true, [](const Song& s) { EXPECT_EQ(s.restartPosition, 0); });
    module.restartPosition = 0xFFFF;
    ExpectLoad(module, true, [](const Song& s) { EXPECT_EQ(s.restartPosition, 0); });
    module.restartPosition = 2;
    ExpectLoad(module, true, [](const Song& s) { EXPECT_EQ(s.restartPosition, 2); });
}

TEST(XmHardening, EnvelopesAreKeptInsideTheirTwelvePoints)
{
    XmModule module = MinimalModule();
    XmInstrument instrument = InstrumentWith({PcmSample8({1})});
    instrument.volumeEnvelope.points = {{0, 200}, {5, 65}, {9, 64}};
    instrument.volumeEnvelope.rawPointCount = 13;
    instrument.volumeEnvelope.loopStart = 11;
    instrument.volumeEnvelope.loopEnd = 11;
    instrument.volumeEnvelope.flags = XmEnvelopeOn | XmEnvelopeSustain | XmEnvelopeLoop;
    instrument.panningEnvelope.points = {{0, 0xFFFF}, {4, 32}, {8, 32}};
    instrument.panningEnvelope.loopStart = 3;  // at the point count: no loop
    instrument.panningEnvelope.flags = XmEnvelopeOn | XmEnvelopeLoop;
    module.instruments = {instrument};
    ExpectLoad(module, true, [](const Song& s) {
        const Instrument& i = s.instruments[0];
        EXPECT_EQ(i.volumePointCount, 12);
        EXPECT_EQ(i.volumeEnvelopeFlags, 7) << "loop start 11 lies below 12 points";
        EXPECT_EQ(i.volumeEnvelope[0].value, 64);
        EXPECT_EQ(i.volumeEnvelope[1].value, 64);
        EXPECT_EQ(i.volumeEnvelope[2].value, 64);
        EXPECT_EQ(i.panningPointCount, 3);
        EXPECT_EQ(i.panningEnvelopeFlags, XmEnvelopeOn) << "the loop bit goes, the rest stays";
        EXPECT_EQ(i.panningEnvelope[0].value, 64);
        EXPECT_EQ(i.panningEnvelope[1].value, 32);
    });

    instrument.volumeEnvelope.rawPointCount = 255;
    instrument.volumeEnvelope.loopStart = 12;
    module.instruments = {instrument};
    ExpectLoad(module, true, [](const Song& s) {
        EXPECT_EQ(s.instruments[0].volumePointCount, 12);
        EXPECT_EQ(s.instruments[0].volumeEnvelopeFlags, XmEnvelopeOn | XmEnvelopeSustain);
    });
}

TEST(XmHardening, PatternOfZeroRowsIsAccepted)
{
    XmModule module = MinimalModule();
    module.patterns = {XmMakePattern(0, 4), XmMakePattern(2, 4)};
    XmSetCell(&module.patterns[1], 4, 1, 0, XmCell{30, 0, 0, 0, 0});
    module.patterns[0].rawPackedSize = 5;  // says data follows, but there are no cells to unpack
    module.orders = {0, 1};
    ExpectLoad(module, true, [](const Song& s) {
        EXPECT_EQ(s.patterns[0].rowCount, 0);
        ASSERT_NE(s.patterns[0].cells, nullptr);
        EXPECT_EQ(s.patterns[0].cells[3].note, 0) << "one row of empty cells is there to read";
        EXPECT_EQ(s.patterns[1].cells[4].note, 30);
    });

    // A song of no tracks at all loads as well.
    module = MinimalModule();
    module.channelCount = 0;
    module.patterns = {XmMakePattern(4, 0)};
    ExpectLoad(module, true, [](const Song& s) { EXPECT_NE(s.patterns[0].cells, nullptr); });
}

TEST(XmHardening, FileCutInsidePatternDataGivesEmptyCells)
{
    XmModule module = MinimalModule();
    XmPattern pattern = XmMakePattern(8, 4);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 4; ++c)
            XmSetCell(&pattern, 4, r, c, XmCell{static_cast<uint8_t>(1 + r), 2, 0x20, 0x0C, 0x30});
    module.patterns = {pattern};
    XmLayout layout;
    std::vector<uint8_t> bytes = XmWriteModule(module, &layout);
    // Full cells are 5 bytes each: keep the first 10 cells and the first byte of the 11th.
    bytes.resize(layout.patternOffsets[0] + 9 + 10 * 5 + 1);
    Song* song = LoadSongBytes(bytes);
    ASSERT_NE(song, nullptr);
    const NoteCell* cells = song->patterns[0].cells;
    EXPECT_EQ(cells[9].note, 3);
    EXPECT_EQ(cells[9].param, 0x30);
    EXPECT_EQ(cells[10].note, 3) << "the byte that is there";
    EXPECT_EQ(cells[10].instrument, 0) << "and zeros after it";
    for (int k = 11; k < 32; ++k)
        ASSERT_EQ(cells[k].note + cells[k].instrument + cells[k].volume + cells[k].effect + cells[k].param, 0);
    ModFreeSong(song);
}

TEST(XmHardening, HeaderSizesBeyondTheFileReadAsZeros)
{
    // The patterns would start 4 GB in: everything after the header reads as zeros, so the pattern is one of
    // 0 rows and the instrument has no samples.
    XmModule module = MinimalModule();
    module.rawHeaderSize = 0xFFFFFFF0u;
    module.instruments = {InstrumentWith({PcmSample8({1, 2})})};
    ExpectLoad(module, true, [](const Song& s) {
        EXPECT_EQ(s.patterns[0].rowCount, 0);
        EXPECT_EQ(s.instruments[0].sampleCount, 0);
    });

    // An instrument header size beyond the file: its samples are read from the end, as zeros.
    module = MinimalModule();
    XmInstrument huge = InstrumentWith({PcmSample8({1, 2})});
    huge.rawHeaderSize = 0xFFFFFFFFu;
    module.instruments = {huge, InstrumentWith({PcmSample8({3})})};
    ExpectLoad(module, true, [](const Song& s) {
        EXPECT_EQ(s.instruments[0].sampleCount, 1);
        EXPECT_EQ(s.instruments[0].samples[0]->length, 0u);
        EXPECT_EQ(s.instruments[0].samples[0]->data, nullptr);
        EXPECT_EQ(s.instruments[1].sampleCount, 0);
    });

    // A module header size of 0: the pattern header lands on the header's own fields, which then read as
    // song length 0x4000 (cut to 256), no tracks and BPM 0 from past the end: rejected, nothing read outside.
    module = MinimalModule();
    module.rawHeaderSize = 0;
    ExpectLoad(module, false);
}

TEST(XmHardening, SampleLengthsAreBoundedByTheFile)
{
    XmModule module = MinimalModule();
    XmSample liar = PcmSample8({1, 2, 3});
    liar.rawLength = 0x7FFFFFFF;
    module.instruments = {InstrumentWith({liar})};
    std::vector<uint8_t> bytes = XmWriteModule(module);
    EXPECT_EQ(LoadSongBytes(bytes), nullptr);

    liar.rawLength = 0xFFFFFFFFu;  // 16-bit: would be 2^31 frames
    liar.bits = 16;
    liar.pcm = {1};
    module.instruments = {InstrumentWith({liar})};
    EXPECT_EQ(LoadModule(module), nullptr);

    // Exactly the file's size is allowed (the last sample merely cut short); its missing bytes read as zero.
    XmSample cut = PcmSample8({});
    cut.rawData = std::vector<uint8_t>{4, 4};
    module.instruments = {InstrumentWith({cut})};
    bytes = XmWriteModule(module);
    PutU32At(bytes, bytes.size() - 2 - 40, static_cast<uint32_t>(bytes.size()));
    Song* song = LoadSongBytes(bytes);
    ASSERT_NE(song, nullptr);
    const Sample* s = song->instruments[0].samples[0];
    EXPECT_EQ(s->length, bytes.size());
    EXPECT_EQ(s->data[0], 4 * 256);
    EXPECT_EQ(s->data[1], 8 * 256);
    EXPECT_EQ(s->data[2], 8 * 256) << "zero deltas after the cut hold the last value";
    EXPECT_EQ(s->data[s->length - 1], 8 * 256);
    ModFreeSong(song);

    // One byte more than the file fails.
    PutU32At(bytes, bytes.size() - 2 - 40, static_cast<uint32_t>(bytes.size() + 1));
    EXPECT_EQ(LoadSongBytes(bytes), nullptr);
}

TEST(XmHardening, SamplesTogetherMayNotClaimMoreThanTwiceTheFile)
{
    // Sixteen samples each claiming most of the file: each alone is within the file, together they would
    // allocate many times its size for data that is not there.
    XmModule module = MinimalModule();
    XmInstrument greedy;
    for (int j = 0; j < 16; ++j)
        greedy.samples.push_back(PcmSample8({}));
    module.instruments = {greedy};
    std::vector<uint8_t> bytes = XmWriteModule(module);
    uint32_t claim = static_cast<uint32_t>(bytes.size() * 2 / 3);
    size_t headers = bytes.size() - 16 * 40;
    for (int j = 0; j < 16; ++j)
        PutU32At(bytes, headers + size_t(j) * 40, claim);
    EXPECT_EQ(LoadSongBytes(bytes), nullptr);
    // Three of them come to exactly twice the file: accepted.
    for (int j = 3; j < 16; ++j)
        PutU32At(bytes, headers + size_t(j) * 40, 0);
    uint32_t third = static_cast<uint32_t>(bytes.size() * 2 / 3);
    PutU32At(bytes, headers, static_cast<uint32_t>(bytes.size() * 2 - 2 * third));
    PutU32At(bytes, headers + 40, third);
    PutU32At(bytes, headers + 80, third);
    Song* song = LoadSongBytes(bytes);
    ASSERT_NE(song, nullptr);
    ModFreeSong(song);
}

TEST(XmHardening, LoopsAreKeptWhereTheGuardFrameFits)
{
    XmModule module = MinimalModule();
    auto looped = [](uint32_t start, uint32_t length) {
        XmSample sample = PcmSample8(Ramp(20, 2));
        sample.loop = XmLoop::Forward;
        sample.loopStart = start;
        sample.loopLength = length;
        return sample;
    };
    XmSample atEnd = looped(20, 5);          // starts at the length: no loop
    XmSample huge = looped(19, 0xFFFFFFF0u);  // end far past length + 7: cut at the length
    XmSample overhang = looped(10, 17);      // ends at length + 7: kept
    XmSample beyond = looped(10, 18);        // ends at length + 8: cut
    XmSample wrapping = looped(0xFFFFFFFFu, 2);  // start + length wraps 32 bits: starts beyond the sound
    XmSample silent = PcmSample8({});
    silent.loop = XmLoop::PingPong;
    silent.rawLoopStart = 0;
    silent.rawLoopLength = 4;
    module.instruments = {InstrumentWith({atEnd, huge, overhang, beyond, wrapping, silent})};
    Song* song = LoadModule(module);
    ASSERT_NE(song, nullptr);
    Sample* const* s = song->instruments[0].samples;
    EXPECT_EQ(s[0]->loopMode, LoopNone);
    EXPECT_EQ(s[0]->loopStart, 0u);
    EXPECT_EQ(s[0]->loopLength, 20u);
    EXPECT_EQ(s[1]->loopMode, LoopForward);
    EXPECT_EQ(s[1]->loopStart, 19u);
    EXPECT_EQ(s[1]->loopLength, 1u);
    EXPECT_EQ(s[1]->data[20], s[1]->data[19]);
    EXPECT_EQ(s[2]->loopStart + s[2]->loopLength, 27u);
    EXPECT_EQ(s[2]->data[27], s[2]->data[10]) << "the guard frame after a loop that runs into the spare frames";
    EXPECT_EQ(s[2]->data[28], 0);
    EXPECT_EQ(s[3]->loopLength, 10u);
    EXPECT_EQ(s[4]->loopMode, LoopNone);
    EXPECT_EQ(s[4]->loopLength, 20u);
    EXPECT_EQ(s[5]->length, 0u);
    EXPECT_EQ(s[5]->loopMode, LoopNone);
    EXPECT_EQ(s[5]->loopStart + s[5]->loopLength, 0u);
    EXPECT_EQ(s[5]->data, nullptr);
    ModFreeSong(song);

    // Ping-pong: the guard frame copies the loop's last frame.
    XmSample pingPong = looped(15, 5);
    pingPong.loop = XmLoop::PingPong;
    module.instruments = {InstrumentWith({pingPong})};
    song = LoadModule(module);
    ASSERT_NE(song, nullptr);
    const Sample* p = song->instruments[0].samples[0];
    EXPECT_EQ(p->data[19], 38 * 256);
    EXPECT_EQ(p->data[20], 38 * 256);
    EXPECT_EQ(p->data[21], 0);
    ModFreeSong(song);
}

TEST(XmHardening, BrokenModuleHeaderBytesAreReadUnsigned)
{
    std::vector<uint8_t> bytes = XmWriteModule(MinimalModule());
    PutU16At(bytes, 64, 0x8001);  // song length: cut to 256
    Song* song = LoadSongBytes(bytes);
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(song->orderCount, 256);
    EXPECT_EQ(song->usedPatternCount, 1);
    ModFreeSong(song);
}

} // namespace
