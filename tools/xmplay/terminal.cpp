// The terminal xmplay runs on: keys read one at a time without echo, the status area redrawn in place, and
// the terminal put back as it was on every way out: a normal end, q or Esc, Ctrl-C and the other ending
// signals (which only ask the player to stop, so it ends the normal way), and a crash, whose signal handler
// restores the terminal with async-signal-safe calls before the program dies of it.
#include "tools/xmplay/xmplay.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Signals that end the player the normal way, and those that mean it has crashed.
constexpr int QuitSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int CrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr char ShowCursor[] = "\x1b[?25h";
constexpr char HideCursor[] = "\x1b[?25l";

// The terminal's settings before the player changed them (main thread writes them before rawKeys is set;
// the crash handler reads them on whichever thread crashed).
termios savedSettings{};
// Flags the signal handlers read or write, on whichever thread the signal lands (lock-free atomics, which a
// handler may use).
std::atomic<int> rawKeys{0};       // standard input is in the player's mode and savedSettings is valid
std::atomic<int> cursorHidden{0};  // the status area hid the cursor
std::atomic<int> quitSignal{0};    // an ending signal came
static_assert(std::atomic<int>::is_always_lock_free, "signal handlers need lock-free flags");
bool keysAtEnd = false;                  // standard input has ended (main thread)
bool handlersInstalled = false;          // (main thread)

void OnQuitSignal(int)
{
    quitSignal = 1;
}

void OnCrashSignal(int signalNumber)
{
    if (rawKeys != 0) {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedSettings);
    }
    if (cursorHidden != 0) {
        static constexpr char restore[] = "\x1b[?25h\r\n";
        ssize_t ignored = write(STDOUT_FILENO, restore, sizeof restore - 1);
        (void)ignored;
    }
    // Dies of the signal as it would have without the handler (the signal is raised again on return).
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
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
    // A status line to a reader that has gone away must not end the player with the terminal in its mode.
    signal(SIGPIPE, SIG_IGN);
    std::atexit(TerminalStop);
}

void WriteOut(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

std::vector<PlayerKey> DecodeKeys(const uint8_t* bytes, size_t count)
{
    std::vector<PlayerKey> keys;
    for (size_t i = 0; i < count; i++) {
        uint8_t c = bytes[i];
        if (c == 0x1B) {
            if (i + 1 < count && bytes[i + 1] == '[') {
                // CSI: parameters up to a final byte 0x40..0x7E.
                i += 2;
                while (i < count && (bytes[i] < 0x40 || bytes[i] > 0x7E)) {
                    i++;
                }
            } else if (i + 1 < count && bytes[i + 1] == 'O') {
                i += 2;  // SS3 and its one key byte
            } else {
                keys.push_back(PlayerKey::Quit);
            }
            continue;
        }
        switch (c) {
        case ' ':
            keys.push_back(PlayerKey::Pause);
            break;
        case 'n':
        case 'N':
            keys.push_back(PlayerKey::Next);
            break;
        case 'p':
        case 'P':
            keys.push_back(PlayerKey::Previous);
            break;
        case 'q':
        case 'Q':
            keys.push_back(PlayerKey::Quit);
            break;
        default:
            break;
        }
    }
    return keys;
}

bool TerminalStart(bool keys, bool statusArea)
{
    InstallHandlers();
    // Only a player in the terminal's foreground takes its keys: changing the settings from the background
    // would stop the process.
    keys = keys && tcgetpgrp(STDIN_FILENO) == getpgrp();
    if (keys && rawKeys == 0 && tcgetattr(STDIN_FILENO, &savedSettings) == 0) {
        termios settings = savedSettings;
        settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        settings.c_cc[VMIN] = 1;
        settings.c_cc[VTIME] = 0;
        // Ctrl-Z would stop the player with the terminal still in its mode; Ctrl-C stays a signal.
        settings.c_cc[VSUSP] = _POSIX_VDISABLE;
        if (tcsetattr(STDIN_FILENO, TCSANOW, &settings) == 0) {
            rawKeys = 1;
        }
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
        WriteOut(ShowCursor);
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

void WaitForKeys(int timeoutMs, std::vector<PlayerKey>* keys)
{
    if (rawKeys == 0 || keysAtEnd) {
        poll(nullptr, 0, timeoutMs);
        return;
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, timeoutMs) <= 0 || (input.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
        return;
    }
    uint8_t bytes[64];
    ssize_t got = read(STDIN_FILENO, bytes, sizeof bytes);
    if (got <= 0) {
        // The terminal has gone (hung up or closed): no more keys, and no busy loop on its end.
        keysAtEnd = got == 0 || input.revents != POLLIN;
        if (keysAtEnd) {
            poll(nullptr, 0, timeoutMs);
        }
        return;
    }
    std::vector<PlayerKey> decoded = DecodeKeys(bytes, static_cast<size_t>(got));
    keys->insert(keys->end(), decoded.begin(), decoded.end());
}

bool QuitSignalled()
{
    return quitSignal != 0;
}

void DrawStatusArea(StatusArea* area, const std::vector<std::string>& lines)
{
    std::string out;
    if (area->drawnLines > 0) {
        out += "\r\x1b[" + std::to_string(area->drawnLines) + "A";
    }
    for (const std::string& line : lines) {
        out += line;
        out += "\x1b[K\n";
    }
    // Lines of a taller area drawn before.
    out += "\x1b[J";
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
