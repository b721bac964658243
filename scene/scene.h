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
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct RgbImage;

// The greeting in Windows-1251, NUL-terminated: scene/greeting.txt, carried in the program as UTF-8 and
// converted with ConvertGreeting before main. It starts with 18 spaces and ends with its only '@'.
extern const char* const GreetingText;

// The text the scroller reads: the chosen greeting (ChosenGreetingText) once LoadGreetingAssets has run,
// nullptr before (main thread).
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

// The glyph index (0 .. 254) of one Windows-1251 byte by the character rule: Latin and Cyrillic lower case
// fold to their capitals; every character without a bitmap of its own, and every byte below 0x20, gives
// BlankGlyph.
int GlyphIndexOf(unsigned char c);

// ---- Greetings as UTF-8 text ----------------------------------------------------------------------------
// One conversion for the built-in greeting and for a greeting of one's own (the intro's --greeting, the
// browser's #greeting=), so the same file gives the same bytes wherever it comes from.

// scene/greeting.txt, byte for byte as the program carries it (UTF-8; made at build time), before its
// conversion into GreetingText.
extern const unsigned char GreetingUtf8[];
extern const size_t GreetingUtf8Size;

// Largest UTF-8 greeting accepted, in bytes.
constexpr size_t MaxGreetingBytes = 64 * 1024;
// Stored for a character that has no Windows-1251 code and for a '@' inside the text: 0x98, the one byte
// Windows-1251 leaves unassigned, which the character rule shows as BlankGlyph.
constexpr unsigned char GreetingBlankByte = 0x98;

enum class GreetingError : int32_t {
    None = 0,
    Empty = 1,     // no bytes, or nothing but line breaks and the end mark
    NotUtf8 = 2,   // a byte sequence that is not UTF-8 (errorLine tells where)
    TooLarge = 3,  // more than MaxGreetingBytes
};

struct GreetingConversion {
    GreetingError error;
    // The scroller's bytes: Windows-1251, no byte below 0x20, ending with its only '@'. Empty on an error.
    std::string text;
    // Every character shown as BlankGlyph (a '@' inside the text among them), each once, in the order they
    // first appear. Empty on an error.
    std::vector<char32_t> blanked;
    // The line (from 1) holding the first byte that is not UTF-8; 0 otherwise.
    int32_t errorLine;
};

// Converts UTF-8 text to the scroller's bytes. Line breaks (LF or CR LF) become spaces and the last one is
// dropped; a byte-order mark at the start is skipped. Latin and the Russian alphabet keep their letters;
// other characters with a Windows-1251 code keep it, the rest (control characters, emoji...) become
// GreetingBlankByte. A '@' at the very end is the text's end mark; a '@' elsewhere becomes
// GreetingBlankByte; a text without the mark gets one.
GreetingConversion ConvertGreeting(const unsigned char* bytes, size_t size);
// Makes a converted greeting (ConvertGreeting's text) the one LoadGreetingAssets gives the scroller; an empty
// text goes back to GreetingText (main thread, before LoadGreetingAssets).
void SetGreetingText(const std::string& text);
// The greeting LoadGreetingAssets gives the scroller: the one set with SetGreetingText, else GreetingText.
const char* ChosenGreetingText();

// The folder the intro's pictures, glyphs and song are read from, ending in '/': "data/" (in the current
// folder) unless the shell found the intro's data elsewhere (main thread, set before LoadGreetingAssets).
extern std::string sceneDataFolder;
// One of the intro's files, named as under "data/" ("data/l1.bmp", a GlyphFiles entry), in sceneDataFolder;
// any other name as it is.
std::string SceneDataPath(const char* name);

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
// Puts the slots, the cursor and the text back to their start values, the built-in greeting and the data
// folder among them (for a second run in one process).
void ResetScrollerState();
