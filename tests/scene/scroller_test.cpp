// The scroller's character rule, its wrap-around, the slot timeline and the compiled-in greeting, driven
// through the real operations without a rendering context.
#include "image/image.h"
#include "scene/scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

// One row of the glyph table as the intro documents it: the bytes that select an index and its file.
struct ExpectedGlyph {
    std::vector<int> bytes;
    int index;
    std::string file;
};

std::vector<ExpectedGlyph> ExpectedGlyphs()
{
    std::vector<ExpectedGlyph> rows = {
        {{' '}, 0, "free.bmp"},      {{'!'}, 1, "!.bmp"},     {{'"'}, 2, "'.bmp"},
        {{'#'}, 3, "#.bmp"},         {{'\''}, 7, "'.bmp"},    {{'('}, 8, "(.bmp"},
        {{')'}, 9, ").bmp"},         {{'*'}, 10, "star.bmp"}, {{','}, 12, ",.bmp"},
        {{'-'}, 13, "__.bmp"},       {{'.'}, 14, "pix.bmp"},  {{'/'}, 15, "slash.bmp"},
        {{':'}, 26, "pixpix.bmp"},   {{';'}, 27, ";.bmp"},    {{'='}, 29, "=.bmp"},
        {{'?'}, 31, "question.bmp"}, {{'\\'}, 60, "bslash.bmp"}, {{'^'}, 62, "^.bmp"},
        {{'_'}, 63, "_.bmp"},
    };
    for (int digit = 0; digit < 10; digit++) {
        rows.push_back({{'0' + digit}, 16 + digit, std::to_string(digit) + ".bmp"});
    }
    for (int letter = 0; letter < 26; letter++) {
        rows.push_back({{'A' + letter, 'a' + letter}, 33 + letter, std::string(1, char('a' + letter)) + ".bmp"});
    }
    // Windows-1251 А .. Я (0xC0 ..) and а .. я (0xE0 ..).
    const char* const cyrillic[32] = {
        "a", "b_rus", "b", "g_rus", "d_rus", "e", "zh_rus", "z_rus", "i_rus", "ikr_rus", "k",
        "l_rus", "m", "h", "o", "p_rus", "p", "c", "t", "u_rus", "f_rus", "x", "c_rus", "ch_rus",
        "sh_rus", "sch_rus", "tzn_rus", "ii_rus", "mzn_rus", "ee_rus", "yu_rus", "ya_rus",
    };
    for (int letter = 0; letter < 32; letter++) {
        rows.push_back({{0xC0 + letter, 0xE0 + letter}, 192 + letter, std::string(cyrillic[letter]) + ".bmp"});
    }
    return rows;
}

// Reads one glyph index from a text of its own, as the scroller would from the greeting.
int GlyphOfText(const char* text, int cursor = 0)
{
    scrollerText = text;
    textCursor = cursor;
    return NextScrollerGlyph();
}

class ScrollerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetScrollerState();
        for (int i = 0; i < GlyphTableSize; i++) {
            saved[i] = GlyphTable[i];
            GlyphTable[i] = &sentinels[i];
        }
    }
    void TearDown() override
    {
        for (int i = 0; i < GlyphTableSize; i++) {
            GlyphTable[i] = saved[i];
        }
        ResetScrollerState();
    }
    // Stand-ins for the glyph bitmaps, so a slot's glyph tells which index it was given.
    RgbImage sentinels[GlyphTableSize] = {};
    RgbImage* saved[GlyphTableSize] = {};
};

TEST(GlyphRule, EveryByteValueGivesItsDocumentedGlyph)
{
    int expectedIndex[256];
    std::string expectedFile[256];
    for (int c = 0; c < 256; c++) {
        expectedIndex[c] = BlankGlyph;
        expectedFile[c] = "space.bmp";
    }
    for (const ExpectedGlyph& row : ExpectedGlyphs()) {
        for (int c : row.bytes) {
            expectedIndex[c] = row.index;
            expectedFile[c] = row.file;
        }
    }
    for (int c = 0; c < 256; c++) {
        const char text[2] = {static_cast<char>(c), 0};
        int index = GlyphOfText(text);
        ASSERT_GE(index, 0) << "byte " << c;
        ASSERT_LT(index, GlyphTableSize) << "byte " << c;
        EXPECT_EQ(index, expectedIndex[c]) << "byte " << c;
        ASSERT_NE(GlyphFiles[index], nullptr) << "byte " << c;
        EXPECT_EQ(std::string(GlyphFiles[index]), "data/letters/" + expectedFile[c]) << "byte " << c;
        // Every byte moves the cursor on by one, except the terminator of an empty text.
        EXPECT_EQ(textCursor, c == 0 ? 0 : 1) << "byte " << c;
    }
    // Spot checks that the rows above cannot hide: Ё, ё and the characters the greeting must avoid.
    for (int c : {0xA8, 0xB8, int('$'), int('%'), int('&'), int('+'), int('<'), int('>'), int('['), int(']'),
                  int('`'), int('{'), int('|'), int('}'), int('~'), 0x7F, 0x80, 0xBF}) {
        const char text[2] = {static_cast<char>(c), 0};
        EXPECT_EQ(GlyphOfText(text), BlankGlyph) << "byte " << c;
    }
    ResetScrollerState();
}

TEST(GlyphRule, OnlyTheDocumentedIndexesHaveFiles)
{
    int withFile = 0;
    for (int index = 0; index < GlyphTableSize; index++) {
        withFile += GlyphFiles[index] != nullptr ? 1 : 0;
    }
    EXPECT_EQ(withFile, 88);
    EXPECT_STRNE(GlyphFiles[0], GlyphFiles[BlankGlyph]);
}

TEST(GlyphRule, TextWrapsAtAtSignAndAtItsEnd)
{
    // '@' first: read as a blank, the cursor moves on to position 1.
    EXPECT_EQ(GlyphOfText("@AB"), BlankGlyph);
    EXPECT_EQ(textCursor, 1);
    EXPECT_EQ(NextScrollerGlyph(), 33);
    EXPECT_EQ(textCursor, 2);

    // '@' last: after it the character at position 0 is shown and the cursor is 1.
    EXPECT_EQ(GlyphOfText("AB@", 2), 33);
    EXPECT_EQ(textCursor, 1);

    // A NUL is treated like '@', so a text without one never runs past its end.
    EXPECT_EQ(GlyphOfText("AB", 2), 33);
    EXPECT_EQ(textCursor, 1);
    // An empty text keeps showing blanks without moving.
    EXPECT_EQ(GlyphOfText(""), BlankGlyph);
    EXPECT_EQ(NextScrollerGlyph(), BlankGlyph);
    EXPECT_EQ(textCursor, 0);
    // Control bytes show as blanks and are stepped over.
    EXPECT_EQ(GlyphOfText("\x01\x1F" "A"), BlankGlyph);
    EXPECT_EQ(NextScrollerGlyph(), BlankGlyph);
    EXPECT_EQ(NextScrollerGlyph(), 33);
    ResetScrollerState();
}

TEST_F(ScrollerTest, SlotsComeBackEverySixteenFramesInSlotOrderReadingTheTextOnward)
{
    // The glyph each text position gives (the text repeats after its '@' at position 25).
    static const char text[] = "ABCDEFGHIJKLMNOPQRSTUVWXY@";
    scrollerText = text;
    textCursor = 8; // as LoadGreetingAssets leaves it after filling the eight slots

    struct Refill {
        int frame;
        int slot;
        const RgbImage* glyph;
    };
    std::vector<Refill> refills;
    float lastX[ScrollerSlotCount];
    float lastPhase[ScrollerSlotCount];
    const int frames = 21 + 128 * 3;
    for (int frame = 1; frame <= frames; frame++) {
        for (int s = 0; s < ScrollerSlotCount; s++) {
            lastX[s] = ScrollerSlots[s].x;
            lastPhase[s] = ScrollerSlots[s].phase;
        }
        StepScroller();
        for (int s = 0; s < ScrollerSlotCount; s++) {
            const ScrollerSlot& slot = ScrollerSlots[s];
            // The wave is taken from the phase before this frame's step, and the phase never restarts.
            EXPECT_FLOAT_EQ(slot.waveY, std::sin(lastPhase[s] * 1.7f));
            EXPECT_NEAR(slot.phase - lastPhase[s], 0.05f, 1e-5f);
            if (slot.x > lastX[s]) {
                EXPECT_EQ(slot.x, 3.19f);
                refills.push_back({frame, s, slot.glyph});
            } else {
                EXPECT_FLOAT_EQ(slot.x, lastX[s] - 0.05f);
            }
        }
    }

    // Slot 0 first in frame 21 (reading position 8), then one slot every 16 frames in slot order, each
    // slot every 128 frames.
    ASSERT_GE(refills.size(), 24u);
    int position = 8;
    for (size_t i = 0; i < refills.size(); i++) {
        EXPECT_EQ(refills[i].frame, 21 + 16 * static_cast<int>(i)) << "refill " << i;
        EXPECT_EQ(refills[i].slot, static_cast<int>(i % ScrollerSlotCount)) << "refill " << i;
        if (text[position] == '@') {
            position = 0;
        }
        const int expectedIndex = 33 + (text[position] - 'A');
        EXPECT_EQ(refills[i].glyph, &sentinels[expectedIndex]) << "refill " << i << " position " << position;
        position++;
    }
}

TEST_F(ScrollerTest, ResetPutsTheSlotsBackToTheirStartingBand)
{
    for (int frame = 0; frame < 50; frame++) {
        StepScroller();
    }
    ResetScrollerState();
    const float startX[ScrollerSlotCount] = {-2.19f, -1.39f, -0.59f, 0.21f, 1.01f, 1.81f, 2.61f, 3.41f};
    const float startPhase[ScrollerSlotCount] = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f, 0.75f, 0.5f, 0.25f};
    for (int s = 0; s < ScrollerSlotCount; s++) {
        EXPECT_EQ(ScrollerSlots[s].x, startX[s]);
        EXPECT_EQ(ScrollerSlots[s].phase, startPhase[s]);
    }
    EXPECT_EQ(textCursor, 0);
    EXPECT_EQ(scrollerText, GreetingText);
}

TEST(GreetingText, FollowsTheRulesOfTheScroller)
{
    const size_t length = std::strlen(GreetingText);
    // A few thousand characters: at one character per 16 frames the scroll lasts several minutes.
    EXPECT_GE(length, 2000u);
    EXPECT_LE(length, 20000u);
    ASSERT_GT(length, 19u);
    EXPECT_EQ(std::string(GreetingText, 18), std::string(18, ' '));
    EXPECT_NE(GreetingText[18], ' ');
    EXPECT_EQ(GreetingText[length - 1], '@');
    EXPECT_EQ(std::strchr(GreetingText, '@'), GreetingText + length - 1);

    bool latin = false;
    bool cyrillic = false;
    scrollerText = GreetingText;
    textCursor = 0;
    for (size_t i = 0; i + 1 < length; i++) {
        const unsigned char c = static_cast<unsigned char>(GreetingText[i]);
        EXPECT_GE(c, 0x20) << "position " << i;
        latin = latin || (c >= 'a' && c <= 'z');
        cyrillic = cyrillic || c >= 0xC0;
        // Written only with characters that have a bitmap of their own.
        EXPECT_NE(NextScrollerGlyph(), BlankGlyph) << "position " << i << " byte " << int(c);
    }
    EXPECT_TRUE(latin);
    EXPECT_TRUE(cyrillic);
    // The '@' at the end sends the scroller back to the opening spaces.
    EXPECT_EQ(NextScrollerGlyph(), 0);
    EXPECT_EQ(textCursor, 1);
    ResetScrollerState();
}

} // namespace
