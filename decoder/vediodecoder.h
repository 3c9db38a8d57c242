// What the renderer decodes through, one implementation per stream kind. Window changes (size, turn) are not
// part of it: the renderer passes them to the H.264 decoder alone.
#pragma once

#include <cstdint>

class VedioDecoder {
public:
    virtual ~VedioDecoder() = default;

    // Decodes one frame. Negative: error (the renderer stops); 0: frame handled; positive: frame handled and
    // the picture buffer is to be painted.
    virtual int32_t decodeRecvVideo(uint8_t, const uint8_t*, int32_t, uint8_t*) { return 0; }
    // Decodes one frame that a newer one already follows: the decoder's state moves on, nothing is converted
    // or shown. Negative: error (the renderer stops); else 0.
    virtual int32_t decodeWithoutShowing(uint8_t, const uint8_t*, int32_t, uint8_t*) { return 0; }
    virtual int32_t initial(int32_t, int32_t) { return 0; }
    // Whether the frame can be decoded into a picture of the stream's size: the picture buffer is made for
    // the first frame that can.
    virtual bool accepts(const uint8_t*, int32_t) const { return true; }
    // Frees the library handle; the renderer calls it before destroying a decoder.
    virtual int32_t release() { return 0; }
};
