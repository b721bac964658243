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

enum class ModuleFileState { Ok, Missing, Unreadable, NotXm, TooLarge, NoMemory };

struct ModuleHeader {
    ModuleFileState state = ModuleFileState::Missing;
    std::string title;  // the module's name, fit for a terminal; empty when it has none
};

// The path that names standard input.
constexpr char StandardInputPath[] = "-";

// Reads a module file whole, once, into `bytes` ("-": standard input; a pipe like any file), within the
// loader's limit: whether it is there, readable and an XM module, and its title. `bytes` is left empty unless
// the state is Ok.
ModuleHeader ReadModuleFile(const std::string& path, std::vector<uint8_t>* bytes);
// The state (Ok or NotXm) and title of a module file's bytes.
ModuleHeader ReadModuleHeader(const uint8_t* bytes, size_t count);
// Why a file cannot be played, for "cannot load FILE: ..." (loaderRefused: the header was fine but the
// loader refused the rest).
std::string RefusalReason(ModuleFileState state, bool loaderRefused);
// The text with every byte a terminal could take as a control (C0, DEL, and the C1 range in UTF-8 or as
// single bytes) replaced by '?'; printable ASCII and other UTF-8 pass unchanged.
std::string TerminalSafe(const std::string& text);
// The columns a terminal gives UTF-8 text (wcwidth: two for a wide character such as a CJK ideograph, none
// for a combining mark; one for a character it cannot measure or a byte that is no UTF-8).
int DisplayColumns(const std::string& text);
// The text cut to at most `columns` display columns, never inside a UTF-8 sequence nor half a wide character.
std::string FitColumns(const std::string& text, int columns);

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
// per track, and the keys. Every line is cut to width - 1 display columns so that the terminal never wraps
// it, and the area has at most height - 1 lines, so that redrawing it never scrolls the screen: meter rows go
// first (a line "+N tracks" stands for the tracks not shown), then the keys, the position and the times.
std::vector<std::string> FormatStatusArea(const SongView& view, int width, int height);
// The line written for each song when no terminal shows the status area.
std::string FormatSongLine(const SongView& view);

// ---- Keys (terminal.cpp) ----------------------------------------------------------------------------------

enum class PlayerKey { Pause, Next, Previous, Quit };

// How long an Esc at the end of what the terminal gave waits for the rest of its escape sequence before it
// counts as the Esc key.
constexpr int EscapeWaitMs = 50;

// Appends the keys in bytes read from the terminal: space, n, p, q (either case) and Esc. The escape sequences
// of other keys (arrows, function keys) are skipped whole, and so is Alt with a key (Esc and the key): none of
// them quits. Returns the bytes decoded: an Esc or an unfinished escape sequence at the end is left for more
// bytes to complete, unless `atEnd` says that none are coming (a lone Esc is then the Esc key, an unfinished
// sequence is dropped).
size_t DecodeKeys(const uint8_t* bytes, size_t count, bool atEnd, std::vector<PlayerKey>* keys);
// Waits up to timeoutMs for bytes on fd and appends the keys they hold; an Esc at the end of a read waits up
// to EscapeWaitMs more for the rest of its sequence. False when fd has ended (no more keys will come).
bool ReadKeys(int fd, int timeoutMs, std::vector<PlayerKey>* keys);

// ---- The terminal (terminal.cpp) --------------------------------------------------------------------------

// Takes the terminal over: keys unbuffered and unechoed on standard input (when `keys`), the cursor hidden
// (when `statusArea`). Ctrl-C and the other ending signals only ask the player to quit (QuitSignalled); Ctrl-Z
// puts the terminal back before the player stops, and going on takes it again (TerminalContinued); a crash
// signal puts the terminal back before the program dies. TerminalStop (also run at exit) restores everything.
// Returns whether keys are read (not from a terminal whose foreground is another process).
bool TerminalStart(bool keys, bool statusArea);
void TerminalStop();
// Columns and rows of the terminal on standard output (80 and 24 when it cannot tell).
int TerminalWidth();
int TerminalHeight();
// Waits up to timeoutMs for keys (just waits when none are read) and appends those pressed.
void WaitForKeys(int timeoutMs, std::vector<PlayerKey>* keys);
// The ending signal that has come (SIGINT for Ctrl-C, SIGTERM, SIGHUP, SIGQUIT), or 0.
int QuitSignalled();
// Ends the process by the signal itself, after the terminal has been put back: the shell sees the signal
// (status 130 after Ctrl-C, 143 after SIGTERM), so a loop over files ends on one Ctrl-C.
[[noreturn]] void EndBySignal(int signalNumber);
// The player has gone on after a stop (Ctrl-Z and fg) since the last call: draw the status area anew.
bool TerminalContinued();

// The status area on standard output, redrawn in place: the cursor goes back up over the lines drawn last.
struct StatusArea {
    int drawnLines = 0;
};
// Draws the lines (each narrower than the terminal, fewer than its rows) with auto-wrap off.
void DrawStatusArea(StatusArea* area, const std::vector<std::string>& lines);
// Clears the area (a message is then written where it was, and the next draw starts below it).
void EraseStatusArea(StatusArea* area);
