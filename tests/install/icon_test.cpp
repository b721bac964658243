// The desktop icons the build makes from the fir-tree picture (the files `cmake --install` copies), read as a
// desktop reads them: every chunk's CRC checked (a desktop's PNG library refuses a damaged one), the image
// decoded by FFmpeg's PNG decoder, and compared block by block with the middle square of data/l1.bmp as the
// intro's own loader reads it. Scaling by area keeps each block's mean colour, so the means agree within the
// rounding of single pixels; a picture upside down, mirrored, cut from the wrong place or with its colours
// swapped does not.
#include "image/image.h"
#include "platform/platform.h"
#include "tests/record/record_test_support.h"

extern "C" {
#include <libavutil/crc.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace recordtest;

uint32_t BigEndian32(const std::string& bytes, size_t at)
{
    return (uint32_t{static_cast<uint8_t>(bytes[at])} << 24) | (uint32_t{static_cast<uint8_t>(bytes[at + 1])} << 16) |
           (uint32_t{static_cast<uint8_t>(bytes[at + 2])} << 8) | uint32_t{static_cast<uint8_t>(bytes[at + 3])};
}

// The chunk types of a PNG file in order, each checked against its CRC ("" after a damaged or cut one).
std::vector<std::string> CheckedChunks(const std::string& bytes)
{
    std::vector<std::string> types;
    if (bytes.compare(0, 8, "\x89PNG\r\n\x1A\n") != 0) {
        return {""};
    }
    const AVCRC* table = av_crc_get_table(AV_CRC_32_IEEE_LE);
    for (size_t at = 8; at < bytes.size();) {
        if (bytes.size() - at < 12 || bytes.size() - at - 12 < BigEndian32(bytes, at)) {
            types.push_back("");
            break;
        }
        uint32_t length = BigEndian32(bytes, at);
        uint32_t crc = av_crc(table, UINT32_MAX, reinterpret_cast<const uint8_t*>(bytes.data() + at + 4), length + 4);
        types.push_back((crc ^ UINT32_MAX) == BigEndian32(bytes, at + 8 + length) ? bytes.substr(at + 4, 4) : "");
        at += 12 + size_t{length};
    }
    return types;
}

// Mean colour of each of blocks × blocks squares of a side × side square whose top-left pixel is (left, top),
// in a picture read through pixelAt(x, y) with y counted from the top.
template <typename PixelAt>
std::vector<double> BlockMeans(int left, int top, int side, int blocks, PixelAt pixelAt)
{
    const int step = side / blocks;
    std::vector<double> means;
    for (int by = 0; by < blocks; by++) {
        for (int bx = 0; bx < blocks; bx++) {
            double sum[3] = {0, 0, 0};
            for (int y = top + by * step; y < top + (by + 1) * step; y++) {
                for (int x = left + bx * step; x < left + (bx + 1) * step; x++) {
                    const uint8_t* pixel = pixelAt(x, y);
                    for (int c = 0; c < 3; c++) {
                        sum[c] += pixel[c];
                    }
                }
            }
            for (double s : sum) {
                means.push_back(s / (step * step));
            }
        }
    }
    return means;
}

TEST(DesktopIcon, EachSizeIsAPngOfTheMiddleOfTheFirTreePicture)
{
    PlatMessageBox = PlatMessageBoxToStderr;
    RgbImage* picture = LoadDibImage(TARNWICK_SOURCE_DIR "/data/l1.bmp");
    ASSERT_NE(picture, nullptr);
    const int side = std::min(picture->width, picture->height);
    const int left = (picture->width - side) / 2;
    const int top = picture->height - side - (picture->height - side) / 2;
    auto pictureAt = [picture](int x, int y) {
        return &picture->pixels[(static_cast<size_t>(picture->height - 1 - y) * picture->width + x) * 3];
    };
    for (int size : {TARNWICK_ICON_SIZES}) {
        const std::string path =
            TARNWICK_ICON_FOLDER "/" + std::to_string(size) + "x" + std::to_string(size) + "/tarnwick.png";
        EXPECT_EQ(CheckedChunks(ReadFile(path)), (std::vector<std::string>{"IHDR", "IDAT", "IEND"})) << path;
        Decoded icon = DecodeFile(path, {0});
        ASSERT_TRUE(icon.opened) << path;
        EXPECT_EQ(icon.videoCodec, AV_CODEC_ID_PNG);
        ASSERT_EQ(icon.width, size);
        ASSERT_EQ(icon.height, size);
        ASSERT_EQ(icon.pictures.size(), 1u);
        const std::vector<uint8_t>& rgb = icon.pictures[0];
        auto iconAt = [&rgb, size](int x, int y) { return &rgb[(static_cast<size_t>(y) * size + x) * 3]; };
        const int blocks = size % 8 == 0 && side % 8 == 0 ? 8 : 1;
        std::vector<double> got = BlockMeans(0, 0, size, blocks, iconAt);
        std::vector<double> want = BlockMeans(left, top, side, blocks, pictureAt);
        double worst = 0;
        for (size_t i = 0; i < got.size(); i++) {
            worst = std::max(worst, std::abs(got[i] - want[i]));
        }
        EXPECT_LE(worst, 0.5 + 1e-9) << path << ": a block's mean colour differs by " << worst;
    }
    FreeRgbImage(picture);
}

} // namespace
