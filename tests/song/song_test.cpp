// The intro's song as the program will load it: the committed "data/glimrook.xm" loads through the host's
// file callbacks with every structure exactly as the composer wrote it (so no loader limit had to cut or
// correct anything), uses the instruments and effects it promises within the volume limits, plays two to
// three minutes before it loops, and is byte for byte what the composer writes today.
#include "music/music.h"
#include "tools/composer/composer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <unistd.h>

namespace {

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Loads the committed song once, the way the intro does, and keeps the composer's description of it.
class GlimrookSong : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
        song = ModLoadSong(GLIMROOK_PATH, nullptr);
        module = new XmModule(ComposeGlimrook());
    }
    static void TearDownTestSuite()
    {
        if (song != nullptr)
            ModFreeSong(song);
        song = nullptr;
        delete module;
        module = nullptr;
    }
    void SetUp() override
    {
        ASSERT_NE(song, nullptr) << "data/glimrook.xm did not load";
    }

    const NoteCell& Cell(int order, int row, int track) const
    {
        const Pattern& pattern = song->patterns[song->orders[order]];
        return pattern.cells[row * song->channelCount + track];
    }

    static Song* song;
    static XmModule* module;
};

Song* GlimrookSong::song = nullptr;
XmModule* GlimrookSong::module = nullptr;

TEST_F(GlimrookSong, HeaderAndPatternsLoadAsWritten)
{
    EXPECT_GE(song->channelCount, 8);
    EXPECT_LE(song->channelCount, 16);
    EXPECT_EQ(song->channelCount, module->channelCount);
    EXPECT_EQ(song->flags & 1, 1) << "linear frequency table";
    EXPECT_GT(song->defaultSpeed, 0);
    EXPECT_GE(song->defaultBpm, 32);

    ASSERT_EQ(song->orderCount, static_cast<int>(module->orders.size()));
    EXPECT_EQ(song->restartPosition, module->restartPosition);
    EXPECT_LT(song->restartPosition, song->orderCount);
    for (int k = 0; k < song->orderCount; ++k)
        EXPECT_EQ(song->orders[k], module->orders[size_t(k)]) << "order " << k;

    // Every stored pattern is played, and no order names a pattern the file lacks.
    ASSERT_EQ(song->patternSlotCount, static_cast<int>(module->patterns.size()));
    EXPECT_EQ(song->usedPatternCount, song->patternSlotCount);
    for (int p = 0; p < song->patternSlotCount; ++p) {
        const XmPattern& written = module->patterns[size_t(p)];
        const Pattern& loaded = song->patterns[p];
        ASSERT_EQ(loaded.rowCount, written.rowCount) << "pattern " << p;
        for (int k = 0; k < loaded.rowCount * song->channelCount; ++k) {
            const XmCell& w = written.cells[size_t(k)];
            const NoteCell& c = loaded.cells[k];
            ASSERT_EQ(c.note, w.note == 97 ? 255 : w.note) << "pattern " << p << " cell " << k;
            ASSERT_EQ(c.instrument, w.instrument) << "pattern " << p << " cell " << k;
            ASSERT_EQ(c.volume, w.volume) << "pattern " << p << " cell " << k;
            ASSERT_EQ(c.effect, w.effect) << "pattern " << p << " cell " << k;
            ASSERT_EQ(c.param, w.param) << "pattern " << p << " cell " << k;
        }
    }
}

TEST_F(GlimrookSong, InstrumentsAndSamplesLoadAsWritten)
{
    ASSERT_EQ(song->instrumentCount, InstrumentTotal);
    ASSERT_EQ(module->instruments.size(), size_t(InstrumentTotal));
    for (int i = 0; i < song->instrumentCount; ++i) {
        const XmInstrument& w = module->instruments[size_t(i)];
        const Instrument& in = song->instruments[i];
        SCOPED_TRACE("instrument " + w.name);
        ASSERT_EQ(in.sampleCount, static_cast<int>(w.samples.size()));
        for (int n = 0; n < 96; ++n)
            EXPECT_EQ(in.sampleMap[n], w.sampleMap[n]);
        EXPECT_EQ(in.volumePointCount, w.volumeEnvelope.points.size());
        EXPECT_EQ(in.volumeEnvelopeFlags, w.volumeEnvelope.flags);
        EXPECT_EQ(in.volumeSustain, w.volumeEnvelope.sustain);
        for (size_t k = 0; k < w.volumeEnvelope.points.size(); ++k) {
            EXPECT_EQ(in.volumeEnvelope[k].tick, w.volumeEnvelope.points[k].tick);
            EXPECT_EQ(in.volumeEnvelope[k].value, w.volumeEnvelope.points[k].value);
        }
        EXPECT_EQ(in.vibratoType, w.vibratoType);
        EXPECT_EQ(in.vibratoSweep, w.vibratoSweep);
        EXPECT_EQ(in.vibratoDepth, w.vibratoDepth);
        EXPECT_EQ(in.vibratoRate, w.vibratoRate);
        EXPECT_EQ(in.fadeout, 2 * w.fadeout);

        for (int j = 0; j < in.sampleCount; ++j) {
            const XmSample& ws = w.samples[size_t(j)];
            const Sample& s = *in.samples[j];
            SCOPED_TRACE("sample " + ws.name);
            ASSERT_EQ(s.length, ws.pcm.size());
            ASSERT_GT(s.length, 0u);
            uint8_t mode = ws.loop == XmLoop::Forward    ? LoopForward
                           : ws.loop == XmLoop::PingPong ? LoopPingPong
                                                         : LoopNone;
            EXPECT_EQ(s.loopMode, mode);
            if (ws.loop == XmLoop::None) {
                EXPECT_EQ(s.loopStart, 0u);
                EXPECT_EQ(s.loopLength, s.length);
            } else {
                // The loop lies inside the sound, so the loader kept it as written.
                EXPECT_EQ(s.loopStart, ws.loopStart);
                EXPECT_EQ(s.loopLength, ws.loopLength);
                EXPECT_LE(ws.loopStart + ws.loopLength, ws.pcm.size());
                EXPECT_GT(ws.loopLength, 0u);
            }
            EXPECT_EQ(s.volume, ws.volume);
            EXPECT_EQ(s.finetune, ws.finetune);
            EXPECT_EQ(s.relativeNote, ws.relativeNote);
            EXPECT_EQ(s.panning, ws.panning);
            int scale = ws.bits == 8 ? 256 : 1;
            size_t differing = 0;
            for (uint32_t k = 0; k < s.length; ++k)
                if (s.data[k] != ws.pcm[k] * scale)
                    ++differing;
            EXPECT_EQ(differing, 0u) << "frames that did not survive delta coding";
        }
    }
}

TEST_F(GlimrookSong, InstrumentsHaveThePromisedKinds)
{
    std::set<int> bits;
    std::set<XmLoop> loops;
    for (const XmInstrument& instrument : module->instruments)
        for (const XmSample& sample : instrument.samples) {
            bits.insert(sample.bits);
            loops.insert(sample.loop);
        }
    EXPECT_EQ(bits, (std::set<int>{8, 16}));
    EXPECT_TRUE(loops.count(XmLoop::Forward));
    EXPECT_TRUE(loops.count(XmLoop::PingPong));
    EXPECT_TRUE(loops.count(XmLoop::None));

    // The celesta dies away by itself, like a struck bar: its volume envelope has no sustain point or loop and
    // falls to silence within two seconds (100 ticks at 125 BPM); a release damps it sooner.
    const Instrument& celesta = song->instruments[InsCelesta - 1];
    EXPECT_EQ(celesta.volumeEnvelopeFlags, 1);
    ASSERT_GE(celesta.volumePointCount, 2);
    EXPECT_EQ(celesta.volumeEnvelope[celesta.volumePointCount - 1].value, 0);
    EXPECT_LE(celesta.volumeEnvelope[celesta.volumePointCount - 1].tick, 100);
    EXPECT_GT(celesta.fadeout, 0);
    // The choir holds at a sustain point until its release, loops back and forth and warbles slowly, easing
    // in.
    const Instrument& choir = song->instruments[InsChoir - 1];
    EXPECT_EQ(choir.volumeEnvelopeFlags & 3, 3);
    EXPECT_GT(choir.fadeout, 0);
    EXPECT_EQ(choir.samples[0]->loopMode, LoopPingPong);
    EXPECT_GT(choir.vibratoDepth, 0);
    EXPECT_GT(choir.vibratoSweep, 0);
    EXPECT_LE(choir.vibratoRate, 8);
    // The hi-hat plays its closed sample low and its open sample from D-4 (0-based note 50) up.
    const Instrument& hat = song->instruments[InsHiHat - 1];
    ASSERT_EQ(hat.sampleCount, 2);
    EXPECT_EQ(hat.sampleMap[48], 0);
    EXPECT_EQ(hat.sampleMap[50], 1);
}

TEST_F(GlimrookSong, UsesTheEffectsAndStaysWithinVolumeLimits)
{
    std::set<int> effects;  // E effects as 0xE0 + sub-command
    bool arpeggio = false, columnVolume = false, columnSlide = false, columnPanning = false;
    int highestVolume = 0;
    for (int p = 0; p < song->patternSlotCount; ++p) {
        const Pattern& pattern = song->patterns[p];
        for (int k = 0; k < pattern.rowCount * song->channelCount; ++k) {
            const NoteCell& c = pattern.cells[k];
            if (c.effect == 0 && c.param != 0)
                arpeggio = true;
            if (c.effect != 0)
                effects.insert(c.effect == 0xE ? 0xE0 + (c.param >> 4) : c.effect);
            if (c.effect == 0xC)
                highestVolume = std::max<int>(highestVolume, c.param);
            EXPECT_NE(c.effect, 0x10) << "global volume is left at 64";
            if (c.volume >= 0x10 && c.volume <= 0x5F) {
                EXPECT_LE(c.volume, 0x50) << "volume column above 64";
                highestVolume = std::max(highestVolume, c.volume - 0x10);
                columnVolume = true;
            }
            if (c.volume >= 0x60 && c.volume <= 0x9F)
                columnSlide = true;
            if (c.volume >= 0xC0 && c.volume <= 0xEF)
                columnPanning = true;
        }
    }
    EXPECT_TRUE(arpeggio);
    for (int effect : {0x1, 0x2, 0x3, 0x4, 0x8, 0xA, 0xB, 0xC, 0xD, 0xF})
        EXPECT_TRUE(effects.count(effect)) << "effect " << std::hex << effect;
    EXPECT_TRUE(effects.count(0xE9) || effects.count(0xED)) << "retrigger or note delay on the drums";
    EXPECT_TRUE(effects.count(0xEC)) << "note cut (the echo stepping aside)";
    EXPECT_TRUE(columnVolume);
    EXPECT_TRUE(columnSlide);
    EXPECT_TRUE(columnPanning);

    for (int i = 0; i < song->instrumentCount; ++i)
        for (int j = 0; j < song->instruments[i].sampleCount; ++j)
            highestVolume = std::max<int>(highestVolume, song->instruments[i].samples[j]->volume);
    EXPECT_LE(highestVolume, 64);
}

// Follows the song row by row as the player moves through it (speed and tempo changes, pattern breaks,
// position jumps, the end of the order list) until play goes back to an earlier order position.
TEST_F(GlimrookSong, PlaysTwoToThreeMinutesBeforeLoopingToTheRestartPosition)
{
    int speed = song->defaultSpeed, bpm = song->defaultBpm;
    int order = 0, row = 0;
    double seconds = 0.0;
    std::set<int> visited;
    for (int steps = 0; steps < 100000; ++steps) {
        visited.insert(order);
        int nextRow = -1, nextOrder = -1;
        bool jumped = false;
        for (int track = 0; track < song->channelCount; ++track) {
            const NoteCell& c = Cell(order, row, track);
            if (c.effect == 0xF)
                (c.param < 32 ? speed : bpm) = c.param;
            if (c.effect == 0xB) {
                nextRow = 0;
                nextOrder = c.param >= song->orderCount ? 0 : c.param;
                jumped = true;
            }
            if (c.effect == 0xD) {
                nextRow = 10 * (c.param >> 4) + (c.param & 15);
                if (nextRow > 63)
                    nextRow = 0;
                if (!jumped)
                    nextOrder = order + 1 < song->orderCount ? order + 1 : 0;
            }
            ASSERT_FALSE(c.effect == 0xE && ((c.param >> 4) == 6 || (c.param >> 4) == 0xE))
                << "pattern loops and delays are not followed here";
        }
        ASSERT_GT(speed, 0);
        ASSERT_GE(bpm, 32);
        seconds += speed * 2.5 / bpm;  // a tick lasts 2.5 / BPM seconds
        if (nextRow < 0) {
            nextRow = row + 1;
            nextOrder = order;
            if (nextRow >= song->patterns[song->orders[order]].rowCount) {
                nextRow = 0;
                nextOrder = order + 1 < song->orderCount ? order + 1 : song->restartPosition;
            }
        }
        if (nextOrder < order) {
            EXPECT_EQ(nextOrder, song->restartPosition);
            EXPECT_EQ(nextRow, 0);
            EXPECT_EQ(static_cast<int>(visited.size()), song->orderCount) << "every order position plays";
            EXPECT_GE(seconds, 120.0);
            EXPECT_LE(seconds, 180.0);
            return;
        }
        order = nextOrder;
        row = nextRow;
    }
    FAIL() << "the song never returns to an earlier position";
}

// ---- Variety ----------------------------------------------------------------------------------------------------

bool DrumInstrument(int instrument)
{
    return instrument == InsKick || instrument == InsSnare || instrument == InsHiHat;
}

// Cells of two order positions of equal length compared: `used` counts the cells that hold anything in either,
// `shared` those that are equal once the pitched notes of the second are moved by `transpose` semitones (drum
// and sleigh-bell notes stay where they are, key-offs are key-offs).
struct CellMatch {
    int shared = 0;
    int used = 0;
};

CellMatch CompareOrders(const Song* song, int orderA, int orderB, int transpose)
{
    CellMatch match;
    const Pattern& a = song->patterns[song->orders[orderA]];
    const Pattern& b = song->patterns[song->orders[orderB]];
    for (int k = 0; k < a.rowCount * song->channelCount; ++k) {
        NoteCell x = a.cells[k];
        NoteCell y = b.cells[k];
        auto empty = [](const NoteCell& c) {
            return c.note == 0 && c.instrument == 0 && c.volume == 0 && c.effect == 0 && c.param == 0;
        };
        if (empty(x) && empty(y))
            continue;
        bool pitched = y.instrument != InsSleigh && !DrumInstrument(y.instrument);
        if (y.note >= 1 && y.note <= 96 && pitched)
            y.note = static_cast<uint8_t>(std::clamp(y.note + transpose, 0, 255));
        ++match.used;
        if (x.note == y.note && x.instrument == y.instrument && x.volume == y.volume && x.effect == y.effect &&
            x.param == y.param)
            ++match.shared;
    }
    return match;
}

// Two sections of as many order positions, of equal lengths one by one.
bool SameShape(const Song* song, const GlimrookSection& a, const GlimrookSection& b)
{
    if (a.orderCount != b.orderCount)
        return false;
    for (int k = 0; k < a.orderCount; ++k)
        if (song->patterns[song->orders[a.firstOrder + k]].rowCount !=
            song->patterns[song->orders[b.firstOrder + k]].rowCount)
            return false;
    return true;
}

// The highest share of their cells that two runs of `count` order positions of equal lengths share under
// one transposition of the second (an octave up or down at most, none included), and that transposition.
double TransposedShare(const Song* song, int firstA, int firstB, int count, int* best)
{
    double highest = 0.0;
    for (int transpose = -12; transpose <= 12; ++transpose) {
        CellMatch total;
        for (int k = 0; k < count; ++k) {
            CellMatch m = CompareOrders(song, firstA + k, firstB + k, transpose);
            total.shared += m.shared;
            total.used += m.used;
        }
        double share = total.used > 0 ? double(total.shared) / total.used : 1.0;
        if (share > highest) {
            highest = share;
            *best = transpose;
        }
    }
    return highest;
}

// No order position plays another again, cell for cell or moved by a transposition in more than 80 % of its
// cells (a repeat of the tune varies its arrangement), and no section does so with another section.
TEST_F(GlimrookSong, NoOrderOrSectionRepeatsAnotherEvenTransposed)
{
    double mostShared = 0.0;
    std::string mostSharedPair;
    for (int a = 0; a < song->orderCount; ++a)
        for (int b = a + 1; b < song->orderCount; ++b) {
            if (song->patterns[song->orders[a]].rowCount != song->patterns[song->orders[b]].rowCount)
                continue;
            CellMatch same = CompareOrders(song, a, b, 0);
            EXPECT_LT(same.shared, same.used) << "order " << b << " plays order " << a << " again cell for cell";
            int transpose = 0;
            double share = TransposedShare(song, a, b, 1, &transpose);
            EXPECT_LE(share, 0.80) << "order " << b << " is order " << a << " moved by " << transpose
                                   << " semitones in " << 100.0 * share << " % of its cells";
            if (share > mostShared) {
                mostShared = share;
                mostSharedPair = "orders " + std::to_string(a) + " and " + std::to_string(b) + " (moved by " +
                                 std::to_string(transpose) + ")";
            }
        }
    std::printf("most alike: %s, %.0f %% of the cells shared\n", mostSharedPair.c_str(), 100.0 * mostShared);
    std::vector<GlimrookSection> sections = GlimrookSections();
    for (size_t i = 0; i < sections.size(); ++i)
        for (size_t j = i + 1; j < sections.size(); ++j) {
            if (!SameShape(song, sections[i], sections[j]))
                continue;
            int transpose = 0;
            double share = TransposedShare(song, sections[i].firstOrder, sections[j].firstOrder,
                                           sections[i].orderCount, &transpose);
            std::printf("%s / %s: %.0f %% of the cells shared (moved by %d)\n", sections[i].name, sections[j].name,
                        100.0 * share, transpose);
            EXPECT_LE(share, 0.80) << sections[j].name << " is " << sections[i].name << " moved by " << transpose
                                   << " semitones in " << 100.0 * share << " % of its cells";
        }
}

// The drum hits (kick, snare and hi-hat) of some rows: instrument, note (the hat's closed or open sample),
// row from the first and whether the hit rolls (retrigger). Volumes and delays are left out: an accent or a
// late hat is no fill.
using DrumHits = std::set<std::tuple<int, int, int, bool>>;

struct SectionRow {
    int order;
    int row;
};

// Each phrase of four bars in which the drums play ends in a fill: its last beat differs from the last beat
// of each of its other bars.
TEST_F(GlimrookSong, EveryDrumPhraseEndsInAFill)
{
    int phrases = 0;
    for (const GlimrookSection& section : GlimrookSections()) {
        // The rows played, up to a pattern break or a jump.
        std::vector<SectionRow> rows;
        for (int k = 0; k < section.orderCount; ++k) {
            int order = section.firstOrder + k;
            for (int row = 0; row < song->patterns[song->orders[order]].rowCount; ++row) {
                rows.push_back({order, row});
                bool leaves = false;
                for (int track = 0; track < song->channelCount; ++track)
                    leaves = leaves || Cell(order, row, track).effect == 0xB || Cell(order, row, track).effect == 0xD;
                if (leaves)
                    break;
            }
        }
        auto hits = [&](int first, int count) {
            DrumHits found;
            for (int r = first; r < first + count; ++r)
                for (int track = 0; track < song->channelCount; ++track) {
                    const NoteCell& c = Cell(rows[size_t(r)].order, rows[size_t(r)].row, track);
                    if (c.note >= 1 && c.note <= 96 && DrumInstrument(c.instrument))
                        found.insert({c.instrument, c.note, r - first, c.effect == 0xE && (c.param >> 4) == 9});
                }
            return found;
        };
        const int bar = section.rowsPerBar;
        const int beat = 4;  // rows, in either metre
        for (int phrase = section.firstBarRow; phrase + 4 * bar <= int(rows.size()); phrase += 4 * bar) {
            bool drums = false;
            for (int b = 0; b < 4; ++b)
                drums = drums || !hits(phrase + b * bar, bar).empty();
            if (!drums)
                continue;
            ++phrases;
            DrumHits fill = hits(phrase + 4 * bar - beat, beat);
            for (int b = 0; b < 3; ++b)
                EXPECT_NE(fill, hits(phrase + (b + 1) * bar - beat, beat))
                    << section.name << ": the phrase from order " << rows[size_t(phrase)].order << " row "
                    << rows[size_t(phrase)].row << " ends without a fill (its last beat is bar " << b + 1 << "'s)";
        }
    }
    EXPECT_GT(phrases, 0);
}

TEST(GlimrookFile, IsSmallAndExactlyWhatTheComposerWrites)
{
    std::vector<uint8_t> committed = ReadFileBytes(GLIMROOK_PATH);
    ASSERT_FALSE(committed.empty());
    EXPECT_LT(committed.size(), 500u * 1024u);

    std::filesystem::path out =
        std::filesystem::temp_directory_path() / ("glimrook_test_" + std::to_string(getpid()) + ".xm");
    std::string command = std::string("\"") + COMPOSER_PATH + "\" \"" + out.string() + "\" > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::vector<uint8_t> written = ReadFileBytes(out.string());
    std::filesystem::remove(out);
    EXPECT_EQ(written.size(), committed.size());
    EXPECT_TRUE(written == committed) << "data/glimrook.xm is stale: run composer data/glimrook.xm";

    // The composer's module is the same on every call, too.
    EXPECT_TRUE(XmWriteModule(ComposeGlimrook()) == committed);
}

}  // namespace
