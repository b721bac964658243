// The whole engine on a crafted module: the loader, play's reset and pre-mix, the player and the mixer.
// The checksum pins the sound, so any later change to the player or the mixer that changes it is seen.
#include "tests/support/song_support.h"

#include <gtest/gtest.h>

namespace {

uint64_t Fnv1a(const int16_t* samples, size_t count)
{
    uint64_t hash = 14695981039346656037ull;
    for (size_t k = 0; k < count; k++) {
        uint16_t value = static_cast<uint16_t>(samples[k]);
        hash = (hash ^ (value & 0xFF)) * 1099511628211ull;
        hash = (hash ^ (value >> 8)) * 1099511628211ull;
    }
    return hash;
}

TEST(PlayerRender, CraftedModuleRendersToItsPinnedChecksum)
{
    Song* song = LoadModule(EffectsModule());
    ASSERT_NE(song, nullptr);
    // Play pre-mixes the whole ring (2 s) before the device plays; the streaming thread is held back, so
    // nothing more is mixed.
    ASSERT_TRUE(StartStreamedSong(song));
    size_t samples = static_cast<size_t>(RingFrames) * 2;
    int32_t clipped = 0;
    for (size_t k = 0; k < samples; k++) {
        clipped += OutputRing[k] == 32767 || OutputRing[k] <= -32767 ? 1 : 0;
    }
    uint64_t hash = Fnv1a(OutputRing, samples);
    EXPECT_GT(Peak(OutputRing, samples), 2000);
    EXPECT_EQ(clipped, 0);
    EXPECT_EQ(song->orderPos, 1);  // 2 s at 140 BPM and speed 4 reach the second pattern
    EXPECT_EQ(hash, 0x8c3a4a8fe68fb58full) << std::hex << hash;
    StopStreamedSong(song);
}

}  // namespace
