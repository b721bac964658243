// Watching and pausing a stream: the streaming thread publishes, block by block, where the song stood and how
// loud each track was when the block had been mixed, and how far the device has played; the main thread reads
// the entry of the block being heard. Each entry is guarded by a version count (odd while it is written), so
// a reader that raced with a rewrite sees the count change and reads again instead of taking a torn mix of
// two blocks. All of it is static and lock-free: the streaming thread allocates nothing and never waits.
#include "sound/sound.h"

#include "platform/platform.h"

#include <atomic>
#include <cstdint>

namespace {

// The ring always has 100 blocks (BufferMilliseconds / 20 ms, doubled); more entries than that are never used.
constexpr int32_t StatusEntries = 100;
// Reads of one entry before SndReadPlayStatus gives up; a rewrite takes microseconds and happens only once
// per ring turn, so two are nearly always enough.
constexpr int ReadAttempts = 8;
// Frames on each side of a voice's position whose peak stands for its sample's loudness.
constexpr uint32_t PeakWindowFrames = 32;

// One published block. Written by whichever thread mixes the block, read by the main thread.
struct StatusEntry {
    std::atomic<uint32_t> version{0};     // odd while the writer is inside
    std::atomic<uint64_t> serial{0};      // publication number since play started, from 1; 0 = none
    std::atomic<int32_t> orderPos{0};
    std::atomic<int32_t> pattern{-1};
    std::atomic<int32_t> row{0};
    std::atomic<int32_t> speed{0};
    std::atomic<int32_t> bpm{0};
    std::atomic<int32_t> channelCount{0};
    std::atomic<uint8_t> levels[MaxChannels] = {};
};

StatusEntry entries[StatusEntries];
// Blocks published since play started (main thread during the pre-mix, then the streaming thread).
uint64_t publishedBlocks = 0;
// The device's count as last published, in frames, and the largest step between two publications
// (streaming thread writes, main thread reads).
std::atomic<uint64_t> playedFrames{0};
std::atomic<uint64_t> longestGapFrames{0};

// The loudness of one voice at its position: the peak of the frames around it times its final volume,
// 0..255 (streaming thread).
int32_t VoiceLevel(const MixVoice& voice)
{
    const Sample* sample = voice.sample;
    if (sample == nullptr || sample->data == nullptr || voice.volume <= 0) {
        return 0;
    }
    uint64_t end = uint64_t{sample->loopStart} + sample->loopLength;
    if (end > sample->length) {
        end = sample->length;
    }
    uint64_t position = voice.positionInt;
    if (position >= end) {
        return 0;
    }
    uint64_t first = position > PeakWindowFrames ? position - PeakWindowFrames : 0;
    uint64_t last = position + PeakWindowFrames < end ? position + PeakWindowFrames : end;
    int32_t peak = 0;
    for (uint64_t k = first; k < last; k++) {
        int32_t value = sample->data[k];
        if (value < 0) {
            value = -value;
        }
        if (value > peak) {
            peak = value;
        }
    }
    int64_t level = int64_t{peak} * voice.volume * 255 / (int64_t{32767} * 127);
    return level > 255 ? 255 : static_cast<int32_t>(level);
}

}  // namespace

void SndResetPlayStatus()
{
    for (StatusEntry& entry : entries) {
        entry.serial = 0;
    }
    publishedBlocks = 0;
    playedFrames = 0;
    longestGapFrames = 0;
}

void SndPublishBlock(int32_t block, const Song* song)
{
    if (song == nullptr || block < 0 || block >= StatusEntries) {
        return;
    }
    StatusEntry& entry = entries[block];
    entry.version = entry.version + 1;
    publishedBlocks++;
    entry.serial = publishedBlocks;
    entry.orderPos = song->orderPos;
    entry.pattern = song->orderPos >= 0 && song->orderPos < 256 ? song->orders[song->orderPos] : -1;
    entry.row = song->row;
    entry.speed = song->speed;
    entry.bpm = song->bpm;
    int32_t channels = song->channelCount < 0 ? 0 : (song->channelCount > MaxChannels ? MaxChannels : song->channelCount);
    entry.channelCount = channels;
    // A track plays on its own voice and hands a finished note to its partner (slot + MaxChannels) to fade
    // while the next one starts: the track is as loud as the louder of the two.
    for (int32_t t = 0; t < MaxChannels; t++) {
        int32_t level = 0;
        if (t < channels) {
            int32_t own = VoiceLevel(MixVoices[t]);
            int32_t partner = VoiceLevel(MixVoices[t + MaxChannels]);
            level = own > partner ? own : partner;
        }
        entry.levels[t] = static_cast<uint8_t>(level);
    }
    entry.version = entry.version + 1;
}

void SndPublishPlayed(uint64_t playedBytes)
{
    uint64_t frames = playedBytes / 4;
    uint64_t last = playedFrames;
    // A count below the last one belongs to a newly queued ring.
    uint64_t gap = frames >= last ? frames - last : 0;
    if (gap > longestGapFrames) {
        longestGapFrames = gap;
    }
    playedFrames = frames;
}

bool SndReadPlayStatus(SndPlayStatus* status)
{
    if (status == nullptr || CurrentSong == nullptr || BlockFrames <= 0 || RingFrames <= 0) {
        return false;
    }
    for (int attempt = 0; attempt < ReadAttempts; attempt++) {
        uint64_t played = playedFrames;
        uint64_t gap = longestGapFrames;
        int32_t block = static_cast<int32_t>(played % static_cast<uint64_t>(RingFrames) /
                                             static_cast<uint64_t>(BlockFrames));
        if (block >= StatusEntries) {
            return false;
        }
        StatusEntry& entry = entries[block];
        uint32_t before = entry.version;
        if ((before & 1) != 0) {
            continue;
        }
        SndPlayStatus copy{};
        uint64_t serial = entry.serial;
        copy.orderPos = entry.orderPos;
        copy.pattern = entry.pattern;
        copy.row = entry.row;
        copy.speed = entry.speed;
        copy.bpm = entry.bpm;
        copy.channelCount = entry.channelCount;
        for (int32_t t = 0; t < MaxChannels; t++) {
            copy.levels[t] = entry.levels[t];
        }
        if (entry.version != before) {
            continue;
        }
        // The block being played was mixed one ring turn before: it is publication number (blocks played
        // before it) + 1. An entry already mixed again for the next turn (the device moved on while this was
        // read) describes the future, so read again. (After the streaming thread fell behind a whole turn
        // the numbers stay lower; those entries are still the sound being heard.)
        if (serial == 0 || serial > played / static_cast<uint64_t>(BlockFrames) + 1) {
            continue;
        }
        copy.playedFrames = played;
        copy.longestPollGapFrames = gap;
        // A block finished just after one look is mixed again at the next; if the device has meanwhile
        // played nearly a whole ring, it may have come round to that block before it was rewritten.
        copy.fellBehind = gap + 2 * static_cast<uint64_t>(BlockFrames) >= static_cast<uint64_t>(RingFrames);
        *status = copy;
        return true;
    }
    return false;
}

void SndPause()
{
    PlatAudioPause();
}

void SndResume()
{
    PlatAudioRestart();
}
