// The player, the loaders and whole songs: ModUpdateTick per tick on a 32-track module, ModLoadSong of the
// intro's song, LoadDibImage over the whole glyph set and both pictures, whole-song renders through the fast
// path and the reference, and the intro's start-up work (every bitmap, the song, the pre-mix) with the heap
// it leaves. Paths are those of the source tree (TARNWICK_SOURCE_DIR).
#include "bench_modules.h"
#include "image/image.h"
#include "scene/scene.h"
#include "tests/support/song_support.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

const std::string SourceDir = TARNWICK_SOURCE_DIR;
const std::string DataDir = SourceDir + "/data";
const std::string GlimrookPath = DataDir + "/glimrook.xm";

// Every bitmap the intro loads at start-up: both pictures and each glyph of the table.
std::vector<std::string> BitmapPaths()
{
    std::vector<std::string> paths{DataDir + "/l1.bmp", DataDir + "/l2.bmp"};
    for (const char* name : GlyphFiles) {
        if (name != nullptr) {
            paths.push_back(SourceDir + "/" + name);  // names start with "data/letters/"
        }
    }
    return paths;
}

void BM_ModUpdateTick_Busy32(benchmark::State& state)
{
    Song* song = LoadModule(Busy32Module());
    if (song == nullptr || !StartStreamedSong(song)) {
        state.SkipWithError("the module does not play");
        return;
    }
    for (auto _ : state) {
        ModUpdateTick(song);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    StopStreamedSong(song);
}
BENCHMARK(BM_ModUpdateTick_Busy32);

void BM_ModLoadSong_Glimrook(benchmark::State& state)
{
    for (auto _ : state) {
        Song* song = LoadSongFile(GlimrookPath.c_str());
        if (song == nullptr) {
            state.SkipWithError("data/glimrook.xm does not load");
            return;
        }
        ModFreeSong(song);
    }
}
BENCHMARK(BM_ModLoadSong_Glimrook)->Unit(benchmark::kMillisecond);

void BM_LoadDibImage_GlyphSetAndPictures(benchmark::State& state)
{
    PlatMessageBox = PlatMessageBoxToStderr;
    std::vector<std::string> paths = BitmapPaths();
    for (auto _ : state) {
        for (const std::string& path : paths) {
            RgbImage* image = LoadDibImage(path.c_str());
            if (image == nullptr) {
                state.SkipWithError(("cannot load " + path).c_str());
                return;
            }
            FreeRgbImage(image);
        }
    }
    state.counters["bitmaps"] = static_cast<double>(paths.size());
}
BENCHMARK(BM_LoadDibImage_GlyphSetAndPictures)->Unit(benchmark::kMillisecond);

// The intro's start-up work outside the window system: every bitmap, the song, the output and the pre-mix
// of the 2-second ring. own_heap_MB is what it leaves allocated (malloc's in-use bytes), i.e. the intro's own
// heap while it plays.
void BM_StartupLoadAndPreMix(benchmark::State& state)
{
    PlatMessageBox = PlatMessageBoxToStderr;
    std::vector<std::string> paths = BitmapPaths();
    double heapBytes = 0.0;
    for (auto _ : state) {
        size_t before = mallinfo2().uordblks;
        std::vector<RgbImage*> images;
        for (const std::string& path : paths) {
            images.push_back(LoadDibImage(path.c_str()));
        }
        Song* song = LoadSongFile(GlimrookPath.c_str());
        if (song == nullptr || !StartStreamedSong(song)) {
            state.SkipWithError("the intro's song does not play");
            return;
        }
        heapBytes = static_cast<double>(mallinfo2().uordblks - before);
        state.PauseTiming();
        StopStreamedSong(song);
        for (RgbImage* image : images) {
            FreeRgbImage(image);
        }
        state.ResumeTiming();
    }
    state.counters["own_heap_MB"] = heapBytes / (1024.0 * 1024.0);
}
BENCHMARK(BM_StartupLoadAndPreMix)->Unit(benchmark::kMillisecond);

// A whole song from its start to where it comes back to a played order position, streamed block after block
// as the intro streams it (loading excluded). realtime_x = seconds of sound per second of CPU time.
void RenderSong(benchmark::State& state, const std::function<Song*()>& load)
{
    SndKernel kernel = static_cast<SndKernel>(state.range(0));
    Song* probe = load();
    if (probe == nullptr) {
        state.SkipWithError("the song does not load");
        return;
    }
    int64_t frames = SongLengthFrames(probe);
    int64_t blocks = (frames + 883) / 884;
    for (auto _ : state) {
        state.PauseTiming();
        Song* song = load();
        state.ResumeTiming();
        SndMixKernel = kernel;
        if (!StartStreamedSong(song)) {
            state.SkipWithError("the song does not play");
            return;
        }
        for (int64_t b = RingBlocks; b < blocks; b++) {
            SndMixBlock();
        }
        benchmark::DoNotOptimize(OutputRing[0]);
        state.PauseTiming();
        StopStreamedSong(song);
        state.ResumeTiming();
    }
    SndMixKernel = SndBestKernel();
    state.counters["song_s"] = static_cast<double>(frames) / 44100.0;
    state.counters["realtime_x"] = benchmark::Counter(static_cast<double>(state.iterations()) * blocks * 884 / 44100.0,
                                                      benchmark::Counter::kIsRate);
}

void BM_Render_Glimrook(benchmark::State& state)
{
    RenderSong(state, [] { return LoadSongFile(GlimrookPath.c_str()); });
}
BENCHMARK(BM_Render_Glimrook)
    ->ArgName("kernel")
    ->Arg(static_cast<int>(SndBestKernel()))
    ->Arg(static_cast<int>(SndKernel::Reference))
    ->Unit(benchmark::kMillisecond);

void BM_Render_Busy32(benchmark::State& state)
{
    XmModule module = Busy32Module();
    RenderSong(state, [&module] { return LoadModule(module); });
}
BENCHMARK(BM_Render_Busy32)
    ->ArgName("kernel")
    ->Arg(static_cast<int>(SndBestKernel()))
    ->Arg(static_cast<int>(SndKernel::Reference))
    ->Unit(benchmark::kMillisecond);

// Bytes of sample data a module keeps in memory (16 bits per frame, guard frames included): xmrender's memory
// allowance is 20 MB plus this.
int PrintSampleBytes(const char* path)
{
    Song* song = LoadSongFile(path);
    if (song == nullptr) {
        std::fprintf(stderr, "cannot load %s\n", path);
        return 1;
    }
    uint64_t bytes = 0;
    for (int32_t i = 0; i < song->instrumentCount; i++) {
        const Instrument& instrument = song->instruments[i];
        for (int32_t s = 0; s < instrument.sampleCount; s++) {
            bytes += (uint64_t{instrument.samples[s]->length} + 10) * 2;
        }
    }
    std::printf("%llu\n", static_cast<unsigned long long>(bytes));
    ModFreeSong(song);
    return 0;
}

}  // namespace

// song_bench --sample-bytes FILE.xm prints the sample bytes of a module; otherwise the benchmarks run.
int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--sample-bytes") == 0) {
        return PrintSampleBytes(argv[2]);
    }
    if (argc == 3 && std::strcmp(argv[1], "--write-busy32") == 0) {
        return XmSaveModule(Busy32Module(), argv[2]) ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
