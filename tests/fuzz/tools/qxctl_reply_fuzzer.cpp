// Feeds arbitrary reply bodies, with any reserved field, to qxctl's reply reader.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/qxctl/controllerclient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint16_t reserved = static_cast<uint16_t>(data[0] << 8 | data[1]);
    // A copy of exactly the body, so that a read past its end is caught.
    std::vector<uint8_t> body(data + 2, data + size);
    Reply reply;
    parseReply(body.data(), static_cast<uint32_t>(body.size()), reserved, &reply);
    return 0;
}
