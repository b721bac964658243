// The intro's command line: without options the intro as it always was; --greeting and --song make it one's
// own; --record writes it into a video file instead of showing it.
#include "shell/shell.h"

#include "cli/cli.h"
#include "scene/scene.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Characters without a glyph named in the greeting's warning; the rest are counted.
constexpr size_t MaxBlanksListed = 20;

// "WxH" into its two numbers when both are even and in range; else why not.
std::string ParseSize(const std::string& text, int32_t* width, int32_t* height)
{
    int w = 0;
    int h = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &w, &h, &tail) != 2) {
        return "the size is WIDTHxHEIGHT, e.g. 800x600";
    }
    std::string problem = RecordSizeProblem(w, h);
    if (!problem.empty()) {
        return problem;
    }
    if (width != nullptr) {
        *width = w;
        *height = h;
    }
    return "";
}

} // namespace

std::string DescribeCharacter(char32_t c)
{
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
    std::string text = code;
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
        return text;
    }
    std::string utf8;
    if (c < 0x80) {
        utf8 += static_cast<char>(c);
    } else if (c < 0x800) {
        utf8 += static_cast<char>(0xC0 | (c >> 6));
        utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        utf8 += static_cast<char>(0xE0 | (c >> 12));
        utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        utf8 += static_cast<char>(0xF0 | (c >> 18));
        utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
    return text + " " + utf8;
}

std::string GreetingErrorText(const GreetingConversion& converted, const std::string& name)
{
    std::string greeting = name.empty() ? "the greeting" : "the greeting " + name;
    switch (converted.error) {
    case GreetingError::None:
        break;
    case GreetingError::Empty:
        return greeting + " is empty";
    case GreetingError::NotUtf8:
        return greeting + " is not UTF-8 text (line " + std::to_string(converted.errorLine) + ")";
    case GreetingError::TooLarge:
        return greeting + " is larger than 64 KB";
    }
    return "";
}

std::string GreetingWarningText(const GreetingConversion& converted, const std::string& name)
{
    if (converted.blanked.empty()) {
        return "";
    }
    // A text of many scripts can have thousands of them: the first few tell what is meant, and the line (a
    // box on Windows and in the browser) stays readable.
    std::string list;
    size_t listed = std::min(converted.blanked.size(), MaxBlanksListed);
    for (size_t i = 0; i < listed; i++) {
        list += (list.empty() ? "" : ", ") + DescribeCharacter(converted.blanked[i]);
    }
    if (converted.blanked.size() > listed) {
        list += " and " + std::to_string(converted.blanked.size() - listed) + " more";
    }
    return (name.empty() ? "the greeting" : "the greeting " + name) +
           " has characters without a glyph, shown as blanks: " + list;
}

std::string RecordSizeProblem(int32_t width, int32_t height)
{
    constexpr int MinWidth = 160;
    constexpr int MaxWidth = 3840;
    constexpr int MinHeight = 120;
    constexpr int MaxHeight = 2160;
    if (width < MinWidth || width > MaxWidth || height < MinHeight || height > MaxHeight || width % 2 != 0 ||
        height % 2 != 0) {
        return "both sides even, " + std::to_string(MinWidth) + " to " + std::to_string(MaxWidth) + " wide and " +
               std::to_string(MinHeight) + " to " + std::to_string(MaxHeight) + " high";
    }
    return "";
}

void ReportError(const std::string& text)
{
    std::fprintf(stderr, "tarnwick: %s\n", text.c_str());
    std::fflush(stderr);
    if (PlatStandardErrorHidden()) {
        PlatMessageBox(nullptr, text.c_str(), "ERROR", PLAT_MB_OK | PLAT_MB_ICONEXCLAMATION);
    }
}

bool TakeGreeting(const std::string& path, std::string* error)
{
    // Said to the caller where it asks, else on standard error (and in a box where that is not seen).
    auto fail = [error](const std::string& text) {
        if (error != nullptr) {
            *error = text;
        } else {
            ReportError(text);
        }
        return false;
    };
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return fail("cannot read the greeting " + path + ": " + std::strerror(errno));
    }
    // One byte past the limit is enough to tell a file that is too large.
    std::vector<unsigned char> bytes(MaxGreetingBytes + 1);
    size_t size = std::fread(bytes.data(), 1, bytes.size(), file);
    bool readError = std::ferror(file) != 0;
    int readErrno = errno;
    std::fclose(file);
    if (readError) {
        return fail("cannot read the greeting " + path + ": " + std::strerror(readErrno));
    }
    GreetingConversion converted = ConvertGreeting(bytes.data(), size);
    std::string problem = GreetingErrorText(converted, path);
    if (!problem.empty()) {
        return fail(problem);
    }
    std::string warning = GreetingWarningText(converted, path);
    if (!warning.empty()) {
        std::fprintf(stderr, "tarnwick: warning: %s\n", warning.c_str());
        if (PlatStandardErrorHidden()) {
            PlatMessageBox(nullptr, warning.c_str(), "Tarnwick Rare", PLAT_MB_OK | PLAT_MB_ICONINFORMATION);
        }
    }
    SetGreetingText(converted.text);
    return true;
}

int IntroEntry(int argc, char** argv)
{
    RecordOptions record;
    std::string greetingPath;
    std::string songPath;
    std::string sizeText;
    bool windowed = false;

    CLI::App app{"Tarnwick Rare, a New Year greeting. Without options it shows the intro; Esc quits, F1 "
                 "switches between fullscreen and a window."};
    app.add_option("--greeting", greetingPath, "show this UTF-8 text instead of the built-in greeting (at most "
                                               "64 KB; '@' marks its end)");
    app.add_option("--song", songPath, "play this XM module instead of data/glimrook.xm");
    CLI::Option* recordOption = app.add_option("--record", record.path, "write the intro into this video file "
                                                                        "(.mp4: H.264 + AAC, .webm: VP9 + Opus) "
                                                                        "instead of showing it");
    app.add_option("--fps", record.fps, "pictures per second of the video, one animation step each (default 60)")
        ->check(CLI::Range(1, MaxRecordFps))
        ->needs(recordOption);
    app.add_option("--size", sizeText, "picture size of the video, WIDTHxHEIGHT (default 800x600)")
        ->check(CLI::Validator([](std::string& text) { return ParseSize(text, nullptr, nullptr); }, "WxH"))
        ->needs(recordOption);
    AddSecondsOption(app, record.seconds, "length of the video instead of the song's first pass and a fade")
        ->needs(recordOption);
    app.add_flag("-q,--quiet", record.quiet, "no progress bar while recording")->needs(recordOption);
    app.add_flag("--window", windowed, "start in a window instead of fullscreen")->excludes(recordOption);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        if (PlatStandardErrorHidden()) {
            PlatMessageBox(nullptr, app.help().c_str(), "Tarnwick Rare", PLAT_MB_OK | PLAT_MB_ICONINFORMATION);
        }
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        if (PlatStandardErrorHidden()) {
            std::string text = std::string(e.what()) + "\nRun with --help for more information.";
            PlatMessageBox(nullptr, text.c_str(), "ERROR", PLAT_MB_OK | PLAT_MB_ICONEXCLAMATION);
        }
        return ExitUsage;
    }
    if (!sizeText.empty()) {
        ParseSize(sizeText, &record.width, &record.height);
    }
    if (!greetingPath.empty() && !TakeGreeting(greetingPath, nullptr)) {
        return ExitFailed;
    }
    std::string dataError;
    if (!FindIntroData(&dataError)) {
        ReportError(dataError);
        return ExitFailed;
    }
    if (!songPath.empty()) {
        introSongPath = songPath;
    }
    if (recordOption->count() > 0) {
        return RecordIntro(record);
    }
    if (windowed) {
        isFullscreen = false;
    }
    return IntroMain();
}
