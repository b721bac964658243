// libFuzzer over the XM loader: the fuzz bytes become the one file the registered callbacks can open (an
// in-memory MemFile), the song is loaded and, if it loads, released again.
#include "music/music.h"
#include "tests/support/memory_song.h"

#include <cstdint>
#include <cstdlib>

// A hook that fills the buffer with a pattern of its own, to run the sample load hook path as well.
static void FillSample(uint8_t* buffer, int32_t byteCount, int32_t bits, int32_t instrument, int32_t sample)
{
    for (int32_t k = 0; k < byteCount; ++k)
        buffer[k] = static_cast<uint8_t>(k * 7 + bits + instrument + sample);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 64 * 1024 * 1024)
        return 0;
    // The last byte of the input picks the hook path for about one input in eight.
    SampleLoadCallback hook = (size > 0 && (data[size - 1] & 7) == 7) ? FillSample : nullptr;
    Song* song = LoadSongBytes(data, size, hook);
    if (song != nullptr) {
        // Walk what the loader promises, so a broken invariant shows as an out-of-bounds read or an abort.
        if (song->orderCount < 1 || song->orderCount > 256 || song->restartPosition >= song->orderCount ||
            song->channelCount > MaxChannels || song->patternSlotCount < song->usedPatternCount)
            std::abort();
        for (int32_t k = 0; k < song->orderCount; ++k) {
            const Pattern& pattern = song->patterns[song->orders[k]];
            int32_t rows = pattern.rowCount > 0 ? pattern.rowCount : 1;
            volatile uint8_t last = pattern.cells[rows * (song->channelCount > 0 ? song->channelCount : 1) - 1].note;
            (void)last;
        }
        for (int32_t i = 0; i < song->instrumentCount; ++i) {
            const Instrument& instrument = song->instruments[i];
            if (instrument.volumePointCount > 12 || instrument.panningPointCount > 12 ||
                ((instrument.volumeEnvelopeFlags & 4) && instrument.volumeLoopStart >= instrument.volumePointCount))
                std::abort();
            if (instrument.sampleCount < 0 || instrument.sampleCount > MaxSamplesPerInstrument ||
                (instrument.sampleCount < MaxSamplesPerInstrument && instrument.samples[15] != &EmptySample))
                std::abort();
            for (int32_t j = 0; j < instrument.sampleCount; ++j) {
                const Sample* sample = instrument.samples[j];
                if (sample->length == 0)
                    continue;
                uint32_t end = sample->loopStart + sample->loopLength;
                if (sample->loopLength == 0 || end > sample->length + 7)
                    std::abort();
                volatile int16_t guard = sample->data[-1] + sample->data[end] + sample->data[end + 1];
                (void)guard;
            }
        }
        ModFreeSong(song);
    }
    return 0;
}
