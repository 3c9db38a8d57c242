// ZRC streams through the codec library, which rewrites the changed blocks of the picture buffer.
#pragma once

#include "decoder/vediodecoder.h"

struct ZrcHandle;

class ZRCDecoder : public VedioDecoder {
public:
    ~ZRCDecoder() override { release(); }

    // Stores the picture size (each frame must match it) and makes the codec handle; -100 when it cannot.
    int32_t initial(int32_t width, int32_t height) override;
    // Decodes one ZRC frame into picture (width x height pixels of bytes R, G, B, 255). 1 when the picture
    // changed; 0 when the codec dropped the frame for a gap in its ids (the picture recovers at the next
    // absolute frame); -3 on an error, after which the handle is released.
    int32_t decodeRecvVideo(uint8_t frameFlag, const uint8_t* data, int32_t length,
                            uint8_t* picture) override;
    int32_t release() override;
    // Only a frame of the stream's size needs the picture buffer.
    bool accepts(const uint8_t* data, int32_t length) const override {
        return frameFits(data, length, width, height);
    }

    // True when data holds a whole frame (header and the payload it announces) of exactly width x height,
    // so the codec reads and writes only inside the buffers it is given.
    static bool frameFits(const uint8_t* data, int32_t length, int32_t width, int32_t height);

private:
    int32_t result = 0;
    ZrcHandle* handle = nullptr;
    int32_t width = 0, height = 0;
};
