// The web implementation's C++ files and the browser side they call (web_library.js). The browser side owns
// the page's canvas, dialog, fullscreen state, key events and audio nodes; the C++ side carries out the
// seam's steps with it. Main thread only, except where a function says otherwise.
#pragma once

#include "platform/common/common_internal.h"

#include <emscripten/html5.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

extern "C" {
// Installs the key and fullscreen listeners (once; keys queued meanwhile stay queued across an F1).
void tw_web_start();
// Asks the browser for fullscreen and waits for its answer (1: the page is fullscreen). Async.
int tw_web_enter_fullscreen();
// Leaves fullscreen on the program's own account (not counted as the user's F1).
void tw_web_leave_fullscreen();
void tw_web_show_pointer(int show);
// Puts a new canvas of the size given on the page (scaled to the screen with its aspect kept when
// fullscreen, else shown at its own size) and titles the page. 1 when it is there.
int tw_web_create_canvas(const char* title, int width, int height, int fullscreen);
void tw_web_remove_canvas();
// Waits for the browser's next frame, so that the frame just drawn is shown; counts it. Async.
void tw_web_next_frame();
// Takes the oldest key or window event: fills message, wParam, lParam and returns 1; 0 when none waits.
int tw_web_take_event(int32_t* fields);
// Shows the box as an HTML dialog and waits for the answer (PLAT_IDOK, PLAT_IDYES or PLAT_IDNO). Async.
int tw_web_message_box(const char* text, const char* caption, int yesNo);
// The page's audio context, its worklet loaded: 1 when it plays (at `rate`, or converted to it). Async.
int tw_web_audio_open(int rate);
// Starts the worklet reading `bytes` bytes of `ring` in a loop, with the control words at `shared` (read
// straight from memory with threads; without, the worklet gets a copy of the ring).
int tw_web_audio_start(const void* ring, uint32_t bytes, void* shared);
// Disconnects the worklet's node (the ring is no longer read once WebAudioShared.stop has been seen).
void tw_web_audio_stop();
// Hands the worklet the pause flag of the control words (without shared memory it cannot look itself).
void tw_web_audio_control();
// Without shared memory: the worklet's latest count of bytes played, and a block mixed again (its bytes at
// `offset` in the queued ring) for the worklet's copy, with the stretch of new contents that follows.
double tw_web_audio_played();
void tw_web_audio_written(uint32_t offset, uint32_t bytes, double freshStart, double freshEnd);
// Without shared memory: the streaming work runs on the main thread (1) or not (0); the page then also polls
// when the device reports progress while no frame comes. `milliseconds` is the time one poll took.
void tw_web_polling(int on);
void tw_web_polled(double milliseconds);
// Puts a canvas of the size given, never shown, on the page for drawing without a window (it replaces an
// earlier one); 1 when it is there. Removes it again.
int tw_web_create_offscreen_canvas(int width, int height);
void tw_web_remove_offscreen_canvas();
}

// Words shared with the audio worklet, which reads and writes them with Atomics at their byte offsets (they
// live in the program's memory in both builds; without shared memory the page reads them, not the worklet).
struct WebAudioShared {
    std::atomic<uint64_t> playedBytes;   // bytes read out of the ring since it was queued (worklet writes)
    std::atomic<uint64_t> freshStart;    // play positions (bytes) whose ring contents are new: from here...
    std::atomic<uint64_t> freshEnd;      // ...to here (streaming side writes)
    std::atomic<int32_t> stop;           // 1: the ring may go away, read no more (main thread sets)
    std::atomic<int32_t> busy;           // 1 while the worklet copies from the ring (worklet sets)
    std::atomic<int32_t> longestPollGapMs;  // longest time between two position queries (streaming side)
    std::atomic<int32_t> paused;         // 1: play silence, read and count nothing (main thread sets)
};
static_assert(sizeof(std::atomic<uint64_t>) == 8 && sizeof(std::atomic<int32_t>) == 4,
              "the worklet reads the words as 64- and 32-bit integers");
static_assert(alignof(WebAudioShared) == 8, "the 64-bit words are read with Atomics on 8-byte boundaries");
static_assert(offsetof(WebAudioShared, freshEnd) == 16 && offsetof(WebAudioShared, stop) == 24 &&
                  offsetof(WebAudioShared, paused) == 36,
              "the worklet and the page read the words at these offsets");

// A WebGL 1 context on the canvas the selector names, with what the scene draws with (a depth buffer, no
// alpha, no multisampling); 0 when the browser gives none.
EMSCRIPTEN_WEBGL_CONTEXT_HANDLE WebCreateGlContext(const char* canvas);

// The canvas window while it is open, else nullptr.
PlatWindow WebOpenWindow();
// Runs the streaming work where it has no thread of its own (the build without shared memory): called by
// the frame loop before it waits for the browser's next frame. Nothing in the build with threads.
void WebPollBetweenFrames();
