#ifndef CODEC_MAPOVERLAP_H
#define CODEC_MAPOVERLAP_H

#include <cstdint>
#include <vector>

#include "codec/forwardtransform.h"

struct ZrcHandle;

namespace zrc {

// The decoder reads the block map as whole words although only mapsize / 4 bytes of it are sent, so when
// mapsize is not a multiple of 4 the entries of the last mapsize % 4 blocks (the "corner" blocks) come from
// the low bit pairs of the first byte of the differential section: the first luma (or red) coefficient, the
// DC, of the first coded block (the "carrier"). The encoder makes its map agree with that byte, so that both
// sides walk the same blocks:
//  - it looks among the first coded block and the blocks before it for one whose DC already gives every
//    corner the entry it needs, and codes that block too when it was not coded (one more block, no loss);
//  - failing that (and always in an absolute frame, where block 0 comes first), it codes the first block
//    with the nearest DC that fits (a few DC steps of error in that one block).
// The DC step does not depend on the quality, so the byte is the same whatever entry the carrier gets.
// In the xor form the byte is the carrier's DC XORed with its kept DC, so that form settles its own DC.
// A carrier whose DC was moved is "owed": a later frame that can carry the entries without moving a DC
// codes it again, so that a still screen does not keep the step.

struct OverlapFix {
    uint32_t corners = 0;     // mapsize % 4; 0: nothing to settle
    uint32_t block = 0;       // the carrier
    bool add_block = false;   // the carrier was not to be coded: it is coded at the finest quality
    uint8_t entries[3] = {};  // the corners' entries the byte gives
    uint8_t wanted[3] = {};   // the corners' entries from the change detection
    uint8_t dc = 0;           // the carrier's DC in the replace form (and absolute frames)
    uint8_t own_dc = 0;       // the DC the carrier's samples give
    uint8_t kept_dc = 0;      // the carrier's kept DC before this frame

    bool moved() const { return corners != 0 && dc != own_dc; }
};

// Works out the corner entries of the frame about to be coded from `image`, for the time map as it stands
// (final for every other block). Changes nothing.
OverlapFix planOverlap(ZrcHandle& h, const uint8_t* image, bool absolute);

// Writes the plan into the time map and counts the blocks it adds or removes in *predictions.
void commitOverlap(ZrcHandle& h, const OverlapFix& fix, uint32_t* predictions);

// After the transform: applies the replace form's carrier DC to the replace section and the kept planes.
void applyOverlap(ZrcHandle& h, const OverlapFix& fix, const CodedSections& sections);

// The xor candidate's own settling of the corners.
struct XorOverlap {
    bool usable = false;
    uint8_t dc = 0;                 // the carrier's DC in the xor form
    uint32_t predictions = 0;       // coded blocks of the xor candidate
    uint8_t dropped = 0;            // bit k: corner k is coded by the replace form only
    std::vector<uint8_t> restored;  // the dropped corners' kept coefficients before this frame
};

// Settles the xor section (written by the transform with the replace form's map): picks the carrier DC
// nearest its own, no further from it than the replace form's, whose byte gives every corner an entry that
// codes it correctly. A corner the replace form codes only because its byte asked for it may be left out;
// such corners are cut from the section. Not usable when no DC within reach does.
XorOverlap settleXor(ZrcHandle& h, const OverlapFix& fix, const CodedSections& sections,
                     uint32_t predictions);

// The xor form was chosen: the kept planes and the time map take what its decoder holds.
void commitXor(ZrcHandle& h, const OverlapFix& fix, const XorOverlap& xo);

// The same for the section of an absolute frame rebuilt from a copy of the kept planes: the copy's first DC
// is moved to the nearest value that codes every corner, and a corner whose entry then stands for another
// quality than its kept coefficients were made with is coded again in the copy from the last image. Only
// the late receiver's picture differs, in those blocks; the encoder's state stays as the stream left it.
void settleOverlapKept(ZrcHandle& h, uint8_t* section);

}  // namespace zrc

#endif
