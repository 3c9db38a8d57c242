#ifndef CODEC_MAPOVERLAP_H
#define CODEC_MAPOVERLAP_H

#include <cstdint>

#include "codec/forwardtransform.h"

struct ZrcHandle;

namespace zrc {

// The decoder reads the block map as whole words although only mapsize / 4 bytes of it are sent, so when
// mapsize is not a multiple of 4 the entries of the last mapsize % 4 blocks (the "corner" blocks) come from
// the low bit pairs of the first byte of the differential section: the first luma (or red) coefficient, the
// DC, of the first coded block. The encoder makes its map agree with that byte, so that both sides walk
// the same blocks:
//  - it looks among the first coded block and the blocks before it for one whose DC already gives every
//    corner the entry it needs, and codes that block too when it was not coded (one more block, no loss);
//  - failing that (and always in an absolute frame, where block 0 comes first), it codes the first block
//    with the nearest DC that fits (a few DC steps of error in that one block).
// The corner entries then are the bit pairs of that DC. The DC step does not depend on the quality, so the
// byte is the same whatever entry the first block gets.

struct OverlapFix {
    bool active = false;  // the DC of `block` is to be replaced by `dc`
    uint32_t block = 0;
    uint8_t dc = 0;
    uint8_t kept_dc = 0;  // the block's kept DC before this frame, for the xor form
};

// Settles the corner entries of the time map of the frame about to be coded from `image`; updates
// *predictions. Needs the time map final for every other block.
OverlapFix settleOverlap(ZrcHandle& h, const uint8_t* image, bool absolute, uint32_t* predictions);

// After the transform: applies the DC replacement to the sections and the kept planes. Returns whether the
// xor section (when there is one) gives the corners the same entries as the replace section.
bool applyOverlap(ZrcHandle& h, const OverlapFix& fix, const CodedSections& sections);

// The same for the section of an absolute frame rebuilt from a copy of the kept planes: the copy's first DC
// is moved to the nearest value that codes every corner, and a corner whose entry then stands for another
// quality than its kept coefficients were made with is coded again in the copy from the last image. Only
// the late receiver's picture differs, in those blocks; the encoder's state stays as the stream left it.
void settleOverlapKept(ZrcHandle& h, uint8_t* section);

}  // namespace zrc

#endif
