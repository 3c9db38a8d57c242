// The two parsers of zrctool's input files: binary PPM pictures and files of frames.
#include <cstdint>
#include <string>
#include <vector>

#include "codec/include/zrc.h"
#include "tools/zrctool/framefile.h"
#include "tools/zrctool/pictureio.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zrc_set_log_file("/dev/null");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Picture picture;
    std::string error;
    parsePpm(data, size, &picture, &error);
    std::vector<FrameRef> frames;
    splitFrames(data, size, &frames, &error);
    return 0;
}
