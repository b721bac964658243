// What xmplay shows: the module's title from its header, the status area and the one-line report. Every text
// that comes from a file or a command line passes TerminalSafe before it reaches the terminal, so a title or
// a file name cannot move the cursor, change colours or send the terminal commands.
#include "tools/xmplay/xmplay.h"

#include "cli/cli.h"
#include "music/music.h"

#include <locale.h>
#include <wchar.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Cells of one track's level meter, and columns of a meter with its track number and gap ("01 ######## ").
constexpr int MeterCells = 8;
constexpr int MeterColumns = 3 + MeterCells + 1;
// The progress bar's cells at most; fewer on a narrow terminal.
constexpr int MaxBarCells = 40;

// A UTF-8 locale for wcwidth whatever the user's locale is: every text shown is UTF-8 (null when the system
// has none; every character then counts as one column). Made on first use (main thread).
locale_t Utf8Locale()
{
    static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return utf8;
}

// The columns of the character at text[i], and its length in bytes: wcwidth's answer, and one column where
// it has none (a control, an unassigned character, no UTF-8 locale) or for a byte that starts no whole UTF-8
// sequence.
int ColumnsAt(const std::string& text, size_t i, size_t* length)
{
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    *length = 1;
    if (n <= 1 || i + n > text.size()) {
        return 1;
    }
    char32_t code = c & (0x7F >> n);
    for (size_t k = 1; k < n; k++) {
        unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            return 1;
        }
        code = (code << 6) | (next & 0x3F);
    }
    *length = n;
    locale_t utf8 = Utf8Locale();
    if (utf8 == static_cast<locale_t>(nullptr)) {
        return 1;
    }
    locale_t previous = uselocale(utf8);
    int columns = wcwidth(static_cast<wchar_t>(code));
    uselocale(previous);
    return columns < 0 ? 1 : columns;
}

std::string Format(const char* format, long long a, long long b = 0, long long c = 0)
{
    char text[96];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

// "[2/5] song.xm  "Title"" (the title only when the module has one).
std::string Heading(const SongView& view)
{
    std::string line = Format("[%lld/%lld] ", view.index + 1, view.fileCount) + TerminalSafe(view.fileName);
    if (!view.title.empty()) {
        line += "  \"" + view.title + "\"";
    }
    return line;
}

}  // namespace

int DisplayColumns(const std::string& text)
{
    int columns = 0;
    for (size_t i = 0; i < text.size();) {
        size_t length = 0;
        columns += ColumnsAt(text, i, &length);
        i += length;
    }
    return columns;
}

std::string FitColumns(const std::string& text, int columns)
{
    int seen = 0;
    for (size_t i = 0; i < text.size();) {
        size_t length = 0;
        int width = ColumnsAt(text, i, &length);
        if (seen + width > columns) {
            return text.substr(0, i);
        }
        seen += width;
        i += length;
    }
    return text;
}

ModuleHeader ReadModuleFile(const std::string& path, std::vector<uint8_t>* bytes)
{
    bytes->clear();
    WholeFile whole = path == StandardInputPath ? MemFileReadStream(stdin, MemFileMaxBytes)
                                                : MemFileReadWhole(path.c_str(), MemFileMaxBytes);
    ModuleHeader header;
    if (whole.result == WholeFileResult::Read) {
        header = ReadModuleHeader(whole.data, static_cast<size_t>(whole.length));
    } else {
        header.state = whole.result == WholeFileResult::Missing    ? ModuleFileState::Missing
                       : whole.result == WholeFileResult::TooLarge ? ModuleFileState::TooLarge
                       : whole.result == WholeFileResult::NoMemory ? ModuleFileState::NoMemory
                                                                   : ModuleFileState::Unreadable;
    }
    if (header.state == ModuleFileState::Ok) {
        bytes->assign(whole.data, whole.data + whole.length);
    }
    std::free(whole.data);
    return header;
}

ModuleHeader ReadModuleHeader(const uint8_t* bytes, size_t count)
{
    ModuleHeader header;
    // A short file keeps what title it has; the loader decides whether the rest is a module.
    header.state = ModHasXmSignature(bytes, count) ? ModuleFileState::Ok : ModuleFileState::NotXm;
    header.title = ModTitle(bytes, count);
    return header;
}

std::string RefusalReason(ModuleFileState state, bool loaderRefused)
{
    switch (state) {
    case ModuleFileState::Missing:
        return MemFileReadFailure(WholeFileResult::Missing);
    case ModuleFileState::Unreadable:
        return MemFileReadFailure(WholeFileResult::Unreadable);
    case ModuleFileState::NotXm:
        return ModNotXmReason;
    case ModuleFileState::TooLarge:
        return MemFileReadFailure(WholeFileResult::TooLarge);
    case ModuleFileState::NoMemory:
        return MemFileReadFailure(WholeFileResult::NoMemory);
    case ModuleFileState::Ok:
        break;
    }
    return loaderRefused ? ModRefusedReason : "";
}

std::string TerminalSafe(const std::string& text)
{
    std::string safe;
    for (size_t i = 0; i < text.size(); i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            safe += '?';
        } else if (c < 0x80) {
            safe += static_cast<char>(c);
        } else {
            // A whole UTF-8 sequence passes unless it encodes a C1 control (U+0080..U+009F, "C2 80".."C2 9F");
            // a stray or broken byte becomes '?' (in a single-byte reading 0x80..0x9F are the C1 controls).
            size_t length = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
            bool whole = length > 0 && i + length <= text.size();
            for (size_t k = 1; whole && k < length; k++) {
                whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
            }
            bool c1 = whole && length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
            if (whole && !c1) {
                safe += text.substr(i, length);
            }
            if (!whole || c1) {
                safe += '?';
            }
            if (whole) {
                i += length - 1;
            }
        }
    }
    return safe;
}

std::vector<std::string> FormatStatusArea(const SongView& view, int width, int height)
{
    if (width < 20) {
        width = 20;
    }
    int usable = width - 1;
    // The last row stays free: the cursor waits there, and an area as tall as the screen would scroll it.
    int maxLines = height > 1 ? height - 1 : 0;
    std::string heading = Heading(view);

    // Times and progress.
    int64_t played = view.haveStatus ? static_cast<int64_t>(view.status.playedFrames) : 0;
    int64_t total = view.totalFrames >= 0 ? view.totalFrames : view.songFrames;
    std::string times = FormatDuration(played, view.rate) + " / " +
                        (total >= 0 ? FormatDuration(total, view.rate) : std::string("?:??.???"));
    if (total > 0) {
        int64_t percent = played >= total ? 100 : played * 100 / total;
        std::string tail = Format(" %3lld%%", percent);
        int cells = usable - DisplayColumns(times) - 3 - DisplayColumns(tail) - 8;
        cells = cells > MaxBarCells ? MaxBarCells : cells;
        if (cells >= 5) {
            times += "  " + ProgressBar(played, total, cells) + tail;
        }
    }
    if (view.totalFrames < 0 && view.songFrames >= 0 && played >= view.songFrames) {
        times += "  looping";
    }
    if (view.paused) {
        times += "  paused";
    }

    // Position and tempo, as the song stood when the block being heard was mixed, and one meter per track,
    // as many to a line as fit.
    std::string position;
    std::vector<std::string> meterRows;
    int perLine = usable / MeterColumns;
    perLine = perLine < 1 ? 1 : perLine;
    if (view.haveStatus) {
        const SndPlayStatus& s = view.status;
        position = Format("order %lld/%lld", s.orderPos, view.orderCount) + Format("  pattern %lld", s.pattern) +
                   (view.rowCount > 0 ? Format("  row %lld/%lld", s.row, view.rowCount)
                                      : Format("  row %lld", s.row)) +
                   Format("  speed %lld  bpm %lld", s.speed, s.bpm);
        std::string meters;
        for (int32_t t = 0; t < s.channelCount; t++) {
            int filled = (s.levels[t] * MeterCells + 254) / 255;
            meters += Format("%02lld ", t + 1);
            for (int k = 0; k < MeterCells; k++) {
                meters += k < filled ? '#' : '.';
            }
            if ((t + 1) % perLine == 0 || t + 1 == s.channelCount) {
                meterRows.push_back(meters);
                meters.clear();
            } else {
                meters += ' ';
            }
        }
    }

    // A terminal too short for everything: the meters give way first, their last row left saying how many
    // tracks are not shown; then the keys, the position and the times, the heading last.
    bool showTimes = true;
    bool showPosition = view.haveStatus;
    bool showKeys = view.keys;
    int fixedLines = 1 + (showTimes ? 1 : 0) + (showPosition ? 1 : 0) + (showKeys ? 1 : 0);
    int room = maxLines - fixedLines;
    if (static_cast<int>(meterRows.size()) > room) {
        if (room >= 1) {
            int shownTracks = (room - 1) * perLine;
            int hidden = view.status.channelCount - shownTracks;
            meterRows.resize(static_cast<size_t>(room - 1));
            // More tracks than one row holds are hidden, so never just one.
            meterRows.push_back(Format("+%lld tracks", hidden));
        } else {
            meterRows.clear();
        }
    }
    for (bool* line : {&showKeys, &showPosition, &showTimes}) {
        if (fixedLines > maxLines && *line) {
            *line = false;
            fixedLines--;
        }
    }

    std::vector<std::string> lines;
    if (maxLines >= 1) {
        lines.push_back(heading);
    }
    if (showTimes) {
        lines.push_back(times);
    }
    if (showPosition) {
        lines.push_back(position);
    }
    lines.insert(lines.end(), meterRows.begin(), meterRows.end());
    if (showKeys) {
        lines.push_back("space pause  n next  p previous  q quit");
    }
    for (std::string& line : lines) {
        line = FitColumns(line, usable);
    }
    return lines;
}

std::string FormatSongLine(const SongView& view)
{
    std::string line = Heading(view);
    int64_t total = view.totalFrames >= 0 ? view.totalFrames : view.songFrames;
    line += "  " + (total >= 0 ? FormatDuration(total, view.rate) : std::string("length unknown"));
    return line;
}
