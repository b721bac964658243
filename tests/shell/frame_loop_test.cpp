// The frame loop against the platform's test stand-in: quitting, Esc, F1 and minimising, the music's
// start and stop, and exit codes. The drawing calls go to OpenGL without a current context, where they do
// nothing; the music streams the real song to the stand-in audio device.
#include "platform/fake/fake_audio.h"
#include "platform/fake/fake_platform.h"
#include "scene/scene.h"
#include "shell/shell.h"

#include "sound/sound.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

class FrameLoopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakePlatformReset();
        FakeAudioReset();
        ResetShellState();
        treeAngle = 0.0f;
    }

    void TearDown() override
    {
        // Every run that got as far as the music leaves no thread behind.
        EXPECT_TRUE(StreamThreadDone.load());
    }

    static int CountCalls(const std::string& prefix)
    {
        int count = 0;
        for (const std::string& call : fakePlatform.calls) {
            count += call.rfind(prefix, 0) == 0 ? 1 : 0;
        }
        return count;
    }
};

const uint32_t KeyDownMessage = PLAT_WM_KEYDOWN;
const uintptr_t Minimised = 0x00010001;
const uintptr_t Restored = 0x00000001;

TEST_F(FrameLoopTest, EscEndsTheLoopWithExitCodeZeroWithoutDrawingInThatPass)
{
    FakeQueueIdle(3);
    FakeQueueMessage(KeyDownMessage, PLAT_VK_ESCAPE);
    FakeQueueIdle(5);
    EXPECT_EQ(IntroMain(), 0);
    EXPECT_FALSE(fakePlatform.scriptExhausted);
    EXPECT_EQ(fakePlatform.swaps, 3);
    EXPECT_FLOAT_EQ(treeAngle, 0.15f);
    // Shutdown closes the window.
    EXPECT_TRUE(FakeCalled("DestroyWindow"));
    EXPECT_EQ(fakePlatform.calls.back(), "UnregisterClass");
}

TEST_F(FrameLoopTest, CloseBoxQuitsWithZeroAndMessagesDrawNoFrame)
{
    FakeQueueMessage(PLAT_WM_SIZE, 0, 640 | (480 << 16));
    FakeQueueMessage(PLAT_WM_KEYDOWN, 0x41);
    FakeQueueMessage(PLAT_WM_CLOSE);
    EXPECT_EQ(IntroMain(), 0);
    EXPECT_FALSE(fakePlatform.scriptExhausted);
    EXPECT_EQ(fakePlatform.swaps, 0);
    EXPECT_TRUE(FakeCalled("PostQuitMessage 0"));
}

TEST_F(FrameLoopTest, EscIsIgnoredWhileMinimisedAndNothingIsDrawn)
{
    FakeQueueMessage(PLAT_WM_ACTIVATE, Minimised);
    FakeQueueMessage(KeyDownMessage, PLAT_VK_ESCAPE);
    FakeQueueIdle(4);
    FakeQueueMessage(PLAT_WM_ACTIVATE, Restored);
    FakeQueueIdle(2);
    EXPECT_EQ(IntroMain(), 0);
    // The loop went on through the minimised passes and quit at the first active pass.
    EXPECT_FALSE(fakePlatform.scriptExhausted);
    EXPECT_EQ(fakePlatform.swaps, 0);
    EXPECT_EQ(fakePlatform.script.size(), 1u);
}

TEST_F(FrameLoopTest, F1TogglesToSixFortyByFourEightyInTheOtherModeEachTime)
{
    FakeQueueMessage(KeyDownMessage, PLAT_VK_F1);
    FakeQueueIdle();
    FakeQueueMessage(KeyDownMessage, PLAT_VK_F1);
    FakeQueueIdle();
    FakeQueueMessage(PLAT_WM_CLOSE);
    EXPECT_EQ(IntroMain(), 0);
    EXPECT_TRUE(FakeCalled("CreateWindow Tarnwick Rare 0,0 800x600 fullscreen"));
    EXPECT_TRUE(FakeCalled("CreateWindow Tarnwick Rare 0,0 648x508 windowed"));
    EXPECT_TRUE(FakeCalled("ChangeDisplayMode 640x480x16"));
    EXPECT_TRUE(FakeCalled("CreateWindow Tarnwick Rare 0,0 640x480 fullscreen"));
    EXPECT_EQ(fakePlatform.windowsCreated, 3);
    EXPECT_TRUE(isFullscreen);
    // The key was consumed: each toggle drew its frame first, and the flag is clear again.
    EXPECT_FALSE(KeyDown[PLAT_VK_F1]);
    EXPECT_EQ(fakePlatform.swaps, 2);
}

TEST_F(FrameLoopTest, HeldF1TogglesOnEveryRepeat)
{
    for (int i = 0; i < 3; i++) {
        FakeQueueMessage(KeyDownMessage, PLAT_VK_F1);  // first press, then key repeats
        FakeQueueIdle();
    }
    FakeQueueMessage(PLAT_WM_KEYUP, PLAT_VK_F1);
    FakeQueueIdle();
    FakeQueueMessage(PLAT_WM_CLOSE);
    EXPECT_EQ(IntroMain(), 0);
    EXPECT_EQ(fakePlatform.windowsCreated, 4);
    EXPECT_FALSE(isFullscreen);
}

TEST_F(FrameLoopTest, F1IsHonouredWhileMinimisedButOnlyInAPassWithoutMessage)
{
    FakeQueueMessage(PLAT_WM_ACTIVATE, Minimised);
    FakeQueueMessage(KeyDownMessage, PLAT_VK_F1);
    FakeQueueMessage(PLAT_WM_SIZE, 0, 0);
    // Still no toggle: every pass so far had a message.
    FakeQueueMessage(PLAT_WM_CLOSE);
    EXPECT_EQ(IntroMain(), 0);
    EXPECT_EQ(fakePlatform.windowsCreated, 1);

    FakePlatformReset();
    ResetShellState();
    FakeQueueMessage(PLAT_WM_ACTIVATE, Minimised);
    FakeQueueMessage(KeyDownMessage, PLAT_VK_F1);
    FakeQueueIdle();
    FakeQueueMessage(PLAT_WM_CLOSE);
    EXPECT_EQ(IntroMain(), 0);
    EXPECT_EQ(fakePlatform.windowsCreated, 2);
    EXPECT_EQ(fakePlatform.swaps, 0);
}

TEST_F(FrameLoopTest, AWindowOpenedByF1WhileMinimisedDrawsAndEndsOnEsc)
{
    // Showing the new window activates it, as Windows does; otherwise it would stay as inactive as the
    // minimised one it replaced: no frames, and Esc ignored until the user minimised and restored it.
    FakeQueueMessage(PLAT_WM_ACTIVATE, Minimised);
    FakeQueueMessage(KeyDownMessage, PLAT_VK_F1);
    FakeQueueIdle();  // the toggle, with nothing drawn while minimised
    FakeQueueMessage(PLAT_WM_KEYUP, PLAT_VK_F1);
    FakeQueueIdle(2);  // two frames in the new window
    FakeQueueMessage(KeyDownMessage, PLAT_VK_ESCAPE);
    FakeQueueIdle(5);
    EXPECT_EQ(IntroMain(), 0);
    EXPECT_FALSE(fakePlatform.scriptExhausted) << "Esc did not end the intro";
    EXPECT_EQ(fakePlatform.windowsCreated, 2);
    EXPECT_EQ(fakePlatform.swaps, 2);
    EXPECT_TRUE(isActive);
}

TEST_F(FrameLoopTest, FailedStartEndsWithExitCodeOne)
{
    fakePlatform.failing = {"CreateGlContext"};
    EXPECT_EQ(IntroMain(), 1);
    EXPECT_FALSE(fakePlatform.scriptExhausted);
    EXPECT_EQ(fakePlatform.swaps, 0);
}

TEST_F(FrameLoopTest, RefusedFullscreenAnsweredNoEndsWithExitCodeOne)
{
    fakePlatform.failing = {"ChangeDisplayMode"};
    fakePlatform.boxAnswers = {PLAT_IDNO};
    EXPECT_EQ(IntroMain(), 1);
    EXPECT_EQ(fakePlatform.boxes.back().text, "Program Will Now Close.");
}

TEST_F(FrameLoopTest, RefusedFullscreenAnsweredYesAsksAgainOnTheNextFullscreenToggle)
{
    fakePlatform.failing = {"ChangeDisplayMode"};
    fakePlatform.boxAnswers = {PLAT_IDYES, PLAT_IDYES};
    FakeQueueIdle();
    FakeQueueMessage(KeyDownMessage, PLAT_VK_F1);
    FakeQueueIdle();
    FakeQueueMessage(PLAT_WM_CLOSE);
    EXPECT_EQ(IntroMain(), 0);
    EXPECT_EQ(fakePlatform.boxes.size(), 2u);
    EXPECT_TRUE(FakeCalled("ChangeDisplayMode 640x480x16"));
    EXPECT_FALSE(isFullscreen);
}

TEST_F(FrameLoopTest, FailedToggleEndsAtOnceWithExitCodeOne)
{
    // The first window: fullscreen refused, answered Yes, so it opens windowed. F1 asks for fullscreen
    // again: refused and answered No, so the re-open fails and the program ends at once.
    fakePlatform.failing = {"ChangeDisplayMode"};
    fakePlatform.boxAnswers = {PLAT_IDYES, PLAT_IDNO};
    FakeQueueIdle();
    FakeQueueMessage(KeyDownMessage, PLAT_VK_F1);
    FakeQueueIdle(3);
    EXPECT_EQ(IntroMain(), 1);
    EXPECT_EQ(fakePlatform.boxes.back().text, "Program Will Now Close.");
    EXPECT_EQ(fakePlatform.windowsCreated, 1);
    EXPECT_EQ(fakePlatform.script.size(), 2u);
}

TEST_F(FrameLoopTest, MusicPlaysWhileTheLoopRunsAndStopsBeforeTheWindowCloses)
{
    FakeQueueIdle(2);
    FakeQueueMessage(PLAT_WM_CLOSE);
    EXPECT_EQ(IntroMain(), 0);
    EXPECT_EQ(fakeAudio.opens, 1);
    EXPECT_EQ(fakeAudio.rate, 44100);
    EXPECT_EQ(fakeAudio.queues, 1);
    EXPECT_EQ(fakeAudio.threadsStarted.load(), 1);
    EXPECT_EQ(fakeAudio.threadsJoined.load(), 1);
    EXPECT_EQ(fakeAudio.closes, 1);
    EXPECT_FALSE(fakeAudio.open);
}

TEST_F(FrameLoopTest, NoAudioDeviceWritesItsLineAndEndsWithOneLeavingTheWindowOpen)
{
    fakeAudio.openFails = true;
    FakeQueueIdle(2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(IntroMain(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error upon initialization\n");
    EXPECT_EQ(fakePlatform.windowsCreated, 1);
    EXPECT_FALSE(FakeCalled("DestroyWindow"));
    EXPECT_EQ(fakePlatform.swaps, 0);
    EXPECT_TRUE(fakePlatform.boxes.empty());
    CloseSceneWindow();
}

TEST_F(FrameLoopTest, MissingSongWritesItsLineAndEndsWithOne)
{
    // Run where there is no data/ at all: every bitmap gives its box, the song its line.
    std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::path empty = std::filesystem::temp_directory_path() / ("tarnwick-empty-" + std::to_string(getpid()));
    std::filesystem::create_directories(empty);
    std::filesystem::current_path(empty);
    testing::internal::CaptureStdout();
    int code = IntroMain();
    std::string output = testing::internal::GetCapturedStdout();
    std::filesystem::current_path(here);
    std::filesystem::remove_all(empty);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(output, "Error loading song\n");
    EXPECT_EQ(fakePlatform.windowsCreated, 1);
    EXPECT_EQ(fakeAudio.threadsStarted.load(), 0);
    EXPECT_FALSE(fakePlatform.boxes.empty());
    SndClose();
    CloseSceneWindow();
}

TEST_F(FrameLoopTest, FailedToggleStopsTheMusicBeforeEnding)
{
    fakePlatform.failing = {"ChangeDisplayMode"};
    fakePlatform.boxAnswers = {PLAT_IDYES, PLAT_IDNO};
    FakeQueueIdle();
    FakeQueueMessage(KeyDownMessage, PLAT_VK_F1);
    FakeQueueIdle();
    EXPECT_EQ(IntroMain(), 1);
    EXPECT_EQ(fakeAudio.threadsStarted.load(), 1);
    EXPECT_EQ(fakeAudio.threadsJoined.load(), 1);
}

}  // namespace
