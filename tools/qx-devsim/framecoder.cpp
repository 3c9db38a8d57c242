#include "tools/qx-devsim/framecoder.h"

#include "tools/qx-devsim/h264coder.h"
#ifdef QX_DEVSIM_ZRC
#include "tools/qx-devsim/zrccoder.h"
#endif

std::unique_ptr<FrameCoder> makeFrameCoder(const DevsimOptions& options, std::string* error) {
    if (options.codec == "zrc") {
#ifdef QX_DEVSIM_ZRC
        auto coder = std::make_unique<ZrcCoder>();
        if (!coder->open(options, error)) return nullptr;
        return coder;
#else
        *error = "this build has no ZRC encoder";
        return nullptr;
#endif
    }
    auto coder = std::make_unique<H264Coder>();
    if (!coder->open(options.width, options.height, options.fps, error)) return nullptr;
    return coder;
}
