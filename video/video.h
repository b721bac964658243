// Writing a video file: pictures and 16-bit stereo sound in, a file any phone plays out. H.264 (High
// profile, CRF 23, yuv420p) with AAC at 160 kbit/s in MP4 with its index at the front, or VP9 with Opus in
// WebM; encoded with FFmpeg's libraries. Knows nothing of the intro: the recorder in shell/ feeds it.
// One file per record, written from one thread; the encoding itself runs on a thread of the file's own, a
// picture or two behind the caller, and a failure there is reported by the next call.
#pragma once

#include <cstdint>
#include <string>

struct VideoFile;

struct VideoSettings {
    int32_t width;        // pixels, even
    int32_t height;       // pixels, even
    int32_t fps;          // pictures per second, 1..120
    int32_t sampleRate;   // sound frames per second of what VidWriteSound is given (the intro's 44100)
};

enum class VideoContainer : int32_t { None = 0, Mp4 = 1, WebM = 2 };

// The container a file name asks for by its extension (.mp4 or .webm, any case); None for any other.
VideoContainer VidContainerOf(const std::string& path);

// Creates `path` (replacing a file there) and starts both streams. nullptr on failure, with the reason in
// *error (e.g. "Permission denied", or which encoder is missing); no file is left open, but a file that was
// created stays for the caller to remove.
VideoFile* VidOpen(const std::string& path, VideoContainer container, const VideoSettings& settings,
                   std::string* error);
// Encodes the next picture: width × height × 3 bytes of red, green, blue, bottom row first (as glReadPixels
// reads them with a pack alignment of 1). Picture n is shown at n / fps seconds.
bool VidWriteFrame(VideoFile* file, const uint8_t* rgb, std::string* error);
// Encodes the next `count` sound frames: interleaved stereo 16-bit samples, left then right.
bool VidWriteSound(VideoFile* file, const int16_t* frames, int32_t count, std::string* error);
// Drains the encoders, writes the index and closes the file; the record is released either way. false on
// failure (a full disk shows here at the latest), with the reason in *error.
bool VidFinish(VideoFile* file, std::string* error);
// Closes the file without finishing it and releases the record (the caller removes the file); nullptr: nothing.
void VidAbandon(VideoFile* file);
