// The platform seam: the only interface between the program and the window system, the audio device and
// threads. Every function has the meaning of the Win32 call it is named after, so the window-opening logic
// lives once in shell/ and each implementation (SDL2, Win32, the test stand-in) only carries out single steps.
#pragma once

#include <cstdint>
#include <string>

// Opaque handles. Each implementation gives them its own meaning; callers only compare them with nullptr.
struct PlatWindowRec;
struct PlatDeviceContextRec;
struct PlatGlContextRec;
struct PlatThreadRec;
struct PlatOffscreenRec;
using PlatWindow = PlatWindowRec*;
using PlatDeviceContext = PlatDeviceContextRec*;
using PlatGlContext = PlatGlContextRec*;
using PlatThread = PlatThreadRec*;
using PlatOffscreen = PlatOffscreenRec*;

// ---- Messages -------------------------------------------------------------------------------------------
// Message codes and values with their Win32 numbers, so the window procedure reads the same on every system.
constexpr uint32_t PLAT_WM_SIZE = 0x0005;
constexpr uint32_t PLAT_WM_ACTIVATE = 0x0006;
constexpr uint32_t PLAT_WM_CLOSE = 0x0010;
constexpr uint32_t PLAT_WM_QUIT = 0x0012;
constexpr uint32_t PLAT_WM_KEYDOWN = 0x0100;
constexpr uint32_t PLAT_WM_KEYUP = 0x0101;
constexpr uint32_t PLAT_WM_SYSCOMMAND = 0x0112;
constexpr uintptr_t PLAT_SC_SCREENSAVE = 0xF140;
constexpr uintptr_t PLAT_SC_MONITORPOWER = 0xF170;
constexpr uintptr_t PLAT_VK_ESCAPE = 0x1B;
constexpr uintptr_t PLAT_VK_F1 = 0x70;

// One message as the queue hands it out (shaped like Win32's MSG).
struct PlatMessage {
    PlatWindow window;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

using PlatWindowProc = intptr_t (*)(PlatWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Takes one message off the queue without waiting (PeekMessage with PM_REMOVE); false when none is waiting.
bool PlatPeekMessage(PlatMessage* message);
// TranslateMessage + DispatchMessage: hands the message to the registered window procedure.
intptr_t PlatDispatchMessage(const PlatMessage& message);
// Default handling of a message the window procedure does not handle itself.
intptr_t PlatDefWindowProc(PlatWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Posts the quit message; the next PlatPeekMessage returns PLAT_WM_QUIT with wParam = exitCode.
void PlatPostQuitMessage(int exitCode);

// ---- Window and rendering context -------------------------------------------------------------------------
// The pixel-format request, field for field a Win32 PIXELFORMATDESCRIPTOR (40 bytes).
struct PlatPixelFormat {
    uint16_t nSize;
    uint16_t nVersion;
    uint32_t dwFlags;
    uint8_t iPixelType;
    uint8_t cColorBits;
    uint8_t cRedBits, cRedShift, cGreenBits, cGreenShift, cBlueBits, cBlueShift;
    uint8_t cAlphaBits, cAlphaShift;
    uint8_t cAccumBits, cAccumRedBits, cAccumGreenBits, cAccumBlueBits, cAccumAlphaBits;
    uint8_t cDepthBits;
    uint8_t cStencilBits;
    uint8_t cAuxBuffers;
    uint8_t iLayerType;
    uint8_t bReserved;
    uint32_t dwLayerMask;
    uint32_t dwVisibleMask;
    uint32_t dwDamageMask;
};
constexpr uint32_t PLAT_PFD_DOUBLEBUFFER = 0x00000001;
constexpr uint32_t PLAT_PFD_DRAW_TO_WINDOW = 0x00000004;
constexpr uint32_t PLAT_PFD_SUPPORT_OPENGL = 0x00000020;
constexpr uint8_t PLAT_PFD_TYPE_RGBA = 0;
constexpr uint8_t PLAT_PFD_MAIN_PLANE = 0;

struct PlatRect {
    int32_t left, top, right, bottom;
};

// RegisterClassA / UnregisterClassA of the scene window class ("OpenGL"), whose procedure is `proc`.
bool PlatRegisterWindowClass(PlatWindowProc proc);
bool PlatUnregisterWindowClass();
// ChangeDisplaySettingsA(CDS_FULLSCREEN) to width × height × bits; false when the display refuses.
bool PlatChangeDisplayMode(int width, int height, int bits);
// ChangeDisplaySettingsA(nullptr, 0): back to the user's own mode.
void PlatRestoreDisplayMode();
void PlatShowPointer(bool show);
// AdjustWindowRectEx: grows `rect` so the client area of a window of that style is the rectangle given.
void PlatAdjustWindowRect(PlatRect* rect, bool fullscreenStyle);
// CreateWindowExA of the class above at (x, y) with the outer size given; nullptr on failure.
PlatWindow PlatCreateWindow(const char* title, int x, int y, int width, int height, bool fullscreenStyle);
bool PlatDestroyWindow(PlatWindow window);
PlatDeviceContext PlatGetDeviceContext(PlatWindow window);
bool PlatReleaseDeviceContext(PlatWindow window, PlatDeviceContext dc);
// ChoosePixelFormat: a format number > 0, or 0 when none fits.
int PlatChoosePixelFormat(PlatDeviceContext dc, const PlatPixelFormat& request);
bool PlatSetPixelFormat(PlatDeviceContext dc, int format, const PlatPixelFormat& request);
PlatGlContext PlatCreateGlContext(PlatDeviceContext dc);
// wglMakeCurrent; (nullptr, nullptr) unbinds the current context.
bool PlatMakeGlContextCurrent(PlatDeviceContext dc, PlatGlContext context);
bool PlatDeleteGlContext(PlatGlContext context);
// ShowWindow(SW_SHOW), SetForegroundWindow, SetFocus.
void PlatShowWindow(PlatWindow window);
void PlatSwapBuffers(PlatDeviceContext dc);
// GetFocus: the window with the keyboard focus, or nullptr.
PlatWindow PlatFocusedWindow();

// ---- Message boxes ----------------------------------------------------------------------------------------
constexpr unsigned PLAT_MB_OK = 0x00;
constexpr unsigned PLAT_MB_YESNO = 0x04;
constexpr unsigned PLAT_MB_ICONSTOP = 0x10;
constexpr unsigned PLAT_MB_ICONEXCLAMATION = 0x30;
constexpr unsigned PLAT_MB_ICONINFORMATION = 0x40;
constexpr unsigned PLAT_MB_BUTTONMASK = 0x0F;
constexpr unsigned PLAT_MB_ICONMASK = 0xF0;
constexpr int PLAT_IDOK = 1;
constexpr int PLAT_IDYES = 6;
constexpr int PLAT_IDNO = 7;

// MessageBoxA: modal box; returns PLAT_IDOK, PLAT_IDYES or PLAT_IDNO.
using PlatMessageBoxFn = int (*)(PlatWindow owner, const char* text, const char* caption, unsigned flags);
// Every box of the program goes through this pointer. It starts as the system's box (which itself falls
// back to standard error when no box can be shown); tests replace it with a recorder, command-line tools
// with PlatMessageBoxToStderr.
extern PlatMessageBoxFn PlatMessageBox;
int PlatSystemMessageBox(PlatWindow owner, const char* text, const char* caption, unsigned flags);
// Writes the text to standard error; a Yes/No question is answered No (the choice that does not go on).
int PlatMessageBoxToStderr(PlatWindow owner, const char* text, const char* caption, unsigned flags);
// True where nobody sees the program's standard error (a windowed Win32 program): a command-line error
// then goes into a box as well.
bool PlatStandardErrorHidden();

// ---- The program's own file -----------------------------------------------------------------------------
// GetModuleFileNameA: the full path of the running executable, so the intro can find the data installed
// beside it. Empty where it cannot be told, and in the browser, whose data is already at data/ in the
// page's own file system.
std::string PlatExecutablePath();

// ---- Drawing without a window -----------------------------------------------------------------------------
// For recording a video: an OpenGL context with the fixed-function pipeline (as the scene window's) that
// draws into an off-screen picture of width × height pixels, 8 bits per colour channel, with a depth buffer,
// needing no window system, display or graphics card. It is made current; glReadPixels reads what was drawn.
// nullptr when none can be made here, with one line saying why in *reason (a fixed text; reason may be null).
PlatOffscreen PlatCreateOffscreen(int width, int height, const char** reason);
// Releases the context and its picture; nothing for nullptr.
void PlatDestroyOffscreen(PlatOffscreen offscreen);

// ---- Audio device and threads -----------------------------------------------------------------------------
// The wave output device: one 16-bit stereo PCM stream that plays a single buffer in an endless loop.

// waveOutOpen of the default device: 16-bit signed little-endian stereo PCM at `rate` frames per second.
// The stream is silent until a buffer is queued. false when no device opens.
bool PlatAudioOpen(int32_t rate);
// waveOutPrepareHeader + waveOutWrite with a loop over the whole buffer: the device plays `ring` from its
// first byte, then again from its start, endlessly, reading the buffer's current contents on every turn.
// The played-bytes count starts again at 0. The caller keeps the buffer alive until PlatAudioReset.
bool PlatAudioQueueLoop(const void* ring, uint32_t bytes);
// waveOutGetPosition in bytes: bytes played since the buffer was queued, counting on across turns. A 64-bit
// count, so it never wraps, and it stands still while the device is paused. false when the device cannot
// tell (the count is then left unchanged).
bool PlatAudioPlayedBytes(uint64_t* bytes);
// Says that the ring's `bytes` bytes at `offset` hold new contents, written after the latest PlatAudioPlayedBytes
// (by the thread that made that query): the device plays them at their next pass after that count, once.
// In the browser, where the device can tell new contents from old, it plays silence instead of contents that
// were not written again since it last played them (and counts that as starved); elsewhere the device plays
// the ring as it stands. Harmless when nothing is queued.
void PlatAudioWritten(uint32_t offset, uint32_t bytes);
// waveOutPause: the device stops reading the ring where it stands and the played-bytes count stops with it;
// harmless when nothing is queued, already paused or not open.
void PlatAudioPause();
// waveOutRestart: a paused device reads on from where it stopped, so no byte of the ring is skipped or played
// twice; harmless when it is not paused. PlatAudioQueueLoop starts playing also after a pause.
void PlatAudioRestart();
// waveOutReset: stops playback and gives the queued buffer back; harmless when nothing is queued or open.
void PlatAudioReset();
// waveOutClose; harmless when no device is open.
void PlatAudioClose();

// CreateThread + SetThreadPriority: runs proc(param) on a new thread at the highest priority the system
// allows (a refused priority is ignored). nullptr when no thread could be made.
using PlatThreadProc = uint32_t (*)(void* param);
PlatThread PlatStartThread(PlatThreadProc proc, void* param);
// The streaming work: calls poll(param) about every `periodMs` milliseconds until it returns false. Where the
// system has threads, on a thread of its own (PlatStartThread); in the browser without shared memory, on the
// main thread, between frames and whenever the device reports progress while the browser draws no frames.
// nullptr when it could not be started. PlatJoinThread waits until poll is no longer called (on the main
// thread at once) and releases the handle.
using PlatPollProc = bool (*)(void* param);
PlatThread PlatStartPolling(PlatPollProc poll, void* param, uint32_t periodMs);
// Waits until the thread has ended and releases its handle; nullptr: nothing.
void PlatJoinThread(PlatThread thread);
// Sleep: gives up the processor for at least `milliseconds`.
void PlatSleepMs(uint32_t milliseconds);
