// One H.264 decoder of the library: FFmpeg decoding (hardware when offered), conversion to the window's
// pixel format and size with libswscale, rotation, and presentation into a platform::Window.
#pragma once

#include <cstddef>
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

    // Decode thread. show: the pictures are converted and presented, turned by rotation (a negative
    // rotation keeps the one set before); else they are only decoded. Pictures decoded, or -1 when the
    // data was rejected.
    int32_t decode(const uint8_t* data, int32_t length, int32_t rotation, bool show);
    // Any thread: later pictures are converted to width x height (when both are above 0) and turned by
    // rotation; repaint presents the newest one again at once with them.
    void windowChanged(int32_t width, int32_t height, int32_t rotation, bool repaint);

    bool usesHardware() const { return hwDevice_ != nullptr; }
    int hardwareFormat() const { return hwFormat_; }

private:
    explicit MftavcDecoder(platform::Window* window) : window_(window) {}
    bool openCodec(const uint8_t* config, int32_t configLength, int32_t width, int32_t height, bool hardware);
    bool attachHardware();
    // Puts data into packet_, in unit_ when it can be used again; false when no memory.
    bool fillPacket(const uint8_t* data, int32_t length);
    // Keeps the decoded frame (taken from decoded) as the newest and presents it; false when it is unusable.
    bool convertAndPresent(AVFrame* decoded);
    // Keeps the decoded frame (taken from decoded) as the newest without converting it.
    void keep(AVFrame* decoded);
    // Converts the kept frame at the shown size and presents it turned; caller holds mutex_.
    bool presentKept();
    // Presents picture turned by rotation_; caller holds mutex_.
    void presentRotated(const std::shared_ptr<platform::Picture>& picture);
    // shown_, made again when it is not width x height; caller holds mutex_.
    const std::shared_ptr<platform::Picture>& shownPicture(int32_t width, int32_t height);

    platform::Window* const window_;
    AVCodecContext* context_ = nullptr;
    AVBufferRef* hwDevice_ = nullptr;
    int hwFormat_ = -1;  // pixel format of hardware frames (read by the get_format callback); -1 for none
    AVPacket* packet_ = nullptr;
    // Holds the access unit handed to the decoder, reused for the next one once the decoder let go of it:
    // a unit of a few kilobytes then costs a copy, not an aligned allocation and its free. One that grew
    // beyond kKeptUnitBytes is let go after its unit.
    AVBufferRef* unit_ = nullptr;
    static constexpr size_t kKeptUnitBytes = 1 << 20;
    AVFrame* frame_ = nullptr;
    AVFrame* transferred_ = nullptr;  // hardware frames downloaded to memory

    std::mutex mutex_;  // guards the fields below: decode and window changes come from different threads
    int32_t rotation_ = 0;
    int32_t shownWidth_ = 0, shownHeight_ = 0;  // the window's size; 0 when unknown
    // The newest decoded picture, shown or not, converted again on a resize. Always the one the decoder
    // refers to next (or keeps for concealment) anyway, so it pins no frame of its own; an older shown
    // picture kept across decode-only ones pinned a third frame.
    AVFrame* kept_ = nullptr;
    SwsContext* scaler_ = nullptr;
    // What scaler_ was made for: source width, rows handed in, source format, output width and height.
    // sws_getCachedContext cannot tell: it compares with the formats the context keeps after its own
    // adjustments (a BGR0 output is kept as BGRA), so it made a new context, with its filters and tables,
    // for every picture shown.
    int32_t scalerShape_[5] = {};
    // The picture presented to the window, written again in place for every picture shown (under its
    // pixelsLock, which the window's paints hold a band at a time): one buffer instead of a copy per present.
    std::shared_ptr<platform::Picture> shown_;
    PicturePool pictures_;  // a picture converted before it is turned
};
