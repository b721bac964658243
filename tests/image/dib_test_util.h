// Small bitmap files made in the test, and a load that records the boxes it showed.
#pragma once

#include "image/image.h"
#include "platform/fake/fake_platform.h"

#include <memory>
#include <string>
#include <vector>

struct ImageDeleter {
    void operator()(RgbImage* image) const { FreeRgbImage(image); }
};
using ImagePtr = std::unique_ptr<RgbImage, ImageDeleter>;

inline void PutLe(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; i++) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

// A 40-byte info header.
inline std::vector<uint8_t> InfoHeader(int32_t width, int32_t height, uint16_t bits, uint32_t compression = 0,
                                       uint32_t colorsUsed = 0)
{
    std::vector<uint8_t> h;
    PutLe(h, 40, 4);
    PutLe(h, static_cast<uint32_t>(width), 4);
    PutLe(h, static_cast<uint32_t>(height), 4);
    PutLe(h, 1, 2);
    PutLe(h, bits, 2);
    PutLe(h, compression, 4);
    PutLe(h, 0, 4);         // image size: never trusted
    PutLe(h, 2835, 4);      // resolutions
    PutLe(h, 2835, 4);
    PutLe(h, colorsUsed, 4);
    PutLe(h, 0, 4);
    return h;
}

// Header, colour table and pixels; with `fileHeader` a "BM" header whose offset points at the pixels.
inline std::vector<uint8_t> MakeDib(const std::vector<uint8_t>& header, const std::vector<uint8_t>& table,
                                    const std::vector<uint8_t>& pixels, bool fileHeader = true)
{
    std::vector<uint8_t> file;
    file.reserve(14 + header.size() + table.size() + pixels.size());
    if (fileHeader) {
        size_t offset = 14 + header.size() + table.size();
        file.push_back('B');
        file.push_back('M');
        PutLe(file, offset + pixels.size(), 4);
        PutLe(file, 0, 4);
        PutLe(file, offset, 4);
    }
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), table.begin(), table.end());
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

// Colour table of 4-byte entries: entry i is red i*16+1, green i*16+2, blue i*16+3.
inline std::vector<uint8_t> Palette(int entries)
{
    std::vector<uint8_t> table(static_cast<size_t>(entries) * 4, 0);
    for (size_t i = 0; i < table.size(); i += 4) {
        uint8_t base = static_cast<uint8_t>(i * 4);
        table[i] = uint8_t(base + 3);
        table[i + 1] = uint8_t(base + 2);
        table[i + 2] = uint8_t(base + 1);
    }
    return table;
}

inline std::vector<uint8_t> Rgb(std::initializer_list<int> bytes)
{
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// Loads from memory with a fresh stand-in platform; the boxes shown are in fakePlatform.boxes.
inline ImagePtr LoadBytes(const std::vector<uint8_t>& bytes, size_t length = SIZE_MAX)
{
    FakePlatformReset();
    return ImagePtr(LoadDibImageFromMemory(bytes.data(), std::min(length, bytes.size()), "test.bmp"));
}

inline std::string OnlyMessage()
{
    if (fakePlatform.boxes.size() == 1) {
        return fakePlatform.boxes[0].text;
    }
    return std::to_string(fakePlatform.boxes.size()) + " boxes";
}
