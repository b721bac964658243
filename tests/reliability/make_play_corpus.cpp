// Writes the seed modules of the play fuzz target: small songs that reach the player's effects, loops and
// envelopes, so the fuzzer starts from songs that make sound rather than from files that barely load.
// Usage: make_play_corpus <output directory>
#include "tools/xmwriter/xmwriter.h"

#include <cstdio>
#include <string>

static XmSample Wave(uint8_t bits, int frames, XmLoop loop, uint32_t loopStart, uint32_t loopLength)
{
    XmSample sample;
    sample.bits = bits;
    for (int k = 0; k < frames; ++k) {
        int value = (k * 29) % 160 - 80;
        sample.pcm.push_back(static_cast<int16_t>(bits == 16 ? value * 350 : value));
    }
    sample.loop = loop;
    sample.loopStart = loopStart;
    sample.loopLength = loopLength;
    return sample;
}

static XmInstrument Instrument(XmSample sample, bool envelopes)
{
    XmInstrument instrument;
    instrument.samples.push_back(sample);
    XmMapAllNotes(&instrument, 0);
    if (envelopes) {
        instrument.volumeEnvelope.points = {{0, 64}, {4, 20}, {8, 48}, {20, 0}};
        instrument.volumeEnvelope.flags = XmEnvelopeOn | XmEnvelopeSustain | XmEnvelopeLoop;
        instrument.volumeEnvelope.sustain = 2;
        instrument.volumeEnvelope.loopStart = 1;
        instrument.volumeEnvelope.loopEnd = 2;
        instrument.panningEnvelope.points = {{0, 0}, {6, 64}, {12, 32}};
        instrument.panningEnvelope.flags = XmEnvelopeOn;
        instrument.vibratoType = 1;
        instrument.vibratoSweep = 8;
        instrument.vibratoDepth = 6;
        instrument.vibratoRate = 20;
        instrument.fadeout = 900;
    }
    return instrument;
}

// Every effect with a few parameters, one per row on track 0, over a note on track 1 that keeps sounding.
static XmModule Effects(bool linear)
{
    XmModule module;
    module.channelCount = 4;
    module.flags = linear ? XmFlagLinearFrequencies : 0;
    module.defaultSpeed = 3;
    module.defaultBpm = 150;
    module.orders = {0, 1};
    module.restartPosition = 1;
    XmPattern first = XmMakePattern(64, 4);
    XmPattern second = XmMakePattern(32, 4);
    int row = 0;
    for (uint8_t effect = 0; effect <= 33 && row < 64; effect++) {
        if (effect == 0x0B || effect == 0x0D || effect == 0x0F) {
            continue;  // jumps, breaks and tempo come in the second pattern
        }
        uint8_t param = effect == 0x0E ? static_cast<uint8_t>(0x10 + (row % 16) * 0x10 + 2) : 0x37;
        XmSetCell(&first, 4, row, 0, XmCell{static_cast<uint8_t>(37 + row % 24), 1, 0, effect, param});
        XmSetCell(&first, 4, row, 1, XmCell{static_cast<uint8_t>(row % 8 == 0 ? 49 : 0), 2,
                                            static_cast<uint8_t>(0x60 + row % 0x90), 0x03, 0x08});
        row++;
    }
    XmSetCell(&first, 4, 40, 2, XmCell{97, 0, 0, 0, 0});
    XmSetCell(&second, 4, 0, 0, XmCell{25, 3, 0, 0x0F, 0x40});
    XmSetCell(&second, 4, 2, 0, XmCell{26, 3, 0x10, 0x0E, 0x62});
    XmSetCell(&second, 4, 4, 0, XmCell{27, 3, 0, 0x0E, 0x60});
    XmSetCell(&second, 4, 6, 1, XmCell{96, 1, 0, 0x09, 0xF0});
    XmSetCell(&second, 4, 8, 2, XmCell{1, 2, 0, 0x1B, 0x83});
    XmSetCell(&second, 4, 10, 3, XmCell{60, 3, 0, 0x0E, 0xE2});
    XmSetCell(&second, 4, 12, 0, XmCell{0, 0, 0, 0x0F, 0x01});
    XmSetCell(&second, 4, 20, 0, XmCell{0, 0, 0, 0x0D, 0x10});
    XmSetCell(&second, 4, 20, 1, XmCell{0, 0, 0, 0x0B, 0x00});
    module.patterns = {first, second};
    module.instruments = {Instrument(Wave(8, 300, XmLoop::Forward, 100, 150), true),
                          Instrument(Wave(16, 64, XmLoop::PingPong, 0, 2), false),
                          Instrument(Wave(8, 40, XmLoop::None, 0, 0), true)};
    return module;
}

// Tiny loops, a one-frame sample and extreme pitch: the mixer's loop and boundary arithmetic.
static XmModule Extremes()
{
    XmModule module;
    module.channelCount = 2;
    module.defaultSpeed = 1;
    module.defaultBpm = 255;
    module.orders = {0};
    XmPattern pattern = XmMakePattern(16, 2);
    XmSetCell(&pattern, 2, 0, 0, XmCell{96, 1, 0, 0x01, 0xFF});
    XmSetCell(&pattern, 2, 0, 1, XmCell{1, 2, 0, 0x02, 0xFF});
    XmSetCell(&pattern, 2, 4, 0, XmCell{50, 3, 0, 0x09, 0xFF});
    XmSetCell(&pattern, 2, 8, 1, XmCell{96, 2, 0, 0x21, 0x1F});
    module.patterns = {pattern};
    module.instruments = {Instrument(Wave(16, 1, XmLoop::Forward, 0, 1), false),
                          Instrument(Wave(8, 3, XmLoop::PingPong, 1, 1), false),
                          Instrument(Wave(16, 8, XmLoop::None, 0, 0), true)};
    return module;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_play_corpus <output directory>\n");
        return 2;
    }
    std::string dir = argv[1];
    bool ok = XmSaveModule(Effects(true), (dir + "/effects_linear.xm").c_str()) &&
              XmSaveModule(Effects(false), (dir + "/effects_amiga.xm").c_str()) &&
              XmSaveModule(Extremes(), (dir + "/extremes.xm").c_str());
    return ok ? 0 : 1;
}
