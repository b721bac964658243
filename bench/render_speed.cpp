// render_speed SONG.xm [SECONDS]: how fast the portable mixer renders a song, as seconds of sound per second,
// for the same figure natively and in WebAssembly (the browser build's mixer; run under node, see
// docs/performance.md). Google Benchmark does not build for WebAssembly here, so this is one plain timed loop:
// SECONDS of sound (default 141, the intro's song) rendered five times, the fastest counted, in processor
// time (the machine may be shared).
#include "cpu_clock.h"
#include "music/music.h"
#include "platform/platform.h"
#include "sound/sound.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs("usage: render_speed SONG.xm [SECONDS]\n", stderr);
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 141.0;
    PlatMessageBox = PlatMessageBoxToStderr;
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    Song* song = ModLoadSong(argv[1], nullptr);
    if (song == nullptr || !(seconds > 0.0)) {
        std::fprintf(stderr, "render_speed: %s does not load\n", argv[1]);
        return 1;
    }
    // The kernel every build has; the x86 vector loops are measured by mixer_bench and song_bench.
    SndMixKernel = SndKernel::Portable;
    std::vector<int16_t> block(2 * 2048);
    double best = 0.0;
    int64_t frames = 0;
    for (int round = 0; round < 5; round++) {
        if (!SndRenderStart(song, 44100)) {
            std::fputs("render_speed: the render does not start\n", stderr);
            return 1;
        }
        frames = 0;
        const int64_t wanted = static_cast<int64_t>(seconds * 44100.0);
        double start = ProcessCpuSeconds();
        while (frames < wanted) {
            frames += SndRenderBlock(block.data());
        }
        double used = ProcessCpuSeconds() - start;
        SndRenderStop();
        double speed = used > 0.0 ? static_cast<double>(frames) / 44100.0 / used : 0.0;
        if (speed > best) {
            best = speed;
        }
    }
    std::printf("%.1f s of sound rendered with the portable mixer at %.0f x real time (processor time)\n",
                static_cast<double>(frames) / 44100.0, best);
    ModFreeSong(song);
    return 0;
}
