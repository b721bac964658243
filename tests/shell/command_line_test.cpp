// The intro's command line against the platform's test stand-in: no options is the intro as ever, and
// where standard error is not seen (the Windows build) errors and help also go into boxes.
#include "image/image.h"
#include "platform/fake/fake_audio.h"
#include "platform/fake/fake_platform.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "sound/sound.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakePlatformReset();
        FakeAudioReset();
        ResetShellState();
        ResetScrollerState();
    }
    void TearDown() override
    {
        ResetShellState();
        ResetScrollerState();
    }

    static int Entry(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "tarnwick");
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        return IntroEntry(static_cast<int>(arguments.size()), argv.data());
    }
};

TEST_F(CommandLineTest, WithoutOptionsTheIntroRunsAsEver)
{
    FakeQueueIdle(3);
    FakeQueueMessage(PLAT_WM_KEYDOWN, PLAT_VK_ESCAPE);
    FakeQueueIdle(1);
    EXPECT_EQ(Entry({}), 0);
    EXPECT_TRUE(FakeCalled("CreateWindow Tarnwick Rare 0,0 800x600 fullscreen"));
    EXPECT_EQ(fakePlatform.swaps, 3);
    EXPECT_EQ(scrollerText, GreetingText);
    EXPECT_EQ(introSongPath, "data/glimrook.xm");
    EXPECT_TRUE(fakePlatform.boxes.empty());
}

TEST_F(CommandLineTest, WindowStartsInAWindowAndF1StillGoesFullscreen)
{
    FakeQueueIdle(2);
    FakeQueueMessage(PLAT_WM_KEYDOWN, PLAT_VK_F1);
    FakeQueueIdle(2);
    FakeQueueMessage(PLAT_WM_KEYDOWN, PLAT_VK_ESCAPE);
    FakeQueueIdle(1);
    EXPECT_EQ(Entry({"--window"}), 0);
    // 800 x 600 inside, with the frame and caption a window adds.
    EXPECT_TRUE(FakeCalled("CreateWindow Tarnwick Rare 0,0 808x628 windowed"));
    EXPECT_FALSE(FakeCalled("CreateWindow Tarnwick Rare 0,0 800x600 fullscreen"));
    EXPECT_TRUE(FakeCalled("CreateWindow Tarnwick Rare 0,0 640x480 fullscreen"));
    // A recording has no window to start in.
    EXPECT_EQ(Entry({"--window", "--record", "x.mp4"}), 2);
}

TEST_F(CommandLineTest, AGreetingOfOnesOwnReachesTheScroller)
{
    const std::string path = testing::TempDir() + "tarnwick_command_line_greeting.txt";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("Hi\n", file);
    std::fclose(file);
    FakeQueueMessage(PLAT_WM_KEYDOWN, PLAT_VK_ESCAPE);
    FakeQueueIdle(1);
    EXPECT_EQ(Entry({"--greeting", path}), 0);
    EXPECT_STREQ(scrollerText, "Hi@");
    std::remove(path.c_str());
}

TEST_F(CommandLineTest, WhereStandardErrorIsHiddenErrorsAndHelpAlsoGoIntoBoxes)
{
    fakePlatform.standardErrorHidden = true;
    EXPECT_EQ(Entry({"--greeting", "/no/such/greeting.txt"}), 1);
    ASSERT_EQ(fakePlatform.boxes.size(), 1u);
    EXPECT_EQ(fakePlatform.boxes[0].caption, "ERROR");
    EXPECT_EQ(fakePlatform.boxes[0].text,
              "cannot read the greeting /no/such/greeting.txt: No such file or directory");
    EXPECT_FALSE(FakeCalled("RegisterClass"));

    fakePlatform.boxes.clear();
    EXPECT_EQ(Entry({"--frames-per-second", "3"}), 2);
    ASSERT_EQ(fakePlatform.boxes.size(), 1u);
    EXPECT_EQ(fakePlatform.boxes[0].caption, "ERROR");
    EXPECT_NE(fakePlatform.boxes[0].text.find("--help"), std::string::npos);

    fakePlatform.boxes.clear();
    EXPECT_EQ(Entry({"--help"}), 0);
    ASSERT_EQ(fakePlatform.boxes.size(), 1u);
    EXPECT_NE(fakePlatform.boxes[0].text.find("--record"), std::string::npos);
    EXPECT_NE(fakePlatform.boxes[0].text.find("--greeting"), std::string::npos);

    // Where standard error is seen, it alone carries the message.
    fakePlatform.standardErrorHidden = false;
    fakePlatform.boxes.clear();
    EXPECT_EQ(Entry({"--greeting", "/no/such/greeting.txt"}), 1);
    EXPECT_TRUE(fakePlatform.boxes.empty());
}

TEST_F(CommandLineTest, ARefusedSongEndsTheIntroWithItsOwnLine)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(Entry({"--song", "/no/such/song.xm"}), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error loading song\n");
    EXPECT_EQ(introSongPath, "/no/such/song.xm");
    ResetShellState();
    StopMusic();
    CloseSceneWindow();
}

TEST_F(CommandLineTest, TheVideoSizeLimitsHoldForEachSide)
{
    const std::string out = testing::TempDir() + "tarnwick_command_line_size.mp4";
    // Accepted sizes reach the drawing (which the stand-in refuses, so nothing is written).
    for (const char* size : {"160x120", "800x120", "3840x2160"}) {
        fakePlatform.calls.clear();
        testing::internal::CaptureStderr();
        EXPECT_EQ(Entry({"--record", out, "--size", size, "--seconds", "0.1", "-q"}), 1) << size;
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "tarnwick: cannot record: no drawing without a window in the test stand-in\n");
        EXPECT_TRUE(FakeCalled(std::string("CreateOffscreen ") + size)) << size;
        ResetShellState();
    }
    for (const char* size : {"160x118", "800x118", "158x120", "3842x2160", "3840x2162"}) {
        fakePlatform.calls.clear();
        testing::internal::CaptureStderr();
        EXPECT_EQ(Entry({"--record", out, "--size", size, "--seconds", "0.1", "-q"}), 2) << size;
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("both sides even, 160 to 3840 wide and 120 to 2160 high"), std::string::npos)
            << size << ": " << err;
        EXPECT_FALSE(FakeCalled(std::string("CreateOffscreen ") + size)) << size;
    }
    EXPECT_FALSE(fs::exists(out));
}

// A greeting of `count` distinct characters without a glyph (CJK ideographs from U+4E00 on).
static std::string ManyBlanks(int count, std::vector<std::string>* described)
{
    std::string text;
    for (int k = 0; k < count; k++) {
        char32_t c = 0x4E00 + k;
        std::string utf8 = {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                            static_cast<char>(0x80 | (c & 0x3F))};
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X ", static_cast<unsigned>(c));
        described->push_back(code + utf8);
        text += utf8 + " ";
    }
    return text;
}

TEST_F(CommandLineTest, TheWarningAboutBlanksNamesTheFirstTwentyAndCountsTheRest)
{
    const std::string path = testing::TempDir() + "tarnwick_command_line_blanks.txt";
    // Exactly the listed number, a few more, and about as many as a greeting's 64 KB can hold.
    for (int count : {20, 25, 16000}) {
        std::vector<std::string> described;
        std::ofstream(path, std::ios::binary) << ManyBlanks(count, &described);
        std::string expected = "the greeting " + path + " has characters without a glyph, shown as blanks: ";
        for (int k = 0; k < 20; k++) {
            expected += (k == 0 ? "" : ", ") + described[k];
        }
        if (count > 20) {
            expected += " and " + std::to_string(count - 20) + " more";
        }

        FakePlatformReset();
        fakePlatform.standardErrorHidden = true;
        FakeQueueMessage(PLAT_WM_KEYDOWN, PLAT_VK_ESCAPE);
        FakeQueueIdle(1);
        testing::internal::CaptureStderr();
        EXPECT_EQ(Entry({"--greeting", path}), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "tarnwick: warning: " + expected + "\n") << count;
        ASSERT_EQ(fakePlatform.boxes.size(), 1u) << count;
        EXPECT_EQ(fakePlatform.boxes[0].text, expected);
        ResetShellState();
        ResetScrollerState();
    }
    std::remove(path.c_str());
}

// The intro started from another folder: its executable stands in scratch/, the current folder elsewhere.
class DataFolderTest : public CommandLineTest {
protected:
    void SetUp() override
    {
        CommandLineTest::SetUp();
        home = fs::current_path();
        ASSERT_TRUE(fs::exists(home / "data" / "l1.bmp")) << "run from the repository root (ctest does)";
        scratch = fs::temp_directory_path() / ("tarnwick-data-folder-" + std::to_string(getpid()));
        fs::create_directories(scratch / "elsewhere");
        fs::current_path(scratch / "elsewhere");
    }
    void TearDown() override
    {
        fs::current_path(home);
        fs::remove_all(scratch);
        CommandLineTest::TearDown();
    }
    fs::path home;
    fs::path scratch;
};

TEST_F(DataFolderTest, PlacesRunFromTheCurrentFolderUpFromTheExecutableToTheInstalledOne)
{
    EXPECT_EQ(IntroDataPlaces(""), std::vector<std::string>{"data/"});
    std::vector<std::string> places = IntroDataPlaces("/opt/tarnwick/build/shell/tarnwick");
    ASSERT_GE(places.size(), 3u);
    EXPECT_EQ(places.front(), "data/");
    EXPECT_EQ(places[1], "/opt/tarnwick/build/shell/data/");
    // Each one above the last, ending with the installed location beside bin/.
    fs::path folder = "/opt/tarnwick/build/shell";
    for (size_t i = 2; i + 1 < places.size(); i++) {
        folder = folder.parent_path();
        EXPECT_EQ(places[i], (folder / "data").string() + "/");
    }
    EXPECT_EQ(places.back(), "/opt/tarnwick/build/share/tarnwick/");
    EXPECT_EQ(IntroDataPlaces("/usr/local/bin/tarnwick").back(), "/usr/local/share/tarnwick/");
    // The executable's own folder as the current one is looked in once.
    places = IntroDataPlaces((fs::current_path() / "tarnwick").string());
    EXPECT_EQ(places[0], "data/");
    EXPECT_EQ(places[1], (fs::current_path().parent_path() / "data").string() + "/");
}

TEST_F(DataFolderTest, DataBesideTheExecutableIsFoundWithoutABox)
{
    // The repository's data/ one folder above the executable, and a data/ here that is not the intro's.
    fs::create_directories(scratch / "repo" / "shell");
    fs::create_directory_symlink(home / "data", scratch / "repo" / "data");
    fs::create_directories(scratch / "elsewhere" / "data" / "holiday-photos");
    fakePlatform.executablePath = (scratch / "repo" / "shell" / "tarnwick").string();
    fakePlatform.standardErrorHidden = true;
    FakeQueueIdle(2);
    FakeQueueMessage(PLAT_WM_KEYDOWN, PLAT_VK_ESCAPE);
    FakeQueueIdle(1);
    EXPECT_EQ(Entry({}), 0);
    EXPECT_TRUE(fakePlatform.boxes.empty()) << fakePlatform.boxes[0].text;
    EXPECT_EQ(fakePlatform.swaps, 2);
    EXPECT_EQ(sceneDataFolder, (scratch / "repo" / "data").string() + "/");
    EXPECT_EQ(introSongPath, (scratch / "repo" / "data" / "glimrook.xm").string());
    ASSERT_NE(picture1, nullptr);
    EXPECT_EQ(picture1->width, 92);
    for (int index = 0; index < GlyphTableSize; index++) {
        EXPECT_EQ(GlyphTable[index] != nullptr, GlyphFiles[index] != nullptr) << index;
    }
    // A song of one's own is still named from the current folder.
    fs::copy_file(home / "data" / "glimrook.xm", scratch / "elsewhere" / "own.xm");
    ResetShellState();
    ResetScrollerState();
    FakeQueueMessage(PLAT_WM_KEYDOWN, PLAT_VK_ESCAPE);
    FakeQueueIdle(1);
    EXPECT_EQ(Entry({"--song", "own.xm"}), 0);
    EXPECT_EQ(introSongPath, "own.xm");
    EXPECT_TRUE(fakePlatform.boxes.empty());

    // The current folder comes first; there a missing file has its own message as ever.
    fs::create_directories(scratch / "elsewhere" / "data" / "letters");
    fs::copy_file(home / "data" / "l1.bmp", scratch / "elsewhere" / "data" / "l1.bmp");
    ResetShellState();
    ResetScrollerState();
    fakePlatform.boxes.clear();
    std::string error;
    EXPECT_TRUE(FindIntroData(&error));
    EXPECT_EQ(sceneDataFolder, "data/");
    EXPECT_EQ(introSongPath, "data/glimrook.xm");
    LoadGreetingAssets();
    ASSERT_FALSE(fakePlatform.boxes.empty());
    EXPECT_EQ(fakePlatform.boxes[0].text, "Failed to open DIB file data/l2.bmp.\n");
}

TEST_F(DataFolderTest, NoDataAnywhereIsOneMessageNamingThePlacesAndExitOne)
{
    fakePlatform.executablePath = (scratch / "a" / "b" / "c" / "d" / "tarnwick").string();
    std::string places;
    for (const std::string& place : IntroDataPlaces(fakePlatform.executablePath)) {
        std::string shown = place == "data/" ? (fs::current_path() / "data").string() : place;
        if (shown.back() == '/') {
            shown.pop_back();
        }
        places += (places.empty() ? "" : ", ") + shown;
    }
    const std::string message = "cannot find the intro's data (its pictures, glyphs and song): looked in " + places;
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, std::vector<std::string>{"--record", "out.mp4", "-q"}}) {
        FakePlatformReset();
        fakePlatform.executablePath = (scratch / "a" / "b" / "c" / "d" / "tarnwick").string();
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        EXPECT_EQ(Entry(arguments), 1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "tarnwick: " + message + "\n");
        EXPECT_TRUE(fakePlatform.boxes.empty());
        EXPECT_FALSE(FakeCalled("RegisterClass"));
        EXPECT_FALSE(FakeCalled("CreateOffscreen 800x600"));
    }
    // Where standard error is not seen: one box.
    fakePlatform.boxes.clear();
    fakePlatform.standardErrorHidden = true;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Entry({}), 1);
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(fakePlatform.boxes.size(), 1u);
    EXPECT_EQ(fakePlatform.boxes[0].caption, "ERROR");
    EXPECT_EQ(fakePlatform.boxes[0].text, message);
    EXPECT_FALSE(fs::exists(scratch / "elsewhere" / "out.mp4"));
}

} // namespace
