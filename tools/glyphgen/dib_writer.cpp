#include "tools/glyphgen/dib_writer.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

static void PutU16(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

static void PutU32(std::vector<uint8_t>& out, uint32_t value)
{
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

static void SetU32(std::vector<uint8_t>& out, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; i++) {
        out[offset + i] = static_cast<uint8_t>((value >> (8 * i)) & 0xFF);
    }
}

// Offsets in the 14-byte file header.
constexpr size_t FileSizeOffset = 2;
constexpr size_t PixelOffsetOffset = 10;
// Pixels per metre written into the info header (72 dots per inch).
constexpr uint32_t PixelsPerMetre = 2835;
constexpr uint32_t CompressionNone = 0;
constexpr uint32_t CompressionRle8 = 1;

static void PutFileHeader(std::vector<uint8_t>& out)
{
    out.push_back('B');
    out.push_back('M');
    PutU32(out, 0); // file size, set at the end
    PutU32(out, 0); // reserved
    PutU32(out, 0); // pixel offset, set once the colour table is written
}

static void PutHeader(std::vector<uint8_t>& out, DibLayout layout, int width, int height, int bitCount,
                      uint32_t compression, uint32_t imageBytes, uint32_t colorsUsed)
{
    if (layout == DibLayout::Core) {
        PutU32(out, 12);
        PutU16(out, static_cast<uint32_t>(width));
        PutU16(out, static_cast<uint32_t>(height));
        PutU16(out, 1);
        PutU16(out, static_cast<uint32_t>(bitCount));
        return;
    }
    PutU32(out, 40);
    PutU32(out, static_cast<uint32_t>(width));
    PutU32(out, static_cast<uint32_t>(height));
    PutU16(out, 1);
    PutU16(out, static_cast<uint32_t>(bitCount));
    PutU32(out, compression);
    PutU32(out, imageBytes);
    PutU32(out, PixelsPerMetre);
    PutU32(out, PixelsPerMetre);
    PutU32(out, colorsUsed);
    PutU32(out, 0);
}

static void CheckSize(int width, int height)
{
    if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) {
        throw std::runtime_error("picture size out of range");
    }
}

static size_t RowBytes(int width, int bitCount)
{
    return ((static_cast<size_t>(width) * bitCount + 31) / 32) * 4;
}

// One row of 8-bit indexes as run-length pairs: repeats of two or more as (count, value), stretches of
// three or more differing values in absolute mode (0, n, values, padded to an even length), the rest as
// runs of one.
static void PutRle8Row(std::vector<uint8_t>& out, const uint8_t* row, int width)
{
    int x = 0;
    while (x < width) {
        int run = 1;
        while (x + run < width && run < 255 && row[x + run] == row[x]) {
            run++;
        }
        if (run >= 2) {
            out.push_back(static_cast<uint8_t>(run));
            out.push_back(row[x]);
            x += run;
            continue;
        }
        // Gather differing values up to the next repeat.
        int literal = 1;
        while (x + literal < width && literal < 255 &&
               !(x + literal + 1 < width && row[x + literal] == row[x + literal + 1])) {
            literal++;
        }
        if (literal >= 3) {
            out.push_back(0);
            out.push_back(static_cast<uint8_t>(literal));
            out.insert(out.end(), row + x, row + x + literal);
            if (literal & 1) {
                out.push_back(0);
            }
        } else {
            for (int i = 0; i < literal; i++) {
                out.push_back(1);
                out.push_back(row[x + i]);
            }
        }
        x += literal;
    }
}

std::vector<uint8_t> EncodeIndexedDib(const IndexedPicture& picture, int bitCount, DibLayout layout)
{
    CheckSize(picture.width, picture.height);
    const size_t maxColors = static_cast<size_t>(1) << bitCount;
    if ((bitCount != 4 && bitCount != 8) || picture.palette.empty() || picture.palette.size() > maxColors ||
        picture.indexes.size() != static_cast<size_t>(picture.width) * picture.height ||
        (layout == DibLayout::InfoRle8 && bitCount != 8)) {
        throw std::runtime_error("indexed picture does not fit the chosen format");
    }
    for (uint8_t index : picture.indexes) {
        if (index >= picture.palette.size()) {
            throw std::runtime_error("index beyond the palette");
        }
    }

    std::vector<uint8_t> pixels;
    if (layout == DibLayout::InfoRle8) {
        for (int y = 0; y < picture.height; y++) {
            PutRle8Row(pixels, &picture.indexes[static_cast<size_t>(y) * picture.width], picture.width);
            pixels.push_back(0);
            pixels.push_back(y + 1 < picture.height ? 0 : 1); // end of line, or end of bitmap after the last
        }
    } else {
        const size_t rowBytes = RowBytes(picture.width, bitCount);
        pixels.assign(rowBytes * picture.height, 0);
        for (int y = 0; y < picture.height; y++) {
            uint8_t* row = &pixels[rowBytes * y];
            const uint8_t* source = &picture.indexes[static_cast<size_t>(y) * picture.width];
            for (int x = 0; x < picture.width; x++) {
                if (bitCount == 8) {
                    row[x] = source[x];
                } else {
                    row[x / 2] |= static_cast<uint8_t>((x & 1) ? source[x] : source[x] << 4);
                }
            }
        }
    }

    std::vector<uint8_t> out;
    PutFileHeader(out);
    const bool core = layout == DibLayout::Core;
    const size_t tableEntries = core ? maxColors : picture.palette.size();
    PutHeader(out, layout, picture.width, picture.height, bitCount,
              layout == DibLayout::InfoRle8 ? CompressionRle8 : CompressionNone,
              static_cast<uint32_t>(pixels.size()), static_cast<uint32_t>(tableEntries));
    for (size_t i = 0; i < tableEntries; i++) {
        DibColor color = i < picture.palette.size() ? picture.palette[i] : DibColor{0, 0, 0};
        out.push_back(color.blue);
        out.push_back(color.green);
        out.push_back(color.red);
        if (!core) {
            out.push_back(0);
        }
    }
    SetU32(out, PixelOffsetOffset, static_cast<uint32_t>(out.size()));
    out.insert(out.end(), pixels.begin(), pixels.end());
    SetU32(out, FileSizeOffset, static_cast<uint32_t>(out.size()));
    return out;
}

std::vector<uint8_t> EncodeRgbDib(const RgbPicture& picture, DibLayout layout)
{
    CheckSize(picture.width, picture.height);
    if (layout == DibLayout::InfoRle8 || picture.rgb.size() != static_cast<size_t>(picture.width) * picture.height * 3) {
        throw std::runtime_error("RGB picture does not fit the chosen format");
    }
    const size_t rowBytes = RowBytes(picture.width, 24);
    std::vector<uint8_t> pixels(rowBytes * picture.height, 0);
    for (int y = 0; y < picture.height; y++) {
        for (int x = 0; x < picture.width; x++) {
            const uint8_t* source = &picture.rgb[(static_cast<size_t>(y) * picture.width + x) * 3];
            uint8_t* target = &pixels[rowBytes * y + static_cast<size_t>(x) * 3];
            target[0] = source[2];
            target[1] = source[1];
            target[2] = source[0];
        }
    }
    std::vector<uint8_t> out;
    PutFileHeader(out);
    PutHeader(out, layout, picture.width, picture.height, 24, CompressionNone, static_cast<uint32_t>(pixels.size()), 0);
    SetU32(out, PixelOffsetOffset, static_cast<uint32_t>(out.size()));
    out.insert(out.end(), pixels.begin(), pixels.end());
    SetU32(out, FileSizeOffset, static_cast<uint32_t>(out.size()));
    return out;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

bool FileHasBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "missing: %s\n", path.c_str());
        return false;
    }
    std::vector<uint8_t> onDisk((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (onDisk != bytes) {
        std::fprintf(stderr, "differs from the generator's output: %s\n", path.c_str());
        return false;
    }
    return true;
}

bool ParseGeneratorOptions(const char* program, int argc, char** argv, GeneratorOptions* options)
{
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if ((arg == "--font" || arg == "--write" || arg == "--check") && i + 1 < argc) {
            std::string value = argv[++i];
            if (arg == "--font") {
                options->font = value;
            } else {
                options->dir = value;
                options->check = arg == "--check";
            }
        } else {
            options->dir.clear();
            break;
        }
    }
    if (options->dir.empty()) {
        std::fprintf(stderr, "usage: %s [--font FILE] (--write DIR | --check DIR)\n", program);
        return false;
    }
    return true;
}
