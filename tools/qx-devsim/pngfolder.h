// Pictures from the PNG files of a folder, in name order, over and over.
#pragma once

#include <string>
#include <vector>

#include "tools/qx-devsim/picturesource.h"
#include "tools/qx-devsim/scaler.h"

class PngFolder : public PictureSource {
public:
    PngFolder(int32_t width, int32_t height) : scaler_(width, height) {}
    // Lists the folder's *.png files; false with the reason when there are none.
    bool open(const std::string& folder, std::string* error);
    bool next(uint8_t* rgba) override;

private:
    std::vector<std::string> files_;
    size_t nextFile_ = 0;
    Scaler scaler_;
};
