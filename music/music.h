// The module player's public face: the records of one loaded XM song and of its playback, the file access
// through registered callbacks, the XM loader and the tick entry point that the mixer calls.
//
// Every record is plain data, created zero-filled; a field that nothing fills stays 0. Field order and
// widths are fixed because the sound output and the player share these records directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// The mixer's voice record belongs to the sound output; the player only holds references to it.
struct MixVoice;

// ---- Song data model ---------------------------------------------------------------------------------------

constexpr int32_t MaxChannels = 32;       // tracks a song may have, and records in MusicChannels
constexpr int32_t MaxSamplesPerInstrument = 16;

// Sample loop kinds, one bit each: the mixer tests 2 (forward) first, then 4 (ping-pong), else the sound ends.
constexpr uint8_t LoopNone = 1;
constexpr uint8_t LoopForward = 2;
constexpr uint8_t LoopPingPong = 4;

// One cell of a pattern: a note event for one track in one row.
struct NoteCell {
    uint8_t note;        // 0 none; 1..96 C-0..B-7 (players use note - 1); 255 key off (the file's 97)
    uint8_t instrument;  // 0 none; 1..128 instrument number; a file value above 128 is stored as 0
    uint8_t volume;      // volume-column byte as stored
    uint8_t effect;      // effect number as stored
    uint8_t param;       // effect parameter as stored
};

struct Pattern {
    int32_t rowCount;  // rows as stored (0..256); 64 for a pattern the orders name but the file lacks
    // rowCount x channelCount cells, row-major (row r, track c at r * channelCount + c). Never null after a
    // load: a pattern of 0 rows (or a song of 0 tracks) still owns one row of zero cells, so a player that
    // reads row 0 of it stays inside the allocation.
    NoteCell* cells;
};

struct EnvelopePoint {
    uint16_t tick;   // ticks from the start of the envelope
    uint16_t value;  // 0..64 (panning: 32 = centre); the loader caps stored values at 64
};

// One sample of an instrument. `data` points at frame 0 of 16-bit mono PCM. The allocation around it holds
// one leading guard frame at data[-1] (a copy of frame 0, read when a ping-pong loop from frame 0 runs
// backwards) and length + 9 frames from data[0] on: the 8 spare frames after the sound plus one more for the
// interpolating read after the guard frame. Frames after `length` are zero unless the guard frame falls there.
struct Sample {
    int16_t* data;        // frame 0 of the PCM; null when length is 0
    uint32_t length;      // frames
    uint32_t loopStart;   // first frame of the loop; 0 without loop
    uint32_t loopLength;  // frames in the loop; equals length without loop, so the sound ends at E = loopStart + loopLength
    uint8_t volume;       // default volume 0..64 as stored (not clamped)
    int8_t finetune;      // as stored; the set-finetune effect overwrites it during play (streaming thread)
    int32_t panning;      // default panning 0..255
    uint8_t bits;         // 8 or 16 as stored; 16 for every sample that has data after loading
    uint8_t loopMode;     // LoopNone, LoopForward or LoopPingPong; 0 only in EmptySample
    int8_t relativeNote;  // semitones added to the played note
};

struct Instrument {
    int32_t sampleCount;                         // 0..16 samples owned by this instrument
    Sample* samples[MaxSamplesPerInstrument];    // slots below sampleCount own their Sample; the rest are &EmptySample
    uint8_t sampleMap[96];                       // sample slot for each 0-based note; 16 or more selects EmptySample
    EnvelopePoint volumeEnvelope[12];
    EnvelopePoint panningEnvelope[12];
    uint8_t volumePointCount;     // points in use, 0..12
    uint8_t panningPointCount;    // points in use, 0..12
    uint8_t volumeSustain;        // index of the volume sustain point
    uint8_t volumeLoopStart;      // index of the volume loop start point
    uint8_t volumeLoopEnd;        // index of the volume loop end point
    uint8_t panningSustain;
    uint8_t panningLoopStart;
    uint8_t panningLoopEnd;
    uint8_t volumeEnvelopeFlags;   // bit 0 on, bit 1 sustain, bit 2 loop; 0 whenever volumePointCount < 2
    uint8_t panningEnvelopeFlags;  // the same for panning
    uint8_t vibratoType;           // auto-vibrato waveform
    uint8_t vibratoSweep;          // ticks over which the auto-vibrato depth rises to full
    uint8_t vibratoDepth;
    uint8_t vibratoRate;           // auto-vibrato position step per tick
    uint16_t fadeout;              // subtracted from fadeoutVolume (out of 65536) per tick after key off
};

// Supplies the plain (not delta-coded) PCM of one sample in place of the file's data: fill the first
// byteCount bytes of buffer (which is zero-filled and length * 2 + 16 bytes long) with PCM of `bits` width.
using SampleLoadCallback = void (*)(uint8_t* buffer, int32_t byteCount, int32_t bits, int32_t instrumentIndex,
                                    int32_t sampleIndex);

struct Song;
using SongHook = void (*)(Song* song);

// One loaded module and the state of its playback. Header fields are written by the loader (main thread);
// the playback fields belong to the streaming thread while the song plays.
struct Song {
    Pattern* patterns;             // patternSlotCount records; index = pattern number
    Instrument* instruments;       // instrumentCount records; index = instrument number - 1
    int32_t tickSamplesLeft;       // output frames still to mix before the next tick (streaming thread)
    int32_t samplesPerTick;        // output frames per tick (SndSetTempo)
    int16_t orderCount;            // entries of orders that are played, 1..256
    int16_t restartPosition;       // order position after the last one; below orderCount
    int16_t channelCount;          // tracks = cells per row, 0..MaxChannels
    int32_t usedPatternCount;      // 1 + highest pattern number among the played orders
    int32_t patternSlotCount;      // Pattern records: max(file patterns, usedPatternCount)
    int16_t instrumentCount;       // Instrument records
    int16_t flags;                 // bit 0 set = linear frequency table
    int16_t defaultSpeed;          // ticks per row at start
    int16_t defaultBpm;            // beats per minute at start, > 0
    uint8_t orders[256];           // pattern order table as stored
    uint8_t initialGlobalVolume;   // 64
    int32_t globalVolume;          // 0..64 (streaming thread while playing)
    uint8_t globalVolumeSlide;     // last non-zero global volume slide parameter
    int32_t tick;                  // tick within the current row, from 0
    int32_t speed;                 // current ticks per row
    int32_t bpm;                   // current beats per minute
    int32_t row;                   // current row of the current pattern
    int32_t orderPos;              // current position in orders
    int32_t patternDelayTicks;     // ticks added to the current row by a pattern delay
    int32_t nextRow;               // row to take at the next row start; -1 = nothing pending
    int32_t nextOrderPos;          // order position to take at the next row start; -1 = nothing pending
    int32_t elapsedMs;             // milliseconds of audio mixed since play started; wraps as a 32-bit
                                   // count (negative after 24.9 days of play)
    SongHook onStart;              // called by ModPlaySong before the tempo is set; null after loading
    SongHook onTick;               // called by the mixer whenever tickSamplesLeft reaches 0: ModUpdateTick
    SampleLoadCallback onSampleLoad;  // the hook passed to ModLoadSong, or null
    int32_t rowRead;               // row whose cells ProcessRow read for the current row; the later ticks
                                   // read the same cells (streaming thread)
};

// The player's state of one track. Effect semantics belong to the player; all fields are owned by the
// streaming thread while a song plays.
struct MusicChannel {
    uint8_t note;            // last note, 0-based
    uint8_t updateFlags;     // 1 pitch, 2 volume, 4 panning, 8 start the sample, 32 restart at frame 0
    MixVoice* voice;         // the mixer voice this track plays on
    int32_t period;          // current period, including slides
    int32_t volume;          // 0..64
    int32_t panning;         // 0..255
    int32_t volumeDelta;     // tremolo/tremor offset; 0 at the start of every tick
    int32_t periodDelta;     // vibrato/auto-vibrato offset; 0 at the start of every tick
    int32_t volEnvTick;      // ticks into the volume envelope
    int32_t volEnvPoint;     // current volume envelope point
    int32_t volEnvValue;     // 16.16
    int32_t volEnvVolume;    // 0..64; 64 when an instrument starts
    int32_t volEnvStep;      // 16.16 per tick
    uint8_t volEnvDone;      // reached its last point
    int32_t panEnvTick;
    int32_t panEnvPoint;
    int32_t panEnvValue;     // 16.16
    int32_t panEnvPanning;   // 0..64; 32 when an instrument starts
    int32_t panEnvStep;      // 16.16 per tick
    uint8_t panEnvDone;
    int32_t fadeoutVolume;   // 0..65536
    int32_t autoVibratoPos;  // 0..255
    int32_t autoVibratoSweep;  // ticks since the auto-vibrato started, held at vibratoSweep
    uint8_t keyOff;
    uint8_t instrument;      // current instrument, 0-based
    uint8_t realNote;        // 0-based note plus the sample's relativeNote
    int32_t notePeriod;      // period of realNote with the sample's finetune
    uint8_t lastEffect;      // effect number of the previous row
    int32_t sampleOffset;    // remembered sample offset parameter
    uint8_t portaDownSpeed;
    uint8_t portaUpSpeed;
    uint8_t xfinePortaDown;
    uint8_t xfinePortaUp;
    uint8_t volumeSlide;
    uint8_t panningSlide;
    uint8_t retrigVolume;
    uint8_t retrigInterval;
    int32_t portaTarget;     // tone portamento target period
    uint8_t portaSpeed;
    int8_t vibratoPos;
    uint8_t vibratoSpeed;
    uint8_t vibratoDepth;
    int8_t tremoloPos;
    uint8_t tremoloSpeed;
    uint8_t tremoloDepth;
    uint8_t tremorCount;
    uint8_t tremorOn;        // on ticks (x + 1)
    uint8_t tremorOff;       // off ticks (y + 1)
    int32_t loopRow;         // pattern loop start row
    int32_t loopCount;       // pattern loop repetitions left
    uint8_t waveControl;     // low nibble vibrato waveform, high nibble tremolo waveform
    uint8_t fineVolumeSlide;
    uint8_t finePortaUp;
    uint8_t finePortaDown;
};

// Static all-zero stand-ins, never released: EmptySample fills unused sample slots and stands for a missing
// sample; EmptyInstrument stands for an instrument number beyond instrumentCount.
extern Instrument EmptyInstrument;
extern Sample EmptySample;

// The track table shared by whichever song plays; ModPlaySong zero-fills and links the first channelCount.
extern MusicChannel MusicChannels[MaxChannels];

// Zero-filled allocation used for every allocation of the module player: the song and everything it owns,
// the loader's file handle and the in-memory file's copy (null on failure); released with free(). Tests
// replace it to make an allocation fail.
using ModAllocFn = void* (*)(size_t bytes);
extern ModAllocFn ModAllocZeroed;
void* ModSystemAllocZeroed(size_t bytes);

// ---- File access callbacks ---------------------------------------------------------------------------------

// Seek origins, as the C library numbers them.
constexpr int32_t FileSeekStart = 0;
constexpr int32_t FileSeekCurrent = 1;
constexpr int32_t FileSeekEnd = 2;

using FileOpenCallback = void* (*)(const char* path);                                // handle, or null
using FileCloseCallback = void (*)(void* handle);
using FileReadCallback = void (*)(void* buffer, int32_t count, void* handle);        // up to count bytes
using FileSeekCallback = int32_t (*)(void* handle, int32_t offset, int32_t origin);  // result unused
using FileTellCallback = int32_t (*)(void* handle);                                  // position in bytes

// The five file operations through which the loader reads; registered and cleared together.
struct FileCallbacks {
    FileOpenCallback open;
    FileCloseCallback close;
    FileReadCallback read;
    FileSeekCallback seek;
    FileTellCallback tell;
};

// The loader's handle over one open file: the host's handle and the callbacks it was opened with.
struct ModFile {
    void* handle;
    FileCallbacks callbacks;
};

// Stores all five if none is null, replacing an earlier set; any null clears all five. Main thread.
void ModSetFileCallbacks(FileOpenCallback open, FileCloseCallback close, FileReadCallback read,
                         FileSeekCallback seek, FileTellCallback tell);
// True while a complete set is registered (the sound output refuses to start without one).
bool ModFileCallbacksRegistered();

ModFile* ModFileOpen(const char* path);  // null when no callbacks are registered or open fails
void ModFileClose(ModFile* file);        // null: nothing
void ModFileRead(void* buffer, int32_t count, ModFile* file);  // null file: nothing
int32_t ModFileSeek(ModFile* file, int32_t offset, int32_t origin);  // null file: 0
int32_t ModFileTell(ModFile* file);                                  // null file: 0

// The host's callbacks: an in-memory copy of the whole file, made when it is opened.
struct MemFile {
    int32_t length;    // bytes; 0 when the file did not open
    int32_t position;  // 0..length
    uint8_t* data;     // length bytes, owned
};

// Null only when the record itself cannot be allocated: a missing, unreadable or too large file, or one whose
// bytes cannot be allocated, opens as the empty file. The file is read to its end, so a pipe opens
// as well as a regular file; a path kept with MemFileKeep or MemFileKeepBytes opens from the kept bytes.
void* MemFileOpen(const char* path);
void MemFileClose(void* file);
void MemFileRead(void* buffer, int32_t count, void* file);  // count <= 0 delivers nothing
int32_t MemFileSeek(void* file, int32_t offset, int32_t origin);  // clamps to 0..length; bad origin: no move
int32_t MemFileTell(void* file);

// The largest file the in-memory file holds: its length and positions are 32-bit.
constexpr int64_t MemFileMaxBytes = INT32_MAX;

// How reading a whole file ended.
enum class WholeFileResult : int32_t {
    Read,        // every byte is in data
    Missing,     // there is no such file
    Unreadable,  // it cannot be opened or read (no permission, a directory, an input error)
    TooLarge,    // it holds more bytes than the limit
    NoMemory,    // its bytes cannot be allocated
};

// A file read whole into memory.
struct WholeFile {
    WholeFileResult result;
    uint8_t* data;   // length bytes from ModAllocZeroed, the caller's to free(); null unless read with length > 0
    int32_t length;  // bytes; 0 unless read
};

// Reads a file whole in one pass that never seeks: a regular file, a pipe ("<(...)", "/dev/stdin") or a device
// alike. A regular file's size is checked against `limit` (at most MemFileMaxBytes) before anything is read;
// since a pipe has no size, what is read is checked against it too, and reading stops at limit + 1 bytes.
WholeFile MemFileReadWhole(const char* path, int64_t limit);
// The same from an open stream, from where it stands to its end (standard input, for one).
WholeFile MemFileReadStream(std::FILE* stream, int64_t limit);
// Why a file could not be read whole, in the words the tools and the studio page use ("no such file", ...);
// empty for Read.
std::string MemFileReadFailure(WholeFileResult result);

// One file kept in memory for its path, so that a song read once (a pipe can be read only once) loads as often
// as it is needed: while a path is kept, MemFileOpen of exactly that path hands out a copy of the kept bytes and
// never opens the file again. MemFileKeep reads the file at the first such open (a file that cannot be read
// keeps no bytes, and opens as the empty file); MemFileKeepBytes keeps bytes already read. Either replaces what
// was kept before; false when there is no memory for it (nothing is kept then). Main thread.
bool MemFileKeep(const char* path);
bool MemFileKeepBytes(const char* path, const uint8_t* data, int32_t length);
void MemFileForget();

// ---- XM loader ---------------------------------------------------------------------------------------------

// Loads an XM module through the registered callbacks; null on any failure, with nothing left allocated.
// hook may be null.
Song* ModLoadSong(const char* path, SampleLoadCallback hook);
// Reads the module from an open file into a zero-filled song; false on failure (the caller frees the song).
bool ModReadXm(Song* song, ModFile* file);
// Stops the song if it plays and releases everything it owns; false for a null song.
bool ModFreeSong(Song* song);

// What a module file's first bytes tell before the loader reads the rest, and why a file cannot be played, in
// the words xmplay, xmrender and the greeting's studio page all use.
constexpr char ModNotXmReason[] = "not an XM module";
constexpr char ModRefusedReason[] = "a damaged or unsupported XM module";
// Whether the bytes start with the XM signature ("Extended Module: ").
bool ModHasXmSignature(const uint8_t* bytes, size_t count);
// The module's name from its header (20 bytes after the signature, padded with spaces or zeros): printable
// ASCII as it is, any other byte as '?' (the field is in an old single-byte code page), trailing spaces
// dropped; what a short file has of it; empty without the signature or a name.
std::string ModTitle(const uint8_t* bytes, size_t count);
// The reason for a file the loader refused: ModRefusedReason when it has the signature, else ModNotXmReason.
const char* ModRefusalReason(const uint8_t* bytes, size_t count);

// ---- Player ------------------------------------------------------------------------------------------------

// Advances the song by one tick; the mixer calls it through onTick (streaming thread).
void ModUpdateTick(Song* song);

// ---- Row and tick player -------------------------------------------------------------------------------------
// Everything below runs on the streaming thread inside ModUpdateTick (or on the main thread during the
// pre-mix); it allocates nothing and takes no lock.

// What a track hands to its voice at the end of a tick (MusicChannel::updateFlags).
constexpr uint8_t UpdatePitch = 1;
constexpr uint8_t UpdateVolume = 2;
constexpr uint8_t UpdatePanning = 4;
constexpr uint8_t UpdateStart = 8;
constexpr uint8_t UpdateRestart = 32;

// Highest note the Amiga period table covers: a wrapped realNote of 255 plus an arpeggio offset of 15.
constexpr int32_t AmigaTableTopNote = 270;

// The first tick of a row: reads one cell per track, starts notes and runs the row-start effects.
void ProcessRow(Song* song);
// Every later tick of a row: envelopes, fadeout and the running effects on the cells ProcessRow read.
void ProcessTick(Song* song);

// Amiga period of a 0-based note (0..AmigaTableTopNote; clamped) with a finetune of -128..127.
int32_t AmigaPeriod(int32_t note, int32_t finetune);
// Hands the channel's flagged changes to its voice (start through the voice pair, volume, panning, pitch,
// restart). `sample` is the sample the track's instrument and note select.
void UpdateVoice(MusicChannel* channel, Sample* sample, Song* song);
// Advances one envelope by one tick. The six state references are the envelope's point index, tick, 16.16
// value, output, 16.16 slope and done flag inside `channel`; flagBit (UpdateVolume or UpdatePanning) is set
// in the channel's updateFlags.
void StepEnvelope(MusicChannel* channel, int32_t* point, int32_t* tick, int32_t* value, int32_t* output,
                  int32_t* slope, uint8_t* done, const EnvelopePoint* points, int32_t pointCount, uint8_t flags,
                  uint8_t sustain, uint8_t loopStart, uint8_t loopEnd, uint8_t flagBit);
// Slope in 16.16 per tick of the segment between two envelope points. A gap of 0 ticks or less (points out
// of order) gives 0: the envelope holds instead of running away from a point it never meets.
int32_t EnvelopeSlope(const EnvelopePoint& from, const EnvelopePoint& to);
// StepEnvelope over the instrument's volume or panning envelope and the channel's state for it.
void StepVolumeEnvelope(MusicChannel* channel, const Instrument* instrument);
void StepPanningEnvelope(MusicChannel* channel, const Instrument* instrument);
// Adds the instrument's auto-vibrato to periodDelta and moves it on; sets the pitch flag.
void AutoVibrato(MusicChannel* channel, const Instrument* instrument);
// Sets periodDelta from the vibrato position (does not move it).
void Vibrato(MusicChannel* channel);
// Moves the vibrato position by the vibrato speed, wrapping from above 31 down by 64.
void MoveVibrato(MusicChannel* channel);
// Sets volumeDelta from the tremolo position and moves it.
void Tremolo(MusicChannel* channel);
// Silences the tick through volumeDelta when the on ticks are over, and counts.
void Tremor(MusicChannel* channel);
// Moves period toward portaTarget by 4 x portaSpeed.
void TonePortaStep(MusicChannel* channel);
// Resets volume, panning, envelopes, fadeout and effect positions for a new instrument.
void StartInstrument(MusicChannel* channel, const Sample* sample);
// The row-start meaning of the volume-column byte.
void ApplyVolumeColumn(MusicChannel* channel, uint8_t volumeByte);
// The sample a track's instrument and 0-based note select: EmptySample for an instrument number beyond the
// song's, a note of 96 or more or a map slot of 16 or more. `instrument` receives EmptyInstrument likewise.
Sample* SelectSample(const Song* song, uint8_t instrumentIndex, uint8_t note, Instrument** instrument);
// Period and panning slides have no musical limit; they stop at +-2^30, far outside anything audible, so
// that no sum overflows.
constexpr int32_t SlideLimit = 1 << 30;
int32_t LimitSlide(int64_t value);
// The cells of `row` of the pattern at the song's order position: null when the position names no pattern
// or the song has no tracks; an all-empty row when `row` lies outside the pattern.
const NoteCell* ModRowCells(const Song* song, int32_t row);
