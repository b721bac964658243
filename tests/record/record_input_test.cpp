// `tarnwick --record`, --greeting and --song on bad input: each gives its message and exit code and leaves
// no file; an interrupted or failing recording removes its temporary file. And one's own greeting and song
// in a short recording.
#include "record_test_support.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

using namespace recordtest;

class RecordInputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        directory = fs::temp_directory_path() /
                    ("tarnwick-record-input-" + std::to_string(getpid()) + "-" +
                     testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(directory);
    }
    void TearDown() override { fs::remove_all(directory); }

    std::string PathOf(const std::string& name) const { return (directory / name).string(); }
    void Write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(directory / name, std::ios::binary) << bytes;
    }
    RunResult Run(const std::string& arguments) const { return RunIntro(arguments, scratch()); }
    // The intro with writes past `kilobytes` failing (SIGXFSZ ignored, so they return an error as on a full
    // disk instead of ending the program). Standard error only; the exit code, or -1 when it did not exit.
    RunResult RunWithFileLimit(int kilobytes, const std::string& arguments) const
    {
        fs::path out = scratch() / "err.txt";
        std::string shell = "cd '" TARNWICK_SOURCE_DIR "' && env -u DISPLAY bash -c \"trap '' XFSZ; ulimit -f " +
                            std::to_string(kilobytes) + "; exec timeout 120 '" TARNWICK_PATH "' " + arguments +
                            "\" 2> '" + out.string() + "'";
        int status = std::system(shell.c_str());
        RunResult result;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.err = ReadFile(out);
        fs::remove(out);
        return result;
    }
    // Starts a recording into `name` in a process group of its own (so the signal reaches the intro and
    // nothing of the test), after the shell commands `before`; waits (up to 60 s on a busy machine) until its
    // temporary file has grown, i.e. encoding runs; sends it `signalNumber` and waits for its end. Its wait
    // status.
    int SignalWhileRecording(const std::string& before, const std::string& name, const std::string& options,
                             int signalNumber) const
    {
        std::string command = "cd '" TARNWICK_SOURCE_DIR "' && " + before + " exec env -u DISPLAY '" TARNWICK_PATH
                              "' --record '" + PathOf(name) + "' " + options + " -q 2>/dev/null";
        pid_t child = fork();
        if (child == 0) {
            setpgid(0, 0);
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        EXPECT_GT(child, 0);
        bool writing = false;
        for (int i = 0; i < 600 && !writing && child > 0; i++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            for (const std::string& file : FilesIn(directory)) {
                writing = writing || (file.find(".part") != std::string::npos &&
                                      fs::file_size(directory / file) > 1000);
            }
        }
        EXPECT_TRUE(writing) << "the recording never started writing";
        int status = 0;
        if (child > 0) {
            kill(child, signalNumber);
            waitpid(child, &status, 0);
        }
        return status;
    }
    // Standard output and error are captured outside the directory under test.
    fs::path scratch() const
    {
        fs::path s = directory.string() + ".out";
        fs::create_directories(s);
        return s;
    }

    fs::path directory;
};

TEST_F(RecordInputTest, BadUsageExitsTwoWithTheUsageLineAndWritesNothing)
{
    const std::string out = "'" + PathOf("out.mp4") + "'";
    const char* const cases[] = {
        "--no-such-option",
        "--record out.mp4 --fps 0",
        "--record out.mp4 --fps 121",
        "--record out.mp4 --fps sixty",
        "--record out.mp4 --size 801x600",
        "--record out.mp4 --size 800x601",
        "--record out.mp4 --size 158x600",
        "--record out.mp4 --size 3842x600",
        "--record out.mp4 --size 800",
        "--record out.mp4 --seconds 0",
        "--record out.mp4 --seconds -3",
        "--fps 30",
        "--seconds 2",
        "--size 640x480",
    };
    for (const char* arguments : cases) {
        std::string line = std::string(arguments);
        size_t at = line.find("out.mp4");
        if (at != std::string::npos) {
            line.replace(at, 7, out);
        }
        RunResult run = Run(line);
        EXPECT_EQ(run.exitCode, 2) << arguments;
        EXPECT_NE(run.err.find("Run with --help for more information."), std::string::npos) << arguments;
    }
    RunResult avi = Run("--record '" + PathOf("out.avi") + "' --seconds 1");
    EXPECT_EQ(avi.exitCode, 2);
    EXPECT_NE(avi.err.find("the name must end in .mp4 or .webm"), std::string::npos) << avi.err;
    EXPECT_TRUE(FilesIn(directory).empty());

    RunResult help = Run("--help");
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--record", "--fps", "--size", "--seconds", "--quiet", "--greeting", "--song"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
}

TEST_F(RecordInputTest, AnUnwritablePlaceOrAFullDiskGivesOneLineExitOneAndNoFile)
{
    RunResult missing = Run("--record '" + PathOf("no/such/folder/out.mp4") + "' --seconds 0.5 -q");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "tarnwick: " + PathOf("no/such/folder/out.mp4") +
                               ": cannot write: No such file or directory\n");

    // A file size limit stands in for a full disk: writes past 64 KB fail.
    RunResult full = RunWithFileLimit(64, "--record '" + PathOf("full.mp4") + "' --seconds 5 -q");
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_EQ(std::count(full.err.begin(), full.err.end(), '\n'), 1) << full.err;
    EXPECT_EQ(full.err.rfind("tarnwick: " + PathOf("full.mp4") + ": ", 0), 0u) << full.err;
    EXPECT_TRUE(FilesIn(directory).empty());

    // Half a second at 160 x 120 fits into 10 KB as it is written, but not once the index is put at the
    // front: only the finish fails, and that too leaves nothing.
    for (const char* name : {"short.mp4", "short.webm"}) {
        RunResult cut = RunWithFileLimit(10, "--record '" + PathOf(name) + "' --seconds 0.5 --size 160x120 -q");
        EXPECT_EQ(cut.exitCode, 1) << name;
        EXPECT_EQ(cut.err, "tarnwick: " + PathOf(name) + ": cannot write: File too large\n");
        EXPECT_TRUE(FilesIn(directory).empty()) << name;
    }
}

TEST_F(RecordInputTest, AnExistingFileIsReplacedOnlyWhenTheNewOneIsComplete)
{
    Write("out.mp4", "an older file");
    RunResult run = Run("--record '" + PathOf("out.mp4") + "' --seconds 0.5 -q --fps 30 --size 320x240");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Decoded d = DecodeFile(PathOf("out.mp4"));
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.width, 320);
    EXPECT_EQ(d.height, 240);
    EXPECT_EQ(d.frameCount, 15);
    EXPECT_EQ(FilesIn(directory), std::vector<std::string>{"out.mp4"});

    // A failed recording leaves the older file as it was.
    RunResult failed = Run("--record '" + PathOf("out.mp4") + "' --song '" + PathOf("missing.xm") + "' -q");
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(FilesIn(directory), std::vector<std::string>{"out.mp4"});
    EXPECT_NE(ReadFile(directory / "out.mp4"), "an older file");
}

TEST_F(RecordInputTest, WebmNameGivesVp9AndOpus)
{
    RunResult run = Run("--record '" + PathOf("out.webm") + "' --seconds 0.5 -q --size 320x240");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Decoded d = DecodeFile(PathOf("out.webm"));
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.videoCodec, AV_CODEC_ID_VP9);
    EXPECT_EQ(d.audioCodec, AV_CODEC_ID_OPUS);
    EXPECT_EQ(d.frameCount, 30);
    EXPECT_EQ(d.channels, 2);
}

TEST_F(RecordInputTest, EveryEndingSignalRemovesTheTemporaryFile)
{
    // Ctrl-C, kill, a terminal or ssh session gone, Ctrl-\ (without the core file it would leave) and a
    // reader of standard error gone: each ends the intro by that signal, and leaves nothing.
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE}) {
        int status = SignalWhileRecording("ulimit -c 0;", "long.mp4", "--seconds 600", signalNumber);
        EXPECT_TRUE(WIFSIGNALED(status)) << "signal " << signalNumber;
        EXPECT_EQ(WIFSIGNALED(status) ? WTERMSIG(status) : 0, signalNumber);
        EXPECT_TRUE(FilesIn(directory).empty()) << "signal " << signalNumber;
    }
}

TEST_F(RecordInputTest, AHangupIgnoredFromTheStartLetsTheRecordingFinish)
{
    // As under nohup: the recording carries on through a closed terminal and the file appears.
    int status = SignalWhileRecording("trap '' HUP;", "kept.mp4", "--seconds 20 --fps 30 --size 160x120", SIGHUP);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(FilesIn(directory), std::vector<std::string>{"kept.mp4"});
    EXPECT_EQ(DecodeFile(PathOf("kept.mp4")).frameCount, 600);
}

TEST_F(RecordInputTest, AtALowPictureRateSoundAndPicturesHaveOneLength)
{
    // The length is rounded up to whole pictures, and the sound runs on as silence to the end of the last.
    struct Case {
        const char* name;
        const char* options;
        int pictures;
        double seconds;
    };
    const Case cases[] = {
        {"one.mp4", "--fps 1 --seconds 0.4", 1, 1.0},
        {"two.mp4", "--fps 1 --seconds 1.4", 2, 2.0},
        {"seven.mp4", "--fps 7 --seconds 0.5", 4, 4.0 / 7},
        {"one.webm", "--fps 1 --seconds 0.4", 1, 1.0},
    };
    for (const Case& c : cases) {
        RunResult run = Run("--record '" + PathOf(c.name) + "' " + c.options + " --size 160x120 -q");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        Decoded d = DecodeFile(PathOf(c.name));
        ASSERT_TRUE(d.opened) << c.name;
        EXPECT_EQ(d.frameCount, c.pictures) << c.name;
        // The decoded sound: the song, then silence (Opus's frames of 20 ms may add a little of it).
        ASSERT_GT(d.sampleRate, 0) << c.name;
        double decodedSeconds = static_cast<double>(d.left.size()) / d.sampleRate;
        EXPECT_GE(decodedSeconds, c.seconds - 0.001) << c.name;
        EXPECT_LE(decodedSeconds, c.seconds + 0.025) << c.name;
        if (std::string(c.options).find("0.4") != std::string::npos) {
            // Past the song's 0.4 s (and the codec's ringing) nothing is heard.
            float after = 0;
            for (size_t i = static_cast<size_t>(0.4 * d.sampleRate) + 2048; i < d.left.size(); i++) {
                after = std::max({after, std::abs(d.left[i]), std::abs(d.right[i])});
            }
            EXPECT_LT(after, 0.01f) << c.name;
        }
        if (d.formatName.find("mp4") != std::string::npos) {
            // MP4 gives both streams' lengths, the sound's cut in milliseconds (the file's own time unit).
            EXPECT_NEAR(d.videoSeconds, c.seconds, 1e-6) << c.name;
            EXPECT_NEAR(d.audioSeconds, c.seconds, 0.001) << c.name;
        }
    }
}

TEST_F(RecordInputTest, BadGreetingFilesGiveTheirMessagesAndExitOne)
{
    Write("empty.txt", "");
    Write("breaks.txt", "\r\n");
    Write("latin1.txt", "Gr\xFC\xDF" "e\n");
    Write("second.txt", "fine\n\xC3(\n");
    Write("large.txt", std::string(64 * 1024 + 1, 'a'));
    Write("limit.txt", std::string(64 * 1024, 'a'));
    struct Case {
        std::string file;
        std::string message;
    };
    const Case cases[] = {
        {"missing.txt", "cannot read the greeting " + PathOf("missing.txt") + ": No such file or directory"},
        {"empty.txt", "the greeting " + PathOf("empty.txt") + " is empty"},
        {"breaks.txt", "the greeting " + PathOf("breaks.txt") + " is empty"},
        {"latin1.txt", "the greeting " + PathOf("latin1.txt") + " is not UTF-8 text (line 1)"},
        {"second.txt", "the greeting " + PathOf("second.txt") + " is not UTF-8 text (line 2)"},
        {"large.txt", "the greeting " + PathOf("large.txt") + " is larger than 64 KB"},
    };
    for (const Case& c : cases) {
        for (const std::string& mode : {std::string("--record '") + PathOf("out.mp4") + "' -q", std::string()}) {
            RunResult run = Run("--greeting '" + PathOf(c.file) + "' " + mode);
            EXPECT_EQ(run.exitCode, 1) << c.file << " " << mode;
            EXPECT_EQ(run.err, "tarnwick: " + c.message + "\n") << mode;
        }
    }
    EXPECT_FALSE(fs::exists(directory / "out.mp4"));
    // Exactly 64 KB is accepted.
    RunResult limit = Run("--greeting '" + PathOf("limit.txt") + "' --record '" + PathOf("out.mp4") +
                          "' --seconds 0.1 -q --size 160x120");
    EXPECT_EQ(limit.exitCode, 0) << limit.err;
}

TEST_F(RecordInputTest, OwnGreetingWarnsOnceAndATestModulePlaysInARecording)
{
    // Latin, Cyrillic, an '@' inside and an emoji (twice): one warning listing the two.
    Write("greeting.txt", "Hello @ \xD0\x9C\xD0\xB8\xD1\x80 \xF0\x9F\x8E\x84 \xF0\x9F\x8E\x84!\n");
    const std::string song = TARNWICK_SOURCE_DIR "/fuzz/corpus/play/small_song.xm";
    RunResult run = Run("--greeting '" + PathOf("greeting.txt") + "' --song '" + song + "' --record '" +
                        PathOf("own.mp4") + "' --seconds 1 -q --size 320x240");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "tarnwick: warning: the greeting " + PathOf("greeting.txt") +
                           " has characters without a glyph, shown as blanks: U+0040 @, U+1F384 \xF0\x9F\x8E\x84\n");

    Decoded d = DecodeFile(PathOf("own.mp4"));
    ASSERT_TRUE(d.opened);
    std::vector<int16_t> render = RenderSong(song, 44100);
    ASSERT_GT(Peak(render), 1000.0) << "the test module must be audible";
    Alignment alignment = Align(d, render, 2048);
    EXPECT_GE(alignment.correlation, 0.99);
    EXPECT_LE(std::abs(alignment.lag), 735);

    // A module the loader refuses: the intro's own line, exit 1, no file.
    Write("broken.xm", "Extended Module: but nothing more");
    RunResult refused = Run("--song '" + PathOf("broken.xm") + "' --record '" + PathOf("bad.mp4") + "' -q");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.out, "Error loading song\n");
    EXPECT_FALSE(fs::exists(directory / "bad.mp4"));
}

TEST_F(RecordInputTest, StartedFromAnotherFolderTheIntroFindsItsDataOrSaysOnceWhereItLooked)
{
    // The built intro, started here: it finds the repository's data/ above its own folder.
    RunResult found = RunIntro("--record found.mp4 --seconds 0.1 --size 160x120 -q", scratch(), 120,
                               directory.string());
    EXPECT_EQ(found.exitCode, 0) << found.err;
    EXPECT_EQ(found.out + found.err, "");
    EXPECT_EQ(FilesIn(directory), std::vector<std::string>{"found.mp4"});

    // A copy deep in a folder of its own, with no data anywhere: one line, exit 1, nothing written.
    fs::path copy = directory / "a" / "b" / "c" / "d" / "tarnwick";
    fs::create_directories(copy.parent_path());
    fs::copy_file(TARNWICK_PATH, copy);
    fs::create_directories(directory / "here");
    RunResult lost = RunIntro("--record lost.mp4 --seconds 0.1 -q", scratch(), 120, (directory / "here").string(),
                              copy.string());
    EXPECT_EQ(lost.exitCode, 1);
    EXPECT_EQ(lost.out, "");
    const std::string start = "tarnwick: cannot find the intro's data (its pictures, glyphs and song): looked in " +
                              (directory / "here" / "data").string() + ", " + (copy.parent_path() / "data").string();
    EXPECT_EQ(lost.err.rfind(start, 0), 0u) << lost.err;
    EXPECT_NE(lost.err.find((directory / "a" / "b" / "c" / "share" / "tarnwick").string() + "\n"),
              std::string::npos) << lost.err;
    EXPECT_EQ(std::count(lost.err.begin(), lost.err.end(), '\n'), 1) << lost.err;
    EXPECT_FALSE(fs::exists(directory / "here" / "lost.mp4"));
}

} // namespace
