// Rendering without a device: the song is started as ModPlaySong starts it and mixed block after block
// straight into the caller's buffer. The blocks are those the streaming thread would put into the ring, in
// the same order and bit for bit, because both go through the same start (SndResetPlayback) and the same
// block mixing (SndMixSongBlock); only the ring, the device and the thread are left out.
//
// A render and the device's stream share the timing values, the voices and the tracks, so one never runs
// while the other is in use: a render starts only while the output is closed and no song streams, SndInit
// and ModPlaySong refuse while a render runs, and the end of a render puts back what it changed.
#include "sound/sound.h"
#include "sound/stream_shared.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

// The song being rendered, or null (main thread).
static Song* renderSong = nullptr;
// The allocation the render's mix block lies in, and that block itself rounded up to 16 bytes as the
// mixer expects of MixBuffer: BlockFrames float stereo frames (main thread).
static void* renderMemory = nullptr;
static float* renderBlock = nullptr;

// What the render changes outside the caller's song, as it stood when the render started (main thread): the
// timing values, the voices and the tracks.
static int32_t savedOutputRate = 0;
static float savedSecondsPerFrame = 0.0f;
static int32_t savedBlockFrames = 0;
static int32_t savedRingFrames = 0;
static int32_t savedRingBlocks = 0;
static int32_t savedRampFrames = 0;
static float savedRampFramesReciprocal = 0.0f;
static MixVoice savedVoices[MixVoiceSlots];
static MusicChannel savedChannels[MaxChannels];

bool SndRenderRunning()
{
    return renderSong != nullptr;
}

static void SaveOutputState()
{
    savedOutputRate = OutputRate;
    savedSecondsPerFrame = SecondsPerFrame;
    savedBlockFrames = BlockFrames;
    savedRingFrames = RingFrames;
    savedRingBlocks = RingBlocks;
    savedRampFrames = RampFrames;
    savedRampFramesReciprocal = RampFramesReciprocal;
    std::memcpy(savedVoices, MixVoices, sizeof MixVoices);
    std::memcpy(savedChannels, MusicChannels, sizeof MusicChannels);
}

static void RestoreOutputState()
{
    OutputRate = savedOutputRate;
    SecondsPerFrame = savedSecondsPerFrame;
    BlockFrames = savedBlockFrames;
    RingFrames = savedRingFrames;
    RingBlocks = savedRingBlocks;
    RampFrames = savedRampFrames;
    RampFramesReciprocal = savedRampFramesReciprocal;
    std::memcpy(MixVoices, savedVoices, sizeof MixVoices);
    std::memcpy(MusicChannels, savedChannels, sizeof MusicChannels);
}

void SndRenderStop()
{
    if (renderSong == nullptr) {
        return;
    }
    std::free(renderMemory);
    renderMemory = nullptr;
    renderBlock = nullptr;
    renderSong = nullptr;
    RestoreOutputState();
}

bool SndRenderStart(Song* song, int32_t rate)
{
    // The open device plays at the timing values, and a streaming song owns the voices and the tracks.
    if (SndOutputInUse()) {
        return false;
    }
    SndRenderStop();
    if (song == nullptr || rate < MinOutputRate || rate > MaxOutputRate) {
        return false;
    }
    SaveOutputState();
    SndSetOutputTiming(rate);
    renderMemory = SndAllocZeroed(static_cast<size_t>(BlockFrames) * 8 + 16);
    if (renderMemory == nullptr) {
        RestoreOutputState();
        return false;
    }
    uintptr_t start = (reinterpret_cast<uintptr_t>(renderMemory) + 15) & ~uintptr_t{15};
    renderBlock = reinterpret_cast<float*>(start);
    SndResetPlayback(song);
    renderSong = song;
    return true;
}

int32_t SndRenderBlock(int16_t* out)
{
    if (renderSong == nullptr || out == nullptr) {
        return 0;
    }
    SndMixSongBlock(renderSong, renderBlock, out);
    return BlockFrames;
}
