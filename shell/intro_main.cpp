// The intro's entry: start-up in a fixed order, the frame loop with Esc and F1, and shutdown.
#include "shell/shell.h"

#include "scene/scene.h"

static const char* const WindowTitle = "Tarnwick Rare";

void ResetShellState()
{
    isActive = true;
    isFullscreen = true;
    for (bool& key : KeyDown) {
        key = false;
    }
    introSongPath = "data/glimrook.xm";
}

int IntroMain()
{
    LoadGreetingAssets();
    PrepareMusic();
    if (!OpenSceneWindow(WindowTitle, 800, 600, 16, isFullscreen)) {
        return 1;
    }
    // A failure here has written its line; the window and the audio output are left to process exit.
    if (!StartMusic()) {
        return 1;
    }

    PlatMessage message{};
    bool done = false;
    for (;;) {
        if (PlatPeekMessage(&message)) {
            if (message.message == PLAT_WM_QUIT) {
                break;
            }
            PlatDispatchMessage(message);
            continue;
        }
        if (isActive) {
            if (KeyDown[PLAT_VK_ESCAPE]) {
                done = true;
            } else {
                DrawScene();
                PlatSwapBuffers(sceneDeviceContext);
            }
        }
        // F1 is honoured even while minimised, in a pass with no message waiting.
        if (KeyDown[PLAT_VK_F1]) {
            KeyDown[PLAT_VK_F1] = false;
            CloseSceneWindow();
            isFullscreen = !isFullscreen;
            if (!OpenSceneWindow(WindowTitle, 640, 480, 16, isFullscreen)) {
                // No streaming thread may outlive the song and the tables it plays from.
                StopMusic();
                return 1;
            }
        }
        if (done) {
            break;
        }
    }

    StopMusic();
    CloseSceneWindow();
    // A normal quit (Esc, the close box) always ends with 0, whatever the last message carried.
    return 0;
}
