#include "decoder/decodeandrender.h"

#include <cstdlib>
#include <cstring>

#include "control/log.h"
#include "decoder/avcdecoder.h"
#include "decoder/zrcdecoder.h"
#include "platform/window.h"

namespace {

constexpr const char* kSource = "decoder/decodeandrender";
// The largest picture any stream may announce (the ZRC codec's own limit).
constexpr int32_t kMaxEdge = 4096;

int windowNumber(platform::Window* hwnd) {
    return static_cast<int>(reinterpret_cast<intptr_t>(hwnd));
}

}  // namespace

DecodeAndRender::~DecodeAndRender() {
    log_write(LOG_USER_INFO, "%s:%u", kSource, __LINE__);
    stop();
}

void DecodeAndRender::replaceDecoder() {
    if (!decoder) return;
    decoder->release();
    delete decoder;
    decoder = nullptr;
}

bool DecodeAndRender::sizeValid() const {
    return width >= 1 && height >= 1 && width <= kMaxEdge && height <= kMaxEdge;
}

bool DecodeAndRender::allocatePicture() {
    free(picture);
    picture = nullptr;
    if (!sizeValid()) return false;
    // Zeroed, so that whatever is painted before the first whole picture arrives is black.
    picture = static_cast<uint8_t*>(calloc(static_cast<size_t>(width) * height, 4));
    return picture != nullptr;
}

void DecodeAndRender::announce() {
    // One notice waits in the window's queue at a time, however many frames come before the window takes it.
    if (hwnd && !noticePending_.exchange(true))
        hwnd->postMessage({platform::WM_SET_RENDERER, 0, reinterpret_cast<intptr_t>(this)});
}

void DecodeAndRender::noticeTaken() {
    noticePending_ = false;
}

int32_t DecodeAndRender::initAVCDecRender(const uint8_t* config, int32_t configLength, int32_t width,
                                          int32_t height, int32_t hardwareFlag, int32_t displayWidth,
                                          int32_t displayHeight) {
    {
        std::lock_guard<std::mutex> lock(decoderMutex);
        this->width = width;
        this->height = height;
        replaceDecoder();
        log_write(LOG_USER_INFO, "%s: initialH264 %d misdxva mhWnd == %d",
                  "DecodeAndRender::initAVCDecRender", hardware, windowNumber(hwnd));
        auto* avc = new AVCDecoder();
        decoder = avc;
        if (!hwnd) {
            log_write(LOG_USER_ERROR, "[%p] gonna stop itself mhWnd == NULL %s:%u", static_cast<void*>(this),
                      kSource, __LINE__);
            return -1;
        }
        if (avc->initialAVC(config, configLength, width, height, hardwareFlag, hwnd, displayWidth,
                            displayHeight) != 0) {
            log_write(LOG_USER_ERROR, "[%p] gonna stop itself result == NULL %s:%u", static_cast<void*>(this),
                      kSource, __LINE__);
            return -2;
        }
        // The picture buffer is made with the first frame: an announced size alone costs nothing.
        free(picture);
        picture = nullptr;
        if (!sizeValid()) {
            log_write(LOG_USER_ERROR, "%s allocate new dec buf failed", "DecodeAndRender::initAVCDecRender");
            return -3;
        }
    }
    announce();
    setBitmapHeader(width, height);
    return 0;
}

int32_t DecodeAndRender::initDecRender(uint8_t encoderType, uint8_t reserved, int32_t width, int32_t height) {
    {
        std::lock_guard<std::mutex> lock(decoderMutex);
        this->width = width;
        this->height = height;
    }
    int32_t result = initRenderAndDecoder(encoderType, reserved);
    if (result != 0) {
        log_write(LOG_USER_ERROR, "[%p] gonna stop itself %s:%u", static_cast<void*>(this), kSource,
                  __LINE__);
    }
    bool allocated;
    {
        // The picture buffer is made with the first frame: an announced size alone costs nothing.
        std::lock_guard<std::mutex> lock(decoderMutex);
        free(picture);
        picture = nullptr;
        allocated = sizeValid();
    }
    if (allocated) {
        announce();
        setBitmapHeader(width, height);
    } else {
        log_write(LOG_USER_ERROR, "%s allocate new dec buf failed", "DecodeAndRender::initDecRender");
        result = -2;
    }
    return result;
}

int32_t DecodeAndRender::initRenderAndDecoder(uint8_t, uint8_t) {
    std::lock_guard<std::mutex> lock(decoderMutex);
    hardware = 1;
    replaceDecoder();
    log_write(LOG_USER_INFO, "%s: initialZRC", "DecodeAndRender::initRenderAndDecoder");
    decoder = new ZRCDecoder();
    return decoder->initial(width, height);
}

int32_t DecodeAndRender::decodeRecvVideo(uint8_t frameFlag, uint8_t, const uint8_t* data, int32_t,
                                         int32_t length) {
    if (!hwnd) {
        log_write(LOG_USER_WARNING, "%s  DecodeAndRender::Hwnd not initialed,so no need to decode data",
                  "DecodeAndRender::decodeRecvVideo");
        return 0;
    }
    int32_t r;
    const char* coding;
    {
        std::lock_guard<std::mutex> lock(decoderMutex);
        // Stopped after a failed frame: later frames are dropped without another word.
        if (!decoder) return 0;
        coding = dynamic_cast<AVCDecoder*>(decoder) ? "H264" : "ZRC";
        if (!picture && decoder->accepts(data, length) && !allocatePicture()) {
            log_write(LOG_USER_ERROR, "%s allocate new dec buf failed", "DecodeAndRender::decodeRecvVideo");
            r = -1;
        } else {
            r = decoder->decodeRecvVideo(frameFlag, data, length, picture);
        }
    }
    if (r < 0) {
        log_write(LOG_USER_ERROR, "%s %s decode failed, isdxva = %d, returned %d",
                  "DecodeAndRender::decodeRecvVideo", coding, hardware, r);
        stop();
        return -4;
    }
    announce();
    if (r >= 1) invalidate(hwnd);
    return 0;
}

int32_t DecodeAndRender::stop() {
    log_write(LOG_USER_DEBUG, "DecodeAndRender::stop ");
    std::lock_guard<std::mutex> lock(decoderMutex);
    free(picture);
    picture = nullptr;
    replaceDecoder();
    return 0;
}

void DecodeAndRender::forwardWinMessage(int32_t a, int32_t b, int32_t width, int32_t height, int32_t angle,
                                        int32_t flag) {
    std::lock_guard<std::mutex> lock(decoderMutex);
    if (auto* avc = dynamic_cast<AVCDecoder*>(decoder))
        avc->decodeWinMessage(a, b, width, height, angle, flag);
}

void DecodeAndRender::setBitmapHeader(int32_t width, int32_t height) {
    std::lock_guard<std::mutex> lock(decoderMutex);
    bitmapInfo = BitmapInfoHeader{};
    bitmapInfo.biSize = sizeof(BitmapInfoHeader);
    bitmapInfo.biWidth = width;
    bitmapInfo.biHeight = -height;
    bitmapInfo.biPlanes = 1;
    bitmapInfo.biBitCount = 32;
}

void DecodeAndRender::invalidate(platform::Window* hwnd) {
    if (hwnd) paint();
}

int32_t DecodeAndRender::paint() {
    std::lock_guard<std::mutex> lock(decoderMutex);
    const int32_t pictureWidth = bitmapInfo.biWidth, pictureHeight = -bitmapInfo.biHeight;
    if (!picture || !hwnd || pictureWidth != width || pictureHeight != height) return 0;
    // The codec writes each pixel as bytes R, G, B, 255: the window is told so, and red stays red.
    std::shared_ptr<platform::Picture> shown = pictures.take(width, height, platform::PixelFormat::Rgbx);
    memcpy(shown->pixels.data(), picture, static_cast<size_t>(width) * height * 4);
    hwnd->present(shown);
    return 0;
}
