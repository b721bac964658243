// The song's tick entry point. Until the row and tick player exists it changes nothing, so a playing song
// streams silence.
#include "music/music.h"

void ModUpdateTick(Song* song)
{
    (void)song;
}
