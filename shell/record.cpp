// --record: the intro drawn without a window, frame by frame, and its song rendered as xmrender renders it,
// both written into a video file. One animation step per video frame, so the video shows what a screen of
// that rate shows; the sound is the streamed song bit for bit until the encoder takes it. The file appears
// only when complete: everything goes into a temporary file beside it, put on the disk and renamed at the end.
#include "shell/shell.h"

#include "cli/cli.h"
#include "music/music.h"
#include "platform/gl.h"
#include "scene/scene.h"
#include "sound/sound.h"
#include "video/video.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <vector>

namespace {

constexpr int32_t SoundRate = 44100;
// The fade of picture and sound after the song's first pass.
constexpr int64_t FadeFrames = SoundRate;

// The temporary file, for the signal handler to remove (written before the handler is installed and cleared
// before it is taken away; main thread).
char temporaryPath[4096];
std::atomic<bool> temporaryExists{false};

extern "C" void RemoveTemporaryAndDie(int signalNumber)
{
    if (temporaryExists) {
        unlink(temporaryPath);
    }
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

// What ends a recording from outside: Ctrl-C, kill, a terminal or ssh session that went away, Ctrl-\, and a
// reader of standard error that went away. Each removes the temporary file and then ends the program as the
// signal itself would.
constexpr int EndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
constexpr size_t EndingSignalCount = std::size(EndingSignals);

struct SignalGuard {
    struct sigaction previous[EndingSignalCount] {};
    bool taken[EndingSignalCount] {};
    SignalGuard()
    {
        struct sigaction action {};
        action.sa_handler = RemoveTemporaryAndDie;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < EndingSignalCount; i++) {
            // A signal ignored from the start stays ignored: nohup, or a job started in the background,
            // asked for the recording to carry on through it.
            if (sigaction(EndingSignals[i], nullptr, &previous[i]) != 0 ||
                ((previous[i].sa_flags & SA_SIGINFO) == 0 && previous[i].sa_handler == SIG_IGN)) {
                continue;
            }
            taken[i] = sigaction(EndingSignals[i], &action, nullptr) == 0;
        }
    }
    ~SignalGuard()
    {
        for (size_t i = 0; i < EndingSignalCount; i++) {
            if (taken[i]) {
                sigaction(EndingSignals[i], &previous[i], nullptr);
            }
        }
    }
};

// Puts a written file on the disk before it gets its name, so that after a power loss the name never stands
// for a file that is not whole. false with the reason in *error.
bool WriteToDisk(const std::string& path, std::string* error)
{
    int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0 || fsync(descriptor) != 0) {
        *error = std::string("cannot write: ") + std::strerror(errno);
        if (descriptor >= 0) {
            close(descriptor);
        }
        return false;
    }
    close(descriptor);
    return true;
}

// Puts the folder's entries (a rename into it) on the disk. Not every file system can; the file itself is
// whole either way, so a refusal is no failure.
void WriteFolderToDisk(const std::string& path)
{
    std::string folder = std::filesystem::path(path).parent_path().string();
    int descriptor = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        fsync(descriptor);
        close(descriptor);
    }
}

// What a recording holds, in sound frames at SoundRate and in pictures. Both streams are as long as the
// pictures (pictures / fps): the song's part rounded up to whole pictures, with silence after it, so a low
// picture rate neither gives two lengths nor cuts off any of the song.
struct Timeline {
    int64_t soundFrames;   // length of the song's part, the fade included
    int64_t fadeStart;     // sound frame where the fade begins (= soundFrames: no fade)
    int64_t pictures;      // pictures in the video
    int64_t length;        // sound frames in the file: the pictures' length, >= soundFrames
};

// Gain of the fade at sound frame `at`: 1 before the fade, falling in a straight line to 0 at the end.
float FadeGain(const Timeline& timeline, int64_t at)
{
    if (at < timeline.fadeStart) {
        return 1.0f;
    }
    int64_t span = timeline.soundFrames - timeline.fadeStart;
    return span > 0 ? static_cast<float>(std::max<int64_t>(timeline.soundFrames - at, 0)) / span : 0.0f;
}

// The sound frame at which picture n is shown.
int64_t SoundFrameOfPicture(int64_t picture, int32_t fps)
{
    return picture * SoundRate / fps;
}

// The song's length as it will be recorded: --seconds, or the first pass measured on a copy of its own.
bool PlanTimeline(const RecordOptions& options, Timeline* timeline)
{
    if (options.seconds > 0.0) {
        timeline->soundFrames = std::max<int64_t>(std::llround(options.seconds * SoundRate), 1);
        timeline->fadeStart = timeline->soundFrames;
    } else {
        Song* song = ModLoadSong(introSongPath.c_str(), nullptr);
        if (song == nullptr) {
            return false;
        }
        int64_t ceiling = static_cast<int64_t>(MaxDefaultSeconds * SoundRate);
        int64_t firstPass = SndMeasureFirstPass(song, SoundRate, ceiling);
        ModFreeSong(song);
        if (firstPass < 0) {
            std::fprintf(stderr, "tarnwick: the song did not come back to a played order position within "
                                 "%.0f s; recording that much\n", MaxDefaultSeconds);
            firstPass = ceiling;
        }
        timeline->fadeStart = firstPass;
        timeline->soundFrames = firstPass + FadeFrames;
    }
    timeline->pictures = std::max<int64_t>((timeline->soundFrames * options.fps + SoundRate - 1) / SoundRate, 1);
    timeline->length = SoundFrameOfPicture(timeline->pictures, options.fps);
    return true;
}

// The song rendered block by block, handed out in the lengths the pictures need.
struct SoundSource {
    std::vector<int16_t> block;   // the current block, interleaved stereo
    int32_t blockAt = 0;          // frames of it already handed out
    int32_t blockFrames = 0;      // frames in it
    int64_t produced = 0;         // frames handed out so far
};

// The next `count` frames of the song with the fade applied, silence after its part, into `out`; false when
// the render stops.
bool TakeSound(SoundSource* source, const Timeline& timeline, int64_t count, std::vector<int16_t>* out)
{
    out->clear();
    while (count > 0) {
        if (source->produced >= timeline.soundFrames) {
            out->insert(out->end(), static_cast<size_t>(2 * count), 0);
            source->produced += count;
            break;
        }
        if (source->blockAt == source->blockFrames) {
            source->blockFrames = SndRenderBlock(source->block.data());
            source->blockAt = 0;
            if (source->blockFrames <= 0) {
                return false;
            }
        }
        int64_t take = std::min<int64_t>({count, source->blockFrames - source->blockAt,
                                          timeline.soundFrames - source->produced});
        for (int64_t k = 0; k < take; k++) {
            float gain = FadeGain(timeline, source->produced + k);
            for (int channel = 0; channel < 2; channel++) {
                int16_t sample = source->block[2 * (source->blockAt + k) + channel];
                out->push_back(gain >= 1.0f ? sample : static_cast<int16_t>(std::lround(sample * gain)));
            }
        }
        source->blockAt += static_cast<int32_t>(take);
        source->produced += take;
        count -= take;
    }
    return true;
}

// Draws the next frame as the frame loop does and reads it back, faded, bottom row first.
void TakePicture(const RecordOptions& options, float gain, std::vector<uint8_t>* rgb)
{
    DrawScene();
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, options.width, options.height, GL_RGB, GL_UNSIGNED_BYTE, rgb->data());
    if (gain < 1.0f) {
        for (uint8_t& value : *rgb) {
            value = static_cast<uint8_t>(std::lround(value * gain));
        }
    }
}

// Pictures and sound into the open file, picture n with the sound up to picture n + 1.
bool WriteRecording(VideoFile* file, const RecordOptions& options, const Timeline& timeline, Song* song,
                    std::string* error)
{
    if (!SndRenderStart(song, SoundRate)) {
        *error = "not enough memory to play the song";
        return false;
    }
    SoundSource source;
    source.block.assign(2 * static_cast<size_t>(BlockFrames), 0);
    std::vector<int16_t> sound;
    std::vector<uint8_t> rgb(static_cast<size_t>(options.width) * options.height * 3);
    bool progress = !options.quiet && isatty(STDERR_FILENO) != 0;
    bool ok = true;
    for (int64_t picture = 0; ok && picture < timeline.pictures; picture++) {
        TakePicture(options, FadeGain(timeline, SoundFrameOfPicture(picture, options.fps)), &rgb);
        ok = VidWriteFrame(file, rgb.data(), error);
        int64_t soundEnd = SoundFrameOfPicture(picture + 1, options.fps);
        if (ok && soundEnd > source.produced) {
            if (!TakeSound(&source, timeline, soundEnd - source.produced, &sound)) {
                *error = "the song's render stopped";
                ok = false;
            } else {
                ok = VidWriteSound(file, sound.data(), static_cast<int32_t>(sound.size() / 2), error);
            }
        }
        if (progress && (picture % options.fps == 0 || picture + 1 == timeline.pictures)) {
            ShowRenderProgress(source.produced, timeline.length, SoundRate, 0, 0);
        }
    }
    if (progress) {
        std::fputc('\n', stderr);
    }
    SndRenderStop();
    return ok;
}

} // namespace

int RecordIntro(const RecordOptions& options)
{
    // Nothing may wait for an answer: the bitmap loader's messages go to standard error.
    PlatMessageBox = PlatMessageBoxToStderr;
    VideoContainer container = VidContainerOf(options.path);
    if (container == VideoContainer::None) {
        std::fprintf(stderr, "tarnwick: --record %s: the name must end in .mp4 or .webm\n"
                             "Run with --help for more information.\n", options.path.c_str());
        return ExitUsage;
    }
    LoadGreetingAssets();
    PrepareMusic();
    Timeline timeline{};
    Song* song = nullptr;
    if (PlanTimeline(options, &timeline)) {
        song = ModLoadSong(introSongPath.c_str(), nullptr);
    }
    if (song == nullptr) {
        // The intro's own line, as when the song is missing at start-up.
        std::fputs("Error loading song\n", stdout);
        std::fflush(stdout);
        return ExitFailed;
    }

    const char* reason = "";
    PlatOffscreen offscreen = PlatCreateOffscreen(options.width, options.height, &reason);
    if (offscreen == nullptr) {
        ModFreeSong(song);
        ReportError(std::string("cannot record: ") + reason);
        return ExitFailed;
    }
    ResizeScene(options.width, options.height);
    InitSceneState();

    std::string temporary = options.path + "." + std::to_string(getpid()) + ".part";
    if (temporary.size() >= sizeof temporaryPath) {
        PlatDestroyOffscreen(offscreen);
        ModFreeSong(song);
        ReportError(options.path + ": the name is too long");
        return ExitFailed;
    }
    std::memcpy(temporaryPath, temporary.c_str(), temporary.size() + 1);
    SignalGuard signals;
    temporaryExists = true;

    VideoSettings settings{options.width, options.height, options.fps, SoundRate};
    std::string error;
    VideoFile* file = VidOpen(temporary, container, settings, &error);
    bool ok = file != nullptr && WriteRecording(file, options, timeline, song, &error);
    if (file != nullptr) {
        if (ok) {
            ok = VidFinish(file, &error) && WriteToDisk(temporary, &error);
        } else {
            VidAbandon(file);
        }
    }
    if (ok && std::rename(temporary.c_str(), options.path.c_str()) != 0) {
        error = std::string("cannot write: ") + std::strerror(errno);
        ok = false;
    }
    if (ok) {
        WriteFolderToDisk(options.path);
    }
    if (!ok) {
        unlink(temporary.c_str());
    }
    temporaryExists = false;

    PlatDestroyOffscreen(offscreen);
    ModFreeSong(song);
    if (!ok) {
        ReportError(options.path + ": " + error);
        return ExitFailed;
    }
    return ExitDone;
}
