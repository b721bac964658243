// Modules the benchmarks render and the differential test plays: written with the XM writer, so no file has
// to be kept. Busy32Module is the heavy case of the render target: all 32 tracks play looping samples with a
// new note on every row.
#pragma once

#include "tools/xmwriter/xmwriter.h"

#include <cstdint>
#include <vector>

// A 16-bit looped sample of `frames` frames: a mix of two partials, so interpolation matters.
inline XmSample BenchLoopedSample(int frames, XmLoop loop, uint32_t loopStart, int8_t relativeNote)
{
    XmSample sample;
    sample.bits = 16;
    for (int k = 0; k < frames; k++) {
        int a = (k * 997) % 4000 - 2000;
        int b = ((k * 131) % 600) * 20 - 6000;
        sample.pcm.push_back(static_cast<int16_t>(a * 3 + b));
    }
    sample.loop = loop;
    sample.loopStart = loopStart;
    sample.loopLength = static_cast<uint32_t>(frames) - loopStart;
    sample.relativeNote = relativeNote;
    sample.volume = 48;
    return sample;
}

// 32 tracks, four patterns of 64 rows at speed 6 and 125 BPM (about 31 s), every cell a note with an
// instrument; four instruments with forward and ping-pong loops of assorted lengths, one with a volume
// envelope and one with auto-vibrato.
inline XmModule Busy32Module()
{
    constexpr uint16_t Tracks = 32;
    XmModule module;
    module.name = "busy32";
    module.channelCount = Tracks;
    module.defaultSpeed = 6;
    module.defaultBpm = 125;
    const XmLoop loops[4] = {XmLoop::Forward, XmLoop::PingPong, XmLoop::Forward, XmLoop::PingPong};
    const int lengths[4] = {4000, 1500, 600, 9000};
    for (int i = 0; i < 4; i++) {
        XmInstrument instrument;
        instrument.samples.push_back(BenchLoopedSample(lengths[i], loops[i], static_cast<uint32_t>(lengths[i] / 4),
                                                       static_cast<int8_t>(i * 3 - 4)));
        XmMapAllNotes(&instrument, 0);
        module.instruments.push_back(instrument);
    }
    module.instruments[1].volumeEnvelope.points = {{0, 64}, {10, 40}, {40, 20}};
    module.instruments[1].volumeEnvelope.flags = XmEnvelopeOn;
    module.instruments[2].vibratoDepth = 4;
    module.instruments[2].vibratoRate = 8;
    for (int p = 0; p < 4; p++) {
        XmPattern pattern = XmMakePattern(64, Tracks);
        for (int row = 0; row < 64; row++) {
            for (int track = 0; track < Tracks; track++) {
                uint8_t note = static_cast<uint8_t>(25 + (row * 7 + track * 5 + p * 3) % 60);
                uint8_t instrument = static_cast<uint8_t>(1 + (track + p) % 4);
                uint8_t volume = static_cast<uint8_t>(0x10 + (row * 3 + track) % 0x31);  // set volume 0..48
                XmSetCell(&pattern, Tracks, row, track, XmCell{note, instrument, volume, 0, 0});
            }
        }
        module.patterns.push_back(pattern);
        module.orders.push_back(static_cast<uint8_t>(p));
    }
    return module;
}
