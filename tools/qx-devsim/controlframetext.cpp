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
    if (!mrcp_read_header(data, &header) || header.length < MRCP_WORDS_SIZE || header.length > MRCP_MAX_BODY)
        return -1;
    const size_t total = MRCP_HEADER_SIZE + header.length;
    if (length < total) return 0;
    // StreamData only reads here; it takes a mutable buffer because it also writes.
    StreamData in(const_cast<uint8_t*>(data) + MRCP_HEADER_SIZE, header.length);
    uint32_t words[MRCP_MAX_BODY / 4];
    const uint32_t count = header.length / 4;
    for (uint32_t i = 0; i < count; ++i)
        words[i] = in.getUInt32();
    const char* action =
        header.length == kTouchBody && words[0] == kTouchCode ? actionName(words[3]) : nullptr;
    // Appended piece by piece: chains of std::string operator+ draw a false -Wrestrict from GCC 12 at -O3.
    line->clear();
    if (action) {
        line->append("touch ").append(action);
        line->append(" x=").append(std::to_string(static_cast<int32_t>(words[4])));
        line->append(" y=").append(std::to_string(static_cast<int32_t>(words[5])));
    } else {
        line->append("frame reserved ").append(std::to_string(header.reserved)).append(" words");
        for (uint32_t i = 0; i < count; ++i)
            line->append(" ").append(std::to_string(words[i]));
        if (header.length % 4) line->append(" +").append(std::to_string(header.length % 4)).append(" bytes");
    }
    return static_cast<int>(total);
}
