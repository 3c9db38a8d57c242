#include "decoder/zrcdecoder.h"

#include "codec/frameheader.h"
#include "codec/include/zrc.h"
#include "control/log.h"

int32_t ZRCDecoder::initial(int32_t width, int32_t height) {
    this->width = width;
    this->height = height;
    handle = zrc_create();
    if (!handle) {
        log_write(LOG_USER_ERROR, "[%p] %s create zrc decoder failed", static_cast<void*>(this),
                  "ZRCDecoder::initial");
        return -100;
    }
    return 0;
}

bool ZRCDecoder::frameFits(const uint8_t* data, int32_t length, int32_t width, int32_t height) {
    if (!data || length < ZRC_HEADER_SIZE) return false;
    const ZrcFrameHeader header = zrc::restoreHeader(data);
    return header.pack_length <= static_cast<uint32_t>(length - ZRC_HEADER_SIZE) && header.width == width &&
           header.height == height;
}

int32_t ZRCDecoder::decodeRecvVideo(uint8_t, const uint8_t* data, int32_t length, uint8_t* picture) {
    if (!handle) return -3;
    // A frame cut short or of another size would make the codec read past the payload or write past the
    // picture; it counts as a header the codec refused.
    result = frameFits(data, length, width, height) ? zrc_decompress(handle, data, picture, nullptr) : -2;
    if (result > 0) return 1;
    // 0: the codec dropped the frame for a gap in the sequence and said so in its own log; not a failure.
    if (result == 0) return 0;
    log_write(LOG_USER_ERROR, "[%p] %s ZRC decode failed %d", static_cast<void*>(this),
              "ZRCDecoder::decodeRecvVideo", result);
    release();
    return -3;
}

int32_t ZRCDecoder::release() {
    if (handle) {
        zrc_release(handle);
        handle = nullptr;
    }
    return 0;
}
