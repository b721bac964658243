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

// Pictures per second a recording may have.
constexpr int32_t MaxRecordFps = 120;

// What --record asks for.
struct RecordOptions {
    std::string path;       // the video file: .mp4 (H.264 + AAC) or .webm (VP9 + Opus)
    int32_t fps = 60;       // pictures per second, 1..120; one animation step each
    int32_t width = 800;    // pixels, even, 160..3840
    int32_t height = 600;   // pixels, even, 120..2160
    double seconds = 0.0;   // length; 0: the song's first pass and a one-second fade
    bool quiet = false;     // no progress bar
};
// Why pictures of this size cannot be recorded ("" when they can): both sides even, 160 to 3840 wide and 120
// to 2160 high.
std::string RecordSizeProblem(int32_t width, int32_t height);
// Draws the intro without a window and writes it with its song into a video file, which appears only when
// complete. Exit codes: 0 written; 1 the song, the drawing or the file failed (one line on standard error, no
// file); 2 where recording is not built.
int RecordIntro(const RecordOptions& options);
// One error line: "tarnwick: TEXT" on standard error, and an "ERROR" box where standard error is not seen.
void ReportError(const std::string& text);
// Reads and converts a greeting file (--greeting) into the scroller; false when it cannot be used, with the
// reason in *error, or reported with ReportError when error is null. Characters without a glyph are named in
// a warning on standard error (and in a box where that is not seen).
bool TakeGreeting(const std::string& path, std::string* error);

// ---- Recording: the steps --record and the browser's video share ------------------------------------------
// One timeline and one way of drawing a picture and taking its sound, so a video made in the browser is the
// one --record makes. Main thread only.

struct Song;

// The rate of a recording's sound: the intro's own.
constexpr int32_t RecordSoundRate = 44100;
// The fade of picture and sound after the song's first pass, in sound frames.
constexpr int64_t RecordFadeFrames = RecordSoundRate;

// What a recording holds, in sound frames at RecordSoundRate and in pictures. Both streams are as long as the
// pictures (pictures / fps): the song's part rounded up to whole pictures, with silence after it, so a low
// picture rate neither gives two lengths nor cuts off any of the song.
struct RecordTimeline {
    int64_t soundFrames;   // length of the song's part, the fade included
    int64_t fadeStart;     // sound frame where the fade begins (= soundFrames: no fade)
    int64_t pictures;      // pictures in the video
    int64_t length;        // sound frames in the file: the pictures' length, >= soundFrames
};

// The song's length as it will be recorded: options.seconds, or the first pass of introSongPath (measured on
// a copy of its own, at most MaxDefaultSeconds, with a line on standard error when it does not end) and the
// fade. false when the song does not load.
bool PlanRecordTimeline(const RecordOptions& options, RecordTimeline* timeline);
// Gain of the fade at sound frame `at`: 1 before the fade, falling in a straight line to 0 at its end.
float RecordFadeGain(const RecordTimeline& timeline, int64_t at);
// The sound frame at which picture n is shown.
int64_t SoundFrameOfPicture(int64_t picture, int32_t fps);

// How a taken picture lies in memory: what --record's encoder reads (RGB, as glReadPixels gives it), or what a
// browser's video frame takes (RGBX: 4 bytes a pixel, the fourth unused, top row first).
enum class PictureLayout : int32_t { RgbBottomFirst = 0, RgbxTopFirst = 1 };
// Bytes per pixel of a layout.
int32_t PictureBytesPerPixel(PictureLayout layout);
// Turns a picture as read back (bottom row first) into the layout's row order and applies the fade's gain
// to its colours (each value rounded to nearest; a gain of 1 leaves them as they are).
void FinishPicture(uint8_t* pixels, int32_t width, int32_t height, PictureLayout layout, float gain);

// A recording under way: the intro drawn without a window, one animation step per picture, and the song
// rendered as xmrender renders it, handed out picture by picture.
struct Recorder {
    RecordOptions options;
    PictureLayout layout = PictureLayout::RgbBottomFirst;
    RecordTimeline timeline{};
    Song* song = nullptr;
    PlatOffscreen offscreen = nullptr;
    bool rendering = false;             // the song's render runs
    uint8_t* picture = nullptr;         // the latest picture: width x height in the layout
    std::vector<int16_t> sound;         // the sound frames that go with it, interleaved stereo (may be none)
    int64_t nextPicture = 0;            // pictures taken so far
    std::vector<int16_t> block;         // the render's current block, interleaved stereo
    int32_t blockAt = 0;                // frames of it already handed out
    int32_t blockFrames = 0;            // frames in it
    int64_t produced = 0;               // sound frames handed out so far
};

// Why a recording could not start.
enum class RecordFailure : int32_t {
    None = 0,
    Song = 1,      // the song does not load (the intro's "Error loading song")
    Drawing = 2,   // no drawing without a window here: the reason says why
    Memory = 3,    // no room for the pictures or the song's render: the reason says which
};
// Starts a recording of the intro with the greeting and song already chosen (LoadGreetingAssets and
// PrepareMusic have run): plans the timeline, loads the song, makes the off-screen picture current, starts the
// scene and the render. On a failure everything is released again and *reason says why (for Drawing and
// Memory).
RecordFailure RecorderOpen(const RecordOptions& options, PictureLayout layout, Recorder* recorder,
                           std::string* reason);
// Takes the next picture (drawn as the frame loop draws it, faded, in the layout) into recorder->picture and
// the sound up to the picture after it into recorder->sound. false, with the reason, when the song's render
// stops; false with no reason after the last picture.
bool RecorderStep(Recorder* recorder, std::string* reason);
// Ends the recording and releases what it holds; harmless twice.
void RecorderClose(Recorder* recorder);

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

// The same steps as plain C functions for a program that drives the intro from outside: the browser's video
// (web/record.js, through the build's export list) calls them picture by picture and encodes what they give.
// Pictures come as RGBX, top row first, as a browser's video frame takes them. Nothing waits for an answer:
// the bitmap loader's messages go to standard error, errors to tw_record_error(). Main thread only.
extern "C" {
// Starts a recording: the greeting read from the file greetingPath as --greeting reads it ("" or null: the
// intro's own), the song from songPath as --song ("" or null: data/glimrook.xm), pictures of width x height
// at fps a second (as --size and --fps take them), `seconds` long (0: the song's first pass and a one-second
// fade; else as --seconds takes it). 1 when it runs; 0 when it cannot, with the reason in tw_record_error().
int tw_record_open(const char* greetingPath, const char* songPath, int width, int height, int fps,
                   double seconds);
// Pictures in the open recording, and its sound frames at RecordSoundRate (the pictures' length).
double tw_record_pictures();
double tw_record_sound_length();
// Takes the next picture and the sound that goes with it: 1, and tw_record_picture and tw_record_sound hold
// them until the next call; 0 after the last picture (tw_record_error() empty) or when the song's render
// stopped (tw_record_error() says so).
int tw_record_step();
// The latest picture: width x height x 4 bytes, red, green, blue and one unused, top row first.
const uint8_t* tw_record_picture();
// The sound frames that go with the latest picture (interleaved stereo, 16-bit, left first), and how many
// (may be 0).
const int16_t* tw_record_sound();
int tw_record_sound_frames();
// Why the latest tw_record_open or tw_record_step failed; empty when it did not.
const char* tw_record_error();
// Ends the recording and releases what it holds; harmless when none is open.
void tw_record_close();
}
