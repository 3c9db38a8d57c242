// The 52-byte header in front of every RSUP frame a device sends (big-endian fields).
#pragma once

#include <cstdint>

constexpr int32_t RSUP_HEADER_SIZE = 52;

struct RsupHeader {
    // encoderType 7: ZRC; anything else: H.264.
    static constexpr uint8_t kEncoderZrc = 7;
    // The largest picture edge a stream may announce (the ZRC codec's own limit).
    static constexpr uint32_t kMaxEdge = 4096;

    uint8_t encoderType = 0;
    uint8_t frameFlag = 0;
    uint32_t width = 0;   // meaningful in the config frame only
    uint32_t height = 0;  // meaningful in the config frame only
    int32_t payloadLength = 0;

    // Reads the fields out of RSUP_HEADER_SIZE bytes.
    static RsupHeader parse(const uint8_t* bytes);
    // Writes a header with these fields (the bytes nobody interprets stay 0).
    void write(uint8_t* bytes) const;
};
