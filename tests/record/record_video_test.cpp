// `tarnwick --record` of 3 s at 800 × 600 and 60 fps, made without a display, read back with libavformat:
// the streams, the pictures against the same frames drawn in the scene window (Xvfb), and the sound
// against the song's offline render.
#include "record_test_support.h"

#include "tests/support/scene_frame.h"

#include <cmath>
#include <unistd.h>

namespace {

using namespace recordtest;

int IgnoreBox(PlatWindow, const char*, const char*, unsigned)
{
    return PLAT_IDOK;
}

// The recording is made once for the suite.
struct Recording {
    fs::path directory;
    RunResult run;
    Decoded decoded;
    std::string bytes;
};
Recording* recording = nullptr;

// Decoded picture numbers kept: the 1st, 60th and 180th.
const int Kept[3] = {0, 59, 179};

class RecordVideoTest : public SceneFrameTest {
protected:
    static void SetUpTestSuite()
    {
        recording = new Recording;
        recording->directory = fs::temp_directory_path() / ("tarnwick-record-" + std::to_string(getpid()));
        fs::create_directories(recording->directory);
        fs::path file = recording->directory / "three.mp4";
        recording->run = RunIntro("--record '" + file.string() + "' --seconds 3 -q", recording->directory);
        recording->decoded = DecodeFile(file.string(), {Kept[0], Kept[1], Kept[2]});
        recording->bytes = ReadFile(file);
        OpenSharedWindow(IgnoreBox);
    }
    static void TearDownTestSuite()
    {
        SceneFrameTest::TearDownTestSuite();
        fs::remove_all(recording->directory);
        delete recording;
        recording = nullptr;
    }
    // The stream checks need no display; only the picture comparison does.
    void SetUp() override {}
};

TEST_F(RecordVideoTest, RecordsWithoutADisplayIntoH264AndAacInAStreamableMp4)
{
    const RunResult& run = recording->run;
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(FilesIn(recording->directory), std::vector<std::string>{"three.mp4"});
    const Decoded& d = recording->decoded;
    ASSERT_TRUE(d.opened);
    EXPECT_NE(d.formatName.find("mp4"), std::string::npos);

    EXPECT_EQ(d.videoCodec, AV_CODEC_ID_H264);
    EXPECT_EQ(d.width, 800);
    EXPECT_EQ(d.height, 600);
    EXPECT_EQ(d.pixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(d.profile, FF_PROFILE_H264_HIGH);
    EXPECT_GT(d.level, 0);
    EXPECT_LE(d.level, 41);
    EXPECT_EQ(d.frameRate.num, 60);
    EXPECT_EQ(d.frameRate.den, 1);
    EXPECT_EQ(d.frameCount, 180);
    EXPECT_NEAR(d.firstPictureSeconds, 0.0, 1e-6);

    EXPECT_EQ(d.audioCodec, AV_CODEC_ID_AAC);
    EXPECT_EQ(d.sampleRate, 44100);
    EXPECT_EQ(d.channels, 2);
    // Both streams last 3 s to within one picture as the file states them, the edit list of the sound
    // leaving out the encoder's priming and padding (this FFmpeg's decoder honours the start of the edit
    // list, not its end, so the decoded sound runs up to one AAC frame longer).
    EXPECT_NEAR(d.videoSeconds, 3.0, 1.0 / 60);
    EXPECT_NEAR(d.audioSeconds, 3.0, 1.0 / 60);

    // The index (moov) comes before the media data (mdat), so the file plays while it downloads.
    size_t moov = recording->bytes.find("moov");
    size_t mdat = recording->bytes.find("mdat");
    ASSERT_NE(moov, std::string::npos);
    ASSERT_NE(mdat, std::string::npos);
    EXPECT_LT(moov, mdat);
}

TEST_F(RecordVideoTest, SoundIsTheSongsRenderAlignedByTheEditList)
{
    ASSERT_EQ(recording->run.exitCode, 0);
    std::vector<int16_t> render = RenderSong(TARNWICK_SOURCE_DIR "/data/glimrook.xm", 3 * 44100);
    ASSERT_EQ(render.size(), 2u * 3 * 44100);
    ASSERT_GT(Peak(render), 1000.0) << "the comparison is not between two silences";
    // The priming delay is 1024 frames when nothing cancels it; the lag is sought well beyond it.
    Alignment alignment = Align(recording->decoded, render, 2048);
    EXPECT_GE(alignment.correlation, 0.99);
    EXPECT_LE(std::abs(alignment.lag), 735) << "the edit list leaves the sound " << alignment.lag << " frames off";
}

// Peak signal-to-noise ratio of two RGB pictures, in dB.
double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    double sum = 0;
    for (size_t i = 0; i < a.size(); i++) {
        double d = static_cast<double>(a[i]) - b[i];
        sum += d * d;
    }
    double mse = sum / static_cast<double>(a.size());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

TEST_F(RecordVideoTest, PicturesAreTheFramesTheSceneWindowDraws)
{
    SceneFrameTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    ASSERT_EQ(recording->run.exitCode, 0);
    ASSERT_EQ(recording->decoded.pictures.size(), 3u);
    int drawn = 0;
    for (int k = 0; k < 3; k++) {
        // The window draws from the start as the recording did, frame after frame.
        if (k == 0) {
            // The window has 5-6-5 bits per colour and would dither them; the video has 8. Without the
            // dither the difference left is rounding to 16 bits, not noise.
            glDisable(GL_DITHER);
            ResetScrollerState();
            LoadGreetingAssets();
            treeAngle = 0.0f;
        }
        DrawFrames(Kept[k] + 1 - drawn);
        drawn = Kept[k] + 1;
        // The window's rows come bottom first, the decoded picture's top first.
        std::vector<uint8_t> window(pixels.size());
        const size_t row = static_cast<size_t>(Width) * 3;
        for (int y = 0; y < Height; y++) {
            std::copy_n(&pixels[static_cast<size_t>(Height - 1 - y) * row], row, &window[y * row]);
        }
        double psnr = Psnr(recording->decoded.pictures[k], window);
        EXPECT_GE(psnr, 35.0) << "picture " << Kept[k] + 1;
        // A scene a few frames off is told apart: the recording follows the frame count exactly.
        if (k == 1) {
            DrawFrames(8);
            drawn += 8;
            std::vector<uint8_t> later(pixels.size());
            for (int y = 0; y < Height; y++) {
                std::copy_n(&pixels[static_cast<size_t>(Height - 1 - y) * row], row, &later[y * row]);
            }
            EXPECT_LT(Psnr(recording->decoded.pictures[k], later), psnr - 3.0);
        }
    }
}

} // namespace
