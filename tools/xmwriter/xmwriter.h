// A small writer of XM (extended tracker module) files, for the song composer and for the loader's tests.
//
// Describe a module with the plain records below and call XmWriteModule (bytes in memory) or XmSaveModule
// (a file). Values are given in the file's own terms: notes 1..96 with 97 = key off, instruments from 1,
// volumes 0..64, panning 0..255, loops in frames. The writer packs the patterns, delta-codes the samples
// and fills in every size and count.
//
// For tests that need broken files, the `raw...` fields override what the writer would compute (a count, a
// size, a header field, whole packed pattern data or sample data); XmLayout tells where each part landed so
// a test can patch single bytes of the result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One pattern cell, as stored (0 = field empty).
struct XmCell {
    uint8_t note;        // 1..96, 97 = key off
    uint8_t instrument;  // 1..128
    uint8_t volume;      // volume-column byte
    uint8_t effect;
    uint8_t param;
};

struct XmPattern {
    uint16_t rowCount = 64;
    // Row-major, rowCount x channelCount cells (row r, track c at r * channelCount + c). Missing cells at the
    // end are written empty; extra cells are ignored.
    std::vector<XmCell> cells;
    // Written instead of the packed cells (the packed size becomes its size unless rawPackedSize is given).
    std::optional<std::vector<uint8_t>> rawPackedData;
    std::optional<uint16_t> rawPackedSize;
};

struct XmEnvelopePoint {
    uint16_t tick;
    uint16_t value;  // 0..64 (panning: 32 = centre)
};

constexpr uint8_t XmEnvelopeOn = 1;
constexpr uint8_t XmEnvelopeSustain = 2;
constexpr uint8_t XmEnvelopeLoop = 4;

struct XmEnvelope {
    std::vector<XmEnvelopePoint> points;  // at most 12 are written
    uint8_t sustain = 0;                  // point indices
    uint8_t loopStart = 0;
    uint8_t loopEnd = 0;
    uint8_t flags = 0;                         // XmEnvelopeOn | XmEnvelopeSustain | XmEnvelopeLoop
    std::optional<uint8_t> rawPointCount;      // stored point count instead of points.size()
};

enum class XmLoop : uint8_t { None = 0, Forward = 1, PingPong = 2 };

struct XmSample {
    std::string name;
    uint8_t bits = 8;             // 8 or 16
    std::vector<int16_t> pcm;     // plain PCM frames; for 8 bits each value must lie in -128..127
    XmLoop loop = XmLoop::None;
    uint32_t loopStart = 0;       // frames
    uint32_t loopLength = 0;      // frames
    uint8_t volume = 64;
    int8_t finetune = 0;
    uint8_t panning = 128;
    int8_t relativeNote = 0;
    // Stored header values (in bytes, as the file holds them) instead of the computed ones.
    std::optional<uint32_t> rawLength;
    std::optional<uint32_t> rawLoopStart;
    std::optional<uint32_t> rawLoopLength;
    std::optional<uint8_t> rawType;
    // Written as the sample's data instead of the delta-coded pcm (the length field still follows pcm and
    // bits unless rawLength is given).
    std::optional<std::vector<uint8_t>> rawData;
};

struct XmInstrument {
    std::string name;
    std::vector<XmSample> samples;  // 0..16 for a valid file
    uint8_t sampleMap[96] = {};     // sample index for each note 0..95
    XmEnvelope volumeEnvelope;
    XmEnvelope panningEnvelope;
    uint8_t vibratoType = 0;        // auto-vibrato: 0 sine, 1 square, 2 ramp down, 3 ramp up
    uint8_t vibratoSweep = 0;
    uint8_t vibratoDepth = 0;
    uint8_t vibratoRate = 0;
    uint16_t fadeout = 0;           // as stored (the player subtracts twice this per tick after key off)
    std::optional<uint32_t> rawHeaderSize;   // default 263 with samples, 29 without; above 65536 not padded
    std::optional<uint16_t> rawSampleCount;  // stored sample count instead of samples.size()
};

constexpr uint16_t XmFlagLinearFrequencies = 1;

struct XmModule {
    std::string name;
    std::string trackerName = "tarnwick xmwriter";
    uint16_t channelCount = 8;
    uint16_t restartPosition = 0;
    uint16_t flags = XmFlagLinearFrequencies;
    uint16_t defaultSpeed = 6;
    uint16_t defaultBpm = 125;
    std::vector<uint8_t> orders;  // song length = orders.size(); at most 256 are written
    std::vector<XmPattern> patterns;
    std::vector<XmInstrument> instruments;
    std::optional<uint32_t> rawHeaderSize;       // default 276 (20 + 256 orders); above 65536 not padded
    std::optional<uint16_t> rawSongLength;
    std::optional<uint16_t> rawPatternCount;
    std::optional<uint16_t> rawInstrumentCount;
    std::vector<uint8_t> trailingBytes;          // appended after everything else
};

// Where the parts of a written module start, in bytes from the start of the file.
struct XmLayout {
    std::vector<size_t> patternOffsets;
    std::vector<size_t> instrumentOffsets;
    std::vector<std::vector<size_t>> sampleHeaderOffsets;  // [instrument][sample]
    std::vector<std::vector<size_t>> sampleDataOffsets;    // [instrument][sample]
};

// Builds an empty cell block of rowCount x channelCount for a pattern.
XmPattern XmMakePattern(uint16_t rowCount, uint16_t channelCount);
// Sets one cell of a pattern built for channelCount tracks.
void XmSetCell(XmPattern* pattern, uint16_t channelCount, int row, int channel, XmCell cell);
// Maps every note of an instrument to one sample.
void XmMapAllNotes(XmInstrument* instrument, uint8_t sampleIndex);

// The module's bytes; layout (optional) receives where each part starts.
std::vector<uint8_t> XmWriteModule(const XmModule& module, XmLayout* layout = nullptr);
// Writes the module to a file; false when the file cannot be written.
bool XmSaveModule(const XmModule& module, const char* path);
