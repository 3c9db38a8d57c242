#include "avc/mftavcdecoder.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/hwcontext.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "avc/avclog.h"
#include "avc/rotation.h"

namespace {

constexpr int32_t kMaxEdge = 4096;

// Picks the hardware format when the decoder offers it for this stream, else the first software format, so a
// stream the hardware cannot take is decoded in software without a word.
AVPixelFormat getFormat(AVCodecContext* context, const AVPixelFormat* formats) {
    auto* self = static_cast<MftavcDecoder*>(context->opaque);
    for (const AVPixelFormat* f = formats; *f != AV_PIX_FMT_NONE; ++f) {
        if (*f == self->hardwareFormat()) return *f;
    }
    for (const AVPixelFormat* f = formats; *f != AV_PIX_FMT_NONE; ++f) {
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(*f);
        if (desc && !(desc->flags & AV_PIX_FMT_FLAG_HWACCEL)) return *f;
    }
    return AV_PIX_FMT_NONE;
}

// A picture of a size the conversion takes.
bool usable(const AVFrame* frame) {
    return frame->width >= 1 && frame->height >= 1 && frame->width <= kMaxEdge && frame->height <= kMaxEdge;
}

bool hardwareWanted(bool requested) {
    const char* env = getenv("QX_AVC_HARDWARE");
    return requested && !(env && strcmp(env, "0") == 0);
}

}  // namespace

MftavcDecoder* MftavcDecoder::open(const uint8_t* config, int32_t configLength, int32_t width, int32_t height,
                                   bool hardware, platform::Window* window) {
    if (configLength < 0 || (configLength > 0 && !config) || width < 0 || height < 0 || width > kMaxEdge ||
        height > kMaxEdge) {
        avclog("mftavc: refused set-up, config %d bytes, size %dx%d", configLength, width, height);
        return nullptr;
    }
    auto* decoder = new MftavcDecoder(window);
    if (!decoder->openCodec(config, configLength, width, height, hardwareWanted(hardware))) {
        delete decoder;
        return nullptr;
    }
    return decoder;
}

bool MftavcDecoder::openCodec(const uint8_t* config, int32_t configLength, int32_t width, int32_t height,
                              bool hardware) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!codec) {
        avclog("mftavc: no H.264 decoder in libavcodec");
        return false;
    }
    context_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    transferred_ = av_frame_alloc();
    if (!kept_) kept_ = av_frame_alloc();
    if (!context_ || !packet_ || !frame_ || !transferred_ || !kept_) return false;
    context_->opaque = this;
    context_->width = width;
    context_->height = height;
    // Show each picture as soon as its access unit is in: no frame threads (they hold pictures back by one
    // frame per thread) and no output delay beyond what the stream itself asks for. One thread: a phone
    // codes a picture as one slice, which slice threads cannot share out, and a wall of phones keeps every
    // core busy with their decode threads; the idle helpers only cost each stream stacks and buffers.
    context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
    context_->thread_type = FF_THREAD_SLICE;
    context_->thread_count = 1;
    if (configLength > 0) {
        context_->extradata = static_cast<uint8_t*>(av_mallocz(configLength + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!context_->extradata) return false;
        memcpy(context_->extradata, config, configLength);
        context_->extradata_size = configLength;
    }
    if (hardware && attachHardware()) context_->get_format = getFormat;
    int r = avcodec_open2(context_, codec, nullptr);
    if (r < 0 && hwDevice_) {
        // The hardware was there but the decoder would not open with it: try once more in software.
        avclog("mftavc: hardware decoder failed to open (%d), decoding in software", r);
        avcodec_free_context(&context_);
        av_buffer_unref(&hwDevice_);
        hwFormat_ = -1;
        return openCodec(config, configLength, width, height, false);
    }
    if (r < 0) {
        avclog("mftavc: open failed (%d), config %d bytes", r, configLength);
        return false;
    }
    avclog("mftavc: decoder open, %s, size %dx%d, config %d bytes",
           hwDevice_ ? av_hwdevice_get_type_name(static_cast<AVHWDeviceType>(
                           reinterpret_cast<AVHWDeviceContext*>(hwDevice_->data)->type))
                     : "software",
           width, height, configLength);
    return true;
}

bool MftavcDecoder::attachHardware() {
    // VA-API through a DRM render node only: it needs no display connection, and probing the other device
    // types (VDPAU, CUDA) loads vendor libraries that complain on stderr when the hardware is absent.
    std::string node;
    for (int i = 128; i < 136 && node.empty(); ++i) {
        const std::string candidate = "/dev/dri/renderD" + std::to_string(i);
        if (access(candidate.c_str(), R_OK | W_OK) == 0) node = candidate;
    }
    if (node.empty()) return false;
    for (int i = 0;; ++i) {
        const AVCodecHWConfig* hw = avcodec_get_hw_config(context_->codec, i);
        if (!hw) return false;
        if (hw->device_type != AV_HWDEVICE_TYPE_VAAPI ||
            !(hw->methods & AV_CODEC_HW_CONFIG_METHOD_HW_DEVICE_CTX)) {
            continue;
        }
        if (av_hwdevice_ctx_create(&hwDevice_, hw->device_type, node.c_str(), nullptr, 0) < 0) return false;
        context_->hw_device_ctx = av_buffer_ref(hwDevice_);
        if (!context_->hw_device_ctx) {
            av_buffer_unref(&hwDevice_);
            return false;
        }
        hwFormat_ = hw->pix_fmt;
        return true;
    }
}

MftavcDecoder::~MftavcDecoder() {
    sws_freeContext(scaler_);
    av_frame_free(&kept_);
    av_frame_free(&transferred_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    av_buffer_unref(&unit_);
    avcodec_free_context(&context_);
    av_buffer_unref(&hwDevice_);
}

int32_t MftavcDecoder::decode(const uint8_t* data, int32_t length, int32_t rotation, bool show) {
    if (!data || length <= 0) return -1;
    if (rotation >= 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        rotation_ = normalizeRotation(rotation);
    }
    if (!fillPacket(data, length)) return -1;
    int r = avcodec_send_packet(context_, packet_);
    av_packet_unref(packet_);
    if (r < 0) return -1;
    int32_t decoded = 0;
    for (;;) {
        r = avcodec_receive_frame(context_, frame_);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
        if (r < 0) return -1;
        // A picture that a newer one follows is never seen: it costs no conversion.
        if (!show) {
            keep(frame_);
            ++decoded;
        } else if (convertAndPresent(frame_)) {
            ++decoded;
        }
        av_frame_unref(frame_);
    }
    return decoded;
}

bool MftavcDecoder::fillPacket(const uint8_t* data, int32_t length) {
    if (length > INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE) return false;
    const size_t needed = static_cast<size_t>(length) + AV_INPUT_BUFFER_PADDING_SIZE;
    // The decoder may still hold the last unit (it is then not writable): it gets a new one.
    if (unit_ && (!av_buffer_is_writable(unit_) || unit_->size < needed || unit_->size > kKeptUnitBytes))
        av_buffer_unref(&unit_);
    if (!unit_) unit_ = av_buffer_alloc(needed);
    if (!unit_) return false;
    memcpy(unit_->data, data, length);
    // The bitstream reader may look past the end: what it finds there is zeros, never an older unit.
    memset(unit_->data + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    packet_->buf = av_buffer_ref(unit_);
    if (!packet_->buf) return false;
    packet_->data = unit_->data;
    packet_->size = length;
    return true;
}

void MftavcDecoder::keep(AVFrame* decoded) {
    // A hardware frame stays in the decoder's pool: the shown picture's memory copy is kept instead.
    if (decoded->format == hwFormat_ || !usable(decoded)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    av_frame_unref(kept_);
    av_frame_move_ref(kept_, decoded);
}

bool MftavcDecoder::convertAndPresent(AVFrame* decoded) {
    AVFrame* source = decoded;
    if (decoded->format == hwFormat_) {
        av_frame_unref(transferred_);
        if (av_hwframe_transfer_data(transferred_, decoded, 0) < 0) return false;
        source = transferred_;
    }
    if (!usable(source)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    av_frame_unref(kept_);
    av_frame_move_ref(kept_, source);
    return presentKept();
}

bool MftavcDecoder::presentKept() {
    const int32_t width = kept_->width, height = kept_->height;
    if (!kept_->data[0] || width < 1 || height < 1) return false;
    // Converted straight to the size the window shows (as it stands once turned), never beyond the
    // picture's own: the window then only stretches what a bigger window needs.
    int32_t outWidth = width, outHeight = height;
    if (shownWidth_ > 0 && shownHeight_ > 0) {
        const bool across = rotation_ == 90 || rotation_ == 270;
        outWidth = std::min(width, across ? shownHeight_ : shownWidth_);
        outHeight = std::min(height, across ? shownWidth_ : shownHeight_);
    }
    const auto format = static_cast<AVPixelFormat>(kept_->format);
    // A window a few times smaller than the picture shows one row in every few: libswscale is handed just
    // those rows (every k-th, through longer strides), since it reads every row it is given whatever the
    // output size. Only the 4:2:0 layouts the decoder hands out are known to allow it.
    const uint8_t* rows[4] = {kept_->data[0], kept_->data[1], kept_->data[2], kept_->data[3]};
    int strides[4] = {kept_->linesize[0], kept_->linesize[1], kept_->linesize[2], kept_->linesize[3]};
    int32_t step = 1;
    if (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_NV12)
        step = height / outHeight;
    for (int i = 0; i < 4 && step > 1; ++i)
        strides[i] *= step;
    const int32_t sourceHeight = height / step;
    const int32_t shape[5] = {width, sourceHeight, format, outWidth, outHeight};
    if (!scaler_ || !std::equal(shape, shape + 5, scalerShape_)) {
        sws_freeContext(scaler_);
        scaler_ = sws_getContext(width, sourceHeight, format, outWidth, outHeight, AV_PIX_FMT_BGR0, SWS_POINT,
                                 nullptr, nullptr, nullptr);
        if (!scaler_) return false;
        std::copy(shape, shape + 5, scalerShape_);
    }
    const bool turned = rotation_ != 0;
    std::shared_ptr<platform::Picture> picture =
        turned ? pictures_.take(outWidth, outHeight, platform::PixelFormat::Bgrx)
               : shownPicture(outWidth, outHeight);
    uint8_t* planes[4] = {picture->pixels.data(), nullptr, nullptr, nullptr};
    int outStrides[4] = {outWidth * 4, 0, 0, 0};
    {
        std::unique_lock<std::mutex> pixels;
        if (!turned) pixels = std::unique_lock(*picture->pixelsLock);
        if (sws_scale(scaler_, rows, strides, 0, sourceHeight, planes, outStrides) != outHeight) return false;
    }
    presentRotated(picture);
    return true;
}

const std::shared_ptr<platform::Picture>& MftavcDecoder::shownPicture(int32_t width, int32_t height) {
    if (!shown_ || shown_->width != width || shown_->height != height) {
        // A new one: the window may go on painting the old one until it is handed this.
        shown_ =
            platform::makeWrittenInPlace(width, height, platform::PixelFormat::Bgrx, PicturePool::kSlack);
    }
    return shown_;
}

void MftavcDecoder::presentRotated(const std::shared_ptr<platform::Picture>& picture) {
    if (!window_) return;
    if (rotation_ == 0) {
        window_->present(picture);
        return;
    }
    int32_t width = 0, height = 0;
    rotatedSize(rotation_, picture->width, picture->height, &width, &height);
    const std::shared_ptr<platform::Picture>& turned = shownPicture(width, height);
    {
        std::lock_guard<std::mutex> pixels(*turned->pixelsLock);
        rotatePixels(picture->pixels.data(), picture->width, picture->height, picture->width * 4, rotation_,
                     turned->pixels.data());
    }
    window_->present(turned);
}

void MftavcDecoder::windowChanged(int32_t width, int32_t height, int32_t rotation, bool repaint) {
    std::lock_guard<std::mutex> lock(mutex_);
    rotation_ = normalizeRotation(rotation);
    if (width > 0 && height > 0 && width <= kMaxEdge && height <= kMaxEdge) {
        shownWidth_ = width;
        shownHeight_ = height;
    }
    if (repaint) presentKept();
}
