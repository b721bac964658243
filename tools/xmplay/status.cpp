// What xmplay shows: the module's title from its header, the status area and the one-line report. Every text
// that comes from a file or a command line passes TerminalSafe before it reaches the terminal, so a title or
// a file name cannot move the cursor, change colours or send the terminal commands.
#include "tools/xmplay/xmplay.h"

#include "cli/cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The XM header as far as the title: the signature, then 20 bytes of name padded with spaces or zeros.
constexpr char XmSignature[] = "Extended Module: ";
constexpr size_t XmSignatureBytes = 17;
constexpr size_t XmTitleOffset = 17;
constexpr size_t XmTitleBytes = 20;

// Cells of one track's level meter, and columns of a meter with its track number and gap ("01 ######## ").
constexpr int MeterCells = 8;
constexpr int MeterColumns = 3 + MeterCells + 1;
// The progress bar's cells at most; fewer on a narrow terminal.
constexpr int MaxBarCells = 40;

// The columns a UTF-8 string takes: one per character (lead bytes; continuation bytes take none).
int Columns(const std::string& text)
{
    int columns = 0;
    for (unsigned char c : text) {
        columns += (c & 0xC0) != 0x80 ? 1 : 0;
    }
    return columns;
}

// The text cut to at most `columns` characters, never inside a UTF-8 sequence.
std::string Fit(const std::string& text, int columns)
{
    int seen = 0;
    for (size_t i = 0; i < text.size(); i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) != 0x80) {
            if (seen == columns) {
                return text.substr(0, i);
            }
            seen++;
        }
    }
    return text;
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

ModuleHeader ReadModuleHeader(const std::string& path)
{
    ModuleHeader header;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        header.state = errno == ENOENT || errno == ENOTDIR ? ModuleFileState::Missing : ModuleFileState::Unreadable;
        return header;
    }
    unsigned char bytes[XmTitleOffset + XmTitleBytes] = {};
    size_t got = std::fread(bytes, 1, sizeof bytes, file);
    bool readFailed = std::ferror(file) != 0;
    std::fclose(file);
    if (readFailed) {
        header.state = ModuleFileState::Unreadable;
        return header;
    }
    if (got < XmSignatureBytes || std::memcmp(bytes, XmSignature, XmSignatureBytes) != 0) {
        header.state = ModuleFileState::NotXm;
        return header;
    }
    header.state = ModuleFileState::Ok;
    // A short file keeps what title it has; the loader decides whether the rest is a module.
    size_t end = got < XmTitleOffset + XmTitleBytes ? got : XmTitleOffset + XmTitleBytes;
    std::string title;
    for (size_t i = XmTitleOffset; i < end && bytes[i] != 0; i++) {
        // The title is a fixed field of single bytes in an old code page: anything beyond ASCII has no
        // meaning we could show.
        title += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '?';
    }
    size_t last = title.find_last_not_of(' ');
    header.title = last == std::string::npos ? "" : title.substr(0, last + 1);
    return header;
}

std::string RefusalReason(ModuleFileState state, bool loaderRefused)
{
    switch (state) {
    case ModuleFileState::Missing:
        return "no such file";
    case ModuleFileState::Unreadable:
        return "the file cannot be read";
    case ModuleFileState::NotXm:
        return "not an XM module";
    case ModuleFileState::Ok:
        break;
    }
    return loaderRefused ? "a damaged or unsupported XM module" : "";
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

std::vector<std::string> FormatStatusArea(const SongView& view, int width)
{
    if (width < 20) {
        width = 20;
    }
    int usable = width - 1;
    std::vector<std::string> lines;
    lines.push_back(Heading(view));

    // Times and progress.
    int64_t played = view.haveStatus ? static_cast<int64_t>(view.status.playedFrames) : 0;
    int64_t total = view.totalFrames >= 0 ? view.totalFrames : view.songFrames;
    std::string times = FormatDuration(played, view.rate) + " / " +
                        (total >= 0 ? FormatDuration(total, view.rate) : std::string("?:??.???"));
    if (total > 0) {
        int64_t percent = played >= total ? 100 : played * 100 / total;
        std::string tail = Format(" %3lld%%", percent);
        int cells = usable - Columns(times) - 3 - Columns(tail) - 8;
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
    lines.push_back(times);

    // Position and tempo, as the song stood when the block being heard was mixed.
    if (view.haveStatus) {
        const SndPlayStatus& s = view.status;
        std::string position = Format("order %lld/%lld", s.orderPos, view.orderCount) +
                               Format("  pattern %lld", s.pattern) +
                               (view.rowCount > 0 ? Format("  row %lld/%lld", s.row, view.rowCount)
                                                  : Format("  row %lld", s.row)) +
                               Format("  speed %lld  bpm %lld", s.speed, s.bpm);
        lines.push_back(position);

        // One meter per track, as many to a line as fit.
        int perLine = usable / MeterColumns;
        perLine = perLine < 1 ? 1 : perLine;
        std::string meters;
        for (int32_t t = 0; t < s.channelCount; t++) {
            int filled = (s.levels[t] * MeterCells + 254) / 255;
            meters += Format("%02lld ", t + 1);
            for (int k = 0; k < MeterCells; k++) {
                meters += k < filled ? '#' : '.';
            }
            if ((t + 1) % perLine == 0 || t + 1 == s.channelCount) {
                lines.push_back(meters);
                meters.clear();
            } else {
                meters += ' ';
            }
        }
    }
    if (view.keys) {
        lines.push_back("space pause  n next  p previous  q quit");
    }
    for (std::string& line : lines) {
        line = Fit(line, usable);
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
