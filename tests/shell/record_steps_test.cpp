// The recording's steps that --record and the browser's video share, where they need no drawing: the
// timeline (lengths in whole pictures, the song's first pass and the fade), the fade's gain, a picture's row
// order and fade in either layout, and a recording that cannot start releasing what it took.
#include "platform/fake/fake_platform.h"
#include "shell/shell.h"
#include "sound/sound.h"
#include "music/music.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

const char* const SmallSong = TARNWICK_SOURCE_DIR "/fuzz/corpus/play/small_song.xm";

class RecordStepsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakePlatformReset();
        ResetShellState();
    }
    void TearDown() override
    {
        ResetShellState();
        MemFileForget();
    }

    static RecordTimeline Plan(double seconds, int32_t fps)
    {
        RecordOptions options;
        options.seconds = seconds;
        options.fps = fps;
        RecordTimeline timeline{};
        EXPECT_TRUE(PlanRecordTimeline(options, &timeline));
        return timeline;
    }
};

TEST_F(RecordStepsTest, AGivenLengthIsRoundedUpToWholePicturesAndBothStreamsLastAsLongAsThePictures)
{
    RecordTimeline ten = Plan(10.0, 60);
    EXPECT_EQ(ten.soundFrames, 441000);
    EXPECT_EQ(ten.fadeStart, ten.soundFrames) << "a length asked for has no fade";
    EXPECT_EQ(ten.pictures, 600);
    EXPECT_EQ(ten.length, 441000);

    // At one picture a second, 0.4 s is one picture, and the file one second long.
    RecordTimeline short1 = Plan(0.4, 1);
    EXPECT_EQ(short1.soundFrames, 17640);
    EXPECT_EQ(short1.pictures, 1);
    EXPECT_EQ(short1.length, 44100);

    // The shortest length still gives a picture; a length a hair over whole pictures gives one more.
    RecordTimeline least = Plan(0.001, 60);
    EXPECT_EQ(least.soundFrames, 44);
    EXPECT_EQ(least.pictures, 1);
    EXPECT_EQ(least.length, 735);
    RecordTimeline over = Plan(1.0 + 1.0 / 44100, 60);
    EXPECT_EQ(over.pictures, 61);
    EXPECT_EQ(over.length, 61 * 735);

    // At 7 pictures a second a picture lasts 6300 frames: the length is the pictures', not the song's part.
    RecordTimeline seven = Plan(2.5, 7);
    EXPECT_EQ(seven.pictures, 18);
    EXPECT_EQ(seven.length, 18 * 6300);
    EXPECT_GE(seven.length, seven.soundFrames);

    // A day at 120 pictures a second stays exact in 64 bits.
    RecordTimeline day = Plan(24.0 * 3600.0, 120);
    EXPECT_EQ(day.pictures, int64_t{24} * 3600 * 120);
    EXPECT_EQ(day.length, int64_t{24} * 3600 * 44100);
}

TEST_F(RecordStepsTest, WithoutALengthTheSongsFirstPassIsRecordedAndThenTheFade)
{
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    Song* song = ModLoadSong(SmallSong, nullptr);
    ASSERT_NE(song, nullptr);
    int64_t firstPass = SndMeasureFirstPass(song, RecordSoundRate, 3600 * RecordSoundRate);
    ModFreeSong(song);
    ASSERT_GT(firstPass, 0);

    introSongPath = SmallSong;
    RecordTimeline timeline = Plan(0.0, 60);
    EXPECT_EQ(timeline.fadeStart, firstPass);
    EXPECT_EQ(timeline.soundFrames, firstPass + RecordFadeFrames);
    EXPECT_EQ(timeline.pictures, (timeline.soundFrames * 60 + 44099) / 44100);
    EXPECT_EQ(timeline.length, SoundFrameOfPicture(timeline.pictures, 60));

    introSongPath = TARNWICK_SOURCE_DIR "/no-such-song.xm";
    RecordOptions options;
    RecordTimeline untouched{};
    EXPECT_FALSE(PlanRecordTimeline(options, &untouched));
}

TEST_F(RecordStepsTest, PicturesStartOnTheSoundFrameTheirTimeGivesRoundedDown)
{
    EXPECT_EQ(SoundFrameOfPicture(0, 60), 0);
    EXPECT_EQ(SoundFrameOfPicture(1, 60), 735);
    EXPECT_EQ(SoundFrameOfPicture(600, 60), 441000);
    EXPECT_EQ(SoundFrameOfPicture(1, 7), 6300);
    EXPECT_EQ(SoundFrameOfPicture(1, 120), 367);
    EXPECT_EQ(SoundFrameOfPicture(2, 120), 735);
}

TEST_F(RecordStepsTest, TheFadeFallsInAStraightLineFromItsStartToNothingAtItsEnd)
{
    RecordTimeline fade{100 + 44100, 100, 0, 0};
    EXPECT_FLOAT_EQ(RecordFadeGain(fade, 0), 1.0f);
    EXPECT_FLOAT_EQ(RecordFadeGain(fade, 99), 1.0f);
    EXPECT_FLOAT_EQ(RecordFadeGain(fade, 100), 1.0f);
    EXPECT_FLOAT_EQ(RecordFadeGain(fade, 100 + 11025), 0.75f);
    EXPECT_FLOAT_EQ(RecordFadeGain(fade, 100 + 22050), 0.5f);
    EXPECT_FLOAT_EQ(RecordFadeGain(fade, 100 + 44100), 0.0f);
    EXPECT_FLOAT_EQ(RecordFadeGain(fade, 100 + 90000), 0.0f) << "silence after the fade";

    RecordTimeline none{44100, 44100, 0, 0};
    EXPECT_FLOAT_EQ(RecordFadeGain(none, 44099), 1.0f);
    EXPECT_FLOAT_EQ(RecordFadeGain(none, 44100), 0.0f) << "past a length asked for: silence";
}

// A picture of width x height whose every byte tells its place: row (as read back, bottom first), column
// and channel.
std::vector<uint8_t> Numbered(int width, int height, int channels)
{
    std::vector<uint8_t> pixels;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            for (int c = 0; c < channels; c++) {
                pixels.push_back(static_cast<uint8_t>(100 * c + 10 * y + x));
            }
        }
    }
    return pixels;
}

TEST_F(RecordStepsTest, ABrowsersPictureIsTopRowFirstAndRecordsKeepsTheReadBackOrder)
{
    EXPECT_EQ(PictureBytesPerPixel(PictureLayout::RgbBottomFirst), 3);
    EXPECT_EQ(PictureBytesPerPixel(PictureLayout::RgbxTopFirst), 4);
    for (int height : {1, 2, 3, 5}) {
        std::vector<uint8_t> rgbx = Numbered(3, height, 4);
        FinishPicture(rgbx.data(), 3, height, PictureLayout::RgbxTopFirst, 1.0f);
        EXPECT_EQ(rgbx, [&] {
            std::vector<uint8_t> flipped;
            std::vector<uint8_t> read = Numbered(3, height, 4);
            for (int y = height - 1; y >= 0; y--) {
                flipped.insert(flipped.end(), read.begin() + y * 12, read.begin() + (y + 1) * 12);
            }
            return flipped;
        }()) << height << " rows";
    }
    std::vector<uint8_t> rgb = Numbered(3, 4, 3);
    FinishPicture(rgb.data(), 3, 4, PictureLayout::RgbBottomFirst, 1.0f);
    EXPECT_EQ(rgb, Numbered(3, 4, 3));
}

TEST_F(RecordStepsTest, TheFadeDimsTheColoursRoundedToNearestAndLeavesTheFourthByte)
{
    std::vector<uint8_t> rgbx = {255, 101, 1, 77, 0, 3, 200, 255};
    FinishPicture(rgbx.data(), 1, 2, PictureLayout::RgbxTopFirst, 0.5f);
    // Rows swapped, then each colour halved: 127.5 -> 128, 50.5 -> 51, 0.5 -> 1, 1.5 -> 2.
    EXPECT_EQ(rgbx, (std::vector<uint8_t>{0, 2, 100, 255, 128, 51, 1, 77}));

    std::vector<uint8_t> rgb = {255, 101, 1, 9, 0, 3};
    FinishPicture(rgb.data(), 2, 1, PictureLayout::RgbBottomFirst, 0.25f);
    EXPECT_EQ(rgb, (std::vector<uint8_t>{64, 25, 0, 2, 0, 1}));

    std::vector<uint8_t> dark = {255, 255, 255, 255, 255, 255};
    FinishPicture(dark.data(), 2, 1, PictureLayout::RgbBottomFirst, 0.0f);
    EXPECT_EQ(dark, std::vector<uint8_t>(6, 0));
}

TEST_F(RecordStepsTest, ARecordingThatCannotStartSaysWhyAndHoldsNothing)
{
    PrepareMusic();
    RecordOptions options;
    options.seconds = 1.0;
    Recorder recorder;
    std::string reason;

    introSongPath = TARNWICK_SOURCE_DIR "/no-such-song.xm";
    EXPECT_EQ(RecorderOpen(options, PictureLayout::RgbxTopFirst, &recorder, &reason), RecordFailure::Song);
    EXPECT_FALSE(FakeCalled("CreateOffscreen 800x600")) << "nothing is drawn for a song that does not load";

    // The stand-in draws nothing without a window: the reason is the platform's, and the song is let go.
    introSongPath = SmallSong;
    PrepareMusic();
    EXPECT_EQ(RecorderOpen(options, PictureLayout::RgbxTopFirst, &recorder, &reason), RecordFailure::Drawing);
    EXPECT_TRUE(FakeCalled("CreateOffscreen 800x600"));
    EXPECT_EQ(reason, "no drawing without a window in the test stand-in");
    EXPECT_EQ(recorder.song, nullptr);
    EXPECT_EQ(recorder.picture, nullptr);
    EXPECT_FALSE(recorder.rendering);
    std::string stepReason;
    EXPECT_FALSE(RecorderStep(&recorder, &stepReason));
    EXPECT_EQ(stepReason, "");
    RecorderClose(&recorder);
    RecorderClose(&recorder);
}

} // namespace
