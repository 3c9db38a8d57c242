// The one interface the renderer decodes through, one implementation per stream kind.
#pragma once

#include <cstdint>

class VedioDecoder {
public:
    virtual ~VedioDecoder() = default;

    // Decodes one frame. Negative: error (the renderer stops); 0: frame handled; positive: frame handled and
    // the picture buffer is to be painted.
    virtual int32_t decodeRecvVideo(uint8_t, const uint8_t*, int32_t, uint8_t*) { return 0; }
    virtual int32_t initial(int32_t, int32_t) { return 0; }
    // Frees the library handle; the renderer calls it before destroying a decoder.
    virtual int32_t release() { return 0; }
};
