#include "tools/qx-devsim/controlframetext.h"

#include "control/mrcp.h"
#include "control/streamdata.h"

namespace {

constexpr uint32_t kTouchCode = 111;
constexpr uint32_t kTouchBody = 28;  // code, param and the five payload words

const char* actionName(uint32_t action) {
    switch (action) {
        case 0:
            return "move";
        case 1:
            return "up";
        case 2:
            return "down";
        default:
            return nullptr;
    }
}

}  // namespace

int describeControlFrame(const uint8_t* data, size_t length, std::string* line) {
    if (length < MRCP_HEADER_SIZE) return 0;
    MrcpHeader header{};
    StreamData in(const_cast<uint8_t*>(data),
                  static_cast<uint32_t>(std::min<size_t>(length, MRCP_MAX_FRAME)));
    header.magic = in.getUInt32();
    header.version = in.getUInt16();
    header.reserved = in.getUInt16();
    header.length = in.getUInt32();
    if (header.magic != MRCP_MAGIC || header.version != MRCP_VERSION || header.length < MRCP_WORDS_SIZE ||
        header.length > MRCP_MAX_FRAME - MRCP_HEADER_SIZE)
        return -1;
    const size_t total = MRCP_HEADER_SIZE + header.length;
    if (length < total) return 0;
    uint32_t words[(MRCP_MAX_FRAME - MRCP_HEADER_SIZE) / 4];
    const uint32_t count = header.length / 4;
    for (uint32_t i = 0; i < count; ++i)
        words[i] = in.getUInt32();
    const char* action =
        header.length == kTouchBody && words[0] == kTouchCode ? actionName(words[3]) : nullptr;
    if (action) {
        *line = std::string("touch ") + action + " x=" + std::to_string(static_cast<int32_t>(words[4])) +
                " y=" + std::to_string(static_cast<int32_t>(words[5]));
    } else {
        *line = "frame reserved " + std::to_string(header.reserved) + " words";
        for (uint32_t i = 0; i < count; ++i)
            *line += " " + std::to_string(words[i]);
        if (header.length % 4) *line += " +" + std::to_string(header.length % 4) + " bytes";
    }
    return static_cast<int>(total);
}
