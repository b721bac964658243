// The loader's own rules on small files made here: layout, colour tables, every bit depth, run-length
// streams, and the messages for files that are cut, hostile or missing.
#include "dib_test_util.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

static std::vector<uint8_t> ReadSuiteFile(const char* name)
{
    std::ifstream in(std::string(TW_BMP_SUITE_DIR) + "/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(DibLoader, Width3At24BitsDropsRowPaddingAndStartsAtBottomLeftInRgb)
{
    auto file = MakeDib(InfoHeader(3, 2, 24), {},
                        {10, 20, 30, 11, 21, 31, 12, 22, 32, 0xEE, 0xEE, 0xEE,   // bottom row + 3 padding
                         40, 50, 60, 41, 51, 61, 42, 52, 62, 0xEE, 0xEE, 0xEE}); // top row
    ImagePtr image = LoadBytes(file);
    ASSERT_TRUE(image) << OnlyMessage();
    EXPECT_EQ(image->width, 3);
    EXPECT_EQ(image->height, 2);
    EXPECT_EQ(image->pixels, Rgb({30, 20, 10, 31, 21, 11, 32, 22, 12, 60, 50, 40, 61, 51, 41, 62, 52, 42}));
}

TEST(DibLoader, ColoursUsedDecidesTableLengthAndWherePixelsStartWithoutFileHeader)
{
    // 1 bit, width 2: pixel 0 uses entry 0, pixel 1 entry 1. Without "BM" the rows follow the table, so a
    // wrong table length would read the rows from the wrong place.
    for (uint32_t colorsUsed : {0u, 5u}) {
        SCOPED_TRACE(colorsUsed);
        auto header = InfoHeader(2, 1, 1, 0, colorsUsed);
        EXPECT_EQ(DibColorCount(header.data(), header.size()), colorsUsed == 0 ? 2u : 5u);
        ImagePtr image = LoadBytes(MakeDib(header, Palette(colorsUsed == 0 ? 2 : 5), {0x40, 0, 0, 0}, false));
        ASSERT_TRUE(image) << OnlyMessage();
        EXPECT_EQ(image->pixels, Rgb({1, 2, 3, 17, 18, 19}));
    }
}

TEST(DibLoader, CoreHeaderWith8BitsReads256ThreeByteEntries)
{
    std::vector<uint8_t> header;
    PutLe(header, 12, 4);
    PutLe(header, 2, 2); // width
    PutLe(header, 1, 2); // height
    PutLe(header, 1, 2); // planes
    PutLe(header, 8, 2); // bits
    std::vector<uint8_t> table;
    for (int i = 0; i < 256; i++) {
        table.insert(table.end(), {uint8_t(i), uint8_t(i / 2), uint8_t(255 - i)}); // blue, green, red
    }
    EXPECT_EQ(DibColorCount(header.data(), header.size()), 256u);
    for (bool fileHeader : {false, true}) {
        ImagePtr image = LoadBytes(MakeDib(header, table, {255, 1, 0, 0}, fileHeader));
        ASSERT_TRUE(image) << OnlyMessage();
        EXPECT_EQ(image->pixels, Rgb({0, 127, 255, 254, 0, 1}));
    }
}

TEST(DibLoader, ColourCountRules)
{
    std::vector<uint8_t> core;
    PutLe(core, 12, 4);
    PutLe(core, 1, 2);
    PutLe(core, 1, 2);
    PutLe(core, 1, 2);
    for (auto [bits, count] : {std::pair{1, 2}, {4, 16}, {8, 256}, {24, 0}, {2, 0}}) {
        core.resize(10);
        PutLe(core, bits, 2);
        EXPECT_EQ(DibColorCount(core.data(), core.size()), uint32_t(count)) << "core, bits " << bits;
        auto info = InfoHeader(1, 1, uint16_t(bits));
        EXPECT_EQ(DibColorCount(info.data(), info.size()), uint32_t(count)) << "info, bits " << bits;
    }
    // Only the low 16 bits of colours used count, even when they are 0.
    auto info = InfoHeader(1, 1, 8, 0, 0x12345);
    EXPECT_EQ(DibColorCount(info.data(), info.size()), 0x2345u);
    info = InfoHeader(1, 1, 8, 0, 0x10000);
    EXPECT_EQ(DibColorCount(info.data(), info.size()), 0u);
    EXPECT_EQ(DibColorCount(info.data(), 39), 0u);
}

TEST(DibLoader, PackedIndicesMostSignificantFirstAndIndicesPastTableBlack)
{
    // 1 bit, width 9 (two bytes per row, padded to 4).
    ImagePtr one = LoadBytes(MakeDib(InfoHeader(9, 1, 1), Palette(2), {0xA0, 0x80, 0, 0}));
    ASSERT_TRUE(one) << OnlyMessage();
    std::vector<uint8_t> expected;
    for (int index : {1, 0, 1, 0, 0, 0, 0, 0, 1}) {
        expected.insert(expected.end(), {uint8_t(index * 16 + 1), uint8_t(index * 16 + 2), uint8_t(index * 16 + 3)});
    }
    EXPECT_EQ(one->pixels, expected);

    ImagePtr four = LoadBytes(MakeDib(InfoHeader(3, 1, 4, 0, 3), Palette(3), {0x21, 0x30, 0, 0}));
    ASSERT_TRUE(four) << OnlyMessage();
    EXPECT_EQ(four->pixels, Rgb({33, 34, 35, 17, 18, 19, 0, 0, 0}));

    ImagePtr eight = LoadBytes(MakeDib(InfoHeader(4, 1, 8, 0, 2), Palette(2), {1, 0, 2, 255}));
    ASSERT_TRUE(eight) << OnlyMessage();
    EXPECT_EQ(eight->pixels, Rgb({17, 18, 19, 1, 2, 3, 0, 0, 0, 0, 0, 0}));
}

TEST(DibLoader, SixteenAndThirtyTwoBitPixels)
{
    // 5-5-5 with the top bit unused; each channel widened by repeating its top bits.
    std::vector<uint8_t> rows;
    for (uint16_t v : {0x7FFF, 0x8000, 0x4210, 0x001F, 0x0421, 0x7C00}) {
        PutLe(rows, v, 2);
    }
    ImagePtr sixteen = LoadBytes(MakeDib(InfoHeader(6, 1, 16), {}, rows));
    ASSERT_TRUE(sixteen) << OnlyMessage();
    EXPECT_EQ(sixteen->pixels,
              Rgb({255, 255, 255, 0, 0, 0, 132, 132, 132, 0, 0, 255, 8, 8, 8, 255, 0, 0}));

    ImagePtr thirtyTwo = LoadBytes(MakeDib(InfoHeader(2, 1, 32), {}, {1, 2, 3, 0xFF, 4, 5, 6, 0x80}));
    ASSERT_TRUE(thirtyTwo) << OnlyMessage();
    EXPECT_EQ(thirtyTwo->pixels, Rgb({3, 2, 1, 6, 5, 4}));
}

TEST(DibLoader, TopDownFileIsTurnedBottomUpWithPositiveHeight)
{
    ImagePtr image = LoadBytes(MakeDib(InfoHeader(1, -3, 8, 0, 4), Palette(4), {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0}));
    ASSERT_TRUE(image) << OnlyMessage();
    EXPECT_EQ(image->height, 3);
    EXPECT_EQ(image->pixels, Rgb({49, 50, 51, 33, 34, 35, 17, 18, 19}));
}

TEST(DibLoader, Rle8RunsAbsoluteRunsDeltasAndClipping)
{
    // Width 4, height 3. Row 0: a run of 3 then a padded absolute run of 3 that would pass the right edge
    // (clipped, not wrapped); end of line; a delta to (1, 2); a run of 2; end of bitmap; a run after it.
    std::vector<uint8_t> stream = {3, 1, 0, 3, 2, 3, 1, 0, 0, 0, 0, 2, 1, 1, 2, 2, 0, 1, 4, 3};
    ImagePtr image = LoadBytes(MakeDib(InfoHeader(4, 3, 8, 1, 4), Palette(4), stream));
    ASSERT_TRUE(image) << OnlyMessage();
    std::vector<uint8_t> expected = Rgb({17, 18, 19, 17, 18, 19, 17, 18, 19, 33, 34, 35});
    expected.resize(12 + 12 + 3, 0); // row 1 never written, row 2 starts with a skipped pixel
    expected.insert(expected.end(), {33, 34, 35, 33, 34, 35, 0, 0, 0});
    EXPECT_EQ(image->pixels, expected);

    // A delta above the top row ends decoding; nothing after it is written.
    ImagePtr up = LoadBytes(MakeDib(InfoHeader(2, 2, 8, 1, 4), Palette(4), {1, 1, 0, 2, 0, 200, 2, 2, 0, 0, 2, 3}));
    ASSERT_TRUE(up) << OnlyMessage();
    EXPECT_EQ(up->pixels, Rgb({17, 18, 19, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(DibLoader, Rle4AlternatesNibblesAndPadsAbsoluteRuns)
{
    // Width 8, height 2: absolute run of 5 (3 bytes + 1 pad), run of 2 alternating, end of line, a run of 9
    // alternating (clipped to 8), end of bitmap.
    std::vector<uint8_t> stream = {0, 5, 0x12, 0x34, 0x50, 0, 2, 0x67, 0, 0, 9, 0x89, 0, 1};
    ImagePtr image = LoadBytes(MakeDib(InfoHeader(8, 2, 4, 2), Palette(16), stream));
    ASSERT_TRUE(image) << OnlyMessage();
    std::vector<uint8_t> expected;
    for (int index : {1, 2, 3, 4, 5, 6, 7, -1, 8, 9, 8, 9, 8, 9, 8, 9}) {
        for (int channel = 1; channel <= 3; channel++) {
            expected.push_back(index < 0 ? 0 : uint8_t(index * 16 + channel));
        }
    }
    EXPECT_EQ(image->pixels, expected);
}

TEST(DibLoader, EveryCutOfA24BitFileGivesOneMessageAndNoImage)
{
    std::vector<uint8_t> file = ReadSuiteFile("g/rgb24.bmp");
    ASSERT_EQ(file.size(), 24630u);
    for (size_t length = 0; length < file.size(); length++) {
        ImagePtr image = LoadBytes(file, length);
        ASSERT_FALSE(image) << length;
        ASSERT_EQ(fakePlatform.boxes.size(), 1u) << length;
        const char* message = length == 0   ? "Failed to open DIB file test.bmp.\n"
                              : length < 54 ? "Unknown DIB file format."
                                            : "Image file conversion error.";
        ASSERT_EQ(fakePlatform.boxes[0].text, message) << length;
    }
}

TEST(DibLoader, CutRle8FileFailsInHeadersThenGivesImageWithMissingPixelsBlack)
{
    std::vector<uint8_t> file = ReadSuiteFile("g/pal8rle.bmp");
    ASSERT_EQ(file.size(), 8788u);
    ImagePtr whole = LoadBytes(file);
    ASSERT_TRUE(whole);
    const size_t pixelOffset = file[10] | file[11] << 8; // after the 252-entry colour table
    size_t blackPixels = 0;
    for (size_t length = 0; length < file.size(); length++) {
        ImagePtr image = LoadBytes(file, length);
        if (length < pixelOffset) {
            ASSERT_FALSE(image) << length;
            ASSERT_EQ(fakePlatform.boxes.size(), 1u) << length;
            ASSERT_EQ(fakePlatform.boxes[0].text, length == 0   ? "Failed to open DIB file test.bmp.\n"
                                                  : length < 54 ? "Unknown DIB file format."
                                                                : "Image file conversion error.")
                << length;
            continue;
        }
        ASSERT_TRUE(image) << length;
        ASSERT_TRUE(fakePlatform.boxes.empty()) << length;
        ASSERT_EQ(image->pixels.size(), whole->pixels.size());
        // Each pixel is the whole file's pixel, or black where the cut stream never reached.
        for (size_t i = 0; i < image->pixels.size(); i += 3) {
            bool same = std::equal(&image->pixels[i], &image->pixels[i] + 3, &whole->pixels[i]);
            bool black = image->pixels[i] == 0 && image->pixels[i + 1] == 0 && image->pixels[i + 2] == 0;
            ASSERT_TRUE(same || black) << "length " << length << " pixel " << i / 3;
            blackPixels += black && !same;
        }
    }
    EXPECT_GT(blackPixels, 0u);
}

TEST(DibLoader, HostileHeadersGiveTheirMessage)
{
    const std::string conversion = "Image file conversion error.";
    const std::string unknown = "Unknown DIB file format.";
    const std::string memory = "Out of memory.";
    auto rows = std::vector<uint8_t>(64, 0);
    auto withOffset = [](std::vector<uint8_t> file, uint32_t offset) {
        for (int i = 0; i < 4; i++) {
            file[10 + i] = uint8_t(offset >> (8 * i));
        }
        return file;
    };
    auto header108 = InfoHeader(1, 1, 24);
    header108[0] = 108;
    header108.resize(108, 0);
    auto cutHeader = InfoHeader(1, 1, 24);
    cutHeader.resize(30);
    std::vector<uint8_t> bmOnly = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        std::string message;
    } cases[] = {
        {"width 0", MakeDib(InfoHeader(0, 1, 24), {}, rows), conversion},
        {"negative width", MakeDib(InfoHeader(-4, 1, 24), {}, rows), conversion},
        {"height 0", MakeDib(InfoHeader(4, 0, 24), {}, rows), conversion},
        {"above 64 Mpixel", MakeDib(InfoHeader(8193, 8193, 8, 1), {}, rows), memory},
        {"largest sizes", MakeDib(InfoHeader(INT32_MAX, INT32_MAX, 24), {}, rows), memory},
        {"most negative height", MakeDib(InfoHeader(1, INT32_MIN, 24), {}, rows), memory},
        {"2 bits", MakeDib(InfoHeader(4, 1, 2), Palette(4), rows), conversion},
        {"64 bits", MakeDib(InfoHeader(1, 1, 64), {}, rows), conversion},
        {"bit fields", MakeDib(InfoHeader(2, 1, 16, 3), {}, rows), conversion},
        {"RLE8 at 4 bits", MakeDib(InfoHeader(2, 1, 4, 1), Palette(16), rows), conversion},
        {"RLE4 at 8 bits", MakeDib(InfoHeader(2, 1, 8, 2), Palette(16), rows), conversion},
        {"RLE top-down", MakeDib(InfoHeader(2, -1, 8, 1), Palette(16), rows), conversion},
        {"compression 4", MakeDib(InfoHeader(2, 1, 24, 4), {}, rows), conversion},
        {"pixel offset past the end", withOffset(MakeDib(InfoHeader(1, 1, 24), {}, rows), 1u << 31), conversion},
        {"rows past the end", MakeDib(InfoHeader(6, 4, 24), {}, rows), conversion},
        {"table past the end", MakeDib(InfoHeader(1, 1, 8, 0, 60000), Palette(16), rows), conversion},
        {"108-byte header", MakeDib(header108, {}, rows), unknown},
        {"40-byte header cut", cutHeader, unknown},
        {"file header only", bmOnly, unknown},
    };
    for (const Case& c : cases) {
        ImagePtr image = LoadBytes(c.file);
        EXPECT_FALSE(image) << c.what;
        EXPECT_EQ(OnlyMessage(), c.message) << c.what;
    }
}

TEST(DibLoader, BoxIsModalOkWithoutIconOwnedByFocusedWindow)
{
    FakePlatformReset();
    fakePlatform.openWindow = reinterpret_cast<PlatWindow>(uintptr_t(0x4321));
    uint8_t junk[] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(LoadDibImageFromMemory(junk, sizeof junk, "junk"), nullptr);
    ASSERT_EQ(fakePlatform.boxes.size(), 1u);
    EXPECT_EQ(fakePlatform.boxes[0].owner, fakePlatform.openWindow);
    EXPECT_EQ(fakePlatform.boxes[0].caption, "Error");
    EXPECT_EQ(fakePlatform.boxes[0].flags, PLAT_MB_OK);
}

TEST(DibLoader, FilesThatCannotBeOpenedOrHeld)
{
    std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tw_dib_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir);
    std::string missing = (dir / "missing.bmp").string();
    std::string empty = (dir / "empty.bmp").string();
    std::string huge = (dir / "huge.bmp").string();
    std::ofstream(empty).close();
    {
        // Sparse: the size says too big, and the loader must refuse before reading any of it.
        std::ofstream(huge).close();
        std::filesystem::resize_file(huge, DIB_MAX_FILE_BYTES + 1);
    }
    struct Case {
        std::string path;
        std::string message;
    } cases[] = {
        {missing, "Failed to open DIB file " + missing + ".\n"},
        {empty, "Failed to open DIB file " + empty + ".\n"},
        {dir.string(), "Failed to open DIB file " + dir.string() + ".\n"},
        {huge, "Out of memory."},
    };
    for (const Case& c : cases) {
        FakePlatformReset();
        EXPECT_EQ(LoadDibImage(c.path.c_str()), nullptr) << c.path;
        EXPECT_EQ(OnlyMessage(), c.message);
    }
    // A very long path is cut so the message stays within 255 characters.
    std::string longPath = (dir / std::string(300, 'x')).string();
    FakePlatformReset();
    EXPECT_EQ(LoadDibImage(longPath.c_str()), nullptr);
    ASSERT_EQ(fakePlatform.boxes.size(), 1u);
    EXPECT_EQ(fakePlatform.boxes[0].text, ("Failed to open DIB file " + longPath).substr(0, 255));
    FakePlatformReset();
    EXPECT_EQ(LoadDibImageFromMemory(nullptr, 0, "nothing.bmp"), nullptr);
    EXPECT_EQ(OnlyMessage(), "Failed to open DIB file nothing.bmp.\n");
    std::filesystem::remove_all(dir);
}
