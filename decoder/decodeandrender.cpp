#include "decoder/decodeandrender.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

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

void DecodeAndRender::freePicture() {
    if (shown) {
        shown.reset();
    } else {
        free(picture);
    }
    picture = nullptr;
    pictureWidth = pictureHeight = 0;
}

bool DecodeAndRender::allocatePicture(int32_t shift) {
    freePicture();
    if (!sizeValid()) return false;
    const int32_t w = ZRCDecoder::scaled(width, shift), h = ZRCDecoder::scaled(height, shift);
    // Zeroed, so that whatever is painted before the first whole picture arrives is black.
    if (dynamic_cast<ZRCDecoder*>(decoder)) {
        try {
            // The codec writes each pixel as bytes R, G, B, 255: the window is told so, and red stays red.
            shown = platform::makeWrittenInPlace(w, h, platform::PixelFormat::Rgbx);
        } catch (const std::bad_alloc&) {
            return false;
        }
        picture = shown->pixels.data();
    } else {
        picture = static_cast<uint8_t*>(calloc(static_cast<size_t>(w) * h, 4));
    }
    if (!picture) return false;
    pictureWidth = w;
    pictureHeight = h;
    pictureShift = shift;
    setBitmapHeaderLocked(w, h);
    return true;
}

bool DecodeAndRender::fitScale(ZRCDecoder* zrc) {
    const int32_t shift = ZRCDecoder::scaleFor(width, height, shownWidth, shownHeight);
    if (picture && shift == pictureShift && shift == zrc->scale()) return true;
    if (zrc->setScale(shift) < 0) return false;
    // The codec renders every block after a change of scale: the new buffer is filled whole.
    if (!allocatePicture(shift)) return false;
    changed = {0, 0, pictureWidth, pictureHeight};
    return true;
}

void DecodeAndRender::addRendered(const platform::Rect& area) {
    if (area.width <= 0 || area.height <= 0) return;
    if (changed.width <= 0 || changed.height <= 0) {
        changed = area;
        return;
    }
    const int32_t right = std::max(changed.x + changed.width, area.x + area.width);
    const int32_t bottom = std::max(changed.y + changed.height, area.y + area.height);
    changed.x = std::min(changed.x, area.x);
    changed.y = std::min(changed.y, area.y);
    changed.width = right - changed.x;
    changed.height = bottom - changed.y;
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
        freePicture();
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
        if (hwnd) {
            // Until the window is told otherwise, it shows its own rectangle (the work area when maximised).
            const platform::Rect shown = hwnd->state() == platform::ShowState::Maximized
                                             ? platform::desktopWorkArea()
                                             : hwnd->geometry();
            shownWidth = shown.width;
            shownHeight = shown.height;
        }
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
        freePicture();
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
                                         int32_t length, bool newest) {
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
        auto* zrc = dynamic_cast<ZRCDecoder*>(decoder);
        coding = zrc ? "ZRC" : "H264";
        // A ZRC picture buffer is needed (at the shown scale) only for a picture to show; the H.264 library
        // is handed one of the stream's size with every frame.
        const bool needsPicture = zrc ? newest && zrc->accepts(data, length) : decoder->accepts(data, length);
        if (needsPicture && !(zrc ? fitScale(zrc) : picture || allocatePicture(0))) {
            log_write(LOG_USER_ERROR, "%s allocate new dec buf failed", "DecodeAndRender::decodeRecvVideo");
            r = -1;
        } else if (!newest) {
            r = decoder->decodeWithoutShowing(frameFlag, data, length, picture);
        } else if (zrc) {
            // Decoded first, then rendered: the window's paints wait for the render only.
            r = zrc->decodeWithoutShowing(frameFlag, data, length, picture);
            if (r >= 0) r = renderShown(zrc);
            if (r > 0) addRendered(zrc->renderedArea());
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
    freePicture();
    replaceDecoder();
    return 0;
}

void DecodeAndRender::forwardWinMessage(int32_t a, int32_t b, int32_t width, int32_t height, int32_t angle,
                                        int32_t flag) {
    bool repaint;
    {
        std::lock_guard<std::mutex> lock(decoderMutex);
        if (auto* avc = dynamic_cast<AVCDecoder*>(decoder))
            avc->decodeWinMessage(a, b, width, height, angle, flag);
        shownWidth = width;
        shownHeight = height;
        repaint = growLocked();
    }
    if (repaint) paint();
}

void DecodeAndRender::windowSized(int32_t width, int32_t height) {
    bool repaint;
    {
        std::lock_guard<std::mutex> lock(decoderMutex);
        shownWidth = width;
        shownHeight = height;
        if (auto* avc = dynamic_cast<AVCDecoder*>(decoder))
            avc->decodeWinMessage(0, 0, width, height, avc->rotationAngle(), 1);
        repaint = growLocked();
    }
    if (repaint) paint();
}

bool DecodeAndRender::growLocked() {
    auto* zrc = dynamic_cast<ZRCDecoder*>(decoder);
    // Only a picture that no longer covers the window is made again now; a smaller window takes its
    // smaller scale with the next frame.
    if (!zrc || !picture || ZRCDecoder::scaleFor(width, height, shownWidth, shownHeight) >= pictureShift)
        return false;
    if (!fitScale(zrc) || renderShown(zrc) < 0) {
        // The decoder is gone (it said why) or no buffer: the next frame reports it as a failure.
        log_write(LOG_USER_ERROR, "%s render at %d x %d failed", "DecodeAndRender::windowSized", shownWidth,
                  shownHeight);
        return false;
    }
    changed = {0, 0, pictureWidth, pictureHeight};
    return true;
}

int32_t DecodeAndRender::renderShown(ZRCDecoder* zrc) {
    // The window may be reading the picture a band at a time: the render waits for that band.
    std::unique_lock<std::mutex> pixels;
    if (shown) pixels = std::unique_lock(*shown->pixelsLock);
    return zrc->render(picture);
}

void DecodeAndRender::setBitmapHeader(int32_t width, int32_t height) {
    std::lock_guard<std::mutex> lock(decoderMutex);
    setBitmapHeaderLocked(width, height);
}

void DecodeAndRender::setBitmapHeaderLocked(int32_t width, int32_t height) {
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
    // H.264 pictures are shown by the library; the buffer is the library's to use.
    if (!shown || !hwnd || !dynamic_cast<ZRCDecoder*>(decoder)) return 0;
    const platform::Rect area = changed;
    changed = {};
    hwnd->present(shown, area);
    return 0;
}
