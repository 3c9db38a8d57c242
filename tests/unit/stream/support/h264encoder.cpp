#include "tests/unit/stream/support/h264encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

H264Encoder::H264Encoder(int32_t width, int32_t height) {
    av_log_set_level(AV_LOG_ERROR);  // x264 reports its settings on stderr otherwise
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) return;
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = {1, 60};
    context->gop_size = 600;
    context->max_b_frames = 0;
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    context->thread_count = 1;
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    if (avcodec_open2(context, codec, nullptr) < 0) {
        avcodec_free_context(&context);
        return;
    }
    context_ = context;
    frame_ = av_frame_alloc();
    frame_->format = AV_PIX_FMT_YUV420P;
    frame_->width = width;
    frame_->height = height;
    av_frame_get_buffer(frame_, 0);
    packet_ = av_packet_alloc();
}

H264Encoder::~H264Encoder() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&context_);
}

std::vector<uint8_t> H264Encoder::config() const {
    if (!context_ || !context_->extradata) return {};
    return {context_->extradata, context_->extradata + context_->extradata_size};
}

std::vector<uint8_t> H264Encoder::encodeSolid(uint8_t red, uint8_t green, uint8_t blue) {
    std::vector<uint8_t> pixels(static_cast<size_t>(context_->width) * context_->height * 4);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = red;
        pixels[i + 1] = green;
        pixels[i + 2] = blue;
    }
    return encodeRgbx(pixels.data());
}

std::vector<uint8_t> H264Encoder::encodeRgbx(const uint8_t* pixels) {
    if (!context_) return {};
    SwsContext* scaler =
        sws_getContext(context_->width, context_->height, AV_PIX_FMT_RGB0, context_->width, context_->height,
                       AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr);
    const uint8_t* planes[4] = {pixels, nullptr, nullptr, nullptr};
    int strides[4] = {context_->width * 4, 0, 0, 0};
    av_frame_make_writable(frame_);
    sws_scale(scaler, planes, strides, 0, context_->height, frame_->data, frame_->linesize);
    sws_freeContext(scaler);
    frame_->pts = pts_++;
    std::vector<uint8_t> unit;
    if (avcodec_send_frame(context_, frame_) < 0) return unit;
    while (avcodec_receive_packet(context_, packet_) == 0) {
        unit.insert(unit.end(), packet_->data, packet_->data + packet_->size);
        av_packet_unref(packet_);
    }
    return unit;
}
