// Drawing without a window is what recording a video needs, and recording is built for Linux only.
#include "platform/platform.h"

PlatOffscreen PlatCreateOffscreen(int, int, const char** reason)
{
    if (reason != nullptr) {
        *reason = "recording a video is not built into the browser version";
    }
    return nullptr;
}

void PlatDestroyOffscreen(PlatOffscreen)
{
}
