// Allocation failures: every allocation that starting a song makes (ModPlaySong, and SndRenderStart for the
// device-free render) fails in turn, the n-th for n = 1, 2, ... until a run needs none, and each failure must
// end cleanly: the documented result, nothing started, nothing leaked (the sanitizer build checks leaks),
// and a later attempt with memory back succeeds.
#include "image/image.h"
#include "music/music.h"
#include "platform/fake/fake_audio.h"
#include "platform/platform.h"
#include "sound/sound.h"
#include "tools/xmwriter/xmwriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::string SongPath = std::string(TARNWICK_SOURCE_DIR) + "/data/glimrook.xm";

// The allocation to fail (1-based; 0 = none) and the allocations counted so far.
int failAt = 0;
int allocations = 0;

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
    uint64_t since = fakeAudio.queries.load();
    fakeAudio.playedBytes.store(static_cast<uint64_t>(BlockFrames) * 4);
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
    ASSERT_TRUE(ModPlaySong(song));
    EXPECT_TRUE(std::equal(block.begin(), block.end(), OutputRing));
}

}  // namespace
