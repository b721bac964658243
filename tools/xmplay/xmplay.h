// xmplay's pieces: the module file's header as shown to the listener, the status area and the one-line
// report, the keys, and the terminal it runs on. main.cpp plays the files; the rest is here so it can be
// tested on its own.
#pragma once

#include "sound/sound.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---- The module file (status.cpp) ------------------------------------------------------------------------

enum class ModuleFileState { Ok, Missing, Unreadable, NotXm };

struct ModuleHeader {
    ModuleFileState state = ModuleFileState::Missing;
    std::string title;  // the module's name, fit for a terminal; empty when it has none
};

// Reads the first bytes of a module file: whether it is there, readable and an XM module, and its title.
ModuleHeader ReadModuleHeader(const std::string& path);
// Why a file cannot be played, for "cannot load FILE: ..." (loaderRefused: the header was fine but the
// loader refused the rest).
std::string RefusalReason(ModuleFileState state, bool loaderRefused);
// The text with every byte a terminal could take as a control (C0, DEL, and the C1 range in UTF-8 or as
// single bytes) replaced by '?'; printable ASCII and other UTF-8 pass unchanged.
std::string TerminalSafe(const std::string& text);

// ---- What is shown (status.cpp) ---------------------------------------------------------------------------

// Everything the status area and the one-line report show of the song playing (main thread).
struct SongView {
    std::string fileName;    // as given on the command line
    std::string title;       // ModuleHeader::title
    int32_t index = 0;       // 0-based position among the files
    int32_t fileCount = 0;
    int32_t rate = 44100;    // output frames per second
    int64_t totalFrames = -1;  // where play stops (the song's end or --seconds); -1 unknown or never
    int64_t songFrames = -1;   // the song's own length up to its jump back; -1 unknown
    bool paused = false;
    bool keys = false;         // the keys work (a terminal is reading them): show their help line
    int32_t orderCount = 0;
    int32_t rowCount = 0;      // rows of the pattern playing, 0 unknown
    bool haveStatus = false;   // `status` holds a snapshot
    SndPlayStatus status{};
};

// The status area: the file and title, the times with a progress bar, the position and tempo, a level meter
// per track, and the keys. Every line is cut to width - 1 columns so that the terminal never wraps it.
std::vector<std::string> FormatStatusArea(const SongView& view, int width);
// The line written for each song when no terminal shows the status area.
std::string FormatSongLine(const SongView& view);

// ---- Keys (terminal.cpp) ----------------------------------------------------------------------------------

enum class PlayerKey { Pause, Next, Previous, Quit };

// The keys in bytes read from the terminal: space, n, p, q (either case) and a lone Esc. The escape
// sequences of other keys (arrows, function keys) are skipped whole, so their Esc does not quit.
std::vector<PlayerKey> DecodeKeys(const uint8_t* bytes, size_t count);

// ---- The terminal (terminal.cpp) --------------------------------------------------------------------------

// Takes the terminal over: keys unbuffered and unechoed on standard input (when `keys`), the cursor hidden
// (when `statusArea`). Ctrl-C and the other ending signals only ask the player to quit; a crash signal puts
// the terminal back before the program dies. TerminalStop (also run at exit) restores everything. Returns
// whether keys are read (not from a terminal whose foreground is another process).
bool TerminalStart(bool keys, bool statusArea);
void TerminalStop();
// Columns of the terminal on standard output (80 when it cannot tell).
int TerminalWidth();
// Waits up to timeoutMs for keys (just waits when none are read) and appends those pressed.
void WaitForKeys(int timeoutMs, std::vector<PlayerKey>* keys);
// An ending signal (Ctrl-C, SIGTERM, SIGHUP, SIGQUIT) has come.
bool QuitSignalled();

// The status area on standard output, redrawn in place: the cursor goes back up over the lines drawn last.
struct StatusArea {
    int drawnLines = 0;
};
void DrawStatusArea(StatusArea* area, const std::vector<std::string>& lines);
// Clears the area (a message is then written where it was, and the next draw starts below it).
void EraseStatusArea(StatusArea* area);
