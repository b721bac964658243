// scene_frames_gl OUT: the planned scene frames drawn with the system's OpenGL 1.1 in the intro's own window
// (SDL, 16-bit colour and depth, windowed), written to OUT for the layer's check. Exit code 0 when written.
#include "tests/gles/scene_frames.h"

#include "shell/shell.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: scene_frames_gl OUT\n", stderr);
        return 2;
    }
    PlatMessageBox = PlatMessageBoxToStderr;
    StartScene();
    std::vector<SceneFrame> frames;
    int drawn = 0;
    for (const SceneFramePlan& plan : SceneFramePlans()) {
        ResetShellState();
        if (!OpenSceneWindow("Tarnwick Rare", plan.width, plan.height, 16, false)) {
            return 1;
        }
        drawn = DrawPlannedFrames(plan, drawn, &frames);
        CloseSceneWindow();
    }
    return WriteSceneFrames(argv[1], frames) ? 0 : 1;
}
