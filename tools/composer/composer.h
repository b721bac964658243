// The intro's song, "data/glimrook.xm", composed in code: an arrangement of two public-domain winter tunes
// (the Russian little-fir-tree song, 1905, and Jingle Bells, 1857) for 12 tracks, with every instrument
// synthesised here from deterministic generators. The same build gives the same bytes on every run.
#pragma once

#include "tools/xmwriter/xmwriter.h"

#include <cstdint>
#include <vector>

// Instrument numbers as the patterns use them (1-based, as the file stores them).
enum GlimrookInstrument : uint8_t {
    InsCelesta = 1,  // bell-like celesta: volume envelope with sustain and fadeout, forward loop, 16-bit
    InsChoir = 2,    // soft choir pad: ping-pong loop, slow auto-vibrato, 16-bit
    InsBass = 3,     // plucked bass, forward loop, 16-bit
    InsLead = 4,     // reedy lead, single-cycle forward loop, 8-bit (vibrato comes from the patterns)
    InsKick = 5,     // 16-bit one-shot
    InsSnare = 6,    // 8-bit one-shot
    InsHiHat = 7,    // 8-bit: closed hat below D-4, open hat from D-4 up
    InsSleigh = 8,   // sleigh bells, 8-bit one-shot
    InstrumentTotal = 8,
};

// The song's tracks, 0-based as the player numbers them.
enum GlimrookTrack : int {
    TrLead,     // the tune on the reed lead
    TrBell,     // celesta: the tune, a descant, doubling or answering it
    TrEcho,     // celesta: the tune's echo, chord trills
    TrPad1,     // choir, lowest voice, left
    TrPad2,     // choir, middle voice, centre
    TrPad3,     // choir, highest voice, right
    TrBass,
    TrKick,
    TrSnare,
    TrHat,
    TrSleigh,
    TrHarmony,  // the second voice beside the tune
    GlimrookTrackCount,
};

// Every instrument, in number order (entry k is instrument k + 1).
std::vector<XmInstrument> SynthesiseInstruments();

// The whole module: header, orders, patterns and instruments.
XmModule ComposeGlimrook();

// The kinds of section the arrangement is built from.
enum class GlimrookPart : uint8_t { Intro, FirTree, Fill, Verse, Chorus, Ending };

// One section as it lies in the order list: the song's tests measure the music section by section.
struct GlimrookSection {
    const char* name;  // e.g. "chorus in A"
    GlimrookPart part;
    int firstOrder;    // order position of its first pattern
    int orderCount;    // order positions (one pattern each) it takes
    int firstBarRow;   // row of its first pattern at which its first bar begins (after a pick-up there)
    int rowsPerBar;    // 8 in the fir tree's 2/4, 16 in the 4/4 of the rest
    int tuneTrack;     // the track that carries the tune, -1 where no tune is heard
};

// Every section in the order they are played, covering the order list from 0 without gaps.
std::vector<GlimrookSection> GlimrookSections();

