#include "codec/framestages.h"

#include "codec/conversion.h"
#include "codec/smoothing.h"
#include "codec/transform.h"

namespace zrc {

void FrameStages::transform(int plane, const uint8_t* source, uint32_t begin, uint32_t end) const {
    if (scratch == nullptr) {
        inverseTransformBlocks(layout, plane, source, transform_target, time_map, begin, end, quality);
        return;
    }
    inverseTransformBlocks(layout, plane, source, scratch, time_map, begin, end, quality);
    copyBlocks(layout, plane, scratch, transform_target, time_map, begin, end);
}

void FrameStages::smooth(int plane, uint32_t begin, uint32_t end) const {
    smoothBlocks(layout, plane, transform_target, smooth_target, time_map, begin, end, mark_edges);
}

size_t FrameStages::convert(uint32_t begin, uint32_t end) const {
    return convertBlocks(frame_format, output(), image, time_map, begin, end, layout.edges[0], width, height,
                         image_format);
}

}  // namespace zrc
