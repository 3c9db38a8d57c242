// Feeds arbitrary bytes to the simulator's control-frame reader, frame after frame as the reader thread does.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/qx-devsim/controlframetext.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t used = 0;
    std::string line;
    int r;
    while ((r = describeControlFrame(data + used, size - used, &line)) > 0) {
        if (static_cast<size_t>(r) > size - used) __builtin_trap();
        used += static_cast<size_t>(r);
    }
    return 0;
}
