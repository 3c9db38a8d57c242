#include "decoder/avcdecoder.h"

#include "avc/mftavc.h"
#include "control/log.h"
#include "platform/paths.h"
#include "platform/window.h"

namespace {

int windowNumber(platform::Window* hwnd) {
#ifdef _WIN32
    return hwnd ? static_cast<int>(hwnd->nativeId()) : 0;
#else
    return static_cast<int>(reinterpret_cast<intptr_t>(hwnd));
#endif
}

// The library learns the window from a two-word descriptor: on Windows the window handle (32 bits, as
// Windows keeps them), elsewhere the window itself.
MftavcWindow describe(platform::Window* hwnd) {
#ifdef _WIN32
    return MftavcWindow{static_cast<uint32_t>(hwnd->nativeId()), 0};
#else
    return MftavcWindow{hwnd, 0};
#endif
}

using DecodeOnly = int32_t (*)(MftavcDecoder*, const uint8_t*, int32_t);

// mftavc_decode_only of the library in use, or null when it has none (a library with the older set of
// functions).
DecodeOnly lookUpDecodeOnly() {
#ifdef _WIN32
    HMODULE library = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&mftavc_decode), &library)) {
        return nullptr;
    }
    // Through void (*)(): the one function pointer type any other converts to without a warning.
    return reinterpret_cast<DecodeOnly>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "mftavc_decode_only")));
#else
    return &mftavc_decode_only;
#endif
}

DecodeOnly decodeOnly() {
    static const DecodeOnly found = lookUpDecodeOnly();
    return found;
}

}  // namespace

int32_t AVCDecoder::open(const char* tag, const uint8_t* config, int32_t configLength, int32_t width,
                         int32_t height, platform::Window* hwnd, int32_t displayWidth,
                         int32_t displayHeight) {
    const MftavcWindow descriptor = hwnd ? describe(hwnd) : MftavcWindow{};
    // The hardware argument is always 1: the library falls back to software by itself.
    handle = mftavc_decoder_init(config, configLength, width, height, 1, hwnd ? &descriptor : nullptr,
                                 displayWidth, displayHeight);
    if (!handle) {
        log_write(LOG_USER_ERROR, "%s init dxva decoder failed", tag);
        status = -7;
    } else if (!decodeOnly()) {
        log_write(LOG_USER_INFO, "%s the H.264 library has no mftavc_decode_only: every picture is shown",
                  tag);
    }
    return status;
}

int32_t AVCDecoder::initialAVC(const uint8_t* config, int32_t configLength, int32_t width, int32_t height,
                               int32_t, platform::Window* hwnd, int32_t displayWidth, int32_t displayHeight) {
    mftavc_set_logpath(platform::avcLogFolder());
    status = 0;
    this->width = width;
    this->height = height;
    log_write(LOG_USER_INFO, "%s init dxva decoder before hnwd = %d", "AVCDecoder::initialAVC",
              windowNumber(hwnd));
    return open("AVCDecoder::initialAVC", config, configLength, width, height, hwnd, displayWidth,
                displayHeight);
}

int32_t AVCDecoder::initial(int32_t width, int32_t height) {
    this->width = width;
    this->height = height;
    return open("AVCDecoder::initial", nullptr, 0, 0, 0, nullptr, 0, 0);
}

int32_t AVCDecoder::decodeRecvVideo(uint8_t, const uint8_t* data, int32_t length, uint8_t* picture) {
    // The library's own result is not used: a damaged access unit is skipped and the stream goes on.
    mftavc_decode(handle, picture, data, length, 0, 0, 0, 0, rotation, 0);
    return status;
}

int32_t AVCDecoder::decodeWithoutShowing(uint8_t frameFlag, const uint8_t* data, int32_t length,
                                         uint8_t* picture) {
    if (const DecodeOnly only = decodeOnly()) {
        if (handle) only(handle, data, length);
        return status;
    }
    return decodeRecvVideo(frameFlag, data, length, picture);
}

int32_t AVCDecoder::release() {
    if (handle) {
        mftavc_decoder_release(handle);
        handle = nullptr;
        log_write(LOG_USER_INFO, "release dxva decoder");
    }
    return 0;
}

void AVCDecoder::decodeWinMessage(int32_t a, int32_t b, int32_t width, int32_t height, int32_t angle,
                                  int32_t flag) {
    rotation = angle;
    mftavc_decode_winmessage(handle, a, b, width, height, rotation, flag);
}
