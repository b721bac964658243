// The intro's command line against the platform's test stand-in: no options is the intro as ever, and
// where standard error is not seen (the Windows build) errors and help also go into boxes.
#include "platform/fake/fake_audio.h"
#include "platform/fake/fake_platform.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "sound/sound.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

} // namespace
