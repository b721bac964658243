// The recording's steps as plain C functions (declared in shell.h) for a program that drives the intro from
// outside: the browser's video (web/record.js), which calls them picture by picture and encodes what they
// give. The same timeline, drawing and sound as --record; only the pictures' layout differs.
#include "shell/shell.h"

#include "cli/cli.h"
#include "scene/scene.h"

#include <cmath>
#include <string>

namespace {

// The recording the host drives, and why the latest call failed (main thread).
Recorder hostRecorder;
std::string hostError;

bool Fail(const std::string& text)
{
    hostError = text;
    return false;
}

// Takes the greeting, the song and the size asked for, and opens the recording.
bool Open(const char* greetingPath, const char* songPath, int32_t width, int32_t height, int32_t fps,
          double seconds)
{
    // A box would wait for an answer, which a call from the page cannot: the bitmap loader's messages (a
    // glyph missing from the data) go to standard error, and the recording goes on as the intro would.
    PlatMessageBox = PlatMessageBoxToStderr;
    std::string problem = RecordSizeProblem(width, height);
    if (!problem.empty()) {
        return Fail("the picture size " + std::to_string(width) + "x" + std::to_string(height) + ": " + problem);
    }
    if (fps < 1 || fps > MaxRecordFps) {
        return Fail("the picture rate " + std::to_string(fps) + ": 1 to " + std::to_string(MaxRecordFps) +
                    " pictures a second");
    }
    // 0 is the song's first pass; anything else a length --seconds would take.
    if (!std::isfinite(seconds) || seconds < 0.0 || (seconds > 0.0 && seconds < 0.001) ||
        seconds > MaxRenderSeconds) {
        return Fail("the length " + std::to_string(seconds) + " s: 0.001 s to a day");
    }
    std::string error;
    if (greetingPath != nullptr && greetingPath[0] != '\0' && !TakeGreeting(greetingPath, &error)) {
        return Fail(error);
    }
    if (!FindIntroData(&error)) {
        return Fail(error);
    }
    if (songPath != nullptr && songPath[0] != '\0') {
        introSongPath = songPath;
    }
    LoadGreetingAssets();
    PrepareMusic();

    RecordOptions options;
    options.width = width;
    options.height = height;
    options.fps = fps;
    options.seconds = seconds;
    options.quiet = true;
    std::string reason;
    switch (RecorderOpen(options, PictureLayout::RgbxTopFirst, &hostRecorder, &reason)) {
    case RecordFailure::None:
        return true;
    case RecordFailure::Song:
        // The intro's own line for a song it cannot play.
        return Fail("Error loading song");
    case RecordFailure::Drawing:
        return Fail("cannot record: " + reason);
    case RecordFailure::Memory:
        return Fail(reason);
    }
    return Fail("cannot record");
}

} // namespace

extern "C" {

int tw_record_open(const char* greetingPath, const char* songPath, int width, int height, int fps,
                   double seconds)
{
    hostError.clear();
    RecorderClose(&hostRecorder);
    return Open(greetingPath, songPath, width, height, fps, seconds) ? 1 : 0;
}

double tw_record_pictures()
{
    return static_cast<double>(hostRecorder.timeline.pictures);
}

double tw_record_sound_length()
{
    return static_cast<double>(hostRecorder.timeline.length);
}

int tw_record_step()
{
    hostError.clear();
    return RecorderStep(&hostRecorder, &hostError) ? 1 : 0;
}

const uint8_t* tw_record_picture()
{
    return hostRecorder.picture;
}

const int16_t* tw_record_sound()
{
    return hostRecorder.sound.data();
}

int tw_record_sound_frames()
{
    return static_cast<int>(hostRecorder.sound.size() / 2);
}

const char* tw_record_error()
{
    return hostError.c_str();
}

void tw_record_close()
{
    RecorderClose(&hostRecorder);
}

} // extern "C"
