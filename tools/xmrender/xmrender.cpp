// xmrender SONG.xm OUT.wav: renders a song offline, bit for bit as the intro streams it. The song is loaded
// with the intro's loader through the same in-memory file callbacks, started and mixed block after block
// through the sound output's rendering without a device, which starts a song exactly as ModPlaySong does and
// mixes the very blocks the streaming thread puts into the device's ring; every block is written as it
// leaves the mixer. No audio device is opened and no thread is started.
//
// By default the render stops where the song first comes back to an order position it has already played
// (the wrap to the restart position or a backward jump); --seconds renders a fixed length. Exit codes: 0 done,
// 1 the song does not load or the output cannot be written, 2 bad usage.
#include "cli/cli.h"
#include "music/music.h"
#include "platform/platform.h"
#include "sound/sound.h"

#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// libsndfile cannot write a WAV to a pipe (it seeks back to fill in the sizes): standard output is
// rendered into memory through its virtual I/O and copied out at the end.
struct MemoryOutput {
    std::vector<uint8_t> bytes;
    sf_count_t position = 0;
};

sf_count_t MemoryLength(void* user)
{
    return static_cast<sf_count_t>(static_cast<MemoryOutput*>(user)->bytes.size());
}

sf_count_t MemorySeek(sf_count_t offset, int whence, void* user)
{
    auto* memory = static_cast<MemoryOutput*>(user);
    sf_count_t base = whence == SEEK_CUR ? memory->position
                      : whence == SEEK_END ? static_cast<sf_count_t>(memory->bytes.size())
                                           : 0;
    sf_count_t target = base + offset;
    if (target < 0) {
        return -1;
    }
    memory->position = target;
    return target;
}

sf_count_t MemoryRead(void* destination, sf_count_t count, void* user)
{
    auto* memory = static_cast<MemoryOutput*>(user);
    sf_count_t available = static_cast<sf_count_t>(memory->bytes.size()) - memory->position;
    if (count > available) {
        count = available > 0 ? available : 0;
    }
    if (count > 0) {
        std::memcpy(destination, memory->bytes.data() + memory->position, static_cast<size_t>(count));
        memory->position += count;
    }
    return count;
}

sf_count_t MemoryWrite(const void* source, sf_count_t count, void* user)
{
    auto* memory = static_cast<MemoryOutput*>(user);
    size_t end = static_cast<size_t>(memory->position + count);
    if (end > memory->bytes.size()) {
        memory->bytes.resize(end);
    }
    std::memcpy(memory->bytes.data() + memory->position, source, static_cast<size_t>(count));
    memory->position += count;
    return count;
}

sf_count_t MemoryTell(void* user)
{
    return static_cast<MemoryOutput*>(user)->position;
}

// Frames gathered before they go to the file: one write per block would cost a system call every 20 ms
// of sound, more than the mixing itself.
constexpr size_t PendingFrames = 65536;

struct Output {
    SNDFILE* file = nullptr;
    bool toStdout = false;
    MemoryOutput memory;
    SF_VIRTUAL_IO io{MemoryLength, MemorySeek, MemoryRead, MemoryWrite, MemoryTell};
    std::vector<int16_t> pending;  // interleaved stereo frames not yet written
};

// The output format by the name's extension; 0 for a name that is neither .wav nor .flac.
int OutputFormat(const std::string& path)
{
    if (path == "-") {
        return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    }
    size_t dot = path.find_last_of('.');
    std::string extension = dot == std::string::npos ? "" : path.substr(dot + 1);
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (extension == "wav") {
        return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    }
    if (extension == "flac") {
        return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    }
    return 0;
}

bool OpenOutput(Output* output, const std::string& path, int format, int32_t rate)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = format;
    if (path == "-") {
        output->toStdout = true;
        output->file = sf_open_virtual(&output->io, SFM_RDWR, &info, &output->memory);
    } else {
        output->file = sf_open(path.c_str(), SFM_WRITE, &info);
    }
    if (output->file == nullptr) {
        std::fprintf(stderr, "xmrender: cannot write %s: %s\n", path.c_str(), sf_strerror(nullptr));
        return false;
    }
    return true;
}

bool FlushFrames(Output* output)
{
    sf_count_t count = static_cast<sf_count_t>(output->pending.size() / 2);
    if (output->file == nullptr || count == 0) {
        return true;
    }
    bool ok = sf_writef_short(output->file, output->pending.data(), count) == count;
    output->pending.clear();
    return ok;
}

bool WriteFrames(Output* output, const int16_t* frames, int64_t count)
{
    if (output->file == nullptr || count <= 0) {
        return true;
    }
    output->pending.insert(output->pending.end(), frames, frames + 2 * count);
    return output->pending.size() < 2 * PendingFrames || FlushFrames(output);
}

bool CloseOutput(Output* output, const std::string& path)
{
    if (output->file == nullptr) {
        return true;
    }
    bool ok = FlushFrames(output);
    ok = sf_close(output->file) == 0 && ok;
    output->file = nullptr;
    if (ok && output->toStdout) {
        const std::vector<uint8_t>& bytes = output->memory.bytes;
        ok = std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && std::fflush(stdout) == 0;
    }
    if (!ok) {
        std::fprintf(stderr, "xmrender: cannot write %s\n", path.c_str());
    }
    return ok;
}

void PrintInfo(const Song* song, const std::string& path, const std::string& title)
{
    int32_t samples = 0;
    for (int32_t k = 0; k < song->instrumentCount; k++) {
        samples += song->instruments[k].sampleCount;
    }
    std::printf("Song:            %s\n", path.c_str());
    std::printf("Title:           %s\n", title.c_str());
    std::printf("Channels:        %d\n", song->channelCount);
    std::printf("Orders:          %d (restart at %d)\n", song->orderCount, song->restartPosition);
    std::printf("Patterns:        %d\n", song->patternSlotCount);
    std::printf("Instruments:     %d\n", song->instrumentCount);
    std::printf("Samples:         %d\n", samples);
    std::printf("Frequency table: %s\n", (song->flags & 1) != 0 ? "linear" : "Amiga");
    std::printf("Speed:           %d\n", song->defaultSpeed);
    std::printf("BPM:             %d\n", song->defaultBpm);
}

void PrintLength(int32_t rate)
{
    if (SndFirstPassFrames() >= 0) {
        std::printf("Length:          %s (then order %d again)\n",
                    FormatDuration(SndFirstPassFrames(), rate).c_str(), SndFirstPassOrder());
    } else {
        std::printf("Length:          longer than the render\n");
    }
}

struct Options {
    std::string songPath;
    std::string outPath;
    int32_t rate = 44100;
    double seconds = 0.0;
    bool info = false;
    bool quiet = false;
};

// Loads, plays and writes; returns the exit code.
int Render(const Options& options)
{
    PlatMessageBox = PlatMessageBoxToStderr;
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    // Read once, whole (a pipe can be read only once), so that a refusal can say why and --info can name
    // the title; the loader then takes the kept bytes.
    const char* path = options.songPath.c_str();
    WholeFile whole = MemFileReadWhole(path, MemFileMaxBytes);
    std::string reason = MemFileReadFailure(whole.result);
    std::string title = ModTitle(whole.data, static_cast<size_t>(whole.length));
    Song* song = nullptr;
    if (whole.result == WholeFileResult::Read) {
        if (MemFileKeepBytes(path, whole.data, whole.length)) {
            song = ModLoadSong(path, nullptr);
            reason = song == nullptr ? ModRefusalReason(whole.data, static_cast<size_t>(whole.length)) : "";
        } else {
            reason = MemFileReadFailure(WholeFileResult::NoMemory);
        }
        MemFileForget();
    }
    std::free(whole.data);
    if (song == nullptr) {
        std::fprintf(stderr, "xmrender: cannot load %s: %s\n", path, reason.c_str());
        return ExitFailed;
    }
    if (options.info) {
        PrintInfo(song, options.songPath, title);
    }

    Output output;
    bool rendering = !options.outPath.empty();
    if (rendering && !OpenOutput(&output, options.outPath, OutputFormat(options.outPath), options.rate)) {
        ModFreeSong(song);
        return ExitFailed;
    }

    SndWatchFirstPass(song);

    int64_t fixedFrames = options.seconds > 0.0 ? std::llround(options.seconds * options.rate) : -1;
    int64_t ceilingFrames = static_cast<int64_t>(MaxDefaultSeconds * options.rate);
    bool progress = !options.quiet && rendering && isatty(STDERR_FILENO) != 0;
    bool ok = SndRenderStart(song, options.rate);
    if (!ok) {
        std::fprintf(stderr, "xmrender: not enough memory to play %s\n", options.songPath.c_str());
    }
    std::vector<int16_t> block(ok ? 2 * static_cast<size_t>(BlockFrames) : 0);
    int64_t written = 0;
    int64_t blockAt = 0;       // frames of the current block already written
    int64_t blockFrames = 0;   // frames in the current block (0 before the first)
    while (ok) {
        // The stop may become known while a block is mixed; it never lies before the frames written.
        int64_t loopFrame = SndFirstPassFrames();
        int64_t limit = fixedFrames >= 0 ? fixedFrames : (loopFrame >= 0 ? loopFrame : ceilingFrames);
        if (written >= limit) {
            break;
        }
        if (blockAt == blockFrames) {
            blockFrames = SndRenderBlock(block.data());
            blockAt = 0;
            ok = blockFrames > 0;
            continue;
        }
        int64_t count = std::min<int64_t>(blockFrames - blockAt, limit - written);
        if (rendering && !WriteFrames(&output, block.data() + 2 * blockAt, count)) {
            std::fprintf(stderr, "%sxmrender: cannot write %s\n", progress ? "\n" : "", options.outPath.c_str());
            ok = false;
            break;
        }
        blockAt += count;
        written += count;
        if (progress && (written / BlockFrames) % 25 == 0) {
            ShowRenderProgress(written, fixedFrames, options.rate, song->orderPos, song->orderCount);
        }
    }
    if (progress) {
        ShowRenderProgress(written, fixedFrames, options.rate, song->orderPos, song->orderCount);
        std::fprintf(stderr, "\n");
    }

    SndRenderStop();
    ModFreeSong(song);
    if (!CloseOutput(&output, options.outPath)) {
        ok = false;
    }
    if (options.info) {
        PrintLength(options.rate);
    }
    if (!ok) {
        return ExitFailed;
    }
    if (fixedFrames < 0 && SndFirstPassFrames() < 0) {
        std::fprintf(stderr, "xmrender: the song did not come back to a played order position within %.0f s; "
                             "stopped there\n", MaxDefaultSeconds);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    CLI::App app{"Renders an XM song offline, bit for bit as the intro plays it."};
    app.add_option("song", options.songPath, "XM module to render")->required();
    app.add_option("output", options.outPath, "output file: .wav or .flac (16-bit stereo), or - for a WAV on "
                                              "standard output");
    AddRateOption(app, options.rate);
    AddSecondsOption(app, options.seconds, "render this many seconds instead of up to the song's loop");
    app.add_flag("--info", options.info, "print the song's channels, orders, patterns, instruments, samples, "
                                         "frequency table, speed, BPM and length");
    app.add_flag("-q,--quiet", options.quiet, "no progress bar");
    if (int code = ParseToolArguments(app, argc, argv); code >= 0) {
        return code;
    }
    if (options.outPath.empty() && !options.info) {
        std::fprintf(stderr, "xmrender: no output file given (or use --info)\n%s", app.help().c_str());
        return ExitUsage;
    }
    if (!options.outPath.empty() && OutputFormat(options.outPath) == 0) {
        std::fprintf(stderr, "xmrender: %s: the output must end in .wav or .flac, or be -\n",
                     options.outPath.c_str());
        return ExitUsage;
    }
    if (options.info && options.outPath == "-") {
        std::fprintf(stderr, "xmrender: --info and - both use standard output\n");
        return ExitUsage;
    }
    return Render(options);
}
