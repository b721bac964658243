// xmrender run as a separate program on modules written by the XM writer.
#include "tests/support/song_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

class XmRender : public testing::Test {
protected:
    void SetUp() override
    {
        directory = fs::temp_directory_path() /
                    ("xmrender_test_" + std::to_string(::getpid()) + "_" +
                     testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(directory);
    }
    void TearDown() override { fs::remove_all(directory); }

    std::string PathOf(const std::string& name) const { return (directory / name).string(); }

    std::string Save(const XmModule& module, const std::string& name = "song.xm")
    {
        std::string path = PathOf(name);
        EXPECT_TRUE(XmSaveModule(module, path.c_str()));
        return path;
    }

    // Runs xmrender with the arguments (already quoted); returns its exit code and its standard output.
    int Run(const std::string& arguments, std::string* out = nullptr)
    {
        std::string outPath = PathOf("stdout.txt");
        std::string command = std::string(XMRENDER_PATH) + " " + arguments + " > '" + outPath + "' 2> '" +
                              PathOf("stderr.txt") + "'";
        int status = std::system(command.c_str());
        if (out != nullptr) {
            std::ifstream in(outPath, std::ios::binary);
            out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path directory;
};

struct Audio {
    int32_t rate = 0;
    int32_t channels = 0;
    int32_t format = 0;
    std::vector<int16_t> samples;
};

Audio ReadAudio(const std::string& path)
{
    Audio audio;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return audio;
    }
    audio.rate = info.samplerate;
    audio.channels = info.channels;
    audio.format = info.format;
    audio.samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    sf_readf_short(file, audio.samples.data(), info.frames);
    sf_close(file);
    return audio;
}

// Two patterns of 4 rows at speed 6 and 125 BPM (882 frames per tick), a note on each.
XmModule ShortSong()
{
    XmModule module = TraceModule(2, {4, 4}, 6);
    XmSetCell(&module.patterns[0], 2, 0, 0, Cell(NoteC4, 1, 0, 4, 0x38));
    XmSetCell(&module.patterns[1], 2, 0, 1, Cell(NoteD4, 2, 0, 0, 0x37));
    return module;
}

TEST_F(XmRender, WritesExactlyWhatPlayPreMixes)
{
    XmModule module = ShortSong();
    std::string song = Save(module);
    // 100 blocks of 884 frames: the whole ring.
    ASSERT_EQ(Run("'" + song + "' '" + PathOf("out.wav") + "' --seconds 2.0045351 --quiet"), 0);
    Audio audio = ReadAudio(PathOf("out.wav"));
    EXPECT_EQ(audio.rate, 44100);
    EXPECT_EQ(audio.channels, 2);
    EXPECT_EQ(audio.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    ASSERT_EQ(audio.samples.size(), 88400u * 2);

    Song* loaded = LoadModule(module);
    ASSERT_NE(loaded, nullptr);
    ASSERT_TRUE(StartStreamedSong(loaded));
    std::vector<int16_t> ring(OutputRing, OutputRing + audio.samples.size());
    StopStreamedSong(loaded);
    EXPECT_EQ(audio.samples, ring);
    EXPECT_GT(Peak(ring.data(), ring.size()), 1000);  // the comparison is not between two silences
}

TEST_F(XmRender, StopsWhereTheSongComesBackToAPlayedOrder)
{
    std::string song = Save(ShortSong());
    ASSERT_EQ(Run("'" + song + "' '" + PathOf("wrap.wav") + "' -q"), 0);
    // 8 rows x 6 ticks x 882 frames, then order 0 again.
    EXPECT_EQ(ReadAudio(PathOf("wrap.wav")).samples.size(), 8u * 6 * 882 * 2);

    XmModule jumping = ShortSong();
    XmSetCell(&jumping.patterns[1], 2, 1, 0, Cell(0, 0, 0, 11, 0x00));  // B00 on the second row of order 1
    std::string jumpingSong = Save(jumping, "jump.xm");
    ASSERT_EQ(Run("'" + jumpingSong + "' '" + PathOf("jump.wav") + "' -q"), 0);
    EXPECT_EQ(ReadAudio(PathOf("jump.wav")).samples.size(), 6u * 6 * 882 * 2);
}

TEST_F(XmRender, OtherRatesFlacAndStandardOutput)
{
    std::string song = Save(ShortSong());
    ASSERT_EQ(Run("'" + song + "' '" + PathOf("a.wav") + "' --seconds 1 --rate 22050 -q"), 0);
    Audio wav = ReadAudio(PathOf("a.wav"));
    EXPECT_EQ(wav.rate, 22050);
    EXPECT_EQ(wav.samples.size(), 22050u * 2);

    ASSERT_EQ(Run("'" + song + "' '" + PathOf("a.FLAC") + "' --seconds 1 --rate 22050 -q"), 0);
    Audio flac = ReadAudio(PathOf("a.FLAC"));
    EXPECT_EQ(flac.format & SF_FORMAT_TYPEMASK, SF_FORMAT_FLAC);
    EXPECT_EQ(flac.samples, wav.samples);

    std::string piped;
    ASSERT_EQ(Run("'" + song + "' - --seconds 1 --rate 22050", &piped), 0);
    std::ifstream in(PathOf("a.wav"), std::ios::binary);
    std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(piped, written);
}

TEST_F(XmRender, InfoDescribesTheSong)
{
    XmModule module = ShortSong();
    module.restartPosition = 1;
    module.defaultBpm = 140;
    module.name = "Frost \x01tune  ";
    std::string song = Save(module);
    std::string out;
    ASSERT_EQ(Run("'" + song + "' --info", &out), 0);
    // The header's name as a terminal may show it: a control byte as '?', the padding dropped.
    EXPECT_NE(out.find("Title:           Frost ?tune\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Channels:        2\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Orders:          2 (restart at 1)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Patterns:        2\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Instruments:     2\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Samples:         2\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Frequency table: linear\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Speed:           6\n"), std::string::npos) << out;
    EXPECT_NE(out.find("BPM:             140\n"), std::string::npos) << out;
    // 8 rows x 6 ticks x 787 frames (110250 / 140) = 37776 frames = 0.856 s, then order 1 again.
    EXPECT_NE(out.find("Length:          0:00.856 (then order 1 again)\n"), std::string::npos) << out;
}

TEST_F(XmRender, TheIntroSongHasHeadroomAndNoClipping)
{
    std::string introSong = std::string(TARNWICK_SOURCE_DIR) + "/data/glimrook.xm";
    ASSERT_TRUE(fs::exists(introSong)) << introSong;
    ASSERT_EQ(Run("'" + introSong + "' '" + PathOf("intro.wav") + "' -q"), 0);
    Audio audio = ReadAudio(PathOf("intro.wav"));
    ASSERT_GT(audio.samples.size(), 44100u * 2 * 10);
    int32_t peak = Peak(audio.samples.data(), audio.samples.size());
    size_t clipped = 0;
    for (int16_t value : audio.samples) {
        clipped += (value == 32767 || value == -32768) ? 1 : 0;
    }
    EXPECT_EQ(clipped, 0u);
    // Between -6 dBFS and -0.5 dBFS.
    EXPECT_GE(peak, 16423);
    EXPECT_LE(peak, 30934);
}

TEST_F(XmRender, UsageAndLoadFailures)
{
    std::string song = Save(ShortSong());
    EXPECT_EQ(Run(""), 2);
    EXPECT_EQ(Run("'" + song + "'"), 2);                                       // no output, no --info
    EXPECT_EQ(Run("'" + song + "' '" + PathOf("x.mp3") + "'"), 2);            // unknown output type
    EXPECT_EQ(Run("'" + song + "' '" + PathOf("x.wav") + "' --rate 10"), 2);  // rate out of range
    EXPECT_EQ(Run("'" + song + "' '" + PathOf("x.wav") + "' --seconds -1"), 2);
    EXPECT_EQ(Run("'" + song + "' '" + PathOf("x.wav") + "' --bogus"), 2);
    // Each refusal says why, in xmplay's words.
    auto said = [this] {
        std::ifstream in(PathOf("stderr.txt"));
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    EXPECT_EQ(Run("'" + PathOf("missing.xm") + "' '" + PathOf("x.wav") + "'"), 1);
    EXPECT_EQ(said(), "xmrender: cannot load " + PathOf("missing.xm") + ": no such file\n");
    std::ofstream(PathOf("junk.xm")) << "this is not a module";
    EXPECT_EQ(Run("'" + PathOf("junk.xm") + "' '" + PathOf("x.wav") + "'"), 1);
    EXPECT_EQ(said(), "xmrender: cannot load " + PathOf("junk.xm") + ": not an XM module\n");
    // The signature, then nothing the loader can take (a header size of 0).
    std::ofstream(PathOf("damaged.xm")) << "Extended Module: " << std::string(400, '\0');
    EXPECT_EQ(Run("'" + PathOf("damaged.xm") + "' --info"), 1);
    EXPECT_NE(said().find(": a damaged or unsupported XM module\n"), std::string::npos) << said();
    EXPECT_FALSE(fs::exists(PathOf("x.wav")));
    // A song from standard input is read once and still loads.
    std::string out;
    EXPECT_EQ(Run("/dev/stdin --info < '" + song + "'", &out), 0);
    EXPECT_NE(out.find("Channels:        2\n"), std::string::npos) << out;
    EXPECT_EQ(Run("'" + song + "' '" + PathOf("no/such/dir/x.wav") + "'"), 1);
}

}  // namespace
