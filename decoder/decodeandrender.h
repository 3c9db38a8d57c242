// The per-device stage between the stream receiver and the window: owns the decoder and the picture
// buffer, tells the window about itself, and paints ZRC pictures into it (H.264 pictures are presented by
// the avc library itself). Every frame is decoded; only the newest is rendered and shown, at the smallest
// scale that still covers the window.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/window.h"

class VedioDecoder;
class ZRCDecoder;

// Describes the picture buffer: 32 bits per pixel, rows top to bottom (negative height), no compression.
struct BitmapInfoHeader {
    uint32_t biSize = 0;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 0;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

class DecodeAndRender {
public:
    DecodeAndRender() = default;
    ~DecodeAndRender();
    DecodeAndRender(const DecodeAndRender&) = delete;
    DecodeAndRender& operator=(const DecodeAndRender&) = delete;

    // Render thread, before the stream is read.
    void setHwnd(platform::Window* hwnd) { this->hwnd = hwnd; }

    // Set-up for an H.264 stream: 0; -1 without a window; -2 when the library gave no decoder; -3 when the
    // size cannot have a picture buffer (made with the first frame).
    int32_t initAVCDecRender(const uint8_t* config, int32_t configLength, int32_t width, int32_t height,
                             int32_t hardwareFlag, int32_t displayWidth, int32_t displayHeight);
    // Set-up for a ZRC stream: 0; the decoder's result (-100) when it could not be made; -2 when the size
    // cannot have a picture buffer (made with the first frame).
    int32_t initDecRender(uint8_t encoderType, uint8_t reserved, int32_t width, int32_t height);

    // Decode thread: one frame's payload. newest: no later frame waits behind it, so it is shown; a frame
    // that is not the newest is decoded only. 0 when handled or dropped; -4 when the decoder failed (or the
    // picture buffer could not be made), after which the renderer is stopped and drops every later frame.
    int32_t decodeRecvVideo(uint8_t frameFlag, uint8_t encoderType, const uint8_t* data, int32_t reserved,
                            int32_t length, bool newest = true);
    // Window thread: the WM_SET_RENDERER notice was taken out of the queue; the next frame may post another.
    void noticeTaken();
    // Frees the picture buffer and the decoder. Returns 0.
    int32_t stop();
    // Window or control thread: a window change for the H.264 decoder; for a ZRC stream the new size.
    void forwardWinMessage(int32_t a, int32_t b, int32_t width, int32_t height, int32_t angle, int32_t flag);
    // Window or control thread: the window now shows width x height pixels (a resize, maximise or restore).
    // A ZRC picture kept at a smaller scale than that is rendered again at once from the decoder's state
    // and shown (a still screen sends no frame that would do it); an H.264 picture is shown again.
    void windowSized(int32_t width, int32_t height);

    void setBitmapHeader(int32_t width, int32_t height);
    // Asks hwnd (when not null) to show the picture buffer again: paints it.
    void invalidate(platform::Window* hwnd);
    // Hands the picture buffer to the window, which draws it stretched to its client area and repaints what
    // changed since the last paint. Returns 0.
    int32_t paint();

    const BitmapInfoHeader& bitmapHeader() const { return bitmapInfo; }

private:
    int32_t initRenderAndDecoder(uint8_t encoderType, uint8_t reserved);
    // Releases and destroys the decoder; caller holds decoderMutex.
    void replaceDecoder();
    // Whether width x height can be a picture (1 to 4096 each).
    bool sizeValid() const;
    // Allocates a picture buffer for the stream at the given scale; false when it cannot (or the size is
    // absurd). Caller holds decoderMutex.
    bool allocatePicture(int32_t shift);
    // Frees the picture buffer (the window may go on showing a ZRC one). Caller holds decoderMutex.
    void freePicture();
    // ZRC: brings the scale in line with the shown size before a render, making a picture buffer of the
    // new size; false when it cannot. Caller holds decoderMutex.
    bool fitScale(ZRCDecoder* zrc);
    // Renders what the ZRC decoder has decoded since its last render into the picture, holding the picture's
    // pixelsLock; the decoder's render result. Caller holds decoderMutex.
    int32_t renderShown(ZRCDecoder* zrc);
    // Adds the area the last render wrote to what the next paint shows. Caller holds decoderMutex.
    void addRendered(const platform::Rect& area);
    // Re-renders a picture that no longer covers the shown size; true when there is one to paint. Caller
    // holds decoderMutex.
    bool growLocked();
    void setBitmapHeaderLocked(int32_t width, int32_t height);
    // Posts WM_SET_RENDERER with this renderer to the window.
    void announce();

    int32_t width = 0, height = 0;
    platform::Window* hwnd = nullptr;  // set before the decode thread starts, read-only afterwards
    // The window's size as last told, 0 x 0 before: what the ZRC scale is chosen for. Guarded by
    // decoderMutex.
    int32_t shownWidth = 0, shownHeight = 0;
    int32_t pictureWidth = 0, pictureHeight = 0;  // guarded by decoderMutex; picture's size at its scale
    int32_t pictureShift = 0;                     // guarded by decoderMutex; the scale picture was made for
    platform::Rect changed;  // guarded by decoderMutex; what the renders since the last paint wrote
    uint8_t hardware = 1;
    std::mutex decoderMutex;
    VedioDecoder* decoder = nullptr;  // guarded by decoderMutex, as is every call through it
    // Guarded by decoderMutex: the picture buffer, pictureWidth x pictureHeight x 4 bytes. H.264: a buffer
    // the library is handed and does not use. ZRC: the pixels of `shown`.
    uint8_t* picture = nullptr;
    // Guarded by decoderMutex (the pointer): a ZRC stream's picture, rendered into in place and presented
    // again after each render, so that the window reads the one buffer there is; its pixels are written
    // only with its pixelsLock held.
    std::shared_ptr<platform::Picture> shown;
    BitmapInfoHeader bitmapInfo;  // guarded by decoderMutex
    std::atomic<bool> noticePending_ =
        false;  // a WM_SET_RENDERER of this renderer waits in the window's queue
};
