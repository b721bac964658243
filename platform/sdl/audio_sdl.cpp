// The wave output device over SDL2 audio. SDL pulls sound through a callback; the callback copies from the
// queued ring at a cursor, wrapping at its end, so the device plays the ring endlessly and sees every change
// the streaming thread makes to it. The device is opened paused and starts playing when the ring is queued.
// SDL's own choice of driver (SDL_AUDIODRIVER, e.g. dummy or disk on a machine without sound) is honoured.
#include "platform/platform.h"

#include <SDL.h>

#include <atomic>
#include <cstring>

// Frames per callback: a power of two near the mixer's 20 ms blocks.
static constexpr Uint16 CallbackFrames = 1024;

// The open device, 0 when closed (main thread).
static SDL_AudioDeviceID audioDevice = 0;
// The queued ring (bytes) and the callback's read cursor (bytes, 0 .. loopBytes - 1). Changed by the main
// thread only with the device locked; read by the audio callback thread.
static const uint8_t* loopRing = nullptr;
static uint32_t loopBytes = 0;
static uint32_t loopCursor = 0;
// Bytes handed to the device since the ring was queued (audio callback thread writes, streaming thread
// reads). Counted after the copy, so a block counted as played is never read again in this turn.
static std::atomic<uint64_t> playedBytes{0};

static void SDLCALL FillFromRing(void* userdata, Uint8* stream, int len)
{
    (void)userdata;
    if (len <= 0) {
        return;
    }
    if (loopRing == nullptr || loopBytes == 0) {
        std::memset(stream, 0, static_cast<size_t>(len));
        return;
    }
    uint32_t wanted = static_cast<uint32_t>(len);
    uint32_t done = 0;
    while (done < wanted) {
        uint32_t chunk = wanted - done;
        if (chunk > loopBytes - loopCursor) {
            chunk = loopBytes - loopCursor;
        }
        std::memcpy(stream + done, loopRing + loopCursor, chunk);
        done += chunk;
        loopCursor += chunk;
        if (loopCursor == loopBytes) {
            loopCursor = 0;
        }
    }
    playedBytes.fetch_add(wanted);
}

static void ForgetRing()
{
    loopRing = nullptr;
    loopBytes = 0;
    loopCursor = 0;
    playedBytes.store(0);
}

bool PlatAudioOpen(int32_t rate)
{
    PlatAudioClose();
    if (rate <= 0 || SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        return false;
    }
    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = AUDIO_S16LSB;
    wanted.channels = 2;
    wanted.samples = CallbackFrames;
    wanted.callback = FillFromRing;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts to the device's own format itself, so the ring's layout always holds.
    audioDevice = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (audioDevice == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    ForgetRing();
    return true;
}

bool PlatAudioQueueLoop(const void* ring, uint32_t bytes)
{
    if (audioDevice == 0 || ring == nullptr || bytes < 4) {
        return false;
    }
    SDL_LockAudioDevice(audioDevice);
    loopRing = static_cast<const uint8_t*>(ring);
    loopBytes = bytes & ~3u;  // whole frames only
    loopCursor = 0;
    playedBytes.store(0);
    SDL_UnlockAudioDevice(audioDevice);
    SDL_PauseAudioDevice(audioDevice, 0);
    return true;
}

bool PlatAudioPlayedBytes(uint64_t* bytes)
{
    if (audioDevice == 0 || bytes == nullptr || SDL_GetAudioDeviceStatus(audioDevice) == SDL_AUDIO_STOPPED) {
        return false;
    }
    *bytes = playedBytes.load();
    return true;
}

void PlatAudioWritten(uint32_t, uint32_t)
{
    // SDL's device copies the ring as it stands: it cannot tell new contents from old, so there is nothing to note.
}

void PlatAudioPause()
{
    if (audioDevice == 0) {
        return;
    }
    // Taken under the device's lock: when this returns no callback is copying and none starts, so the
    // cursor and the played count stand exactly where the device stopped.
    SDL_PauseAudioDevice(audioDevice, 1);
}

void PlatAudioRestart()
{
    // Only a queued ring plays on; with none, the device stays as PlatAudioReset left it.
    if (audioDevice == 0 || loopRing == nullptr) {
        return;
    }
    SDL_PauseAudioDevice(audioDevice, 0);
}

void PlatAudioReset()
{
    if (audioDevice == 0) {
        return;
    }
    SDL_PauseAudioDevice(audioDevice, 1);
    // Locked, so a callback in the middle of a copy finishes before the ring is given back.
    SDL_LockAudioDevice(audioDevice);
    ForgetRing();
    SDL_UnlockAudioDevice(audioDevice);
}

void PlatAudioClose()
{
    if (audioDevice == 0) {
        return;
    }
    // Closing waits for the callback thread, so nothing reads the ring afterwards.
    SDL_CloseAudioDevice(audioDevice);
    audioDevice = 0;
    ForgetRing();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}
