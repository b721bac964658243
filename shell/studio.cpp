// The studio page's views of its inputs: a greeting through the intro's own conversion and messages, a song
// through the intro's own loader and the song's first pass, each answered as a small JSON text the page reads.
#include "shell/shell.h"

#include "cli/cli.h"
#include "music/music.h"
#include "scene/scene.h"
#include "sound/sound.h"

#include <cstdio>
#include <string>

namespace {

// The name the song's bytes are kept under while the loader reads them (never a file on any disk).
constexpr char StudioSongPath[] = "#studio-song";
// The rate the intro plays at: the first pass is counted in its frames.
constexpr int32_t StudioRate = 44100;

// The last answer, handed to the page as a C string (main thread).
std::string answer;

// Text as a JSON string: quotes, backslashes and control characters escaped, UTF-8 passed as it is.
std::string Quote(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

const char* Answer(const std::string& json)
{
    answer = json;
    return answer.c_str();
}

}  // namespace

const char* StudioCheckGreeting(const uint8_t* bytes, int32_t size)
{
    GreetingConversion converted = ConvertGreeting(bytes, bytes != nullptr && size > 0 ? static_cast<size_t>(size) : 0);
    std::string blanked;
    for (char32_t c : converted.blanked) {
        blanked += (blanked.empty() ? "" : ",") + Quote(DescribeCharacter(c));
    }
    return Answer("{\"limit\":" + std::to_string(MaxGreetingBytes) + ",\"error\":" +
                  Quote(GreetingErrorText(converted, "")) + ",\"warning\":" +
                  Quote(GreetingWarningText(converted, "")) + ",\"blanked\":[" + blanked + "]}");
}

const char* StudioIntroGreeting()
{
    return Answer("{\"text\":" + Quote(std::string(reinterpret_cast<const char*>(GreetingUtf8), GreetingUtf8Size)) +
                  "}");
}

const char* StudioDescribeSong(const uint8_t* bytes, int32_t size)
{
    auto refuse = [](const std::string& why) {
        return Answer("{\"ok\":false,\"error\":" + Quote(why) + ",\"maxBytes\":" +
                      std::to_string(StudioMaxSongBytes) + "}");
    };
    if (bytes == nullptr || size <= 0) {
        return refuse(ModNotXmReason);
    }
    if (size > StudioMaxSongBytes) {
        return refuse("larger than the studio takes (" + std::to_string(StudioMaxSongBytes / (1024 * 1024)) +
                      " MB)");
    }
    // The loader reads through the file callbacks: the bytes are kept under a name of their own and handed
    // out from memory, as a song from a pipe is.
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    if (!MemFileKeepBytes(StudioSongPath, bytes, size)) {
        return refuse(MemFileReadFailure(WholeFileResult::NoMemory));
    }
    Song* song = ModLoadSong(StudioSongPath, nullptr);
    MemFileForget();
    if (song == nullptr) {
        return refuse(ModRefusalReason(bytes, static_cast<size_t>(size)));
    }
    int32_t channels = song->channelCount;
    int64_t frames = SndMeasureFirstPass(song, StudioRate, static_cast<int64_t>(MaxDefaultSeconds * StudioRate));
    int32_t loopOrder = SndFirstPassOrder();
    ModFreeSong(song);
    return Answer("{\"ok\":true,\"title\":" + Quote(ModTitle(bytes, static_cast<size_t>(size))) +
                  ",\"channels\":" + std::to_string(channels) + ",\"lengthFrames\":" + std::to_string(frames) +
                  ",\"length\":" + Quote(frames >= 0 ? FormatDuration(frames, StudioRate) : "") +
                  ",\"loopOrder\":" + std::to_string(frames >= 0 ? loopOrder : -1) + "}");
}
