// The intro's song heard as a listener hears it: "data/glimrook.xm" is loaded with the intro's loader and
// played through the player and the device-free render path for two passes (the intro, then the loop again
// from the restart position), while every track's voice is followed tick by tick. From that the tests tell
// notes that ring on, the jump back landing on silence, clashes held for a beat, the loudness of the
// sections, their balance between left and right, the low end, and the sound of the bass and the kick as the
// mixer plays them. Stems (the song again with only some tracks sounding) tell whether the kick carries
// through a phone's speaker beside the tune and whether the tune leads its own pitch range.
#include "music/music.h"
#include "sound/sound.h"
#include "tests/support/song_support.h"
#include "tools/composer/composer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

constexpr int32_t Rate = 44100;
constexpr double FullScale = 32768.0;

// A voice counts as heard while its final volume (volume, envelope, fadeout and global volume) is above
// one step of the volume column.
constexpr double AudibleLevel = 1.0 / 64.0;

// Rows a voice may go on sounding after its last note when nothing replaces or releases it, and after its
// release: a melodic voice one bar of 4/4, the choir pad two.
constexpr int MelodicRingRows = 16;
constexpr int PadRingRows = 32;
constexpr int RowsPerBeat = 4;

std::string NoteName(int midi)
{
    static const char* const names[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return std::string(names[((midi % 12) + 12) % 12]) + std::to_string(midi / 12 - 1);
}

bool Melodic(uint8_t instrument)
{
    return instrument == InsCelesta || instrument == InsChoir || instrument == InsBass || instrument == InsLead;
}

// One track on one tick, read from the player's state right after the tick ran.
struct TrackTick {
    bool audible = false;
    bool started = false;   // a note started (or restarted) on this tick, or a cell's note began a glide
    bool released = false;  // key off
    uint8_t instrument = 0; // 1-based instrument the track plays
    int pitch = 0;          // MIDI, the nearest semitone of the period without vibrato
    uint8_t arpeggio = 0;   // arpeggio parameter of the row's cell (0 none)
};

struct TickRecord {
    int row;        // index into Listening::rows
    int64_t frame;  // first output frame
    std::vector<TrackTick> tracks;
};

struct RowRecord {
    int pass;       // 1 from the start, 2 after the first jump back, 3 after the second
    int order;
    int row;
    int64_t frame;  // first output frame
    int64_t endFrame;
    int firstTick;  // index into Listening::ticks
};

struct Listening {
    std::vector<RowRecord> rows;
    std::vector<TickRecord> ticks;
    std::vector<int16_t> audio;  // interleaved stereo
    int64_t nextTickFrame = 0;
    int pass = 1;
};

Listening* listening = nullptr;

// The song's tick as the intro runs it, followed by a look at every track.
void ListenTick(Song* song)
{
    Listening& l = *listening;
    bool rowStart = song->tick == 0;
    int64_t frame = l.nextTickFrame;
    ModUpdateTick(song);
    l.nextTickFrame += song->samplesPerTick < 1 ? 1 : song->samplesPerTick;
    if (rowStart) {
        if (!l.rows.empty()) {
            l.rows.back().endFrame = frame;
            if (song->orderPos < l.rows.back().order)
                ++l.pass;
        }
        l.rows.push_back({l.pass, song->orderPos, song->rowRead, frame, -1, static_cast<int>(l.ticks.size())});
    }
    TickRecord record;
    record.row = static_cast<int>(l.rows.size()) - 1;
    record.frame = frame;
    const NoteCell* cells = ModRowCells(song, song->rowRead);
    for (int k = 0; k < song->channelCount; ++k) {
        const MusicChannel& channel = MusicChannels[k];
        TrackTick t;
        Instrument* instrument = nullptr;
        Sample* sample = SelectSample(song, channel.instrument, channel.note, &instrument);
        double level = (channel.volume + channel.volumeDelta) / 64.0 * channel.volEnvVolume / 64.0 *
                       channel.fadeoutVolume / 65536.0 * song->globalVolume / 64.0;
        t.audible = channel.voice != nullptr && channel.voice->sample != nullptr && level > AudibleLevel;
        // A note that tone portamento glides to is a new note too, though the sample goes on.
        bool glideNote = rowStart && cells != nullptr && cells[k].note >= 1 && cells[k].note <= 96;
        t.started = (channel.updateFlags & UpdateStart) != 0 || glideNote;
        t.released = channel.keyOff != 0;
        t.instrument = static_cast<uint8_t>(channel.instrument + 1);
        // Linear periods: 64 a semitone, with the sample's tuning taken out so the note sounds at its name.
        double note = (7680 - channel.period - sample->finetune / 2) / 64.0 - sample->relativeNote;
        t.pitch = 12 + static_cast<int>(std::lround(note));
        if (cells != nullptr && cells[k].effect == 0)
            t.arpeggio = cells[k].param;
        record.tracks.push_back(t);
    }
    l.ticks.push_back(std::move(record));
}

// Loads the committed song and plays it from the start until the second jump back has played one row.
class GlimrookListening : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        song = LoadSongFile(GLIMROOK_PATH);
        if (song == nullptr)
            return;
        listening = &heard;
        ASSERT_TRUE(SndRenderStart(song, Rate));
        song->onTick = ListenTick;
        std::vector<int16_t> block(size_t(BlockFrames) * 2);
        const int64_t limit = int64_t{Rate} * 600;
        while (static_cast<int64_t>(heard.audio.size()) / 2 < limit) {
            if (heard.pass == 3 && heard.rows.size() >= 2 && heard.rows[heard.rows.size() - 2].pass == 3)
                break;
            int32_t frames = SndRenderBlock(block.data());
            ASSERT_EQ(frames, BlockFrames);
            heard.audio.insert(heard.audio.end(), block.begin(), block.end());
        }
        SndRenderStop();
        song->onTick = ModUpdateTick;
        listening = nullptr;
        if (heard.pass == 3) {
            // Up to the start of the second row after the second jump back.
            RowRecord& last = heard.rows.back();
            heard.audio.resize(size_t(last.frame) * 2);
            heard.ticks.resize(size_t(last.firstTick));
            heard.rows.pop_back();
            heard.rows.back().endFrame = last.frame;
        }
    }
    static void TearDownTestSuite()
    {
        if (song != nullptr)
            ModFreeSong(song);
        song = nullptr;
        heard = Listening{};
        stems.clear();
    }
    void SetUp() override
    {
        ASSERT_NE(song, nullptr) << "data/glimrook.xm did not load";
        ASSERT_EQ(heard.pass, 3) << "the song did not jump back twice";
    }

    // Where a row lies, for messages.
    static std::string Where(int rowIndex)
    {
        const RowRecord& r = heard.rows[size_t(rowIndex)];
        return "pass " + std::to_string(r.pass) + " o" + std::to_string(r.order) + " r" + std::to_string(r.row);
    }

    // Indices of the rows at which play jumped back to an earlier order position.
    static std::vector<int> JumpBacks()
    {
        std::vector<int> jumps;
        for (size_t k = 1; k < heard.rows.size(); ++k)
            if (heard.rows[k].pass != heard.rows[k - 1].pass)
                jumps.push_back(static_cast<int>(k));
        return jumps;
    }

    // The order positions a section covers.
    static bool InSection(const GlimrookSection& section, int order)
    {
        return order >= section.firstOrder && order < section.firstOrder + section.orderCount;
    }

    // The frames at which a section is heard, as [from, to) spans: in both passes, or in the first alone.
    static std::vector<std::pair<int64_t, int64_t>> SectionSpans(const GlimrookSection& section, bool firstPassOnly)
    {
        std::vector<std::pair<int64_t, int64_t>> spans;
        for (const RowRecord& r : heard.rows) {
            if (!InSection(section, r.order) || (firstPassOnly && r.pass != 1))
                continue;
            if (!spans.empty() && spans.back().second == r.frame)
                spans.back().second = r.endFrame;
            else
                spans.push_back({r.frame, r.endFrame});
        }
        return spans;
    }

    // Frames of the first pass, up to the first jump back: it plays every pattern.
    static int64_t FirstPassFrames()
    {
        int64_t frames = 0;
        for (const RowRecord& r : heard.rows)
            if (r.pass == 1)
                frames = r.endFrame;
        return frames;
    }

    // The first pass with only some of the song's tracks sounding, over the same frames as `heard`: loaded
    // again through the loader, with the notes, instruments, volume columns and effects of every other track
    // cleared in the loaded patterns, except the effects that steer the song (speed and tempo, jump, break,
    // pattern loop and delay, global volume), so that it keeps its time. Made once for each set of tracks.
    static const std::vector<int16_t>& Stem(const std::set<int>& tracks)
    {
        auto found = stems.find(tracks);
        if (found != stems.end())
            return found->second;
        std::vector<int16_t>& audio = stems[tracks];
        Song* alone = LoadSongFile(GLIMROOK_PATH);
        if (alone == nullptr)
            return audio;
        for (int p = 0; p < alone->patternSlotCount; ++p) {
            Pattern& pattern = alone->patterns[p];
            for (int row = 0; row < pattern.rowCount; ++row)
                for (int track = 0; track < alone->channelCount; ++track) {
                    if (tracks.count(track) != 0)
                        continue;
                    NoteCell& c = pattern.cells[row * alone->channelCount + track];
                    int sub = c.param >> 4;
                    bool steers = c.effect == 0xB || c.effect == 0xD || c.effect == 0xF || c.effect == 0x10 ||
                                  c.effect == 0x11 || (c.effect == 0xE && (sub == 6 || sub == 0xE));
                    c = steers ? NoteCell{0, 0, 0, c.effect, c.param} : NoteCell{};
                }
        }
        if (SndRenderStart(alone, Rate)) {
            const size_t wanted = size_t(FirstPassFrames()) * 2;
            audio.resize(wanted + size_t(BlockFrames) * 2);
            for (size_t at = 0; at < wanted; at += size_t(BlockFrames) * 2)
                SndRenderBlock(audio.data() + at);
            audio.resize(wanted);
            SndRenderStop();
        }
        ModFreeSong(alone);
        return audio;
    }

    // Every track but one.
    static std::set<int> AllBut(int track)
    {
        std::set<int> tracks;
        for (int k = 0; k < song->channelCount; ++k)
            if (k != track)
                tracks.insert(k);
        return tracks;
    }

    static Song* song;
    static Listening heard;
    static std::map<std::set<int>, std::vector<int16_t>> stems;
};

Song* GlimrookListening::song = nullptr;
Listening GlimrookListening::heard;
std::map<std::set<int>, std::vector<int16_t>> GlimrookListening::stems;

double Dbfs(double amplitude)
{
    return 20.0 * std::log10(std::max(amplitude, 1e-9) / FullScale);
}

// Root mean square of both channels over frames [from, to).
double Rms(const std::vector<int16_t>& audio, int64_t from, int64_t to)
{
    double sum = 0.0;
    for (int64_t k = 2 * from; k < 2 * to; ++k)
        sum += double(audio[size_t(k)]) * audio[size_t(k)];
    return to > from ? std::sqrt(sum / double(2 * (to - from))) : 0.0;
}

int Peak(const std::vector<int16_t>& audio, int64_t from, int64_t to)
{
    int peak = 0;
    for (int64_t k = 2 * from; k < 2 * to; ++k)
        peak = std::max(peak, std::abs(int(audio[size_t(k)])));
    return peak;
}

// ---- Nothing rings on ------------------------------------------------------------------------------------------

TEST_F(GlimrookListening, NoVoiceRingsOnAfterItsLastNoteOrItsRelease)
{
    struct Held {
        int noteRow = -1;     // row of the last note start
        int releaseRow = -1;  // row of the key off after it, -1 none
        int64_t noteFrame = 0;
    };
    std::vector<Held> held(size_t(song->channelCount));
    std::map<std::tuple<int, int, bool>, std::string> faults;  // (track, note row, released) -> description
    int64_t longest = 0;  // frames from a melodic note's start to the end of the last tick it is heard on
    std::string longestNote;
    for (size_t i = 0; i < heard.ticks.size(); ++i) {
        const TickRecord& tick = heard.ticks[i];
        for (int k = 0; k < song->channelCount; ++k) {
            const TrackTick& t = tick.tracks[size_t(k)];
            Held& h = held[size_t(k)];
            if (t.started) {
                h.noteRow = tick.row;
                h.releaseRow = -1;
                h.noteFrame = tick.frame;
            }
            if (t.released && h.releaseRow < 0 && h.noteRow >= 0)
                h.releaseRow = tick.row;
            if (!t.audible || !Melodic(t.instrument) || h.noteRow < 0)
                continue;
            int64_t end = i + 1 < heard.ticks.size() ? heard.ticks[i + 1].frame : heard.rows.back().endFrame;
            if (end - h.noteFrame > longest) {
                longest = end - h.noteFrame;
                longestNote = "track " + std::to_string(k) + " " + NoteName(t.pitch) + " at " + Where(h.noteRow);
            }
            int limit = t.instrument == InsChoir ? PadRingRows : MelodicRingRows;
            bool released = h.releaseRow >= 0;
            int since = tick.row - (released ? h.releaseRow : h.noteRow);
            if (since >= limit) {
                auto key = std::make_tuple(k, h.noteRow, released);
                if (faults.count(key) == 0)
                    faults[key] = "track " + std::to_string(k) + " " + NoteName(t.pitch) + " struck at " +
                                  Where(h.noteRow) + (released ? " and released at " + Where(h.releaseRow) : "") +
                                  " still sounds at " + Where(tick.row);
            }
        }
    }
    std::printf("longest tone %.1f s: %s\n", double(longest) / Rate, longestNote.c_str());
    for (const auto& fault : faults)
        ADD_FAILURE() << fault.second;
}

TEST_F(GlimrookListening, TheJumpBackFollowsASilentRowAndLandsOnOrderOneAlone)
{
    std::vector<int> jumps = JumpBacks();
    ASSERT_EQ(jumps.size(), 2u);
    for (int jump : jumps) {
        const RowRecord& before = heard.rows[size_t(jump - 1)];
        const RowRecord& after = heard.rows[size_t(jump)];
        EXPECT_EQ(after.order, song->restartPosition);
        EXPECT_EQ(after.row, 0);
        int peak = Peak(heard.audio, before.frame, before.endFrame);
        EXPECT_LT(Dbfs(peak), -60.0) << "the last row before the jump back, " << Where(jump - 1) << ", peaks at "
                                     << Dbfs(peak) << " dBFS";
        // In the first row after the jump only the voices that row starts are heard.
        int lastTick = jump + 1 < int(heard.rows.size()) ? heard.rows[size_t(jump + 1)].firstTick
                                                         : int(heard.ticks.size());
        std::vector<bool> startedHere(size_t(song->channelCount), false);
        for (int i = after.firstTick; i < lastTick; ++i)
            for (int k = 0; k < song->channelCount; ++k) {
                const TrackTick& t = heard.ticks[size_t(i)].tracks[size_t(k)];
                if (t.started)
                    startedHere[size_t(k)] = true;
                EXPECT_TRUE(!t.audible || startedHere[size_t(k)])
                    << "track " << k << " (" << NoteName(t.pitch) << ") is still heard at " << Where(jump)
                    << " tick " << i - after.firstTick << " without a note of order " << after.order;
            }
    }
}

// ---- The fir tree's pick-up -----------------------------------------------------------------------------------

// The fir-tree tune (in G) starts with an eighth on the D below its first note; every statement of it, also
// after the jump back, is heard with it: a voice starts a D two rows before the statement's first bar.
TEST_F(GlimrookListening, EveryFirTreeStatementStartsWithItsPickUp)
{
    constexpr int PickUpPitchClass = 2;  // D
    constexpr int PickUpRows = 2;
    int statements = 0, expected = 0;
    for (const GlimrookSection& section : GlimrookSections()) {
        if (section.part != GlimrookPart::FirTree)
            continue;
        expected += section.firstOrder >= song->restartPosition ? 2 : 1;  // the loop plays it again
        for (size_t k = 0; k < heard.rows.size(); ++k) {
            const RowRecord& r = heard.rows[k];
            if (r.order != section.firstOrder || r.row != section.firstBarRow || k < size_t(PickUpRows))
                continue;
            ++statements;
            // A melodic voice starts the D in the first of those rows and is heard with it before the bar.
            bool found = false;
            const TickRecord& start = heard.ticks[size_t(heard.rows[k - PickUpRows].firstTick)];
            for (size_t track = 0; track < start.tracks.size(); ++track) {
                const TrackTick& t = start.tracks[track];
                if (!t.started || !Melodic(t.instrument) || t.pitch % 12 != PickUpPitchClass)
                    continue;
                for (int i = heard.rows[k - PickUpRows].firstTick; i < r.firstTick; ++i)
                    found = found || heard.ticks[size_t(i)].tracks[track].audible;
            }
            EXPECT_TRUE(found) << "no pick-up at " << Where(int(k) - PickUpRows) << " before " << section.name
                               << " (" << Where(int(k)) << ")";
        }
    }
    EXPECT_EQ(statements, expected) << "fir-tree statements heard";
}

// ---- No held clashes -----------------------------------------------------------------------------------------

// The pitch classes (0 = C) of a semitone, a tritone or a major seventh apart.
bool Clash(int a, int b)
{
    int interval = ((a - b) % 12 + 12) % 12;
    return interval == 1 || interval == 6 || interval == 11;
}

// A clash the arrangement keeps on purpose: two voices on the named instruments sounding the named pitch
// classes together somewhere in a section of the named kind, held for a beat or longer.
struct AllowedClash {
    GlimrookPart part;
    uint8_t instrumentA, instrumentB;
    int pitchClassA, pitchClassB;
    const char* reason;
};

// The one list of such clashes, each with its reason. The tritone of a dominant seventh is no clash and
// needs no entry. Nothing else is held against another voice for a beat at present, so the list is empty;
// a new entry must say why a listener should hear that clash.
const std::vector<AllowedClash> AllowedClashes = {};

bool Allowed(GlimrookPart part, const TrackTick& a, const TrackTick& b, int pitchA, int pitchB)
{
    for (const AllowedClash& allowed : AllowedClashes) {
        if (allowed.part != part)
            continue;
        if ((a.instrument == allowed.instrumentA && b.instrument == allowed.instrumentB &&
             pitchA % 12 == allowed.pitchClassA && pitchB % 12 == allowed.pitchClassB) ||
            (b.instrument == allowed.instrumentA && a.instrument == allowed.instrumentB &&
             pitchB % 12 == allowed.pitchClassA && pitchA % 12 == allowed.pitchClassB))
            return true;
    }
    return false;
}

// The pitches a track sounds on a tick: its note, and the other two notes of an arpeggio it runs.
std::vector<int> Pitches(const TrackTick& t)
{
    std::vector<int> pitches{t.pitch};
    if (t.arpeggio != 0) {
        pitches.push_back(t.pitch + (t.arpeggio >> 4));
        pitches.push_back(t.pitch + (t.arpeggio & 15));
    }
    return pitches;
}

TEST_F(GlimrookListening, NoTwoVoicesHoldAClashForABeat)
{
    std::vector<GlimrookSection> sections = GlimrookSections();
    auto partOf = [&](int order) {
        for (const GlimrookSection& s : sections)
            if (order >= s.firstOrder && order < s.firstOrder + s.orderCount)
                return s.part;
        return GlimrookPart::Intro;
    };
    // (track a, pitch a, track b, pitch b) -> first tick of the clash running now.
    std::map<std::tuple<int, int, int, int>, int> running;
    std::set<std::string> faults;
    const int beatTicks = RowsPerBeat * song->defaultSpeed;
    for (size_t i = 0; i <= heard.ticks.size(); ++i) {
        std::map<std::tuple<int, int, int, int>, int> now;
        if (i < heard.ticks.size()) {
            const TickRecord& tick = heard.ticks[i];
            GlimrookPart part = partOf(heard.rows[size_t(tick.row)].order);
            // The chord that the choir and the bass sound, as pitch classes.
            std::set<int> chord;
            for (const TrackTick& t : tick.tracks)
                if (t.audible && (t.instrument == InsChoir || t.instrument == InsBass))
                    chord.insert(t.pitch % 12);
            // A dominant seventh sounds where the chord holds a third and a seventh of one root together with
            // that root or its fifth (the choir may leave the root to the bass, which walks to the fifth).
            auto dominantTritone = [&](int x, int y) {
                for (int root : {(x + 8) % 12, (y + 8) % 12})
                    if (chord.count((root + 4) % 12) && chord.count((root + 10) % 12) &&
                        (chord.count(root) || chord.count((root + 7) % 12)) &&
                        std::set<int>{x % 12, y % 12} == std::set<int>{(root + 4) % 12, (root + 10) % 12})
                        return true;
                return false;
            };
            for (int a = 0; a < song->channelCount; ++a)
                for (int b = a + 1; b < song->channelCount; ++b) {
                    const TrackTick& ta = tick.tracks[size_t(a)];
                    const TrackTick& tb = tick.tracks[size_t(b)];
                    if (!ta.audible || !tb.audible || !Melodic(ta.instrument) || !Melodic(tb.instrument))
                        continue;
                    for (int pa : Pitches(ta))
                        for (int pb : Pitches(tb)) {
                            if (!Clash(pa, pb) || dominantTritone(pa, pb) || Allowed(part, ta, tb, pa, pb))
                                continue;
                            auto key = std::make_tuple(a, pa, b, pb);
                            auto it = running.find(key);
                            now[key] = it == running.end() ? int(i) : it->second;
                        }
                }
        }
        for (const auto& [key, first] : running) {
            if (now.count(key) != 0)
                continue;
            int length = int(i) - first;
            if (length < beatTicks)
                continue;
            const auto& [a, pa, b, pb] = key;
            int firstRow = heard.ticks[size_t(first)].row;
            faults.insert(Where(firstRow) + ": track " + std::to_string(a) + " " + NoteName(pa) + " against track " +
                          std::to_string(b) + " " + NoteName(pb) + " for " + std::to_string(length) + " ticks");
        }
        running = std::move(now);
    }
    for (const std::string& fault : faults)
        ADD_FAILURE() << fault;
}

// ---- Loudness -------------------------------------------------------------------------------------------------

TEST_F(GlimrookListening, PeaksWithHeadroomAndTheChorusesStandOutFromTheVerse)
{
    int peak = Peak(heard.audio, 0, int64_t(heard.audio.size() / 2));
    EXPECT_GE(Dbfs(peak), -6.0);
    EXPECT_LE(Dbfs(peak), -3.0);
    EXPECT_LT(peak, 32767) << "the render clips";

    // Loudness of each section over both passes, its orders as the arrangement lists them.
    double verse = 0.0;
    std::vector<std::pair<std::string, double>> choruses;
    std::printf("peak %.2f dBFS\n", Dbfs(peak));
    for (const GlimrookSection& section : GlimrookSections()) {
        double sum = 0.0;
        int64_t frames = 0;
        for (const RowRecord& r : heard.rows)
            if (r.order >= section.firstOrder && r.order < section.firstOrder + section.orderCount) {
                double rms = Rms(heard.audio, r.frame, r.endFrame);
                sum += rms * rms * double(r.endFrame - r.frame);
                frames += r.endFrame - r.frame;
            }
        ASSERT_GT(frames, 0) << section.name << " was not heard";
        double level = Dbfs(std::sqrt(sum / double(frames)));
        std::printf("%s: %.2f dBFS RMS\n", section.name, level);
        if (section.part == GlimrookPart::Verse)
            verse = level;
        if (section.part == GlimrookPart::Chorus)
            choruses.push_back({section.name, level});
    }
    ASSERT_FALSE(choruses.empty());
    for (const auto& [name, level] : choruses)
        EXPECT_GE(level, verse + 2.0) << name << " against the verse";
}

// ---- Instruments as the mixer plays them ---------------------------------------------------------------------

// In-place radix-2 transform of a power-of-two length.
void Fft(std::vector<std::complex<double>>& x)
{
    size_t n = x.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(x[i], x[j]);
    }
    // The twiddle factors of this length, made once; products written out, since the library's complex
    // product guards against infinities and is many times slower.
    static std::map<size_t, std::vector<std::complex<double>>> twiddles;
    std::vector<std::complex<double>>& w = twiddles[n];
    if (w.empty())
        for (size_t k = 0; k < n / 2; ++k)
            w.push_back(std::polar(1.0, -2.0 * M_PI * double(k) / double(n)));
    for (size_t len = 2; len <= n; len <<= 1) {
        for (size_t k = 0; k < len / 2; ++k) {
            double wr = w[k * (n / len)].real(), wi = w[k * (n / len)].imag();
            for (size_t i = k; i < n; i += len) {
                std::complex<double> u = x[i];
                const std::complex<double>& b = x[i + len / 2];
                std::complex<double> v(b.real() * wr - b.imag() * wi, b.real() * wi + b.imag() * wr);
                x[i] = u + v;
                x[i + len / 2] = u - v;
            }
        }
    }
}

// Power spectrum of the left channel from `from` over `frames` frames (a power of two): through a Hann
// window for a held sound, or as it is for a sound that starts and ends inside the frames.
std::vector<double> PowerSpectrum(const std::vector<int16_t>& audio, int64_t from, size_t frames, bool hann)
{
    std::vector<std::complex<double>> x(frames);
    for (size_t k = 0; k < frames; ++k) {
        double window = hann ? 0.5 - 0.5 * std::cos(2.0 * M_PI * double(k) / double(frames)) : 1.0;
        size_t index = size_t(2 * (from + int64_t(k)));
        x[k] = window * (index < audio.size() ? audio[index] : 0);
    }
    Fft(x);
    std::vector<double> power(frames / 2);
    for (size_t k = 0; k < frames / 2; ++k)
        power[k] = std::norm(x[k]);
    return power;
}

// The power of a spectrum (bins up to half the rate) between two frequencies, the constant bin left out.
double BandPower(const std::vector<double>& power, double low, double high)
{
    double binHz = double(Rate) / double(2 * power.size());
    double band = 0.0;
    for (size_t k = 1; k < power.size(); ++k) {
        double hz = double(k) * binHz;
        if (hz >= low && hz < high)
            band += power[k];
    }
    return band;
}

// Share of the power between two frequencies.
double BandShare(const std::vector<double>& power, double low, double high)
{
    double total = BandPower(power, 0.0, Rate);
    return total > 0.0 ? BandPower(power, low, high) / total : 0.0;
}

// One note of one of the song's instruments, played alone through the loader, the player and the mixer for
// `seconds`: the module is written with the composer's own instrument.
std::vector<int16_t> PlayAlone(uint8_t instrumentNumber, int midi, double seconds)
{
    XmModule module;
    module.channelCount = 2;
    module.instruments.push_back(SynthesiseInstruments()[size_t(instrumentNumber - 1)]);
    XmPattern pattern = XmMakePattern(256, 2);
    XmSetCell(&pattern, 2, 0, 0, XmCell{static_cast<uint8_t>(midi - 11), 1, 0, 0, 0});
    module.patterns.push_back(pattern);
    module.orders.push_back(0);
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("glimrook_alone_" + std::to_string(getpid()) + ".xm");
    std::vector<int16_t> audio;
    if (!XmSaveModule(module, path.string().c_str()))
        return audio;
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    Song* alone = ModLoadSong(path.string().c_str(), nullptr);
    std::filesystem::remove(path);
    if (alone == nullptr || !SndRenderStart(alone, Rate)) {
        if (alone != nullptr)
            ModFreeSong(alone);
        return audio;
    }
    std::vector<int16_t> block(size_t(BlockFrames) * 2);
    while (double(audio.size()) / 2 < seconds * Rate) {
        SndRenderBlock(block.data());
        audio.insert(audio.end(), block.begin(), block.end());
    }
    SndRenderStop();
    ModFreeSong(alone);
    return audio;
}

TEST(GlimrookInstruments, TheBassKeepsEnoughAbove100HzForSmallSpeakers)
{
    for (int midi : {40, 43}) {  // E2 and G2, the most common roots
        std::vector<int16_t> audio = PlayAlone(InsBass, midi, 2.0);
        ASSERT_FALSE(audio.empty());
        // The held part: from half a second after the attack, about 0.74 s.
        std::vector<double> power = PowerSpectrum(audio, Rate / 2, 32768, true);
        double above = BandShare(power, 100.0, Rate / 2.0);
        std::printf("bass %s: %.1f %% of the held sound above 100 Hz\n", NoteName(midi).c_str(), 100.0 * above);
        EXPECT_GE(above, 0.35) << NoteName(midi);
    }
}

TEST(GlimrookInstruments, TheKickHasBodyAbove100HzAndABeaterClick)
{
    std::vector<int16_t> audio = PlayAlone(InsKick, 60, 0.5);
    ASSERT_FALSE(audio.empty());
    std::vector<double> whole = PowerSpectrum(audio, 0, 16384, false);
    std::vector<double> click = PowerSpectrum(audio, 0, 256, false);
    double above = BandShare(whole, 100.0, Rate / 2.0);
    double beater = BandShare(click, 1000.0, 3000.0);
    std::printf("kick: %.1f %% above 100 Hz, first 6 ms %.1f %% in 1-3 kHz\n", 100.0 * above, 100.0 * beater);
    EXPECT_GE(above, 0.25);
    EXPECT_GE(beater, 0.10);
}

// ---- What a phone plays, what leads, where it sits ---------------------------------------------------------------

// A fourth-order Butterworth high-pass (24 dB an octave), as two second-order sections.
struct Biquad {
    double b0, b1, b2, a1, a2;
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    double Run(double x)
    {
        double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

Biquad HighPassSection(double hz, double q)
{
    double w = 2.0 * M_PI * hz / Rate;
    double alpha = std::sin(w) / (2.0 * q);
    double a0 = 1.0 + alpha;
    double c = std::cos(w);
    return {(1.0 + c) / 2.0 / a0, -(1.0 + c) / a0, (1.0 + c) / 2.0 / a0, -2.0 * c / a0, (1.0 - alpha) / a0};
}

// A phone's speaker plays little below about 250 Hz: it stands in for one.
constexpr double PhoneSpeakerHz = 250.0;

// The mid of both channels, (left + right) / 2, as one speaker plays it: through the phone's high-pass, or
// as it is.
std::vector<double> Mid(const std::vector<int16_t>& audio, bool phone = false)
{
    Biquad first = HighPassSection(PhoneSpeakerHz, 0.54119610);
    Biquad second = HighPassSection(PhoneSpeakerHz, 1.30656296);
    std::vector<double> out(audio.size() / 2);
    for (size_t k = 0; k < out.size(); ++k) {
        double x = 0.5 * (double(audio[2 * k]) + double(audio[2 * k + 1]));
        out[k] = phone ? second.Run(first.Run(x)) : x;
    }
    return out;
}

double Energy(const std::vector<double>& x, int64_t from, int64_t to)
{
    double sum = 0.0;
    for (int64_t k = std::max<int64_t>(from, 0); k < to && k < int64_t(x.size()); ++k)
        sum += x[size_t(k)] * x[size_t(k)];
    return sum;
}

double Db(double powerRatio)
{
    return 10.0 * std::log10(std::max(powerRatio, 1e-30));
}

// Section by section over the first pass (the second plays the same patterns), through the phone: the tune's
// level is its mean square over the ticks on which it is heard, a kick hit's the mean square over its first
// 100 ms, about what the ear sums a drum hit over.
TEST_F(GlimrookListening, TheKickStaysWithin12DbOfTheTuneThroughAPhoneSpeaker)
{
    const std::vector<double> kick = Mid(Stem({TrKick}), true);
    const std::vector<double> kickWide = Mid(Stem({TrKick}));
    std::map<int, std::vector<double>> tunes;  // by track
    const int64_t hitFrames = Rate / 10;
    double phoneTook = 0.0, wide = 0.0;
    int sections = 0;
    for (const GlimrookSection& section : GlimrookSections()) {
        if (section.tuneTrack < 0)
            continue;
        if (tunes.count(section.tuneTrack) == 0)
            tunes[section.tuneTrack] = Mid(Stem({section.tuneTrack}), true);
        const std::vector<double>& tune = tunes[section.tuneTrack];
        double tuneSum = 0.0;
        int64_t tuneFrames = 0;
        std::vector<double> hits;
        for (size_t i = 0; i < heard.ticks.size(); ++i) {
            const TickRecord& tick = heard.ticks[i];
            const RowRecord& row = heard.rows[size_t(tick.row)];
            if (row.pass != 1 || !InSection(section, row.order))
                continue;
            int64_t end = i + 1 < heard.ticks.size() ? heard.ticks[i + 1].frame : heard.rows.back().endFrame;
            if (tick.tracks[size_t(section.tuneTrack)].audible) {
                tuneSum += Energy(tune, tick.frame, end);
                tuneFrames += end - tick.frame;
            }
            const TrackTick& k = tick.tracks[TrKick];
            if (k.started && k.instrument == InsKick) {
                double e = Energy(kick, tick.frame, tick.frame + hitFrames);
                hits.push_back(Db(e / double(hitFrames)));
                phoneTook += e;
                wide += Energy(kickWide, tick.frame, tick.frame + hitFrames);
            }
        }
        if (hits.empty() || tuneFrames == 0)
            continue;
        ++sections;
        double tuneLevel = Db(tuneSum / double(tuneFrames));
        std::sort(hits.begin(), hits.end());
        std::printf("%s: kick hits %.1f to %.1f dB (median %.1f) against the tune through a phone\n", section.name,
                    hits.front() - tuneLevel, hits.back() - tuneLevel, hits[hits.size() / 2] - tuneLevel);
        EXPECT_GE(hits.front(), tuneLevel - 12.0) << section.name << ": a kick hit is lost behind the tune";
        EXPECT_LE(hits.back(), tuneLevel + 12.0) << section.name << ": a kick hit drowns the tune";
    }
    std::printf("the phone speaker takes %.1f dB off the kick\n", Db(wide / phoneTook));
    EXPECT_GT(sections, 0);
}

// The power spectrum of the mid of both channels over some spans of frames, summed over Hann-windowed
// stretches of 8192 frames (bins 5.4 Hz apart) one after the other.
constexpr size_t SpectrumWindow = 8192;

std::vector<double> SummedSpectrum(const std::vector<double>& mid,
                                   const std::vector<std::pair<int64_t, int64_t>>& spans)
{
    static std::vector<double> hann;
    if (hann.empty())
        for (size_t k = 0; k < SpectrumWindow; ++k)
            hann.push_back(0.5 - 0.5 * std::cos(2.0 * M_PI * double(k) / double(SpectrumWindow)));
    std::vector<double> power(SpectrumWindow / 2, 0.0);
    std::vector<std::complex<double>> x(SpectrumWindow);
    for (const auto& [from, to] : spans)
        for (int64_t start = from; start < to; start += int64_t(SpectrumWindow)) {
            for (size_t k = 0; k < SpectrumWindow; ++k) {
                int64_t frame = start + int64_t(k);
                x[k] = frame < to && frame < int64_t(mid.size()) ? hann[k] * mid[size_t(frame)] : 0.0;
            }
            Fft(x);
            for (size_t k = 0; k < power.size(); ++k)
                power[k] += std::norm(x[k]);
        }
    return power;
}

double MidiHz(int midi)
{
    return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

// Between its lowest and its highest note (half a semitone beyond each), the tune is heard at least 2 dB above
// all the other tracks together, section by section (the first pass; the second plays the same patterns).
TEST_F(GlimrookListening, TheTuneLeadsItsOwnPitchBandInEverySection)
{
    std::map<int, std::vector<double>> tunes, rests;  // by the tune's track
    int sections = 0;
    for (const GlimrookSection& section : GlimrookSections()) {
        if (section.tuneTrack < 0)
            continue;
        int lowest = 999, highest = -1;
        for (const TickRecord& tick : heard.ticks) {
            const RowRecord& row = heard.rows[size_t(tick.row)];
            const TrackTick& t = tick.tracks[size_t(section.tuneTrack)];
            if (row.pass == 1 && InSection(section, row.order) && t.started && Melodic(t.instrument)) {
                lowest = std::min(lowest, t.pitch);
                highest = std::max(highest, t.pitch);
            }
        }
        ASSERT_GE(highest, 0) << section.name << ": its tune is not heard";
        ++sections;
        double low = MidiHz(lowest) * std::pow(2.0, -0.5 / 12.0);
        double high = MidiHz(highest) * std::pow(2.0, 0.5 / 12.0);
        std::vector<std::pair<int64_t, int64_t>> spans = SectionSpans(section, true);
        if (tunes.count(section.tuneTrack) == 0) {
            tunes[section.tuneTrack] = Mid(Stem({section.tuneTrack}));
            rests[section.tuneTrack] = Mid(Stem(AllBut(section.tuneTrack)));
        }
        double tune = BandPower(SummedSpectrum(tunes[section.tuneTrack], spans), low, high);
        double rest = BandPower(SummedSpectrum(rests[section.tuneTrack], spans), low, high);
        double lead = Db(tune / rest);
        std::printf("%s: the tune leads %s-%s by %.1f dB\n", section.name, NoteName(lowest).c_str(),
                    NoteName(highest).c_str(), lead);
        EXPECT_GE(lead, 2.0) << section.name << ": the tune does not lead its band (" << NoteName(lowest) << " to "
                             << NoteName(highest) << ")";
    }
    EXPECT_GT(sections, 0);
}

TEST_F(GlimrookListening, LeftAndRightAreBalancedInEverySection)
{
    for (const GlimrookSection& section : GlimrookSections()) {
        double left = 0.0, right = 0.0;
        for (const auto& [from, to] : SectionSpans(section, false))
            for (int64_t k = from; k < to; ++k) {
                left += double(heard.audio[size_t(2 * k)]) * heard.audio[size_t(2 * k)];
                right += double(heard.audio[size_t(2 * k + 1)]) * heard.audio[size_t(2 * k + 1)];
            }
        double balance = Db(left / right);
        std::printf("%s: left %+.2f dB against right\n", section.name, balance);
        EXPECT_LE(std::fabs(balance), 0.5) << section.name << " leans " << (balance > 0 ? "left" : "right");
    }
}

// The low end carries its share: at least 12 % of the energy of the first pass lies below 100 Hz (the bass and
// the kick's body), where game modules hold far more and the song once held 9 %.
TEST_F(GlimrookListening, TheLowEndCarriesItsShare)
{
    std::vector<double> power = SummedSpectrum(Mid(heard.audio), {{0, FirstPassFrames()}});
    double below = BandPower(power, 0.0, 100.0);
    double all = BandPower(power, 0.0, Rate / 2.0);
    std::printf("%.1f %% of the energy below 100 Hz\n", 100.0 * below / all);
    EXPECT_GE(below / all, 0.12);
}

}  // namespace
