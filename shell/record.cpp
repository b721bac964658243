// --record: the intro drawn without a window, frame by frame, and its song rendered as xmrender renders it
// (the recording's steps, which the browser's video shares), both written into a video file. One animation
// step per video frame, so the video shows what a screen of that rate shows; the sound is the streamed song
// bit for bit until the encoder takes it. The file appears only when complete: everything goes into a
// temporary file beside it, put on the disk and renamed at the end.
#include "shell/shell.h"

#include "cli/cli.h"
#include "scene/scene.h"
#include "video/video.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>

namespace {

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

// Pictures and sound into the open file, picture n with the sound up to picture n + 1.
bool WriteRecording(VideoFile* file, Recorder* recorder, std::string* error)
{
    const RecordOptions& options = recorder->options;
    bool progress = !options.quiet && isatty(STDERR_FILENO) != 0;
    bool ok = true;
    for (int64_t picture = 0; ok && picture < recorder->timeline.pictures; picture++) {
        ok = RecorderStep(recorder, error) && VidWriteFrame(file, recorder->picture, error);
        if (ok && !recorder->sound.empty()) {
            ok = VidWriteSound(file, recorder->sound.data(), static_cast<int32_t>(recorder->sound.size() / 2),
                               error);
        }
        if (progress && (picture % options.fps == 0 || picture + 1 == recorder->timeline.pictures)) {
            ShowRenderProgress(recorder->produced, recorder->timeline.length, RecordSoundRate, 0, 0);
        }
    }
    if (progress) {
        std::fputc('\n', stderr);
    }
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
    Recorder recorder;
    std::string reason;
    switch (RecorderOpen(options, PictureLayout::RgbBottomFirst, &recorder, &reason)) {
    case RecordFailure::None:
        break;
    case RecordFailure::Song:
        // The intro's own line, as when the song is missing at start-up.
        std::fputs("Error loading song\n", stdout);
        std::fflush(stdout);
        return ExitFailed;
    case RecordFailure::Drawing:
        ReportError("cannot record: " + reason);
        return ExitFailed;
    case RecordFailure::Memory:
        ReportError(options.path + ": " + reason);
        return ExitFailed;
    }

    std::string temporary = options.path + "." + std::to_string(getpid()) + ".part";
    if (temporary.size() >= sizeof temporaryPath) {
        RecorderClose(&recorder);
        ReportError(options.path + ": the name is too long");
        return ExitFailed;
    }
    std::memcpy(temporaryPath, temporary.c_str(), temporary.size() + 1);
    SignalGuard signals;
    temporaryExists = true;

    VideoSettings settings{options.width, options.height, options.fps, RecordSoundRate};
    std::string error;
    VideoFile* file = VidOpen(temporary, container, settings, &error);
    bool ok = file != nullptr && WriteRecording(file, &recorder, &error);
    RecorderClose(&recorder);
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

    if (!ok) {
        ReportError(options.path + ": " + error);
        return ExitFailed;
    }
    return ExitDone;
}
