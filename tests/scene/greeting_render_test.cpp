// The greeting layer drawn into a real 800 × 600 OpenGL context (Mesa under Xvfb): where the glyphs, the
// pictures and the outline land on screen, read back with glReadPixels.
#include "image/image.h"
#include "tests/support/scene_frame.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const Rgb Backdrop{125, 167, 217};
const Rgb Black{0, 0, 0};

// Glyph ink is dark navy; nothing else in the band between the lower bar and the glyphs is that dark.
bool IsInk(Rgb c)
{
    return c.r < 80 && c.g < 95 && c.b < 140;
}

std::vector<std::string> boxTexts;

int RecordBox(PlatWindow, const char* text, const char*, unsigned)
{
    boxTexts.push_back(text != nullptr ? text : "");
    return PLAT_IDOK;
}

// A solid test picture, so its pixels can be told from the scene.
RgbImage SolidImage(int width, int height, Rgb colour)
{
    RgbImage image{width, height, {}};
    for (int i = 0; i < width * height; i++) {
        image.pixels.insert(image.pixels.end(), {uint8_t(colour.r), uint8_t(colour.g), uint8_t(colour.b)});
    }
    return image;
}

class GreetingRenderTest : public SceneFrameTest {
protected:
    static void SetUpTestSuite() { OpenSharedWindow(RecordBox); }

    void SetUp() override
    {
        SceneFrameTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        ASSERT_TRUE(fs::exists("data/l1.bmp")) << "run from the repository root (ctest does)";
        ResetScrollerState();
        boxTexts.clear();
        LoadGreetingAssets();
        ASSERT_TRUE(boxTexts.empty()) << boxTexts.front();
    }

    // x from the left, y from the bottom, as OpenGL counts window pixels.
    Rgb At(int x, int y) const { return PixelFromBottom(x, y); }

    // Where a point of the scene frame lands in the window, from the matrices the frame left in force.
    static void Project(double x, double y, double z, double* windowX, double* windowY)
    {
        GLdouble model[16], projection[16];
        GLint viewport[4];
        glGetDoublev(GL_MODELVIEW_MATRIX, model);
        glGetDoublev(GL_PROJECTION_MATRIX, projection);
        glGetIntegerv(GL_VIEWPORT, viewport);
        GLdouble wz;
        gluProject(x, y, z, model, projection, viewport, windowX, windowY, &wz);
    }

    // The bounding box of the pixels near `colour`; false when there are none.
    bool FindColour(Rgb colour, int* left, int* bottom, int* right, int* top) const
    {
        *left = Width;
        *bottom = Height;
        *right = -1;
        *top = -1;
        for (int y = 0; y < Height; y++) {
            for (int x = 0; x < Width; x++) {
                if (Near(At(x, y), colour, 12)) {
                    *left = std::min(*left, x);
                    *right = std::max(*right, x);
                    *bottom = std::min(*bottom, y);
                    *top = std::max(*top, y);
                }
            }
        }
        return *right >= 0;
    }

    // Share of the image's pixels found on screen with its lower-left corner at (x0, y0).
    double MatchAt(const RgbImage& image, int x0, int y0) const
    {
        int matches = 0;
        for (int y = 0; y < image.height; y++) {
            for (int x = 0; x < image.width; x++) {
                const uint8_t* p = &image.pixels[(static_cast<size_t>(y) * image.width + x) * 3];
                if (x0 + x >= 0 && x0 + x < Width && y0 + y >= 0 && y0 + y < Height &&
                    Near(At(x0 + x, y0 + y), Rgb{p[0], p[1], p[2]}, 10)) {
                    matches++;
                }
            }
        }
        return static_cast<double>(matches) / (image.width * image.height);
    }

    // The best-matching placement of an image around an expected corner.
    void BestPlacement(const RgbImage& image, double expectedX, double expectedY, int* x0, int* y0, double* match) const
    {
        *match = -1;
        for (int dy = -2; dy <= 2; dy++) {
            for (int dx = -2; dx <= 2; dx++) {
                int x = static_cast<int>(std::lround(expectedX)) + dx;
                int y = static_cast<int>(std::lround(expectedY)) + dy;
                double m = MatchAt(image, x, y);
                if (m > *match) {
                    *match = m;
                    *x0 = x;
                    *y0 = y;
                }
            }
        }
    }
};


TEST_F(GreetingRenderTest, EachSlotsGlyphHasItsLowerLeftCornerAtTheSlotOnTheWave)
{
    const Rgb colours[ScrollerSlotCount] = {{255, 0, 0},   {0, 255, 0},   {255, 0, 255}, {255, 255, 0},
                                            {0, 255, 255}, {255, 128, 0}, {128, 0, 255}, {0, 128, 0}};
    std::vector<RgbImage> markers;
    for (const Rgb& colour : colours) {
        markers.push_back(SolidImage(24, 20, colour));
    }
    for (int s = 0; s < ScrollerSlotCount; s++) {
        ScrollerSlots[s].glyph = &markers[s];
    }
    auto checkSlots = [&](int expectedVisible) {
        int visible = 0;
        for (int s = 0; s < ScrollerSlotCount; s++) {
            const ScrollerSlot& slot = ScrollerSlots[s];
            double wx, wy;
            Project(slot.x, slot.waveY, 0.0, &wx, &wy);
            int left, bottom, right, top;
            const bool found = FindColour(colours[s], &left, &bottom, &right, &top);
            if (wx < 0 || wx >= Width) {
                // Its raster position is outside the view: OpenGL skips the whole image.
                EXPECT_FALSE(found) << "slot " << s;
                continue;
            }
            ASSERT_TRUE(found) << "slot " << s << " at " << wx << ", " << wy;
            visible++;
            EXPECT_NEAR(left, wx, 1.0) << "slot " << s;
            EXPECT_NEAR(bottom, wy, 1.0) << "slot " << s;
            EXPECT_EQ(right - left + 1, std::min(24, Width - left)) << "slot " << s;
            EXPECT_EQ(top - bottom + 1, 20) << "slot " << s;
            // The wave keeps the lower edges between 29 % and 71 % of the height.
            EXPECT_GE(bottom, 0.29 * Height - 1) << "slot " << s;
            EXPECT_LE(bottom, 0.71 * Height + 1) << "slot " << s;
        }
        EXPECT_EQ(visible, expectedVisible);
    };
    // In the first frame slot 7 is still beyond the right edge; by frame 10 it has come in, cut by the edge.
    // No slot leaves before frame 21, so each still shows its marker.
    DrawFrames(1);
    checkSlots(7);
    DrawFrames(9);
    checkSlots(8);
    for (ScrollerSlot& slot : ScrollerSlots) {
        slot.glyph = nullptr;
    }
}

TEST_F(GreetingRenderTest, PicturesSitInTheLowerLeftCornerAndBesideIt)
{
    DrawFrames(1);
    ASSERT_NE(picture1, nullptr);
    ASSERT_NE(picture2, nullptr);
    double ex, ey;
    int x0, y0;
    double match;

    Project(-3.19, -2.39, 0.0, &ex, &ey);
    BestPlacement(*picture1, ex, ey, &x0, &y0, &match);
    EXPECT_GT(match, 0.95);
    EXPECT_LE(x0, 3);
    EXPECT_LE(y0, 3);

    Project(-2.47, -2.43, -0.1, &ex, &ey);
    BestPlacement(*picture2, ex, ey, &x0, &y0, &match);
    EXPECT_GT(match, 0.95);
    // About 12 % of the width in from the left, on the bottom edge.
    EXPECT_NEAR(x0, 0.12 * Width, 0.01 * Width);
    EXPECT_LE(y0, 3);
}

TEST_F(GreetingRenderTest, TheBlackOutlineRunsJustInsideTheSideEdges)
{
    DrawFrames(1);
    // A row between the lower bar and the glyph band: outline at the very edge, backdrop a little inside.
    // (The top and bottom runs of the outline lie in the black bars.)
    for (int y : {120, 140, 160}) {
        EXPECT_TRUE(Near(At(0, y), Black, 10)) << y;
        EXPECT_TRUE(Near(At(Width - 1, y), Black, 10)) << y;
        EXPECT_TRUE(Near(At(3, y), Backdrop, 10)) << y;
        EXPECT_TRUE(Near(At(Width - 4, y), Backdrop, 10)) << y;
    }
}

TEST_F(GreetingRenderTest, RealGlyphsStayInTheBandAboveTheLowerBar)
{
    // After 400 frames the opening spaces have gone and letters fill the band.
    DrawFrames(400);
    const int bandBottom = static_cast<int>(0.29 * Height) - 1;
    int inkInBand = 0;
    int inkBelowBand = 0;
    for (int y = 0; y < Height; y++) {
        for (int x = 3; x < Width - 3; x++) {
            if (!IsInk(At(x, y))) {
                continue;
            }
            if (y >= bandBottom && y < 0.71 * Height + 72) {
                inkInBand++;
            } else if (y > 100 && y < bandBottom) {
                inkBelowBand++; // above the lower bar, below any glyph's lower edge
            }
        }
    }
    EXPECT_GT(inkInBand, 2000);
    EXPECT_EQ(inkBelowBand, 0);
}

TEST_F(GreetingRenderTest, MissingGlyphsDrawNothingFor300Frames)
{
    const fs::path home = fs::current_path();
    const fs::path scratch = fs::temp_directory_path() / ("tarnwick-render-" + std::to_string(std::random_device{}()));
    fs::create_directories(scratch / "data" / "letters");
    fs::copy_file(home / "data" / "l1.bmp", scratch / "data" / "l1.bmp");
    fs::copy_file(home / "data" / "l2.bmp", scratch / "data" / "l2.bmp");
    fs::current_path(scratch);
    boxTexts.clear();
    ResetScrollerState();
    LoadGreetingAssets();
    fs::current_path(home);
    fs::remove_all(scratch);
    EXPECT_EQ(boxTexts.size(), 88u);

    DrawFrames(300);
    // No glyph ink anywhere in the band; the pictures are still there.
    int ink = 0;
    for (int y = static_cast<int>(0.29 * Height); y < Height - 120; y++) {
        for (int x = 3; x < Width - 3; x++) {
            ink += IsInk(At(x, y)) ? 1 : 0;
        }
    }
    EXPECT_EQ(ink, 0);
    double ex, ey;
    int x0, y0;
    double match;
    Project(-3.19, -2.39, 0.0, &ex, &ey);
    BestPlacement(*picture1, ex, ey, &x0, &y0, &match);
    EXPECT_GT(match, 0.95);
}

} // namespace
