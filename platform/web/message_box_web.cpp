// Modal message boxes as HTML dialogs with the same caption, text and buttons. The shell waits for the
// answer as it waits for MessageBoxA: the call yields to the browser until a button is pressed.
#include "platform/web/web_internal.h"

int PlatSystemMessageBox(PlatWindow, const char* text, const char* caption, unsigned flags)
{
    const bool yesNo = (flags & PLAT_MB_BUTTONMASK) == PLAT_MB_YESNO;
    return tw_web_message_box(text != nullptr ? text : "", caption != nullptr ? caption : "", yesNo ? 1 : 0);
}

// Standard error goes to the browser's console, where a visitor does not look: what the intro would only
// print there (a greeting it cannot use, characters it shows as blanks) comes as a box too.
bool PlatStandardErrorHidden()
{
    return true;
}
