// Writes XM modules from the plain records of xmwriter.h: fixed header, order table, packed patterns,
// instruments with their envelopes and auto-vibrato, and delta-coded 8- or 16-bit samples.
#include "tools/xmwriter/xmwriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

constexpr uint32_t ModuleHeaderSize = 276;       // counted from offset 60: 20 bytes of fields + 256 orders
constexpr uint32_t PatternHeaderSize = 9;
constexpr uint32_t InstrumentHeaderSize = 263;   // with samples: 241 bytes of fields + 22 reserved
constexpr uint32_t EmptyInstrumentHeaderSize = 29;
constexpr uint32_t SampleHeaderSize = 40;
constexpr int MaxEnvelopePoints = 12;
// A raw header size above this is stored as given but not padded out, so a hostile size costs no memory.
constexpr uint32_t MaxPaddedHeaderSize = 65536;

static void PutU8(std::vector<uint8_t>& out, uint8_t value)
{
    out.push_back(value);
}

static void PutU16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

static void PutU32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// A fixed-width text field, cut or padded with zeros.
static void PutText(std::vector<uint8_t>& out, const std::string& text, size_t width)
{
    for (size_t k = 0; k < width; ++k)
        out.push_back(k < text.size() ? static_cast<uint8_t>(text[k]) : 0);
}

static void PadTo(std::vector<uint8_t>& out, size_t size)
{
    if (out.size() < size)
        out.resize(size, 0);
}

XmPattern XmMakePattern(uint16_t rowCount, uint16_t channelCount)
{
    XmPattern pattern;
    pattern.rowCount = rowCount;
    pattern.cells.assign(size_t{rowCount} * channelCount, XmCell{});
    return pattern;
}

void XmSetCell(XmPattern* pattern, uint16_t channelCount, int row, int channel, XmCell cell)
{
    size_t index = size_t(row) * channelCount + size_t(channel);
    if (pattern->cells.size() <= index)
        pattern->cells.resize(index + 1, XmCell{});
    pattern->cells[index] = cell;
}

void XmMapAllNotes(XmInstrument* instrument, uint8_t sampleIndex)
{
    std::memset(instrument->sampleMap, sampleIndex, sizeof instrument->sampleMap);
}

// One cell in the shorter of the two forms: all five bytes when every field is set and the note fits in
// seven bits, otherwise a mask byte followed by the fields that are set.
static void PackCell(std::vector<uint8_t>& out, const XmCell& cell)
{
    const uint8_t fields[5] = {cell.note, cell.instrument, cell.volume, cell.effect, cell.param};
    uint8_t mask = 0x80;
    int present = 0;
    for (int k = 0; k < 5; ++k)
        if (fields[k] != 0) {
            mask = static_cast<uint8_t>(mask | (1 << k));
            ++present;
        }
    if (present == 5 && cell.note < 0x80) {
        out.insert(out.end(), fields, fields + 5);
        return;
    }
    out.push_back(mask);
    for (int k = 0; k < 5; ++k)
        if (fields[k] != 0)
            out.push_back(fields[k]);
}

static std::vector<uint8_t> PackPattern(const XmPattern& pattern, uint16_t channelCount)
{
    size_t cellCount = size_t{pattern.rowCount} * channelCount;
    bool empty = true;
    for (size_t k = 0; k < cellCount && k < pattern.cells.size(); ++k) {
        const XmCell& c = pattern.cells[k];
        if (c.note || c.instrument || c.volume || c.effect || c.param)
            empty = false;
    }
    std::vector<uint8_t> packed;
    if (empty)
        return packed;  // packed size 0: every cell empty, no data
    for (size_t k = 0; k < cellCount; ++k)
        PackCell(packed, k < pattern.cells.size() ? pattern.cells[k] : XmCell{});
    return packed;
}

static void PutEnvelopePoints(std::vector<uint8_t>& out, const XmEnvelope& envelope)
{
    for (int k = 0; k < MaxEnvelopePoints; ++k) {
        XmEnvelopePoint point = size_t(k) < envelope.points.size() ? envelope.points[size_t(k)] : XmEnvelopePoint{};
        PutU16(out, point.tick);
        PutU16(out, point.value);
    }
}

static uint8_t PointCount(const XmEnvelope& envelope)
{
    if (envelope.rawPointCount)
        return *envelope.rawPointCount;
    return static_cast<uint8_t>(std::min<size_t>(envelope.points.size(), MaxEnvelopePoints));
}

static uint32_t BytesPerFrame(const XmSample& sample)
{
    return sample.bits == 16 ? 2 : 1;
}

static void PutSampleHeader(std::vector<uint8_t>& out, const XmSample& sample)
{
    uint32_t unit = BytesPerFrame(sample);
    uint8_t type = static_cast<uint8_t>(sample.loop) | (sample.bits == 16 ? 0x10 : 0);
    PutU32(out, sample.rawLength.value_or(static_cast<uint32_t>(sample.pcm.size()) * unit));
    PutU32(out, sample.rawLoopStart.value_or(sample.loop == XmLoop::None ? 0 : sample.loopStart * unit));
    PutU32(out, sample.rawLoopLength.value_or(sample.loop == XmLoop::None ? 0 : sample.loopLength * unit));
    PutU8(out, sample.volume);
    PutU8(out, static_cast<uint8_t>(sample.finetune));
    PutU8(out, sample.rawType.value_or(type));
    PutU8(out, sample.panning);
    PutU8(out, static_cast<uint8_t>(sample.relativeNote));
    PutU8(out, 0);  // reserved
    PutText(out, sample.name, 22);
}

// Delta coding: each stored value is the difference from the previous frame, wrapping at the width.
static void PutSampleData(std::vector<uint8_t>& out, const XmSample& sample)
{
    if (sample.rawData) {
        out.insert(out.end(), sample.rawData->begin(), sample.rawData->end());
        return;
    }
    uint16_t previous = 0;
    for (int16_t frame : sample.pcm) {
        uint16_t value = static_cast<uint16_t>(frame);
        uint16_t delta = static_cast<uint16_t>(value - previous);
        previous = value;
        if (sample.bits == 16)
            PutU16(out, delta);
        else
            PutU8(out, static_cast<uint8_t>(delta));
    }
}

static void PutInstrument(std::vector<uint8_t>& out, const XmInstrument& instrument, XmLayout* layout)
{
    size_t start = out.size();
    bool hasSamples = !instrument.samples.empty();
    uint32_t headerSize =
        instrument.rawHeaderSize.value_or(hasSamples ? InstrumentHeaderSize : EmptyInstrumentHeaderSize);
    PutU32(out, headerSize);
    PutText(out, instrument.name, 22);
    PutU8(out, 0);  // instrument type
    PutU16(out, instrument.rawSampleCount.value_or(static_cast<uint16_t>(instrument.samples.size())));
    if (hasSamples) {
        PutU32(out, SampleHeaderSize);
        out.insert(out.end(), instrument.sampleMap, instrument.sampleMap + 96);
        PutEnvelopePoints(out, instrument.volumeEnvelope);
        PutEnvelopePoints(out, instrument.panningEnvelope);
        PutU8(out, PointCount(instrument.volumeEnvelope));
        PutU8(out, PointCount(instrument.panningEnvelope));
        PutU8(out, instrument.volumeEnvelope.sustain);
        PutU8(out, instrument.volumeEnvelope.loopStart);
        PutU8(out, instrument.volumeEnvelope.loopEnd);
        PutU8(out, instrument.panningEnvelope.sustain);
        PutU8(out, instrument.panningEnvelope.loopStart);
        PutU8(out, instrument.panningEnvelope.loopEnd);
        PutU8(out, instrument.volumeEnvelope.flags);
        PutU8(out, instrument.panningEnvelope.flags);
        PutU8(out, instrument.vibratoType);
        PutU8(out, instrument.vibratoSweep);
        PutU8(out, instrument.vibratoDepth);
        PutU8(out, instrument.vibratoRate);
        PutU16(out, instrument.fadeout);
    }
    // The header occupies headerSize bytes; a size smaller than what was written leaves the extra bytes in
    // place (a reader seeks back to start + size).
    if (headerSize <= MaxPaddedHeaderSize)
        PadTo(out, start + headerSize);

    std::vector<size_t> headers, data;
    for (const XmSample& sample : instrument.samples) {
        headers.push_back(out.size());
        PutSampleHeader(out, sample);
    }
    for (const XmSample& sample : instrument.samples) {
        data.push_back(out.size());
        PutSampleData(out, sample);
    }
    if (layout) {
        layout->instrumentOffsets.push_back(start);
        layout->sampleHeaderOffsets.push_back(headers);
        layout->sampleDataOffsets.push_back(data);
    }
}

std::vector<uint8_t> XmWriteModule(const XmModule& module, XmLayout* layout)
{
    if (layout)
        *layout = XmLayout{};
    std::vector<uint8_t> out;
    PutText(out, "Extended Module: ", 17);
    PutText(out, module.name, 20);
    PutU8(out, 0x1A);
    PutText(out, module.trackerName, 20);
    PutU16(out, 0x0104);  // format version
    uint32_t headerSize = module.rawHeaderSize.value_or(ModuleHeaderSize);
    PutU32(out, headerSize);
    size_t orderCount = std::min<size_t>(module.orders.size(), 256);
    PutU16(out, module.rawSongLength.value_or(static_cast<uint16_t>(orderCount)));
    PutU16(out, module.restartPosition);
    PutU16(out, module.channelCount);
    PutU16(out, module.rawPatternCount.value_or(static_cast<uint16_t>(module.patterns.size())));
    PutU16(out, module.rawInstrumentCount.value_or(static_cast<uint16_t>(module.instruments.size())));
    PutU16(out, module.flags);
    PutU16(out, module.defaultSpeed);
    PutU16(out, module.defaultBpm);
    for (size_t k = 0; k < 256; ++k)
        PutU8(out, k < orderCount ? module.orders[k] : 0);
    // The patterns start at 60 + header size: a smaller header lets them overwrite the end of the order
    // table, a larger one is padded with zeros. Summed in 64 bits: with a 32-bit size_t a hostile size near
    // 4 GB would wrap to a small one and cut the header short.
    uint64_t patternsAt = 60 + uint64_t{headerSize};
    if (patternsAt < out.size())
        out.resize(static_cast<size_t>(patternsAt));
    else if (headerSize <= MaxPaddedHeaderSize)
        PadTo(out, static_cast<size_t>(patternsAt));

    for (const XmPattern& pattern : module.patterns) {
        if (layout)
            layout->patternOffsets.push_back(out.size());
        std::vector<uint8_t> packed = pattern.rawPackedData ? *pattern.rawPackedData
                                                            : PackPattern(pattern, module.channelCount);
        PutU32(out, PatternHeaderSize);
        PutU8(out, 0);  // packing type
        PutU16(out, pattern.rowCount);
        PutU16(out, pattern.rawPackedSize.value_or(static_cast<uint16_t>(packed.size())));
        out.insert(out.end(), packed.begin(), packed.end());
    }
    for (const XmInstrument& instrument : module.instruments)
        PutInstrument(out, instrument, layout);
    out.insert(out.end(), module.trailingBytes.begin(), module.trailingBytes.end());
    return out;
}

bool XmSaveModule(const XmModule& module, const char* path)
{
    std::vector<uint8_t> bytes = XmWriteModule(module);
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr)
        return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = std::fclose(file) == 0 && written;
    return written;
}
