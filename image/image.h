// ImageLoader: Windows bitmap (DIB) files into packed 24-bit RGB pictures for glDrawPixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A decoded picture. Made by the loader, kept by its caller; read by the main thread only.
struct RgbImage {
    int32_t width;  // pixels per row, always > 0
    int32_t height; // rows, always > 0 (a top-down file is turned round and reported positive)
    // width × height × 3 bytes: red, green, blue for each pixel left to right, bottom row first, rows packed
    // without gaps (unpack alignment 1).
    std::vector<uint8_t> pixels;
};

// Largest picture the loader will make, in pixels (64 Mpixel = 192 MiB of output); larger claims get
// "Out of memory." before anything is allocated.
constexpr uint64_t DIB_MAX_PIXELS = 64ull * 1024 * 1024;
// Largest file the loader reads into memory, in bytes; larger files get "Out of memory.".
constexpr uint64_t DIB_MAX_FILE_BYTES = 512ull * 1024 * 1024;

// Zero-filled allocation of the buffer LoadDibImage reads a file into (null on failure, which gives
// "Out of memory."); released with free(). Tests replace it to make the allocation fail. The image record and
// its pixels are ordinary C++ allocations.
using DibAllocFn = void* (*)(size_t bytes);
extern DibAllocFn DibAllocZeroed;
void* DibSystemAllocZeroed(size_t bytes);

// Reads the bitmap file at `path` (relative to the working directory). Returns a new image, or nullptr
// after showing one "Error" box through PlatMessageBox. Free the result with FreeRgbImage.
RgbImage* LoadDibImage(const char* path);
// The same on bytes already in memory; `nameForMessages` stands for the path in the open-failure message
// (shown for an empty buffer).
RgbImage* LoadDibImageFromMemory(const uint8_t* bytes, size_t size, const char* nameForMessages);
void FreeRgbImage(RgbImage* image);

// Number of colour table entries (0 .. 65535) that follow the info header starting at `header`, of which
// `available` bytes can be read. A 12-byte core header counts by bit count (1: 2, 4: 16, 8: 256, else 0);
// any other header is read as the 40-byte kind: colours used (its low 16 bits) when not 0, else by bit count.
// A header too short to hold the fields counts 0.
uint32_t DibColorCount(const uint8_t* header, size_t available);
