// The mftavc_* functions of a Windows build that has no H.264 decoder yet: no decoder ever opens, so the
// client logs the failure and ends the stream instead of showing nothing.
#include "avc/avclog.h"
#include "avc/mftavc.h"

void mftavc_set_logpath(const char* folder) {
    avclogSetFolder(folder);
}

MftavcDecoder* mftavc_decoder_init(const uint8_t*, int32_t, int32_t width, int32_t height, int32_t,
                                   const MftavcWindow*, int32_t, int32_t) {
    avclog("mftavc_decoder_init %dx%d: no H.264 decoder in this build", width, height);
    return nullptr;
}

int32_t mftavc_decode(MftavcDecoder*, uint8_t*, const uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t,
                      int32_t, int32_t) {
    return -1;
}

void mftavc_decode_winmessage(MftavcDecoder*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) {}

void mftavc_decoder_release(MftavcDecoder*) {}
