// The wave device's 32-bit played-bytes count, unwrapped into the never-wrapping count the streaming thread
// turns into a block number.
#include "platform/win32/position_unwrap.h"

#include <gtest/gtest.h>

TEST(Win32Position, CountsBelowFourGigabytesPassThrough)
{
    PositionUnwrap state{};
    EXPECT_EQ(UnwrapPosition(&state, 0), 0u);
    EXPECT_EQ(UnwrapPosition(&state, 3536), 3536u);
    EXPECT_EQ(UnwrapPosition(&state, 3536), 3536u);  // no progress between two polls is no wrap
    EXPECT_EQ(UnwrapPosition(&state, 0xFFFFFFFFu), 0xFFFFFFFFull);
    EXPECT_EQ(state.wraps, 0u);
}

TEST(Win32Position, EachWrapAddsFourGigabytes)
{
    PositionUnwrap state{};
    UnwrapPosition(&state, 0xFFFFF000u);
    // The poll after the wrap: the count goes on from 2^32, so the block number moves by one poll's worth
    // instead of jumping back to the ring's start.
    EXPECT_EQ(UnwrapPosition(&state, 0x00000DC0u), 0x100000DC0ull);
    EXPECT_EQ(UnwrapPosition(&state, 0x7FFFFFFFu), 0x17FFFFFFFull);
    EXPECT_EQ(UnwrapPosition(&state, 0x00000004u), 0x200000004ull);
    EXPECT_EQ(state.wraps, 2u);

    // Played frames stay continuous across the wrap: the block being played follows on from the last.
    const uint64_t ringFrames = 88400;
    const uint64_t blockFrames = 884;
    PositionUnwrap ring{};
    uint64_t before = UnwrapPosition(&ring, 0xFFFFFFFCu) / 4;
    uint64_t after = UnwrapPosition(&ring, 0x00000DCCu) / 4;
    EXPECT_EQ(after - before, 0xDD0u / 4);
    uint64_t blockBefore = (before % ringFrames) / blockFrames;
    uint64_t blockAfter = (after % ringFrames) / blockFrames;
    EXPECT_LE((blockAfter + 100 - blockBefore) % 100, 1u);
}
