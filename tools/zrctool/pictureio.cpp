#include "tools/zrctool/pictureio.h"

#if QX_PNG
#include <png.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

// Reads the next PPM header number after whitespace and comments; false at the end or on a non-digit.
bool ppmNumber(const uint8_t* data, size_t size, size_t* at, int* value) {
    while (*at < size) {
        if (data[*at] == '#') {
            while (*at < size && data[*at] != '\n')
                ++*at;
        } else if (std::isspace(data[*at])) {
            ++*at;
        } else {
            break;
        }
    }
    if (*at >= size || !std::isdigit(data[*at])) return false;
    long v = 0;
    while (*at < size && std::isdigit(data[*at])) {
        v = v * 10 + (data[*at] - '0');
        if (v > 65535) return false;
        ++*at;
    }
    *value = static_cast<int>(v);
    return true;
}

}  // namespace

bool parsePpm(const uint8_t* data, size_t size, Picture* picture, std::string* error) {
    size_t at = 2;
    int width, height, maxval;
    if (size < 2 || data[0] != 'P' || data[1] != '6' || !ppmNumber(data, size, &at, &width) ||
        !ppmNumber(data, size, &at, &height) || !ppmNumber(data, size, &at, &maxval) || at >= size ||
        !std::isspace(data[at])) {
        *error = "not a binary PPM (P6) picture";
        return false;
    }
    ++at;  // the single whitespace before the samples
    if (width < 1 || height < 1 || width > kMaxPictureEdge || height > kMaxPictureEdge || maxval < 1 ||
        maxval > 255) {
        *error = "PPM size or depth out of range";
        return false;
    }
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    if ((size - at) / 3 < pixels) {
        *error = "PPM picture shorter than its size";
        return false;
    }
    picture->width = width;
    picture->height = height;
    picture->rgba.resize(pixels * 4);
    for (size_t i = 0; i < pixels; ++i) {
        for (int c = 0; c < 3; ++c)
            picture->rgba[4 * i + c] = static_cast<uint8_t>(data[at + 3 * i + c] * 255 / maxval);
        picture->rgba[4 * i + 3] = 255;
    }
    return true;
}

bool readPicture(const std::string& path, Picture* picture, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot open";
        return false;
    }
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() >= 2 && data[0] == 'P' && data[1] == '6') {
        if (!parsePpm(data.data(), data.size(), picture, error)) {
            *error = path + ": " + *error;
            return false;
        }
        return true;
    }
#if QX_PNG
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data.data(), data.size())) {
        *error = path + ": " + image.message;
        return false;
    }
    if (image.width < 1 || image.height < 1 || image.width > kMaxPictureEdge ||
        image.height > kMaxPictureEdge) {
        *error = path + ": size out of range";
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_RGBA;
    picture->width = static_cast<int>(image.width);
    picture->height = static_cast<int>(image.height);
    picture->rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, picture->rgba.data(), 0, nullptr)) {
        *error = path + ": " + image.message;
        return false;
    }
    return true;
#else
    *error = path + ": not a binary PPM (P6) picture";
    return false;
#endif
}

bool writePpm(const std::string& path, const Picture& picture, std::string* error) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << picture.width << ' ' << picture.height << "\n255\n";
    const size_t pixels = static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height);
    std::vector<char> samples(pixels * 3);
    for (size_t i = 0; i < pixels; ++i)
        for (size_t c = 0; c < 3; ++c)
            samples[3 * i + c] = static_cast<char>(picture.rgba[4 * i + c]);
    out.write(samples.data(), static_cast<std::streamsize>(samples.size()));
    out.close();
    if (!out) {
        *error = path + ": cannot write";
        return false;
    }
    return true;
}

bool writePicture(const std::string& path, const Picture& picture, std::string* error) {
#if QX_PNG
    if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".png") == 0)
        return writePng(path, picture, error);
#endif
    return writePpm(path, picture, error);
}

#if QX_PNG
bool writePng(const std::string& path, const Picture& picture, std::string* error) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(picture.width);
    image.height = static_cast<png_uint_32>(picture.height);
    image.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_file(&image, path.c_str(), 0, picture.rgba.data(), 0, nullptr)) {
        *error = path + ": " + image.message;
        return false;
    }
    return true;
}
#endif

bool listPictures(const std::vector<std::string>& inputs, std::vector<std::string>* files,
                  std::string* error) {
    for (const std::string& input : inputs) {
        std::error_code code;
        if (!std::filesystem::is_directory(input, code)) {
            files->push_back(input);
            continue;
        }
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(input, code)) {
            const std::string extension = entry.path().extension().string();
            if (entry.is_regular_file() && (extension == ".png" || extension == ".ppm"))
                found.push_back(entry.path().string());
        }
        std::sort(found.begin(), found.end());
        files->insert(files->end(), found.begin(), found.end());
    }
    if (files->empty()) *error = "no pictures given";
    return !files->empty();
}
