// icongen BITMAP SIZE OUT.png: the intro's desktop icon from one of its own pictures. Reads BITMAP with the
// intro's bitmap loader, takes the square in its middle, scales it to SIZE × SIZE by averaging the area each
// icon pixel covers, and writes an 8-bit RGB PNG. The PNG's image data is stored, not compressed: an icon of
// a few kilobytes needs no compressor, and the same bitmap always gives the same bytes. Exit codes: 0
// written, 1 the bitmap or the file failed (one line on standard error), 2 bad usage.
#include "image/image.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int MinIconSize = 16;
constexpr int MaxIconSize = 512;
// Largest stored (uncompressed) deflate block.
constexpr size_t StoredBlockBytes = 65535;

// An icon's pixels: red, green, blue, top row first (as a PNG holds them).
struct IconPixels {
    int size;
    std::vector<uint8_t> rgb;
};

// The middle square of the picture scaled to size × size: every icon pixel is the mean of the picture area
// under it, each picture pixel weighted by how much of it that area covers.
IconPixels ScaleMiddleSquare(const RgbImage& image, int size)
{
    const int side = std::min(image.width, image.height);
    const int left = (image.width - side) / 2;
    const int bottom = (image.height - side) / 2;
    IconPixels icon{size, std::vector<uint8_t>(static_cast<size_t>(size) * size * 3)};
    // The icon pixel k covers picture pixels [k·side/size, (k+1)·side/size) in each direction; in units of
    // 1/size of a picture pixel its edges are whole numbers.
    auto overlap = [side, size](int k, int p) {
        long from = std::max<long>(static_cast<long>(k) * side, static_cast<long>(p) * size);
        long to = std::min<long>(static_cast<long>(k + 1) * side, static_cast<long>(p + 1) * size);
        return std::max<long>(to - from, 0);
    };
    for (int row = 0; row < size; row++) {
        // Icon rows count from the top, the picture's from the bottom.
        int iconRowFromBottom = size - 1 - row;
        for (int column = 0; column < size; column++) {
            double sum[3] = {0, 0, 0};
            double weight = 0;
            for (int y = iconRowFromBottom * side / size; y < side && y * size < (iconRowFromBottom + 1) * side; y++) {
                long wy = overlap(iconRowFromBottom, y);
                for (int x = column * side / size; x < side && x * size < (column + 1) * side; x++) {
                    double w = static_cast<double>(wy * overlap(column, x));
                    const uint8_t* pixel =
                        &image.pixels[(static_cast<size_t>(bottom + y) * image.width + left + x) * 3];
                    for (int c = 0; c < 3; c++) {
                        sum[c] += w * pixel[c];
                    }
                    weight += w;
                }
            }
            uint8_t* out = &icon.rgb[(static_cast<size_t>(row) * size + column) * 3];
            for (int c = 0; c < 3; c++) {
                out[c] = static_cast<uint8_t>(std::clamp(sum[c] / weight + 0.5, 0.0, 255.0));
            }
        }
    }
    return icon;
}

uint32_t Crc32(const uint8_t* bytes, size_t count, uint32_t crc = 0)
{
    static const std::vector<uint32_t> table = [] {
        std::vector<uint32_t> t(256);
        for (uint32_t n = 0; n < 256; n++) {
            uint32_t c = n;
            for (int k = 0; k < 8; k++) {
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < count; i++) {
        crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

uint32_t Adler32(const std::vector<uint8_t>& bytes)
{
    uint32_t a = 1;
    uint32_t b = 0;
    for (uint8_t byte : bytes) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

void PutBigEndian32(std::vector<uint8_t>* out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out->push_back(static_cast<uint8_t>(value >> shift));
    }
}

// One chunk: length, type, data, and the CRC over type and data.
void PutChunk(std::vector<uint8_t>* out, const char type[4], const std::vector<uint8_t>& data)
{
    PutBigEndian32(out, static_cast<uint32_t>(data.size()));
    size_t typeAt = out->size();
    out->insert(out->end(), type, type + 4);
    out->insert(out->end(), data.begin(), data.end());
    PutBigEndian32(out, Crc32(out->data() + typeAt, 4 + data.size()));
}

std::vector<uint8_t> EncodePng(const IconPixels& icon)
{
    // Each row behind a filter byte 0 (none).
    std::vector<uint8_t> raw;
    const size_t rowBytes = static_cast<size_t>(icon.size) * 3;
    for (int row = 0; row < icon.size; row++) {
        raw.push_back(0);
        raw.insert(raw.end(), icon.rgb.begin() + row * rowBytes, icon.rgb.begin() + (row + 1) * rowBytes);
    }
    // A zlib stream of stored deflate blocks.
    std::vector<uint8_t> zlib = {0x78, 0x01};
    for (size_t at = 0; at < raw.size(); at += StoredBlockBytes) {
        size_t count = std::min(StoredBlockBytes, raw.size() - at);
        bool last = at + count == raw.size();
        zlib.push_back(last ? 1 : 0);
        zlib.push_back(static_cast<uint8_t>(count));
        zlib.push_back(static_cast<uint8_t>(count >> 8));
        zlib.push_back(static_cast<uint8_t>(~count));
        zlib.push_back(static_cast<uint8_t>(~count >> 8));
        zlib.insert(zlib.end(), raw.begin() + at, raw.begin() + at + count);
    }
    PutBigEndian32(&zlib, Adler32(raw));

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBigEndian32(&header, static_cast<uint32_t>(icon.size));
    PutBigEndian32(&header, static_cast<uint32_t>(icon.size));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8 bits, RGB, deflate, adaptive filters, no interlace
    PutChunk(&png, "IHDR", header);
    PutChunk(&png, "IDAT", zlib);
    PutChunk(&png, "IEND", {});
    return png;
}

} // namespace

int main(int argc, char** argv)
{
    char* end = nullptr;
    long size = argc == 4 ? std::strtol(argv[2], &end, 10) : 0;
    if (argc != 4 || end == argv[2] || *end != '\0' || size < MinIconSize || size > MaxIconSize) {
        std::fprintf(stderr, "usage: icongen BITMAP SIZE OUT.png   (SIZE %d to %d)\n", MinIconSize, MaxIconSize);
        return 2;
    }
    // The loader's message goes to standard error instead of a box.
    PlatMessageBox = PlatMessageBoxToStderr;
    RgbImage* image = LoadDibImage(argv[1]);
    if (image == nullptr) {
        return 1;
    }
    std::vector<uint8_t> png = EncodePng(ScaleMiddleSquare(*image, static_cast<int>(size)));
    FreeRgbImage(image);
    std::FILE* out = std::fopen(argv[3], "wb");
    bool ok = out != nullptr && std::fwrite(png.data(), 1, png.size(), out) == png.size();
    ok = out != nullptr && std::fclose(out) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "icongen: cannot write %s\n", argv[3]);
        std::remove(argv[3]);
        return 1;
    }
    return 0;
}
