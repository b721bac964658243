// LoadGreetingAssets against the real data/ folder and against a folder whose glyphs are all missing;
// message boxes are recorded by the platform's test stand-in.
#include "image/image.h"
#include "platform/fake/fake_platform.h"
#include "scene/scene.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int BackdropRed = 125, BackdropGreen = 167, BackdropBlue = 217;

class GreetingAssetsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakePlatformReset();
        ResetScrollerState();
        home = fs::current_path();
        if (!fs::exists("data/letters/free.bmp")) {
            GTEST_SKIP() << "run from the repository root (ctest does): data/ not found in " << home;
        }
    }
    void TearDown() override
    {
        fs::current_path(home);
        if (!scratch.empty()) {
            fs::remove_all(scratch);
        }
        ResetScrollerState();
    }
    fs::path home;
    fs::path scratch;
};

TEST_F(GreetingAssetsTest, RealDataLoadsEveryEntryWithoutAMessage)
{
    LoadGreetingAssets();
    EXPECT_TRUE(fakePlatform.boxes.empty()) << fakePlatform.boxes.front().text;
    ASSERT_NE(picture1, nullptr);
    ASSERT_NE(picture2, nullptr);

    std::set<const RgbImage*> distinct;
    int height = -1;
    for (int index = 0; index < GlyphTableSize; index++) {
        const RgbImage* glyph = GlyphTable[index];
        if (GlyphFiles[index] == nullptr) {
            EXPECT_EQ(glyph, nullptr) << index;
            continue;
        }
        ASSERT_NE(glyph, nullptr) << GlyphFiles[index];
        // Each entry is an image of its own, even where two entries share a file.
        EXPECT_TRUE(distinct.insert(glyph).second) << GlyphFiles[index];
        // Every glyph has the same height, and none is wider than two slots' distance in the small window.
        if (height < 0) {
            height = glyph->height;
        }
        EXPECT_EQ(glyph->height, height) << GlyphFiles[index];
        EXPECT_GT(glyph->width, 0) << GlyphFiles[index];
        EXPECT_LE(glyph->width, 72) << GlyphFiles[index];
        // The glyph's corners are the backdrop's colour, so the cell does not show against it.
        const uint8_t* corner = glyph->pixels.data();
        EXPECT_EQ(corner[0], BackdropRed) << GlyphFiles[index];
        EXPECT_EQ(corner[1], BackdropGreen) << GlyphFiles[index];
        EXPECT_EQ(corner[2], BackdropBlue) << GlyphFiles[index];
    }
    EXPECT_GE(height, 56);
    EXPECT_LE(height, 72);
    // A space and a character without a glyph come from different files.
    EXPECT_NE(GlyphTable[0]->width * 1000 + GlyphTable[0]->height,
              GlyphTable[BlankGlyph]->width * 1000 + GlyphTable[BlankGlyph]->height);

    // The pictures fit the lower bar, and the first one ends before the second begins (about 97 pixels
    // from the left at 800 × 600).
    EXPECT_LT(picture1->width, 96);
    EXPECT_LE(picture1->height, 93);
    EXPECT_LE(picture2->height, 93);

    // The slots hold the first eight characters (the opening spaces) and the cursor waits at position 8.
    for (const ScrollerSlot& slot : ScrollerSlots) {
        EXPECT_EQ(slot.glyph, GlyphTable[0]);
    }
    EXPECT_EQ(textCursor, 8);
    EXPECT_EQ(scrollerText, GreetingText);
}

TEST_F(GreetingAssetsTest, EveryMissingGlyphGivesItsOneMessageAndTheScrollerStillRuns)
{
    scratch = fs::temp_directory_path() / ("tarnwick-greeting-" + std::to_string(std::random_device{}()));
    fs::create_directories(scratch / "data" / "letters");
    fs::copy_file(home / "data" / "l1.bmp", scratch / "data" / "l1.bmp");
    fs::copy_file(home / "data" / "l2.bmp", scratch / "data" / "l2.bmp");
    fs::current_path(scratch);

    LoadGreetingAssets();

    // One "Failed to open" box per table entry, in ascending index order, and none for the pictures.
    std::vector<std::string> expected;
    for (int index = 0; index < GlyphTableSize; index++) {
        if (GlyphFiles[index] != nullptr) {
            expected.push_back(std::string("Failed to open DIB file ") + GlyphFiles[index] + ".\n");
        }
    }
    ASSERT_EQ(fakePlatform.boxes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); i++) {
        EXPECT_EQ(fakePlatform.boxes[i].text, expected[i]);
        EXPECT_EQ(fakePlatform.boxes[i].caption, "Error");
    }
    EXPECT_NE(picture1, nullptr);
    EXPECT_NE(picture2, nullptr);
    for (int index = 0; index < GlyphTableSize; index++) {
        EXPECT_EQ(GlyphTable[index], nullptr);
    }

    // The slots carry on with empty glyphs: refills read on through the text.
    for (int frame = 0; frame < 300; frame++) {
        StepScroller();
    }
    for (const ScrollerSlot& slot : ScrollerSlots) {
        EXPECT_EQ(slot.glyph, nullptr);
    }
    EXPECT_EQ(textCursor, 8 + 18); // refills in frames 21, 37, ..., 293
}

} // namespace
