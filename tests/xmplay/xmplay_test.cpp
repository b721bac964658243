// xmplay's pieces on their own: the module file read once and what its header gives, what reaches the
// terminal and how wide it is, the keys and the wait for the rest of an escape sequence, and the status area's
// lines and height. Where a song ends is the sound output's first pass (tests/sound/first_pass_test.cpp).
#include "tests/support/song_support.h"

#include "tools/xmplay/xmplay.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
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

// The header as xmplay reads it: the whole file once, its state and its title.
ModuleHeader ReadHeader(const std::string& path)
{
    std::vector<uint8_t> bytes;
    return ReadModuleFile(path, &bytes);
}

TEST_F(ModuleFile, HeaderGivesStateAndATitleFitForATerminal)
{
    XmModule module = TraceModule(1, {4});
    module.name = "Winter  ";
    std::vector<uint8_t> bytes = XmWriteModule(module);
    std::vector<uint8_t> read;
    ModuleHeader header = ReadModuleFile(Write("song.xm", bytes), &read);
    EXPECT_EQ(header.state, ModuleFileState::Ok);
    EXPECT_EQ(header.title, "Winter");  // the padding goes
    EXPECT_EQ(read, bytes) << "the whole file, for the loads that follow";

    module.name = "\x1b[2Jtitle\x07\xc3\xa9";  // a screen clear, a bell and two bytes beyond ASCII
    header = ReadHeader(Write("hostile.xm", XmWriteModule(module)));
    EXPECT_EQ(header.title, "?[2Jtitle???");

    module.name = "";
    EXPECT_EQ(ReadHeader(Write("nameless.xm", XmWriteModule(module))).title, "");

    // Cut inside the title: the loader decides later whether the rest is a module.
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + 20);
    header = ReadHeader(Write("cut.xm", cut));
    EXPECT_EQ(header.state, ModuleFileState::Ok);
    EXPECT_EQ(header.title, "Win");

    EXPECT_EQ(ReadHeader(Write("empty.xm", {})).state, ModuleFileState::NotXm);
    std::vector<uint8_t> signature(bytes.begin(), bytes.begin() + 16);
    EXPECT_EQ(ReadHeader(Write("short.xm", signature)).state, ModuleFileState::NotXm);
    EXPECT_EQ(ReadModuleFile(Write("text.xm", {'h', 'e', 'l', 'l', 'o'}), &read).state, ModuleFileState::NotXm);
    EXPECT_TRUE(read.empty());
    EXPECT_EQ(ReadHeader((directory / "missing.xm").string()).state, ModuleFileState::Missing);
    EXPECT_EQ(ReadHeader((directory / "song.xm" / "x").string()).state, ModuleFileState::Missing);
    EXPECT_EQ(ReadHeader(directory.string()).state, ModuleFileState::Unreadable);  // a directory

    EXPECT_EQ(RefusalReason(ModuleFileState::Missing, false), "no such file");
    EXPECT_EQ(RefusalReason(ModuleFileState::NotXm, false), "not an XM module");
    EXPECT_EQ(RefusalReason(ModuleFileState::Ok, true), "a damaged or unsupported XM module");
    EXPECT_EQ(RefusalReason(ModuleFileState::TooLarge, false), "larger than the loader takes (2147483647 bytes)");
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

std::vector<PlayerKey> Decode(const std::string& text, bool atEnd = true, size_t* decoded = nullptr)
{
    std::vector<PlayerKey> keys;
    size_t used = DecodeKeys(reinterpret_cast<const uint8_t*>(text.data()), text.size(), atEnd, &keys);
    if (decoded != nullptr) {
        *decoded = used;
    }
    return keys;
}

TEST(Keys, PlayerKeysAndWholeEscapeSequences)
{
    using K = PlayerKey;
    EXPECT_EQ(Decode(" nNpPqQ"), (std::vector<K>{K::Pause, K::Next, K::Next, K::Previous, K::Previous, K::Quit,
                                                 K::Quit}));
    EXPECT_EQ(Decode("\x1b"), std::vector<K>{K::Quit});
    EXPECT_EQ(Decode("\x1b[A\x1b[B\x1bOP\x1b[15~"), std::vector<K>{});  // arrows, F1, F5
    EXPECT_EQ(Decode("\x1b[1;5Cn"), std::vector<K>{K::Next});          // Ctrl-Right, then n
    EXPECT_EQ(Decode("x\r\t7"), std::vector<K>{});
    EXPECT_EQ(Decode("\x1b[12"), std::vector<K>{});  // a sequence cut off, and nothing more came
    EXPECT_EQ(Decode(""), std::vector<K>{});
    // Alt with a key is Esc and the key: neither quits nor acts as the key.
    EXPECT_EQ(Decode("\x1bn\x1bq\x1b "), std::vector<K>{});
    // Esc pressed twice.
    EXPECT_EQ(Decode("\x1b\x1b"), (std::vector<K>{K::Quit, K::Quit}));
}

TEST(Keys, AnEscAtTheEndOfAReadWaitsForTheRestOfItsSequence)
{
    using K = PlayerKey;
    size_t decoded = 0;
    // More may come: the Esc and an unfinished sequence are left for the next read, the keys before go.
    EXPECT_EQ(Decode("n\x1b", false, &decoded), std::vector<K>{K::Next});
    EXPECT_EQ(decoded, 1u);
    EXPECT_EQ(Decode("\x1b[1;5", false, &decoded), std::vector<K>{});
    EXPECT_EQ(decoded, 0u);
    EXPECT_EQ(Decode("\x1bO", false, &decoded), std::vector<K>{});
    EXPECT_EQ(decoded, 0u);
    EXPECT_EQ(Decode("\x1b\x1b", false, &decoded), std::vector<K>{K::Quit});
    EXPECT_EQ(decoded, 1u);
    EXPECT_EQ(Decode("\x1b[Aq", false, &decoded), std::vector<K>{K::Quit});
    EXPECT_EQ(decoded, 4u);
}

// A pipe standing for the terminal: keys written into one end, read from the other.
struct KeyPipe {
    int ends[2] = {-1, -1};
    KeyPipe() { EXPECT_EQ(::pipe(ends), 0); }
    ~KeyPipe()
    {
        ::close(ends[0]);
        if (ends[1] >= 0) {
            ::close(ends[1]);
        }
    }
    void Type(const std::string& text) { ASSERT_EQ(::write(ends[1], text.data(), text.size()), ssize_t(text.size())); }
};

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

TEST(Keys, ALoneEscCountsAfterTheWaitAndAltKeyNever)
{
    using K = PlayerKey;
    KeyPipe pipe;
    std::vector<K> keys;
    pipe.Type("\x1b");
    Clock::time_point start = Clock::now();
    EXPECT_TRUE(ReadKeys(pipe.ends[0], 1000, &keys));
    double waited = MillisecondsSince(start);
    EXPECT_EQ(keys, std::vector<K>{K::Quit});
    EXPECT_GE(waited, EscapeWaitMs * 0.9) << "the Esc was taken without waiting for the rest of a sequence";

    keys.clear();
    pipe.Type("\x1bn \x1b[A");  // Alt+n, space, an arrow: only the space is a key
    EXPECT_TRUE(ReadKeys(pipe.ends[0], 1000, &keys));
    EXPECT_EQ(keys, std::vector<K>{K::Pause});

    // The terminal ends: no more keys, and an Esc held back still counts.
    keys.clear();
    pipe.Type("\x1b");
    ::close(pipe.ends[1]);
    pipe.ends[1] = -1;
    bool open = true;
    for (int k = 0; k < 3 && open; k++) {
        open = ReadKeys(pipe.ends[0], 1000, &keys);
    }
    EXPECT_FALSE(open);
    EXPECT_EQ(keys, std::vector<K>{K::Quit});
}

TEST(Keys, ASequenceSplitAcrossReadsIsNoEsc)
{
    // An arrow key whose bytes come in two reads, 10 ms apart (a key held while the system stalls).
    KeyPipe pipe;
    pipe.Type("\x1b");
    Clock::time_point start = Clock::now();
    double sentAt = 0;
    std::thread rest([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        sentAt = MillisecondsSince(start);
        pipe.Type("[A");
    });
    std::vector<PlayerKey> keys;
    EXPECT_TRUE(ReadKeys(pipe.ends[0], 1000, &keys));
    rest.join();
    if (!keys.empty() && sentAt >= EscapeWaitMs) {
        GTEST_SKIP() << "the host held the writing thread back " << sentAt << " ms (the wait is " << EscapeWaitMs
                     << " ms): the rest came too late to judge";
    }
    EXPECT_EQ(keys, std::vector<PlayerKey>{}) << "the rest came after " << sentAt << " ms";
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
    std::vector<std::string> lines = FormatStatusArea(PlayingView(), 80, 24);
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
    lines = FormatStatusArea(view, 80, 24);
    EXPECT_NE(lines[1].find("paused"), std::string::npos);
    // 32 meters, six to a line of 80 columns; no keys line.
    ASSERT_EQ(lines.size(), 3u + 6u);
    EXPECT_EQ(lines[3].substr(0, 3), "01 ");
    EXPECT_EQ(lines[4].substr(0, 3), "07 ");
    EXPECT_EQ(lines.back(), "31 ........ 32 ........");
}

TEST(StatusArea, TextIsMeasuredInDisplayColumns)
{
    const std::string wide = "\xe9\x9f\xb3";  // 音, two columns
    EXPECT_EQ(DisplayColumns("song.xm"), 7);
    EXPECT_EQ(DisplayColumns(wide), 2);
    EXPECT_EQ(DisplayColumns("\xd1\x91\xd0\xbb\xd0\xba\xd0\xb0"), 4);  // ёлка
    EXPECT_EQ(DisplayColumns("e\xcc\x81"), 1);                           // e and a combining acute
    EXPECT_EQ(DisplayColumns("\xf0\x9f\x8e\x84"), 2);                     // an emoji
    EXPECT_EQ(DisplayColumns("a\xff\xe9\x9f"), 4);  // a stray byte and a cut sequence: one column each byte
    EXPECT_EQ(DisplayColumns(""), 0);

    EXPECT_EQ(FitColumns("abc" + wide + "d", 5), "abc" + wide);
    EXPECT_EQ(FitColumns("abc" + wide + "d", 4), "abc") << "half a wide character is never shown";
    EXPECT_EQ(FitColumns("abc", 0), "");
    std::string name;
    for (int k = 0; k < 45; k++) {
        name += wide;
    }
    EXPECT_EQ(FitColumns(name, 79), name.substr(0, 39 * wide.size()));
}

// Every line of the area within width - 1 display columns, whole UTF-8 sequences only.
void ExpectNarrowerThan(const std::vector<std::string>& lines, int width)
{
    for (const std::string& line : lines) {
        EXPECT_LE(DisplayColumns(line), std::max(width, 20) - 1) << width << ": " << line;
        EXPECT_EQ(TerminalSafe(line), line) << width;
    }
}

TEST(StatusArea, NoLineIsWiderThanTheTerminal)
{
    SongView view = PlayingView();
    view.fileName = std::string(300, 'x') + "\xd0\xbb\xd0\xba\xd0\xb0";
    view.status.channelCount = 32;
    for (int width : {1, 20, 33, 80, 132, 400}) {
        ExpectNarrowerThan(FormatStatusArea(view, width, 40), width);
    }
    // Double-width characters take two columns each.
    view.fileName.clear();
    for (int k = 0; k < 45; k++) {
        view.fileName += "\xe9\x9f\xb3";
    }
    for (int width : {20, 33, 80, 91, 132}) {
        std::vector<std::string> lines = FormatStatusArea(view, width, 40);
        ExpectNarrowerThan(lines, width);
        // "[2/3] ", 90 columns of name and "  "seed"": cut at the margin, or half a character before it.
        EXPECT_GE(DisplayColumns(lines[0]), std::min(104, std::max(width, 20) - 2)) << width << ": " << lines[0];
    }
}

// The tracks the meter rows show and the number the "+N tracks" line gives.
int TracksAccountedFor(const std::vector<std::string>& lines)
{
    int tracks = 0;
    for (const std::string& line : lines) {
        for (size_t at = 0; at + 11 <= line.size(); at++) {
            bool meter = std::isdigit(static_cast<unsigned char>(line[at])) &&
                         std::isdigit(static_cast<unsigned char>(line[at + 1])) && line[at + 2] == ' ' &&
                         line.find_first_not_of("#.", at + 3) >= at + 11 && (at == 0 || line[at - 1] == ' ');
            tracks += meter ? 1 : 0;
        }
        int hidden = 0;
        if (std::sscanf(line.c_str(), "+%d track", &hidden) == 1) {
            tracks += hidden;
        }
    }
    return tracks;
}

TEST(StatusArea, NeverTallerThanTheTerminalLessOneRow)
{
    SongView view = PlayingView();
    view.status.channelCount = 32;

    // 80 x 24: everything, six meters to a row.
    std::vector<std::string> lines = FormatStatusArea(view, 80, 24);
    EXPECT_EQ(lines.size(), 3u + 6u + 1u);
    EXPECT_EQ(TracksAccountedFor(lines), 32);

    // 80 x 10: nine lines; the meters give way and say how many tracks are not shown.
    lines = FormatStatusArea(view, 80, 10);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "[2/3] music/small_song.xm  \"seed\"");
    EXPECT_EQ(lines[2].substr(0, 6), "order ");
    EXPECT_EQ(lines[3].substr(0, 3), "01 ");
    EXPECT_EQ(lines[6].substr(0, 3), "19 ");
    EXPECT_EQ(lines[7], "+8 tracks");
    EXPECT_EQ(lines[8], "space pause  n next  p previous  q quit");

    // Every height: at most height - 1 lines, the heading always first, every track shown or counted while
    // any meter line is left, and the meters gone before the keys, the keys before the position.
    for (int height = 0; height <= 30; height++) {
        lines = FormatStatusArea(view, 80, height);
        ASSERT_LE(static_cast<int>(lines.size()), std::max(height - 1, 0)) << height;
        if (lines.empty()) {
            EXPECT_LE(height, 1);
            continue;
        }
        EXPECT_EQ(lines[0].substr(0, 6), "[2/3] ") << height;
        bool keys = lines.back() == "space pause  n next  p previous  q quit";
        int tracks = TracksAccountedFor(lines);
        EXPECT_TRUE(tracks == 32 || tracks == 0) << height << ": " << tracks << " tracks accounted for";
        if (tracks > 0) {
            EXPECT_TRUE(keys) << height << ": the keys went before the meters";
        }
        if (keys) {
            EXPECT_EQ(lines[2].substr(0, 6), "order ") << height << ": the position went before the keys";
        }
    }
    lines = FormatStatusArea(view, 80, 6);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3], "+32 tracks");
    lines = FormatStatusArea(view, 80, 2);
    EXPECT_EQ(lines, std::vector<std::string>{"[2/3] music/small_song.xm  \"seed\""});
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
    std::vector<std::string> lines = FormatStatusArea(view, 100, 24);
    EXPECT_NE(lines[1].find("100%"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("looping"), std::string::npos) << lines[1];

    view.songFrames = -1;
    lines = FormatStatusArea(view, 100, 24);
    EXPECT_EQ(lines[1], "0:12.502 / ?:??.???");
    EXPECT_EQ(FormatSongLine(view), "[2/3] a?[2Jb.xm  length unknown");

    // Before the first status: times from zero, no position or meters.
    view.haveStatus = false;
    view.keys = false;
    lines = FormatStatusArea(view, 100, 24);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "0:00.000 / ?:??.???");
}

}  // namespace
