#include "tools/qx-devsim/framecoder.h"

#include "tools/qx-devsim/h264coder.h"
#include "tools/qx-devsim/zrccoder.h"

std::unique_ptr<FrameCoder> makeFrameCoder(const DevsimOptions& options, std::string* error) {
    if (options.codec == "zrc") {
        auto coder = std::make_unique<ZrcCoder>();
        if (!coder->open(options, error)) return nullptr;
        return coder;
    }
    auto coder = std::make_unique<H264Coder>();
    if (!coder->open(options.width, options.height, options.fps, error)) return nullptr;
    return coder;
}
