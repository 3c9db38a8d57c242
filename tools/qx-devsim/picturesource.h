// Where the simulator's pictures come from. Every source hands out pictures of the stream's size as rows of
// bytes R, G, B, 255.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tools/qx-devsim/devsimoptions.h"

class PictureSource {
public:
    virtual ~PictureSource() = default;
    // Fills width x height x 4 bytes with the next picture; false when the source failed.
    virtual bool next(uint8_t* rgba) = 0;
};

// The source the options name, or null with the reason in *error.
std::unique_ptr<PictureSource> makePictureSource(const DevsimOptions& options, std::string* error);
