// Audio output and block streaming: the device plays one ring of 100 blocks (about 2 s) in an endless loop,
// and the streaming thread re-mixes each block as soon as the device has played it, so it is heard again,
// with new contents, one ring turn later. Mixing is cut at tick boundaries, where the song's onTick advances
// the player: this is the song's clock.
#include "sound/sound.h"
#include "sound/stream_shared.h"

#include "platform/platform.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

// Timing values (main thread writes them in SndInit; every thread reads them).
int32_t OutputRate = 0;
float SecondsPerFrame = 0.0f;
int32_t BlockFrames = 0;
int32_t RingFrames = 0;
int32_t RingBlocks = 0;
int32_t RampFrames = 0;
float RampFramesReciprocal = 0.0f;

int16_t* OutputRing = nullptr;
float* MixBuffer = nullptr;
BlockPosition* BlockPositions = nullptr;
int32_t WriteBlock = 0;
Song* CurrentSong = nullptr;

std::atomic<bool> StopRequested{false};
std::atomic<bool> BlockInProgress{false};
std::atomic<bool> StreamThreadDone{true};

SndAllocFn SndAllocZeroed = SndSystemAllocZeroed;

// The allocation MixBuffer lies in (main thread); MixBuffer is its start rounded up to 16 bytes.
static void* mixBufferMemory = nullptr;
// The running streaming thread, or null (main thread).
static PlatThread streamThread = nullptr;
// Whether SndInit opened the device and SndClose has not closed it yet (main thread).
static bool deviceOpen = false;
// Milliseconds between two looks at the device's position.
static constexpr uint32_t PollMilliseconds = 5;
// Milliseconds per block before rounding up to whole groups of 4 frames.
static constexpr int32_t BlockMilliseconds = 20;

void* SndSystemAllocZeroed(size_t bytes)
{
    return std::calloc(1, bytes);
}

// Every voice silent, in its own slot, with a step of one sample frame per output frame.
static void ResetVoices()
{
    for (int32_t i = 0; i < MixVoiceSlots; i++) {
        MixVoices[i] = MixVoice{};
        MixVoices[i].slot = i;
        MixVoices[i].speedInt = 1;
    }
}

bool SndInit(int32_t rate)
{
    // A running render owns the voices and the timing values until it is stopped.
    if (!ModFileCallbacksRegistered() || rate < MinOutputRate || rate > MaxOutputRate || SndRenderRunning()) {
        return false;
    }
    SndClose();
    OutputRate = rate;
    if (!PlatAudioOpen(rate)) {
        return false;
    }
    deviceOpen = true;
    SndSetOutputTiming(rate);
    ResetVoices();
    return true;
}

bool SndOutputInUse()
{
    return deviceOpen || CurrentSong != nullptr;
}

void SndSetOutputTiming(int32_t rate)
{
    OutputRate = rate;
    SecondsPerFrame = 1.0f / static_cast<float>(rate);
    BlockFrames = ((rate * BlockMilliseconds) / 1000 + 3) & ~3;
    RingBlocks = (BufferMilliseconds / BlockMilliseconds) * 2;
    RingFrames = RingBlocks * BlockFrames;
    RampFrames = (rate * 128) / 44100;
    RampFramesReciprocal = 1.0f / static_cast<float>(RampFrames);
}

void SndClose()
{
    // No thread may go on writing into a ring that is about to be released.
    if (CurrentSong != nullptr) {
        ModStopSong(CurrentSong);
    }
    PlatAudioReset();
    PlatAudioClose();
    deviceOpen = false;
    // Released only now: the device reads the ring until it has been reset.
    std::free(OutputRing);
    OutputRing = nullptr;
}

void SndSetTempo(Song* song, int32_t bpm)
{
    if (song == nullptr) {
        return;
    }
    song->bpm = bpm;
    // In double with single-precision constants: 5250 frames at 21 BPM, where single precision gives 5249.
    double frames = 1000.0 / (bpm * static_cast<double>(0.4f)) * OutputRate * static_cast<double>(0.001f);
    if (!(frames >= 1.0)) {
        // Too fast to advance (or a negative tempo): one frame per tick keeps the clock moving.
        song->samplesPerTick = 1;
    } else if (frames >= 2147483647.0) {
        // A tempo of 0 never ticks again.
        song->samplesPerTick = 2147483647;
    } else {
        song->samplesPerTick = static_cast<int32_t>(frames);
    }
}

void SndMixSongBlock(Song* song, float* block, int16_t* out)
{
    std::memset(block, 0, sizeof(float) * 2 * static_cast<size_t>(BlockFrames));

    int32_t left = song->tickSamplesLeft;
    int32_t done = 0;
    while (done < BlockFrames) {
        if (left <= 0) {
            if (song->onTick != nullptr) {
                song->onTick(song);
            }
            left = song->samplesPerTick;
            if (left < 1) {
                left = 1;  // a tick hook that set no usable tempo still lets the block end
            }
        }
        int32_t n = left;
        if (n > BlockFrames - done) {
            n = BlockFrames - done;
        }
        SndMixVoices(block + 2 * static_cast<ptrdiff_t>(done), n);
        done += n;
        left -= n;
        // Truncated per piece: SecondsPerFrame lies just below 1/44100, so 882 frames add 19 ms. Added as
        // unsigned, so that after 2^31 ms (24.9 days) the clock wraps to negative values instead of
        // overflowing, as a 32-bit count does.
        uint32_t pieceMs = static_cast<uint32_t>(static_cast<double>(n) * SecondsPerFrame * 1000.0);
        song->elapsedMs = static_cast<int32_t>(static_cast<uint32_t>(song->elapsedMs) + pieceMs);
    }
    song->tickSamplesLeft = left;
    SndConvertBlock(out, block, BlockFrames);
}

void SndMixBlock()
{
    Song* song = CurrentSong;
    if (song == nullptr || MixBuffer == nullptr || OutputRing == nullptr || BlockPositions == nullptr) {
        return;
    }
    ptrdiff_t base = static_cast<ptrdiff_t>(WriteBlock) * BlockFrames;
    SndMixSongBlock(song, MixBuffer + 2 * base, OutputRing + 2 * base);
    BlockPosition& entry = BlockPositions[WriteBlock];
    entry.orderPos = static_cast<uint8_t>(song->orderPos);
    entry.row = static_cast<uint8_t>(song->row);
    entry.elapsedMs = song->elapsedMs;
    SndPublishBlock(WriteBlock, song);
    WriteBlock++;
    if (WriteBlock >= RingBlocks) {
        WriteBlock = 0;
    }
}

bool SndStreamThread(void* param)
{
    (void)param;
    if (StopRequested) {
        StreamThreadDone = true;
        return false;
    }
    StreamThreadDone = false;
    uint64_t playedBytes = 0;
    // A failed query skips this poll.
    if (PlatAudioPlayedBytes(&playedBytes)) {
        SndPublishPlayed(playedBytes);
        uint64_t playedFrames = playedBytes / 4;
        int32_t playingBlock = static_cast<int32_t>((playedFrames % static_cast<uint64_t>(RingFrames)) /
                                                    static_cast<uint64_t>(BlockFrames));
        // Every block the device has finished since the last poll, never the one it is playing.
        while (WriteBlock != playingBlock) {
            int32_t block = WriteBlock;
            BlockInProgress = true;
            SndMixBlock();
            BlockInProgress = false;
            PlatAudioWritten(static_cast<uint32_t>(block) * static_cast<uint32_t>(BlockFrames) * 4,
                             static_cast<uint32_t>(BlockFrames) * 4);
        }
    }
    return true;
}

// Releases the buffers of a play; the ring only when the device no longer reads it.
static void ReleasePlayBuffers()
{
    std::free(mixBufferMemory);
    mixBufferMemory = nullptr;
    MixBuffer = nullptr;
    std::free(BlockPositions);
    BlockPositions = nullptr;
}

void SndResetPlayback(Song* song)
{
    song->globalVolume = song->initialGlobalVolume;
    song->nextRow = -1;
    song->nextOrderPos = -1;
    song->speed = song->defaultSpeed;
    song->row = 0;
    song->orderPos = 0;
    song->tickSamplesLeft = 0;
    song->tick = 0;
    song->patternDelayTicks = 0;
    song->elapsedMs = 0;
    if (song->onStart != nullptr) {
        song->onStart(song);
    }
    SndSetTempo(song, song->defaultBpm);

    // A second play starts from fresh voices: an earlier song's voices may still name its samples.
    ResetVoices();
    int32_t channels = song->channelCount;
    if (channels > MaxChannels) {
        channels = MaxChannels;
    }
    for (int32_t i = 0; i < channels; i++) {
        MusicChannels[i] = MusicChannel{};
        MusicChannels[i].voice = &MixVoices[i];
    }
}

bool ModPlaySong(Song* song)
{
    // A running render shares the voices and the tracks: refused before anything is stopped or reset.
    if (song == nullptr || SndRenderRunning()) {
        return false;
    }
    ModStopSong(song);
    if (!deviceOpen) {
        return false;  // no device is open (never, or closed since): nothing would be heard
    }

    SndResetPlayback(song);

    size_t ringFrames = static_cast<size_t>(RingFrames);
    BlockPositions = static_cast<BlockPosition*>(SndAllocZeroed(sizeof(BlockPosition) * static_cast<size_t>(RingBlocks)));
    OutputRing = static_cast<int16_t*>(SndAllocZeroed(ringFrames * 4));
    mixBufferMemory = SndAllocZeroed(ringFrames * 8 + 256);
    if (BlockPositions == nullptr || OutputRing == nullptr || mixBufferMemory == nullptr) {
        ReleasePlayBuffers();
        std::free(OutputRing);
        OutputRing = nullptr;
        return false;
    }
    uintptr_t start = (reinterpret_cast<uintptr_t>(mixBufferMemory) + 15) & ~uintptr_t{15};
    MixBuffer = reinterpret_cast<float*>(start);
    CurrentSong = song;

    // Pre-mix the whole ring; the first block starts with a tick, since tickSamplesLeft is 0.
    SndResetPlayStatus();
    WriteBlock = 0;
    do {
        SndMixBlock();
    } while (WriteBlock != 0);

    // A device that refuses the ring, or streaming that cannot start, would play nothing or the same two
    // seconds over and over: the play fails and leaves nothing behind.
    StopRequested = false;
    if (PlatAudioQueueLoop(OutputRing, static_cast<uint32_t>(ringFrames * 4))) {
        streamThread = PlatStartPolling(SndStreamThread, nullptr, PollMilliseconds);
    }
    if (streamThread == nullptr) {
        ModStopSong(song);
        return false;
    }
    return true;
}

bool ModStopSong(Song* song)
{
    if (song == nullptr) {
        return false;
    }
    StopRequested = true;
    while (BlockInProgress) {
        // A block being mixed is finished first; it takes well under a millisecond.
    }
    if (streamThread != nullptr) {
        // Joined rather than polled: when this returns the thread has ended, so nothing of it outlives the
        // buffers released below.
        PlatJoinThread(streamThread);
        streamThread = nullptr;
    }
    StreamThreadDone = true;
    ReleasePlayBuffers();
    // A stopped song is silent: the device gives the ring back (and so reads it no more) before it goes,
    // instead of looping its last two seconds until the device is closed.
    if (OutputRing != nullptr) {
        PlatAudioReset();
        std::free(OutputRing);
        OutputRing = nullptr;
    }
    CurrentSong = nullptr;
    return true;
}
