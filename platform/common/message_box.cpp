#include "platform/platform.h"

#include <cstdio>

PlatMessageBoxFn PlatMessageBox = PlatSystemMessageBox;

int PlatMessageBoxToStderr(PlatWindow, const char* text, const char* caption, unsigned flags)
{
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    std::fflush(stderr);
    return (flags & PLAT_MB_BUTTONMASK) == PLAT_MB_YESNO ? PLAT_IDNO : PLAT_IDOK;
}
