// Small modules played tick by tick without audio. Each expected trace was worked out by hand from the
// player's rules; a line reads "tick row order speed | period volume panning flags voiceSlot voiceVolume"
// for track 0 after the tick. Voice volume = volume x 127.5 / 64 at full envelope, fadeout and global
// volume, truncated (40 -> 79, 32 -> 63, 20 -> 39).
#include "tests/support/song_support.h"

#include <gtest/gtest.h>

namespace {

class PlayerTrace : public testing::Test {
protected:
    void SetUp() override { ResetOutput(44100); }
    void TearDown() override
    {
        if (song != nullptr) {
            ModFreeSong(song);
        }
    }

    void Play(const XmModule& module)
    {
        song = LoadModule(module);
        ASSERT_NE(song, nullptr);
        ResetForPlay(song);
    }

    Sample* InstrumentSample(int instrument) { return song->instruments[instrument].samples[0]; }

    Song* song = nullptr;
};

TEST_F(PlayerTrace, TonePortamentoWithAndWithoutNoteAndInstrument)
{
    XmModule module = TraceModule(1, {4}, 3);
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(NoteC4, 1, 0x30));
    XmSetCell(&module.patterns[0], 1, 1, 0, Cell(NoteD4, 1, 0, 3, 0x10));
    XmSetCell(&module.patterns[0], 1, 2, 0, Cell(0, 0, 0, 3, 0));
    Play(module);
    std::vector<std::string> expected = {
        "0 0 0 3 | 4608 32 128 15 0 63", "1 0 0 3 | 4608 32 128 1 0 63", "2 0 0 3 | 4608 32 128 1 0 63",
        // The instrument column resets volume and panning from the current sample; no start, no pitch yet.
        "0 1 0 3 | 4608 40 128 7 0 79", "1 1 0 3 | 4544 40 128 1 0 79", "2 1 0 3 | 4480 40 128 1 0 79",
        // Without note or instrument: the kept speed and the target of the last note.
        "0 2 0 3 | 4480 40 128 3 0 79", "1 2 0 3 | 4480 40 128 1 0 79", "2 2 0 3 | 4480 40 128 1 0 79",
    };
    EXPECT_EQ(Trace(song, 9), expected);
    EXPECT_EQ(MusicChannels[0].note, 48);  // the portamento note is not taken over
    EXPECT_EQ(MusicChannels[0].realNote, 50);
    EXPECT_EQ(MusicChannels[0].notePeriod, 4480);
}

TEST_F(PlayerTrace, VolumeColumnPortamentoJumpsToTheNoteWithoutARestart)
{
    XmModule module = TraceModule(1, {4}, 1);
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(NoteC4, 1));
    XmSetCell(&module.patterns[0], 1, 1, 0, Cell(NoteD4, 0, 0xF1, 0x0C, 0x20));
    Play(module);
    EXPECT_EQ(TraceLine(StepTick(song)), "0 0 0 1 | 4608 40 128 15 0 79");
    EXPECT_EQ(TraceLine(StepTick(song)), "0 1 0 1 | 4480 32 128 3 0 63");
    EXPECT_EQ(MusicChannels[0].portaSpeed, 16);
    EXPECT_EQ(MusicChannels[0].portaTarget, 4480);
}

TEST_F(PlayerTrace, InstrumentWithoutNoteKeepsTheSoundingSample)
{
    XmModule module = TraceModule(1, {4}, 1);
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(NoteC4, 1));
    XmSetCell(&module.patterns[0], 1, 1, 0, Cell(0, 2));
    Play(module);
    StepTick(song);
    EXPECT_EQ(TraceLine(StepTick(song)), "0 1 0 1 | 4608 20 50 7 0 39");
    EXPECT_EQ(MixVoices[0].sample, InstrumentSample(0));
    EXPECT_EQ(MixVoices[0].panning, 50);
    EXPECT_EQ(MusicChannels[0].instrument, 1);
}

TEST_F(PlayerTrace, NoteWithoutInstrumentOnAFreshTrackIsSilent)
{
    XmModule module = TraceModule(1, {4}, 1);
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(NoteC4));
    Play(module);
    // Instrument 0 is selected and starts, but the fadeout volume of a fresh track is 0.
    EXPECT_EQ(TraceLine(StepTick(song)), "0 0 0 1 | 4608 0 0 11 0 0");
    EXPECT_EQ(MixVoices[0].sample, InstrumentSample(0));
    EXPECT_EQ(MusicChannels[0].fadeoutVolume, 0);
}

TEST_F(PlayerTrace, KeyOffWithInstrumentAndANoteAfterIt)
{
    XmModule module = TraceModule(2, {4}, 1);
    module.instruments[1].fadeout = 1000;  // 2000 per tick
    XmSetCell(&module.patterns[0], 2, 0, 0, Cell(NoteC4, 1));
    XmSetCell(&module.patterns[0], 2, 0, 1, Cell(NoteC4, 1));
    XmSetCell(&module.patterns[0], 2, 1, 0, Cell(KeyOffNote, 2));
    XmSetCell(&module.patterns[0], 2, 1, 1, Cell(0, 0, 0, 20, 0x00));  // K00
    XmSetCell(&module.patterns[0], 2, 2, 0, Cell(NoteD4));
    Play(module);
    StepTick(song);
    // The instrument starts first (volume 20, fadeout full), then the key is released: without a volume
    // envelope the track is silent at once, and the fadeout runs from this row on.
    EXPECT_EQ(TraceLine(StepTick(song)), "0 1 0 1 | 4608 20 50 7 0 0");
    EXPECT_EQ(MusicChannels[0].keyOff, 1);
    EXPECT_EQ(MusicChannels[0].fadeoutVolume, 63536);
    EXPECT_EQ(MusicChannels[1].keyOff, 1);
    EXPECT_EQ(MusicChannels[1].voice->volume, 0);
    // A note without instrument after the key off starts, on the partner voice, and stays released.
    EXPECT_EQ(TraceLine(StepTick(song)), "0 2 0 1 | 4480 20 50 11 32 0");
    EXPECT_EQ(MusicChannels[0].keyOff, 1);
    EXPECT_EQ(MusicChannels[0].fadeoutVolume, 61536);
    EXPECT_EQ(MixVoices[0].volumeLeft, 0);
}

TEST_F(PlayerTrace, NaturalEndContinuesAtTheRestartPosition)
{
    XmModule module = TraceModule(1, {2, 2, 2}, 1);
    module.restartPosition = 1;
    Play(module);
    std::vector<std::pair<int32_t, int32_t>> expected = {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0},
                                                         {2, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}};
    EXPECT_EQ(RowStarts(song, 10), expected);
}

TEST_F(PlayerTrace, PatternBreakAndPositionJumpOnEitherTrackOrder)
{
    XmModule module = TraceModule(2, {4, 4, 8}, 1);
    XmSetCell(&module.patterns[0], 2, 0, 0, Cell(0, 0, 0, 13, 0x05));
    XmSetCell(&module.patterns[0], 2, 0, 1, Cell(0, 0, 0, 11, 0x02));
    Play(module);
    // D first, then B: order from B, row 0.
    EXPECT_EQ(RowStarts(song, 2), (std::vector<std::pair<int32_t, int32_t>>{{0, 0}, {2, 0}}));
    ModFreeSong(song);

    XmModule swapped = TraceModule(2, {4, 4, 8}, 1);
    XmSetCell(&swapped.patterns[0], 2, 0, 0, Cell(0, 0, 0, 11, 0x02));
    XmSetCell(&swapped.patterns[0], 2, 0, 1, Cell(0, 0, 0, 13, 0x05));
    Play(swapped);
    // B first, then D: order from B, row from D.
    EXPECT_EQ(RowStarts(song, 2), (std::vector<std::pair<int32_t, int32_t>>{{0, 0}, {2, 5}}));
}

TEST_F(PlayerTrace, BreakRowsAreDecimalAndOrdersWrapToZero)
{
    XmModule module = TraceModule(1, {2, 32, 2}, 1);
    module.restartPosition = 2;
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(0, 0, 0, 13, 0x19));  // D19: row 19
    XmSetCell(&module.patterns[1], 1, 19, 0, Cell(0, 0, 0, 13, 0x70));  // D70: row 0
    XmSetCell(&module.patterns[2], 1, 0, 0, Cell(0, 0, 0, 13, 0x01));  // last order: to order 0
    XmSetCell(&module.patterns[0], 1, 1, 0, Cell(0, 0, 0, 11, 0x03));  // B to orderCount: order 0
    Play(module);
    std::vector<std::pair<int32_t, int32_t>> expected = {{0, 0}, {1, 19}, {2, 0}, {0, 1}, {0, 0}};
    EXPECT_EQ(RowStarts(song, 5), expected);
}

TEST_F(PlayerTrace, PatternLoopPlaysRowsFourToEightThreeTimes)
{
    XmModule module = TraceModule(2, {12}, 2);
    XmSetCell(&module.patterns[0], 2, 0, 1, Cell(NoteC4, 1));
    XmSetCell(&module.patterns[0], 2, 4, 0, Cell(0, 0, 0, 14, 0x60));
    XmSetCell(&module.patterns[0], 2, 3, 1, Cell(0, 0, 0x71));
    XmSetCell(&module.patterns[0], 2, 8, 0, Cell(0, 0, 0, 14, 0x62));
    XmSetCell(&module.patterns[0], 2, 8, 1, Cell(0, 0, 0x61));
    Play(module);
    std::vector<std::pair<int32_t, int32_t>> starts = RowStarts(song, 2 * 22);
    std::vector<int32_t> rows;
    for (const auto& start : starts) {
        rows.push_back(start.second);
    }
    EXPECT_EQ(rows, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 4, 5, 6, 7, 8, 4, 5, 6, 7, 8, 9, 10, 11}));
    // The second tick of row 8 (the song's row already set back to 3) still reads row 8: row 3 slid up by
    // 2 once, each pass of row 8 down by 2.
    EXPECT_EQ(MusicChannels[1].volume, 40 + 2 - 3 * 2);
}

TEST_F(PlayerTrace, PatternLoopWithoutAStartRowGoesBackToRowZero)
{
    XmModule module = TraceModule(1, {4}, 2);
    XmSetCell(&module.patterns[0], 1, 2, 0, Cell(0, 0, 0, 14, 0x61));
    Play(module);
    std::vector<int32_t> rows;
    for (const auto& start : RowStarts(song, 2 * 7)) {
        rows.push_back(start.second);
    }
    EXPECT_EQ(rows, (std::vector<int32_t>{0, 1, 2, 0, 1, 2, 3}));
}

TEST_F(PlayerTrace, PatternDelayStretchesTheRowWithoutANewStart)
{
    XmModule module = TraceModule(1, {4}, 6);
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(NoteC4, 1, 0x61, 14, 0xE2));
    Play(module);
    TickState first = StepTick(song);
    EXPECT_EQ(first.flags & UpdateStart, UpdateStart);
    EXPECT_EQ(first.volume, 39);
    for (int k = 1; k < 18; k++) {
        TickState state = StepTick(song);
        EXPECT_EQ(state.tick, k);
        EXPECT_EQ(state.row, 0);
        EXPECT_EQ(state.flags & UpdateStart, 0);
        EXPECT_EQ(state.volume, 39 - k);  // the volume-column slide goes on through the extra ticks
    }
    TickState next = StepTick(song);
    EXPECT_EQ(next.tick, 0);
    EXPECT_EQ(next.row, 1);
    EXPECT_EQ(song->patternDelayTicks, 0);
}

TEST_F(PlayerTrace, SpeedAndTempoEffects)
{
    XmModule module = TraceModule(1, {8}, 6);
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(0, 0, 0, 15, 0x00));
    XmSetCell(&module.patterns[0], 1, 2, 0, Cell(0, 0, 0, 15, 0x20));
    XmSetCell(&module.patterns[0], 1, 3, 0, Cell(0, 0, 0, 15, 0x1F));
    Play(module);
    // F00: every tick is a row start.
    EXPECT_EQ(RowStarts(song, 3), (std::vector<std::pair<int32_t, int32_t>>{{0, 0}, {0, 1}, {0, 2}}));
    EXPECT_EQ(song->speed, 0);
    EXPECT_EQ(song->bpm, 32);
    EXPECT_EQ(song->samplesPerTick, 3445);
    StepTick(song);
    EXPECT_EQ(song->speed, 31);
    EXPECT_EQ(song->tick, 1);
}

TEST_F(PlayerTrace, SampleOffsetPastTheEndRestartsTheSoundingSample)
{
    XmModule module = TraceModule(1, {4}, 1);
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(NoteC4, 1));
    XmSetCell(&module.patterns[0], 1, 1, 0, Cell(NoteC4, 0, 0, 9, 0x04));  // 1024 >= 1000
    Play(module);
    StepTick(song);
    MixVoices[0].positionInt = 500;
    MixVoices[0].direction = DirBackward;
    TickState state = StepTick(song);
    EXPECT_EQ(state.flags & (UpdateStart | UpdateRestart), UpdateRestart);
    EXPECT_EQ(state.voiceSlot, 0);
    EXPECT_EQ(MixVoices[0].positionInt, 0u);
    EXPECT_EQ(MixVoices[0].direction, DirForward);
    EXPECT_EQ(MixVoices[32].sample, nullptr);
}

TEST_F(PlayerTrace, SampleOffsetWithoutNoteWaitsForTheNextStart)
{
    XmModule module = TraceModule(1, {4}, 1);
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(NoteC4, 1));
    XmSetCell(&module.patterns[0], 1, 1, 0, Cell(0, 0, 0, 9, 0x02));
    XmSetCell(&module.patterns[0], 1, 2, 0, Cell(NoteD4));
    Play(module);
    StepTick(song);
    MixVoices[0].positionInt = 100;
    StepTick(song);
    EXPECT_EQ(MixVoices[0].startOffset, 512u);
    EXPECT_EQ(MixVoices[0].positionInt, 100u);
    TickState state = StepTick(song);
    EXPECT_EQ(state.voiceSlot, 32);
    EXPECT_EQ(MixVoices[32].positionInt, 512u);
    EXPECT_EQ(MixVoices[32].startOffset, 0u);
    EXPECT_EQ(MixVoices[0].positionInt, 100u);  // the old note fades from where it was
}

TEST_F(PlayerTrace, SetVolumeAboveSixtyFourAndGlobalVolume)
{
    XmModule module = TraceModule(2, {4}, 2);
    XmSetCell(&module.patterns[0], 2, 0, 0, Cell(NoteC4, 1, 0, 12, 0x80));
    XmSetCell(&module.patterns[0], 2, 0, 1, Cell(NoteC4, 1));
    XmSetCell(&module.patterns[0], 2, 1, 0, Cell(0, 0, 0, 10, 0x10));
    XmSetCell(&module.patterns[0], 2, 2, 1, Cell(0, 0, 0, 16, 0x20));
    XmSetCell(&module.patterns[0], 2, 3, 1, Cell(0, 0, 0, 16, 0x50));
    Play(module);
    EXPECT_EQ(TraceLine(StepTick(song)), "0 0 0 2 | 4608 128 128 15 0 255");
    StepTick(song);
    StepTick(song);
    // The first upward slide step brings it back to 64.
    EXPECT_EQ(TraceLine(StepTick(song)), "1 1 0 2 | 4608 64 128 3 0 127");
    // G on track 1: track 0 handed its volume over before it, track 1 after it.
    StepTick(song);
    EXPECT_EQ(song->globalVolume, 32);
    EXPECT_EQ(MusicChannels[0].voice->volume, 127);
    EXPECT_EQ(MusicChannels[1].voice->volume, 39);
    StepTick(song);
    EXPECT_EQ(MusicChannels[0].voice->volume, 127);  // no volume change on the row's later tick
    StepTick(song);
    EXPECT_EQ(MusicChannels[0].voice->volume, 63);
    EXPECT_EQ(song->globalVolume, 64);  // G50 on track 1 is limited to 64
}

TEST_F(PlayerTrace, GlobalVolumeSlideSetsNoFlag)
{
    XmModule module = TraceModule(1, {4}, 3);
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(NoteC4, 1, 0, 17, 0x05));
    Play(module);
    StepTick(song);
    TickState state = StepTick(song);
    EXPECT_EQ(song->globalVolume, 59);
    EXPECT_EQ(state.flags & UpdateVolume, 0);
    EXPECT_EQ(state.voiceVolume, 79);  // handed over at the next volume change only
    StepTick(song);
    StepTick(song);
    EXPECT_EQ(song->globalVolume, 54);
    EXPECT_EQ(MusicChannels[0].voice->volume, 67);
}

TEST_F(PlayerTrace, SetFinetuneChangesTheSampleForLaterNotes)
{
    XmModule module = TraceModule(1, {2}, 1);
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(NoteC4, 1, 0, 14, 0x5F));
    XmSetCell(&module.patterns[0], 1, 1, 0, Cell(NoteC4, 1));
    Play(module);
    EXPECT_EQ(StepTick(song).period, 4608);  // the note already started keeps its period
    EXPECT_EQ(InstrumentSample(0)->finetune, 15);
    EXPECT_EQ(StepTick(song).period, 4601);  // 7 units (7/64 semitone) higher
    // Also after the song starts again.
    ResetForPlay(song);
    EXPECT_EQ(StepTick(song).period, 4601);
}

TEST_F(PlayerTrace, SetFinetuneOnTheEmptySampleWritesNothing)
{
    XmModule module = TraceModule(1, {2}, 1);
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(NoteC4, 9, 0, 14, 0x5F));  // no instrument 9
    Play(module);
    StepTick(song);
    EXPECT_EQ(EmptySample.finetune, 0);
    EXPECT_EQ(MixVoices[0].sample, &EmptySample);
}

TEST_F(PlayerTrace, MultiRetriggerVolumeTable)
{
    const int32_t expected[16] = {40, 39, 38, 36, 32, 24, 26, 20, 40, 41, 42, 44, 48, 56, 60, 64};
    for (int x = 0; x < 16; x++) {
        XmModule module = TraceModule(1, {2}, 2);
        XmSetCell(&module.patterns[0], 1, 0, 0, Cell(NoteC4, 1, 0, 27, static_cast<uint8_t>(x * 16 + 1)));
        Play(module);
        StepTick(song);
        TickState state = StepTick(song);
        EXPECT_EQ(state.volume, expected[x]) << x;
        EXPECT_EQ(state.flags & (UpdateStart | UpdateVolume), x == 0 ? UpdateStart : UpdateStart | UpdateVolume)
            << x;
        EXPECT_EQ(state.voiceSlot, 32) << x;
        ModFreeSong(song);
        song = nullptr;
        ResetOutput(44100);
    }
}

TEST_F(PlayerTrace, MultiRetriggerIntervalCountsFromTheRowStart)
{
    XmModule module = TraceModule(1, {2}, 6);
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(NoteC4, 1, 0, 27, 0x03));
    XmSetCell(&module.patterns[0], 1, 1, 0, Cell(0, 0, 0, 27, 0x01));
    Play(module);
    std::vector<int> starts;
    for (int k = 0; k < 12; k++) {
        if ((StepTick(song).flags & UpdateStart) != 0) {
            starts.push_back(k);
        }
    }
    EXPECT_EQ(starts, (std::vector<int>{0, 3, 7, 8, 9, 10, 11}));
}

TEST_F(PlayerTrace, NoteCutEdges)
{
    XmModule module = TraceModule(3, {2}, 3);
    XmSetCell(&module.patterns[0], 3, 0, 0, Cell(NoteC4, 1, 0, 14, 0xC0));
    XmSetCell(&module.patterns[0], 3, 0, 1, Cell(NoteC4, 1, 0, 14, 0xC2));
    XmSetCell(&module.patterns[0], 3, 0, 2, Cell(NoteC4, 1, 0, 14, 0xC5));
    Play(module);
    std::vector<int32_t> cut;
    for (int k = 0; k < 3; k++) {
        StepTick(song);
        cut.push_back(MusicChannels[1].volume);
        EXPECT_EQ(MusicChannels[0].volume, 40);
        EXPECT_EQ(MusicChannels[2].volume, 40);
    }
    EXPECT_EQ(cut, (std::vector<int32_t>{40, 40, 0}));
}

TEST_F(PlayerTrace, NoteDelayStartsOnItsTickOnly)
{
    XmModule module = TraceModule(2, {2}, 3);
    XmSetCell(&module.patterns[0], 2, 0, 0, Cell(NoteC4, 1, 0x20, 14, 0xD2));
    XmSetCell(&module.patterns[0], 2, 0, 1, Cell(NoteC4, 1, 0, 14, 0xD0));
    Play(module);
    // The row's volume, period and panning are undone; the period is 0 so even the pitch stays away.
    std::vector<std::string> expected = {
        "0 0 0 3 | 0 0 0 0 0 0",
        "1 0 0 3 | 0 0 0 0 0 0",
        "2 0 0 3 | 4608 16 128 15 0 31",
    };
    EXPECT_EQ(Trace(song, 3), expected);
    // ED0 never starts its note.
    EXPECT_EQ(MixVoices[1].sample, nullptr);
    EXPECT_EQ(MusicChannels[1].volume, 0);
}

TEST_F(PlayerTrace, NoteDelayWithoutInstrumentRestoresTheSampleDefaults)
{
    XmModule module = TraceModule(1, {2}, 3);
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(NoteC4, 1, 0x20));
    XmSetCell(&module.patterns[0], 1, 1, 0, Cell(NoteD4, 0, 0, 14, 0xD1));
    Play(module);
    Trace(song, 3);
    std::vector<std::string> expected = {
        "0 1 0 3 | 4608 16 128 1 0 31",
        "1 1 0 3 | 4480 40 128 15 32 79",
        "2 1 0 3 | 4480 40 128 1 32 79",
    };
    EXPECT_EQ(Trace(song, 3), expected);
}

TEST_F(PlayerTrace, ArpeggioInBothScales)
{
    XmModule module = TraceModule(1, {2}, 6);
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(NoteC4, 1, 0, 0, 0x47));
    XmSetCell(&module.patterns[0], 1, 1, 0, Cell(0, 0, 0, 0, 0x00));
    Play(module);
    std::vector<int32_t> deltas;
    for (int k = 0; k < 6; k++) {
        StepTick(song);
        deltas.push_back(MusicChannels[0].periodDelta);
    }
    EXPECT_EQ(deltas, (std::vector<int32_t>{0, 256, 448, 0, 256, 448}));
    // Arpeggio 00 does nothing (the pitch flag comes from the auto-vibrato only).
    StepTick(song);
    EXPECT_EQ(MusicChannels[0].periodDelta, 0);
    ModFreeSong(song);

    module.flags = 0;
    Play(module);
    StepTick(song);
    EXPECT_EQ(MusicChannels[0].period, 1712);
    StepTick(song);
    EXPECT_EQ(MusicChannels[0].periodDelta, AmigaPeriod(52, 0) - 1712);
    StepTick(song);
    EXPECT_EQ(MusicChannels[0].periodDelta, AmigaPeriod(55, 0) - 1712);
}

TEST_F(PlayerTrace, PortamentoUpStopsAtFiftySixDownHasNoLimit)
{
    XmModule module = TraceModule(2, {2}, 31);
    XmSetCell(&module.patterns[0], 2, 0, 0, Cell(NoteC4 + 40, 1, 0, 1, 0xFF));
    XmSetCell(&module.patterns[0], 2, 0, 1, Cell(NoteC4, 1, 0, 2, 0xFF));
    Play(module);
    for (int k = 0; k < 31; k++) {
        StepTick(song);
    }
    EXPECT_EQ(MusicChannels[0].period, 56);
    EXPECT_EQ(MusicChannels[1].period, 4608 + 30 * 1020);
    // Far below hearing: the step is the 100 Hz floor.
    EXPECT_EQ(MusicChannels[1].voice->speedFrac, static_cast<uint32_t>((uint64_t{100} << 32) / 44100));
}

TEST_F(PlayerTrace, PeriodSlidesStopFarOutsideTheAudibleRange)
{
    XmModule module = TraceModule(2, {4}, 1);
    XmSetCell(&module.patterns[0], 2, 0, 0, Cell(NoteC4, 1));
    XmSetCell(&module.patterns[0], 2, 0, 1, Cell(NoteC4, 1));
    XmSetCell(&module.patterns[0], 2, 1, 0, Cell(0, 0, 0, 14, 0x2F));
    XmSetCell(&module.patterns[0], 2, 1, 1, Cell(0, 0, 0, 33, 0x1F));
    Play(module);
    StepTick(song);
    MusicChannels[0].period = SlideLimit - 10;
    MusicChannels[1].period = -SlideLimit + 3;
    StepTick(song);
    EXPECT_EQ(MusicChannels[0].period, SlideLimit);
    EXPECT_EQ(MusicChannels[1].period, -SlideLimit);
    // Far below hearing and far above it: the floor, and (too large for 32 bits) the floor again.
    const uint32_t floorStep = static_cast<uint32_t>((uint64_t{100} << 32) / 44100);
    EXPECT_EQ(MusicChannels[0].voice->speedFrac, floorStep);
    EXPECT_EQ(MusicChannels[1].voice->speedInt, 0u);
    EXPECT_EQ(MusicChannels[1].voice->speedFrac, floorStep);
}

TEST_F(PlayerTrace, BreakPastTheEndOfAShorterPatternPlaysAnEmptyRow)
{
    XmModule module = TraceModule(1, {4, 2, 4}, 1);
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(0, 0, 0, 13, 0x03));
    Play(module);
    std::vector<std::pair<int32_t, int32_t>> expected = {{0, 0}, {1, 3}, {2, 0}, {2, 1}};
    EXPECT_EQ(RowStarts(song, 4), expected);
}

TEST_F(PlayerTrace, NotesBeyondTheMapSelectTheEmptySample)
{
    XmModule module = TraceModule(1, {2}, 1);
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(NoteC4, 1));
    XmSetCell(&module.patterns[0], 1, 1, 0, Cell(120, 0));
    Play(module);
    StepTick(song);
    StepTick(song);
    EXPECT_EQ(MusicChannels[0].note, 119);
    EXPECT_EQ(MusicChannels[0].voice->sample, &EmptySample);
}

TEST_F(PlayerTrace, SetEnvelopePosition)
{
    XmModule module = TraceModule(2, {2}, 2);
    module.instruments[0].volumeEnvelope.points = {{0, 64}, {10, 0}};
    module.instruments[0].volumeEnvelope.flags = XmEnvelopeOn;
    XmSetCell(&module.patterns[0], 2, 0, 0, Cell(NoteC4, 1, 0, 21, 5));
    XmSetCell(&module.patterns[0], 2, 0, 1, Cell(NoteC4, 1, 0, 21, 20));
    Play(module);
    StepTick(song);
    EXPECT_EQ(MusicChannels[0].volEnvVolume, 32);
    EXPECT_EQ(MusicChannels[0].volEnvTick, 5);
    EXPECT_EQ(MusicChannels[0].volEnvDone, 0);
    EXPECT_EQ(MusicChannels[1].volEnvVolume, 0);
    EXPECT_EQ(MusicChannels[1].volEnvDone, 1);
    StepTick(song);
    EXPECT_EQ(MusicChannels[0].volEnvVolume, 25);  // (4194304 - 6 x 419430) >> 16
}

// A position below the first point's tick holds the first point's value until the envelope reaches that
// point; it must not extrapolate the first segment backwards (here to -6400, an inverted voice volume).
TEST_F(PlayerTrace, SetEnvelopePositionBeforeTheFirstPointHoldsItsValue)
{
    // Four rows of 31 ticks: the cell is not played again during the test.
    XmModule module = TraceModule(1, {4}, 31);
    module.instruments[0].volumeEnvelope.points = {{100, 0}, {101, 64}};
    module.instruments[0].volumeEnvelope.flags = XmEnvelopeOn;
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(NoteC4, 1, 0, 21, 0x00));
    Play(module);
    // L00 puts the envelope at tick 0; it reaches point 0 on tick 100 and starts the segment on tick 101.
    for (int tick = 0; tick <= 101; tick++) {
        TickState state = StepTick(song);
        ASSERT_EQ(MusicChannels[0].volEnvVolume, 0) << "tick " << tick;
        ASSERT_EQ(state.voiceVolume, 0) << "tick " << tick;
    }
    EXPECT_EQ(MusicChannels[0].volEnvTick, 101);
    StepTick(song);
    EXPECT_EQ(MusicChannels[0].volEnvVolume, 64);
    EXPECT_EQ(MusicChannels[0].volEnvDone, 1);
    EXPECT_EQ(MusicChannels[0].voice->volume, 79);
}

TEST_F(PlayerTrace, VolumeColumnVibratoWithEffectFourMovesTwice)
{
    XmModule module = TraceModule(1, {2}, 3);
    XmSetCell(&module.patterns[0], 1, 0, 0, Cell(NoteC4, 1, 0xB4, 4, 0x48));
    Play(module);
    StepTick(song);
    EXPECT_EQ(MusicChannels[0].vibratoPos, 0);
    StepTick(song);
    EXPECT_EQ(MusicChannels[0].vibratoPos, 8);
    StepTick(song);
    EXPECT_EQ(MusicChannels[0].vibratoPos, 16);
}

TEST_F(PlayerTrace, VibratoAndTremoloReachPosition31BeforeWrapping)
{
    // Speed 8 takes both positions to 16 in row 0; speed 15 then to 31 (not yet past the top of the
    // -32..31 cycle) and on to 46 - 64 = -18. Each tick uses the position it starts with. At 31 the sine is
    // 25: a period 8 lower (25 x 15 >> 5 = 11, a multiple of 4: 8) and a volume 5 higher (15 x 25 >> 6),
    // both still in the cycle's first half. (Tremolo at 16 gives 59, held to 64 - 16 = 48.)
    XmModule module = TraceModule(2, {4}, 3);
    XmSetCell(&module.patterns[0], 2, 0, 0, Cell(NoteC4, 1, 0, 4, 0x8F));
    XmSetCell(&module.patterns[0], 2, 0, 1, Cell(NoteC4, 1, 0x20, 7, 0x8F));
    XmSetCell(&module.patterns[0], 2, 1, 0, Cell(0, 0, 0, 4, 0xF0));
    XmSetCell(&module.patterns[0], 2, 1, 1, Cell(0, 0, 0, 7, 0xF0));
    Play(module);
    std::vector<std::string> trace;
    for (int tick = 0; tick < 6; tick++) {
        ModUpdateTick(song);
        trace.push_back(std::to_string(MusicChannels[0].vibratoPos) + " " +
                        std::to_string(MusicChannels[0].periodDelta) + " | " +
                        std::to_string(MusicChannels[1].tremoloPos) + " " +
                        std::to_string(MusicChannels[1].volumeDelta));
    }
    std::vector<std::string> expected = {
        "0 0 | 0 0",      "8 0 | 8 0",       "16 -84 | 16 42",
        "16 -116 | 16 0", "31 -116 | 31 48", "-18 -8 | -18 5",
    };
    EXPECT_EQ(trace, expected);
}

}  // namespace

namespace {

// Every cell value a damaged or hostile module can hold, played for many ticks: the player must stay
// inside its tables, patterns and voices, and hand the mixer only steps and gains it can use.
TEST_F(PlayerTrace, RandomCellsKeepTheVoicesUsable)
{
    for (uint32_t seed = 1; seed <= 16; seed++) {
        uint32_t state = seed * 2654435761u;
        auto next = [&state]() {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            return state;
        };
        XmModule module = TraceModule(4, {16, 5, 64}, 3);
        module.flags = seed % 2 == 0 ? 0 : XmFlagLinearFrequencies;
        module.restartPosition = 1;
        module.instruments[0].volumeEnvelope.points = {{0, 0}, {3, 64}, {2, 20}, {9, 40}};
        module.instruments[0].volumeEnvelope.flags = XmEnvelopeOn | XmEnvelopeSustain | XmEnvelopeLoop;
        module.instruments[0].volumeEnvelope.sustain = 1;
        module.instruments[0].volumeEnvelope.loopStart = 0;
        module.instruments[0].volumeEnvelope.loopEnd = 3;
        module.instruments[0].panningEnvelope.points = {{0, 64}, {7, 0}};
        module.instruments[0].panningEnvelope.flags = XmEnvelopeOn;
        module.instruments[0].vibratoType = static_cast<uint8_t>(seed);
        module.instruments[0].vibratoDepth = 15;
        module.instruments[0].vibratoRate = 200;
        module.instruments[1].samples[0].relativeNote = static_cast<int8_t>(seed % 2 == 0 ? 90 : -90);
        module.instruments[1].samples[0].loop = XmLoop::PingPong;
        module.instruments[1].samples[0].loopStart = 100;
        module.instruments[1].samples[0].loopLength = 50;
        for (XmPattern& pattern : module.patterns) {
            for (XmCell& cell : pattern.cells) {
                uint32_t r = next();
                cell.note = static_cast<uint8_t>(r % 4 == 0 ? next() % 98 : 0);
                cell.instrument = static_cast<uint8_t>(r % 3 == 0 ? next() % 4 : 0);
                cell.volume = static_cast<uint8_t>(r % 5 < 2 ? next() : 0);
                cell.effect = static_cast<uint8_t>(next() % 36);
                cell.param = static_cast<uint8_t>(next());
            }
        }
        Play(module);
        for (int tick = 0; tick < 5000; tick++) {
            ModUpdateTick(song);
            ASSERT_GE(song->orderPos, 0);
            ASSERT_LT(song->orderPos, song->orderCount);
            for (int track = 0; track < 4; track++) {
                const MixVoice* voice = MusicChannels[track].voice;
                ASSERT_TRUE(voice == &MixVoices[track] || voice == &MixVoices[track + 32]);
                ASSERT_LT(voice->speedInt, 256u);
                ASSERT_TRUE(voice->speedInt > 0 || voice->speedFrac > 256u);
                ASSERT_GE(voice->volumeLeft, 0);
                ASSERT_GE(voice->volumeRight, 0);
                ASSERT_GE(voice->panning, 0);
                ASSERT_LE(voice->panning, 255);
            }
        }
        ModFreeSong(song);
        song = nullptr;
        ResetOutput(44100);
    }
}

}  // namespace
