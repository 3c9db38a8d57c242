#include "tools/qx-devsim/videofile.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

VideoFile::~VideoFile() {
    close();
}

void VideoFile::close() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&codec_);
    avformat_close_input(&format_);
    draining_ = false;
}

bool VideoFile::open(const std::string& path, std::string* error) {
    path_ = path;
    if (avformat_open_input(&format_, path.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(format_, nullptr) < 0) {
        *error = "cannot read " + path;
        return false;
    }
    const AVCodec* decoder = nullptr;
    stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (stream_ < 0 || !decoder) {
        *error = "no video stream in " + path;
        return false;
    }
    codec_ = avcodec_alloc_context3(decoder);
    if (!codec_ || avcodec_parameters_to_context(codec_, format_->streams[stream_]->codecpar) < 0 ||
        avcodec_open2(codec_, decoder, nullptr) < 0) {
        *error = "cannot decode the video of " + path;
        return false;
    }
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    return frame_ && packet_;
}

bool VideoFile::decodeOne() {
    for (;;) {
        const int r = avcodec_receive_frame(codec_, frame_);
        if (r == 0) return true;
        if (r != AVERROR(EAGAIN)) return false;
        if (draining_) return false;
        const int read = av_read_frame(format_, packet_);
        if (read < 0) {
            draining_ = true;
            avcodec_send_packet(codec_, nullptr);
            continue;
        }
        if (packet_->stream_index == stream_) avcodec_send_packet(codec_, packet_);
        av_packet_unref(packet_);
    }
}

bool VideoFile::next(uint8_t* rgba) {
    if (!decodeOne()) {
        // End of the file: start over. Opening it again works for every container, where a seek does not
        // (a raw stream has no index).
        close();
        std::string error;
        if (!open(path_, &error) || !decodeOne()) return false;
    }
    return scaler_.convert(frame_->data, frame_->linesize, frame_->width, frame_->height, frame_->format,
                           rgba);
}
