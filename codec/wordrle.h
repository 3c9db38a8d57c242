#ifndef CODEC_WORDRLE_H
#define CODEC_WORDRLE_H

#include <cstddef>
#include <cstdint>

namespace zrc {

// Word run-length packing (pack format 1): groups of literal or repeated 4-byte words, a 0 control byte,
// then the bytes the groups did not cover.

// Largest output of rlePack for `size` input bytes.
size_t rleBound(size_t size);

// Packs `size` bytes into `out` (capacity rleBound(size)); returns the packed length.
size_t rlePack(const uint8_t* in, size_t size, uint8_t* out);

// Unpacks into at most `capacity` bytes; returns the bytes produced, or -1 when an item would cross the end
// of the output.
long rleUnpack(const uint8_t* in, size_t size, uint8_t* out, size_t capacity);

}  // namespace zrc

#endif
