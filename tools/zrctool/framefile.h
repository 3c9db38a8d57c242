// A file of ZRC frames back to back, each a chained 88-byte header and its payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/include/zrc.h"

struct FrameRef {
    size_t offset;          // of the header in the file
    size_t length;          // header and payload
    ZrcFrameHeader header;  // plain words
};

// Cuts `data` into frames. Each header must pass the codec's checks and its payload must lie inside the
// data; false with the reason (and the frames before it) otherwise.
bool splitFrames(const uint8_t* data, size_t size, std::vector<FrameRef>* frames, std::string* error);
