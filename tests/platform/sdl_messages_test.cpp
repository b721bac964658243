// The message poll over SDL2: which SDL window events reach the scene window procedure, and as what. Events
// are put on SDL's queue by hand, as the window system would have them delivered.
#include "platform/platform.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

intptr_t IgnoreMessages(PlatWindow, uint32_t, uintptr_t, intptr_t)
{
    return 0;
}

class SdlMessagesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "no display: the SDL platform tests run under Xvfb (./test.sh)";
        }
        // The intro's audio keeps SDL's event queue alive while the window class is registered again after
        // an F1; here the queue is held open the same way.
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0);
        ASSERT_TRUE(PlatRegisterWindowClass(IgnoreMessages));
    }
    void TearDown() override
    {
        for (PlatWindow window : windows) {
            PlatDestroyWindow(window);
        }
        PlatUnregisterWindowClass();
        SDL_QuitSubSystem(SDL_INIT_EVENTS);
    }

    PlatWindow Open(int width, int height)
    {
        PlatWindow window = PlatCreateWindow("Tarnwick Rare", 0, 0, width, height, false);
        EXPECT_NE(window, nullptr);
        windows.push_back(window);
        return window;
    }
    void Close(PlatWindow window)
    {
        std::erase(windows, window);
        PlatDestroyWindow(window);
    }

    // Puts one window event on the queue for the window with this id.
    static void PushWindowEvent(Uint32 windowId, SDL_WindowEventID what, int data1 = 0, int data2 = 0)
    {
        SDL_Event event{};
        event.type = SDL_WINDOWEVENT;
        event.window.windowID = windowId;
        event.window.event = what;
        event.window.data1 = data1;
        event.window.data2 = data2;
        ASSERT_EQ(SDL_PushEvent(&event), 1);
    }
    static Uint32 IdOf(PlatWindow window)
    {
        return SDL_GetWindowID(reinterpret_cast<SDL_Window*>(window));
    }

    // Every message the poll hands out until the queue is empty.
    static std::vector<PlatMessage> Drain()
    {
        std::vector<PlatMessage> messages;
        PlatMessage message{};
        while (PlatPeekMessage(&message)) {
            messages.push_back(message);
        }
        return messages;
    }

    std::vector<PlatWindow> windows;
};

TEST_F(SdlMessagesTest, WindowEventsOfAWindowThatIsGoneNeverReachTheNextWindow)
{
    // Leaving fullscreen queues a size change of the old window, and an F1 destroys that window and
    // registers the class again before the loop polls: the new window's viewport must not take the old size.
    // Twice: the second time the new window is made in the same video session, without re-registering.
    for (bool registerAgain : {true, false}) {
        SCOPED_TRACE(registerAgain ? "class registered again" : "same registration");
        PlatWindow first = Open(800, 600);
        Uint32 firstId = IdOf(first);
        Drain();
        PushWindowEvent(firstId, SDL_WINDOWEVENT_SIZE_CHANGED, 800, 600);
        PushWindowEvent(firstId, SDL_WINDOWEVENT_RESTORED);
        Close(first);
        if (registerAgain) {
            ASSERT_TRUE(PlatUnregisterWindowClass());
            ASSERT_TRUE(PlatRegisterWindowClass(IgnoreMessages));
        }
        PlatWindow second = Open(640, 480);
        PushWindowEvent(IdOf(second), SDL_WINDOWEVENT_SIZE_CHANGED, 640, 480);
        int sizes = 0;
        for (const PlatMessage& message : Drain()) {
            EXPECT_EQ(message.window, second) << "message " << message.message << " of a window that is gone";
            if (message.message == PLAT_WM_SIZE) {
                sizes++;
                EXPECT_EQ(message.lParam, 640 | (480 << 16));
            }
        }
        EXPECT_EQ(sizes, 1);
        Close(second);
    }
}

TEST_F(SdlMessagesTest, ShownFocusedAndRestoredActivateMinimisedDeactivates)
{
    PlatWindow window = Open(640, 480);
    Drain();
    const struct {
        SDL_WindowEventID event;
        uintptr_t wParam;
    } cases[] = {
        {SDL_WINDOWEVENT_MINIMIZED, 0x00010001},
        {SDL_WINDOWEVENT_SHOWN, 0x00000001},
        {SDL_WINDOWEVENT_MINIMIZED, 0x00010001},
        {SDL_WINDOWEVENT_FOCUS_GAINED, 0x00000001},
        {SDL_WINDOWEVENT_MINIMIZED, 0x00010001},
        {SDL_WINDOWEVENT_RESTORED, 0x00000001},
    };
    for (const auto& c : cases) {
        PushWindowEvent(IdOf(window), c.event);
        std::vector<PlatMessage> messages = Drain();
        ASSERT_EQ(messages.size(), 1u) << "SDL window event " << int(c.event);
        EXPECT_EQ(messages[0].window, window);
        EXPECT_EQ(messages[0].message, PLAT_WM_ACTIVATE);
        EXPECT_EQ(messages[0].wParam, c.wParam) << "SDL window event " << int(c.event);
    }
}

} // namespace
