// Writes the browser checks' tone song: one track holding a single note of a looped sine for 64 rows (about
// 8 s), then the song jumps back and holds it again. Its pitch, heard through a context that runs at another
// rate, tells whether the worklet converts the rate right. Usage: make_tone_song OUT.xm
#include "tools/xmwriter/xmwriter.h"

#include <cmath>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_tone_song OUT.xm\n");
        return 2;
    }
    // A single cycle of 32 frames, looped. The checks compare its pitch with the offline render's, so what
    // frequency the player makes of the note does not matter.
    constexpr int CycleFrames = 32;
    XmSample sine;
    sine.bits = 16;
    for (int k = 0; k < CycleFrames; k++) {
        sine.pcm.push_back(static_cast<int16_t>(std::lround(20000.0 * std::sin(2.0 * M_PI * k / CycleFrames))));
    }
    sine.loop = XmLoop::Forward;
    sine.loopStart = 0;
    sine.loopLength = CycleFrames;

    XmInstrument tone;
    tone.name = "sine";
    tone.samples = {sine};
    XmMapAllNotes(&tone, 0);

    XmModule module;
    module.name = "tone";
    module.channelCount = 2;
    module.orders = {0};
    XmPattern held = XmMakePattern(64, 2);
    XmSetCell(&held, 2, 0, 0, XmCell{58, 1, 0, 0, 0});
    module.patterns = {held};
    module.instruments = {tone};
    return XmSaveModule(module, argv[1]) ? 0 : 1;
}
