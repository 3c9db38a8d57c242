// One H.264 decoder of mftavcdecoder.dll: Media Foundation decoding, conversion to 4-byte pixels, rotation,
// and presentation into the window it was given, drawn with GDI straight onto the window's client area.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "avc/h264transform.h"
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
    // Any thread: the window changed size or later pictures are turned by rotation; repaint converts the
    // newest picture again at the window's size as it now stands and presents it at once.
    void windowChanged(int32_t rotation, bool repaint);

    // Bytes of picture memory the decoder holds between pictures: the newest decoded picture and the
    // picture converted for the window.
    size_t pictureBytes();

private:
    MfDecoder(std::unique_ptr<H264Transform> transform, HWND window)
        : transform_(std::move(transform)), window_(window) {}
    // Keeps one decoded picture as the newest and presents it.
    void take(const Yuv420View& decoded);
    // Converts the newest picture at the window's size, turned by rotation_, and draws it; nothing while the
    // window shows no area (minimised). Caller holds mutex_.
    void presentKept();

    // The newest decoded picture, copied out of the transform's buffer (which goes back to the transform) as
    // planar 4:2:0 rows without padding.
    struct Yuv420Copy {
        std::vector<uint8_t> planes;
        int32_t width = 0, height = 0;
        // False (nothing kept) when there is no memory for it.
        bool assign(const Yuv420View& picture);
        Yuv420View view() const;

    private:
        // Where the planes lie in `planes`: Y, then U, then V, rows packed.
        struct Layout {
            size_t lumaBytes;
            int32_t chromaWidth, chromaHeight;
            size_t chromaBytes;
        };
        static Layout layout(int32_t width, int32_t height);
    };

    std::unique_ptr<H264Transform> transform_;  // decode thread only
    std::vector<uint8_t> config_;               // decode thread only: sent in front of the first unit
    const HWND window_;

    // Guards the fields below. Decode and window changes come from different threads, and the pictures are
    // written in place and read by GDI's paint only under it (the window's own WM_PAINT never reads them: it
    // has no picture of its own for an H.264 stream), so no paint sees a half-written picture.
    std::mutex mutex_;
    int32_t rotation_ = 0;
    Yuv420Copy kept_;
    // The picture drawn into the window, converted turned by rotation_: written again in place while its size
    // holds.
    platform::Picture shown_;
};
