#ifndef CODEC_LZ_H
#define CODEC_LZ_H

#include <cstddef>
#include <cstdint>

namespace zrc {

// LZ packing (pack format 2): the level-1 stream of QuickLZ 1.5.0 without its header. Control words of 31
// item bits, literals and 2- or 3-byte back-references through a 4096-entry table of earlier positions
// that packer and unpacker keep in step.

// Largest output of lzPack for `size` input bytes.
size_t lzBound(size_t size);

// Packs `size` bytes into `out` (capacity lzBound(size)); returns the packed length.
size_t lzPack(const uint8_t* in, size_t size, uint8_t* out);

// Unpacks exactly `expected` bytes into `out`; returns `expected`, or -1 when the stream is damaged (an item
// crossing the end of input or output, a reference to a table entry no earlier position wrote). Reads at
// most `size` input bytes and writes at most `expected` output bytes. Takes the plain form below when
// referenceKernels() is set.
long lzUnpack(const uint8_t* in, size_t size, uint8_t* out, size_t expected);

// The same unpacking byte by byte, straight from the stream's rules; the fast form must match it exactly,
// in result and output.
long lzUnpackReference(const uint8_t* in, size_t size, uint8_t* out, size_t expected);

}  // namespace zrc

#endif
