#include "input/touchcontroller.h"

#include <cstring>

#include "control/mrcp.h"
#include "control/streamdata.h"
#include "input/configuremanager.h"

namespace {

constexpr uint32_t kTouchWords[2] = {111, 0x00010000};  // touch event code, its fixed param
constexpr uint32_t kTouchPayloadLength = 20;
constexpr int32_t kSlideSteps = 50;
// A socket that takes nothing for this long drops the touch rather than holding the window's thread.
constexpr uint32_t kTouchSendLimitMs = 2000;

}  // namespace

TouchController::TouchController(SOCKET socket, int32_t /*deviceId*/, int32_t /*width*/, int32_t /*height*/,
                                 std::mutex* sendMutex)
    : socket_(socket), sendMutex_(sendMutex) {}

TouchController::~TouchController() = default;

bool TouchController::loadConfig() {
    ConfigureManager::readConfigTwo(table_);
    return true;
}

bool TouchController::setKeyState(uint32_t keyCode, bool down) {
    table_.setKeyState(keyCode, down);
    return true;
}

bool TouchController::handleKey(int32_t action) {
    const PhoneOperation* operation = table_.findOperation();
    if (!operation) return false;
    if (operation->operationId == PhoneOperation::kTap) {
        sendTouch(socket_, action, operation->phoneX, operation->phoneY);
    } else if (operation->operationId == PhoneOperation::kSlide && action != kTouchUp) {
        slide(operation->phoneX, operation->phoneY, operation->endX, operation->endY);
    }
    return true;
}

void TouchController::setMouseDown(bool down) {
    mouseDown_ = down;
}

bool TouchController::isMouseDown() const {
    return mouseDown_;
}

void TouchController::sendTouch(SOCKET socket, int32_t action, int32_t x, int32_t y) {
    uint8_t payload[kTouchPayloadLength];
    StreamData writer(payload, sizeof payload);
    for (int32_t word : {1, action, x, y, 0})
        writer.putUInt32(static_cast<uint32_t>(word));
    // A lost touch is not reported: the device connection's failure shows on its receiving side.
    if (writer_) {
        uint8_t frame[MRCP_HEADER_SIZE + MRCP_WORDS_SIZE + kTouchPayloadLength];
        uint8_t* cursor = mrcp_build_command(
            mrcp_build_header(frame, MRCP_WORDS_SIZE + kTouchPayloadLength, 0), kTouchWords);
        std::memcpy(cursor, payload, kTouchPayloadLength);
        writer_(frame, sizeof frame);
        return;
    }
    // The whole frame under the device's write lock, so it never interleaves with a forwarded frame.
    std::unique_lock<std::mutex> lock;
    if (sendMutex_) lock = std::unique_lock<std::mutex>(*sendMutex_);
    mrcp_send(socket, kTouchWords, 0, payload, kTouchPayloadLength, kTouchSendLimitMs);
}

void TouchController::sendScaledTouch(SOCKET socket, int32_t action, int32_t x, int32_t y, int32_t width,
                                      int32_t height) {
    if (width <= 0 || height <= 0) return;  // no window size to scale by
    // In 64 bits so positions outside the window cannot overflow the shift.
    auto scale = [](int32_t v, int32_t size) {
        return static_cast<int32_t>(static_cast<int64_t>(v) * 65536 / size);
    };
    sendTouch(socket, action, scale(x, width), scale(y, height));
}

void TouchController::slide(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    // Differences in 64 bits: far-apart points must not overflow.
    const int64_t stepX = (static_cast<int64_t>(x1) - x0) / kSlideSteps;
    const int64_t stepY = (static_cast<int64_t>(y1) - y0) / kSlideSteps;
    sendTouch(socket_, kTouchDown, x0, y0);
    for (int64_t i = 0; i <= kSlideSteps; ++i) {
        sendTouch(socket_, kTouchMove, static_cast<int32_t>(x0 + i * stepX),
                  static_cast<int32_t>(y0 + i * stepY));
    }
    sendTouch(socket_, kTouchUp, x1, y1);
}
