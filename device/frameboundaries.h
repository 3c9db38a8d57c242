// Follows where the frames of a stream end as its bytes go by, so that the receive loop knows how much of
// what it put into the ring is whole frames without reading the ring back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/rsupheader.h"

class FrameBoundaries {
public:
    // The next n bytes of the stream (the frames after the config frame).
    void add(const uint8_t* data, size_t n);
    // Of the bytes added so far, how many come after the end of the last whole frame.
    uint64_t partialBytes() const { return partial_; }
    // Whole frames so far, and their bytes (headers included).
    uint64_t wholeFrames() const { return wholeFrames_; }
    uint64_t wholeBytes() const { return wholeBytes_; }
    // The bytes that end the frame under way and bring the next frame's header with them: what the receive
    // loop reads at most, so that it knows the next frame's length once this one is whole.
    uint64_t toNextHeader() const;

private:
    void frameEnded();

    uint8_t header_[RSUP_HEADER_SIZE] = {};
    size_t headerBytes_ = 0;    // of the header under way
    uint64_t payloadLeft_ = 0;  // of the frame under way, once its header is whole
    uint64_t partial_ = 0;
    uint64_t wholeFrames_ = 0;
    uint64_t wholeBytes_ = 0;
};
