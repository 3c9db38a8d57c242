#include "tools/qx-devsim/h264coder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

H264Coder::~H264Coder() {
    sws_freeContext(toYuv_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&context_);
}

bool H264Coder::open(int32_t width, int32_t height, int32_t fps, std::string* error) {
    av_log_set_level(AV_LOG_ERROR);  // x264 prints its settings otherwise
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        *error = "libavcodec has no libx264 encoder";
        return false;
    }
    context_ = avcodec_alloc_context3(codec);
    if (!context_) return false;
    sourceWidth_ = width;
    sourceHeight_ = height;
    // 4:2:0 needs even edges; x264 refuses odd ones, so an odd picture is scaled down by one pixel.
    context_->width = width & ~1;
    context_->height = height & ~1;
    context_->pix_fmt = AV_PIX_FMT_YUV420P;
    context_->time_base = {1, fps};
    context_->framerate = {fps, 1};
    // A key frame every two seconds lets a decoder that lost its place recover.
    context_->gop_size = fps * 2;
    context_->max_b_frames = 0;
    context_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    context_->thread_count = 1;
    av_opt_set(context_->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context_->priv_data, "tune", "zerolatency", 0);
    // Keep SPS/PPS in front of every key frame as well, for a decoder that joins late.
    av_opt_set(context_->priv_data, "x264-params", "repeat-headers=1", 0);
    if (avcodec_open2(context_, codec, nullptr) < 0) {
        *error = "libx264 refused " + std::to_string(width) + "x" + std::to_string(height);
        return false;
    }
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!frame_ || !packet_) return false;
    frame_->format = AV_PIX_FMT_YUV420P;
    frame_->width = context_->width;
    frame_->height = context_->height;
    toYuv_ = sws_getContext(width, height, AV_PIX_FMT_RGBA, context_->width, context_->height,
                            AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    return toYuv_ && av_frame_get_buffer(frame_, 0) == 0;
}

std::vector<uint8_t> H264Coder::config() {
    if (!context_->extradata || context_->extradata_size <= 0) return {};
    return {context_->extradata, context_->extradata + context_->extradata_size};
}

bool H264Coder::encode(const uint8_t* rgba, int64_t n, std::vector<uint8_t>* payload) {
    payload->clear();
    if (av_frame_make_writable(frame_) < 0) return false;
    const uint8_t* planes[4] = {rgba, nullptr, nullptr, nullptr};
    const int strides[4] = {sourceWidth_ * 4, 0, 0, 0};
    sws_scale(toYuv_, planes, strides, 0, sourceHeight_, frame_->data, frame_->linesize);
    frame_->pts = n;
    if (avcodec_send_frame(context_, frame_) < 0) return false;
    while (avcodec_receive_packet(context_, packet_) == 0) {
        payload->insert(payload->end(), packet_->data, packet_->data + packet_->size);
        av_packet_unref(packet_);
    }
    return !payload->empty();
}
