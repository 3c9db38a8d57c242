#include "tools/qx-devsim/pngfolder.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace {

// A picture file larger than this is refused rather than read into memory.
constexpr png_uint_32 kMaxEdge = 8192;

}  // namespace

bool PngFolder::open(const std::string& folder, std::string* error) {
    std::error_code code;
    for (const auto& entry : std::filesystem::directory_iterator(folder, code)) {
        if (entry.is_regular_file() && entry.path().extension() == ".png") files_.push_back(entry.path());
    }
    std::sort(files_.begin(), files_.end());
    if (files_.empty()) *error = "no .png files in " + folder;
    return !files_.empty();
}

bool PngFolder::next(uint8_t* rgba) {
    const std::string& file = files_[nextFile_];
    nextFile_ = (nextFile_ + 1) % files_.size();
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, file.c_str())) {
        fprintf(stderr, "qx-devsim: %s: %s\n", file.c_str(), image.message);
        return false;
    }
    if (image.width == 0 || image.height == 0 || image.width > kMaxEdge || image.height > kMaxEdge) {
        fprintf(stderr, "qx-devsim: %s: %ux%u is not a usable size\n", file.c_str(), image.width,
                image.height);
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        fprintf(stderr, "qx-devsim: %s: %s\n", file.c_str(), image.message);
        return false;
    }
    const uint8_t* planes[4] = {pixels.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {static_cast<int>(image.width * 4), 0, 0, 0};
    return scaler_.convert(planes, strides, static_cast<int32_t>(image.width),
                           static_cast<int32_t>(image.height), AV_PIX_FMT_RGBA, rgba);
}
