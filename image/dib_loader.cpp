// The bitmap loader: one DIB file, read whole into memory, converted to packed 24-bit RGB.
//
// Every file is untrusted. Each field is read at a named offset with the little-endian helpers below, every
// size is computed in 64 bits and checked against the bytes that are really there before it is used, and
// run-length streams are clipped to the picture, so no file can make the loader read or write out of bounds.
#include "image/image.h"

#include "platform/platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

// ---- File layout ------------------------------------------------------------------------------------------
// Optional file header (present when the file starts with "BM").
constexpr size_t FILE_HEADER_BYTES = 14;
constexpr size_t FILE_PIXEL_OFFSET = 10; // u32: pixel rows from the start of the file

// Info header: its first u32 is its size, which tells the two kinds apart.
constexpr uint32_t CORE_HEADER_BYTES = 12;
constexpr uint32_t INFO_HEADER_BYTES = 40;
constexpr size_t HEADER_SIZE = 0;
constexpr size_t CORE_WIDTH = 4;      // u16
constexpr size_t CORE_HEIGHT = 6;     // u16
constexpr size_t CORE_BIT_COUNT = 10; // u16
constexpr size_t INFO_WIDTH = 4;         // i32
constexpr size_t INFO_HEIGHT = 8;        // i32, negative for rows stored top row first
constexpr size_t INFO_BIT_COUNT = 14;    // u16
constexpr size_t INFO_COMPRESSION = 16;  // u32
constexpr size_t INFO_COLORS_USED = 32;  // u32, only its low 16 bits count
constexpr size_t CORE_ENTRY_BYTES = 3;   // blue, green, red
constexpr size_t INFO_ENTRY_BYTES = 4;   // blue, green, red, reserved

constexpr uint32_t COMPRESSION_NONE = 0;
constexpr uint32_t COMPRESSION_RLE8 = 1;
constexpr uint32_t COMPRESSION_RLE4 = 2;

// Escape codes of the run-length streams (a zero count followed by one of these).
constexpr uint8_t RLE_END_OF_LINE = 0;
constexpr uint8_t RLE_END_OF_BITMAP = 1;
constexpr uint8_t RLE_DELTA = 2;

constexpr const char* MESSAGE_UNKNOWN_FORMAT = "Unknown DIB file format.";
constexpr const char* MESSAGE_CONVERSION = "Image file conversion error.";
constexpr const char* MESSAGE_OUT_OF_MEMORY = "Out of memory.";

DibAllocFn DibAllocZeroed = DibSystemAllocZeroed;

void* DibSystemAllocZeroed(size_t bytes)
{
    return std::calloc(1, bytes);
}

static uint16_t ReadU16(const uint8_t* at)
{
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

static uint32_t ReadU32(const uint8_t* at)
{
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

static void ShowError(const char* text)
{
    PlatMessageBox(PlatFocusedWindow(), text, "Error", PLAT_MB_OK);
}

// The open-failure text is bounded: a very long path is cut so the whole text stays within 255 characters.
static void ShowOpenFailure(const char* path)
{
    char text[256];
    std::snprintf(text, sizeof text, "Failed to open DIB file %s.\n", path != nullptr ? path : "");
    ShowError(text);
}

uint32_t DibColorCount(const uint8_t* header, size_t available)
{
    if (header == nullptr || available < 4) {
        return 0;
    }
    uint32_t bitCount;
    if (ReadU32(header + HEADER_SIZE) == CORE_HEADER_BYTES) {
        if (available < CORE_HEADER_BYTES) {
            return 0;
        }
        bitCount = ReadU16(header + CORE_BIT_COUNT);
    } else {
        if (available < INFO_HEADER_BYTES) {
            return 0;
        }
        uint32_t colorsUsed = ReadU32(header + INFO_COLORS_USED);
        if (colorsUsed != 0) {
            return colorsUsed & 0xFFFF;
        }
        bitCount = ReadU16(header + INFO_BIT_COUNT);
    }
    switch (bitCount) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

// Everything the conversion needs, after every size in it has been checked against the file.
struct DibSource {
    int64_t width;       // pixels per row, 1 .. DIB_MAX_PIXELS
    int64_t rows;        // |height|
    bool topDown;        // rows stored top row first (negative height)
    uint32_t bitCount;   // 1, 4, 8, 16, 24 or 32
    uint32_t compression;
    const uint8_t* pixelData; // first byte of the pixel rows or run-length stream
    size_t pixelBytes;        // bytes from pixelData to the end of the file
    // Colour table as RGB triples for every index a pixel can hold; indices at or past the table are black.
    uint8_t palette[256][3];
};

// Reads and checks the headers and colour table. Returns the failure message, or nullptr when `source` is
// ready for conversion.
static const char* ParseDib(const uint8_t* data, size_t size, DibSource* source)
{
    size_t headerAt = 0;
    bool hasFileHeader = size >= 2 && data[0] == 'B' && data[1] == 'M';
    uint64_t pixelOffset = 0;
    if (hasFileHeader) {
        if (size < FILE_HEADER_BYTES) {
            return MESSAGE_UNKNOWN_FORMAT;
        }
        pixelOffset = ReadU32(data + FILE_PIXEL_OFFSET);
        headerAt = FILE_HEADER_BYTES;
    }
    if (size - headerAt < 4) {
        return MESSAGE_UNKNOWN_FORMAT;
    }
    const uint8_t* header = data + headerAt;
    uint32_t headerBytes = ReadU32(header + HEADER_SIZE);
    if ((headerBytes != CORE_HEADER_BYTES && headerBytes != INFO_HEADER_BYTES) || size - headerAt < headerBytes) {
        return MESSAGE_UNKNOWN_FORMAT;
    }

    int64_t width;
    int64_t height;
    uint32_t compression;
    size_t entryBytes;
    if (headerBytes == CORE_HEADER_BYTES) {
        width = ReadU16(header + CORE_WIDTH);
        height = ReadU16(header + CORE_HEIGHT);
        source->bitCount = ReadU16(header + CORE_BIT_COUNT);
        compression = COMPRESSION_NONE;
        entryBytes = CORE_ENTRY_BYTES;
    } else {
        width = static_cast<int32_t>(ReadU32(header + INFO_WIDTH));
        height = static_cast<int32_t>(ReadU32(header + INFO_HEIGHT));
        source->bitCount = ReadU16(header + INFO_BIT_COUNT);
        compression = ReadU32(header + INFO_COMPRESSION);
        entryBytes = INFO_ENTRY_BYTES;
    }
    uint32_t colorCount = DibColorCount(header, size - headerAt);

    switch (source->bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return MESSAGE_CONVERSION;
    }
    // Bit-field masks and every other coding are not supported; run-length coding only at its own depth,
    // and only bottom-up, as the format defines it.
    bool rleFits = (compression == COMPRESSION_RLE8 && source->bitCount == 8) ||
                   (compression == COMPRESSION_RLE4 && source->bitCount == 4);
    if (compression != COMPRESSION_NONE && (!rleFits || height < 0)) {
        return MESSAGE_CONVERSION;
    }
    if (width <= 0 || height == 0) {
        return MESSAGE_CONVERSION;
    }
    source->width = width;
    source->rows = height < 0 ? -height : height;
    source->topDown = height < 0;
    source->compression = compression;
    if (static_cast<uint64_t>(source->width) * static_cast<uint64_t>(source->rows) > DIB_MAX_PIXELS) {
        return MESSAGE_OUT_OF_MEMORY;
    }

    uint64_t tableAt = headerAt + headerBytes;
    uint64_t tableBytes = static_cast<uint64_t>(colorCount) * entryBytes;
    if (tableBytes > size - tableAt) {
        return MESSAGE_CONVERSION;
    }
    for (uint32_t index = 0; index < 256; index++) {
        uint8_t* rgb = source->palette[index];
        if (index < colorCount) {
            const uint8_t* entry = data + tableAt + index * entryBytes;
            rgb[0] = entry[2];
            rgb[1] = entry[1];
            rgb[2] = entry[0];
        } else {
            rgb[0] = rgb[1] = rgb[2] = 0;
        }
    }

    if (!hasFileHeader) {
        pixelOffset = tableAt + tableBytes;
    }
    if (pixelOffset > size) {
        return MESSAGE_CONVERSION;
    }
    source->pixelData = data + pixelOffset;
    source->pixelBytes = size - static_cast<size_t>(pixelOffset);
    if (compression == COMPRESSION_NONE) {
        // Source rows are padded to whole 32-bit words; the image-size field is never trusted.
        uint64_t stride = (static_cast<uint64_t>(source->bitCount) * static_cast<uint64_t>(width) + 31) / 32 * 4;
        if (stride * static_cast<uint64_t>(source->rows) > source->pixelBytes) {
            return MESSAGE_CONVERSION;
        }
    }
    return nullptr;
}

static uint8_t Widen5(uint32_t value)
{
    return static_cast<uint8_t>((value << 3) | (value >> 2));
}

// Uncompressed rows, each padded to a multiple of 4 bytes, bottom row first unless the file is top-down.
static void ConvertRows(const DibSource& source, uint8_t* out)
{
    uint64_t stride = (static_cast<uint64_t>(source.bitCount) * static_cast<uint64_t>(source.width) + 31) / 32 * 4;
    for (int64_t row = 0; row < source.rows; row++) {
        int64_t storedRow = source.topDown ? source.rows - 1 - row : row;
        const uint8_t* src = source.pixelData + static_cast<uint64_t>(storedRow) * stride;
        uint8_t* dst = out + static_cast<uint64_t>(row) * static_cast<uint64_t>(source.width) * 3;
        for (int64_t x = 0; x < source.width; x++, dst += 3) {
            switch (source.bitCount) {
            case 1:
            case 4:
            case 8: {
                // Indices are packed most significant bits first within each byte.
                uint64_t bit = static_cast<uint64_t>(x) * source.bitCount;
                uint32_t shift = 8 - source.bitCount - static_cast<uint32_t>(bit % 8);
                uint32_t index = (src[bit / 8] >> shift) & ((1u << source.bitCount) - 1);
                const uint8_t* rgb = source.palette[index];
                dst[0] = rgb[0];
                dst[1] = rgb[1];
                dst[2] = rgb[2];
                break;
            }
            case 16: {
                // 5-5-5 from high to low, top bit unused.
                uint32_t value = ReadU16(src + x * 2);
                dst[0] = Widen5((value >> 10) & 31);
                dst[1] = Widen5((value >> 5) & 31);
                dst[2] = Widen5(value & 31);
                break;
            }
            case 24:
                dst[0] = src[x * 3 + 2];
                dst[1] = src[x * 3 + 1];
                dst[2] = src[x * 3];
                break;
            default: // 32: blue, green, red, unused
                dst[0] = src[x * 4 + 2];
                dst[1] = src[x * 4 + 1];
                dst[2] = src[x * 4];
                break;
            }
        }
    }
}

// The run-length cursor: writes outside the picture are dropped, and the cursor never passes the right
// edge, so no run or delta can leave the picture.
struct RleCursor {
    const DibSource* source;
    uint8_t* out;
    int64_t x;
    int64_t y;
};

static void PutRlePixel(RleCursor* cursor, uint32_t index)
{
    if (cursor->x >= cursor->source->width) {
        return;
    }
    const uint8_t* rgb = cursor->source->palette[index];
    uint8_t* dst = cursor->out + (static_cast<uint64_t>(cursor->y) * static_cast<uint64_t>(cursor->source->width) +
                                  static_cast<uint64_t>(cursor->x)) * 3;
    dst[0] = rgb[0];
    dst[1] = rgb[1];
    dst[2] = rgb[2];
    cursor->x++;
}

// RLE8 and RLE4 streams. Decoding stops at end-of-bitmap, above the top row, or where the data ends;
// pixels the stream never writes keep the black the output was made with.
static void ConvertRle(const DibSource& source, uint8_t* out)
{
    bool fourBit = source.compression == COMPRESSION_RLE4;
    const uint8_t* stream = source.pixelData;
    size_t bytes = source.pixelBytes;
    size_t at = 0;
    RleCursor cursor{&source, out, 0, 0};
    while (cursor.y < source.rows && bytes - at >= 2) {
        uint8_t count = stream[at];
        uint8_t code = stream[at + 1];
        at += 2;
        if (count > 0) {
            // Encoded run: one index repeated (RLE8), or two indices alternating from the high nibble (RLE4).
            for (uint32_t i = 0; i < count && cursor.x < source.width; i++) {
                PutRlePixel(&cursor, fourBit ? ((i & 1) != 0 ? code & 15 : code >> 4) : code);
            }
            continue;
        }
        if (code == RLE_END_OF_LINE) {
            cursor.x = 0;
            cursor.y++;
        } else if (code == RLE_END_OF_BITMAP) {
            return;
        } else if (code == RLE_DELTA) {
            if (bytes - at < 2) {
                return;
            }
            cursor.x = std::min<int64_t>(cursor.x + stream[at], source.width);
            cursor.y += stream[at + 1];
            at += 2;
        } else {
            // Absolute run of `code` literal indices, padded to a 16-bit boundary.
            size_t literalBytes = fourBit ? (code + 1u) / 2 : code;
            for (uint32_t i = 0; i < code; i++) {
                size_t byteAt = at + (fourBit ? i / 2 : i);
                if (byteAt >= bytes) {
                    return;
                }
                uint8_t value = stream[byteAt];
                PutRlePixel(&cursor, fourBit ? ((i & 1) != 0 ? value & 15 : value >> 4) : value);
            }
            at += std::min(bytes - at, (literalBytes + 1) & ~static_cast<size_t>(1));
        }
    }
}

static RgbImage* ConvertDib(const uint8_t* data, size_t size)
{
    DibSource source{};
    const char* failure = ParseDib(data, size, &source);
    if (failure != nullptr) {
        ShowError(failure);
        return nullptr;
    }
    std::unique_ptr<RgbImage> image(new (std::nothrow) RgbImage{});
    if (!image) {
        ShowError(MESSAGE_OUT_OF_MEMORY);
        return nullptr;
    }
    try {
        image->pixels.assign(static_cast<size_t>(source.width * source.rows * 3), 0);
    } catch (const std::bad_alloc&) {
        ShowError(MESSAGE_OUT_OF_MEMORY);
        return nullptr;
    }
    image->width = static_cast<int32_t>(source.width);
    image->height = static_cast<int32_t>(source.rows);
    if (source.compression == COMPRESSION_NONE) {
        ConvertRows(source, image->pixels.data());
    } else {
        ConvertRle(source, image->pixels.data());
    }
    return image.release();
}

RgbImage* LoadDibImageFromMemory(const uint8_t* bytes, size_t size, const char* nameForMessages)
{
    if (bytes == nullptr || size == 0) {
        ShowOpenFailure(nameForMessages);
        return nullptr;
    }
    return ConvertDib(bytes, size);
}

using FileHandle = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

RgbImage* LoadDibImage(const char* path)
{
    FileHandle file(path != nullptr ? std::fopen(path, "rb") : nullptr, std::fclose);
    if (!file) {
        ShowOpenFailure(path);
        return nullptr;
    }
    // The size, when the file can tell it, refuses an oversized file before anything is read and lets the
    // buffer be made in one piece.
    long knownSize = -1;
    if (std::fseek(file.get(), 0, SEEK_END) == 0) {
        knownSize = std::ftell(file.get());
        if (std::fseek(file.get(), 0, SEEK_SET) != 0) {
            ShowOpenFailure(path);
            return nullptr;
        }
    }
    if (knownSize > 0 && static_cast<uint64_t>(knownSize) > DIB_MAX_FILE_BYTES) {
        // Too big to hold, unless it cannot be read at all (a directory tells a huge size).
        if (std::fgetc(file.get()) == EOF) {
            ShowOpenFailure(path);
        } else {
            ShowError(MESSAGE_OUT_OF_MEMORY);
        }
        return nullptr;
    }
    // The file's bytes, in one buffer from DibAllocZeroed that grows by doubling when the file turns out
    // longer than it said (or could not tell its size).
    std::unique_ptr<uint8_t, void (*)(void*)> bytes(nullptr, std::free);
    size_t size = 0;
    size_t capacity = 0;
    bool complete = false;
    if (knownSize > 0) {
        capacity = static_cast<size_t>(knownSize);
        bytes.reset(static_cast<uint8_t*>(DibAllocZeroed(capacity)));
        if (!bytes) {
            ShowError(MESSAGE_OUT_OF_MEMORY);
            return nullptr;
        }
        size = std::fread(bytes.get(), 1, capacity, file.get());
        // Done unless the file turned out longer than it said.
        int next = std::fgetc(file.get());
        complete = next == EOF || std::ungetc(next, file.get()) == EOF;
    }
    // Otherwise read to the end in pieces, which also serves files whose size cannot be told in advance.
    constexpr size_t PIECE_BYTES = 64 * 1024;
    while (!complete) {
        if (size > DIB_MAX_FILE_BYTES) {
            ShowError(MESSAGE_OUT_OF_MEMORY);
            return nullptr;
        }
        if (capacity - size < PIECE_BYTES) {
            size_t grown = std::max(size + PIECE_BYTES, capacity * 2);
            std::unique_ptr<uint8_t, void (*)(void*)> larger(static_cast<uint8_t*>(DibAllocZeroed(grown)), std::free);
            if (!larger) {
                ShowError(MESSAGE_OUT_OF_MEMORY);
                return nullptr;
            }
            if (size > 0) {
                std::memcpy(larger.get(), bytes.get(), size);
            }
            bytes = std::move(larger);
            capacity = grown;
        }
        size_t got = std::fread(bytes.get() + size, 1, PIECE_BYTES, file.get());
        size += got;
        complete = got < PIECE_BYTES;
    }
    if (std::ferror(file.get()) || size == 0) {
        ShowOpenFailure(path);
        return nullptr;
    }
    file.reset();
    return ConvertDib(bytes.get(), size);
}

void FreeRgbImage(RgbImage* image)
{
    delete image;
}
