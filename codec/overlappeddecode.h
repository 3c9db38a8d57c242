#ifndef CODEC_OVERLAPPEDDECODE_H
#define CODEC_OVERLAPPEDDECODE_H

#include <cstddef>
#include <cstdint>
#include <functional>

#include "codec/framestages.h"
#include "codec/lz.h"

namespace zrc {

// Decodes an absolute frame, whose section holds the complete coefficient planes, while its payload is being
// unpacked, and converts it into the caller's image (stages.image is set): a pool thread expands the map and
// transforms and smooths the block rows of each plane as the unpacker makes them final, while the calling
// thread unpacks; then both share the copy of the coefficients, the rows left and the conversion. The output
// is the same as that of the stages run one after the other.
//
// `unpack` fills `payload` (map, then section) and reports through its progress; it returns the bytes
// produced. Returns that count; when it is not `expected` the coefficient planes and the image are left as
// they were (the decoded planes may hold part of the frame).
long decodeOverlapped(const FrameStages& stages, uint8_t* payload, size_t expected,
                      const std::function<long(UnpackProgress*)>& unpack);

// Whether decodeOverlapped can take a frame of this many blocks: it needs a second thread, and below a few
// block rows the handing over costs more than it saves.
bool overlapPays(uint32_t mapsize);

}  // namespace zrc

#endif
