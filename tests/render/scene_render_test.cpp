// The winter scene drawn into a real 800 × 600 OpenGL context (Mesa under Xvfb), checked by its pixels.
#include "tests/support/scene_frame.h"

#include <cmath>
#include <vector>

namespace {

const Rgb Backdrop{125, 167, 217};
const Rgb TreeColour{103, 145, 195};
const Rgb Black{0, 0, 0};
const Rgb White{255, 255, 255};

class SceneRenderTest : public SceneFrameTest {
protected:
    static void SetUpTestSuite() { OpenSharedWindow(PlatMessageBoxToStderr); }

    // x from the left, y from the top, as on screen.
    Rgb At(int x, int y) const
    {
        return PixelFromBottom(x, Height - 1 - y);
    }

    int CountNear(Rgb colour, int x0, int y0, int x1, int y1, int tolerance = 8) const
    {
        int count = 0;
        for (int y = y0; y < y1; y++) {
            for (int x = x0; x < x1; x++) {
                count += Near(At(x, y), colour, tolerance) ? 1 : 0;
            }
        }
        return count;
    }

    void CheckSceneLayout()
    {
        // The backdrop fills the middle left.
        EXPECT_TRUE(Near(At(100, 300), Backdrop));
        EXPECT_TRUE(Near(At(40, 200), Backdrop));
        // The bars are black at the top and bottom rows.
        EXPECT_TRUE(Near(At(100, 0), Black));
        EXPECT_TRUE(Near(At(100, Height - 1), Black));
        EXPECT_TRUE(Near(At(700, Height - 1), Black));
        // The lower bar reaches higher up the screen than the upper one reaches down: 80 rows from the
        // top is backdrop, 80 rows from the bottom is still bar.
        EXPECT_TRUE(Near(At(100, 80), Backdrop));
        EXPECT_TRUE(Near(At(100, Height - 81), Black));
        // The tree's colour stands in the middle of the screen.
        EXPECT_GT(CountNear(TreeColour, 200, 100, 600, 500), 5000);
        // White snowflake pixels in the upper right.
        EXPECT_GT(CountNear(White, 560, 0, Width, 80, 20), 50);
        EXPECT_EQ(CountNear(White, 0, 0, 400, Height, 20), 0);
    }
};

TEST_F(SceneRenderTest, FirstFrameShowsBackdropBarsTreeAndSnowflakes)
{
    DrawFrames(1);
    CheckSceneLayout();
    EXPECT_FLOAT_EQ(treeAngle, 0.05f);
}

TEST_F(SceneRenderTest, FrameTwoHundredIsStillTheSceneButMoved)
{
    DrawFrames(1);
    std::vector<unsigned char> first = pixels;
    DrawFrames(199);
    CheckSceneLayout();
    EXPECT_NE(first, pixels);
}

TEST_F(SceneRenderTest, AfterAFrameTheModelViewIsTheSceneTranslationAndLinesStayTwoWide)
{
    DrawFrames(1);
    GLfloat modelView[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelView);
    const GLfloat expected[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -5.8f, 1};
    for (int i = 0; i < 16; i++) {
        EXPECT_FLOAT_EQ(modelView[i], expected[i]) << "element " << i;
    }
    GLfloat lineWidth = 0;
    glGetFloatv(GL_LINE_WIDTH, &lineWidth);
    EXPECT_FLOAT_EQ(lineWidth, 2.0f);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLint depthFunc = 0;
    glGetIntegerv(GL_DEPTH_FUNC, &depthFunc);
    EXPECT_EQ(depthFunc, GL_LEQUAL);
}

TEST_F(SceneRenderTest, ResizeToZeroKeepsAFiniteProjection)
{
    ResizeScene(0, 0);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 1);
    EXPECT_EQ(viewport[3], 1);
    GLdouble projection[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    for (double value : projection) {
        EXPECT_TRUE(std::isfinite(value));
    }
    // 45 degrees vertically, aspect 1: the first two diagonal entries are equal.
    EXPECT_NEAR(projection[0], projection[5], 1e-9);
    EXPECT_NEAR(projection[5], 1.0 / std::tan(22.5 * M_PI / 180.0), 1e-6);
}

}  // namespace
