// Allocation failures: every allocation that loading a picture (LoadDibImage), loading a song (ModLoadSong)
// and starting it (ModPlaySong, and SndRenderStart for the device-free render) make fails in turn, the n-th
// for n = 1, 2, ... until a run needs none, and each failure must end cleanly: the documented message or
// result, nothing started, nothing leaked (the sanitizer build checks leaks at exit), and the run that needs
// no failure gives the same result as a load that never failed.
//
// The loaders take their buffers from replaceable allocation pointers (DibAllocZeroed, ModAllocZeroed,
// SndAllocZeroed). The picture's record and pixels are C++ allocations: this program replaces the global
// operator new, which counts and fails them in the same sequence while a run is armed.
#include "image/image.h"
#include "music/music.h"
#include "platform/fake/fake_audio.h"
#include "platform/platform.h"
#include "sound/sound.h"
#include "tools/xmwriter/xmwriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

const std::string SongPath = std::string(TARNWICK_SOURCE_DIR) + "/data/glimrook.xm";

// The allocation to fail (1-based; 0 = none) and the allocations counted so far.
int failAt = 0;
int allocations = 0;
// While set, C++ allocations are counted (and may fail) too.
bool countNew = false;

bool FailHere()
{
    allocations++;
    return allocations == failAt;
}

void* FailingSndAlloc(size_t bytes)
{
    return FailHere() ? nullptr : SndSystemAllocZeroed(bytes);
}

// Arms the n-th failure and restarts the count.
void Arm(int n)
{
    failAt = n;
    allocations = 0;
}

class SoundFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
        FakeAudioReset();
        ASSERT_TRUE(SndInit(44100));
        song = ModLoadSong(SongPath.c_str(), nullptr);
        ASSERT_NE(song, nullptr);
        song->onTick = ModUpdateTick;
    }
    void TearDown() override
    {
        SndAllocZeroed = SndSystemAllocZeroed;
        ModFreeSong(song);
        SndClose();
    }
    Song* song = nullptr;
};

TEST_F(SoundFaults, EachFailedAllocationOfPlayStartsNothing)
{
    SndAllocZeroed = FailingSndAlloc;
    int n = 1;
    for (;; n++) {
        ASSERT_LT(n, 100) << "play never stopped allocating";
        Arm(n);
        int threadsBefore = fakeAudio.threadsStarted.load();
        int queuesBefore = fakeAudio.queues;
        bool played = ModPlaySong(song);
        if (allocations < n) {
            // This run needed fewer allocations than the one failed: it is the run that needs no failure.
            ASSERT_TRUE(played);
            break;
        }
        EXPECT_FALSE(played) << "allocation " << n;
        EXPECT_EQ(fakeAudio.threadsStarted.load(), threadsBefore) << "a thread started after allocation " << n;
        EXPECT_EQ(fakeAudio.queues, queuesBefore) << "a ring was queued after allocation " << n;
        EXPECT_EQ(CurrentSong, nullptr);
        EXPECT_EQ(MixBuffer, nullptr);
        EXPECT_EQ(BlockPositions, nullptr);
        EXPECT_EQ(OutputRing, nullptr);
    }
    // Every allocation was failed once: the ring, the mix buffer and the block table.
    EXPECT_EQ(n - 1, 3);
    // The play that succeeded streams: the device is fed a ring and the thread mixes what has been played.
    EXPECT_NE(fakeAudio.ring, nullptr);
    fakeAudio.playedBytes.store(static_cast<uint64_t>(BlockFrames) * 4);
    uint64_t since = fakeAudio.queries.load();
    ASSERT_TRUE(FakeAudioWaitQueries(since, 2));
    EXPECT_EQ(WriteBlock, 1);
    EXPECT_TRUE(ModStopSong(song));
}

TEST_F(SoundFaults, AFailedPlayAfterAPlayLeavesTheDeviceIdleAndPlayWorksAgain)
{
    ASSERT_TRUE(ModPlaySong(song));
    SndAllocZeroed = FailingSndAlloc;
    Arm(2);
    EXPECT_FALSE(ModPlaySong(song));
    // The earlier ring was taken back from the device before the new one was made; nothing is queued.
    EXPECT_EQ(fakeAudio.ring, nullptr);
    EXPECT_FALSE(fakeAudio.queuedOverLoop);
    Arm(0);
    EXPECT_TRUE(ModPlaySong(song));
    EXPECT_NE(fakeAudio.ring, nullptr);
}

TEST_F(SoundFaults, AFailedRenderStartRendersNothingAndTheNextOneMatchesTheStream)
{
    // A render starts only while the output is closed.
    SndClose();
    SndAllocZeroed = FailingSndAlloc;
    Arm(1);
    EXPECT_FALSE(SndRenderStart(song, 44100));
    std::vector<int16_t> block(2 * static_cast<size_t>(BlockFrames));
    EXPECT_EQ(SndRenderBlock(block.data()), 0);
    Arm(0);
    ASSERT_TRUE(SndRenderStart(song, 44100));
    ASSERT_EQ(SndRenderBlock(block.data()), BlockFrames);
    SndRenderStop();
    EXPECT_EQ(SndRenderBlock(block.data()), 0);
    // The same first block the pre-mix of a play makes.
    SndAllocZeroed = SndSystemAllocZeroed;
    ASSERT_TRUE(SndInit(44100));
    ASSERT_TRUE(ModPlaySong(song));
    EXPECT_TRUE(std::equal(block.begin(), block.end(), OutputRing));
}

// ---- Songs -----------------------------------------------------------------------------------------------------

void* FailingModAlloc(size_t bytes)
{
    return FailHere() ? nullptr : ModSystemAllocZeroed(bytes);
}

// What a loaded song holds, in enough detail to tell two loads apart.
std::string Describe(const Song* song)
{
    char counts[64];
    std::snprintf(counts, sizeof counts, "%d/%d/%d/%d;", song->orderCount, song->channelCount, song->patternSlotCount,
                  song->instrumentCount);
    std::string text = counts;
    for (int32_t p = 0; p < song->patternSlotCount; p++) {
        const Pattern& pattern = song->patterns[p];
        int32_t cells = (pattern.rowCount > 0 ? pattern.rowCount : 1) * (song->channelCount > 0 ? song->channelCount : 1);
        text.append(reinterpret_cast<const char*>(pattern.cells), static_cast<size_t>(cells) * sizeof(NoteCell));
    }
    for (int32_t i = 0; i < song->instrumentCount; i++) {
        const Instrument& instrument = song->instruments[i];
        for (int32_t j = 0; j < instrument.sampleCount; j++) {
            const Sample* sample = instrument.samples[j];
            char numbers[48];
            std::snprintf(numbers, sizeof numbers, ";%u,%u,%u", sample->length, sample->loopStart, sample->loopLength);
            text += numbers;
            if (sample->data != nullptr) {
                text.append(reinterpret_cast<const char*>(sample->data - 1), (size_t{sample->length} + 2) * 2);
            }
        }
    }
    return text;
}

TEST(SongFaults, EachFailedAllocationOfTheLoaderGivesNoSongAndLeavesNothing)
{
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    Song* whole = ModLoadSong(SongPath.c_str(), nullptr);
    ASSERT_NE(whole, nullptr);
    std::string expected = Describe(whole);
    ModFreeSong(whole);

    ModAllocZeroed = FailingModAlloc;
    int n = 1;
    Song* song = nullptr;
    for (;; n++) {
        ASSERT_LT(n, 100000) << "the loader never stopped allocating";
        Arm(n);
        song = ModLoadSong(SongPath.c_str(), nullptr);
        if (allocations < n) {
            break;
        }
        // The in-memory file's copy is the one failure that still opens (as the empty file, which is no
        // module): every failure ends with no song.
        ASSERT_EQ(song, nullptr) << "allocation " << n << " of " << allocations;
    }
    ModAllocZeroed = ModSystemAllocZeroed;
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(Describe(song), expected);
    std::printf("ModLoadSong of the intro's song: %d allocations, each failed once\n", n - 1);
    ModFreeSong(song);
}

// A small module with every part the loader allocates (patterns, an empty pattern, instruments with and
// without samples, 8- and 16-bit data), loaded through the sample hook as well.
TEST(SongFaults, TheSampleHookPathFailsCleanlyToo)
{
    XmModule module;
    module.channelCount = 3;
    module.orders = {0, 1, 2};
    module.patterns = {XmMakePattern(4, 3), XmMakePattern(0, 3), XmMakePattern(8, 3)};
    XmSetCell(&module.patterns[0], 3, 0, 0, XmCell{49, 1, 0, 0, 0});
    for (int i = 0; i < 3; i++) {
        XmInstrument instrument;
        for (int j = 0; j < i; j++) {
            XmSample sample;
            sample.bits = j == 0 ? 8 : 16;
            sample.pcm = {1, 2, 3, 4, 5, 6};
            sample.loop = XmLoop::Forward;
            sample.loopStart = 1;
            sample.loopLength = 3;
            instrument.samples.push_back(sample);
        }
        module.instruments.push_back(instrument);
    }
    std::string path = ::testing::TempDir() + "fault_hook.xm";
    ASSERT_TRUE(XmSaveModule(module, path.c_str()));
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    SampleLoadCallback hook = [](uint8_t* buffer, int32_t byteCount, int32_t, int32_t, int32_t) {
        std::memset(buffer, 0x11, static_cast<size_t>(byteCount));
    };
    ModAllocZeroed = FailingModAlloc;
    int n = 1;
    Song* song = nullptr;
    for (;; n++) {
        ASSERT_LT(n, 1000);
        Arm(n);
        song = ModLoadSong(path.c_str(), hook);
        if (allocations < n) {
            break;
        }
        ASSERT_EQ(song, nullptr) << "allocation " << n;
    }
    ModAllocZeroed = ModSystemAllocZeroed;
    ASSERT_NE(song, nullptr);
    EXPECT_GE(n - 1, 9);
    EXPECT_EQ(song->instruments[2].samples[1]->data[0], 0x1111);
    ModFreeSong(song);
    std::remove(path.c_str());
}

// ---- Pictures --------------------------------------------------------------------------------------------------

void* FailingDibAlloc(size_t bytes)
{
    return FailHere() ? nullptr : DibSystemAllocZeroed(bytes);
}

std::vector<std::string> boxes;

int RecordBox(PlatWindow, const char* text, const char* caption, unsigned flags)
{
    boxes.push_back(std::string(caption) + "|" + text + "|" + std::to_string(flags));
    return PLAT_IDOK;
}

// Fails the n-th allocation of each run of `load` in turn; every failure must give no image and exactly the
// box "Out of memory."; returns the image of the run that needed no failure and the allocations it made.
RgbImage* LoadWithEveryFailure(RgbImage* (*load)(), int* allocationsMade)
{
    PlatMessageBox = RecordBox;
    DibAllocZeroed = FailingDibAlloc;
    RgbImage* image = nullptr;
    int n = 1;
    for (;; n++) {
        if (n > 100) {
            ADD_FAILURE() << "the loader never stopped allocating";
            break;
        }
        boxes.clear();
        Arm(n);
        countNew = true;
        image = load();
        countNew = false;
        if (allocations < n) {
            EXPECT_TRUE(boxes.empty());
            break;
        }
        EXPECT_EQ(image, nullptr) << "allocation " << n;
        EXPECT_EQ(boxes, std::vector<std::string>{"Error|Out of memory.|0"}) << "allocation " << n;
        FreeRgbImage(image);
    }
    DibAllocZeroed = DibSystemAllocZeroed;
    PlatMessageBox = PlatMessageBoxToStderr;
    *allocationsMade = n - 1;
    return image;
}

const std::string PicturePath = std::string(TARNWICK_SOURCE_DIR) + "/data/l1.bmp";

TEST(PictureFaults, EachFailedAllocationOfLoadDibImageSaysOutOfMemory)
{
    RgbImage* whole = LoadDibImage(PicturePath.c_str());
    ASSERT_NE(whole, nullptr);
    int made = 0;
    RgbImage* image = LoadWithEveryFailure([] { return LoadDibImage(PicturePath.c_str()); }, &made);
    ASSERT_NE(image, nullptr);
    // The file's buffer, the image record and its pixels.
    EXPECT_EQ(made, 3);
    EXPECT_EQ(image->width, whole->width);
    EXPECT_EQ(image->height, whole->height);
    EXPECT_EQ(image->pixels, whole->pixels);
    FreeRgbImage(image);
    FreeRgbImage(whole);
}

TEST(PictureFaults, EachFailedAllocationFromMemorySaysOutOfMemory)
{
    static std::vector<uint8_t> bytes;
    std::FILE* file = std::fopen(PicturePath.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    int c;
    while ((c = std::fgetc(file)) != EOF) {
        bytes.push_back(static_cast<uint8_t>(c));
    }
    std::fclose(file);
    int made = 0;
    RgbImage* image = LoadWithEveryFailure([] { return LoadDibImageFromMemory(bytes.data(), bytes.size(), "l1"); },
                                           &made);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(made, 2);
    FreeRgbImage(image);
}

}  // namespace

// Counted C++ allocations: while a picture load is armed, the n-th fails as an exhausted heap would.
void* operator new(size_t bytes)
{
    if (countNew && FailHere()) {
        throw std::bad_alloc();
    }
    void* memory = std::malloc(bytes > 0 ? bytes : 1);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

void* operator new(size_t bytes, const std::nothrow_t&) noexcept
{
    if (countNew && FailHere()) {
        return nullptr;
    }
    return std::malloc(bytes > 0 ? bytes : 1);
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, size_t) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, const std::nothrow_t&) noexcept
{
    std::free(memory);
}
