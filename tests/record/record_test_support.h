// Running `tarnwick --record` as a separate program and reading what it wrote back with libavformat.
#pragma once

#include "music/music.h"
#include "sound/sound.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace recordtest {

namespace fs = std::filesystem;

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Runs the intro (`program`, the built one by default) in `folder` (the repository root by default) with the
// arguments (already quoted), without a display, bounded in time. Its standard output and error are kept in
// `scratch`.
inline RunResult RunIntro(const std::string& arguments, const fs::path& scratch, int timeoutSeconds = 120,
                          const std::string& folder = TARNWICK_SOURCE_DIR,
                          const std::string& program = TARNWICK_PATH)
{
    fs::path out = scratch / "stdout.txt";
    fs::path err = scratch / "stderr.txt";
    std::string command = "cd '" + folder + "' && env -u DISPLAY SDL_AUDIODRIVER=dummy timeout " +
                          std::to_string(timeoutSeconds) + " '" + program + "' " + arguments + " > '" +
                          out.string() + "' 2> '" + err.string() + "'";
    int status = std::system(command.c_str());
    RunResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    fs::remove(out);
    fs::remove(err);
    return result;
}

// The files a directory holds (names only), to tell that a failed recording left nothing behind.
inline std::vector<std::string> FilesIn(const fs::path& directory)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// What a video file holds, decoded.
struct Decoded {
    bool opened = false;
    std::string formatName;
    // Picture stream.
    AVCodecID videoCodec = AV_CODEC_ID_NONE;
    int width = 0;
    int height = 0;
    int pixelFormat = -1;
    int profile = 0;
    int level = 0;
    AVRational frameRate{0, 1};
    double videoSeconds = 0;                     // the stream's duration as the file gives it
    int frameCount = 0;
    double firstPictureSeconds = -1;             // presentation time of the first picture
    std::vector<std::vector<uint8_t>> pictures;  // the kept pictures, RGB, top row first
    // Sound stream, after the file's edit list.
    AVCodecID audioCodec = AV_CODEC_ID_NONE;
    int sampleRate = 0;
    int channels = 0;
    double audioSeconds = 0;                     // the stream's duration as the file gives it (edit list applied)
    std::vector<float> left;
    std::vector<float> right;
};

// Decodes every picture (keeping those whose 0-based numbers are in `keep`, in order) and all the sound.
inline Decoded DecodeFile(const std::string& path, const std::set<int>& keep = {})
{
    Decoded d;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
        return d;
    }
    if (avformat_find_stream_info(format, nullptr) < 0) {
        avformat_close_input(&format);
        return d;
    }
    d.opened = true;
    d.formatName = format->iformat->name;
    int videoIndex = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    int audioIndex = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    AVCodecContext* decoders[2] = {nullptr, nullptr};
    int indexes[2] = {videoIndex, audioIndex};
    for (int k = 0; k < 2; k++) {
        if (indexes[k] < 0) {
            continue;
        }
        AVStream* stream = format->streams[indexes[k]];
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        decoders[k] = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(decoders[k], stream->codecpar);
        decoders[k]->pkt_timebase = stream->time_base;
        avcodec_open2(decoders[k], codec, nullptr);
    }
    if (videoIndex >= 0) {
        AVCodecParameters* p = format->streams[videoIndex]->codecpar;
        d.videoCodec = p->codec_id;
        d.width = p->width;
        d.height = p->height;
        d.pixelFormat = p->format;
        d.profile = p->profile;
        d.level = p->level;
        d.frameRate = format->streams[videoIndex]->avg_frame_rate;
        d.videoSeconds = format->streams[videoIndex]->duration * av_q2d(format->streams[videoIndex]->time_base);
    }
    if (audioIndex >= 0) {
        AVCodecParameters* p = format->streams[audioIndex]->codecpar;
        d.audioCodec = p->codec_id;
        d.sampleRate = p->sample_rate;
        d.channels = p->ch_layout.nb_channels;
        d.audioSeconds = format->streams[audioIndex]->duration * av_q2d(format->streams[audioIndex]->time_base);
    }

    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* toRgb = nullptr;
    auto take = [&](int k) {
        while (avcodec_receive_frame(decoders[k], frame) >= 0) {
            if (k == 0) {
                if (d.frameCount == 0 && frame->best_effort_timestamp != AV_NOPTS_VALUE) {
                    d.firstPictureSeconds = frame->best_effort_timestamp *
                                            av_q2d(format->streams[videoIndex]->time_base);
                }
                if (keep.count(d.frameCount) > 0) {
                    const int flags = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;
                    toRgb = sws_getCachedContext(toRgb, frame->width, frame->height,
                                                 static_cast<AVPixelFormat>(frame->format), frame->width,
                                                 frame->height, AV_PIX_FMT_RGB24, flags, nullptr, nullptr, nullptr);
                    std::vector<uint8_t> rgb(static_cast<size_t>(frame->width) * frame->height * 3);
                    uint8_t* planes[1] = {rgb.data()};
                    int strides[1] = {frame->width * 3};
                    sws_scale(toRgb, frame->data, frame->linesize, 0, frame->height, planes, strides);
                    d.pictures.push_back(std::move(rgb));
                }
                d.frameCount++;
            } else {
                const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame->format));
                for (int i = 0; i < frame->nb_samples; i++) {
                    float l = 0;
                    float r = 0;
                    if (frame->format == AV_SAMPLE_FMT_FLTP) {
                        l = reinterpret_cast<float*>(frame->data[0])[i];
                        r = reinterpret_cast<float*>(frame->data[1])[i];
                    } else if (frame->format == AV_SAMPLE_FMT_FLT && !planar) {
                        l = reinterpret_cast<float*>(frame->data[0])[2 * i];
                        r = reinterpret_cast<float*>(frame->data[0])[2 * i + 1];
                    }
                    d.left.push_back(l);
                    d.right.push_back(r);
                }
            }
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        for (int k = 0; k < 2; k++) {
            if (decoders[k] != nullptr && packet->stream_index == indexes[k]) {
                avcodec_send_packet(decoders[k], packet);
                take(k);
            }
        }
        av_packet_unref(packet);
    }
    for (int k = 0; k < 2; k++) {
        if (decoders[k] != nullptr) {
            avcodec_send_packet(decoders[k], nullptr);
            take(k);
            avcodec_free_context(&decoders[k]);
        }
    }
    sws_freeContext(toRgb);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&format);
    return d;
}

// A song rendered as xmrender renders it: `frames` interleaved stereo frames at 44100 Hz.
inline std::vector<int16_t> RenderSong(const std::string& path, int64_t frames)
{
    std::vector<int16_t> out;
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    Song* song = ModLoadSong(path.c_str(), nullptr);
    if (song == nullptr || !SndRenderStart(song, 44100)) {
        return out;
    }
    std::vector<int16_t> block(2 * static_cast<size_t>(BlockFrames));
    while (static_cast<int64_t>(out.size()) < 2 * frames) {
        SndRenderBlock(block.data());
        out.insert(out.end(), block.begin(), block.end());
    }
    out.resize(2 * frames);
    SndRenderStop();
    ModFreeSong(song);
    return out;
}

// How the decoded sound lines up with the render: the lag (in frames, decoded = render shifted later by it)
// with the highest correlation within ±maxLag, and that correlation over both channels.
struct Alignment {
    int lag = 0;
    double correlation = 0;
};

// The correlation of the render with the decoded sound shifted by `lag`, over frames [0, frames).
inline double CorrelationAt(const Decoded& decoded, const std::vector<int16_t>& render, int lag, int64_t frames)
{
    double sxy = 0, sxx = 0, syy = 0;
    for (int64_t i = 0; i < frames; i++) {
        int64_t j = i + lag;
        if (j < 0 || j >= static_cast<int64_t>(decoded.left.size())) {
            continue;
        }
        for (int channel = 0; channel < 2; channel++) {
            double x = render[2 * i + channel] / 32768.0;
            double y = channel == 0 ? decoded.left[j] : decoded.right[j];
            sxy += x * y;
            sxx += x * x;
            syy += y * y;
        }
    }
    return sxx > 0 && syy > 0 ? sxy / std::sqrt(sxx * syy) : 0;
}

// The lag is sought over the first second, the correlation then taken over the whole render.
inline Alignment Align(const Decoded& decoded, const std::vector<int16_t>& render, int maxLag)
{
    const int64_t frames = static_cast<int64_t>(render.size() / 2);
    Alignment best{0, -2.0};
    for (int lag = -maxLag; lag <= maxLag; lag++) {
        double c = CorrelationAt(decoded, render, lag, std::min<int64_t>(frames, 44100));
        if (c > best.correlation) {
            best = Alignment{lag, c};
        }
    }
    best.correlation = CorrelationAt(decoded, render, best.lag, frames);
    return best;
}

inline double Peak(const std::vector<int16_t>& samples)
{
    int peak = 0;
    for (int16_t s : samples) {
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    }
    return peak;
}

} // namespace recordtest
