// The sound output: the audio device, the ring of mixing blocks, the streaming thread with the song's clock,
// and the software mixer with its voices.
//
// Threads: the main thread opens and closes the output and starts and stops a song (the pre-mix of the whole
// ring included). While a song plays, the streaming thread alone touches the song's playback fields, the
// MusicChannels table and MixVoices; the two sides meet only through the three atomic flags below.
#pragma once

#include "music/music.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// ---- Mixer voices --------------------------------------------------------------------------------------------

constexpr int32_t MixVoiceSlots = 256;     // records in MixVoices
constexpr int32_t MixedVoiceCount = 64;    // voices SndMixVoices plays: 0..63
constexpr int32_t DirForward = 1;
constexpr int32_t DirBackward = 2;          // the mixer treats every value other than DirForward as backward

// One mixer voice. Positions and steps are unsigned 32.32 fixed point in sample frames; volumes 0..255 mean
// the gain v / 255; applied gains are volume x 256 (8.8). The player writes the targets and the pitch, the
// mixer the position and the ramp. Streaming thread while a song plays, main thread during the pre-mix.
struct MixVoice {
    int32_t slot;               // this voice's own index in MixVoices
    int32_t volume;             // the player's final volume (0..127); not read by the mixer
    int32_t panning;            // the player's panning 0..255; not read by the mixer
    uint32_t startOffset;       // sample frame at which the next trigger starts
    Sample* sample;             // the sample being played; null = silent and skipped
    int32_t volumeLeft;         // target volume of the left channel, 0..255
    int32_t volumeRight;        // target volume of the right channel, 0..255
    uint32_t positionInt;       // integer part of the play position, frames into sample->data
    uint32_t positionFrac;      // fraction of the play position, units of 2^-32
    uint32_t speedFrac;         // fraction of the step per output frame, units of 2^-32
    uint32_t speedInt;          // integer part of the step per output frame (frames)
    int32_t direction;          // DirForward or DirBackward
    int32_t seenVolumeLeft;     // volumeLeft as the mixer last took it over
    int32_t seenVolumeRight;    // volumeRight as the mixer last took it over
    int32_t currentVolumeLeft;  // left gain now applied, volume x 256 (0..65280)
    int32_t currentVolumeRight; // right gain now applied, volume x 256
    float rampStepLeft;         // left gain (full scale = 1) added per frame during a ramp
    float rampStepRight;        // right gain added per frame during a ramp
    int32_t rampFramesLeft;     // output frames of the running ramp still to mix; 0 = no ramp
};

extern MixVoice MixVoices[MixVoiceSlots];

// Adds every voice among the first 64 that has a sample into frames 0..frames-1 of `destination` (float
// stereo frames, left then right). Nothing happens for frames < 1. The span is not cleared here.
void SndMixVoices(float* destination, int32_t frames);
// Rounds 2 x frames floats to the nearest integer (ties to even), clamps them to -32768..32767 and stores
// them as 16-bit samples at the same index. Nothing happens for frames <= 0 or a null pointer.
void SndConvertBlock(int16_t* destination, const float* source, int32_t frames);

// ---- Output timing (set by SndInit, main thread; read by the mixer and the player) --------------------------

constexpr int32_t BufferMilliseconds = 1000;
constexpr int32_t MinOutputRate = 345;       // below it RampFrames would be 0
constexpr int32_t MaxOutputRate = 1000000;   // keeps every frame and byte count of the ring well inside 32 bits

extern int32_t OutputRate;           // frames per second
extern float SecondsPerFrame;        // 1 / OutputRate, single precision
extern int32_t BlockFrames;          // frames per block: 20 ms rounded up to a multiple of 4 (884 at 44100)
extern int32_t RingFrames;           // BlockFrames x 100
extern int32_t RingBlocks;           // 100
extern int32_t RampFrames;           // output frames of a volume ramp (128 at 44100)
extern float RampFramesReciprocal;   // 1 / RampFrames, single precision

// ---- The ring and the streaming thread ----------------------------------------------------------------------

// The song as it stood when a block had been mixed: 6 bytes, no gaps.
#pragma pack(push, 1)
struct BlockPosition {
    uint8_t orderPos;    // low byte of the song's orderPos
    uint8_t row;         // low byte of the song's row
    int32_t elapsedMs;   // the song's elapsedMs
};
#pragma pack(pop)
static_assert(sizeof(BlockPosition) == 6, "BlockPosition has no gaps");

// Allocated by ModPlaySong (main thread) and written while playing by the streaming thread only.
extern int16_t* OutputRing;              // RingFrames interleaved stereo frames looped by the device
extern float* MixBuffer;                 // RingFrames float stereo frames, 16-byte aligned
extern BlockPosition* BlockPositions;    // RingBlocks entries, one per block
extern int32_t WriteBlock;               // next block to mix, 0..RingBlocks-1 (streaming thread while playing)
extern Song* CurrentSong;                // the song being streamed, or null (changed only with no thread running)

// The hand-over between the threads, sequentially consistent (a store then a load on each side).
extern std::atomic<bool> StopRequested;     // main thread sets it to end the streaming thread
extern std::atomic<bool> BlockInProgress;   // set by the streaming thread while it mixes a block
extern std::atomic<bool> StreamThreadDone;  // set whenever no streaming thread runs

// Zero-filled allocation used for every buffer of the sound output (null on failure); released with free().
// Tests replace it to make an allocation fail.
using SndAllocFn = void* (*)(size_t bytes);
extern SndAllocFn SndAllocZeroed;
void* SndSystemAllocZeroed(size_t bytes);

// Opens the audio device at `rate` and sets the timing values and the voices. false, touching nothing, when
// the file callbacks are not registered, the rate is outside MinOutputRate..MaxOutputRate or a render runs;
// false when the device does not open.
bool SndInit(int32_t rate);
// Stops a song still playing, resets and closes the device, then releases the ring.
void SndClose();
// Stores bpm in the song and sets samplesPerTick from it (at least 1).
void SndSetTempo(Song* song, int32_t bpm);
// Mixes block WriteBlock of the ring for CurrentSong, calling onTick at each tick boundary.
void SndMixBlock();
// The streaming thread's work, one look at the device per call (the platform calls it every 5 ms, on a thread
// of its own or, in the browser without shared memory, on the main thread): re-mixes each block the device
// has finished playing since the last call and tells the device about it. false once a stop is asked for.
bool SndStreamThread(void* param);

// Stops any song, resets the song's position, pre-mixes the whole ring, queues it on the device and starts
// the streaming thread. false for no song or while a render runs (then nothing is touched); false, with
// nothing left playing, when no device is open, a buffer cannot be allocated, the device refuses the ring or
// the streaming thread does not start.
bool ModPlaySong(Song* song);
// Ends the streaming thread, takes the ring back from the device (which then plays silence) and releases the
// ring, the mix buffer and the block table. false for no song.
bool ModStopSong(Song* song);

// ---- Mixer implementations ----------------------------------------------------------------------------------
//
// SndMixVoices and SndConvertBlock above run the fast path (mixer_fast.cpp). The plainly written versions
// below (mixer.cpp) are kept as the reference it must match: for the same voices and buffer, both leave the
// same voices and the same 16-bit output. The fast path skips the products of a silent voice (all of them
// zeros), so a zero in the float buffer may differ in sign, which converts to the same sample.
void SndMixVoicesReference(float* destination, int32_t frames);
void SndConvertBlockReference(int16_t* destination, const float* source, int32_t frames);

// What SndMixVoices and SndConvertBlock run: the fast path with its plain C++ frame loops (Portable, any
// processor), with AVX2 vectors of four doubles (Avx2) or AVX-512 vectors of eight (Avx512), or the reference
// itself (Reference), so that whole songs can be streamed through each and compared. Each fast path needs the
// processor features of those before it. The vector loops are built for x86 only (mixer_x86.cpp); a build
// without them (WebAssembly), or a processor without the features, mixes a chosen Avx2 or Avx512 with the
// portable loops.
enum class SndKernel : int32_t { Reference = 0, Portable = 1, Avx2 = 2, Avx512 = 3 };
// The one in use: the best the processor has, chosen at start-up; tests and benchmarks switch it (main
// thread, while no song plays).
extern SndKernel SndMixKernel;
// The best fast path this processor runs: Avx512, Avx2 or Portable.
SndKernel SndBestKernel();

// ---- Rendering without a device -----------------------------------------------------------------------------
//
// The song mixed block after block into the caller's buffer, with no device and no thread: the blocks that
// ModPlaySong and the streaming thread put into the ring, in the same order and bit for bit. For offline
// renders and tests. Main thread only. A render and the device's stream share the voices, the track table and
// the timing values, so a render starts only while the output is closed, SndInit and ModPlaySong refuse
// while it runs, and its stop puts back what it changed. Stop the render before the song is freed.

// Sets the timing values for `rate` as SndInit does (no device is opened), starts the song as ModPlaySong
// does (position, tempo, onStart, voices, tracks) and allocates the render's mix block through
// SndAllocZeroed. Ends a render already running first. false, touching nothing, while the output is open
// (from SndInit to SndClose, a song streaming or not); false, with no render running, for no song, a rate
// outside MinOutputRate..MaxOutputRate or a failed allocation.
bool SndRenderStart(Song* song, int32_t rate);
// Mixes the next block into `out`: BlockFrames 16-bit stereo frames, left then right. Returns the frames
// written (BlockFrames), or 0 when no render runs or out is null.
int32_t SndRenderBlock(int16_t* out);
// Ends the render, releases its mix block and puts back the timing values, the voices and the tracks as they
// were before SndRenderStart; harmless when none runs.
void SndRenderStop();

// ---- The song's first pass ----------------------------------------------------------------------------------
//
// Where a render or a play first comes back to an order position it has already played: the wrap to the
// restart position or a backward jump. Counted in output frames from the song's start (main thread). Offline
// renders stop there, a recording fades out there and xmplay ends the file there.

// Makes the song's onTick follow its order positions (ModUpdateTick plus the bookkeeping) and clears what
// was seen. Call before SndRenderStart; the watch counts from the render's first frame.
void SndWatchFirstPass(Song* song);
// The output frame at which the watched song came back to a played order position; -1 not yet.
int64_t SndFirstPassFrames();
// The order position it came back to (valid once SndFirstPassFrames is not -1).
int32_t SndFirstPassOrder();
// Runs the song's ticks from its start, as play starts it at `rate`, without mixing (the pass depends only on
// the patterns and the tempo), until its first pass ends, and puts onTick back to ModUpdateTick: the frame a
// watched render stops at, which SndFirstPassFrames and SndFirstPassOrder then give too. -1 when it lies
// beyond maxFrames or the tempo is so fast that the ticks up to it are too many to run (about 4 million).
// Refused (-1, nothing touched) for no song, a rate outside MinOutputRate..MaxOutputRate, while a song
// streams or while a render runs; an open output streaming nothing is fine, and the timing values, voices
// and tracks are put back as they were. The song's playback fields are left where the measurement stopped:
// start it again (or load it again) before playing.
int64_t SndMeasureFirstPass(Song* song, int32_t rate, int64_t maxFrames);

// ---- Watching and pausing a stream --------------------------------------------------------------------------
//
// What a player shown to a listener needs of a streaming song, without reading the player's fields across
// threads: after mixing each block the streaming thread publishes where the song stood and how loud each
// track was mixed, and after each look at the device how far it has played; the main thread reads the entry
// of the block the device is playing now, which is what is being heard (blocks are mixed about 2 s ahead).
// Everything is in static atomics: nothing is allocated and nothing is locked on the streaming thread.

// The song as it sounds now (main thread's copy).
struct SndPlayStatus {
    uint64_t playedFrames;           // frames the device has played since the ring was queued; stands still
                                     // while the output is paused
    uint64_t longestPollGapFrames;   // most frames the device played between two looks of the streaming
                                     // thread since play started
    bool fellBehind;                 // that gap was long enough for the device to come round to blocks not yet
                                     // mixed again: the system held the streaming thread back and part of the
                                     // ring may have been heard a second time
    int32_t orderPos;                // the song's orderPos when the playing block had been mixed
    int32_t pattern;                 // the pattern that order position names, or -1
    int32_t row;                     // the song's row
    int32_t speed;                   // ticks per row
    int32_t bpm;                     // beats per minute
    int32_t channelCount;            // tracks with a level below: the song's channelCount, 0..MaxChannels
    uint8_t levels[MaxChannels];     // per track, 0..255: the peak of the sample frames its voices were
                                     // playing at the block's end, times their final volume (full scale and
                                     // volume 127 give 255); 0 for a silent track
};

// Forgets every published entry and the device's count; ModPlaySong calls it before the pre-mix (main thread,
// no streaming thread running).
void SndResetPlayStatus();
// Publishes ring block `block` (0..RingBlocks-1) as the song and MixVoices stand after mixing it. Called by
// SndMixBlock: on the streaming thread, or on the main thread during the pre-mix.
void SndPublishBlock(int32_t block, const Song* song);
// Publishes the device's played-bytes count after a look at it (streaming thread).
void SndPublishPlayed(uint64_t playedBytes);
// The entry of the block the device is playing now. false while no song streams, or when the streaming
// thread kept rewriting that entry under the reader (try again a moment later). Main thread.
bool SndReadPlayStatus(SndPlayStatus* status);

// The device stops reading the ring where it stands, and with its played count standing still the streaming
// thread mixes nothing: the song's clock stops with the sound, and on SndResume it goes on with the very
// next frame. Main thread; harmless with nothing playing. ModPlaySong starts playing also after a pause.
void SndPause();
void SndResume();
