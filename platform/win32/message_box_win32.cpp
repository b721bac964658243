// Modal message boxes over Win32. The seam's button, icon and answer codes are the Win32 ones, so they pass
// through unchanged. A box the system cannot show goes to standard error.
#include "platform/win32/win32_internal.h"

static_assert(PLAT_MB_YESNO == MB_YESNO && PLAT_MB_ICONSTOP == MB_ICONSTOP &&
                  PLAT_MB_ICONEXCLAMATION == MB_ICONEXCLAMATION && PLAT_MB_ICONINFORMATION == MB_ICONINFORMATION,
              "message box flags differ from Win32");
static_assert(PLAT_IDOK == IDOK && PLAT_IDYES == IDYES && PLAT_IDNO == IDNO, "message box answers differ");

int PlatSystemMessageBox(PlatWindow owner, const char* text, const char* caption, unsigned flags)
{
    int answer = MessageBoxA(ToHwnd(owner), text, caption, flags);
    if (answer == 0) {
        return PlatMessageBoxToStderr(owner, text, caption, flags);
    }
    return answer;
}

// The intro is linked as a windowed program: its standard error goes nowhere a user looks.
bool PlatStandardErrorHidden()
{
    return true;
}
