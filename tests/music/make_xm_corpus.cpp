// Writes the seed modules of the XM fuzz target: small, valid modules that reach every part of the loader
// (packed and empty patterns, missing patterns, instruments with and without samples, envelopes, 8- and
// 16-bit samples with each loop kind). Usage: make_xm_corpus <output directory>
#include "tools/xmwriter/xmwriter.h"

#include <cstdio>
#include <string>

static XmSample Sample(uint8_t bits, int frames, XmLoop loop, uint32_t loopStart, uint32_t loopLength)
{
    XmSample sample;
    sample.bits = bits;
    for (int k = 0; k < frames; ++k) {
        int value = (k * 37) % 200 - 100;
        sample.pcm.push_back(static_cast<int16_t>(bits == 16 ? value * 300 : value));
    }
    sample.loop = loop;
    sample.loopStart = loopStart;
    sample.loopLength = loopLength;
    return sample;
}

static XmModule SmallSong()
{
    XmModule module;
    module.name = "seed";
    module.channelCount = 4;
    module.orders = {0, 1, 0, 3};
    module.restartPosition = 1;
    XmPattern melody = XmMakePattern(16, 4);
    for (int row = 0; row < 16; row += 2) {
        XmSetCell(&melody, 4, row, 0, XmCell{static_cast<uint8_t>(49 + row), 1, 0, 0, 0});
        XmSetCell(&melody, 4, row, 1, XmCell{static_cast<uint8_t>(37 + row), 2, 0x30, 0x04, 0x46});
    }
    XmSetCell(&melody, 4, 15, 2, XmCell{97, 0, 0, 0x0D, 0});
    XmSetCell(&melody, 4, 7, 3, XmCell{61, 3, 0x40, 0x0A, 0x0F});
    module.patterns = {melody, XmMakePattern(8, 4)};

    XmInstrument bell;
    bell.name = "bell";
    XmMapAllNotes(&bell, 0);
    bell.samples = {Sample(8, 64, XmLoop::Forward, 16, 32)};
    bell.volumeEnvelope.points = {{0, 64}, {8, 40}, {32, 0}};
    bell.volumeEnvelope.sustain = 1;
    bell.volumeEnvelope.flags = XmEnvelopeOn | XmEnvelopeSustain;
    bell.fadeout = 128;
    XmInstrument pad;
    pad.name = "pad";
    for (int n = 0; n < 96; ++n)
        pad.sampleMap[n] = n < 48 ? 0 : 1;
    pad.samples = {Sample(16, 48, XmLoop::PingPong, 8, 40), Sample(16, 20, XmLoop::None, 0, 0)};
    pad.panningEnvelope.points = {{0, 0}, {10, 64}, {20, 32}};
    pad.panningEnvelope.loopStart = 0;
    pad.panningEnvelope.loopEnd = 2;
    pad.panningEnvelope.flags = XmEnvelopeOn | XmEnvelopeLoop;
    pad.vibratoSweep = 10;
    pad.vibratoDepth = 4;
    pad.vibratoRate = 6;
    XmInstrument empty;
    module.instruments = {bell, pad, empty};
    return module;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_xm_corpus <output directory>\n");
        return 2;
    }
    std::string dir = argv[1];
    bool ok = XmSaveModule(SmallSong(), (dir + "/small_song.xm").c_str());

    XmModule bare;
    bare.channelCount = 2;
    bare.orders = {0};
    bare.patterns = {XmMakePattern(1, 2)};
    ok = XmSaveModule(bare, (dir + "/bare.xm").c_str()) && ok;

    XmModule samples = bare;
    samples.instruments = {XmInstrument{}, XmInstrument{}};
    samples.instruments[0].samples = {Sample(8, 5, XmLoop::None, 0, 0), Sample(16, 9, XmLoop::Forward, 2, 7)};
    samples.instruments[1].samples = {Sample(16, 3, XmLoop::PingPong, 0, 3)};
    ok = XmSaveModule(samples, (dir + "/samples.xm").c_str()) && ok;

    XmModule wide = bare;
    wide.channelCount = 32;
    wide.orders = {2, 0, 1};
    wide.patterns = {XmMakePattern(3, 32)};
    for (int c = 0; c < 32; ++c)
        XmSetCell(&wide.patterns[0], 32, c % 3, c, XmCell{static_cast<uint8_t>(c + 1), 1, 0, 0, 0});
    ok = XmSaveModule(wide, (dir + "/wide.xm").c_str()) && ok;
    return ok ? 0 : 1;
}
