// A shared 800 × 600 scene window for tests that draw real frames (Mesa under Xvfb) and read them back.
#pragma once

#include "platform/gl.h"
#include "scene/scene.h"
#include "shell/shell.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

struct Rgb {
    int r, g, b;
};

// A 16-bit visual keeps 5 or 6 bits per channel, so colours are compared with a few units to spare.
inline bool Near(Rgb a, Rgb b, int tolerance = 8)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

// One window for the whole suite (opened in SetUpTestSuite); each test skips without a display.
class SceneFrameTest : public ::testing::Test {
protected:
    static constexpr int Width = 800;
    static constexpr int Height = 600;

    static void OpenSharedWindow(PlatMessageBoxFn boxes)
    {
        if (std::getenv("DISPLAY") == nullptr) {
            return;
        }
        PlatMessageBox = boxes;
        ResetShellState();
        windowOpen = OpenSceneWindow("Tarnwick Rare", Width, Height, 16, false);
    }
    static void TearDownTestSuite()
    {
        if (windowOpen) {
            CloseSceneWindow();
            windowOpen = false;
        }
    }
    void SetUp() override
    {
        if (std::getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "no display: the rendering tests run under Xvfb (./test.sh)";
        }
        ASSERT_TRUE(windowOpen);
        ResizeScene(Width, Height);
        treeAngle = 0.0f;
    }

    // Draws frames as the frame loop does and keeps the back buffer of the last one.
    void DrawFrames(int count)
    {
        for (int i = 0; i < count; i++) {
            if (i > 0) {
                PlatSwapBuffers(sceneDeviceContext);
            }
            DrawScene();
        }
        glFinish();
        pixels.assign(Width * Height * 3, 0);
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, Width, Height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    }

    // x from the left, y from the bottom, as OpenGL counts window pixels.
    Rgb PixelFromBottom(int x, int y) const
    {
        const unsigned char* p = &pixels[(static_cast<size_t>(y) * Width + x) * 3];
        return Rgb{p[0], p[1], p[2]};
    }

    std::vector<unsigned char> pixels;
    static inline bool windowOpen = false;
};
