// The recording's steps as the browser's video calls them (tw_record_*), run here in the test's process with
// drawing through EGL: the pictures are --record's own (the same steps in its layout) top row first in RGBX,
// the sound is the song's render with the fade and then silence, picture by picture, and a request that
// cannot be recorded is answered with the reason, after which a good one still works.
#include "record_test_support.h"

#include "scene/scene.h"
#include "shell/shell.h"

#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace {

using namespace recordtest;

const std::string SmallSong = TARNWICK_SOURCE_DIR "/fuzz/corpus/play/small_song.xm";

// What a recording gave: the pictures kept (by number), all the sound, and the sound frames of each picture.
struct Taken {
    bool opened = false;
    std::string error;
    int64_t pictures = 0;
    int64_t soundLength = 0;
    std::vector<std::vector<uint8_t>> kept;
    std::vector<int16_t> sound;
    std::vector<int32_t> soundPerPicture;
};

class RecordEntryTest : public ::testing::Test {
protected:
    void SetUp() override { FreshScene(); }
    void TearDown() override
    {
        tw_record_close();
        FreshScene();
        MemFileForget();
    }

    // The scene as a new process starts it: every recording here starts from the intro's first frame.
    static void FreshScene()
    {
        ResetShellState();
        ResetScrollerState();
        treeAngle = 0.0f;
    }

    // A whole recording through the C functions, keeping the pictures whose numbers are in `keep` (-1: the
    // last).
    static Taken ThroughEntry(const char* song, int fps, double seconds, const std::set<int64_t>& keep)
    {
        Taken taken;
        taken.opened = tw_record_open("", song, 800, 600, fps, seconds) == 1;
        taken.error = tw_record_error();
        if (!taken.opened) {
            return taken;
        }
        taken.pictures = static_cast<int64_t>(tw_record_pictures());
        taken.soundLength = static_cast<int64_t>(tw_record_sound_length());
        for (int64_t n = 0; n < taken.pictures; n++) {
            if (tw_record_step() != 1) {
                taken.error = "step " + std::to_string(n) + ": " + tw_record_error();
                return taken;
            }
            if (keep.count(n) > 0 || (n + 1 == taken.pictures && keep.count(-1) > 0)) {
                taken.kept.emplace_back(tw_record_picture(), tw_record_picture() + 800 * 600 * 4);
            }
            const int16_t* sound = tw_record_sound();
            taken.sound.insert(taken.sound.end(), sound, sound + 2 * tw_record_sound_frames());
            taken.soundPerPicture.push_back(tw_record_sound_frames());
        }
        EXPECT_EQ(tw_record_step(), 0) << "no picture after the last";
        EXPECT_STREQ(tw_record_error(), "") << "the end is no error";
        tw_record_close();
        return taken;
    }
};

TEST_F(RecordEntryTest, TheBrowsersPicturesAreRecordsOwnTopRowFirstAndItsSoundTheSame)
{
    const std::set<int64_t> keep = {0, 59, 119};
    Taken browser = ThroughEntry("", 60, 2.0, keep);
    ASSERT_TRUE(browser.opened) << browser.error;
    ASSERT_EQ(browser.pictures, 120);
    ASSERT_EQ(browser.kept.size(), 3u) << browser.error;

    // --record's own steps from the intro's first frame, in its layout (RGB, bottom row first).
    FreshScene();
    LoadGreetingAssets();
    PrepareMusic();
    RecordOptions options;
    options.seconds = 2.0;
    Recorder recorder;
    std::string reason;
    ASSERT_EQ(RecorderOpen(options, PictureLayout::RgbBottomFirst, &recorder, &reason), RecordFailure::None)
        << reason;
    std::vector<int16_t> recordSound;
    size_t compared = 0;
    for (int64_t n = 0; n < 120; n++) {
        ASSERT_TRUE(RecorderStep(&recorder, &reason)) << reason;
        recordSound.insert(recordSound.end(), recorder.sound.begin(), recorder.sound.end());
        if (keep.count(n) == 0) {
            continue;
        }
        const std::vector<uint8_t>& rgbx = browser.kept[compared++];
        size_t differing = 0;
        for (int y = 0; y < 600; y++) {
            for (int x = 0; x < 800; x++) {
                const uint8_t* top = &rgbx[(static_cast<size_t>(y) * 800 + x) * 4];
                const uint8_t* bottom = &recorder.picture[(static_cast<size_t>(599 - y) * 800 + x) * 3];
                differing += top[0] != bottom[0] || top[1] != bottom[1] || top[2] != bottom[2];
            }
        }
        EXPECT_EQ(differing, 0u) << "picture " << n;
    }
    RecorderClose(&recorder);
    // The pictures move: a comparison of still pictures would tell nothing.
    EXPECT_NE(browser.kept[0], browser.kept[1]);

    EXPECT_EQ(browser.sound, recordSound);
    std::vector<int16_t> render = RenderSong(TARNWICK_SOURCE_DIR "/data/glimrook.xm", 2 * 44100);
    EXPECT_EQ(browser.sound, render) << "two seconds asked for: the render as it is, no fade";
}

TEST_F(RecordEntryTest, TheSongsFirstPassFadesOutInSoundAndPictureAndSilenceFillsTheLastPicture)
{
    // At 5 pictures a second each picture carries 8820 sound frames, and the length ends on a whole picture.
    Taken taken = ThroughEntry(SmallSong.c_str(), 5, 0.0, {0, -1});
    ASSERT_TRUE(taken.opened) << taken.error;
    ASSERT_EQ(static_cast<int64_t>(taken.soundPerPicture.size()), taken.pictures) << taken.error;

    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    Song* song = ModLoadSong(SmallSong.c_str(), nullptr);
    ASSERT_NE(song, nullptr);
    const int64_t firstPass = SndMeasureFirstPass(song, 44100, 3600 * 44100);
    ModFreeSong(song);
    const int64_t songPart = firstPass + 44100;
    EXPECT_EQ(taken.pictures, (songPart * 5 + 44099) / 44100);
    EXPECT_EQ(taken.soundLength, taken.pictures * 8820);
    for (int32_t frames : taken.soundPerPicture) {
        ASSERT_EQ(frames, 8820);
    }
    ASSERT_EQ(static_cast<int64_t>(taken.sound.size()), 2 * taken.soundLength);

    std::vector<int16_t> render = RenderSong(SmallSong, songPart);
    int64_t wrong = 0;
    int64_t first = -1;
    for (int64_t k = 0; k < taken.soundLength; k++) {
        for (int c = 0; c < 2; c++) {
            double gain = k < firstPass ? 1.0 : std::max<double>(songPart - k, 0) / 44100.0;
            int16_t expected = k < songPart ? static_cast<int16_t>(std::lround(render[2 * k + c] * gain)) : 0;
            // The fade's gain is a float: a sample may land one step away.
            if (std::abs(taken.sound[2 * k + c] - expected) > (gain < 1.0 ? 1 : 0)) {
                wrong++;
                first = first < 0 ? k : first;
            }
        }
    }
    EXPECT_EQ(wrong, 0) << "first at sound frame " << first;
    EXPECT_GT(Peak(std::vector<int16_t>(taken.sound.begin(), taken.sound.begin() + 2 * firstPass)), 1000.0);

    // The last picture starts within the fade's last 8820 frames, or after it: its gain is 0.2 at the most.
    ASSERT_EQ(taken.kept.size(), 2u);
    ASSERT_GE((taken.pictures - 1) * 8820, songPart - 8820);
    int brightestFirst = 0;
    int brightestLast = 0;
    for (size_t i = 0; i < taken.kept[0].size(); i += 4) {
        for (int c = 0; c < 3; c++) {
            brightestFirst = std::max<int>(brightestFirst, taken.kept[0][i + c]);
            brightestLast = std::max<int>(brightestLast, taken.kept[1][i + c]);
        }
    }
    EXPECT_GE(brightestFirst, 200);
    EXPECT_LE(brightestLast, std::lround(255 * 0.2));
}

TEST_F(RecordEntryTest, ARequestThatCannotBeRecordedIsAnsweredWithTheReasonAndAGoodOneStillWorks)
{
    EXPECT_EQ(tw_record_step(), 0) << "nothing to take before a recording is open";

    struct Case {
        int width, height, fps;
        double seconds;
        const char* says;
    };
    const Case cases[] = {
        {801, 600, 60, 1.0, "the picture size 801x600: both sides even, 160 to 3840 wide and 120 to 2160 high"},
        {800, 100, 60, 1.0, "the picture size 800x100: both sides even, 160 to 3840 wide and 120 to 2160 high"},
        {800, 600, 0, 1.0, "the picture rate 0: 1 to 120 pictures a second"},
        {800, 600, 121, 1.0, "the picture rate 121: 1 to 120 pictures a second"},
        {800, 600, 60, -1.0, "the length -1.000000 s: 0.001 s to a day"},
        {800, 600, 60, 0.0001, "the length 0.000100 s: 0.001 s to a day"},
        {800, 600, 60, 1e9, "the length 1000000000.000000 s: 0.001 s to a day"},
        {800, 600, 60, std::nan(""), "the length nan s: 0.001 s to a day"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tw_record_open("", "", c.width, c.height, c.fps, c.seconds), 0);
        EXPECT_STREQ(tw_record_error(), c.says);
    }

    const std::string folder = testing::TempDir();
    const std::string notUtf8 = folder + "tarnwick_entry_greeting.txt";
    const std::string noModule = folder + "tarnwick_entry_song.xm";
    std::FILE* file = std::fopen(notUtf8.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("Happy\n\xff New Year", file);
    std::fclose(file);
    file = std::fopen(noModule.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("Extended Module: but nothing more", file);
    std::fclose(file);
    EXPECT_EQ(tw_record_open(notUtf8.c_str(), "", 800, 600, 60, 1.0), 0);
    EXPECT_EQ(std::string(tw_record_error()), "the greeting " + notUtf8 + " is not UTF-8 text (line 2)");
    EXPECT_EQ(tw_record_open("", noModule.c_str(), 800, 600, 60, 1.0), 0);
    EXPECT_STREQ(tw_record_error(), "Error loading song");
    std::remove(notUtf8.c_str());
    std::remove(noModule.c_str());

    FreshScene();
    ASSERT_EQ(tw_record_open("", "", 160, 120, 10, 0.5), 1) << tw_record_error();
    EXPECT_STREQ(tw_record_error(), "");
    EXPECT_EQ(tw_record_pictures(), 5.0);
    EXPECT_EQ(tw_record_sound_length(), 5.0 * 4410);
    EXPECT_EQ(tw_record_step(), 1);
    EXPECT_NE(tw_record_picture(), nullptr);
    EXPECT_EQ(tw_record_sound_frames(), 4410);
}

} // namespace
