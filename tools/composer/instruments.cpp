// The song's instruments, synthesised from plain double arithmetic and an integer noise generator, so the
// samples come out bit for bit the same on every run (no rand(), no fast-math, no fused multiply-adds).
//
// Tuning: a note plays a sample at 8363 * 2^((note - C-4 + relativeNote + finetune/128) / 12) frames per
// second. The song takes C-4 as middle C (261.63 Hz). A pitched sample is made with an exact whole number
// of frames per cycle of its root note, so its loop can span whole cycles and join without a click; its
// relative note and finetune are then chosen so that the root note plays it at the rate that makes the
// cycle sound at the root's pitch (to within 1/128 semitone). Drums and bells are tuned so that their
// usual note plays them at the rate they were made at.
#include "tools/composer/composer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double AmigaC4Rate = 8363.0;  // frames per second at C-4 without relative note or finetune
constexpr int MidiOfC4 = 60;            // the note C-4 of the file sounds as middle C

// Every sample is scaled so its largest frame reaches this share of full scale: with volume 64 one voice
// then peaks at about 0.85 * 127/255 of the output's range, which leaves room for the other tracks.
constexpr double SamplePeak = 0.95;

// A xorshift generator: the same sequence on every machine, unlike rand().
struct NoiseGenerator {
    uint32_t state;  // never 0
};

static uint32_t NextBits(NoiseGenerator& noise)
{
    uint32_t x = noise.state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    noise.state = x;
    return x;
}

// Uniform in [-1, 1).
static double NextNoise(NoiseGenerator& noise)
{
    return static_cast<double>(static_cast<int32_t>(NextBits(noise))) / 2147483648.0;
}

// Uniform in [0, 1).
static double NextUnit(NoiseGenerator& noise)
{
    return static_cast<double>(NextBits(noise) >> 8) / 16777216.0;
}

static double MidiHz(int midi)
{
    return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

struct Tuning {
    int8_t relativeNote;
    int8_t finetune;  // even, because the player halves it into 1/64 semitones
    double rate;      // frames per second at which the root note plays the sample
};

// Relative note and finetune that make the MIDI note `rootMidi` play a sample at close to `wantedRate`.
static Tuning TuneFor(double wantedRate, int rootMidi)
{
    double semitones = 12.0 * std::log2(wantedRate / AmigaC4Rate) - (rootMidi - MidiOfC4);
    int relative = static_cast<int>(std::floor(semitones + 0.5));
    int sixtyFourths = static_cast<int>(std::floor((semitones - relative) * 64.0 + 0.5));  // -32..32
    Tuning tuning;
    tuning.relativeNote = static_cast<int8_t>(relative);
    tuning.finetune = static_cast<int8_t>(2 * sixtyFourths);
    tuning.rate = AmigaC4Rate * std::pow(2.0, (rootMidi - MidiOfC4 + relative + sixtyFourths / 64.0) / 12.0);
    return tuning;
}

// Raised-cosine fade from 1 (at or before `from`) to 0 (at or after `to`), in frames.
static double FadeOut(int frame, int from, int to)
{
    if (frame <= from)
        return 1.0;
    if (frame >= to)
        return 0.0;
    double x = static_cast<double>(frame - from) / (to - from);
    return 0.5 + 0.5 * std::cos(Pi * x);
}

// Fades the last quarter of a one-shot to silence, so a sound cut off by its own end does not click.
static void TaperEnd(std::vector<double>& wave)
{
    int length = static_cast<int>(wave.size());
    for (int k = length - length / 4; k < length; ++k)
        wave[size_t(k)] *= FadeOut(k, length - length / 4, length);
}

// Scales the wave so its peak is SamplePeak of full scale and rounds it to 8- or 16-bit frames.
static std::vector<int16_t> Quantise(const std::vector<double>& wave, int bits)
{
    double peak = 0.0;
    for (double x : wave)
        peak = std::max(peak, std::fabs(x));
    double full = bits == 16 ? 32767.0 : 127.0;
    double scale = peak > 0.0 ? SamplePeak * full / peak : 0.0;
    std::vector<int16_t> frames(wave.size());
    for (size_t k = 0; k < wave.size(); ++k) {
        double value = std::floor(wave[k] * scale + 0.5);
        value = std::clamp(value, -full - 1.0, full);
        frames[k] = static_cast<int16_t>(value);
    }
    return frames;
}

static XmSample MakeSample(const char* name, const std::vector<double>& wave, int bits, const Tuning& tuning,
                           uint8_t volume)
{
    XmSample sample;
    sample.name = name;
    sample.bits = static_cast<uint8_t>(bits);
    sample.pcm = Quantise(wave, bits);
    sample.volume = volume;
    sample.finetune = tuning.finetune;
    sample.relativeNote = tuning.relativeNote;
    sample.panning = 128;
    return sample;
}

static XmEnvelope Envelope(std::vector<XmEnvelopePoint> points, uint8_t flags, uint8_t sustain = 0)
{
    XmEnvelope envelope;
    envelope.points = std::move(points);
    envelope.flags = flags;
    envelope.sustain = sustain;
    return envelope;
}

// ---- Celesta -------------------------------------------------------------------------------------------------

// A struck metal bar: a bright, partly inharmonic strike that dies within a third of a second into a
// steady, nearly pure tone. Only the steady part is periodic, so the forward loop covers whole cycles of
// it and the instrument's envelope does the long decay.
static XmInstrument Celesta()
{
    constexpr int Root = 84;  // C6
    constexpr int Cycle = 32;
    constexpr int LoopCycles = 16;
    Tuning tuning = TuneFor(Cycle * MidiHz(Root), Root);
    int steadyFrom = static_cast<int>(0.30 * tuning.rate) / Cycle * Cycle;
    int length = steadyFrom + LoopCycles * Cycle;

    NoiseGenerator noise{0x2545F491u};
    std::vector<double> wave(static_cast<size_t>(length));
    for (int k = 0; k < length; ++k) {
        double t = k / tuning.rate;
        double phase = 2.0 * Pi * k / Cycle;
        double steady = std::sin(phase) + 0.10 * std::sin(2.0 * phase + 0.3) + 0.03 * std::sin(3.0 * phase + 1.1);
        double strike = 0.70 * std::sin(phase) * std::exp(-t / 0.12) +
                        0.45 * std::sin(4.0 * phase) * std::exp(-t / 0.07) +
                        0.25 * std::sin(2.756 * phase) * std::exp(-t / 0.05) +
                        0.12 * std::sin(5.404 * phase) * std::exp(-t / 0.025) +
                        0.20 * NextNoise(noise) * std::exp(-t / 0.0015);
        wave[size_t(k)] = steady + FadeOut(k, steadyFrom / 2, steadyFrom) * strike;
    }

    XmSample sample = MakeSample("celesta", wave, 16, tuning, 44);
    sample.loop = XmLoop::Forward;
    sample.loopStart = static_cast<uint32_t>(steadyFrom);
    sample.loopLength = LoopCycles * Cycle;

    XmInstrument instrument;
    instrument.name = "celesta";
    instrument.samples.push_back(sample);
    XmMapAllNotes(&instrument, 0);
    // A struck bar dies away by itself: the envelope falls to silence in 1.8 s (90 ticks) with nothing to
    // hold it up, so a note that nothing replaces cannot ring on. A release damps it within about 0.6 s.
    instrument.volumeEnvelope = Envelope({{0, 64}, {3, 52}, {10, 38}, {30, 22}, {60, 8}, {90, 0}}, XmEnvelopeOn);
    instrument.fadeout = 0x400;
    return instrument;
}

// ---- Choir pad -----------------------------------------------------------------------------------------------

// Three slightly detuned voices of 16 harmonics each, weighted toward two vowel-like resonances, with
// random fixed phases. The detuning makes the sound drift, so it has no whole-cycle loop point; a ping-pong
// loop over most of the sample plays it back and forth without a seam.
static XmInstrument Choir()
{
    constexpr int Root = 60;  // C4
    constexpr int Harmonics = 16;
    constexpr int Voices = 3;
    const double detune[Voices] = {1.0, 1.0047, 0.9956};
    const double rootHz = MidiHz(Root);
    Tuning tuning = TuneFor(32000.0, Root);
    int length = static_cast<int>(0.90 * tuning.rate);
    int loopStart = static_cast<int>(0.15 * tuning.rate);

    NoiseGenerator noise{0x9E3779B9u};
    double amplitude[Harmonics + 1] = {};
    double phase[Voices][Harmonics + 1] = {};
    for (int h = 1; h <= Harmonics; ++h) {
        double hz = h * rootHz;
        double a = (hz - 650.0) / 220.0;
        double b = (hz - 1100.0) / 300.0;
        amplitude[h] = (1.0 + 2.0 * std::exp(-a * a) + 1.2 * std::exp(-b * b)) / std::pow(h, 0.8);
        if (hz > 4000.0)
            amplitude[h] = 0.0;
        for (int v = 0; v < Voices; ++v)
            phase[v][h] = 2.0 * Pi * NextUnit(noise);
    }
    std::vector<double> wave(static_cast<size_t>(length));
    double breath = 0.0;
    for (int k = 0; k < length; ++k) {
        double t = k / tuning.rate;
        double x = 0.0;
        for (int v = 0; v < Voices; ++v)
            for (int h = 1; h <= Harmonics; ++h)
                x += amplitude[h] * std::sin(2.0 * Pi * rootHz * detune[v] * h * t + phase[v][h]);
        breath += 0.05 * (NextNoise(noise) - breath);  // a little low-passed air
        wave[size_t(k)] = x + 2.0 * breath;
    }

    XmSample sample = MakeSample("choir", wave, 16, tuning, 24);
    sample.loop = XmLoop::PingPong;
    sample.loopStart = static_cast<uint32_t>(loopStart);
    sample.loopLength = static_cast<uint32_t>(length - loopStart);

    XmInstrument instrument;
    instrument.name = "choir pad";
    instrument.samples.push_back(sample);
    XmMapAllNotes(&instrument, 0);
    // A slow swell to a hold, and a soft release. The swell starts above silence, so that a voice struck
    // again on a chord change does not drop out.
    instrument.volumeEnvelope = Envelope({{0, 16}, {10, 48}, {24, 64}, {70, 0}}, XmEnvelopeOn | XmEnvelopeSustain, 2);
    instrument.fadeout = 0x100;
    // A gentle, slow warble that fades in over the first second of each note.
    instrument.vibratoType = 0;
    instrument.vibratoSweep = 48;
    instrument.vibratoDepth = 6;
    instrument.vibratoRate = 5;
    return instrument;
}

// ---- Plucked bass --------------------------------------------------------------------------------------------

// A string plucked near its end: many harmonics that die away the faster the higher they are, down to a held
// tone that keeps its first six harmonics (about 40 % of its energy above the fundamental, mostly in the
// second and third), so that the bass still sounds on small speakers that play nothing below 100 Hz while
// its fundamental carries the song's low end and its upper harmonics stay out of the tune's way. The loop
// holds that tone while the envelope fades the note.
static XmInstrument PluckedBass()
{
    constexpr int Root = 36;  // C2
    constexpr int Cycle = 256;
    constexpr int LoopCycles = 4;
    constexpr int Harmonics = 28;
    constexpr int HeldHarmonics = 6;
    const double held[HeldHarmonics + 1] = {0.0, 0.36, 0.24, 0.14, 0.06, 0.03, 0.015};
    Tuning tuning = TuneFor(Cycle * MidiHz(Root), Root);
    int steadyFrom = static_cast<int>(0.55 * tuning.rate) / Cycle * Cycle;
    int length = steadyFrom + LoopCycles * Cycle;

    double pluck[Harmonics + 1] = {};
    for (int h = 1; h <= Harmonics; ++h)
        pluck[h] = std::fabs(std::sin(Pi * h * 0.18)) / std::pow(h, 1.1);
    std::vector<double> wave(static_cast<size_t>(length));
    for (int k = 0; k < length; ++k) {
        double t = k / tuning.rate;
        double phase = 2.0 * Pi * k / Cycle;
        double fade = FadeOut(k, steadyFrom / 3, steadyFrom);
        double x = 0.0;
        for (int h = 1; h <= Harmonics; ++h) {
            double steady = h <= HeldHarmonics ? held[h] : 0.0;
            double decay = h <= 2 ? 4.0 + 3.0 * (h - 1) : 3.0 + 1.6 * h;
            x += (steady + (pluck[h] - steady) * std::exp(-t * decay) * fade) * std::sin(h * phase);
        }
        // A soft thump of the finger in the first milliseconds.
        x += 0.3 * std::sin(2.0 * Pi * 45.0 * t) * std::exp(-t / 0.01);
        wave[size_t(k)] = x;
    }

    XmSample sample = MakeSample("pluck", wave, 16, tuning, 64);
    sample.loop = XmLoop::Forward;
    sample.loopStart = static_cast<uint32_t>(steadyFrom);
    sample.loopLength = LoopCycles * Cycle;

    XmInstrument instrument;
    instrument.name = "plucked bass";
    instrument.samples.push_back(sample);
    XmMapAllNotes(&instrument, 0);
    instrument.volumeEnvelope = Envelope({{0, 64}, {8, 52}, {48, 30}, {160, 12}, {300, 0}}, XmEnvelopeOn);
    instrument.fadeout = 0x600;  // a key off stops it within a few ticks
    return instrument;
}

// ---- Lead ----------------------------------------------------------------------------------------------------

// A soft reed: odd harmonics strong, even ones weak, one exact cycle per 64 frames. A breathy start is
// followed by a loop of whole cycles. Stored in 8 bits; the attack and release come from the envelope.
static XmInstrument Lead()
{
    constexpr int Root = 72;  // C5
    constexpr int Cycle = 64;
    constexpr int AttackCycles = 8;
    constexpr int LoopCycles = 4;
    Tuning tuning = TuneFor(Cycle * MidiHz(Root), Root);
    int length = (AttackCycles + LoopCycles) * Cycle;

    NoiseGenerator noise{0x68E31DA4u};
    std::vector<double> wave(static_cast<size_t>(length));
    double air = 0.0;
    for (int k = 0; k < length; ++k) {
        double phase = 2.0 * Pi * k / Cycle;
        double x = 0.0;
        for (int h = 1; h <= 15; ++h)
            x += (h % 2 == 1 ? 1.0 : 0.35) / h * std::sin(h * phase);
        air += 0.3 * (NextNoise(noise) - air);
        x += 0.5 * air * FadeOut(k, 0, AttackCycles * Cycle);
        wave[size_t(k)] = x;
    }

    XmSample sample = MakeSample("reed", wave, 8, tuning, 40);
    sample.loop = XmLoop::Forward;
    sample.loopStart = AttackCycles * Cycle;
    sample.loopLength = LoopCycles * Cycle;

    XmInstrument instrument;
    instrument.name = "lead";
    instrument.samples.push_back(sample);
    XmMapAllNotes(&instrument, 0);
    instrument.volumeEnvelope = Envelope({{0, 0}, {2, 64}, {10, 52}, {30, 0}}, XmEnvelopeOn | XmEnvelopeSustain, 2);
    instrument.fadeout = 0x400;
    return instrument;
}

// ---- Drums ---------------------------------------------------------------------------------------------------

// A falling sine that starts near 220 Hz and settles at 50 Hz (time constant 70 ms, so that the part between
// 100 and 200 Hz lasts), driven hard into saturation at first and ever more gently after: the odd harmonics
// of the body's first 100 ms carry the kick through a phone's speaker, and the tail stays a round low sine.
// A short beater click between 1 and 3 kHz on top, 16-bit.
static XmInstrument Kick()
{
    Tuning tuning = TuneFor(22050.0, MidiOfC4);
    int length = static_cast<int>(0.40 * tuning.rate);
    NoiseGenerator noise{0x1B873593u};
    std::vector<double> wave(static_cast<size_t>(length));
    double phase = 0.0;
    double low = 0.0, lower = 0.0;  // two one-pole low-passes: their difference is the click's band
    for (int k = 0; k < length; ++k) {
        double t = k / tuning.rate;
        double hz = 50.0 + 170.0 * std::exp(-t / 0.07);
        double body = (1.0 - std::exp(-t / 0.001)) * std::exp(-t / 0.22);
        double drive = 1.0 + 4.0 * std::exp(-t / 0.09);
        double white = NextNoise(noise);
        low += 0.45 * (white - low);
        lower += 0.08 * (white - lower);
        double click = 1.8 * (low - lower) + 0.7 * std::cos(2.0 * Pi * 1800.0 * t) - 0.45 * std::cos(2.0 * Pi * 2600.0 * t);
        wave[size_t(k)] = std::tanh(drive * std::sin(phase)) / std::tanh(drive) * body + click * std::exp(-t / 0.005);
        phase += 2.0 * Pi * hz / tuning.rate;
    }
    TaperEnd(wave);
    XmInstrument instrument;
    instrument.name = "kick";
    instrument.samples.push_back(MakeSample("kick", wave, 16, tuning, 64));
    XmMapAllNotes(&instrument, 0);
    return instrument;
}

// Two drum-head tones under a burst of brightened noise, 8-bit.
static XmInstrument Snare()
{
    Tuning tuning = TuneFor(22050.0, MidiOfC4);
    int length = static_cast<int>(0.22 * tuning.rate);
    NoiseGenerator noise{0xCC9E2D51u};
    std::vector<double> wave(static_cast<size_t>(length));
    double previous = 0.0;
    for (int k = 0; k < length; ++k) {
        double t = k / tuning.rate;
        double white = NextNoise(noise);
        double bright = white - 0.5 * previous;
        previous = white;
        double x = 0.6 * std::sin(2.0 * Pi * 190.0 * t) * std::exp(-t / 0.05) +
                   0.35 * std::sin(2.0 * Pi * 330.0 * t) * std::exp(-t / 0.03) + bright * std::exp(-t / 0.085);
        wave[size_t(k)] = std::tanh(0.7 * x);  // rounds off the rare noise peaks, so the crack sounds louder
    }
    TaperEnd(wave);
    XmInstrument instrument;
    instrument.name = "snare";
    instrument.samples.push_back(MakeSample("snare", wave, 8, tuning, 50));
    XmMapAllNotes(&instrument, 0);
    return instrument;
}

// High-passed noise, short or long.
static std::vector<double> HatWave(double rate, double seconds, double decay, uint32_t seed)
{
    int length = static_cast<int>(seconds * rate);
    NoiseGenerator noise{seed};
    std::vector<double> wave(static_cast<size_t>(length));
    double first = 0.0, second = 0.0;
    for (int k = 0; k < length; ++k) {
        double t = k / rate;
        double white = NextNoise(noise);
        double once = white - first;  // two first differences: energy far above 5 kHz
        first = white;
        double twice = once - second;
        second = once;
        wave[size_t(k)] = twice * (1.0 - std::exp(-t / 0.0005)) * std::exp(-t / decay);
    }
    TaperEnd(wave);
    return wave;
}

static XmInstrument HiHat()
{
    constexpr int OpenFrom = 62;  // D-4 and up play the open hat
    Tuning closedTuning = TuneFor(32000.0, MidiOfC4);
    Tuning openTuning = TuneFor(32000.0, OpenFrom);
    XmInstrument instrument;
    instrument.name = "hi-hat";
    instrument.samples.push_back(
        MakeSample("closed hat", HatWave(closedTuning.rate, 0.09, 0.025, 0x85EBCA6Bu), 8, closedTuning, 28));
    instrument.samples.push_back(
        MakeSample("open hat", HatWave(openTuning.rate, 0.40, 0.14, 0xC2B2AE35u), 8, openTuning, 22));
    for (int note = 0; note < 96; ++note)
        instrument.sampleMap[note] = note + 12 < OpenFrom ? 0 : 1;  // 0-based note n is MIDI n + 12
    return instrument;
}

// ---- Sleigh bells --------------------------------------------------------------------------------------------

// A quick shake of a dozen small bells: each strike rings three inharmonic partials at its own pitch and
// time, over a hiss of the bells rattling against each other.
static XmInstrument SleighBells()
{
    constexpr int Strikes = 12;
    Tuning tuning = TuneFor(32000.0, MidiOfC4);
    int length = static_cast<int>(0.45 * tuning.rate);
    NoiseGenerator noise{0x27D4EB2Fu};
    double when[Strikes], pitch[Strikes], decay[Strikes], strength[Strikes];
    for (int s = 0; s < Strikes; ++s) {
        when[s] = s * 0.011 + 0.004 * NextUnit(noise);
        pitch[s] = 2600.0 + 2600.0 * NextUnit(noise);
        decay[s] = 0.05 + 0.04 * NextUnit(noise);
        strength[s] = std::pow(0.75, s / 4.0);
    }
    const double ratio[3] = {1.0, 1.47, 2.09};
    const double partial[3] = {1.0, 0.6, 0.35};
    std::vector<double> wave(static_cast<size_t>(length));
    double previous = 0.0;
    for (int k = 0; k < length; ++k) {
        double t = k / tuning.rate;
        double x = 0.0;
        for (int s = 0; s < Strikes; ++s) {
            double since = t - when[s];
            if (since < 0.0)
                continue;
            double ring = strength[s] * std::exp(-since / decay[s]);
            for (int p = 0; p < 3; ++p)
                x += partial[p] * ring * std::sin(2.0 * Pi * pitch[s] * ratio[p] * since);
        }
        double white = NextNoise(noise);
        x += 0.8 * (white - previous) * std::exp(-t / 0.06);
        previous = white;
        wave[size_t(k)] = x;
    }
    TaperEnd(wave);
    XmInstrument instrument;
    instrument.name = "sleigh bells";
    instrument.samples.push_back(MakeSample("sleigh bells", wave, 8, tuning, 30));
    XmMapAllNotes(&instrument, 0);
    return instrument;
}

}  // namespace

std::vector<XmInstrument> SynthesiseInstruments()
{
    std::vector<XmInstrument> instruments;
    instruments.push_back(Celesta());
    instruments.push_back(Choir());
    instruments.push_back(PluckedBass());
    instruments.push_back(Lead());
    instruments.push_back(Kick());
    instruments.push_back(Snare());
    instruments.push_back(HiHat());
    instruments.push_back(SleighBells());
    return instruments;
}
