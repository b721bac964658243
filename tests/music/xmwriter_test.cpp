// The XM writer's bytes, checked at their offsets against the file layout (not through the loader).
#include "tools/xmwriter/xmwriter.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

uint16_t U16(const std::vector<uint8_t>& b, size_t at)
{
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t{b[at]} | (uint32_t{b[at + 1]} << 8) | (uint32_t{b[at + 2]} << 16) | (uint32_t{b[at + 3]} << 24);
}

TEST(XmWriter, ModuleHeaderAndPatterns)
{
    XmModule module;
    module.name = "snow";
    module.channelCount = 2;
    module.defaultSpeed = 5;
    module.defaultBpm = 130;
    module.restartPosition = 1;
    module.orders = {0, 1, 0};
    XmPattern p0 = XmMakePattern(2, 2);
    XmSetCell(&p0, 2, 0, 0, XmCell{49, 1, 0x40, 0x0F, 0x06});  // full: 5 bytes as they are
    XmSetCell(&p0, 2, 0, 1, XmCell{97, 0, 0, 0, 0});           // key off: mask 0x81, 97
    XmSetCell(&p0, 2, 1, 1, XmCell{0, 0, 0, 0x0D, 0});         // effect only: mask 0x88, 0x0D
    module.patterns = {p0, XmMakePattern(16, 2)};
    XmLayout layout;
    std::vector<uint8_t> b = XmWriteModule(module, &layout);

    EXPECT_EQ(std::memcmp(b.data(), "Extended Module: snow", 21), 0);
    EXPECT_EQ(b[37], 0x1A);
    EXPECT_EQ(U16(b, 58), 0x0104);
    EXPECT_EQ(U32(b, 60), 276u);
    EXPECT_EQ(U16(b, 64), 3);
    EXPECT_EQ(U16(b, 66), 1);
    EXPECT_EQ(U16(b, 68), 2);
    EXPECT_EQ(U16(b, 70), 2);
    EXPECT_EQ(U16(b, 72), 0);
    EXPECT_EQ(U16(b, 74), 1);
    EXPECT_EQ(U16(b, 76), 5);
    EXPECT_EQ(U16(b, 78), 130);
    EXPECT_EQ(b[81], 1);

    ASSERT_EQ(layout.patternOffsets.size(), 2u);
    size_t p = layout.patternOffsets[0];
    EXPECT_EQ(p, 336u);
    EXPECT_EQ(U32(b, p), 9u);
    EXPECT_EQ(U16(b, p + 5), 2);
    const std::vector<uint8_t> packed = {49, 1, 0x40, 0x0F, 0x06, 0x81, 97, 0x80, 0x88, 0x0D};
    EXPECT_EQ(U16(b, p + 7), packed.size());
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + long(p + 9), b.begin() + long(p + 9 + packed.size())), packed);
    // An empty pattern: packed size 0 and no data.
    size_t q = layout.patternOffsets[1];
    EXPECT_EQ(q, p + 9 + packed.size());
    EXPECT_EQ(U16(b, q + 5), 16);
    EXPECT_EQ(U16(b, q + 7), 0);
    EXPECT_EQ(b.size(), q + 9);
}

TEST(XmWriter, TheHeaderSizeIsStoredAsGivenAndPlacesThePatterns)
{
    XmModule module;
    module.channelCount = 1;
    module.orders = {0};
    module.patterns = {XmMakePattern(1, 1)};
    XmLayout layout;
    // Smaller than the fields and orders: the pattern overwrites the end of the order table.
    module.rawHeaderSize = 100;
    std::vector<uint8_t> b = XmWriteModule(module, &layout);
    EXPECT_EQ(U32(b, 60), 100u);
    ASSERT_EQ(layout.patternOffsets.size(), 1u);
    EXPECT_EQ(layout.patternOffsets[0], 160u);
    EXPECT_EQ(U32(b, 160), 9u);
    // Larger: padded with zeros up to 60 + size.
    module.rawHeaderSize = 1000;
    b = XmWriteModule(module, &layout);
    EXPECT_EQ(layout.patternOffsets[0], 1060u);
    EXPECT_EQ(b[1059], 0);
    EXPECT_EQ(U32(b, 1060), 9u);
    // Near 4 GB (60 + size does not fit 32 bits): stored, not padded, and nothing written is cut off.
    module.rawHeaderSize = 0xFFFFFFF0u;
    b = XmWriteModule(module, &layout);
    ASSERT_GE(b.size(), 336u + 9u);
    EXPECT_EQ(U32(b, 60), 0xFFFFFFF0u);
    EXPECT_EQ(U16(b, 64), 1);
    EXPECT_EQ(layout.patternOffsets[0], 336u);
    EXPECT_EQ(U32(b, 336), 9u);
}

TEST(XmWriter, InstrumentsAndDeltaCodedSamples)
{
    XmModule module;
    module.orders = {0};
    module.patterns = {XmMakePattern(1, 8)};
    XmInstrument inst;
    inst.name = "bell";
    XmMapAllNotes(&inst, 1);
    inst.volumeEnvelope.points = {{0, 64}, {20, 8}};
    inst.volumeEnvelope.sustain = 1;
    inst.volumeEnvelope.flags = XmEnvelopeOn | XmEnvelopeSustain;
    inst.vibratoRate = 7;
    inst.fadeout = 300;
    XmSample s8;
    s8.pcm = {10, -10, 127, -128};
    s8.loop = XmLoop::Forward;
    s8.loopStart = 1;
    s8.loopLength = 2;
    XmSample s16;
    s16.bits = 16;
    s16.pcm = {1000, -1000, 32767};
    s16.loop = XmLoop::PingPong;
    s16.loopStart = 1;
    s16.loopLength = 2;
    s16.relativeNote = -3;
    inst.samples = {s8, s16};
    module.instruments = {inst, XmInstrument{}};
    XmLayout layout;
    std::vector<uint8_t> b = XmWriteModule(module, &layout);

    size_t i = layout.instrumentOffsets[0];
    EXPECT_EQ(U32(b, i), 263u);
    EXPECT_EQ(std::memcmp(&b[i + 4], "bell", 4), 0);
    EXPECT_EQ(U16(b, i + 27), 2);
    EXPECT_EQ(U32(b, i + 29), 40u);
    EXPECT_EQ(b[i + 33], 1);
    EXPECT_EQ(b[i + 33 + 95], 1);
    EXPECT_EQ(U16(b, i + 129 + 4), 20);
    EXPECT_EQ(U16(b, i + 129 + 6), 8);
    EXPECT_EQ(b[i + 225], 2);
    EXPECT_EQ(b[i + 227], 1);
    EXPECT_EQ(b[i + 233], 3);
    EXPECT_EQ(b[i + 238], 7);
    EXPECT_EQ(U16(b, i + 239), 300);

    size_t h8 = layout.sampleHeaderOffsets[0][0], h16 = layout.sampleHeaderOffsets[0][1];
    EXPECT_EQ(h8, i + 263);
    EXPECT_EQ(U32(b, h8), 4u);
    EXPECT_EQ(U32(b, h8 + 4), 1u);
    EXPECT_EQ(U32(b, h8 + 8), 2u);
    EXPECT_EQ(b[h8 + 14], 0x01);
    EXPECT_EQ(U32(b, h16), 6u) << "16-bit lengths and loops are stored in bytes";
    EXPECT_EQ(U32(b, h16 + 4), 2u);
    EXPECT_EQ(U32(b, h16 + 8), 4u);
    EXPECT_EQ(b[h16 + 14], 0x12);
    EXPECT_EQ(static_cast<int8_t>(b[h16 + 16]), -3);

    size_t d8 = layout.sampleDataOffsets[0][0], d16 = layout.sampleDataOffsets[0][1];
    EXPECT_EQ(d8, h16 + 40);
    // Deltas 10, -20, 137 (wraps to -119), -255 (wraps to 1).
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + long(d8), b.begin() + long(d8 + 4)),
              (std::vector<uint8_t>{10, 0xEC, 0x89, 0x01}));
    EXPECT_EQ(d16, d8 + 4);
    EXPECT_EQ(U16(b, d16), 1000);
    EXPECT_EQ(U16(b, d16 + 2), static_cast<uint16_t>(-2000));
    EXPECT_EQ(U16(b, d16 + 4), static_cast<uint16_t>(33767));

    // An instrument without samples: a 29-byte header and nothing else.
    size_t e = layout.instrumentOffsets[1];
    EXPECT_EQ(e, d16 + 6);
    EXPECT_EQ(U32(b, e), 29u);
    EXPECT_EQ(U16(b, e + 27), 0);
    EXPECT_EQ(b.size(), e + 29);
}

} // namespace
