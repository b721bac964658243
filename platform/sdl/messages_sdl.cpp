// The message poll over SDL2: SDL events become the few Win32-shaped messages the scene window handles.
#include "platform/sdl/sdl_internal.h"

// The Win32 virtual-key code of an SDL key, or 0 when it has none.
static uintptr_t VirtualKeyOf(SDL_Keycode key)
{
    if (key >= SDLK_a && key <= SDLK_z) {
        return 'A' + static_cast<uintptr_t>(key - SDLK_a);
    }
    if (key >= SDLK_0 && key <= SDLK_9) {
        return '0' + static_cast<uintptr_t>(key - SDLK_0);
    }
    if (key >= SDLK_F1 && key <= SDLK_F12) {
        return 0x70 + static_cast<uintptr_t>(key - SDLK_F1);
    }
    if (key >= SDLK_F13 && key <= SDLK_F24) {
        return 0x7C + static_cast<uintptr_t>(key - SDLK_F13);
    }
    if (key >= SDLK_KP_1 && key <= SDLK_KP_9) {
        return 0x61 + static_cast<uintptr_t>(key - SDLK_KP_1);
    }
    switch (key) {
    case SDLK_BACKSPACE: return 0x08;
    case SDLK_TAB: return 0x09;
    case SDLK_RETURN: case SDLK_KP_ENTER: return 0x0D;
    case SDLK_LSHIFT: case SDLK_RSHIFT: return 0x10;
    case SDLK_LCTRL: case SDLK_RCTRL: return 0x11;
    case SDLK_LALT: case SDLK_RALT: return 0x12;
    case SDLK_PAUSE: return 0x13;
    case SDLK_CAPSLOCK: return 0x14;
    case SDLK_ESCAPE: return 0x1B;
    case SDLK_SPACE: return 0x20;
    case SDLK_PAGEUP: return 0x21;
    case SDLK_PAGEDOWN: return 0x22;
    case SDLK_END: return 0x23;
    case SDLK_HOME: return 0x24;
    case SDLK_LEFT: return 0x25;
    case SDLK_UP: return 0x26;
    case SDLK_RIGHT: return 0x27;
    case SDLK_DOWN: return 0x28;
    case SDLK_PRINTSCREEN: return 0x2C;
    case SDLK_INSERT: return 0x2D;
    case SDLK_DELETE: return 0x2E;
    case SDLK_LGUI: return 0x5B;
    case SDLK_RGUI: return 0x5C;
    case SDLK_APPLICATION: return 0x5D;
    case SDLK_KP_0: return 0x60;
    case SDLK_KP_MULTIPLY: return 0x6A;
    case SDLK_KP_PLUS: return 0x6B;
    case SDLK_KP_MINUS: return 0x6D;
    case SDLK_KP_PERIOD: return 0x6E;
    case SDLK_KP_DIVIDE: return 0x6F;
    case SDLK_NUMLOCKCLEAR: return 0x90;
    case SDLK_SCROLLLOCK: return 0x91;
    case SDLK_SEMICOLON: return 0xBA;
    case SDLK_EQUALS: return 0xBB;
    case SDLK_COMMA: return 0xBC;
    case SDLK_MINUS: return 0xBD;
    case SDLK_PERIOD: return 0xBE;
    case SDLK_SLASH: return 0xBF;
    case SDLK_BACKQUOTE: return 0xC0;
    case SDLK_LEFTBRACKET: return 0xDB;
    case SDLK_BACKSLASH: return 0xDC;
    case SDLK_RIGHTBRACKET: return 0xDD;
    case SDLK_QUOTE: return 0xDE;
    default: return 0;
    }
}

// Turns one SDL event into a message; false for events the scene window has no message for.
static bool Translate(const SDL_Event& event, PlatMessage* message)
{
    SDL_Window* window = SDL_GetWindowFromID(event.type == SDL_WINDOWEVENT ? event.window.windowID
                                             : (event.type == SDL_KEYDOWN || event.type == SDL_KEYUP)
                                                 ? event.key.windowID
                                                 : 0);
    *message = PlatMessage{FromSdl(window), 0, 0, 0};
    switch (event.type) {
    case SDL_QUIT:  // the close box of the last window, or SIGTERM / SIGINT
        message->message = PLAT_WM_CLOSE;
        return true;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        uintptr_t key = VirtualKeyOf(event.key.keysym.sym);
        if (key == 0 || key >= 256) {
            return false;
        }
        message->message = event.type == SDL_KEYDOWN ? PLAT_WM_KEYDOWN : PLAT_WM_KEYUP;
        message->wParam = key;
        return true;
    }
    case SDL_WINDOWEVENT:
        // Only the current window's events reach the procedure: one of a window that is gone would act on
        // the new one (destroying a window also drops what is queued for it, as its id is used again).
        if (window == nullptr || window != sdlCurrentWindow) {
            return false;
        }
        switch (event.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
            message->message = PLAT_WM_CLOSE;
            return true;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            message->message = PLAT_WM_SIZE;
            message->lParam = static_cast<intptr_t>((event.window.data1 & 0xFFFF) |
                                                    ((event.window.data2 & 0xFFFF) << 16));
            return true;
        case SDL_WINDOWEVENT_MINIMIZED:  // activation with the minimised state in the high word
            message->message = PLAT_WM_ACTIVATE;
            message->wParam = 0x00010001;
            return true;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            // While the window has the focus the screen saver and monitor power-down stay off.
            SDL_DisableScreenSaver();
            [[fallthrough]];
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_RESTORED:
            // Active and not minimised. Windows sends this when a window is shown and takes the focus, so a
            // window opened by an F1 made while the old one was minimised starts drawing and takes Esc.
            message->message = PLAT_WM_ACTIVATE;
            message->wParam = 0x00000001;
            return true;
        case SDL_WINDOWEVENT_FOCUS_LOST:
            SDL_EnableScreenSaver();
            return false;
        default:
            return false;
        }
    default:
        return false;
    }
}

bool PlatPeekMessage(PlatMessage* message)
{
    if (TakePostedQuit(message)) {
        return true;
    }
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
        return false;
    }
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (Translate(event, message)) {
            return true;
        }
    }
    return false;
}
