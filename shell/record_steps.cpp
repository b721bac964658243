// The steps of a recording, the same for --record and for the video the browser makes: the timeline (the
// song's first pass and a one-second fade, or a length asked for, in whole pictures), one animation step per
// picture drawn without a window and read back, and the song rendered block by block as xmrender renders it,
// handed out in the lengths the pictures need. What is done with the pictures and the sound (an encoder of
// FFmpeg's, or the browser's) is the caller's.
#include "shell/shell.h"

#include "cli/cli.h"
#include "music/music.h"
#include "platform/gl.h"
#include "scene/scene.h"
#include "sound/sound.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

float RecordFadeGain(const RecordTimeline& timeline, int64_t at)
{
    if (at < timeline.fadeStart) {
        return 1.0f;
    }
    int64_t span = timeline.soundFrames - timeline.fadeStart;
    return span > 0 ? static_cast<float>(std::max<int64_t>(timeline.soundFrames - at, 0)) / span : 0.0f;
}

int64_t SoundFrameOfPicture(int64_t picture, int32_t fps)
{
    return picture * RecordSoundRate / fps;
}

bool PlanRecordTimeline(const RecordOptions& options, RecordTimeline* timeline)
{
    if (options.seconds > 0.0) {
        timeline->soundFrames = std::max<int64_t>(std::llround(options.seconds * RecordSoundRate), 1);
        timeline->fadeStart = timeline->soundFrames;
    } else {
        Song* song = ModLoadSong(introSongPath.c_str(), nullptr);
        if (song == nullptr) {
            return false;
        }
        int64_t ceiling = static_cast<int64_t>(MaxDefaultSeconds * RecordSoundRate);
        int64_t firstPass = SndMeasureFirstPass(song, RecordSoundRate, ceiling);
        ModFreeSong(song);
        if (firstPass < 0) {
            std::fprintf(stderr, "tarnwick: the song did not come back to a played order position within "
                                 "%.0f s; recording that much\n", MaxDefaultSeconds);
            firstPass = ceiling;
        }
        timeline->fadeStart = firstPass;
        timeline->soundFrames = firstPass + RecordFadeFrames;
    }
    timeline->pictures =
        std::max<int64_t>((timeline->soundFrames * options.fps + RecordSoundRate - 1) / RecordSoundRate, 1);
    timeline->length = SoundFrameOfPicture(timeline->pictures, options.fps);
    return true;
}

int32_t PictureBytesPerPixel(PictureLayout layout)
{
    return layout == PictureLayout::RgbxTopFirst ? 4 : 3;
}

void FinishPicture(uint8_t* pixels, int32_t width, int32_t height, PictureLayout layout, float gain)
{
    const int32_t channels = PictureBytesPerPixel(layout);
    const size_t row = static_cast<size_t>(width) * channels;
    if (layout == PictureLayout::RgbxTopFirst) {
        std::vector<uint8_t> swap(row);
        for (int32_t top = 0, bottom = height - 1; top < bottom; top++, bottom--) {
            uint8_t* a = pixels + top * row;
            uint8_t* b = pixels + bottom * row;
            std::memcpy(swap.data(), a, row);
            std::memcpy(a, b, row);
            std::memcpy(b, swap.data(), row);
        }
    }
    if (gain >= 1.0f) {
        return;
    }
    const size_t count = row * height;
    for (size_t i = 0; i < count; i += channels) {
        // The colours only: RGBX's fourth byte is not shown.
        for (int32_t c = 0; c < 3; c++) {
            pixels[i + c] = static_cast<uint8_t>(std::lround(pixels[i + c] * gain));
        }
    }
}

// The next `count` frames of the song with the fade applied, silence after its part, into `out`; false when
// the render stops.
static bool TakeSound(Recorder* recorder, int64_t count, std::vector<int16_t>* out)
{
    const RecordTimeline& timeline = recorder->timeline;
    out->clear();
    while (count > 0) {
        if (recorder->produced >= timeline.soundFrames) {
            out->insert(out->end(), static_cast<size_t>(2 * count), 0);
            recorder->produced += count;
            break;
        }
        if (recorder->blockAt == recorder->blockFrames) {
            recorder->blockFrames = SndRenderBlock(recorder->block.data());
            recorder->blockAt = 0;
            if (recorder->blockFrames <= 0) {
                return false;
            }
        }
        int64_t take = std::min<int64_t>({count, recorder->blockFrames - recorder->blockAt,
                                          timeline.soundFrames - recorder->produced});
        for (int64_t k = 0; k < take; k++) {
            float gain = RecordFadeGain(timeline, recorder->produced + k);
            for (int channel = 0; channel < 2; channel++) {
                int16_t sample = recorder->block[2 * (recorder->blockAt + k) + channel];
                out->push_back(gain >= 1.0f ? sample : static_cast<int16_t>(std::lround(sample * gain)));
            }
        }
        recorder->blockAt += static_cast<int32_t>(take);
        recorder->produced += take;
        count -= take;
    }
    return true;
}

// Draws the next frame as the frame loop does and reads it back into the recorder's picture, finished.
static void TakePicture(Recorder* recorder, float gain)
{
    const RecordOptions& options = recorder->options;
    DrawScene();
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, options.width, options.height,
                 recorder->layout == PictureLayout::RgbxTopFirst ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE,
                 recorder->picture);
    FinishPicture(recorder->picture, options.width, options.height, recorder->layout, gain);
}

RecordFailure RecorderOpen(const RecordOptions& options, PictureLayout layout, Recorder* recorder,
                           std::string* reason)
{
    RecorderClose(recorder);
    recorder->options = options;
    recorder->layout = layout;
    recorder->nextPicture = 0;
    recorder->blockAt = 0;
    recorder->blockFrames = 0;
    recorder->produced = 0;
    if (PlanRecordTimeline(options, &recorder->timeline)) {
        recorder->song = ModLoadSong(introSongPath.c_str(), nullptr);
    }
    if (recorder->song == nullptr) {
        return RecordFailure::Song;
    }

    const char* why = "";
    recorder->offscreen = PlatCreateOffscreen(options.width, options.height, &why);
    if (recorder->offscreen == nullptr) {
        *reason = why;
        RecorderClose(recorder);
        return RecordFailure::Drawing;
    }
    ResizeScene(options.width, options.height);
    InitSceneState();

    // Checked rather than left to the allocator: where memory is of a fixed size (the browser) a picture too
    // large for it is a message, not the end of the program.
    size_t bytes = static_cast<size_t>(options.width) * options.height * PictureBytesPerPixel(layout);
    recorder->picture = static_cast<uint8_t*>(std::malloc(bytes));
    if (recorder->picture == nullptr) {
        *reason = "not enough memory for pictures of " + std::to_string(options.width) + " x " +
                  std::to_string(options.height);
        RecorderClose(recorder);
        return RecordFailure::Memory;
    }
    if (!SndRenderStart(recorder->song, RecordSoundRate)) {
        *reason = "not enough memory to play the song";
        RecorderClose(recorder);
        return RecordFailure::Memory;
    }
    recorder->rendering = true;
    // The render's block length is known once it runs.
    recorder->block.assign(2 * static_cast<size_t>(BlockFrames), 0);
    return RecordFailure::None;
}

bool RecorderStep(Recorder* recorder, std::string* reason)
{
    if (!recorder->rendering || recorder->nextPicture >= recorder->timeline.pictures) {
        return false;
    }
    const int32_t fps = recorder->options.fps;
    int64_t picture = recorder->nextPicture++;
    TakePicture(recorder, RecordFadeGain(recorder->timeline, SoundFrameOfPicture(picture, fps)));
    recorder->sound.clear();
    int64_t soundEnd = SoundFrameOfPicture(picture + 1, fps);
    if (soundEnd > recorder->produced && !TakeSound(recorder, soundEnd - recorder->produced, &recorder->sound)) {
        *reason = "the song's render stopped";
        return false;
    }
    return true;
}

void RecorderClose(Recorder* recorder)
{
    if (recorder->rendering) {
        SndRenderStop();
        recorder->rendering = false;
    }
    std::free(recorder->picture);
    recorder->picture = nullptr;
    if (recorder->offscreen != nullptr) {
        PlatDestroyOffscreen(recorder->offscreen);
        recorder->offscreen = nullptr;
    }
    if (recorder->song != nullptr) {
        ModFreeSong(recorder->song);
        recorder->song = nullptr;
    }
}
