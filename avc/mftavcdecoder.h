// One H.264 decoder of the library: FFmpeg decoding (hardware when offered), conversion to the window's
// pixel format with libswscale, rotation, and presentation into a platform::Window.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "avc/picturepool.h"
#include "platform/window.h"

struct AVBufferRef;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

class MftavcDecoder {
public:
    // Null when the decoder cannot be opened (see mftavc_decoder_init).
    static MftavcDecoder* open(const uint8_t* config, int32_t configLength, int32_t width, int32_t height,
                               bool hardware, platform::Window* window);
    ~MftavcDecoder();
    MftavcDecoder(const MftavcDecoder&) = delete;
    MftavcDecoder& operator=(const MftavcDecoder&) = delete;

    // Decode thread. Pictures presented, or -1 when the data was rejected.
    int32_t decode(const uint8_t* data, int32_t length, int32_t rotation);
    // Any thread: later pictures are turned by rotation; repaint presents the newest one again at once.
    void setRotation(int32_t rotation, bool repaint);

    bool usesHardware() const { return hwDevice_ != nullptr; }
    int hardwareFormat() const { return hwFormat_; }

private:
    explicit MftavcDecoder(platform::Window* window) : window_(window) {}
    bool openCodec(const uint8_t* config, int32_t configLength, int32_t width, int32_t height, bool hardware);
    bool attachHardware();
    // Converts the decoded frame into a new unrotated picture and presents it; false when it is unusable.
    bool convertAndPresent(AVFrame* decoded);
    // Presents picture turned by rotation_; caller holds mutex_.
    void presentRotated(const std::shared_ptr<platform::Picture>& picture);

    platform::Window* const window_;
    AVCodecContext* context_ = nullptr;
    AVBufferRef* hwDevice_ = nullptr;
    int hwFormat_ = -1;  // pixel format of hardware frames (read by the get_format callback); -1 for none
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVFrame* transferred_ = nullptr;  // hardware frames downloaded to memory
    SwsContext* scaler_ = nullptr;

    std::mutex mutex_;  // guards the fields below: decode and window changes come from different threads
    int32_t rotation_ = 0;
    std::shared_ptr<platform::Picture> latest_;  // newest picture, unrotated
    PicturePool pictures_;
};
