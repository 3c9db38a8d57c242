// Pictures on disk for zrctool: PNG through libpng where it is there, binary PPM (P6) by hand. In memory a
// picture is RGBA, 4 bytes a pixel, rows without padding: the codec's image format 44.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
};

// The largest edge accepted from a file: the codec's own limit.
constexpr int kMaxPictureEdge = 4096;

// Parses a binary PPM (P6, maxval 1..255) from memory; false with the reason when it is not one or its size
// is out of bounds.
bool parsePpm(const uint8_t* data, size_t size, Picture* picture, std::string* error);

// Reads a .png or .ppm file (chosen by its first bytes).
bool readPicture(const std::string& path, Picture* picture, std::string* error);

// The picture files this build writes: PNG where libpng is there (Linux), else binary PPM (Windows).
#if QX_PNG
constexpr const char* kPictureExtension = ".png";
bool writePng(const std::string& path, const Picture& picture, std::string* error);
#else
constexpr const char* kPictureExtension = ".ppm";
#endif
bool writePpm(const std::string& path, const Picture& picture, std::string* error);
// A PNG file when path ends in .png and this build has libpng, else a binary PPM.
bool writePicture(const std::string& path, const Picture& picture, std::string* error);

// The picture files named by `inputs`: files as given, folders as their .png and .ppm files in name order.
bool listPictures(const std::vector<std::string>& inputs, std::vector<std::string>* files,
                  std::string* error);
