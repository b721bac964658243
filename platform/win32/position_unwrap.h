// The wave device counts played bytes in 32 bits and wraps after 4 GiB (about 6.8 hours at 44100 Hz);
// the seam promises a count that never wraps. Kept apart from the device calls so it can be tested anywhere.
#pragma once

#include <cstdint>

struct PositionUnwrap {
    uint32_t lastBytes;  // the device's last 32-bit answer (bytes)
    uint64_t wraps;      // how often that answer has wrapped past 2^32
};

// The 64-bit count for the device's new 32-bit answer. The device's count only grows, so an answer below
// the last one means the count went past 2^32 in between (the poll runs every few milliseconds, far more
// often than once per wrap).
inline uint64_t UnwrapPosition(PositionUnwrap* state, uint32_t bytes)
{
    if (bytes < state->lastBytes) {
        state->wraps++;
    }
    state->lastBytes = bytes;
    return (state->wraps << 32) | bytes;
}
