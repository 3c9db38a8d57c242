#include "avc/mftavc.h"

extern "C" {
#include <libavutil/log.h>
}

#include "avc/avclog.h"
#include "avc/mftavcdecoder.h"

void mftavc_set_logpath(const char* folder) {
    avclogSetFolder(folder);
}

MftavcDecoder* mftavc_decoder_init(const uint8_t* config, int32_t configLength, int32_t width, int32_t height,
                                   int32_t hardware, const MftavcWindow* window, int32_t displayWidth,
                                   int32_t displayHeight) {
    // libavcodec reports every damaged slice on stderr; the library's callers see results, not chatter.
    av_log_set_level(AV_LOG_QUIET);
    MftavcDecoder* decoder = MftavcDecoder::open(config, configLength, width, height, hardware == 1,
                                                 window ? window->window : nullptr);
    if (decoder) decoder->windowChanged(displayWidth, displayHeight, 0, false);
    return decoder;
}

int32_t mftavc_decode(MftavcDecoder* decoder, uint8_t*, const uint8_t* data, int32_t length, int32_t, int32_t,
                      int32_t, int32_t, int32_t rotation, int32_t) {
    return decoder ? decoder->decode(data, length, rotation, true) : -1;
}

int32_t mftavc_decode_only(MftavcDecoder* decoder, const uint8_t* data, int32_t length) {
    return decoder ? decoder->decode(data, length, -1, false) : -1;
}

void mftavc_decode_winmessage(MftavcDecoder* decoder, int32_t, int32_t, int32_t width, int32_t height,
                              int32_t rotation, int32_t flag) {
    if (decoder) decoder->windowChanged(width, height, rotation, flag == 1);
}

void mftavc_decoder_release(MftavcDecoder* decoder) {
    delete decoder;
}
