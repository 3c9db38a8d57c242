#ifndef CODEC_FRAMEHEADER_H
#define CODEC_FRAMEHEADER_H

#include <cstdint>

#include "codec/include/zrc.h"

namespace zrc {

// Restores the plain words from the 88 chained wire bytes.
ZrcFrameHeader restoreHeader(const uint8_t* wire);

// Sum of the plain words modulo 2^32, the checksum word counted as 0.
uint32_t headerChecksum(const ZrcFrameHeader& header);

// Writes the header chained, with its checksum filled in, to 88 bytes at `wire`.
void writeHeader(const ZrcFrameHeader& header, uint8_t* wire);

}  // namespace zrc

#endif
