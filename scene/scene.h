// The scene drawn every frame: backdrop, letterbox bars, the spinning triangle tree and the snowflakes.
#pragma once

// Animation angle of the tree and the snowflakes; +0.05 after every drawn frame, never wrapped (main thread).
extern float treeAngle;

// Draws one complete frame into the back buffer and advances the scene's animation. Always true.
bool DrawScene();
void DrawTree(float angle);
void DrawTreeTriangle(float angle, float x, float y, float z);
void DrawSnowflake(float x, float y, float z, float angle);

// ---- The greeting scroller, the two pictures and the frame outline ----------------------------------------
// A compiled-in greeting runs right to left through eight bobbing slots, one bitmap per character; two
// pictures sit at the bottom left and a black outline runs along the window's edges. All of it is drawn from
// client memory with glDrawPixels, so a new rendering context (after F1) needs nothing reloaded.

#include <array>

struct RgbImage;

// The greeting in Windows-1251, NUL-terminated; made at build time from scene/greeting.txt. It starts with
// 18 spaces and ends with its only '@'.
extern const char GreetingText[];

// The text the scroller reads: GreetingText once LoadGreetingAssets has run (main thread).
extern const char* scrollerText;
// Byte position in scrollerText of the next character to show (main thread).
extern int textCursor;

constexpr int GlyphTableSize = 255;
// The glyph of every character that has no bitmap of its own.
constexpr int BlankGlyph = 254;
// Glyph bitmaps by glyph index; nullptr where the character rule never points or the file failed to load
// (main thread, kept for the whole run).
extern RgbImage* GlyphTable[GlyphTableSize];
// The file each glyph index loads, under "data/letters/"; nullptr for the indexes the rule never selects.
extern const std::array<const char*, GlyphTableSize> GlyphFiles;

// One place in the scroller band.
struct ScrollerSlot {
    float x;               // horizontal raster position in the scene frame (units of the plane at z = -5.8)
    float phase;           // wave phase, +0.05 per frame
    float waveY;           // vertical raster position, sin(phase · 1.7)
    const RgbImage* glyph; // the character shown, an entry of GlyphTable (may be nullptr)
};
constexpr int ScrollerSlotCount = 8;
extern ScrollerSlot ScrollerSlots[ScrollerSlotCount]; // main thread

// "data/l1.bmp" at the lower-left corner and "data/l2.bmp" beside it; nullptr if the file failed to load.
extern RgbImage* picture1;
extern RgbImage* picture2;

// Start-up step 1: loads both pictures and every glyph of the table (each failure shows the loader's one
// message and leaves its entry empty), then fills the eight slots from the first eight characters.
void LoadGreetingAssets();
// The glyph index (0 .. 254) of the character at textCursor, which then moves on by one. '@' or the
// terminating NUL sends the cursor back to 0 first; other bytes below 0x20 give BlankGlyph.
int NextScrollerGlyph();
// One frame of scroller motion: slots move left, bob, and come back at the right with the next character.
void StepScroller();
// Draws the slots' glyphs, both pictures and the frame outline, in the scene frame DrawTree left in force.
void DrawGreetingLayer();
// StepScroller then DrawGreetingLayer: what DrawScene does after advancing the tree.
void DrawGreeting();
// Puts the slots, the cursor and the text back to their start values (for a second run in one process).
void ResetScrollerState();
