// The intro's shell: entry, start-up and shutdown order, the scene window and its rendering context,
// the keyboard state and the frame loop.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <string>
#include <vector>

// Window state kept by the window layer and read by the frame loop (main thread only).
extern bool isActive;       // false while the window is minimised
extern bool isFullscreen;   // whether the display mode was switched for this window
extern bool KeyDown[256];   // indexed by Win32 virtual-key code; true between key down and key up

// The window this run has open (nullptr when closed) and its drawing context, for SwapBuffers.
extern PlatWindow sceneWindow;
extern PlatDeviceContext sceneDeviceContext;

// The pixel-format request, filled on the first opening and reused by every later one.
extern PlatPixelFormat ScenePixelFormat;

bool OpenSceneWindow(const char* title, int width, int height, int colorBits, bool fullscreen);
void CloseSceneWindow();
void ResizeScene(int width, int height);
bool InitSceneState();
intptr_t SceneWindowProc(PlatWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// The intro's music: register the file callbacks and have introSongPath read only once, at its first load, a
// pipe as well as a file (before the window opens); open the audio output, load introSongPath and play it
// (false after writing one line to standard output); stop, free and close.
// The song the intro plays: "data/glimrook.xm", or the one named with --song (main thread).
extern std::string introSongPath;
void PrepareMusic();
bool StartMusic();
void StopMusic();

// Where the intro's data is: the pictures, the glyphs under letters/ and the song. Looked for in this order:
// data/ in the current folder; data/ in the executable's folder and in each folder above it up to the
// repository root (a build's tarnwick in build/shell/ finds the repository's data/ wherever it is started
// from); the installed location <prefix>/share/tarnwick/ beside <prefix>/bin/. Each place ends in '/'; the
// current folder's is "data/" as it is, the others are whole paths.
std::vector<std::string> IntroDataPlaces(const std::string& executablePath);
// Whether a folder holds the intro's data: any of its pictures, its glyph folder or its song, so a single
// missing file keeps its own message while an unrelated folder called data/ is passed over.
bool HoldsIntroData(const std::string& folder);
// Takes the first place that holds the intro's data (PlatExecutablePath tells where the executable is) for
// the scene and the default song. false when none does, with `error` naming the places looked in.
bool FindIntroData(std::string* error);

// The process entry on every system: reads the command line (CLI11), takes a greeting and a song of one's
// own, then runs the intro (IntroMain) or records it (RecordIntro). Without options it is IntroMain alone.
// Exit codes: IntroMain's or RecordIntro's; 1 for a greeting file that cannot be used or no data found; 2 for
// bad usage.
// Errors go to standard error, and into an "ERROR" box where standard error is not seen.
int IntroEntry(int argc, char** argv);

// What --record asks for.
struct RecordOptions {
    std::string path;       // the video file: .mp4 (H.264 + AAC) or .webm (VP9 + Opus)
    int32_t fps = 60;       // pictures per second, 1..120; one animation step each
    int32_t width = 800;    // pixels, even, 160..3840
    int32_t height = 600;   // pixels, even, 120..2160
    double seconds = 0.0;   // length; 0: the song's first pass and a one-second fade
    bool quiet = false;     // no progress bar
};
// Draws the intro without a window and writes it with its song into a video file, which appears only when
// complete. Exit codes: 0 written; 1 the song, the drawing or the file failed (one line on standard error, no
// file); 2 where recording is not built.
int RecordIntro(const RecordOptions& options);
// One error line: "tarnwick: TEXT" on standard error, and an "ERROR" box where standard error is not seen.
void ReportError(const std::string& text);

// The intro's words about a greeting of one's own (the same for --greeting, #greeting= and the studio page):
// why it cannot be used ("the greeting NAME is empty", "... is not UTF-8 text (line N)", "... is larger than
// 64 KB"; empty when it can), and the warning naming the characters shown as blanks (the first 20 and how many
// more; empty when there are none). Without a name they say "the greeting" alone.
struct GreetingConversion;
std::string GreetingErrorText(const GreetingConversion& converted, const std::string& name);
std::string GreetingWarningText(const GreetingConversion& converted, const std::string& name);
// A character as the warning names it: "U+1F384 🎄", the code alone for a control character.
std::string DescribeCharacter(char32_t c);

// ---- The studio page's views of its inputs (shell/studio.cpp) ----------------------------------------------
// The page where one writes a greeting and chooses a song runs the program without its main and asks it,
// through these exports, what the intro would make of the bytes: the intro's own conversion and loader, never
// a copy of them in the page. Each returns a JSON text (UTF-8) that stays valid until the next call of either
// (main thread).

// Songs the studio describes at most, in bytes: the browser's program has a fixed memory of 32 MB, and a song
// is held there several times over while it loads (the file, its kept copy, its samples at 16 bits).
constexpr int32_t StudioMaxSongBytes = 4 * 1024 * 1024;

extern "C" {
// A greeting's UTF-8 bytes as --greeting reads them: {"limit": MaxGreetingBytes, "error": the intro's message
// or "", "warning": the intro's warning or "", "blanked": [each character shown as a blank, once, as the
// warning names it]}. A page with a longer text hands over its first MaxGreetingBytes + 1 bytes: enough to
// be judged too large.
const char* StudioCheckGreeting(const uint8_t* bytes, int32_t size);
// The intro's own greeting as the program carries it (scene/greeting.txt, UTF-8): {"text": ...}.
const char* StudioIntroGreeting();
// A song's bytes through the intro's loader: {"ok": true, "title", "channels", "lengthFrames" (the first pass
// at 44,100 Hz, -1 when it is longer than an hour), "length" (as xmrender --info writes it), "loopOrder"} or
// {"ok": false, "error": why, in xmplay's and xmrender's words, "maxBytes": StudioMaxSongBytes}.
const char* StudioDescribeSong(const uint8_t* bytes, int32_t size);
}

// The whole program: start-up, frame loop, shutdown. Returns the process exit code: 0 after a normal quit,
// 1 when start-up or a fullscreen toggle failed.
int IntroMain();
// Puts the shell's program-wide state back to its start values (for a second run in one process).
void ResetShellState();
