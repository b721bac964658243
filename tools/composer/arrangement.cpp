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

enum Track : int {
    TrLead,
    TrBell,
    TrEcho,
    TrPad1,
    TrPad2,
    TrPad3,
    TrBass,
    TrKick,
    TrSnare,
    TrHat,
    TrSleigh,
    TrHarmony,
    TrackCount,
};

constexpr int RowsPerPattern = 64;
constexpr int RowsPerBeat = 4;

// Volumes (0..64) of the parts that do not play at their sample's own volume. Kept together so the mix can
// be rebalanced after the song has been rendered.
constexpr int EchoVolume = 14;
constexpr int CounterVolume = 18;
constexpr int DoubleVolume = 20;
constexpr int HarmonyVolume = 28;
constexpr int SoftBassVolume = 34;
// The verse is lighter than the choruses, which sound at the samples' own volumes.
constexpr int VerseLeadVolume = 34;
constexpr int VersePadVolume = 20;
constexpr int VerseBassVolume = 44;
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

// Voicings in G major, kept close together so that the pad voices move little between chords.
static const Chord ChordTable[] = {
    {"G", {55, 59, 62}, 43, 50, 0x47},   // G3 B3 D4; G2, D3
    {"Em", {55, 59, 64}, 40, 47, 0x37},  // G3 B3 E4; E2, B2
    {"C", {55, 60, 64}, 48, 43, 0x47},   // G3 C4 E4; C3, G2
    {"Cm", {55, 60, 63}, 48, 43, 0x37},  // G3 C4 Eb4
    {"D", {54, 57, 62}, 50, 45, 0x47},   // F#3 A3 D4; D3, A2
    {"D7", {54, 57, 60}, 50, 45, 0x47},  // F#3 A3 C4
    {"Am", {57, 60, 64}, 45, 40, 0x37},  // A3 C4 E4; A2, E2
    {"A7", {55, 61, 64}, 45, 40, 0x47},  // G3 C#4 E4
    {"E7", {56, 59, 62}, 40, 47, 0x47},  // G#3 B3 D4
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

// A second voice under a melody, note by note: a diatonic third below. A note of a beat or longer whose
// third would rub against the chord under it (a semitone, tritone or major seventh; shorter ones pass), and
// every note of two beats or more and the tune's last take the nearest chord note at least a minor third
// below instead, so that every held note and the close land on the chord.
static std::vector<MelodyNote> HarmonyBelow(const std::vector<MelodyNote>& melody, int startRow,
                                            const std::vector<ChordSpan>& chords, int transpose, int tonic)
{
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
        int third = DiatonicShift(midi, tonic + transpose, -2);
        int chosen = third;
        if ((note.rows >= RowsPerBeat || held) && !fits(third, held)) {
            for (int below : {3, 4, 5, 7, 8, 9})
                if (fits(midi - below, true)) {
                    chosen = midi - below;
                    break;
                }
        }
        voice[k].midi = chosen - transpose;
    }
    return voice;
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

// 2/4 march: kick on the bar, snare on the second beat, closed hats on the off-beats with a ghost hat
// a sixteenth late (note delay) before each bar line.
static void PolkaDrums(Section& section, int startRow, int bars, bool snare)
{
    for (int b = 0; b < bars; ++b) {
        int row = startRow + 8 * b;
        Kick(section, row);
        if (snare)
            Snare(section, row + 4);
        Hat(section, row + 2, HatVolume);
        Hat(section, row + 6, HatVolume);
        Hat(section, row + 7, SoftHatVolume);
        PutEffect(section, row + 7, TrHat, FxExtended, ExNoteDelay | 3);
    }
}

// 4/4: kick on 1 and 3, snare on 2 and 4, closed hats on the eighths, an open hat closing every 4th bar;
// with `openHats` the off-beats after the snare open every bar.
static void RockDrums(Section& section, int startRow, int bars, bool openHats)
{
    for (int b = 0; b < bars; ++b) {
        int row = startRow + 16 * b;
        Kick(section, row);
        Kick(section, row + 8);
        Snare(section, row + 4);
        Snare(section, row + 12);
        for (int e = 0; e < 8; ++e) {
            bool open = (b % 4 == 3 && e == 7) || (openHats && (e == 3 || e == 7));
            Hat(section, row + 2 * e, e % 2 == 0 ? HatVolume : open ? OpenHatVolume : SoftHatVolume, open);
        }
    }
}

// Sleigh bells on every eighth, the beats louder.
static void SleighEighths(Section& section, int startRow, int rows, int loud, int soft)
{
    for (int r = 0; r < rows; r += 2)
        Sleigh(section, startRow + r, r % RowsPerBeat == 0 ? loud : soft);
}

// A snare roll over the last beat of a bar ending at `endRow`: retriggered twice, then three times a row.
static void SnareRoll(Section& section, int endRow)
{
    for (int r = endRow - 4; r < endRow; ++r) {
        Snare(section, r, 28 + 6 * (r - endRow + 4));
        PutEffect(section, r, TrSnare, FxExtended, ExRetrigger | (r < endRow - 2 ? 3 : 2));
    }
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

constexpr int TonicG = 55;

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
        PutNote(section, span.row, TrEcho, span.chord->root + 36 + transpose, InsCelesta, volume);
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
        }
    }
    PutNote(s, 48, TrBell, 86, InsCelesta, 30);  // D6
    for (int r = 48; r < 58; ++r)
        PutEffect(s, r, TrBell, FxArpeggio, 0x47);
    PutKeyOff(s, 58, TrBell);
    PutNote(s, 32, TrBass, 48, InsBass, SoftBassVolume);  // C3
    PutNote(s, 48, TrBass, 50, InsBass, SoftBassVolume);  // D3
    for (int r = 32; r < 56; r += 4)
        Sleigh(s, r, 4 + (r - 32) / 2);
    for (int r = 56; r < s.rows; r += 2)
        Sleigh(s, r, 16);
    ReleaseAtEnd(s, s.rows - 1);
    SpreadPad(s);
    return s;
}

// The fir tree on the celesta an octave up, with its echo; choir, a soft bass and hats. The pattern opens
// with the tune's pick-up, so the jump back from the ending lands on it, and holds the whole tune after it;
// its last two rows are the lead's pick-up. Sets speed and tempo again, since the song comes back here after
// the ending has slowed down.
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
        Hat(s, tune + 8 * bar + 6, SoftHatVolume);
        Sleigh(s, tune + 8 * bar, SleighSoft);
    }
    PutNote(s, tune + FirTreeRows - PickUpRows, TrLead, FirTreePickUp, InsLead);  // the lead takes the tune over
    ReleaseAtEnd(s, s.rows - 1, {TrLead});
    SpreadPad(s);
    return s;
}

// The fir tree on the lead, gliding up into the long D (tone portamento) and singing out the long notes
// with vibrato; the celesta answers on the off-beats; bass, march drums and sleigh bells join.
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
    for (size_t beat = 0; beat + 1 < chords.size(); ++beat) {  // none on the last beat, which the fill follows
        const Chord& chord = *chords[beat].chord;
        int row = chords[beat].row + 2;
        PutNote(s, row, TrBell, chord.pad[beat % 3] + 24, InsCelesta, CounterVolume);
        PutEffect(s, row, TrBell, FxSetPanning, beat % 2 == 0 ? 0x60 : 0xA0);
    }
    PlacePad(s, chords, 0);
    PlaceBass(s, chords, 0);
    PolkaDrums(s, 0, 8, true);
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
// trill on each chord, choir, walking bass, 4/4 drums with closed hats and sleigh bells on the eighths.
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
    ChordShimmer(s, chords, 0, CounterVolume);
    PlacePad(s, chords, 0, VersePadVolume);
    PlaceBass(s, chords, 0, VerseBassVolume);
    RockDrums(s, 0, 16, false);
    SleighEighths(s, 0, 4 * RowsPerPattern, SleighLoud, SleighSoft);
    SnareRoll(s, 4 * RowsPerPattern);
    ReleaseAtEnd(s, s.rows - 1);
    SpreadPad(s);
    return s;
}

// Jingle Bells chorus, fuller than the verse: lead, a second lead under it on the left, the celesta
// doubling the tune an octave up; choir, walking bass, drums with open hats on the off-beats after the
// snare, sleigh bells loud on every eighth. `intoFirTree` ends it with the fir tree's pick-up.
static Section Chorus(int transpose, bool intoFirTree)
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
    MelodyStyle harmony = style;
    harmony.volume = HarmonyVolume;
    harmony.panEffect = 0x50;
    harmony.vibratoFrom = -1;
    PlaceMelody(s, TrHarmony, 0, HarmonyBelow(melody, 0, chords, transpose, TonicG), harmony);
    MelodyStyle doubled;
    doubled.instrument = InsCelesta;
    doubled.transpose = transpose + 12;
    doubled.volume = DoubleVolume;
    doubled.keyOffRests = false;
    PlaceMelody(s, TrBell, 0, melody, doubled);
    PlacePad(s, chords, transpose);
    PlaceBass(s, chords, transpose);
    RockDrums(s, 0, 16, true);
    SleighEighths(s, 0, 4 * RowsPerPattern, SleighLoud + 4, SleighLoud);
    SnareRoll(s, 8 * 16);
    SnareRoll(s, 4 * RowsPerPattern);
    if (intoFirTree)
        ReleaseAtEnd(s, s.rows - 1, {TrLead, TrHarmony, TrBell});
    else
        ReleaseAtEnd(s, s.rows - 1);
    SpreadPad(s);
    return s;
}

// The fir tree after the verse and chorus: the lead with a second lead under it, the celesta an octave
// up, bass, march drums and sleigh bells.
static Section FirTreeDuet()
{
    Section s = MakeSection(FirTreeRows);
    std::vector<MelodyNote> melody = ParseMelody(FirTree);
    std::vector<ChordSpan> chords = ParseChords(FirTreeChords, RowsPerBeat);
    MelodyStyle style;
    style.vibratoFrom = 2;
    PlaceMelody(s, TrLead, 0, melody, style);
    MelodyStyle harmony;
    harmony.volume = HarmonyVolume;
    harmony.panEffect = 0x50;
    PlaceMelody(s, TrHarmony, 0, HarmonyBelow(melody, 0, chords, 0, TonicG), harmony);
    MelodyStyle doubled;
    doubled.instrument = InsCelesta;
    doubled.transpose = 12;
    doubled.volume = CounterVolume;
    doubled.keyOffRests = false;
    PlaceMelody(s, TrBell, 0, melody, doubled);
    PlacePad(s, chords, 0);
    PlaceBass(s, chords, 0);
    PolkaDrums(s, 0, 8, true);
    SleighEighths(s, 0, FirTreeRows, SleighLoud, SleighSoft);
    PutNote(s, FirTreeRows - PickUpRows, TrBell, FirTreePickUp + 12, InsCelesta);  // D5: the celesta's turn
    ReleaseAtEnd(s, s.rows - 1, {TrBell});
    SpreadPad(s);
    return s;
}

// The fir tree quietly on the celesta with its echo and the choir, bass on the bar, kick and hats only;
// the last bar turns to E7 and the snare rolls up into the chorus in A.
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
        Kick(s, 8 * bar);
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
    MelodyStyle harmony;
    harmony.transpose = transpose;
    harmony.volume = HarmonyVolume;
    harmony.panEffect = 0x50;
    PlaceMelody(s, TrHarmony, 0, HarmonyBelow(melody, 0, chords, transpose, TonicG), harmony);
    for (int r = 24; r < 32; ++r)  // the long note's second half fades instead
        for (int track : {TrLead, TrHarmony})
            PutVolumeColumn(s, r, track, VolSlideDown | 0x1);
    PutKeyOff(s, 32, TrLead);
    PutKeyOff(s, 32, TrHarmony);
    PlacePad(s, chords, transpose);
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
constexpr int UpToA = 2;

struct NamedSection {
    const char* name;
    GlimrookPart part;
    Section section;
};

// The whole arrangement in the order it is played.
static std::vector<NamedSection> Arrangement()
{
    std::vector<NamedSection> sections;
    sections.push_back({"intro", GlimrookPart::Intro, Intro()});
    sections.push_back({"fir tree on the celesta", GlimrookPart::FirTree, FirTreeOnCelesta()});
    sections.push_back({"fir tree on the lead", GlimrookPart::FirTree, FirTreeOnLead()});
    sections.push_back({"fill", GlimrookPart::Fill, Fill()});
    sections.push_back({"verse", GlimrookPart::Verse, Verse()});
    sections.push_back({"chorus in G", GlimrookPart::Chorus, Chorus(0, true)});
    sections.push_back({"fir tree as a duet", GlimrookPart::FirTree, FirTreeDuet()});
    sections.push_back({"fir tree turning to E7", GlimrookPart::FirTree, FirTreeTurning()});
    sections.push_back({"chorus in A", GlimrookPart::Chorus, Chorus(UpToA, false)});
    sections.push_back({"ending", GlimrookPart::Ending, Ending(UpToA, LoopOrder)});
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
        table.push_back({named.name, named.part, order, patterns, named.section.firstBar});
        order += patterns;
    }
    return table;
}
