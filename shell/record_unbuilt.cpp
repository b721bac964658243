// --record where the intro is built without it (Windows): it says so and ends as bad usage does.
#include "shell/shell.h"

int RecordIntro(const RecordOptions&)
{
    ReportError("--record: recording a video is not built into the Windows version; record with the Linux "
                "build and share the file");
    return 2;
}
