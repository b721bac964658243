// Writes Windows bitmap (DIB) files for the intro's own art: 24-bit, 8-bit and 4-bit palette, 8-bit
// run-length, with the 40-byte info header or the 12-byte core header. Output is byte-for-byte
// deterministic, so a generator can check the committed data against what it would write.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DibColor {
    uint8_t red, green, blue;
};

// A picture made of colour-table indexes, bottom row first, one byte per pixel whatever the file's depth.
struct IndexedPicture {
    int width;
    int height;
    std::vector<uint8_t> indexes;  // width × height, bottom row first
    std::vector<DibColor> palette; // 1 .. 256 entries; every index is below its size
};

// A picture of RGB pixels, bottom row first, rows packed without gaps.
struct RgbPicture {
    int width;
    int height;
    std::vector<uint8_t> rgb; // width × height × 3: red, green, blue
};

enum class DibLayout {
    Info,     // 40-byte info header, uncompressed
    InfoRle8, // 40-byte info header, 8-bit run-length (8-bit palette pictures only)
    Core,     // 12-byte core header, uncompressed (table entries of 3 bytes)
};

// A whole file with its 14-byte "BM" header. `bitCount` is 4 or 8. With the info layout the colour table
// holds exactly the palette's entries and "colours used" says how many; the core header has no such field,
// so its table is padded with black to the full 16 or 256 entries.
std::vector<uint8_t> EncodeIndexedDib(const IndexedPicture& picture, int bitCount, DibLayout layout);
// A whole 24-bit file (no colour table).
std::vector<uint8_t> EncodeRgbDib(const RgbPicture& picture, DibLayout layout);

// Writes or compares a generated file. Both print a line to standard error on failure.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileHasBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// The art generators' command line: "[--font FILE] (--write DIR | --check DIR)".
struct GeneratorOptions {
    std::string font = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";  // DejaVu Sans Bold
    std::string dir;     // where the files are written or compared
    bool check = false;  // compare with the files in dir instead of writing them
};
// False on a usage error, after printing the usage line for `program` on standard error.
bool ParseGeneratorOptions(const char* program, int argc, char** argv, GeneratorOptions* options);
