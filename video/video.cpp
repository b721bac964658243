// The video file through FFmpeg's libraries: one picture stream (libx264 or libvpx-vp9, from RGB through
// libswscale) and one sound stream (AAC or Opus, through libswresample and a FIFO that cuts the sound into
// the encoder's frame size), interleaved by libavformat. The conversion and encoding run on a thread of the
// file's own, so that the caller draws the next picture meanwhile: the two halves of the work each take
// about one core. The thread makes exactly the calls the caller's order asks for, so the file is the same.
#include "video/video.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// One piece of work handed to the encoding thread, in the caller's order.
struct VideoJob {
    std::vector<uint8_t> picture;   // a picture as VidWriteFrame takes it; empty for sound
    std::vector<int16_t> sound;     // interleaved stereo frames as VidWriteSound takes them
};

// Pictures handed over and not yet encoded: one being encoded while the next waits is enough to keep both
// halves busy, and holds the memory to two pictures (25 MB each at 3840 x 2160).
constexpr size_t MaxPicturesWaiting = 2;

struct VideoFile {
    AVFormatContext* format = nullptr;
    AVCodecContext* picture = nullptr;    // picture encoder
    AVCodecContext* sound = nullptr;      // sound encoder
    AVStream* pictureStream = nullptr;
    AVStream* soundStream = nullptr;
    SwsContext* scaler = nullptr;         // RGB to the encoder's YUV 4:2:0
    SwrContext* resampler = nullptr;      // 16-bit interleaved to the encoder's sample format and rate
    AVAudioFifo* fifo = nullptr;          // converted sound not yet a whole encoder frame
    AVFrame* pictureFrame = nullptr;
    AVFrame* soundFrame = nullptr;
    AVPacket* packet = nullptr;
    VideoSettings settings{};
    int64_t picturesWritten = 0;          // pictures given to the encoder
    int64_t soundSamplesSent = 0;         // sound frames given to the encoder, at its rate
    bool fileOpen = false;                // the output file is open (avio)

    // The encoding thread and what it shares with the caller (under `lock`).
    std::thread worker;
    std::mutex lock;
    std::condition_variable changed;      // a job came, a job was done, or the caller is done
    std::deque<VideoJob> jobs;            // waiting, oldest first
    size_t picturesWaiting = 0;           // pictures among `jobs`
    bool noMoreJobs = false;              // the caller finishes or abandons the file
    bool failed = false;                  // a job failed: the rest are dropped, `failure` says why
    std::string failure;
    std::vector<uint8_t> spare;           // a picture buffer to reuse (caller and thread)
};

VideoContainer VidContainerOf(const std::string& path)
{
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find_first_of("/\\", dot) != std::string::npos) {
        return VideoContainer::None;
    }
    std::string extension = path.substr(dot + 1);
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (extension == "mp4") {
        return VideoContainer::Mp4;
    }
    if (extension == "webm") {
        return VideoContainer::WebM;
    }
    return VideoContainer::None;
}

static std::string ErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

static bool Fail(std::string* error, const std::string& what, int code = 0)
{
    if (error != nullptr) {
        *error = code != 0 ? what + ": " + ErrorText(code) : what;
    }
    return false;
}

static void EncodeJobs(VideoFile* file);

// Lets the encoding thread finish the jobs handed over (or drop them, with `drop`) and waits for it.
static void StopWorker(VideoFile* file, bool drop)
{
    if (!file->worker.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(file->lock);
        file->noMoreJobs = true;
        if (drop) {
            file->jobs.clear();
            file->picturesWaiting = 0;
        }
    }
    file->changed.notify_all();
    file->worker.join();
}

static void Release(VideoFile* file)
{
    StopWorker(file, true);
    if (file->fileOpen) {
        avio_closep(&file->format->pb);
    }
    avcodec_free_context(&file->picture);
    avcodec_free_context(&file->sound);
    sws_freeContext(file->scaler);
    swr_free(&file->resampler);
    if (file->fifo != nullptr) {
        av_audio_fifo_free(file->fifo);
    }
    av_frame_free(&file->pictureFrame);
    av_frame_free(&file->soundFrame);
    av_packet_free(&file->packet);
    avformat_free_context(file->format);
    delete file;
}

// Everything the encoder has ready goes into the file; a write error of the file shows here.
static bool Drain(VideoFile* file, AVCodecContext* encoder, AVStream* stream, std::string* error)
{
    for (;;) {
        int result = avcodec_receive_packet(encoder, file->packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
            return true;
        }
        if (result < 0) {
            return Fail(error, std::string("the ") + encoder->codec->name + " encoder failed", result);
        }
        av_packet_rescale_ts(file->packet, encoder->time_base, stream->time_base);
        file->packet->stream_index = stream->index;
        result = av_interleaved_write_frame(file->format, file->packet);
        if (result < 0) {
            return Fail(error, "cannot write", result);
        }
        if (file->format->pb->error < 0) {
            return Fail(error, "cannot write", file->format->pb->error);
        }
    }
}

static bool Encode(VideoFile* file, AVCodecContext* encoder, AVStream* stream, AVFrame* frame, std::string* error)
{
    int result = avcodec_send_frame(encoder, frame);
    if (result < 0) {
        return Fail(error, std::string("the ") + encoder->codec->name + " encoder failed", result);
    }
    return Drain(file, encoder, stream, error);
}

static AVCodecContext* OpenEncoder(const char* name, const AVCodec** codec, std::string* error)
{
    *codec = avcodec_find_encoder_by_name(name);
    if (*codec == nullptr) {
        Fail(error, std::string("this FFmpeg has no ") + name + " encoder");
        return nullptr;
    }
    AVCodecContext* context = avcodec_alloc_context3(*codec);
    if (context == nullptr) {
        Fail(error, "not enough memory for the encoder");
    }
    return context;
}

static bool OpenPictureStream(VideoFile* file, VideoContainer container, std::string* error)
{
    const bool mp4 = container == VideoContainer::Mp4;
    const AVCodec* codec = nullptr;
    AVCodecContext* c = file->picture = OpenEncoder(mp4 ? "libx264" : "libvpx-vp9", &codec, error);
    if (c == nullptr) {
        return false;
    }
    c->width = file->settings.width;
    c->height = file->settings.height;
    c->time_base = AVRational{1, file->settings.fps};
    c->framerate = AVRational{file->settings.fps, 1};
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    // What libswscale converts to: BT.601, limited range; said in the stream so players agree.
    c->color_range = AVCOL_RANGE_MPEG;
    c->colorspace = AVCOL_SPC_SMPTE170M;
    c->color_primaries = AVCOL_PRI_SMPTE170M;
    c->color_trc = AVCOL_TRC_SMPTE170M;
    if ((file->format->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    AVDictionary* options = nullptr;
    if (mp4) {
        // High profile at constant quality; x264 picks the lowest level the size and rate fit in (3.2 for
        // 800 × 600 at 60 fps, well inside the 4.1 that phones play). The faster presets lose visibly on the
        // scene's sharp glyph and line edges at the same CRF (about 0.6 dB less against the drawn frames).
        av_dict_set(&options, "profile", "high", 0);
        av_dict_set(&options, "preset", "medium", 0);
        av_dict_set(&options, "crf", "23", 0);
    } else {
        // Constant quality (bit rate 0), the speed setting that makes VP9 practical without a deadline.
        c->bit_rate = 0;
        av_dict_set(&options, "crf", "31", 0);
        av_dict_set(&options, "deadline", "good", 0);
        av_dict_set(&options, "cpu-used", "5", 0);
        av_dict_set(&options, "row-mt", "1", 0);
    }
    int result = avcodec_open2(c, codec, &options);
    av_dict_free(&options);
    if (result < 0) {
        return Fail(error, std::string("the ") + codec->name + " encoder does not start", result);
    }
    file->pictureStream = avformat_new_stream(file->format, nullptr);
    if (file->pictureStream == nullptr || avcodec_parameters_from_context(file->pictureStream->codecpar, c) < 0) {
        return Fail(error, "not enough memory for the picture stream");
    }
    file->pictureStream->time_base = c->time_base;
    file->pictureStream->avg_frame_rate = c->framerate;

    // Chroma taken from every pixel with exact rounding: the scene's one-pixel lines and glyph edges in
    // saturated colours lose most in the 4:2:0 reduction.
    file->scaler = sws_getContext(c->width, c->height, AV_PIX_FMT_RGB24, c->width, c->height, AV_PIX_FMT_YUV420P,
                                  SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr);
    file->pictureFrame = av_frame_alloc();
    if (file->scaler == nullptr || file->pictureFrame == nullptr) {
        return Fail(error, "not enough memory for the picture conversion");
    }
    file->pictureFrame->format = c->pix_fmt;
    file->pictureFrame->width = c->width;
    file->pictureFrame->height = c->height;
    if (av_frame_get_buffer(file->pictureFrame, 0) < 0) {
        return Fail(error, "not enough memory for a picture");
    }
    return true;
}

static bool OpenSoundStream(VideoFile* file, VideoContainer container, std::string* error)
{
    const bool mp4 = container == VideoContainer::Mp4;
    const AVCodec* codec = nullptr;
    AVCodecContext* c = file->sound = OpenEncoder(mp4 ? "aac" : "libopus", &codec, error);
    if (c == nullptr) {
        return false;
    }
    // AAC takes the intro's rate as it is; Opus runs at 48 kHz only.
    c->sample_rate = mp4 ? file->settings.sampleRate : 48000;
    c->sample_fmt = mp4 ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16;
    c->bit_rate = 160000;
    c->time_base = AVRational{1, c->sample_rate};
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    av_channel_layout_copy(&c->ch_layout, &stereo);
    if ((file->format->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    int result = avcodec_open2(c, codec, nullptr);
    if (result < 0) {
        return Fail(error, std::string("the ") + codec->name + " encoder does not start", result);
    }
    file->soundStream = avformat_new_stream(file->format, nullptr);
    if (file->soundStream == nullptr || avcodec_parameters_from_context(file->soundStream->codecpar, c) < 0) {
        return Fail(error, "not enough memory for the sound stream");
    }
    file->soundStream->time_base = c->time_base;

    result = swr_alloc_set_opts2(&file->resampler, &c->ch_layout, c->sample_fmt, c->sample_rate, &stereo,
                                 AV_SAMPLE_FMT_S16, file->settings.sampleRate, 0, nullptr);
    if (result < 0 || swr_init(file->resampler) < 0) {
        return Fail(error, "the sound conversion does not start", result);
    }
    file->fifo = av_audio_fifo_alloc(c->sample_fmt, 2, std::max(c->frame_size, 1) * 4);
    file->soundFrame = av_frame_alloc();
    if (file->fifo == nullptr || file->soundFrame == nullptr) {
        return Fail(error, "not enough memory for the sound");
    }
    return true;
}

VideoFile* VidOpen(const std::string& path, VideoContainer container, const VideoSettings& settings,
                   std::string* error)
{
    if (container == VideoContainer::None) {
        Fail(error, "the name must end in .mp4 or .webm");
        return nullptr;
    }
    // The libraries' own log lines would break into the progress bar; failures come back as results.
    av_log_set_level(AV_LOG_QUIET);
    auto* file = new VideoFile;
    file->settings = settings;
    const char* formatName = container == VideoContainer::Mp4 ? "mp4" : "webm";
    if (avformat_alloc_output_context2(&file->format, nullptr, formatName, path.c_str()) < 0 ||
        file->format == nullptr) {
        Fail(error, "not enough memory for the file");
        Release(file);
        return nullptr;
    }
    file->packet = av_packet_alloc();
    if (file->packet == nullptr || !OpenPictureStream(file, container, error) ||
        !OpenSoundStream(file, container, error)) {
        Release(file);
        return nullptr;
    }
    int result = avio_open(&file->format->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
        Fail(error, "cannot write", result);
        Release(file);
        return nullptr;
    }
    file->fileOpen = true;
    AVDictionary* options = nullptr;
    if (container == VideoContainer::Mp4) {
        // The index goes to the front once everything is written, so the file plays while it downloads.
        av_dict_set(&options, "movflags", "+faststart", 0);
    }
    result = avformat_write_header(file->format, &options);
    av_dict_free(&options);
    if (result < 0) {
        Fail(error, "cannot write", result);
        Release(file);
        return nullptr;
    }
    file->worker = std::thread(EncodeJobs, file);
    return file;
}

static bool EncodePicture(VideoFile* file, const uint8_t* rgb, std::string* error)
{
    if (av_frame_make_writable(file->pictureFrame) < 0) {
        return Fail(error, "not enough memory for a picture");
    }
    // Bottom row first: start at the last row in memory and walk backwards.
    const int rowBytes = file->settings.width * 3;
    const uint8_t* top[1] = {rgb + static_cast<size_t>(file->settings.height - 1) * rowBytes};
    const int strides[1] = {-rowBytes};
    sws_scale(file->scaler, top, strides, 0, file->settings.height, file->pictureFrame->data,
              file->pictureFrame->linesize);
    file->pictureFrame->pts = file->picturesWritten++;
    return Encode(file, file->picture, file->pictureStream, file->pictureFrame, error);
}

// Sends whole encoder frames from the FIFO; with `all`, the last part frame as well.
static bool SendSound(VideoFile* file, bool all, std::string* error)
{
    AVCodecContext* c = file->sound;
    const int frameSize = c->frame_size > 0 ? c->frame_size : 1024;
    while (av_audio_fifo_size(file->fifo) >= frameSize || (all && av_audio_fifo_size(file->fifo) > 0)) {
        int count = std::min(frameSize, av_audio_fifo_size(file->fifo));
        AVFrame* frame = file->soundFrame;
        av_frame_unref(frame);
        frame->nb_samples = count;
        frame->format = c->sample_fmt;
        frame->sample_rate = c->sample_rate;
        if (av_channel_layout_copy(&frame->ch_layout, &c->ch_layout) < 0 || av_frame_get_buffer(frame, 0) < 0) {
            return Fail(error, "not enough memory for the sound");
        }
        if (av_audio_fifo_read(file->fifo, reinterpret_cast<void**>(frame->data), count) != count) {
            return Fail(error, "the sound conversion failed");
        }
        frame->pts = file->soundSamplesSent;
        file->soundSamplesSent += count;
        if (!Encode(file, c, file->soundStream, frame, error)) {
            return false;
        }
    }
    return true;
}

// Converts `count` frames (null input drains the resampler) into the FIFO.
static bool Convert(VideoFile* file, const int16_t* frames, int32_t count, std::string* error)
{
    int room = swr_get_out_samples(file->resampler, count);
    if (room < 0) {
        return Fail(error, "the sound conversion failed", room);
    }
    std::vector<uint8_t*> planes(2, nullptr);
    if (av_samples_alloc(planes.data(), nullptr, 2, std::max(room, 1), file->sound->sample_fmt, 0) < 0) {
        return Fail(error, "not enough memory for the sound");
    }
    const uint8_t* input[1] = {reinterpret_cast<const uint8_t*>(frames)};
    int converted = swr_convert(file->resampler, planes.data(), room, frames != nullptr ? input : nullptr,
                                frames != nullptr ? count : 0);
    bool ok = converted >= 0 &&
              av_audio_fifo_write(file->fifo, reinterpret_cast<void**>(planes.data()), converted) == converted;
    av_freep(&planes[0]);
    return ok || Fail(error, "the sound conversion failed");
}

static bool EncodeSound(VideoFile* file, const int16_t* frames, int32_t count, std::string* error)
{
    return Convert(file, frames, count, error) && SendSound(file, false, error);
}

// The encoding thread: the jobs in order until the caller is done; after a failure only drops them.
static void EncodeJobs(VideoFile* file)
{
    std::unique_lock<std::mutex> guard(file->lock);
    for (;;) {
        file->changed.wait(guard, [file] { return !file->jobs.empty() || file->noMoreJobs; });
        if (file->jobs.empty()) {
            return;
        }
        VideoJob job = std::move(file->jobs.front());
        file->jobs.pop_front();
        bool failedBefore = file->failed;
        guard.unlock();
        std::string error;
        bool ok = failedBefore ||
                  (job.picture.empty() ? EncodeSound(file, job.sound.data(),
                                                     static_cast<int32_t>(job.sound.size() / 2), &error)
                                       : EncodePicture(file, job.picture.data(), &error));
        guard.lock();
        if (!job.picture.empty()) {
            file->picturesWaiting--;
            file->spare = std::move(job.picture);
        }
        if (!ok) {
            file->failed = true;
            file->failure = error;
        }
        file->changed.notify_all();
    }
}

// Hands a job to the encoding thread; false (with the reason) once an earlier job has failed.
static bool HandOver(VideoFile* file, VideoJob job, std::string* error)
{
    std::unique_lock<std::mutex> guard(file->lock);
    if (!job.picture.empty()) {
        file->changed.wait(guard, [file] { return file->picturesWaiting < MaxPicturesWaiting || file->failed; });
        file->picturesWaiting++;
    }
    if (file->failed) {
        if (!job.picture.empty()) {
            file->picturesWaiting--;
        }
        return Fail(error, file->failure);
    }
    file->jobs.push_back(std::move(job));
    guard.unlock();
    file->changed.notify_all();
    return true;
}

bool VidWriteFrame(VideoFile* file, const uint8_t* rgb, std::string* error)
{
    VideoJob job;
    {
        std::lock_guard<std::mutex> guard(file->lock);
        job.picture = std::move(file->spare);
    }
    job.picture.assign(rgb, rgb + static_cast<size_t>(file->settings.width) * file->settings.height * 3);
    return HandOver(file, std::move(job), error);
}

bool VidWriteSound(VideoFile* file, const int16_t* frames, int32_t count, std::string* error)
{
    if (count <= 0) {
        return true;
    }
    VideoJob job;
    job.sound.assign(frames, frames + 2 * static_cast<size_t>(count));
    return HandOver(file, std::move(job), error);
}

bool VidFinish(VideoFile* file, std::string* error)
{
    StopWorker(file, false);
    bool ok = !file->failed || Fail(error, file->failure);
    ok = ok && Convert(file, nullptr, 0, error) && SendSound(file, true, error) &&
              Encode(file, file->sound, file->soundStream, nullptr, error) &&
              Encode(file, file->picture, file->pictureStream, nullptr, error);
    if (ok) {
        int result = av_write_trailer(file->format);
        if (result < 0 || file->format->pb->error < 0) {
            ok = Fail(error, "cannot write", result < 0 ? result : file->format->pb->error);
        }
    }
    if (file->fileOpen) {
        file->fileOpen = false;
        int result = avio_closep(&file->format->pb);
        if (ok && result < 0) {
            ok = Fail(error, "cannot write", result);
        }
    }
    Release(file);
    return ok;
}

void VidAbandon(VideoFile* file)
{
    if (file != nullptr) {
        Release(file);
    }
}
