// xmplay's pieces on their own: what the module header gives and what reaches the terminal, the keys, and the
// status area's lines. Where a song ends is the sound output's first pass (tests/sound/first_pass_test.cpp).
#include "tests/support/song_support.h"

#include "tools/xmplay/xmplay.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class ModuleFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        directory = fs::temp_directory_path() / ("xmplay_test_" + std::to_string(::getpid()));
        fs::create_directories(directory);
    }
    void TearDown() override { fs::remove_all(directory); }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        std::string path = (directory / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    fs::path directory;
};

TEST_F(ModuleFile, HeaderGivesStateAndATitleFitForATerminal)
{
    XmModule module = TraceModule(1, {4});
    module.name = "Winter  ";
    std::vector<uint8_t> bytes = XmWriteModule(module);
    ModuleHeader header = ReadModuleHeader(Write("song.xm", bytes));
    EXPECT_EQ(header.state, ModuleFileState::Ok);
    EXPECT_EQ(header.title, "Winter");  // the padding goes

    module.name = "\x1b[2Jtitle\x07\xc3\xa9";  // a screen clear, a bell and two bytes beyond ASCII
    header = ReadModuleHeader(Write("hostile.xm", XmWriteModule(module)));
    EXPECT_EQ(header.title, "?[2Jtitle???");

    module.name = "";
    EXPECT_EQ(ReadModuleHeader(Write("nameless.xm", XmWriteModule(module))).title, "");

    // Cut inside the title: the loader decides later whether the rest is a module.
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + 20);
    header = ReadModuleHeader(Write("cut.xm", cut));
    EXPECT_EQ(header.state, ModuleFileState::Ok);
    EXPECT_EQ(header.title, "Win");

    EXPECT_EQ(ReadModuleHeader(Write("empty.xm", {})).state, ModuleFileState::NotXm);
    std::vector<uint8_t> signature(bytes.begin(), bytes.begin() + 16);
    EXPECT_EQ(ReadModuleHeader(Write("short.xm", signature)).state, ModuleFileState::NotXm);
    EXPECT_EQ(ReadModuleHeader(Write("text.xm", {'h', 'e', 'l', 'l', 'o'})).state, ModuleFileState::NotXm);
    EXPECT_EQ(ReadModuleHeader((directory / "missing.xm").string()).state, ModuleFileState::Missing);
    EXPECT_EQ(ReadModuleHeader((directory / "song.xm" / "x").string()).state, ModuleFileState::Missing);
    EXPECT_EQ(ReadModuleHeader(directory.string()).state, ModuleFileState::Unreadable);  // a directory

    EXPECT_EQ(RefusalReason(ModuleFileState::Missing, false), "no such file");
    EXPECT_EQ(RefusalReason(ModuleFileState::NotXm, false), "not an XM module");
    EXPECT_EQ(RefusalReason(ModuleFileState::Ok, true), "a damaged or unsupported XM module");
}

TEST(TerminalText, ControlsBecomeQuestionMarksAndUtf8Passes)
{
    EXPECT_EQ(TerminalSafe("song.xm"), "song.xm");
    EXPECT_EQ(TerminalSafe("\x1b]0;owned\x07name\r\n\x7f"), "?]0;owned?name???");
    EXPECT_EQ(TerminalSafe("\xd1\x91\xd0\xbb\xd0\xba\xd0\xb0.xm"), "\xd1\x91\xd0\xbb\xd0\xba\xd0\xb0.xm");  // ёлка
    EXPECT_EQ(TerminalSafe("\xe2\x9d\x84 \xf0\x9f\x8e\x84"), "\xe2\x9d\x84 \xf0\x9f\x8e\x84");  // 3 and 4 bytes
    EXPECT_EQ(TerminalSafe("a\xc2\x9b" "31mb"), "a?31mb");   // CSI as a C1 control in UTF-8
    EXPECT_EQ(TerminalSafe("a\x9b" "31mb"), "a?31mb");       // CSI as a single byte
    EXPECT_EQ(TerminalSafe("\xc2\xa0x"), "\xc2\xa0x");       // no-break space is no control
    EXPECT_EQ(TerminalSafe("\xff\xfe"), "??");
    EXPECT_EQ(TerminalSafe("end\xe2\x9d"), "end??");  // a sequence cut short
}

TEST(Keys, PlayerKeysAndWholeEscapeSequences)
{
    auto decode = [](const std::string& text) {
        return DecodeKeys(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    };
    using K = PlayerKey;
    EXPECT_EQ(decode(" nNpPqQ"), (std::vector<K>{K::Pause, K::Next, K::Next, K::Previous, K::Previous, K::Quit,
                                                 K::Quit}));
    EXPECT_EQ(decode("\x1b"), std::vector<K>{K::Quit});
    EXPECT_EQ(decode("\x1b[A\x1b[B\x1bOP\x1b[15~"), std::vector<K>{});  // arrows, F1, F5
    EXPECT_EQ(decode("\x1b[1;5Cn"), std::vector<K>{K::Next});          // Ctrl-Right, then n
    EXPECT_EQ(decode("x\r\t7"), std::vector<K>{});
    EXPECT_EQ(decode("\x1b[12"), std::vector<K>{});  // a sequence cut off at the end of the read
    EXPECT_EQ(decode(""), std::vector<K>{});
}

SongView PlayingView()
{
    SongView view;
    view.fileName = "music/small_song.xm";
    view.title = "seed";
    view.index = 1;
    view.fileCount = 3;
    view.rate = 44100;
    view.totalFrames = 44100 * 12 + 21168;  // 0:12.480
    view.songFrames = view.totalFrames;
    view.keys = true;
    view.orderCount = 4;
    view.rowCount = 16;
    view.haveStatus = true;
    view.status.playedFrames = 199332;  // 0:04.520
    view.status.orderPos = 1;
    view.status.pattern = 1;
    view.status.row = 12;
    view.status.speed = 6;
    view.status.bpm = 125;
    view.status.channelCount = 4;
    view.status.levels[0] = 255;
    view.status.levels[1] = 0;
    view.status.levels[2] = 1;
    view.status.levels[3] = 128;
    return view;
}

TEST(StatusArea, ShowsTheSongItsTimesPositionLevelsAndKeys)
{
    std::vector<std::string> lines = FormatStatusArea(PlayingView(), 80);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "[2/3] music/small_song.xm  \"seed\"");
    EXPECT_EQ(lines[1].substr(0, 19), "0:04.520 / 0:12.480");
    EXPECT_NE(lines[1].find("[" + std::string(14, '#') + "."), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find(" 36%"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2], "order 1/4  pattern 1  row 12/16  speed 6  bpm 125");
    EXPECT_EQ(lines[3], "01 ######## 02 ........ 03 #....... 04 #####...");
    EXPECT_EQ(lines[4], "space pause  n next  p previous  q quit");

    SongView view = PlayingView();
    view.paused = true;
    view.keys = false;
    view.status.channelCount = 32;
    lines = FormatStatusArea(view, 80);
    EXPECT_NE(lines[1].find("paused"), std::string::npos);
    // 32 meters, six to a line of 80 columns; no keys line.
    ASSERT_EQ(lines.size(), 3u + 6u);
    EXPECT_EQ(lines[3].substr(0, 3), "01 ");
    EXPECT_EQ(lines[4].substr(0, 3), "07 ");
    EXPECT_EQ(lines.back(), "31 ........ 32 ........");
}

TEST(StatusArea, NoLineIsWiderThanTheTerminal)
{
    SongView view = PlayingView();
    view.fileName = std::string(300, 'x') + "\xd0\xbb\xd0\xba\xd0\xb0";
    view.status.channelCount = 32;
    for (int width : {1, 20, 33, 80, 132, 400}) {
        for (const std::string& line : FormatStatusArea(view, width)) {
            int columns = 0;
            for (unsigned char c : line) {
                columns += (c & 0xC0) != 0x80 ? 1 : 0;
            }
            EXPECT_LE(columns, std::max(width, 20) - 1) << width << ": " << line;
            // Never cut inside a UTF-8 sequence.
            EXPECT_EQ(TerminalSafe(line), line) << width;
        }
    }
}

TEST(StatusArea, LoopingUnknownLengthsAndTheLinePerSong)
{
    SongView view = PlayingView();
    EXPECT_EQ(FormatSongLine(view), "[2/3] music/small_song.xm  \"seed\"  0:12.480");
    view.fileName = "a\x1b[2Jb.xm";
    view.title = "";
    EXPECT_EQ(FormatSongLine(view), "[2/3] a?[2Jb.xm  0:12.480");

    // --loop: the bar runs over the song's own length, then says so.
    view.totalFrames = -1;
    view.status.playedFrames = static_cast<uint64_t>(view.songFrames) + 1000;
    std::vector<std::string> lines = FormatStatusArea(view, 100);
    EXPECT_NE(lines[1].find("100%"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("looping"), std::string::npos) << lines[1];

    view.songFrames = -1;
    lines = FormatStatusArea(view, 100);
    EXPECT_EQ(lines[1], "0:12.502 / ?:??.???");
    EXPECT_EQ(FormatSongLine(view), "[2/3] a?[2Jb.xm  length unknown");

    // Before the first status: times from zero, no position or meters.
    view.haveStatus = false;
    view.keys = false;
    lines = FormatStatusArea(view, 100);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "0:00.000 / ?:??.???");
}

}  // namespace
