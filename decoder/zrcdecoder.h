// ZRC streams through the codec library, which rewrites the changed blocks of the picture buffer, at full
// size or at 1/2, 1/4 or 1/8 of it.
#pragma once

#include "decoder/vediodecoder.h"
#include "platform/window.h"

struct ZrcHandle;

class ZRCDecoder : public VedioDecoder {
public:
    ~ZRCDecoder() override { release(); }

    // Stores the picture size (each frame must match it) and makes the codec handle; -100 when it cannot.
    int32_t initial(int32_t width, int32_t height) override;
    // Decodes one ZRC frame and renders every block changed since the last render into picture (the
    // picture at the current scale, pixels of bytes R, G, B, 255). 1 when the picture changed; 0 when
    // nothing was waiting (the codec dropped the frame for a gap in its ids and said so; the picture
    // recovers at the next absolute frame); -3 on an error, after which the handle is released.
    int32_t decodeRecvVideo(uint8_t frameFlag, const uint8_t* data, int32_t length,
                            uint8_t* picture) override;
    // Decodes the frame's coefficients only; its blocks are rendered by a later render. 0, or -3 as above.
    int32_t decodeWithoutShowing(uint8_t frameFlag, const uint8_t* data, int32_t length, uint8_t*) override;
    int32_t release() override;
    // Only a frame of the stream's size needs the picture buffer.
    bool accepts(const uint8_t* data, int32_t length) const override {
        return frameFits(data, length, width, height);
    }

    // Renders what changed since the last render (everything after a change of scale) into picture: 1
    // when it wrote, 0 when nothing waited or no frame set the picture up yet, -3 on an error (the handle
    // is released).
    int32_t render(uint8_t* picture);
    // Output scale: the picture is ((width + 2^shift - 1) >> shift) x ((height + ...) >> shift). 0, or -3
    // (the handle is released).
    int32_t setScale(int32_t shift);
    int32_t scale() const { return shift; }
    // Where the last render wrote, in pixels of the scaled picture; empty when it wrote nothing.
    platform::Rect renderedArea() const;

    // The largest shift 0..3 whose picture still covers shownWidth x shownHeight in both directions.
    static int32_t scaleFor(int32_t width, int32_t height, int32_t shownWidth, int32_t shownHeight);
    static int32_t scaled(int32_t edge, int32_t shift) { return (edge + (1 << shift) - 1) >> shift; }

    // True when data holds a whole frame (header and the payload it announces) of exactly width x height,
    // so the codec reads and writes only inside the buffers it is given.
    static bool frameFits(const uint8_t* data, int32_t length, int32_t width, int32_t height);

private:
    // Logs a codec failure under tag and releases the handle; returns -3.
    int32_t fail(const char* tag);

    int32_t result = 0;
    ZrcHandle* handle = nullptr;
    int32_t width = 0, height = 0;
    int32_t shift = 0;
    bool configured = false;  // a frame was decoded: the codec has a picture to render
};
