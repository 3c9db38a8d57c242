// Turns pictures into the payloads of RSUP frames.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/qx-devsim/devsimoptions.h"

class FrameCoder {
public:
    virtual ~FrameCoder() = default;
    // The RSUP encoder type of the stream.
    virtual uint8_t encoderType() const = 0;
    // The config frame's payload (never empty: the client takes the first non-empty frame as config).
    virtual std::vector<uint8_t> config() = 0;
    // Codes picture number n (counted from 1), bytes R, G, B, 255. An empty payload means nothing changed;
    // false on a coder failure.
    virtual bool encode(const uint8_t* rgba, int64_t n, std::vector<uint8_t>* payload) = 0;
};

// The coder the options name, or null with the reason in *error.
std::unique_ptr<FrameCoder> makeFrameCoder(const DevsimOptions& options, std::string* error);
