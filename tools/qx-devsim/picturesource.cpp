#include "tools/qx-devsim/picturesource.h"

#include "tools/qx-devsim/pngfolder.h"
#include "tools/qx-devsim/syntheticscreen.h"
#include "tools/qx-devsim/videofile.h"

std::unique_ptr<PictureSource> makePictureSource(const DevsimOptions& options, std::string* error) {
    const std::string& source = options.source;
    if (source.rfind("png:", 0) == 0) {
        auto folder = std::make_unique<PngFolder>(options.width, options.height);
        if (!folder->open(source.substr(4), error)) return nullptr;
        return folder;
    }
    if (source.rfind("video:", 0) == 0) {
        auto video = std::make_unique<VideoFile>(options.width, options.height);
        if (!video->open(source.substr(6), error)) return nullptr;
        return video;
    }
    return std::make_unique<SyntheticScreen>(options.width, options.height, options.accent, options.motion);
}
