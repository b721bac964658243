// The soak: the intro's song streamed through the test device, which advances one block at a time and far
// faster than real time. Every block the streaming thread mixes is compared with the same block rendered
// without a device, so a block mixed twice, skipped or out of turn shows at once, as does any drift of the
// song's clock; the process's memory is checked not to grow while it streams.
//
// Length: TARNWICK_SOAK_SECONDS seconds of audio (default 600). By default the device's played-bytes count
// starts a little before 2^32 bytes so that it passes the 32-bit limit halfway through; with
// TARNWICK_SOAK_FROM_ZERO=1 it starts at 0 as on a real device (the long run: 28800 s passes 2^32 after
// about 6.8 hours of audio).
#include "music/music.h"
#include "platform/fake/fake_audio.h"
#include "sound/sound.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifndef TARNWICK_SOURCE_DIR
#error "TARNWICK_SOURCE_DIR must name the source tree"
#endif

namespace {

const std::string SongPath = std::string(TARNWICK_SOURCE_DIR) + "/data/glimrook.xm";

// One block as the device-free render made it: a digest of its samples and the song's position after it.
struct BlockRecord {
    uint64_t digest;
    BlockPosition position;
};

uint64_t Digest(const int16_t* samples, int32_t count)
{
    // FNV-1a over the bytes: any changed sample changes it.
    uint64_t hash = 1469598103934665603ull;
    const auto* bytes = reinterpret_cast<const uint8_t*>(samples);
    for (size_t i = 0; i < static_cast<size_t>(count) * 2; i++) {
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    }
    return hash;
}

bool SamePosition(const BlockPosition& a, const BlockPosition& b)
{
    return a.orderPos == b.orderPos && a.row == b.row && a.elapsedMs == b.elapsedMs;
}

// Resident memory in bytes, from /proc/self/statm.
uint64_t ResidentBytes()
{
    std::FILE* file = std::fopen("/proc/self/statm", "r");
    unsigned long long size = 0;
    unsigned long long resident = 0;
    if (file != nullptr) {
        if (std::fscanf(file, "%llu %llu", &size, &resident) != 2) {
            resident = 0;
        }
        std::fclose(file);
    }
    return resident * 4096;
}

double EnvNumber(const char* name, double fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atof(text) : fallback;
}

TEST(Soak, TheIntroSongStreamsBlockForBlockAsRenderedWithoutDrift)
{
    const int32_t rate = 44100;
    const double seconds = EnvNumber("TARNWICK_SOAK_SECONDS", 600.0);
    const bool fromZero = EnvNumber("TARNWICK_SOAK_FROM_ZERO", 0.0) != 0.0;
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    FakeAudioReset();

    // The reference: every block the ring will hold, rendered without a device from a song of its own (the
    // player changes a sample's finetune while it plays, so the streamed song must start from a fresh load).
    // A render runs only while the output is closed, so it comes first.
    auto started = std::chrono::steady_clock::now();
    Song* reference = ModLoadSong(SongPath.c_str(), nullptr);
    ASSERT_NE(reference, nullptr);
    reference->onTick = ModUpdateTick;
    ASSERT_TRUE(SndRenderStart(reference, rate));
    const int64_t steps = static_cast<int64_t>(seconds * rate / BlockFrames);
    const uint64_t blockBytes = static_cast<uint64_t>(BlockFrames) * 4;
    const uint64_t ringBytes = blockBytes * static_cast<uint64_t>(RingBlocks);
    std::vector<BlockRecord> expected(static_cast<size_t>(RingBlocks + steps));
    std::vector<int16_t> block(2 * static_cast<size_t>(BlockFrames));
    for (BlockRecord& record : expected) {
        ASSERT_EQ(SndRenderBlock(block.data()), BlockFrames);
        record.digest = Digest(block.data(), 2 * BlockFrames);
        record.position = BlockPosition{static_cast<uint8_t>(reference->orderPos), static_cast<uint8_t>(reference->row),
                                        reference->elapsedMs};
    }
    SndRenderStop();
    ModFreeSong(reference);
    double renderSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    ASSERT_TRUE(SndInit(rate));
    Song* song = ModLoadSong(SongPath.c_str(), nullptr);
    ASSERT_NE(song, nullptr);
    song->onTick = ModUpdateTick;
    ASSERT_TRUE(ModPlaySong(song));
    // The pre-mix is the first ring of the render.
    for (int32_t k = 0; k < RingBlocks; k++) {
        ASSERT_EQ(Digest(OutputRing + 2 * static_cast<ptrdiff_t>(k) * BlockFrames, 2 * BlockFrames),
                  expected[static_cast<size_t>(k)].digest) << "pre-mixed block " << k;
    }

    // Whole ring turns move the count without changing the block being played: nothing is mixed.
    uint64_t base = 0;
    if (!fromZero) {
        uint64_t crossing = (uint64_t{1} << 32) - static_cast<uint64_t>(steps / 2) * blockBytes;
        base = crossing / ringBytes * ringBytes;
    }
    // Counted after the count is set: two more queries then mean a whole poll has seen it.
    fakeAudio.playedBytes.store(base);
    uint64_t since = fakeAudio.queries.load();
    ASSERT_TRUE(FakeAudioWaitQueries(since, 2));
    ASSERT_EQ(WriteBlock, 0);

    uint64_t residentAtStart = 0;
    size_t heapAtStart = 0;
    int32_t lastElapsedMs = BlockPositions[RingBlocks - 1].elapsedMs;
    started = std::chrono::steady_clock::now();
    for (int64_t step = 0; step < steps; step++) {
        if (step == 1000 || (steps <= 1000 && step == 0)) {
            // Measured once the streaming is under way, so only growth while it runs counts.
            residentAtStart = ResidentBytes();
            heapAtStart = mallinfo2().uordblks;
        }
        // The device finishes one more block.
        uint64_t played = base + static_cast<uint64_t>(step + 1) * blockBytes;
        fakeAudio.playedBytes.store(played);
        since = fakeAudio.queries.load();
        ASSERT_TRUE(FakeAudioWaitQueries(since, 2)) << "the streaming thread stopped polling at step " << step;

        // Exactly the block just played was mixed again, with the ring's next contents: the one 100 blocks on.
        int32_t finished = static_cast<int32_t>(step % RingBlocks);
        int32_t playing = static_cast<int32_t>((played / 4 % static_cast<uint64_t>(RingFrames)) /
                                               static_cast<uint64_t>(BlockFrames));
        ASSERT_EQ(playing, (finished + 1) % RingBlocks);
        ASSERT_EQ(WriteBlock, playing) << "at step " << step;
        const BlockRecord& want = expected[static_cast<size_t>(RingBlocks + step)];
        ASSERT_EQ(Digest(OutputRing + 2 * static_cast<ptrdiff_t>(finished) * BlockFrames, 2 * BlockFrames), want.digest)
            << "block " << finished << " at step " << step << " (played bytes " << played << ")";
        const BlockPosition& got = BlockPositions[finished];
        ASSERT_TRUE(SamePosition(got, want.position)) << "position after step " << step;
        // The clock only moves forward, and never ahead of the audio mixed (it truncates each piece). Copied
        // out of the packed record before the comparisons take it by reference.
        int32_t elapsedMs = got.elapsedMs;
        ASSERT_GT(elapsedMs, lastElapsedMs) << "at step " << step;
        int64_t framesMixed = (RingBlocks + step + 1) * static_cast<int64_t>(BlockFrames);
        ASSERT_LE(elapsedMs, framesMixed * 1000 / rate);
        lastElapsedMs = elapsedMs;
    }
    double streamSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    uint64_t residentAtEnd = ResidentBytes();
    size_t heapAtEnd = mallinfo2().uordblks;

    uint64_t finalCount = base + static_cast<uint64_t>(steps) * blockBytes;
    std::printf("soak: %.0f s of audio (%lld blocks) streamed in %.1f s (reference render %.1f s); played-bytes "
                "count %llu .. %llu; song clock %d ms; resident %llu -> %llu KiB, heap in use %zu -> %zu bytes\n",
                static_cast<double>(steps) * BlockFrames / rate, static_cast<long long>(steps), streamSeconds,
                renderSeconds, static_cast<unsigned long long>(base), static_cast<unsigned long long>(finalCount),
                lastElapsedMs, static_cast<unsigned long long>(residentAtStart / 1024),
                static_cast<unsigned long long>(residentAtEnd / 1024), heapAtStart, heapAtEnd);
    if (!fromZero || steps * blockBytes > (uint64_t{1} << 32)) {
        EXPECT_GT(finalCount, uint64_t{1} << 32) << "the count never passed 2^32 bytes";
    }
    // No growth: the heap in use is unchanged (the streaming allocates nothing) and the resident size grows
    // by no more than page-level noise.
    EXPECT_EQ(heapAtEnd, heapAtStart);
    EXPECT_LE(residentAtEnd, residentAtStart + 512 * 1024);

    ModFreeSong(song);
    SndClose();
}

}  // namespace
