#include "tests/unit/stream/support/streamfixtures.h"

#include <thread>

#include "device/rsupheader.h"

std::vector<uint8_t> rsupHeaderOnly(uint8_t encoderType, int32_t payloadLength, uint32_t width,
                                    uint32_t height) {
    RsupHeader header;
    header.encoderType = encoderType;
    header.width = width;
    header.height = height;
    header.payloadLength = payloadLength;
    std::vector<uint8_t> bytes(RSUP_HEADER_SIZE);
    header.write(bytes.data());
    return bytes;
}

std::vector<uint8_t> rsupFrame(uint8_t encoderType, const std::vector<uint8_t>& payload, uint32_t width,
                               uint32_t height) {
    std::vector<uint8_t> bytes =
        rsupHeaderOnly(encoderType, static_cast<int32_t>(payload.size()), width, height);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
