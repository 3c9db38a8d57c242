#include "codec/framestages.h"

#include "codec/conversion.h"
#include "codec/scaledtransform.h"
#include "codec/smoothing.h"
#include "codec/transform.h"

namespace zrc {

void FrameStages::transform(int plane, const uint8_t* map, uint32_t begin, uint32_t end) const {
    if (shift > 0) {
        const int edge = layout.edges[plane];
        const size_t in_bytes = layout.blockBytes(plane), out_bytes = output.blockBytes(plane);
        const uint8_t* in = coefficients + layout.offsets[plane];
        uint8_t* out = transform_target + output.offsets[plane];
        for (uint32_t b = begin; b < end; ++b) {
            if (map[b] != 0)
                scaledInverseTransformBlock(edge, shift, in + b * in_bytes, map[b] - 4, out + b * out_bytes);
        }
        return;
    }
    if (scratch == nullptr) {
        inverseTransformBlocks(layout, plane, coefficients, transform_target, map, begin, end, 0);
        return;
    }
    inverseTransformBlocks(layout, plane, coefficients, scratch, map, begin, end, 0);
    copyBlocks(layout, plane, scratch, transform_target, map, begin, end);
}

void FrameStages::smooth(int plane, const uint8_t* map, uint32_t begin, uint32_t end) const {
    smoothBlocks(layout, plane, transform_target, smooth_target, map, begin, end, mark_edges);
}

size_t FrameStages::convert(const uint8_t* map, uint32_t begin, uint32_t end) const {
    return convertScaledBlocks(frame_format, planes(), image, map, begin, end, layout.edges[0], shift, width,
                               height, image_format);
}

}  // namespace zrc
