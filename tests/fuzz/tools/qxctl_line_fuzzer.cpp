// Feeds arbitrary script lines to qxctl's reader and builds the frame of every line it accepts.
#include <cstddef>
#include <cstdint>
#include <string>

#include "control/mrcp.h"
#include "tools/qxctl/request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    Request request;
    std::string error;
    if (!parseRequest(splitLine(line), &request, &error)) return 0;
    uint8_t frame[MRCP_MAX_FRAME];
    const uint32_t length = buildRequestFrame(request, frame, sizeof(frame));
    // Every accepted line fits one frame.
    if (length < MRCP_HEADER_SIZE + MRCP_WORDS_SIZE) __builtin_trap();
    return 0;
}
