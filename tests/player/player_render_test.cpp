// The whole engine on a crafted module: the loader, play's reset and pre-mix, the player and the mixer.
// The checksum pins the sound, so any later change to the player or the mixer that changes it is seen.
#include "player_test_support.h"

#include "platform/fake/fake_audio.h"

#include <gtest/gtest.h>

namespace {

// A two-pattern module that exercises notes, envelopes, the voice pairs, slides, vibrato, arpeggio,
// retriggers and panning on four tracks.
XmModule CraftedModule()
{
    XmModule module = TraceModule(4, {16, 16}, 4);
    module.defaultBpm = 140;
    XmInstrument& pad = module.instruments[0];
    pad.volumeEnvelope.points = {{0, 0}, {6, 64}, {20, 40}, {40, 10}};
    pad.volumeEnvelope.flags = XmEnvelopeOn | XmEnvelopeSustain;
    pad.volumeEnvelope.sustain = 2;
    pad.panningEnvelope.points = {{0, 16}, {30, 48}};
    pad.panningEnvelope.flags = XmEnvelopeOn;
    pad.fadeout = 400;
    pad.vibratoType = 0;
    pad.vibratoDepth = 6;
    pad.vibratoRate = 12;
    pad.vibratoSweep = 8;
    XmInstrument& pluck = module.instruments[1];
    pluck.samples[0].loop = XmLoop::PingPong;
    pluck.samples[0].loopStart = 200;
    pluck.samples[0].loopLength = 300;
    pluck.samples[0].relativeNote = 12;
    XmPattern& a = module.patterns[0];
    XmSetCell(&a, 4, 0, 0, Cell(NoteC4, 1, 0, 4, 0x46));
    XmSetCell(&a, 4, 0, 1, Cell(NoteC4 - 12, 2, 0x30, 0, 0x37));
    XmSetCell(&a, 4, 2, 2, Cell(NoteD4, 2, 0, 27, 0x82));
    XmSetCell(&a, 4, 4, 1, Cell(NoteD4 - 12, 0, 0, 3, 0x08));
    XmSetCell(&a, 4, 6, 3, Cell(NoteC4 + 7, 1, 0xC2, 25, 0x40));
    XmSetCell(&a, 4, 8, 0, Cell(KeyOffNote, 0));
    XmSetCell(&a, 4, 8, 2, Cell(NoteC4 + 3, 2, 0, 9, 0x01));
    XmSetCell(&a, 4, 10, 1, Cell(0, 0, 0x65, 10, 0x02));
    XmSetCell(&a, 4, 12, 3, Cell(NoteC4 + 12, 1, 0, 7, 0x48));
    XmSetCell(&a, 4, 14, 2, Cell(NoteC4, 2, 0, 14, 0xD2));
    XmPattern& b = module.patterns[1];
    XmSetCell(&b, 4, 0, 0, Cell(NoteC4 + 5, 1, 0x40, 1, 0x02));
    XmSetCell(&b, 4, 0, 1, Cell(NoteC4 - 5, 2, 0, 14, 0x93));
    XmSetCell(&b, 4, 4, 2, Cell(NoteC4 + 2, 2, 0xB3, 6, 0x01));
    XmSetCell(&b, 4, 8, 3, Cell(NoteC4 - 3, 1, 0, 29, 0x21));
    XmSetCell(&b, 4, 12, 0, Cell(0, 0, 0, 16, 0x30));
    XmSetCell(&b, 4, 12, 1, Cell(NoteC4, 1, 0, 17, 0x02));
    return module;
}

uint64_t Fnv1a(const int16_t* samples, size_t count)
{
    uint64_t hash = 14695981039346656037ull;
    for (size_t k = 0; k < count; k++) {
        uint16_t value = static_cast<uint16_t>(samples[k]);
        hash = (hash ^ (value & 0xFF)) * 1099511628211ull;
        hash = (hash ^ (value >> 8)) * 1099511628211ull;
    }
    return hash;
}

TEST(PlayerRender, CraftedModuleRendersToItsPinnedChecksum)
{
    FakeAudioReset();
    Song* song = LoadModule(CraftedModule());
    ASSERT_NE(song, nullptr);
    ASSERT_TRUE(SndInit(44100));
    // Play pre-mixes the whole ring (2 s) before the device plays; the stand-in device never moves, so
    // the streaming thread mixes nothing more.
    ASSERT_TRUE(ModPlaySong(song));
    size_t samples = static_cast<size_t>(RingFrames) * 2;
    int32_t peak = 0;
    int32_t clipped = 0;
    for (size_t k = 0; k < samples; k++) {
        int32_t value = OutputRing[k] < 0 ? -OutputRing[k] : OutputRing[k];
        peak = std::max(peak, value);
        clipped += value >= 32767 ? 1 : 0;
    }
    uint64_t hash = Fnv1a(OutputRing, samples);
    EXPECT_GT(peak, 2000);
    EXPECT_EQ(clipped, 0);
    EXPECT_EQ(song->orderPos, 1);  // 2 s at 140 BPM and speed 4 reach the second pattern
    EXPECT_EQ(hash, 0x8c3a4a8fe68fb58full) << std::hex << hash;
    ModFreeSong(song);
    SndClose();
}

}  // namespace
