// The arrangement: which notes the twelve tracks play, section by section, written by note name.
//
// Time: 4 rows to a beat at speed 6 and 125 BPM (0.12 s a row). The fir-tree song is in 2/4 (8 rows to a
// bar, a 64-row pattern holds the whole tune after its pick-up); Jingle Bells is in 4/4 (16 rows to a bar,
// its verse and its chorus take four patterns each). Both are in G major; the last chorus and the ending
// move up to A.
//
// Order of play: intro, fir tree twice (celesta, then lead), a short drum fill cut by a pattern break,
// Jingle Bells verse and chorus, the fir tree twice more (lead duet, then celesta turning to E7), the chorus
// in A, and an ending that slows down, dies away and jumps back to the first fir-tree pattern (the restart
// position). That pattern opens with the tune's pick-up, so the intro and the ending are an eighth short of
// their last bar and the jump back lands on the pick-up.
//
// The drums phrase: in phrases of four bars, with a fill in the last beat of each (taken in turn from a few
// kinds), accents that follow the bar, a kick between the beats now and then and some off-beat hats a tick
// late. A repeat of a tune varies its arrangement (the chorus's second half, the last chorus against the
// first, the duet against the lead's statement), and the tune leads its own pitch range: the second voice
// sings softer and just left of the centre, the celesta beside it just right.
//
// What a listener must not hear, and the song's tests check: a note ringing on after its section (every
// pitched track is released at the end of each section; the celesta dies away by itself), a semitone,
// tritone or major seventh held against another voice for a beat (the chords change where the tunes need
// it, the second voice and the echo step aside), or anything left sounding when the song jumps back.
#include "tools/composer/composer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

namespace {

// ---- Tracks, levels and cells --------------------------------------------------------------------------------

constexpr int TrackCount = GlimrookTrackCount;

constexpr int RowsPerPattern = 64;
constexpr int RowsPerBeat = 4;

// Volumes (0..64) of the parts that do not play at their sample's own volume. Kept together so the mix can
// be rebalanced after the song has been rendered.
constexpr int EchoVolume = 14;
constexpr int CounterVolume = 18;
constexpr int DoubleVolume = 20;
constexpr int DescantVolume = 22;
constexpr int HarmonyVolume = 16;       // a third under the tune
constexpr int HarmonyAboveVolume = 14;  // a third over it, where it is heard most
constexpr int HarmonyPanning = 0x68;
constexpr int BellPanning = 0x98;       // the celesta beside the tune, opposite the second voice
constexpr int SoftBassVolume = 34;
constexpr int OctaveBassVolume = 32;
// The verse is lighter than the choruses, which sound at the samples' own volumes.
constexpr int VerseLeadVolume = 30;
constexpr int VersePadVolume = 18;
constexpr int EndingPadVolume = 18;
constexpr int BreakdownPadVolume = 36;
constexpr int DuetPadVolume = 20;  // under two voices the choir steps back
constexpr int VerseBassVolume = 40;
constexpr int SoftHatVolume = 14;
constexpr int HatVolume = 24;
constexpr int OpenHatVolume = 20;
constexpr int SleighSoft = 12;
constexpr int SleighLoud = 24;
constexpr int PadSwellFrom = 8;

// XM effect numbers.
constexpr uint8_t FxArpeggio = 0x0;
constexpr uint8_t FxPortaUp = 0x1;
constexpr uint8_t FxPortaDown = 0x2;
constexpr uint8_t FxTonePorta = 0x3;
constexpr uint8_t FxVibrato = 0x4;
constexpr uint8_t FxSetPanning = 0x8;
constexpr uint8_t FxVolumeSlide = 0xA;
constexpr uint8_t FxPositionJump = 0xB;
constexpr uint8_t FxSetVolume = 0xC;
constexpr uint8_t FxPatternBreak = 0xD;
constexpr uint8_t FxExtended = 0xE;
constexpr uint8_t FxSpeedTempo = 0xF;
constexpr uint8_t ExRetrigger = 0x90;
constexpr uint8_t ExNoteCut = 0xC0;
constexpr uint8_t ExNoteDelay = 0xD0;

// Volume-column bytes.
static uint8_t VolumeByte(int volume)
{
    return static_cast<uint8_t>(0x10 + volume);
}
constexpr uint8_t VolSlideDown = 0x60;  // + amount per tick
constexpr uint8_t VolPanning = 0xC0;    // + panning / 16

constexpr uint8_t KeyOffNote = 97;

static void Fail(const std::string& message)
{
    std::fprintf(stderr, "composer: %s\n", message.c_str());
    std::exit(2);
}

// A stretch of the song as one block of rows, cut into patterns when it joins the song.
struct Section {
    int rows;
    std::vector<int> patternRows;  // rows of each pattern it is cut into; they add up to `rows`
    std::vector<XmCell> cells;     // rows x TrackCount
    int firstBar = 0;              // row at which its first bar begins
};

// A section of whole 64-row patterns, or of one pattern of another length.
static Section MakeSection(int rows)
{
    Section section;
    section.rows = rows;
    if (rows % RowsPerPattern == 0)
        section.patternRows.assign(size_t(rows / RowsPerPattern), RowsPerPattern);
    else
        section.patternRows.push_back(rows);
    section.cells.assign(size_t(rows) * TrackCount, XmCell{});
    return section;
}

static XmCell& At(Section& section, int row, int track)
{
    if (row < 0 || row >= section.rows || track < 0 || track >= TrackCount)
        Fail("cell outside its section: row " + std::to_string(row));
    return section.cells[size_t(row) * TrackCount + size_t(track)];
}

// The file's note for a MIDI pitch: C-4 (file note 49) is middle C (MIDI 60).
static uint8_t FileNote(int midi)
{
    int note = midi - 11;
    if (note < 1 || note > 96)
        Fail("note out of range: MIDI " + std::to_string(midi));
    return static_cast<uint8_t>(note);
}

// A note with its instrument; volume 0..64 goes into the volume column, -1 leaves the sample's volume.
static void PutNote(Section& section, int row, int track, int midi, uint8_t instrument, int volume = -1)
{
    XmCell& cell = At(section, row, track);
    cell.note = FileNote(midi);
    cell.instrument = instrument;
    if (volume >= 0)
        cell.volume = VolumeByte(volume);
}

static void PutEffect(Section& section, int row, int track, uint8_t effect, uint8_t param)
{
    XmCell& cell = At(section, row, track);
    if (cell.effect != 0 || cell.param != 0)
        Fail("two effects in one cell at row " + std::to_string(row));
    cell.effect = effect;
    cell.param = param;
}

static void PutVolumeColumn(Section& section, int row, int track, uint8_t value)
{
    At(section, row, track).volume = value;
}

static void PutKeyOff(Section& section, int row, int track)
{
    if (row < section.rows)
        At(section, row, track).note = KeyOffNote;
}

// ---- Melodies by name ----------------------------------------------------------------------------------------

// "C#5" -> 73; names use # and b, octave 4 holds middle C.
static int ParsePitch(const std::string& name)
{
    static const int letterSemitone[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    if (name.size() < 2 || name[0] < 'A' || name[0] > 'G')
        Fail("bad note name " + name);
    int semitone = letterSemitone[name[0] - 'A'];
    size_t k = 1;
    if (name[k] == '#') {
        ++semitone;
        ++k;
    } else if (name[k] == 'b') {
        --semitone;
        ++k;
    }
    if (k + 1 != name.size() || name[k] < '0' || name[k] > '8')
        Fail("bad note name " + name);
    return 12 * (name[k] - '0' + 1) + semitone;
}

struct MelodyNote {
    int midi;  // -1 = rest
    int row;   // from the start of the melody
    int rows;
};

// "B4:2 A4:2 r:4 | G4:8": pitch and length in rows; r is a rest, | is a bar line for the reader.
static std::vector<MelodyNote> ParseMelody(const char* text)
{
    std::vector<MelodyNote> notes;
    int row = 0;
    const char* p = text;
    while (*p != 0) {
        while (*p == ' ' || *p == '|')
            ++p;
        if (*p == 0)
            break;
        const char* start = p;
        while (*p != 0 && *p != ' ')
            ++p;
        std::string token(start, p);
        size_t colon = token.find(':');
        if (colon == std::string::npos)
            Fail("melody token without length: " + token);
        int rows = std::atoi(token.c_str() + colon + 1);
        if (rows <= 0)
            Fail("melody token without length: " + token);
        std::string pitch = token.substr(0, colon);
        notes.push_back({pitch == "r" ? -1 : ParsePitch(pitch), row, rows});
        row += rows;
    }
    return notes;
}

// The diatonic note `steps` scale steps below (negative) or above a pitch, in the major key on `tonic`.
static int DiatonicShift(int midi, int tonic, int steps)
{
    static const int major[7] = {0, 2, 4, 5, 7, 9, 11};
    int offset = ((midi - tonic) % 12 + 12) % 12;
    int degree = -1;
    for (int d = 0; d < 7; ++d)
        if (major[d] == offset)
            degree = d;
    if (degree < 0)
        return midi - 3;  // a chromatic note: a minor third
    int octaveBase = midi - offset;
    int target = degree + steps;
    int octaves = target >= 0 ? target / 7 : -((-target + 6) / 7);
    int wrapped = target - 7 * octaves;
    return octaveBase + 12 * octaves + major[wrapped];
}

struct MelodyStyle {
    uint8_t instrument = InsLead;
    int transpose = 0;
    int volume = -1;          // volume column per note, -1 = sample's own
    int vibratoFrom = -1;     // rows into a note from which vibrato runs (notes long enough), -1 = none
    uint8_t vibrato = 0x34;   // speed 3, depth 4
    bool keyOffRests = true;  // release the note at a rest
    int panEffect = -1;       // set panning (8xx) with every note, -1 = none
};

static void PlaceMelody(Section& section, int track, int startRow, const std::vector<MelodyNote>& melody,
                        const MelodyStyle& style)
{
    for (const MelodyNote& note : melody) {
        int row = startRow + note.row;
        if (row >= section.rows)
            break;
        if (note.midi < 0) {
            if (style.keyOffRests)
                PutKeyOff(section, row, track);
            continue;
        }
        PutNote(section, row, track, note.midi + style.transpose, style.instrument, style.volume);
        if (style.panEffect >= 0)
            PutEffect(section, row, track, FxSetPanning, static_cast<uint8_t>(style.panEffect));
        if (style.vibratoFrom > 0 && note.rows > style.vibratoFrom + 1)
            for (int r = style.vibratoFrom; r < note.rows && row + r < section.rows; ++r)
                PutEffect(section, row + r, track, FxVibrato, r == style.vibratoFrom ? style.vibrato : 0);
    }
}

// ---- Chords --------------------------------------------------------------------------------------------------

struct Chord {
    const char* name;
    int pad[3];  // choir voicing, MIDI
    int root;    // bass
    int fifth;
    uint8_t arpeggio;  // shimmer of a celesta holding the chord's root: semitones of its third and fifth
};

// Voicings in G major, kept close together so that the pad voices move little between chords. The bass
// keeps below about A2, so that most of its notes sound under 100 Hz, where the low end of the song lives;
// the fifth lies under the root where the root is high.
static const Chord ChordTable[] = {
    {"G", {55, 59, 62}, 43, 38, 0x47},   // G3 B3 D4; G2, D2
    {"Em", {55, 59, 64}, 40, 35, 0x37},  // G3 B3 E4; E2, B1
    {"C", {55, 60, 64}, 36, 43, 0x47},   // G3 C4 E4; C2, G2
    {"Cm", {55, 60, 63}, 36, 43, 0x37},  // G3 C4 Eb4
    {"D", {54, 57, 62}, 38, 45, 0x47},   // F#3 A3 D4; D2, A2
    {"D7", {54, 57, 60}, 38, 45, 0x47},  // F#3 A3 C4
    {"Am", {57, 60, 64}, 45, 40, 0x37},  // A3 C4 E4; A2, E2
    {"A7", {55, 61, 64}, 45, 40, 0x47},  // G3 C#4 E4
    {"E7", {56, 59, 62}, 40, 35, 0x47},  // G#3 B3 D4
};

static const Chord& FindChord(const std::string& name)
{
    for (const Chord& chord : ChordTable)
        if (name == chord.name)
            return chord;
    Fail("unknown chord " + name);
    return ChordTable[0];
}

// One chord held from `row` (of its section) for `rows` rows.
struct ChordSpan {
    const Chord* chord;
    int row;
    int rows;
};

// "G G Em D7:8 D:8" from `startRow` on: a chord lasts `unitRows` rows, or the rows written after a colon.
static std::vector<ChordSpan> ParseChords(const char* text, int unitRows, int startRow = 0)
{
    std::vector<ChordSpan> chords;
    std::string word;
    int row = startRow;
    for (const char* p = text;; ++p) {
        if (*p == ' ' || *p == '|' || *p == 0) {
            if (!word.empty()) {
                size_t colon = word.find(':');
                int rows = colon == std::string::npos ? unitRows : std::atoi(word.c_str() + colon + 1);
                if (rows <= 0)
                    Fail("chord without length: " + word);
                chords.push_back({&FindChord(word.substr(0, colon)), row, rows});
                row += rows;
            }
            word.clear();
            if (*p == 0)
                break;
        } else {
            word += *p;
        }
    }
    return chords;
}

// The pitch classes (0 = C) of a chord moved by `transpose` semitones.
static std::vector<int> ChordTones(const Chord& chord, int transpose)
{
    std::vector<int> tones;
    for (int midi : {chord.root, chord.pad[0], chord.pad[1], chord.pad[2]})
        tones.push_back(((midi + transpose) % 12 + 12) % 12);
    return tones;
}

static bool HasTone(const std::vector<int>& tones, int midi)
{
    for (int tone : tones)
        if (tone == midi % 12)
            return true;
    return false;
}

// A semitone, a tritone or a major seventh apart, in any octave: what rubs when held.
static bool Rubs(int a, int b)
{
    int interval = ((a - b) % 12 + 12) % 12;
    return interval == 1 || interval == 6 || interval == 11;
}

// The choir holds each chord; a pad voice is struck again when its own note changes, and where holding it
// on through the next chord would make it last longer than two bars of 4/4.
constexpr int PadLongestRows = 32;

static void PlacePad(Section& section, const std::vector<ChordSpan>& chords, int transpose, int volume = -1)
{
    int held[3] = {-1, -1, -1};
    int since[3] = {0, 0, 0};
    for (const ChordSpan& span : chords)
        for (int v = 0; v < 3; ++v) {
            int midi = span.chord->pad[v] + transpose;
            if (midi == held[v] && span.row + span.rows - since[v] <= PadLongestRows)
                continue;
            held[v] = midi;
            since[v] = span.row;
            PutNote(section, span.row, TrPad1 + v, midi, InsChoir, volume);
        }
}

// Spreads the three pad voices across the stereo field (left, centre, right): with the volume column where
// it is free, else with the set-panning effect where that is free.
static void SpreadPad(Section& section)
{
    const uint8_t spread[3] = {0x5, 0x8, 0xB};
    for (int row = 0; row < section.rows; ++row)
        for (int v = 0; v < 3; ++v) {
            XmCell& cell = At(section, row, TrPad1 + v);
            if (cell.note == 0 || cell.note == KeyOffNote)
                continue;
            if (cell.volume == 0)
                cell.volume = VolPanning | spread[v];
            else if (cell.effect == 0 && cell.param == 0)
                PutEffect(section, row, TrPad1 + v, FxSetPanning, static_cast<uint8_t>(spread[v] << 4));
        }
}

// One bass note a beat: the root where the chord changes, otherwise root and fifth in turn.
static void PlaceBass(Section& section, const std::vector<ChordSpan>& chords, int transpose, int volume = -1,
                      bool everyOtherBeat = false)
{
    const Chord* previous = nullptr;
    bool onRoot = false;
    int beat = 0;
    for (const ChordSpan& span : chords)
        for (int r = 0; r < span.rows; r += RowsPerBeat, ++beat) {
            onRoot = span.chord != previous ? true : !onRoot;
            previous = span.chord;
            if (everyOtherBeat && beat % 2 == 1)
                continue;
            int midi = (onRoot ? span.chord->root : span.chord->fifth) + transpose;
            PutNote(section, span.row + r, TrBass, midi, InsBass, volume);
        }
}

// A second voice beside a melody, note by note: a diatonic third below it, or above it. A note of a beat or
// longer whose third would rub against the chord under it (a semitone, tritone or major seventh; shorter
// ones pass), and every note of two beats or more and the melody's last take the nearest chord note at least
// a minor third away on the same side instead, so that every held note and the close land on the chord.
static std::vector<MelodyNote> Harmony(const std::vector<MelodyNote>& melody, int startRow,
                                       const std::vector<ChordSpan>& chords, int transpose, int tonic, bool above)
{
    const int side = above ? 1 : -1;
    std::vector<MelodyNote> voice = melody;
    int lastNote = -1;
    for (size_t k = 0; k < melody.size(); ++k)
        if (melody[k].midi >= 0)
            lastNote = int(k);
    for (size_t k = 0; k < melody.size(); ++k) {
        const MelodyNote& note = melody[k];
        if (note.midi < 0)
            continue;
        int midi = note.midi + transpose;
        // Every chord sounding under the note.
        std::vector<std::vector<int>> under;
        for (const ChordSpan& span : chords)
            if (span.row < startRow + note.row + note.rows && span.row + span.rows > startRow + note.row)
                under.push_back(ChordTones(*span.chord, transpose));
        auto fits = [&](int candidate, bool mustBeChordNote) {
            for (const std::vector<int>& tones : under) {
                if (HasTone(tones, candidate))
                    continue;
                if (mustBeChordNote)
                    return false;
                for (int tone : tones)
                    if (Rubs(candidate, tone))
                        return false;
            }
            return true;
        };
        bool held = note.rows >= 2 * RowsPerBeat || int(k) == lastNote;
        int third = DiatonicShift(midi, tonic + transpose, 2 * side);
        int chosen = third;
        if ((note.rows >= RowsPerBeat || held) && !fits(third, held)) {
            for (int away : {3, 4, 5, 7, 8, 9})
                if (fits(midi + side * away, true)) {
                    chosen = midi + side * away;
                    break;
                }
        }
        voice[k].midi = chosen - transpose;
    }
    return voice;
}

// The second voice as it sings beside the tune: softer than the tune and a little left of the centre, so
// that the tune stays in front and the mix stays balanced (the celesta answers a little right).
static MelodyStyle HarmonyStyle(int transpose, bool above)
{
    MelodyStyle style;
    style.transpose = transpose;
    style.volume = above ? HarmonyAboveVolume : HarmonyVolume;
    style.panEffect = HarmonyPanning;
    return style;
}

// ---- Drums ---------------------------------------------------------------------------------------------------

constexpr int KickNote = 60;        // C-4: the drums play at the rate they were made at
constexpr int ClosedHatNote = 60;
constexpr int OpenHatNote = 62;
constexpr int SleighNote = 60;

static void Kick(Section& section, int row, int volume = -1)
{
    PutNote(section, row, TrKick, KickNote, InsKick, volume);
}

static void Snare(Section& section, int row, int volume = -1)
{
    PutNote(section, row, TrSnare, KickNote, InsSnare, volume);
}

static void Hat(Section& section, int row, int volume, bool open = false)
{
    PutNote(section, row, TrHat, open ? OpenHatNote : ClosedHatNote, InsHiHat, volume);
}

static void Sleigh(Section& section, int row, int volume)
{
    PutNote(section, row, TrSleigh, SleighNote, InsSleigh, volume);
}

// Accents: the kick on the first beat of a bar strikes full, on its third beat (or on the second bar of a pair
// in 2/4) softer, and one that slips in between softer still; the hats lean on the bar's first eighth.
constexpr int KickAccent = 64;
constexpr int KickSoft = 58;
constexpr int KickGhost = 50;
constexpr int HatAccent = 28;
constexpr int SixteenthHatVolume = 9;

// A hi-hat stroke a tick late: the little drag of a hand, on off-beats only, so that the tune's beats stay on
// the grid.
static void Late(Section& section, int row, int track)
{
    PutEffect(section, row, track, FxExtended, ExNoteDelay | 1);
}

// A snare roll over the last beat of a bar ending at `endRow`: retriggered twice, then three times a row.
static void SnareRoll(Section& section, int endRow)
{
    for (int r = endRow - 4; r < endRow; ++r) {
        Snare(section, r, 28 + 6 * (r - endRow + 4));
        PutEffect(section, r, TrSnare, FxExtended, ExRetrigger | (r < endRow - 2 ? 3 : 2));
    }
}

// How a phrase of four bars ends: its last beat, the four rows from `row`, played as a fill.
enum class DrumFill {
    Roll,        // the snare rolls (retrigger), growing
    Sixteenths,  // four snare strokes growing, a kick under the first
    Tumble,      // snare, kick, snare, snare
    Stop,        // kick and open hat together, then a snare pick-up on the last sixteenth
    HatRun,      // four closed hats growing: the fill of a quiet section
};

static void PlayFill(Section& section, int row, DrumFill fill)
{
    switch (fill) {
    case DrumFill::Roll:
        SnareRoll(section, row + RowsPerBeat);
        break;
    case DrumFill::Sixteenths:
        Kick(section, row, KickSoft);
        for (int r = 0; r < 4; ++r)
            Snare(section, row + r, 30 + 8 * r);
        break;
    case DrumFill::Tumble:
        Snare(section, row, 48);
        Kick(section, row + 1, KickGhost);
        Snare(section, row + 2, 40);
        Snare(section, row + 3, 52);
        break;
    case DrumFill::Stop:
        Kick(section, row, KickAccent);
        Hat(section, row, OpenHatVolume + 6, true);
        Snare(section, row + 3, 40);
        break;
    case DrumFill::HatRun:
        for (int r = 0; r < 4; ++r)
            Hat(section, row + r, SoftHatVolume + 3 * r);
        break;
    }
}

// The fill of the phrase that ends with bar `bar` (counted from 0) of a run of phrases: one of `fills` in
// turn, or none where the bar does not end a phrase.
static bool PhraseFill(int bar, std::initializer_list<DrumFill> fills, DrumFill* fill)
{
    if (bar % 4 != 3 || fills.size() == 0)
        return false;
    *fill = fills.begin()[size_t(bar / 4) % fills.size()];
    return true;
}

// 2/4 march in phrases of four bars: kick on the bar (every other bar softer), snare on the second beat,
// closed hats on the off-beats with a ghost hat a sixteenth late (note delay) before each bar line; with
// `extraKicks` a kick on the last eighth of each phrase's second bar. The last beat of every fourth bar is
// a fill, taking `fills` in turn.
static void MarchDrums(Section& section, int startRow, int bars, bool extraKicks, std::initializer_list<DrumFill> fills)
{
    for (int b = 0; b < bars; ++b) {
        int row = startRow + 8 * b;
        DrumFill fill = DrumFill::Roll;
        bool ends = PhraseFill(b, fills, &fill);
        Kick(section, row, b % 2 == 0 ? KickAccent : KickSoft);
        if (extraKicks && b % 4 == 1)
            Kick(section, row + 6, KickGhost);
        Hat(section, row + 2, b % 2 == 0 ? HatAccent : HatVolume);
        if (ends) {
            PlayFill(section, row + 4, fill);
            continue;
        }
        Snare(section, row + 4);
        Hat(section, row + 6, HatVolume);
        Hat(section, row + 7, SoftHatVolume);
        PutEffect(section, row + 7, TrHat, FxExtended, ExNoteDelay | 3);
    }
}

// The hats of a 4/4 groove.
enum class HatStyle {
    Closed,          // closed on the eighths, an open one closing every fourth bar
    OpenAfterSnare,  // the off-beats after the snare open
    Sixteenths,      // closed on every sixteenth, the eighths louder
};

struct Groove {
    HatStyle hats = HatStyle::Closed;
    bool extraKicks = false;  // a kick on the last eighth of a phrase's second bar and after the snare in its third
};

// 4/4 in phrases of four bars: kick on 1 (full) and 3 (softer), snare on 2 and 4, hats as the groove says
// (the bar's first eighth leaning, every other bar's closed off-beats a tick late); the last beat of every
// fourth bar is a fill, taking `fills` in turn.
static void FourFourDrums(Section& section, int startRow, int bars, const Groove& groove,
                          std::initializer_list<DrumFill> fills)
{
    for (int b = 0; b < bars; ++b) {
        int row = startRow + 16 * b;
        DrumFill fill = DrumFill::Roll;
        bool ends = PhraseFill(b, fills, &fill);
        Kick(section, row, KickAccent);
        Kick(section, row + 8, KickSoft);
        if (groove.extraKicks && b % 4 == 1)
            Kick(section, row + 14, KickGhost);
        if (groove.extraKicks && b % 4 == 2)
            Kick(section, row + 6, KickGhost);
        Snare(section, row + 4);
        if (!ends)
            Snare(section, row + 12);
        for (int e = 0; e < 8; ++e) {
            int r = row + 2 * e;
            if (ends && e >= 6)
                break;
            bool offBeat = e % 2 == 1;
            bool open = (groove.hats == HatStyle::OpenAfterSnare && (e == 3 || e == 7)) ||
                        (groove.hats == HatStyle::Closed && b % 4 == 3 && e == 7);
            int volume = e == 0 ? HatAccent : !offBeat ? HatVolume : open ? OpenHatVolume : SoftHatVolume;
            Hat(section, r, volume, open);
            if (offBeat && !open && b % 2 == 1)
                Late(section, r, TrHat);
            if (groove.hats == HatStyle::Sixteenths)
                Hat(section, r + 1, SixteenthHatVolume);
        }
        if (ends)
            PlayFill(section, row + 12, fill);
    }
}

// The breakdown's drums: the kick alone on every beat (the bar's first full, its third a little softer, the
// others softer still), and the last bar gathering the band again: snare eighths growing, then a roll.
static void BreakdownDrums(Section& section, int startRow, int bars)
{
    for (int b = 0; b < bars; ++b) {
        int row = startRow + 16 * b;
        for (int beat = 0; beat < 4; ++beat)
            Kick(section, row + 4 * beat, beat == 0 ? KickAccent : beat == 2 ? KickSoft : KickGhost);
    }
    int last = startRow + 16 * (bars - 1);
    for (int r = 0; r < 12; r += 2)
        Snare(section, last + r, 14 + 4 * r);
    SnareRoll(section, last + 16);
}

// Sleigh bells on every eighth, the beats louder.
static void SleighEighths(Section& section, int startRow, int rows, int loud, int soft)
{
    for (int r = 0; r < rows; r += 2)
        Sleigh(section, startRow + r, r % RowsPerBeat == 0 ? loud : soft);
}

// ---- The tunes -----------------------------------------------------------------------------------------------

// The fir-tree song (L. Bekman, 1905), one tune in eight bars of 2/4 after its pick-up (an eighth, the D
// below the first B). The pick-up of a statement is written where it belongs: in the two rows before the
// statement's first bar, and at the start of the first fir-tree pattern, where the jump back lands.
static const char* const FirTree =
    "B4:2 B4:2 A4:2 B4:2 | G4:2 D4:2 D4:2 D4:2 | B4:2 B4:2 C5:2 A4:2 | D5:6 D5:2 | "
    "E5:2 E5:2 C5:2 C5:2 | B4:2 D5:2 B4:2 G4:2 | A4:2 C5:2 B4:2 A4:2 | G4:6 r:2";
static const char* const FirTreeChords = "G G G G Em D7 D D C C G G Am D7 G G";  // one a beat
constexpr int FirTreePickUp = 62;  // MIDI D4, an octave up on the celesta
constexpr int PickUpRows = 2;
constexpr int FirTreeRows = 64;

// Jingle Bells (J. L. Pierpont, 1857), verse and chorus, 16 bars each. The chords change with the bar, or
// with the half bar or the beat where a melody note would otherwise hold a semitone, tritone or major
// seventh against them for a beat.
static const char* const JingleVerse =
    "D4:4 B4:4 A4:4 G4:4 | D4:12 D4:2 D4:2 | D4:4 B4:4 A4:4 G4:4 | E4:16 | "
    "E4:4 C5:4 B4:4 A4:4 | F#4:16 | D5:4 D5:4 C5:4 A4:4 | B4:16 | "
    "D4:4 B4:4 A4:4 G4:4 | D4:16 | D4:4 B4:4 A4:4 G4:4 | E4:12 E4:4 | "
    "E4:4 C5:4 B4:4 A4:4 | D5:4 D5:4 D5:4 D5:4 | E5:4 D5:4 C5:4 A4:4 | G4:8 D5:8";
static const char* const JingleVerseChords =
    "G G G C | Am:8 D:8 D D7 G | G G G C | Am:8 D:8 D7 D7 G";  // a bar each unless written
static const char* const JingleChorus =
    "B4:4 B4:4 B4:8 | B4:4 B4:4 B4:8 | B4:4 D5:4 G4:6 A4:2 | B4:16 | "
    "C5:4 C5:4 C5:6 C5:2 | C5:4 B4:4 B4:4 B4:2 B4:2 | B4:4 A4:4 A4:4 B4:4 | A4:8 D5:8 | "
    "B4:4 B4:4 B4:8 | B4:4 B4:4 B4:8 | B4:4 D5:4 G4:6 A4:2 | B4:16 | "
    "C5:4 C5:4 C5:6 C5:2 | C5:4 B4:4 B4:4 B4:2 B4:2 | D5:4 D5:4 C5:4 A4:4 | G4:16";
static const char* const JingleChorusChords =
    "G G G G | C C:4 G:12 A7 D7 | G G G G | C C:4 G:12 D7 G";
// A descant for the celesta over the chorus, chord notes an octave and more above the tune in half and whole
// bars: it falls where the tune rises and leans on the D7's seventh before each return to G.
static const char* const JingleChorusDescant =
    "D6:16 | E6:8 D6:8 | B5:8 G5:8 | A5:8 B5:8 | "
    "E6:8 C6:8 | E6:4 D6:12 | E6:16 | D6:8 C6:8 | "
    "B5:16 | D6:8 E6:8 | D6:8 B5:8 | G5:8 D6:8 | "
    "G5:8 C6:8 | E6:4 D6:12 | A5:8 C6:8 | B5:16";

constexpr int TonicG = 55;
constexpr int UpToA = 2;  // the last chorus and the ending, in A

// The chorus's last bar when the fir tree follows: the long G gives its last eighth to the pick-up.
static std::string ChorusIntoFirTree()
{
    std::string tune = JingleChorus;
    tune.replace(tune.rfind("G4:16"), 5, "G4:14 D4:2");
    return tune;
}

// A celesta "ding" at the start of each chord that holds the chord's root and trills through the chord
// with the arpeggio effect for three rows, released a beat later.
static void ChordShimmer(Section& section, const std::vector<ChordSpan>& chords, int transpose, int volume)
{
    for (const ChordSpan& span : chords) {
        int root = 72 + span.chord->root % 12;  // the root between E5 and D#6
        if (root < 76)
            root += 12;
        PutNote(section, span.row, TrEcho, root + transpose, InsCelesta, volume);
        for (int r = 0; r < 3; ++r)
            PutEffect(section, span.row + r, TrEcho, FxArpeggio, span.chord->arpeggio);
        if (span.rows > RowsPerBeat)
            PutKeyOff(section, span.row + RowsPerBeat, TrEcho);
    }
}

// The celesta's echo: the melody again three rows later, softer, thrown left and right in turn. An echo
// note that would rub (a semitone, tritone or major seventh) against a melody note or a chord it meets is
// left out, and the echo before it is cut there. The melody and the chords are in the song's key;
// `transpose` moves the echo by whole octaves only.
static void PlaceEcho(Section& section, int startRow, const std::vector<MelodyNote>& melody,
                      const std::vector<ChordSpan>& chords, int transpose)
{
    constexpr int Delay = 3;
    bool left = true;
    for (size_t k = 0; k < melody.size(); ++k) {
        const MelodyNote& note = melody[k];
        int row = startRow + note.row + Delay;
        if (note.midi < 0 || row >= section.rows)
            continue;
        int until = row + note.rows;  // the echo sounds until the next echo note
        for (size_t n = k + 1; n < melody.size(); ++n)
            if (melody[n].midi >= 0) {
                until = startRow + melody[n].row + Delay;
                break;
            }
        bool rubs = false;
        for (const MelodyNote& other : melody)
            if (other.midi >= 0 && startRow + other.row < until && startRow + other.row + other.rows > row &&
                Rubs(other.midi, note.midi))
                rubs = true;
        for (const ChordSpan& span : chords)
            if (span.row < until && span.row + span.rows > row && !HasTone(ChordTones(*span.chord, 0), note.midi))
                for (int tone : ChordTones(*span.chord, 0))
                    rubs = rubs || Rubs(tone, note.midi);
        if (rubs) {
            PutEffect(section, row, TrEcho, FxExtended, ExNoteCut | 1);
            continue;
        }
        PutNote(section, row, TrEcho, note.midi + transpose, InsCelesta, EchoVolume);
        PutEffect(section, row, TrEcho, FxSetPanning, left ? 0xD0 : 0x30);
        left = !left;
    }
}

// The notes of a melody that start in rows [from, to), where they stand.
static std::vector<MelodyNote> Slice(const std::vector<MelodyNote>& melody, int from, int to)
{
    std::vector<MelodyNote> notes;
    for (const MelodyNote& note : melody)
        if (note.row >= from && note.row < to)
            notes.push_back(note);
    return notes;
}

// Whether a pitch rubs (a semitone, tritone or major seventh) against a note of any of `voices` that sounds
// for a beat or longer within rows [from, to); a shorter rub passes by.
static bool RubsVoices(int midi, std::initializer_list<const std::vector<MelodyNote>*> voices, int from, int to)
{
    for (const std::vector<MelodyNote>* voice : voices)
        for (const MelodyNote& note : *voice) {
            int overlap = std::min(to, note.row + note.rows) - std::max(from, note.row);
            if (note.midi >= 0 && overlap >= RowsPerBeat && Rubs(note.midi, midi))
                return true;
        }
    return false;
}

// The celesta answering on the off-beats, two octaves over the choir's voices in turn and thrown left and
// right in turn; an answer that would rub against one of `voices` is left out and the one before is cut.
// The last beat of the chords is left to what follows.
static void OffBeatBells(Section& section, const std::vector<ChordSpan>& chords,
                         std::initializer_list<const std::vector<MelodyNote>*> voices, int transpose, int volume)
{
    int beat = 0;
    int total = 0;
    for (const ChordSpan& span : chords)
        total += span.rows / RowsPerBeat;
    for (const ChordSpan& span : chords)
        for (int r = 0; r < span.rows; r += RowsPerBeat, ++beat) {
            if (beat + 1 == total)
                break;
            int row = span.row + r + 2;
            int midi = span.chord->pad[beat % 3] + 24;
            if (RubsVoices(midi, voices, row, row + RowsPerBeat)) {
                PutEffect(section, row, TrBell, FxExtended, ExNoteCut | 1);
                continue;
            }
            PutNote(section, row, TrBell, midi + transpose, InsCelesta, volume);
            PutEffect(section, row, TrBell, FxSetPanning, beat % 2 == 0 ? 0x60 : 0xA0);
        }
}

// The bass livelier: the second eighth of each beat that starts with a bass note jumps to its octave.
static void BassOctaves(Section& section, int from, int to)
{
    for (int row = from; row + 2 < to; row += RowsPerBeat) {
        const XmCell& cell = At(section, row, TrBass);
        if (cell.note == 0 || cell.note == KeyOffNote)
            continue;
        int midi = cell.note + 11;
        PutNote(section, row + 2, TrBass, midi + 12, InsBass, OctaveBassVolume);
    }
}

// Releases every pitched track that still holds a note at `lastRow`, the section's last row, so that no
// note rings on into a section that does not replace it. A note on the last row itself leads into the next
// section and stays, and so does the last note of each track in `pickUps`.
static void ReleaseAtEnd(Section& section, int lastRow, std::initializer_list<int> pickUps = {})
{
    for (int track : {TrLead, TrBell, TrEcho, TrPad1, TrPad2, TrPad3, TrBass, TrHarmony}) {
        if (std::find(pickUps.begin(), pickUps.end(), track) != pickUps.end())
            continue;
        int row = lastRow;
        while (row >= 0 && At(section, row, track).note == 0)
            --row;
        if (row < 0 || row == lastRow || At(section, row, track).note == KeyOffNote)
            continue;
        At(section, lastRow, track).note = KeyOffNote;
    }
}

// ---- Sections ------------------------------------------------------------------------------------------------

// Four bars of 4/4 less the last eighth, which the first fir-tree pattern opens with: the choir swells in
// over G, Em, C, D7 while the celesta twinkles through each chord and the sleigh bells come in; the
// celesta's last D trills (arpeggio).
static Section Intro()
{
    Section s = MakeSection(4 * 16 - PickUpRows);
    std::vector<ChordSpan> chords = ParseChords("G Em C D7:14", 16);
    PlacePad(s, chords, 0);
    for (int v = 0; v < 3; ++v) {
        PutVolumeColumn(s, 0, TrPad1 + v, VolumeByte(PadSwellFrom));
        for (int r = 0; r < 4; ++r)
            PutEffect(s, r, TrPad1 + v, FxVolumeSlide, 0x10);  // +5 a row for 4 rows
    }
    for (int bar = 0; bar < 3; ++bar) {
        const Chord& chord = *chords[size_t(bar)].chord;
        const int shape[8] = {0, 1, 2, 3, 2, 1, 0, 1};
        for (int k = 0; k < 8; ++k) {
            int tone = shape[k] == 3 ? chord.pad[0] + 12 : chord.pad[shape[k]];
            PutNote(s, 16 * bar + 2 * k, TrBell, tone + 24, InsCelesta, 24 + 2 * bar);
            // A little left, against the choir's brighter top voice on the right.
            PutEffect(s, 16 * bar + 2 * k, TrBell, FxSetPanning, 0x70);
        }
    }
    PutNote(s, 48, TrBell, 86, InsCelesta, 30);  // D6
    for (int r = 48; r < 58; ++r)
        PutEffect(s, r, TrBell, FxArpeggio, 0x47);
    PutKeyOff(s, 58, TrBell);
    PutNote(s, 32, TrBass, chords[2].chord->root, InsBass, SoftBassVolume);  // C2
    PutNote(s, 48, TrBass, chords[3].chord->root, InsBass, SoftBassVolume);  // D2
    for (int r = 32; r < 56; r += 4)
        Sleigh(s, r, 4 + (r - 32) / 2);
    for (int r = 56; r < s.rows; r += 2)
        Sleigh(s, r, 16);
    ReleaseAtEnd(s, s.rows - 1);
    SpreadPad(s);
    return s;
}

// The fir tree on the celesta an octave up, with its echo; choir, a soft bass and hats that run up into the
// second half and into the lead's turn. The pattern opens with the tune's pick-up, so the jump back from the
// ending lands on it, and holds the whole tune after it; its last two rows are the lead's pick-up. Sets
// speed and tempo again, since the song comes back here after the ending has slowed down.
static Section FirTreeOnCelesta()
{
    Section s = MakeSection(PickUpRows + FirTreeRows);
    const int tune = PickUpRows;
    s.firstBar = tune;
    PutEffect(s, 0, TrKick, FxSpeedTempo, 6);
    PutEffect(s, 0, TrSnare, FxSpeedTempo, 125);
    PutNote(s, 0, TrBell, FirTreePickUp + 12, InsCelesta);  // D5
    Sleigh(s, 0, SleighSoft);
    std::vector<MelodyNote> melody = ParseMelody(FirTree);
    MelodyStyle style;
    style.instrument = InsCelesta;
    style.transpose = 12;
    style.keyOffRests = false;
    PlaceMelody(s, TrBell, tune, melody, style);
    std::vector<ChordSpan> chords = ParseChords(FirTreeChords, RowsPerBeat, tune);
    PlaceEcho(s, tune, melody, chords, 12);
    PlacePad(s, chords, 0);
    PlaceBass(s, chords, 0, SoftBassVolume, true);
    for (int bar = 0; bar < 8; ++bar) {
        Hat(s, tune + 8 * bar + 2, SoftHatVolume);
        if (bar % 4 == 3)
            PlayFill(s, tune + 8 * bar + 4, DrumFill::HatRun);
        else
            Hat(s, tune + 8 * bar + 6, SoftHatVolume);
        Sleigh(s, tune + 8 * bar, SleighSoft);
    }
    PutNote(s, tune + FirTreeRows - PickUpRows, TrLead, FirTreePickUp, InsLead);  // the lead takes the tune over
    ReleaseAtEnd(s, s.rows - 1, {TrLead});
    SpreadPad(s);
    return s;
}

// The fir tree on the lead, gliding up into the long D (tone portamento) and singing out the long notes
// with vibrato; the celesta answers on the off-beats; bass, march drums (a fill at the end of each half) and
// sleigh bells join.
static Section FirTreeOnLead()
{
    Section s = MakeSection(FirTreeRows);
    std::vector<MelodyNote> melody = ParseMelody(FirTree);
    MelodyStyle style;
    style.vibratoFrom = 2;
    PlaceMelody(s, TrLead, 0, melody, style);
    // Bar 4: slide from the A into the D instead of striking it.
    XmCell& glide = At(s, 24, TrLead);
    glide.instrument = 0;
    glide.effect = FxTonePorta;
    glide.param = 0x10;
    std::vector<ChordSpan> chords = ParseChords(FirTreeChords, RowsPerBeat);
    OffBeatBells(s, chords, {&melody}, 0, CounterVolume);
    PlacePad(s, chords, 0);
    PlaceBass(s, chords, 0);
    MarchDrums(s, 0, 8, false, {DrumFill::Sixteenths, DrumFill::Tumble});
    SleighEighths(s, 0, FirTreeRows, SleighLoud, SleighSoft);
    ReleaseAtEnd(s, s.rows - 1);
    SpreadPad(s);
    return s;
}

// One bar of 4/4 that leads into Jingle Bells; the pattern is longer and a pattern break cuts it after
// the bar. The snare rolls (retrigger), the lead bends down off its note, the bass slides up, the celesta
// runs up the scale across the stereo field, and the sleigh bells grow (set volume).
static Section Fill()
{
    constexpr int Bar = 16;
    Section s = MakeSection(RowsPerPattern);
    PutNote(s, 0, TrLead, 69, InsLead);  // A4
    for (int r = 2; r < 8; ++r)
        PutEffect(s, r, TrLead, FxVibrato, r == 2 ? 0x44 : 0);
    for (int r = 8; r < 12; ++r)
        PutEffect(s, r, TrLead, FxPortaDown, r == 8 ? 0x03 : 0);
    PutKeyOff(s, 12, TrLead);
    PlacePad(s, ParseChords("D7", Bar), 0, 16);
    for (int v = 0; v < 3; ++v)
        for (int r = 0; r < 4; ++r)
            PutEffect(s, r, TrPad1 + v, FxVolumeSlide, 0x10);
    PutNote(s, 0, TrBass, 50, InsBass);  // D3
    PutNote(s, 8, TrBass, 45, InsBass);  // A2, sliding up toward the verse's G
    for (int r = 12; r < 16; ++r)
        PutEffect(s, r, TrBass, FxPortaUp, r == 12 ? 0x04 : 0);
    Kick(s, 0);
    Kick(s, 6);
    Kick(s, 8);
    Snare(s, 4);
    PutEffect(s, 4, TrSnare, FxExtended, ExRetrigger | 3);
    for (int r = 8; r < 12; ++r)
        Snare(s, r, 20 + 3 * (r - 8));
    SnareRoll(s, Bar);
    const int scale[8] = {79, 81, 83, 84, 86, 88, 90, 91};  // G5 up to G6
    for (int k = 0; k < 8; ++k) {
        PutNote(s, 8 + k, TrBell, scale[k], InsCelesta);
        PutVolumeColumn(s, 8 + k, TrBell, VolPanning | static_cast<uint8_t>(3 + k));
    }
    for (int r = 0; r < Bar; r += 2) {
        PutNote(s, r, TrSleigh, SleighNote, InsSleigh);
        PutEffect(s, r, TrSleigh, FxSetVolume, static_cast<uint8_t>(8 + 2 * r));
    }
    PutEffect(s, Bar - 1, TrHarmony, FxPatternBreak, 0x00);
    ReleaseAtEnd(s, Bar - 1);
    SpreadPad(s);
    return s;
}

// Jingle Bells verse: lead with vibrato on its long notes and a glide up to the high D, a celesta chord
// trill on each chord and then answers on the off-beats, choir, walking bass, 4/4 drums with closed hats (a
// different fill closing each of its four phrases) and sleigh bells on the eighths.
static Section Verse()
{
    Section s = MakeSection(4 * RowsPerPattern);
    std::vector<MelodyNote> melody = ParseMelody(JingleVerse);
    MelodyStyle style;
    style.volume = VerseLeadVolume;
    style.vibratoFrom = 4;
    style.vibrato = 0x44;
    PlaceMelody(s, TrLead, 0, melody, style);
    // Bar 7: rise from the F# to the D with tone portamento.
    XmCell& glide = At(s, 96, TrLead);
    glide.instrument = 0;
    glide.effect = FxTonePorta;
    glide.param = 0x30;
    std::vector<ChordSpan> chords = ParseChords(JingleVerseChords, 16);
    // The celesta trills each chord of the first half and answers the tune on the off-beats in the second.
    std::vector<ChordSpan> firstHalf, secondHalf;
    for (const ChordSpan& span : chords)
        (span.row < 2 * RowsPerPattern ? firstHalf : secondHalf).push_back(span);
    ChordShimmer(s, firstHalf, 0, CounterVolume);
    OffBeatBells(s, secondHalf, {&melody}, 0, CounterVolume);
    PlacePad(s, chords, 0, VersePadVolume);
    PlaceBass(s, chords, 0, VerseBassVolume);
    Groove groove;
    groove.extraKicks = true;
    FourFourDrums(s, 0, 16, groove, {DrumFill::Sixteenths, DrumFill::Tumble, DrumFill::Stop, DrumFill::Roll});
    SleighEighths(s, 0, 4 * RowsPerPattern, SleighLoud, SleighSoft);
    ReleaseAtEnd(s, s.rows - 1);
    SpreadPad(s);
    return s;
}

// How the celesta plays in a phrase of a chorus.
enum class BellPart {
    Double,   // the tune an octave up
    Descant,  // chord notes over the tune
    Answers,  // chord notes on the off-beats
};

// One phrase of a chorus: one pattern, four bars.
struct ChorusPhrase {
    bool breakdown;    // the tune, the choir and the celesta over the kick alone and the sleigh bells
    int harmony;       // the second voice a third under the tune (-1), over it (1), or silent (0)
    BellPart bell;
    bool bassOctaves;  // the bass jumps to its octave on each beat's second eighth
    Groove groove;
    DrumFill fill;     // at the end of the phrase
};

// Jingle Bells chorus, fuller than the verse: the lead with vibrato on its long notes, the choir, and phrase
// by phrase as `phrases` says a second voice, the celesta, bass, drums and the sleigh bells loud on every
// eighth. `intoFirTree` ends it with the fir tree's pick-up.
static Section Chorus(int transpose, bool intoFirTree, const ChorusPhrase (&phrases)[4])
{
    Section s = MakeSection(4 * RowsPerPattern);
    std::string tune = intoFirTree ? ChorusIntoFirTree() : std::string(JingleChorus);
    std::vector<MelodyNote> melody = ParseMelody(tune.c_str());
    std::vector<ChordSpan> chords = ParseChords(JingleChorusChords, 16);
    MelodyStyle style;
    style.transpose = transpose;
    style.vibratoFrom = 4;
    style.vibrato = 0x44;
    PlaceMelody(s, TrLead, 0, melody, style);
    PlacePad(s, chords, transpose);
    for (int p = 0; p < 4; ++p) {
        const ChorusPhrase& phrase = phrases[p];
        const int from = p * RowsPerPattern, to = from + RowsPerPattern;
        std::vector<MelodyNote> tunePart = Slice(melody, from, to);
        std::vector<ChordSpan> chordPart;
        for (const ChordSpan& span : chords)
            if (span.row >= from && span.row < to)
                chordPart.push_back(span);
        std::vector<MelodyNote> second;
        if (phrase.harmony != 0) {
            second = Harmony(tunePart, 0, chordPart, transpose, TonicG, phrase.harmony > 0);
            PlaceMelody(s, TrHarmony, 0, second, HarmonyStyle(transpose, phrase.harmony > 0));
            if (p + 1 < 4 && phrases[p + 1].harmony == 0)
                PutKeyOff(s, to, TrHarmony);
        }
        if (phrase.bell == BellPart::Double) {
            MelodyStyle doubled;
            doubled.instrument = InsCelesta;
            doubled.transpose = transpose + 12;
            doubled.volume = DoubleVolume;
            doubled.keyOffRests = false;
            doubled.panEffect = BellPanning;
            PlaceMelody(s, TrBell, 0, tunePart, doubled);
        } else if (phrase.bell == BellPart::Descant) {
            MelodyStyle descant;
            descant.instrument = InsCelesta;
            descant.transpose = transpose;
            descant.volume = DescantVolume;
            descant.keyOffRests = false;
            descant.panEffect = BellPanning;
            PlaceMelody(s, TrBell, 0, Slice(ParseMelody(JingleChorusDescant), from, to), descant);
        } else {
            OffBeatBells(s, chordPart, {&tunePart, &second}, transpose, CounterVolume);
        }
        if (phrase.breakdown) {
            // The choir fills the room that the bass and the drums leave.
            for (int row = from; row < to; ++row)
                for (int v = 0; v < 3; ++v)
                    if (At(s, row, TrPad1 + v).note != 0 && At(s, row, TrPad1 + v).note != KeyOffNote)
                        PutVolumeColumn(s, row, TrPad1 + v, VolumeByte(BreakdownPadVolume));
            BreakdownDrums(s, from, 4);
            SleighEighths(s, from, RowsPerPattern, SleighLoud + 6, SleighLoud + 2);
            continue;
        }
        PlaceBass(s, chordPart, transpose);
        if (phrase.bassOctaves)
            BassOctaves(s, from, to);
        FourFourDrums(s, from, 4, phrase.groove, {phrase.fill});
        SleighEighths(s, from, RowsPerPattern, SleighLoud + 4, SleighLoud);
    }
    if (intoFirTree)
        ReleaseAtEnd(s, s.rows - 1, {TrLead, TrHarmony, TrBell});
    else
        ReleaseAtEnd(s, s.rows - 1);
    SpreadPad(s);
    return s;
}

// The choruses' grooves: open hats after the snare, then kicks between the beats too, or sixteenth hats.
constexpr Groove OpenHats{HatStyle::OpenAfterSnare, false};
constexpr Groove Driving{HatStyle::OpenAfterSnare, true};
constexpr Groove Busy{HatStyle::Sixteenths, true};

// The chorus in G: the second voice under the tune throughout; the celesta doubles the tune, then answers it
// and sings over it while the bass jumps octaves and the drums thicken (sixteenth hats, kicks between the
// beats) for the tune's repeat.
static Section ChorusInG()
{
    const ChorusPhrase phrases[4] = {
        {false, -1, BellPart::Double, false, OpenHats, DrumFill::Sixteenths},
        {false, -1, BellPart::Double, false, OpenHats, DrumFill::Roll},
        {false, -1, BellPart::Answers, true, Busy, DrumFill::Tumble},
        {false, -1, BellPart::Descant, true, Driving, DrumFill::Roll},
    };
    return Chorus(0, true, phrases);
}

// The last chorus, a tone higher in A, its own: it opens as a breakdown (the tune over the choir, a celesta
// descant, the kick on every beat and the sleigh bells, gathering the band in its last bar), then the second
// voice sings over the tune while the celesta answers and sings a descant, and only the last phrase comes
// back to the second voice under the tune with the celesta doubling it.
static Section ChorusInA()
{
    const ChorusPhrase phrases[4] = {
        {true, 0, BellPart::Descant, false, Groove{}, DrumFill::Roll},
        {false, 1, BellPart::Answers, false, OpenHats, DrumFill::Sixteenths},
        {false, 1, BellPart::Descant, true, Driving, DrumFill::Stop},
        {false, -1, BellPart::Double, true, Busy, DrumFill::Roll},
    };
    return Chorus(UpToA, false, phrases);
}

// The fir tree after the verse and chorus: the lead with a second lead under it, the celesta an octave
// up, the bass jumping octaves, march drums with kicks between the bars and fills, and sleigh bells.
static Section FirTreeDuet()
{
    Section s = MakeSection(FirTreeRows);
    std::vector<MelodyNote> melody = ParseMelody(FirTree);
    std::vector<ChordSpan> chords = ParseChords(FirTreeChords, RowsPerBeat);
    MelodyStyle style;
    style.vibratoFrom = 2;
    PlaceMelody(s, TrLead, 0, melody, style);
    PlaceMelody(s, TrHarmony, 0, Harmony(melody, 0, chords, 0, TonicG, false), HarmonyStyle(0, false));
    MelodyStyle doubled;
    doubled.instrument = InsCelesta;
    doubled.transpose = 12;
    doubled.volume = CounterVolume;
    doubled.keyOffRests = false;
    doubled.panEffect = BellPanning;
    PlaceMelody(s, TrBell, 0, melody, doubled);
    PlacePad(s, chords, 0, DuetPadVolume);
    PlaceBass(s, chords, 0);
    BassOctaves(s, 0, FirTreeRows - RowsPerBeat);
    MarchDrums(s, 0, 8, true, {DrumFill::Tumble, DrumFill::Roll});
    SleighEighths(s, 0, FirTreeRows, SleighLoud, SleighSoft);
    PutNote(s, FirTreeRows - PickUpRows, TrBell, FirTreePickUp + 12, InsCelesta);  // D5: the celesta's turn
    ReleaseAtEnd(s, s.rows - 1, {TrBell});
    SpreadPad(s);
    return s;
}

// The fir tree quietly on the celesta with its echo and the choir, bass on the bar, kick and hats only (the
// hats running up at the half); the last bar turns to E7 and the snare rolls up into the chorus in A.
static Section FirTreeTurning()
{
    Section s = MakeSection(FirTreeRows);
    // The last bar climbs through the E7 (B, D) to lead into the chorus's C#.
    std::string tune = FirTree;
    tune.replace(tune.rfind("G4:6 r:2"), 8, "G4:4 B4:2 D5:2");
    std::vector<MelodyNote> melody = ParseMelody(tune.c_str());
    MelodyStyle style;
    style.instrument = InsCelesta;
    style.transpose = 12;
    style.keyOffRests = false;
    PlaceMelody(s, TrBell, 0, melody, style);
    std::vector<ChordSpan> chords = ParseChords("G G G G Em D7 D D C C G G Am D7 G E7", RowsPerBeat);
    PlaceEcho(s, 0, melody, chords, 12);
    PlacePad(s, chords, 0);
    PlaceBass(s, chords, 0, -1, true);
    PutNote(s, 60, TrBass, 40, InsBass);  // E2 under the E7
    for (int bar = 0; bar < 8; ++bar) {
        Kick(s, 8 * bar, bar % 2 == 0 ? KickAccent : KickSoft);
        if (bar == 3)
            PlayFill(s, 8 * bar + 4, DrumFill::HatRun);
        else
            Hat(s, 8 * bar + 4, SoftHatVolume);
    }
    SnareRoll(s, FirTreeRows);
    Sleigh(s, 56, SleighLoud);
    Sleigh(s, 60, SleighLoud);
    ReleaseAtEnd(s, s.rows - 1);
    SpreadPad(s);
    return s;
}

// The ending in A, four bars of 4/4 less the last eighth (the pick-up that the jump back lands on):
// "jingle all the way" once more with the second lead under it, the long A with vibrato fading (volume
// slide), the celesta running down through the minor iv chord that sounds there, then the last chord
// fading in the volume column while the tempo slows, so that the last row is silent; a position jump goes
// back to the first fir-tree pattern.
static Section Ending(int transpose, int loopOrder)
{
    Section s = MakeSection(4 * 16 - PickUpRows);
    const int last = s.rows - 1;
    std::vector<MelodyNote> melody = ParseMelody("D5:4 D5:4 C5:4 A4:4 | G4:16");
    std::vector<ChordSpan> chords = ParseChords("D7 G Cm G:14", 16);
    MelodyStyle style;
    style.transpose = transpose;
    style.vibratoFrom = 4;
    style.vibrato = 0x45;
    PlaceMelody(s, TrLead, 0, melody, style);
    PlaceMelody(s, TrHarmony, 0, Harmony(melody, 0, chords, transpose, TonicG, false), HarmonyStyle(transpose, false));
    for (int r = 24; r < 32; ++r)  // the long note's second half fades instead
        for (int track : {TrLead, TrHarmony})
            PutVolumeColumn(s, r, track, VolSlideDown | 0x1);
    PutKeyOff(s, 32, TrLead);
    PutKeyOff(s, 32, TrHarmony);
    PlacePad(s, chords, transpose, EndingPadVolume);
    PlaceBass(s, chords, transpose, -1, true);
    ChordShimmer(s, ParseChords("G", 16, 16), transpose, CounterVolume);
    // Down through the minor iv: F6 D6 A5 F5 D5 A4 F4 D4 in A (Eb6 down to C4 before the move up).
    const int twinkle[8] = {87, 84, 79, 75, 72, 67, 63, 60};
    for (int k = 0; k < 8; ++k)
        PutNote(s, 32 + 2 * k, TrBell, twinkle[k] + transpose, InsCelesta, 26 - 2 * k);
    // The last chord: a soft ding of its root and fifth on the celesta, released with everything else so
    // that it has died away before the jump.
    PutNote(s, 48, TrBell, 67 + 12 + transpose, InsCelesta, 20);
    PutNote(s, 48, TrEcho, 74 + 12 + transpose, InsCelesta, 14);
    for (int track : {TrBell, TrEcho})
        PutKeyOff(s, 54, track);
    PutKeyOff(s, 56, TrBass);
    for (int v = 0; v < 3; ++v)
        PutKeyOff(s, 52, TrPad1 + v);  // the choir's release fades the chord over the next eight rows
    PutEffect(s, 32, TrKick, FxSpeedTempo, 112);
    PutEffect(s, 40, TrKick, FxSpeedTempo, 100);
    PutEffect(s, 48, TrKick, FxSpeedTempo, 90);
    PutEffect(s, 56, TrKick, FxSpeedTempo, 80);
    Kick(s, 0);
    Kick(s, 8);
    Snare(s, 4);
    Snare(s, 12);
    SleighEighths(s, 0, 16, SleighLoud, SleighSoft);
    Sleigh(s, 16, SleighLoud);
    Sleigh(s, 48, SleighLoud);
    Sleigh(s, 50, SleighSoft);
    PutEffect(s, 50, TrSleigh, FxExtended, ExNoteDelay | 2);
    PutEffect(s, last, TrHarmony, FxPositionJump, static_cast<uint8_t>(loopOrder));
    ReleaseAtEnd(s, last);
    SpreadPad(s);
    return s;
}

// Appends a section's patterns to the module and plays them in order.
static void AddSection(XmModule& module, const Section& section)
{
    int first = 0;
    for (int rows : section.patternRows) {
        if (rows < 1 || rows > 256)
            Fail("pattern of " + std::to_string(rows) + " rows");
        XmPattern pattern = XmMakePattern(static_cast<uint16_t>(rows), TrackCount);
        for (int row = 0; row < rows; ++row)
            for (int track = 0; track < TrackCount; ++track)
                pattern.cells[size_t(row) * TrackCount + size_t(track)] =
                    section.cells[size_t(first + row) * TrackCount + size_t(track)];
        module.orders.push_back(static_cast<uint8_t>(module.patterns.size()));
        module.patterns.push_back(std::move(pattern));
        first += rows;
    }
}

constexpr int LoopOrder = 1;  // the first fir-tree pattern: the intro plays only once

struct NamedSection {
    const char* name;
    GlimrookPart part;
    int rowsPerBar;
    int tuneTrack;
    Section section;
};

constexpr int FirTreeBar = 8;
constexpr int JingleBar = 16;
constexpr int NoTune = -1;

// The whole arrangement in the order it is played.
static std::vector<NamedSection> Arrangement()
{
    using P = GlimrookPart;
    std::vector<NamedSection> sections;
    sections.push_back({"intro", P::Intro, JingleBar, NoTune, Intro()});
    sections.push_back({"fir tree on the celesta", P::FirTree, FirTreeBar, TrBell, FirTreeOnCelesta()});
    sections.push_back({"fir tree on the lead", P::FirTree, FirTreeBar, TrLead, FirTreeOnLead()});
    sections.push_back({"fill", P::Fill, JingleBar, TrLead, Fill()});
    sections.push_back({"verse", P::Verse, JingleBar, TrLead, Verse()});
    sections.push_back({"chorus in G", P::Chorus, JingleBar, TrLead, ChorusInG()});
    sections.push_back({"fir tree as a duet", P::FirTree, FirTreeBar, TrLead, FirTreeDuet()});
    sections.push_back({"fir tree turning to E7", P::FirTree, FirTreeBar, TrBell, FirTreeTurning()});
    sections.push_back({"chorus in A", P::Chorus, JingleBar, TrLead, ChorusInA()});
    sections.push_back({"ending", P::Ending, JingleBar, TrLead, Ending(UpToA, LoopOrder)});
    return sections;
}

}  // namespace

XmModule ComposeGlimrook()
{
    XmModule module;
    module.name = "glimrook";
    module.trackerName = "tarnwick composer";
    module.channelCount = TrackCount;
    module.restartPosition = LoopOrder;
    module.flags = XmFlagLinearFrequencies;
    module.defaultSpeed = 6;
    module.defaultBpm = 125;
    module.instruments = SynthesiseInstruments();
    for (const NamedSection& named : Arrangement())
        AddSection(module, named.section);
    return module;
}

std::vector<GlimrookSection> GlimrookSections()
{
    std::vector<GlimrookSection> table;
    int order = 0;
    for (const NamedSection& named : Arrangement()) {
        int patterns = static_cast<int>(named.section.patternRows.size());
        table.push_back({named.name, named.part, order, patterns, named.section.firstBar, named.rowsPerBar,
                         named.tuneTrack});
        order += patterns;
    }
    return table;
}
