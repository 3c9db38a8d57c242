// One H.264 decoder of mftavcdecoder.dll: Media Foundation decoding, conversion to 4-byte pixels, rotation,
// and presentation into the window it was given, drawn with GDI straight onto the window's client area.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "avc/h264transform.h"
#include "avc/picturepool.h"
#include "platform/window.h"

class MfDecoder {
public:
    // Null when no decoder transform could be set up (see mftavc_decoder_init).
    static MfDecoder* open(const uint8_t* config, int32_t configLength, int32_t width, int32_t height,
                           bool hardware, HWND window);
    MfDecoder(const MfDecoder&) = delete;
    MfDecoder& operator=(const MfDecoder&) = delete;

    // Decode thread. show: the pictures are converted and presented, turned by rotation (a negative rotation
    // keeps the one set before); else they are only decoded. Pictures decoded, or -1 when the data was
    // rejected.
    int32_t decode(const uint8_t* data, int32_t length, int32_t rotation, bool show);
    // Any thread: later pictures are turned by rotation; repaint presents the newest one again at once.
    void setRotation(int32_t rotation, bool repaint);

private:
    MfDecoder(std::unique_ptr<H264Transform> transform, HWND window)
        : transform_(std::move(transform)), window_(window) {}
    // Converts one decoded picture, keeps it as the newest and presents it.
    void take(const Yuv420View& decoded);
    // Draws picture turned by rotation_ into the window; caller holds mutex_.
    void presentRotated(const platform::Picture& picture);

    std::unique_ptr<H264Transform> transform_;  // decode thread only
    std::vector<uint8_t> config_;               // decode thread only: sent in front of the first unit
    const HWND window_;

    std::mutex mutex_;  // guards the fields below: decode and window changes come from different threads
    int32_t rotation_ = 0;
    std::shared_ptr<platform::Picture> latest_;  // newest picture, unrotated
    PicturePool pictures_;
};
