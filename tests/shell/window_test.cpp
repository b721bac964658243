// Opening and closing the scene window against the platform's test stand-in: the order of the steps,
// every failure's message box, and what is torn down after it.
#include "platform/fake/fake_platform.h"
#include "shell/shell.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

class SceneWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakePlatformReset();
        ResetShellState();
    }
    void TearDown() override
    {
        // Leave nothing open for the next test.
        if (sceneWindow != nullptr) {
            CloseSceneWindow();
        }
    }
};

const unsigned ErrorFlags = PLAT_MB_OK | PLAT_MB_ICONEXCLAMATION;
const unsigned ShutdownFlags = PLAT_MB_OK | PLAT_MB_ICONINFORMATION;

TEST_F(SceneWindowTest, WindowedOpeningRunsEveryStepInOrder)
{
    ASSERT_TRUE(OpenSceneWindow("Tarnwick Rare", 640, 480, 16, false));
    std::vector<std::string> expected = {
        "RegisterClass",
        "AdjustWindowRect windowed",
        // The window's outer size grows by what the style adds around a 640 × 480 client area.
        "CreateWindow Tarnwick Rare 0,0 648x508 windowed",
        "GetDeviceContext",
        "ChoosePixelFormat 16/16",
        "SetPixelFormat 7",
        "CreateGlContext",
        "MakeGlContextCurrent",
        "ShowWindow",
    };
    EXPECT_EQ(fakePlatform.calls, expected);
    EXPECT_FALSE(isFullscreen);
    EXPECT_TRUE(fakePlatform.boxes.empty());
    EXPECT_NE(sceneWindow, nullptr);
    EXPECT_NE(sceneDeviceContext, nullptr);
}

TEST_F(SceneWindowTest, FullscreenOpeningSwitchesTheModeAndHidesThePointer)
{
    ASSERT_TRUE(OpenSceneWindow("Tarnwick Rare", 800, 600, 16, true));
    std::vector<std::string> expected = {
        "RegisterClass",   "ChangeDisplayMode 800x600x16", "HidePointer",
        "AdjustWindowRect fullscreen", "CreateWindow Tarnwick Rare 0,0 800x600 fullscreen",
    };
    ASSERT_GE(fakePlatform.calls.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(fakePlatform.calls.begin(), fakePlatform.calls.begin() + 5), expected);
    EXPECT_TRUE(isFullscreen);

    fakePlatform.calls.clear();
    CloseSceneWindow();
    std::vector<std::string> teardown = {
        "RestoreDisplayMode", "ShowPointer",    "UnbindGlContext", "DeleteGlContext",
        "ReleaseDeviceContext", "DestroyWindow", "UnregisterClass",
    };
    EXPECT_EQ(fakePlatform.calls, teardown);
    EXPECT_EQ(sceneWindow, nullptr);
}

TEST_F(SceneWindowTest, PixelFormatRequestAsksForSixteenBitColourAndDepthDoubleBuffered)
{
    ASSERT_TRUE(OpenSceneWindow("Tarnwick Rare", 640, 480, 16, false));
    EXPECT_EQ(ScenePixelFormat.nSize, 40);
    EXPECT_EQ(ScenePixelFormat.nVersion, 1);
    EXPECT_EQ(ScenePixelFormat.dwFlags, PLAT_PFD_DRAW_TO_WINDOW | PLAT_PFD_SUPPORT_OPENGL | PLAT_PFD_DOUBLEBUFFER);
    EXPECT_EQ(ScenePixelFormat.iPixelType, PLAT_PFD_TYPE_RGBA);
    EXPECT_EQ(ScenePixelFormat.cColorBits, 16);
    EXPECT_EQ(ScenePixelFormat.cDepthBits, 16);
    EXPECT_EQ(ScenePixelFormat.cStencilBits, 0);
    EXPECT_EQ(ScenePixelFormat.cAccumBits, 0);
}

TEST_F(SceneWindowTest, ClassRegistrationFailureTearsNothingDown)
{
    fakePlatform.failing = {"RegisterClass"};
    EXPECT_FALSE(OpenSceneWindow("Tarnwick Rare", 800, 600, 16, true));
    ASSERT_EQ(fakePlatform.boxes.size(), 1u);
    EXPECT_EQ(fakePlatform.boxes[0].text, "Failed To Register The Window Class.");
    EXPECT_EQ(fakePlatform.boxes[0].caption, "ERROR");
    EXPECT_EQ(fakePlatform.boxes[0].flags, ErrorFlags);
    EXPECT_EQ(fakePlatform.boxes[0].owner, nullptr);
    EXPECT_FALSE(FakeCalled("UnregisterClass"));
    EXPECT_FALSE(FakeCalled("ChangeDisplayMode 800x600x16"));
}

TEST_F(SceneWindowTest, RefusedFullscreenAnsweredYesOpensWindowed)
{
    fakePlatform.failing = {"ChangeDisplayMode"};
    fakePlatform.boxAnswers = {PLAT_IDYES};
    ASSERT_TRUE(OpenSceneWindow("Tarnwick Rare", 800, 600, 16, true));
    ASSERT_EQ(fakePlatform.boxes.size(), 1u);
    EXPECT_EQ(fakePlatform.boxes[0].text,
              "The Requested Fullscreen Mode Is Not Supported By\nYour Video Card. Use Windowed Mode Instead?");
    EXPECT_EQ(fakePlatform.boxes[0].caption, "Lumo GL");
    EXPECT_EQ(fakePlatform.boxes[0].flags, PLAT_MB_YESNO | PLAT_MB_ICONEXCLAMATION);
    EXPECT_FALSE(isFullscreen);
    EXPECT_FALSE(FakeCalled("HidePointer"));
    EXPECT_TRUE(FakeCalled("CreateWindow Tarnwick Rare 0,0 808x628 windowed"));

    // Closing a window that never switched the mode does not restore one.
    fakePlatform.calls.clear();
    CloseSceneWindow();
    EXPECT_FALSE(FakeCalled("RestoreDisplayMode"));
    EXPECT_FALSE(FakeCalled("ShowPointer"));
}

TEST_F(SceneWindowTest, RefusedFullscreenAnsweredNoEndsWithoutTearingDown)
{
    fakePlatform.failing = {"ChangeDisplayMode"};
    fakePlatform.boxAnswers = {PLAT_IDNO};
    EXPECT_FALSE(OpenSceneWindow("Tarnwick Rare", 800, 600, 16, true));
    ASSERT_EQ(fakePlatform.boxes.size(), 2u);
    EXPECT_EQ(fakePlatform.boxes[1].text, "Program Will Now Close.");
    EXPECT_EQ(fakePlatform.boxes[1].caption, "ERROR");
    EXPECT_EQ(fakePlatform.boxes[1].flags, PLAT_MB_OK | PLAT_MB_ICONSTOP);
    EXPECT_EQ(fakePlatform.windowsCreated, 0);
    EXPECT_FALSE(FakeCalled("UnregisterClass"));
}

struct OpeningFailure {
    const char* step;
    const char* message;
    // Calls that must follow the failure: what CloseSceneWindow undoes.
    std::vector<std::string> teardown;
};

void PrintTo(const OpeningFailure& failure, std::ostream* out)
{
    *out << failure.step;
}

class OpeningFailureTest : public SceneWindowTest, public ::testing::WithParamInterface<OpeningFailure> {};

TEST_P(OpeningFailureTest, ClosesWhatExistsThenShowsItsMessage)
{
    const OpeningFailure& failure = GetParam();
    fakePlatform.failing = {failure.step};
    EXPECT_FALSE(OpenSceneWindow("Tarnwick Rare", 800, 600, 16, true));

    ASSERT_EQ(fakePlatform.boxes.size(), 1u);
    EXPECT_EQ(fakePlatform.boxes[0].text, failure.message);
    EXPECT_EQ(fakePlatform.boxes[0].caption, "ERROR");
    EXPECT_EQ(fakePlatform.boxes[0].flags, ErrorFlags);
    EXPECT_EQ(fakePlatform.boxes[0].owner, nullptr);

    // The teardown runs before the box, in order, and the display mode comes back first.
    std::vector<std::string> afterFailure;
    bool seenFailure = false;
    for (const std::string& call : fakePlatform.calls) {
        if (seenFailure) {
            afterFailure.push_back(call);
        } else if (call.rfind(failure.step, 0) == 0) {
            seenFailure = true;
        }
    }
    std::vector<std::string> expected = {"RestoreDisplayMode", "ShowPointer"};
    expected.insert(expected.end(), failure.teardown.begin(), failure.teardown.end());
    expected.push_back("UnregisterClass");
    expected.push_back(std::string("MessageBox ") + failure.message);
    EXPECT_EQ(afterFailure, expected);
    EXPECT_EQ(sceneWindow, nullptr);
    EXPECT_EQ(sceneDeviceContext, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, OpeningFailureTest,
    ::testing::Values(
        OpeningFailure{"CreateWindow", "Window Creation Error.", {}},
        OpeningFailure{"GetDeviceContext", "Can't Create A GL Device Context.", {"DestroyWindow"}},
        OpeningFailure{"ChoosePixelFormat", "Can't Find A Suitable PixelFormat.",
                       {"ReleaseDeviceContext", "DestroyWindow"}},
        OpeningFailure{"SetPixelFormat", "Can't Set The PixelFormat.", {"ReleaseDeviceContext", "DestroyWindow"}},
        OpeningFailure{"CreateGlContext", "Can't Create A GL Rendering Context.",
                       {"ReleaseDeviceContext", "DestroyWindow"}},
        OpeningFailure{"MakeGlContextCurrent", "Can't Activate The GL Rendering Context.",
                       {"UnbindGlContext", "DeleteGlContext", "ReleaseDeviceContext", "DestroyWindow"}}),
    [](const ::testing::TestParamInfo<OpeningFailure>& info) { return std::string(info.param.step); });

TEST_F(SceneWindowTest, EveryFailedShutdownStepIsReportedAndTheRestStillRuns)
{
    ASSERT_TRUE(OpenSceneWindow("Tarnwick Rare", 640, 480, 16, false));
    fakePlatform.calls.clear();
    fakePlatform.failing = {"UnbindGlContext", "DeleteGlContext", "ReleaseDeviceContext", "DestroyWindow",
                            "UnregisterClass"};
    CloseSceneWindow();
    std::vector<std::string> texts;
    for (const FakeBox& box : fakePlatform.boxes) {
        texts.push_back(box.text);
        EXPECT_EQ(box.caption, "SHUTDOWN ERROR");
        EXPECT_EQ(box.flags, ShutdownFlags);
        EXPECT_EQ(box.owner, nullptr);
    }
    std::vector<std::string> expected = {"Release Of DC And RC Failed.", "Release Rendering Context Failed.",
                                         "Release Device Context Failed.", "Could Not Release hWnd.",
                                         "Could Not Unregister Class."};
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(sceneWindow, nullptr);
    EXPECT_EQ(sceneDeviceContext, nullptr);
}

TEST_F(SceneWindowTest, WindowProcedureKeepsKeysActivationAndClose)
{
    ASSERT_TRUE(OpenSceneWindow("Tarnwick Rare", 640, 480, 16, false));
    SceneWindowProc(sceneWindow, PLAT_WM_KEYDOWN, 0x41, 0);
    EXPECT_TRUE(KeyDown[0x41]);
    SceneWindowProc(sceneWindow, PLAT_WM_KEYUP, 0x41, 0);
    EXPECT_FALSE(KeyDown[0x41]);
    // A code outside the table is dropped rather than written past it.
    SceneWindowProc(sceneWindow, PLAT_WM_KEYDOWN, 256, 0);
    SceneWindowProc(sceneWindow, PLAT_WM_KEYDOWN, 0x10000, 0);
    for (bool key : KeyDown) {
        EXPECT_FALSE(key);
    }

    SceneWindowProc(sceneWindow, PLAT_WM_ACTIVATE, 0x00010001, 0);  // minimised
    EXPECT_FALSE(isActive);
    SceneWindowProc(sceneWindow, PLAT_WM_ACTIVATE, 0x00000000, 0);  // lost the focus only
    EXPECT_TRUE(isActive);

    fakePlatform.calls.clear();
    EXPECT_EQ(SceneWindowProc(sceneWindow, PLAT_WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(FakeCalled("PostQuitMessage 0"));
    EXPECT_FALSE(FakeCalled("DestroyWindow"));
}

TEST_F(SceneWindowTest, ScreenSaverAndMonitorPowerAreRefusedOtherSystemCommandsPassOn)
{
    SceneWindowProc(nullptr, PLAT_WM_SYSCOMMAND, PLAT_SC_SCREENSAVE, 0);
    SceneWindowProc(nullptr, PLAT_WM_SYSCOMMAND, PLAT_SC_MONITORPOWER, 0);
    EXPECT_TRUE(fakePlatform.calls.empty());
    SceneWindowProc(nullptr, PLAT_WM_SYSCOMMAND, 0xF020, 0);  // minimise
    EXPECT_EQ(fakePlatform.calls, std::vector<std::string>{"DefWindowProc 274"});
}

}  // namespace
