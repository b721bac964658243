// Modal message boxes over SDL2. Where no box can be shown (no display), the text goes to standard error.
#include "platform/sdl/sdl_internal.h"

int PlatSystemMessageBox(PlatWindow owner, const char* text, const char* caption, unsigned flags)
{
    const bool yesNo = (flags & PLAT_MB_BUTTONMASK) == PLAT_MB_YESNO;
    // Yes answers Return and No answers Escape; a lone OK answers both.
    const SDL_MessageBoxButtonData yesNoButtons[2] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, PLAT_IDYES, "Yes"},
        {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, PLAT_IDNO, "No"},
    };
    const SDL_MessageBoxButtonData okButton[1] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, PLAT_IDOK, "OK"},
    };
    Uint32 boxFlags = SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
    switch (flags & PLAT_MB_ICONMASK) {
    case PLAT_MB_ICONSTOP: boxFlags |= SDL_MESSAGEBOX_ERROR; break;
    case PLAT_MB_ICONEXCLAMATION: boxFlags |= SDL_MESSAGEBOX_WARNING; break;
    case PLAT_MB_ICONINFORMATION: boxFlags |= SDL_MESSAGEBOX_INFORMATION; break;
    default: break;
    }
    SDL_MessageBoxData data{};
    data.flags = boxFlags;
    data.window = ToSdl(owner);
    data.title = caption;
    data.message = text;
    data.numbuttons = yesNo ? 2 : 1;
    data.buttons = yesNo ? yesNoButtons : okButton;
    int hit = -1;
    if (SDL_ShowMessageBox(&data, &hit) != 0) {
        return PlatMessageBoxToStderr(owner, text, caption, flags);
    }
    if (hit < 0) {  // closed without a button: the Escape answer
        return yesNo ? PLAT_IDNO : PLAT_IDOK;
    }
    return hit;
}

bool PlatStandardErrorHidden()
{
    return false;
}
