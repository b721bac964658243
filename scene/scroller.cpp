// The greeting scroller: characters to glyph indexes, the eight bobbing slots, and the drawing of the
// glyphs, the two pictures and the frame outline on top of the winter scene.
#include "scene/scene.h"

#include "image/image.h"
#include "platform/gl.h"

#include <cmath>

// Set by LoadGreetingAssets: GreetingText is itself made before main, in another file.
const char* scrollerText = nullptr;
int textCursor = 0;
RgbImage* GlyphTable[GlyphTableSize] = {};
RgbImage* picture1 = nullptr;
RgbImage* picture2 = nullptr;

// Slots start 0.8 apart, slot 0 leftmost, slot 7 just beyond the right edge; the phases rise and fall so the
// band starts as one wave.
static const ScrollerSlot InitialSlots[ScrollerSlotCount] = {
    {-2.19f, 0.0f, 0.0f, nullptr}, {-1.39f, 0.25f, 0.0f, nullptr}, {-0.59f, 0.5f, 0.0f, nullptr},
    {0.21f, 0.75f, 0.0f, nullptr}, {1.01f, 1.0f, 0.0f, nullptr},   {1.81f, 0.75f, 0.0f, nullptr},
    {2.61f, 0.5f, 0.0f, nullptr},  {3.41f, 0.25f, 0.0f, nullptr},
};

ScrollerSlot ScrollerSlots[ScrollerSlotCount] = {
    InitialSlots[0], InitialSlots[1], InitialSlots[2], InitialSlots[3],
    InitialSlots[4], InitialSlots[5], InitialSlots[6], InitialSlots[7],
};

// Where a slot leaves at the left and where it comes back at the right, in the scene frame.
constexpr double SlotLeaveX = -3.19;
constexpr float SlotReturnX = 3.19f;

static bool IsBlankIndex(int index)
{
    switch (index) {
    case 4: case 5: case 6: case 11: case 28: case 30: case 32: case 59: case 61:
        return true;
    default:
        return (index >= 64 && index <= 191) || (index >= 224 && index <= 254);
    }
}

int GlyphIndexOf(unsigned char c)
{
    int index;
    if (c < 0x20) {
        // Control bytes have no place in the table; they show as blanks.
        return BlankGlyph;
    } else if (c >= 'a' && c <= 'z') {
        index = c - 64;
    } else if (c <= 0x7F) {
        index = c - 32;
    } else if (c <= 0xDF) {
        index = c;
    } else {
        index = c - 32;
    }
    return IsBlankIndex(index) ? BlankGlyph : index;
}

int NextScrollerGlyph()
{
    const char* text = scrollerText != nullptr ? scrollerText : "";
    unsigned char c = static_cast<unsigned char>(text[textCursor]);
    // '@' restarts the text; so does its end, so a text without '@' never runs past its terminator.
    if (c == '@' || c == 0) {
        textCursor = 0;
        c = static_cast<unsigned char>(text[0]);
        if (c == 0) {
            // An empty text: nothing to move on to.
            return BlankGlyph;
        }
    }
    int index = GlyphIndexOf(c);
    textCursor++;
    return index;
}

std::string sceneDataFolder = "data/";

std::string SceneDataPath(const char* name)
{
    static const std::string prefix = "data/";
    std::string path = name;
    if (path.compare(0, prefix.size(), prefix) == 0) {
        path.replace(0, prefix.size(), sceneDataFolder);
    }
    return path;
}

static void ReplaceImage(RgbImage*& slot, const char* name)
{
    FreeRgbImage(slot);
    slot = name != nullptr ? LoadDibImage(SceneDataPath(name).c_str()) : nullptr;
}

void LoadGreetingAssets()
{
    scrollerText = ChosenGreetingText();
    textCursor = 0;
    ReplaceImage(picture1, "data/l1.bmp");
    ReplaceImage(picture2, "data/l2.bmp");
    // One load per entry, even where two entries name the same file; a failure has shown its own message.
    for (int index = 0; index < GlyphTableSize; index++) {
        ReplaceImage(GlyphTable[index], GlyphFiles[index]);
    }
    for (ScrollerSlot& slot : ScrollerSlots) {
        slot.glyph = GlyphTable[NextScrollerGlyph()];
    }
}

void StepScroller()
{
    for (ScrollerSlot& slot : ScrollerSlots) {
        slot.x = slot.x - 0.05f;
    }
    for (ScrollerSlot& slot : ScrollerSlots) {
        slot.waveY = static_cast<float>(std::sin(static_cast<double>(slot.phase * 1.7f)));
    }
    for (ScrollerSlot& slot : ScrollerSlots) {
        slot.phase = static_cast<float>(slot.phase + 0.05);
    }
    // In slot order, so the characters come back in text order, one slot every 16 frames.
    for (ScrollerSlot& slot : ScrollerSlots) {
        if (static_cast<double>(slot.x) < SlotLeaveX) {
            slot.x = SlotReturnX;
            slot.glyph = GlyphTable[NextScrollerGlyph()];
        }
    }
}

// Draws an image with its lower-left corner at the current raster position. An image that failed to load
// draws nothing; an invalid raster position (outside the view volume) makes OpenGL skip it whole.
static void DrawImageAtRaster(const RgbImage* image)
{
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelZoom(1.0f, 1.0f);
    if (image != nullptr) {
        glDrawPixels(image->width, image->height, GL_RGB, GL_UNSIGNED_BYTE, image->pixels.data());
    }
}

void DrawGreetingLayer()
{
    glColor3ub(0, 0, 0);
    for (const ScrollerSlot& slot : ScrollerSlots) {
        glRasterPos2d(slot.x, slot.waveY);
        DrawImageAtRaster(slot.glyph);
    }
    glRasterPos2d(-3.19, -2.39);
    DrawImageAtRaster(picture1);
    // A little behind the scene plane, so where the pictures meet the first one stays in front.
    glRasterPos3d(-2.47, -2.43, -0.1);
    DrawImageAtRaster(picture2);

    // The outline, in black and in the line width the snowflakes left (2.0).
    glBegin(GL_LINE_LOOP);
    glVertex3f(-3.2f, 2.4f, 0.0f);
    glVertex3f(3.2f, 2.4f, 0.0f);
    glVertex3f(3.2f, -2.4f, 0.0f);
    glVertex3f(-3.2f, -2.4f, 0.0f);
    glEnd();
}

void DrawGreeting()
{
    StepScroller();
    DrawGreetingLayer();
}

void ResetScrollerState()
{
    for (int i = 0; i < ScrollerSlotCount; i++) {
        ScrollerSlots[i] = InitialSlots[i];
    }
    SetGreetingText("");
    scrollerText = GreetingText;
    sceneDataFolder = "data/";
    textCursor = 0;
}
