// The terminal xmplay runs on: keys read one at a time without echo, the status area redrawn in place, and
// the terminal put back as it was on every way out: a normal end, q or Esc, Ctrl-C and the other ending
// signals (which ask the player to stop: it ends the normal way, puts the terminal back and then dies of the
// signal, so that a shell sees it), Ctrl-Z (the terminal is put back before the player stops, and taken again
// when it goes on), and a crash, whose signal handler restores the terminal with async-signal-safe calls
// before the program dies of it.
#include "tools/xmplay/xmplay.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Signals that end the player the normal way, and those that mean it has crashed.
constexpr int QuitSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int CrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr char ShowCursor[] = "\x1b[?25h";
constexpr char HideCursor[] = "\x1b[?25l";
// The status area is drawn with auto-wrap off: a line the terminal measures wider than we do is cut at the
// margin instead of pushing the area down a row.
constexpr char WrapOff[] = "\x1b[?7l";
constexpr char WrapOn[] = "\x1b[?7h";
// What a terminal left by the player gets: the cursor and auto-wrap back.
constexpr char RestoreScreen[] = "\x1b[?25h\x1b[?7h";

// An escape sequence longer than this is no key's: what was held back of it is dropped.
constexpr size_t LongestKeySequence = 32;

// The terminal's settings before the player changed them (main thread writes them before rawKeys is set, and
// the continue handler after a stop; the crash and stop handlers read them on whichever thread the signal
// lands).
termios savedSettings{};
// Flags the signal handlers read or write, on whichever thread the signal lands (lock-free atomics, which a
// handler may use).
std::atomic<int> rawKeys{0};       // the player took the keys: savedSettings is valid and is put back at the end
std::atomic<int> cursorHidden{0};  // the status area keeps the cursor hidden
std::atomic<int> quitSignal{0};    // the ending signal that came (SIGINT, SIGTERM...), 0 none
std::atomic<int> continued{0};     // the player went on after a stop: the status area is to be drawn anew
static_assert(std::atomic<int>::is_always_lock_free, "signal handlers need lock-free flags");
bool keysAtEnd = false;                  // standard input has ended (main thread)
bool handlersInstalled = false;          // (main thread)

void WriteRaw(const char* text, size_t size)
{
    ssize_t ignored = write(STDOUT_FILENO, text, size);
    (void)ignored;
}

// The terminal as it was before the player: line mode and echo, the cursor shown, auto-wrap on.
// Async-signal-safe.
void PutTerminalBack()
{
    if (rawKeys != 0) {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedSettings);
    }
    if (cursorHidden != 0) {
        WriteRaw(RestoreScreen, sizeof RestoreScreen - 1);
    }
}

// The player's mode: keys unbuffered and unechoed. Async-signal-safe.
bool TakeKeys()
{
    termios settings = savedSettings;
    settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    return tcsetattr(STDIN_FILENO, TCSANOW, &settings) == 0;
}

void OnQuitSignal(int signalNumber)
{
    quitSignal = signalNumber;
}

void OnCrashSignal(int signalNumber)
{
    bool statusArea = cursorHidden != 0;
    PutTerminalBack();
    if (statusArea) {
        // The shell's prompt on a line of its own, below the area.
        WriteRaw("\r\n", 2);
    }
    // Dies of the signal as it would have without the handler (the signal is raised again on return).
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

// Going on after a stop (Ctrl-Z and fg, or SIGSTOP and SIGCONT): the shell has had the terminal in its own
// mode, so the player takes its mode again over whatever the shell left (which is what the end puts back),
// hides the cursor again, and has the status area drawn anew below what the shell wrote. Only in the
// terminal's foreground: from the background, changing the settings would stop the player again.
void OnContinueSignal(int)
{
    int savedErrno = errno;
    if (tcgetpgrp(STDIN_FILENO) == getpgrp()) {
        termios now{};
        if (rawKeys != 0 && tcgetattr(STDIN_FILENO, &now) == 0 && (now.c_lflag & (ICANON | ECHO)) != 0) {
            savedSettings = now;
            TakeKeys();
        }
        if (cursorHidden != 0) {
            WriteRaw(HideCursor, sizeof HideCursor - 1);
        }
    }
    continued = 1;
    errno = savedErrno;
}

void InstallStopHandler();

// Ctrl-Z or a SIGTSTP: the terminal goes back to the shell as it was, then the player stops as the signal's
// own action would stop it, and goes on here after SIGCONT (whose handler takes the terminal again). Where
// the stop does not happen (a process group that no shell controls any more) the terminal is taken again at
// once.
void OnStopSignal(int)
{
    int savedErrno = errno;
    PutTerminalBack();
    signal(SIGTSTP, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
    raise(SIGTSTP);
    InstallStopHandler();
    OnContinueSignal(SIGCONT);
    errno = savedErrno;
}

void InstallStopHandler()
{
    struct sigaction stop{};
    stop.sa_handler = OnStopSignal;
    sigemptyset(&stop.sa_mask);
    // Restarted: a write of the status area that the stop interrupts goes on whole afterwards.
    stop.sa_flags = SA_RESTART;
    sigaction(SIGTSTP, &stop, nullptr);
}

void InstallHandlers()
{
    if (handlersInstalled) {
        return;
    }
    handlersInstalled = true;
    struct sigaction quit{};
    quit.sa_handler = OnQuitSignal;
    sigemptyset(&quit.sa_mask);
    quit.sa_flags = 0;  // no restart: the main loop's wait ends at once
    for (int s : QuitSignals) {
        sigaction(s, &quit, nullptr);
    }
    struct sigaction crash{};
    crash.sa_handler = OnCrashSignal;
    sigemptyset(&crash.sa_mask);
    crash.sa_flags = 0;
    for (int s : CrashSignals) {
        sigaction(s, &crash, nullptr);
    }
    InstallStopHandler();
    struct sigaction resume{};
    resume.sa_handler = OnContinueSignal;
    sigemptyset(&resume.sa_mask);
    resume.sa_flags = SA_RESTART;
    sigaction(SIGCONT, &resume, nullptr);
    // A status line to a reader that has gone away must not end the player with the terminal in its mode.
    signal(SIGPIPE, SIG_IGN);
    std::atexit(TerminalStop);
}

void WriteOut(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// The bytes of an escape sequence that starts at bytes[i] (an Esc): 0 when it may not be complete yet.
// CSI ("Esc [", parameters, a final byte 0x40..0x7E), SS3 ("Esc O" and one key byte), Alt with a key ("Esc" and
// the key); an Esc followed by another Esc is the Esc key itself (1).
size_t SequenceLength(const uint8_t* bytes, size_t count, size_t i)
{
    if (i + 1 >= count) {
        return 0;
    }
    uint8_t next = bytes[i + 1];
    if (next == 0x1B) {
        return 1;
    }
    if (next == '[') {
        for (size_t k = i + 2; k < count; k++) {
            if (bytes[k] >= 0x40 && bytes[k] <= 0x7E) {
                return k + 1 - i;
            }
        }
        return 0;
    }
    if (next == 'O') {
        return i + 2 < count ? 3 : 0;
    }
    return 2;
}

}  // namespace

size_t DecodeKeys(const uint8_t* bytes, size_t count, bool atEnd, std::vector<PlayerKey>* keys)
{
    size_t i = 0;
    while (i < count) {
        uint8_t c = bytes[i];
        if (c == 0x1B) {
            size_t length = SequenceLength(bytes, count, i);
            if (length == 0) {
                if (!atEnd) {
                    return i;  // the rest may still come
                }
                // Nothing more came: a lone Esc is the key; an unfinished sequence is dropped.
                if (i + 1 == count) {
                    keys->push_back(PlayerKey::Quit);
                }
                return count;
            }
            if (length == 1) {
                keys->push_back(PlayerKey::Quit);
            }
            i += length;
            continue;
        }
        switch (c) {
        case ' ':
            keys->push_back(PlayerKey::Pause);
            break;
        case 'n':
        case 'N':
            keys->push_back(PlayerKey::Next);
            break;
        case 'p':
        case 'P':
            keys->push_back(PlayerKey::Previous);
            break;
        case 'q':
        case 'Q':
            keys->push_back(PlayerKey::Quit);
            break;
        default:
            break;
        }
        i++;
    }
    return count;
}

bool ReadKeys(int fd, int timeoutMs, std::vector<PlayerKey>* keys)
{
    pollfd input{fd, POLLIN, 0};
    if (poll(&input, 1, timeoutMs) <= 0 || (input.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
        return true;
    }
    std::vector<uint8_t> bytes;
    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline{};
    for (;;) {
        uint8_t chunk[64];
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got <= 0) {
            // The terminal has gone (hung up or closed): no more keys. An interrupted read is no end.
            if (got == 0 || (errno != EINTR && errno != EAGAIN) || input.revents != POLLIN) {
                DecodeKeys(bytes.data(), bytes.size(), true, keys);
                return false;
            }
        } else {
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
        size_t decoded = DecodeKeys(bytes.data(), bytes.size(), false, keys);
        bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(decoded));
        if (bytes.empty()) {
            return true;
        }
        // An Esc at the end of what came: the rest of its sequence may be on its way (a key held during a
        // stall, a slow line). It counts as the Esc key only when nothing more comes in EscapeWaitMs.
        if (got > 0) {
            deadline = Clock::now() + std::chrono::milliseconds(EscapeWaitMs);
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        input.revents = 0;
        if (bytes.size() > LongestKeySequence || left <= 0 || poll(&input, 1, static_cast<int>(left)) <= 0 ||
            (input.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            DecodeKeys(bytes.data(), bytes.size(), true, keys);
            return true;
        }
    }
}

bool TerminalStart(bool keys, bool statusArea)
{
    InstallHandlers();
    // Only a player in the terminal's foreground takes its keys: changing the settings from the background
    // would stop the process.
    keys = keys && tcgetpgrp(STDIN_FILENO) == getpgrp();
    // Ctrl-C and Ctrl-Z stay signals (ISIG is left on): the handlers above put the terminal back for them.
    if (keys && rawKeys == 0 && tcgetattr(STDIN_FILENO, &savedSettings) == 0 && TakeKeys()) {
        rawKeys = 1;
    }
    if (statusArea && cursorHidden == 0) {
        cursorHidden = 1;
        WriteOut(HideCursor);
    }
    return rawKeys != 0;
}

void TerminalStop()
{
    if (rawKeys != 0) {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedSettings);
        rawKeys = 0;
    }
    if (cursorHidden != 0) {
        cursorHidden = 0;
        WriteOut(RestoreScreen);
    }
}

int TerminalWidth()
{
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

int TerminalHeight()
{
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0) {
        return size.ws_row;
    }
    return 24;
}

void WaitForKeys(int timeoutMs, std::vector<PlayerKey>* keys)
{
    if (rawKeys == 0 || keysAtEnd) {
        poll(nullptr, 0, timeoutMs);
        return;
    }
    if (!ReadKeys(STDIN_FILENO, timeoutMs, keys)) {
        // No busy loop on a terminal that has ended.
        keysAtEnd = true;
        poll(nullptr, 0, timeoutMs);
    }
}

int QuitSignalled()
{
    return quitSignal;
}

void EndBySignal(int signalNumber)
{
    std::fflush(nullptr);
    struct sigaction original{};
    original.sa_handler = SIG_DFL;
    sigemptyset(&original.sa_mask);
    sigaction(signalNumber, &original, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signalNumber);
    // A signal whose action is to be ignored here after all: the shell's code for it.
    std::_Exit(128 + signalNumber);
}

bool TerminalContinued()
{
    return continued.exchange(0) != 0;
}

void DrawStatusArea(StatusArea* area, const std::vector<std::string>& lines)
{
    std::string out = WrapOff;
    if (area->drawnLines > 0) {
        out += "\r\x1b[" + std::to_string(area->drawnLines) + "A";
    }
    for (const std::string& line : lines) {
        out += line;
        out += "\x1b[K\n";
    }
    // Lines of a taller area drawn before.
    out += "\x1b[J";
    out += WrapOn;
    WriteOut(out);
    area->drawnLines = static_cast<int>(lines.size());
}

void EraseStatusArea(StatusArea* area)
{
    if (area->drawnLines > 0) {
        WriteOut("\r\x1b[" + std::to_string(area->drawnLines) + "A\x1b[J");
        area->drawnLines = 0;
    }
}
