// Checks of the Win32 platform under a real (or Wine's) Windows, through the seam and the shell's own window
// logic: the window class and styles, the pixel format and the GL context, the message round trip into the
// scene's window procedure, the quit message, the time-critical streaming thread, the looping wave
// device's played-bytes count, and the executable's own path (where the intro looks for its data). Prints one line per check and exits 0 when all hold. Needs a display and a
// sound device; run it from any folder.
#include "platform/platform.h"
#include "shell/shell.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

static int failures = 0;

static void Check(bool ok, const char* what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) {
        failures++;
    }
}

static std::vector<std::string> boxes;

static int RecordBox(PlatWindow, const char* text, const char*, unsigned)
{
    boxes.push_back(text);
    return PLAT_IDOK;
}

static void CheckWindow()
{
    boxes.clear();
    PlatMessageBox = RecordBox;
    bool opened = OpenSceneWindow("Tarnwick Rare", 640, 480, 16, false);
    Check(opened && boxes.empty(), "a window opens without a message box");
    if (!opened) {
        return;
    }
    HWND window = reinterpret_cast<HWND>(sceneWindow);
    char className[32] = {};
    GetClassNameA(window, className, sizeof(className));
    Check(std::string(className) == "OpenGL", "the window's class is \"OpenGL\"");
    DWORD classStyle = static_cast<DWORD>(GetClassLongPtrA(window, GCL_STYLE));
    Check(classStyle == (CS_HREDRAW | CS_VREDRAW | CS_OWNDC), "the class style is HREDRAW | VREDRAW | OWNDC");
    DWORD style = static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE));
    const DWORD wanted = WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    Check((style & wanted) == wanted, "a windowed window has the overlapped style, clipping its siblings and children");
    RECT client{};
    GetClientRect(window, &client);
    Check(client.right - client.left == 640 && client.bottom - client.top == 480,
          "the client area is exactly the size asked for");

    HDC dc = reinterpret_cast<HDC>(sceneDeviceContext);
    PIXELFORMATDESCRIPTOR pfd{};
    int format = GetPixelFormat(dc);
    Check(format > 0 && DescribePixelFormat(dc, format, sizeof(pfd), &pfd) != 0, "the window has a pixel format");
    Check((pfd.dwFlags & (PFD_DOUBLEBUFFER | PFD_SUPPORT_OPENGL | PFD_DRAW_TO_WINDOW)) ==
              (PFD_DOUBLEBUFFER | PFD_SUPPORT_OPENGL | PFD_DRAW_TO_WINDOW) &&
              pfd.iPixelType == PFD_TYPE_RGBA && pfd.cDepthBits >= 16,
          "the pixel format is double-buffered RGBA for OpenGL with a depth buffer of 16 bits or more");
    Check(wglGetCurrentContext() != nullptr && wglGetCurrentDC() == dc, "the GL context is current on the window");

    // Messages sent at once go through the class's procedure into the scene's, with its calling convention.
    for (bool& key : KeyDown) {
        key = false;
    }
    LRESULT result = SendMessageA(window, WM_KEYDOWN, 'A', 0);
    Check(result == 0 && KeyDown['A'], "a key-down message reaches the scene's window procedure");
    SendMessageA(window, WM_KEYUP, 'A', 0);
    Check(!KeyDown['A'], "a key-up message clears the key");
    Check(SendMessageA(window, WM_SYSCOMMAND, SC_SCREENSAVE, 0) == 0 &&
              SendMessageA(window, WM_SYSCOMMAND, SC_MONITORPOWER, 2) == 0 && IsWindowVisible(window),
          "screen-saver and monitor power-off commands return 0 and leave the window as it is");
    SendMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    Check(IsIconic(window), "other system commands (minimise) get the default handling");
    SendMessageA(window, WM_SYSCOMMAND, SC_RESTORE, 0);
    Check(!IsIconic(window), "and so does restore");

    // Posted messages come back out of the poll with their window and values, and dispatch reaches the scene.
    PlatMessage message{};
    while (PlatPeekMessage(&message)) {
        PlatDispatchMessage(message);
    }
    PostMessageA(window, WM_KEYDOWN, VK_F1, 0);
    bool taken = PlatPeekMessage(&message);
    Check(taken && message.window == sceneWindow && message.message == PLAT_WM_KEYDOWN && message.wParam == PLAT_VK_F1,
          "a posted F1 key comes out of the poll as it was posted");
    if (taken) {
        PlatDispatchMessage(message);
    }
    Check(KeyDown[PLAT_VK_F1], "dispatching it sets the F1 key");
    KeyDown[PLAT_VK_F1] = false;
    SendMessageA(window, WM_CLOSE, 0, 0);
    Check(IsWindow(window), "the close message leaves the window to the shell");
    bool quit = false;
    for (int i = 0; i < 100 && !quit; i++) {
        quit = PlatPeekMessage(&message) && message.message == PLAT_WM_QUIT;
    }
    Check(quit && message.wParam == 0, "the close message posts the quit message with code 0");
    PlatPostQuitMessage(5);
    quit = false;
    for (int i = 0; i < 100 && !quit; i++) {
        quit = PlatPeekMessage(&message) && message.message == PLAT_WM_QUIT;
    }
    Check(quit && message.wParam == 5, "a posted quit carries its code");

    CloseSceneWindow();
    Check(boxes.empty(), "closing reports no failed step");
    WNDCLASSA info{};
    Check(!IsWindow(window) && !GetClassInfoA(GetModuleHandleA(nullptr), "OpenGL", &info),
          "closing destroys the window and removes the class");
    PlatMessageBox = PlatSystemMessageBox;
}

static std::atomic<bool> threadMayLook{false};
static std::atomic<int> threadPriority{0};

static uint32_t LookAtPriority(void* param)
{
    while (!threadMayLook) {
        Sleep(1);
    }
    threadPriority = GetThreadPriority(GetCurrentThread());
    return *static_cast<uint32_t*>(param);
}

static void CheckThreads()
{
    uint32_t value = 7;
    PlatThread thread = PlatStartThread(LookAtPriority, &value);
    Check(thread != nullptr, "a thread starts");
    threadMayLook = true;
    PlatJoinThread(thread);
    Check(threadPriority == THREAD_PRIORITY_TIME_CRITICAL, "the thread runs at time-critical priority");
    // Measured with the performance counter: the tick count may be updated only every few milliseconds.
    LARGE_INTEGER frequency{};
    LARGE_INTEGER before{};
    LARGE_INTEGER after{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    PlatSleepMs(50);
    QueryPerformanceCounter(&after);
    double slept =
        static_cast<double>(after.QuadPart - before.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    std::printf("slept %.1f ms\n", slept);
    Check(slept >= 45.0, "a sleep of 50 ms lasts about that long at least");
}

static void CheckAudio()
{
    Check(PlatAudioOpen(44100), "the wave device opens at 44100 Hz");
    // Two seconds of ring, as the intro uses.
    static int16_t ring[88400 * 2] = {};
    uint64_t bytes = 1;
    Check(PlatAudioQueueLoop(ring, sizeof(ring)), "the looping ring is queued");
    Check(PlatAudioPlayedBytes(&bytes) && bytes < 44100 * 4, "the played count starts near 0");
    uint64_t last = bytes;
    bool growing = true;
    bool whole = true;
    for (int i = 0; i < 30; i++) {
        Sleep(50);
        if (!PlatAudioPlayedBytes(&bytes)) {
            growing = false;
            break;
        }
        growing = growing && bytes >= last;
        whole = whole && bytes % 4 == 0;
        last = bytes;
    }
    // 1.5 s of polls: the count must have moved on, neither stuck nor far ahead of the clock.
    Check(growing && last > 44100 * 4 / 2 && last < 44100 * 4 * 3, "the played count follows the clock");
    Check(whole, "the played count is in whole frames");
    // Paused, the count stands; restarted, it moves on from there.
    PlatAudioPause();
    uint64_t atPause = 0;
    uint64_t held = 0;
    Check(PlatAudioPlayedBytes(&atPause), "a paused device answers its position");
    Sleep(300);
    Check(PlatAudioPlayedBytes(&held) && held == atPause, "the played count stands while paused");
    PlatAudioRestart();
    Sleep(300);
    Check(PlatAudioPlayedBytes(&bytes) && bytes > held && bytes < held + 44100 * 4,
          "after the restart the count moves on from where it stood");
    PlatAudioPause();
    PlatAudioReset();
    Check(PlatAudioQueueLoop(ring, sizeof(ring)) && PlatAudioPlayedBytes(&bytes) && bytes < 44100 * 4,
          "queueing again after a reset counts from the start");
    Sleep(300);
    Check(PlatAudioPlayedBytes(&bytes) && bytes > 0, "a ring queued after a pause plays");
    PlatAudioReset();
    PlatAudioClose();
    PlatAudioClose();
    Check(!PlatAudioPlayedBytes(&bytes), "a closed device answers no position");
}

static void CheckExecutablePath()
{
    std::string path = PlatExecutablePath();
    const std::string name = "win32_seam_check.exe";
    bool named = path.size() > name.size() &&
                 _stricmp(path.c_str() + path.size() - name.size(), name.c_str()) == 0 &&
                 path[path.size() - name.size() - 1] == '\\';
    Check(named && path.find(':') == 1, "the executable's path is this program's whole path");
}

int main()
{
    Check(PlatMessageBox == PlatSystemMessageBox, "message boxes go to the system's box by default");
    CheckWindow();
    CheckThreads();
    CheckAudio();
    CheckExecutablePath();
    std::printf("%d checks failed\n", failures);
    return failures == 0 ? 0 : 1;
}
