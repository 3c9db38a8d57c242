#include "codec/framestages.h"

#include <new>
#include <vector>

#include "codec/conversion.h"
#include "codec/scaledtransform.h"
#include "codec/smoothing.h"

namespace zrc {
namespace {

// The calling thread's band of at least `bytes`, kept for its next render (one block row of the widest
// picture it has made); null when memory runs out.
uint8_t* threadBand(size_t bytes) {
    thread_local std::vector<uint8_t> band;
    if (band.size() < bytes) {
        try {
            band.resize(bytes);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    return band.data();
}

// One block row of `output`: the band's layout (scaled(0) lays the planes out again for the one row).
PictureLayout rowOf(const PictureLayout& output) {
    PictureLayout row = output;
    row.rows = 1;
    return row.scaled(0);
}

// Calls each(row, first, begin, end) on the pieces of [begin, end) that lie in one block row each; first
// is the row's first block.
template <typename Each>
void forEachRow(uint32_t columns, uint32_t begin, uint32_t end, Each each) {
    while (begin < end) {
        const uint32_t row = begin / columns;
        const uint32_t first = row * columns;
        const uint32_t row_end = first + columns < end ? first + columns : end;
        each(row, first, begin, row_end);
        begin = row_end;
    }
}

}  // namespace

void FrameStages::convertRow(const uint8_t* band, const uint8_t* map, uint32_t row, uint32_t first,
                             uint32_t begin, uint32_t end) const {
    const int edge = output.edges[0];
    const int top = static_cast<int>(row) * edge;
    if (top >= height) return;
    const size_t row_bytes =
        static_cast<size_t>(width) * static_cast<size_t>(convertedPixelBytes(image_format));
    convertScaledBlocks(frame_format, band, image + static_cast<size_t>(top) * row_bytes, map + first,
                        begin - first, end - first, layout.edges[0], shift, width,
                        height - top < edge ? height - top : edge, image_format);
}

bool FrameStages::decode(const uint8_t* map, uint32_t begin, uint32_t end) const {
    if (planes != nullptr) {
        // Kept planes: converted from by the smoothing pass, or the image itself.
        for (int plane = 0; plane < 3; ++plane)
            scaledInverseTransformBlocks(layout, plane, shift, coefficients, planes, map, begin, end, 0);
        return true;
    }
    const PictureLayout row_layout = rowOf(output);
    uint8_t* band = threadBand(row_layout.bytes);
    if (band == nullptr) return false;
    const auto columns = static_cast<uint32_t>(layout.columns);
    forEachRow(columns, begin, end, [&](uint32_t row, uint32_t first, uint32_t from, uint32_t to) {
        // The row's blocks as a plane of their own: block indices counted from the row's first.
        for (int plane = 0; plane < 3; ++plane)
            scaledInverseTransformPlane(
                layout.edges[plane], shift,
                coefficients + layout.offsets[plane] + first * layout.blockBytes(plane),
                band + row_layout.offsets[plane], map + first, from - first, to - first, 0);
        convertRow(band, map, row, first, from, to);
    });
    return true;
}

bool FrameStages::smoothAndConvert(const uint8_t* map, uint32_t begin, uint32_t end) const {
    if (direct) {
        for (int plane = 0; plane < 3; ++plane)
            smoothBlocks(layout, plane, planes, image, map, begin, end, mark_edges);
        return true;
    }
    const PictureLayout row_layout = rowOf(layout);
    uint8_t* band = threadBand(row_layout.bytes);
    if (band == nullptr) return false;
    forEachRow(static_cast<uint32_t>(layout.columns), begin, end,
               [&](uint32_t row, uint32_t first, uint32_t from, uint32_t to) {
                   for (int plane = 0; plane < 3; ++plane)
                       smoothBlocksInto(layout, plane, planes, band + row_layout.offsets[plane], first, map,
                                        from, to, mark_edges);
                   convertRow(band, map, row, first, from, to);
               });
    return true;
}

}  // namespace zrc
