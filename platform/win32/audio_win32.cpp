// The wave output device over winmm: one looping header that plays the whole ring endlessly, and the
// device's byte position unwrapped from 32 into 64 bits.
#include "platform/win32/position_unwrap.h"
#include "platform/win32/win32_internal.h"

#include <mmsystem.h>

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(WAVEHDR) == 32, "32-bit WAVEHDR is 32 bytes");
static_assert(sizeof(MMTIME) == 12, "32-bit MMTIME is 12 bytes");
#elif defined(__x86_64__) || defined(_M_X64)
static_assert(sizeof(WAVEHDR) == 48, "64-bit WAVEHDR is 48 bytes");
#endif

// The open device, nullptr when closed (main thread).
static HWAVEOUT waveDevice = nullptr;
// The header that loops the ring; prepared from PlatAudioQueueLoop until PlatAudioReset (main thread).
static WAVEHDR loopHeader{};
static bool loopPrepared = false;
// Set by PlatAudioPause until PlatAudioRestart or a newly queued ring plays (main thread).
static bool devicePaused = false;
// The device's 32-bit byte position unwrapped into the seam's 64-bit count. Reset by the main thread
// before the streaming thread starts, then read and written by the streaming thread only.
static PositionUnwrap position{};

static void ForgetPosition()
{
    position = PositionUnwrap{};
}

bool PlatAudioOpen(int32_t rate)
{
    PlatAudioClose();
    if (rate <= 0) {
        return false;
    }
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = static_cast<DWORD>(rate);
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = static_cast<DWORD>(rate) * 4;
    format.cbSize = 0;
    HWAVEOUT device = nullptr;
    if (waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        return false;
    }
    waveDevice = device;
    ForgetPosition();
    return true;
}

bool PlatAudioQueueLoop(const void* ring, uint32_t bytes)
{
    if (waveDevice == nullptr || ring == nullptr || bytes < 4) {
        return false;
    }
    // A ring still queued from an earlier play never finishes by itself: take it back first, so the new
    // one plays at once and the position counts from its first byte.
    PlatAudioReset();
    loopHeader = WAVEHDR{};
    loopHeader.lpData = static_cast<LPSTR>(const_cast<void*>(ring));
    loopHeader.dwBufferLength = bytes & ~3u;  // whole frames only
    loopHeader.dwBytesRecorded = 0;
    loopHeader.dwUser = 0;
    loopHeader.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    loopHeader.dwLoops = 0xFFFFFFFF;
    if (waveOutPrepareHeader(waveDevice, &loopHeader, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        return false;
    }
    loopPrepared = true;
    ForgetPosition();
    if (waveOutWrite(waveDevice, &loopHeader, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        return false;
    }
    // A device paused before the reset may stay paused; a newly queued ring plays at once.
    PlatAudioRestart();
    return true;
}

bool PlatAudioPlayedBytes(uint64_t* bytes)
{
    if (waveDevice == nullptr || bytes == nullptr) {
        return false;
    }
    MMTIME time{};
    time.wType = TIME_BYTES;
    if (waveOutGetPosition(waveDevice, &time, sizeof(MMTIME)) != MMSYSERR_NOERROR || time.wType != TIME_BYTES) {
        return false;  // the device answered in another unit, which cannot tell the block
    }
    *bytes = UnwrapPosition(&position, time.u.cb);
    return true;
}

void PlatAudioWritten(uint32_t, uint32_t)
{
    // The wave device loops the ring as it stands: it cannot tell new contents from old, so there is nothing to note.
}

void PlatAudioPause()
{
    if (waveDevice == nullptr || devicePaused) {
        return;
    }
    // The device holds its place in the looping header and its byte position stops with it.
    if (waveOutPause(waveDevice) == MMSYSERR_NOERROR) {
        devicePaused = true;
    }
}

void PlatAudioRestart()
{
    if (waveDevice == nullptr || !devicePaused) {
        return;
    }
    waveOutRestart(waveDevice);
    devicePaused = false;
}

void PlatAudioReset()
{
    if (waveDevice == nullptr) {
        return;
    }
    waveOutReset(waveDevice);
    if (loopPrepared) {
        // The reset has given the header back, so it can be released; it is forgotten either way.
        waveOutUnprepareHeader(waveDevice, &loopHeader, sizeof(WAVEHDR));
        loopHeader.dwFlags &= ~static_cast<DWORD>(WHDR_PREPARED);
        loopPrepared = false;
    }
    ForgetPosition();
}

void PlatAudioClose()
{
    if (waveDevice == nullptr) {
        return;
    }
    PlatAudioReset();
    waveOutClose(waveDevice);
    waveDevice = nullptr;
    devicePaused = false;
}
