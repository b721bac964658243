// A probe preloaded into the running intro (LD_PRELOAD) by bench/run.sh, so that start-up and streaming are
// measured in the real program without a hook in it. It wraps three SDL calls the intro makes:
// SDL_CreateWindow (the window opens: start-up's own loading is done), SDL_PauseAudioDevice with 0 (the ring
// is pre-mixed and the device starts) and SDL_GL_SwapWindow (a frame is presented).
//
// TW_PROBE_START_NS: the wall-clock time (CLOCK_REALTIME, ns) taken just before the intro was started.
// TW_PROBE_OUT: the file the figures are appended to, one "name value" per line.
// TW_PROBE_SECONDS: how long to let the intro run after its first frame before reading the streaming
// thread's CPU time; 0 or unset ends the intro at its first frame.
//
// Figures: loaded_ms (the probe's constructor: executable and libraries loaded), window_ms,
// gl_context_done_ms, audio_init_ms, audio_open_done_ms, audio_start_ms and first_frame_ms since TW_PROBE_START_NS; first_frame_cpu_ms (the
// process's CPU time, all threads, up to the first frame); stream_cpu_percent (the
// "tw-stream" thread's CPU time over the time since the device started); process_heap_mb (malloc's in-use
// bytes of the whole process, window system and GL driver included). The intro is then ended with _exit(0).
#include <dlfcn.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <string>

struct SDL_Window;

namespace {

int64_t NowNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t StartNs()
{
    const char* text = std::getenv("TW_PROBE_START_NS");
    return text != nullptr ? std::strtoll(text, nullptr, 10) : NowNs();
}

void Report(const char* name, double value)
{
    const char* path = std::getenv("TW_PROBE_OUT");
    FILE* out = path != nullptr ? std::fopen(path, "a") : stderr;
    if (out == nullptr) {
        return;
    }
    std::fprintf(out, "%s %.3f\n", name, value);
    if (out != stderr) {
        std::fclose(out);
    }
}

// CPU time (ns) of this process's thread named `name`, from its scheduler statistics; -1 if there is none.
int64_t ThreadCpuNs(const char* name)
{
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) {
        return -1;
    }
    int64_t result = -1;
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::string base = std::string("/proc/self/task/") + entry->d_name;
        char comm[64] = {};
        FILE* file = std::fopen((base + "/comm").c_str(), "r");
        if (file == nullptr) {
            continue;
        }
        bool named = std::fgets(comm, sizeof comm, file) != nullptr && std::strncmp(comm, name, std::strlen(name)) == 0;
        std::fclose(file);
        if (!named) {
            continue;
        }
        file = std::fopen((base + "/schedstat").c_str(), "r");
        long long ns = 0;
        if (file != nullptr && std::fscanf(file, "%lld", &ns) == 1) {
            result = ns;
        }
        if (file != nullptr) {
            std::fclose(file);
        }
    }
    closedir(tasks);
    return result;
}

int64_t audioStartNs = 0;
int64_t firstFrameNs = 0;

double ProcessCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// When the program's own code starts: the executable and its libraries are loaded.
__attribute__((constructor)) void ReportLoaded()
{
    Report("loaded_ms", static_cast<double>(NowNs() - StartNs()) / 1e6);
}

}  // namespace

// The audio output's start (SndInit): before SDL opens its audio subsystem, and after the device is open.
extern "C" int SDL_InitSubSystem(uint32_t flags)
{
    using Fn = int (*)(uint32_t);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "SDL_InitSubSystem"));
    if ((flags & 0x10u) != 0) {  // SDL_INIT_AUDIO
        Report("audio_init_ms", static_cast<double>(NowNs() - StartNs()) / 1e6);
    }
    return real(flags);
}

extern "C" uint32_t SDL_OpenAudioDevice(const char* device, int capture, const void* wanted, void* obtained,
                                        int changes)
{
    using Fn = uint32_t (*)(const char*, int, const void*, void*, int);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "SDL_OpenAudioDevice"));
    uint32_t result = real(device, capture, wanted, obtained, changes);
    Report("audio_open_done_ms", static_cast<double>(NowNs() - StartNs()) / 1e6);
    return result;
}

extern "C" void* SDL_GL_CreateContext(SDL_Window* window)
{
    using Fn = void* (*)(SDL_Window*);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "SDL_GL_CreateContext"));
    void* context = real(window);
    Report("gl_context_done_ms", static_cast<double>(NowNs() - StartNs()) / 1e6);
    return context;
}

extern "C" SDL_Window* SDL_CreateWindow(const char* title, int x, int y, int w, int h, uint32_t flags)
{
    using Fn = SDL_Window* (*)(const char*, int, int, int, int, uint32_t);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "SDL_CreateWindow"));
    static bool first = true;
    if (first) {
        first = false;
        Report("window_ms", static_cast<double>(NowNs() - StartNs()) / 1e6);
    }
    return real(title, x, y, w, h, flags);
}

extern "C" void SDL_PauseAudioDevice(uint32_t device, int pauseOn)
{
    using Fn = void (*)(uint32_t, int);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "SDL_PauseAudioDevice"));
    if (pauseOn == 0 && audioStartNs == 0) {
        audioStartNs = NowNs();
        Report("audio_start_ms", static_cast<double>(audioStartNs - StartNs()) / 1e6);
    }
    real(device, pauseOn);
}

extern "C" void SDL_GL_SwapWindow(SDL_Window* window)
{
    using Fn = void (*)(SDL_Window*);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "SDL_GL_SwapWindow"));
    real(window);
    int64_t now = NowNs();
    if (firstFrameNs == 0) {
        firstFrameNs = now;
        Report("first_frame_ms", static_cast<double>(now - StartNs()) / 1e6);
        Report("first_frame_cpu_ms", ProcessCpuMs());
    }
    const char* seconds = std::getenv("TW_PROBE_SECONDS");
    double wait = seconds != nullptr ? std::atof(seconds) : 0.0;
    if (static_cast<double>(now - firstFrameNs) / 1e9 < wait) {
        return;
    }
    if (wait > 0.0 && audioStartNs != 0) {
        int64_t cpu = ThreadCpuNs("tw-stream");
        if (cpu >= 0) {
            Report("stream_cpu_percent", 100.0 * static_cast<double>(cpu) / static_cast<double>(now - audioStartNs));
        }
    }
    Report("process_heap_mb", static_cast<double>(mallinfo2().uordblks) / (1024.0 * 1024.0));
    std::fflush(nullptr);
    _exit(0);
}
