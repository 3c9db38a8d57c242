#include "decoder/zrcdecoder.h"

#include "codec/frameheader.h"
#include "codec/include/zrc.h"
#include "control/log.h"

int32_t ZRCDecoder::initial(int32_t width, int32_t height) {
    this->width = width;
    this->height = height;
    shift = 0;
    configured = false;
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

int32_t ZRCDecoder::scaleFor(int32_t width, int32_t height, int32_t shownWidth, int32_t shownHeight) {
    int32_t best = 0;
    for (int32_t s = 1; s <= 3; ++s) {
        if (scaled(width, s) >= shownWidth && scaled(height, s) >= shownHeight) best = s;
    }
    return best;
}

int32_t ZRCDecoder::fail(const char* tag) {
    log_write(LOG_USER_ERROR, "[%p] %s ZRC decode failed %d", static_cast<void*>(this), tag, result);
    release();
    return -3;
}

int32_t ZRCDecoder::decodeWithoutShowing(uint8_t, const uint8_t* data, int32_t length, uint8_t*) {
    if (!handle) return -3;
    // A frame cut short or of another size would make the codec read past the payload; it counts as a
    // header the codec refused.
    result = frameFits(data, length, width, height) ? zrc_decode_coefficients(handle, data) : -2;
    if (result > 0) configured = true;
    // 0: the codec dropped the frame for a gap in the sequence and said so in its own log; not a failure.
    return result >= 0 ? 0 : fail("ZRCDecoder::decodeRecvVideo");
}

int32_t ZRCDecoder::decodeRecvVideo(uint8_t frameFlag, const uint8_t* data, int32_t length,
                                    uint8_t* picture) {
    if (decodeWithoutShowing(frameFlag, data, length, picture) < 0) return -3;
    return render(picture);
}

int32_t ZRCDecoder::render(uint8_t* picture) {
    if (!handle) return -3;
    if (!configured || !picture) return 0;
    result = zrc_render(handle, picture);
    if (result < 0) return fail("ZRCDecoder::render");
    return result > 0 ? 1 : 0;
}

int32_t ZRCDecoder::setScale(int32_t shift) {
    if (!handle) return -3;
    if (shift == this->shift) return 0;
    result = zrc_set_decode_scale(handle, shift);
    if (result != 0) return fail("ZRCDecoder::setScale");
    this->shift = shift;
    return 0;
}

platform::Rect ZRCDecoder::renderedArea() const {
    platform::Rect area;
    if (!handle || zrc_rendered_area(handle, &area.x, &area.y, &area.width, &area.height) != 0) return {};
    return area;
}

int32_t ZRCDecoder::release() {
    if (handle) {
        zrc_release(handle);
        handle = nullptr;
    }
    return 0;
}
