// The exports of mftavcdecoder.dll.
#include <objbase.h>

#include "avc/avclog.h"
#include "avc/mfdecoder.h"
#include "avc/mftavc.h"

namespace {

// Media Foundation needs COM on every thread that calls into it. Each calling thread joins the
// multithreaded apartment once and leaves it when it ends; a thread already in another apartment keeps it
// (the decoder transform takes calls from any apartment).
class ComThread {
public:
    ComThread() : joined_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
    ~ComThread() {
        if (joined_) CoUninitialize();
    }

private:
    const bool joined_;
};

void enterCom() {
    thread_local ComThread com;
}

}  // namespace

void mftavc_set_logpath(const char* folder) {
    avclogSetFolder(folder);
}

MftavcDecoder* mftavc_decoder_init(const uint8_t* config, int32_t configLength, int32_t width, int32_t height,
                                   int32_t hardware, const MftavcWindow* window, int32_t, int32_t) {
    enterCom();
    // Window handles are 32-bit values sign-extended to pointers.
    const HWND hwnd =
        window ? reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(window->window)))
               : nullptr;
    return MfDecoder::open(config, configLength, width, height, hardware == 1, hwnd);
}

int32_t mftavc_decode(MftavcDecoder* decoder, uint8_t*, const uint8_t* data, int32_t length, int32_t, int32_t,
                      int32_t, int32_t, int32_t rotation, int32_t) {
    if (!decoder) return -1;
    enterCom();
    return decoder->decode(data, length, rotation, true);
}

int32_t mftavc_decode_only(MftavcDecoder* decoder, const uint8_t* data, int32_t length) {
    if (!decoder) return -1;
    enterCom();
    return decoder->decode(data, length, -1, false);
}

void mftavc_decode_winmessage(MftavcDecoder* decoder, int32_t, int32_t, int32_t, int32_t, int32_t rotation,
                              int32_t flag) {
    // The size is not taken from here: each conversion reads the window's client area, the area it paints.
    if (decoder) decoder->windowChanged(rotation, flag == 1);
}

void mftavc_decoder_release(MftavcDecoder* decoder) {
    if (!decoder) return;
    enterCom();
    delete decoder;
}
