// zrc_render: the pixel stages (inverse transform, smoothing, conversion) for the blocks decoded since the
// last render, at full size or at a reduced scale, and the queries and settings around it.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "codec/changedruns.h"
#include "codec/conversion.h"
#include "codec/framestages.h"
#include "codec/handle.h"
#include "codec/picturelayout.h"

namespace zrc {
namespace {

// Changed pixels (luma, at full size) from which a render's passes are spread over the cores: 1/8 of a
// 1080p picture.
constexpr size_t kSpreadPixels = size_t{1} << 18;

bool isChroma420(uint32_t frame_format) {
    return frame_format >= ZRC_FRAME_YUV420A && frame_format <= ZRC_FRAME_YUV420B;
}

int scaledEdge(int size, int shift) {
    return (size + (1 << shift) - 1) >> shift;
}

// Marks in `around` the blocks of `pending` and their four neighbours: a block's smoothed edges read its
// neighbours, so when one changes, the blocks beside it are smoothed again too.
void markNeighbours(const uint8_t* pending, uint8_t* around, int columns, int rows) {
    const uint32_t mapsize = static_cast<uint32_t>(columns) * static_cast<uint32_t>(rows);
    std::memset(around, 0, mapsize);
    for (uint32_t b = nextChanged(pending, 0, mapsize); b < mapsize;
         b = nextChanged(pending, b + 1, mapsize)) {
        const int x = static_cast<int>(b % static_cast<uint32_t>(columns));
        const int y = static_cast<int>(b / static_cast<uint32_t>(columns));
        around[b] = 1;
        if (x > 0) around[b - 1] = 1;
        if (x + 1 < columns) around[b + 1] = 1;
        if (y > 0) around[b - columns] = 1;
        if (y + 1 < rows) around[b + columns] = 1;
    }
}

// The bounding rectangle of the marked blocks of edge `edge`, clipped to width x height.
void boundingArea(const uint8_t* map, int columns, int rows, int edge, int width, int height, int* area) {
    int left = columns, top = rows, right = -1, bottom = -1;
    const uint32_t mapsize = static_cast<uint32_t>(columns) * static_cast<uint32_t>(rows);
    for (uint32_t b = nextChanged(map, 0, mapsize); b < mapsize; b = nextChanged(map, b + 1, mapsize)) {
        const int x = static_cast<int>(b % static_cast<uint32_t>(columns));
        const int y = static_cast<int>(b / static_cast<uint32_t>(columns));
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
    }
    if (right < 0) {
        std::fill(area, area + 4, 0);
        return;
    }
    area[0] = left * edge;
    area[1] = top * edge;
    area[2] = std::min((right + 1) * edge, width) - area[0];
    area[3] = std::min((bottom + 1) * edge, height) - area[1];
}

}  // namespace

int renderLocked(ZrcHandle* handle, uint8_t* image, bool* wrote) {
    *wrote = false;
    const uint32_t format = handle->decoded_format;
    const uint32_t mapsize = handle->mapsize;
    if (format == 0 || handle->pending.size() != mapsize) return 0;  // no frame decoded since configure
    const int shift = handle->scale_shift;
    const int matrix = static_cast<int>(handle->matrix);
    const bool direct = handle->image_format == format;
    const bool smooth = shift == 0 && (handle->flags & ZRC_FLAG_SMOOTH) != 0;
    const bool mark_edges = (handle->flags & ZRC_FLAG_MARK_EDGES) != 0;
    const bool multicore = (handle->flags & ZRC_FLAG_MULTICORE) != 0;
    const int width = scaledEdge(handle->width, shift), height = scaledEdge(handle->height, shift);
    const PictureLayout layout =
        PictureLayout::of(matrix, handle->paddedWidth(), handle->paddedHeight(), isChroma420(format));
    const PictureLayout output = layout.scaled(shift);
    const int pixel_bytes = convertedPixelBytes(handle->image_format);
    if (!direct && (pixel_bytes == 0 || !convertibleFrame(format, matrix))) {
        zrc_log(ZRC_LOG_ERROR, "%s: [%u] Cannot convert frame format %#08X to image format %#08X", "ZRC",
                handle->last_id, format, handle->image_format);
        return -8;
    }

    // Planes made another way than the last render's hold nothing this one can build on.
    const uint64_t mode = uint64_t{format} | uint64_t{handle->image_format} << 16 | uint64_t(shift) << 48 |
                          uint64_t{smooth} << 52 | uint64_t{mark_edges} << 53;
    if (mode != handle->render_mode) handle->render_all = true;
    handle->render_mode = mode;
    uint8_t* pending = handle->pending.data();
    if (handle->render_all) {
        for (uint32_t b = 0; b < mapsize; ++b)
            pending[b] = static_cast<uint8_t>(4 + handle->rows[b]);
        handle->render_all = false;
    }

    // Full-size planes are kept only where the smoothing reads a changed block's neighbours; every other
    // plane is made a block row at a time and converted at once.
    const size_t held = handle->planes.size();
    if (!sizeBuffer(handle->planes, smooth ? layout.bytes : 0, "planes") ||
        !sizeBuffer(handle->converted, mapsize, "blocks"))
        return -6;
    if (handle->planes.empty()) handle->planes.shrink_to_fit();
    if (handle->planes.size() != held)
        zrc_log(ZRC_LOG_INFO, "%s: [%u] Render buffers at 1/%d: planes %zu", "ZRC", handle->last_id,
                1 << shift, handle->planes.size());
    const FrameStages stages{layout,
                             output,
                             shift,
                             handle->coefficients.data(),
                             smooth   ? handle->planes.data()
                             : direct ? image
                                      : nullptr,
                             smooth,
                             mark_edges,
                             image,
                             direct,
                             format,
                             handle->image_format,
                             width,
                             height};
    const size_t bytes =
        direct ? output.bytes
               : static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(pixel_bytes);

    ChangedRuns& runs = handle->changed_runs;
    runs.find(pending, mapsize);
    if (runs.changedBlocks() == 0) {
        std::fill(handle->area, handle->area + 4, 0);
        return static_cast<int>(bytes);
    }
    // Handing a pass to the other cores costs a thread wake-up, tens of microseconds on a virtual machine:
    // more than a few percent of a 1080p picture must have changed to gain from it.
    const bool spread = multicore && runs.changedBlocks() * layout.blockBytes(0) >= kSpreadPixels;
    // A block's conversion needs only that block's planes, so it runs in the same pass as the last stage
    // before it; the smoothing of a block needs its neighbours decoded, hence a pass of its own.
    std::atomic<bool> banded{true};
    runs.forEach(spread, [&](uint32_t begin, uint32_t end) {
        if (!stages.decode(pending, begin, end)) banded = false;
    });
    uint8_t* converted = handle->converted.data();
    if (smooth && banded) {
        markNeighbours(pending, converted, layout.columns, layout.rows);
        runs.find(converted, mapsize);
        runs.forEach(spread, [&](uint32_t begin, uint32_t end) {
            if (!stages.smoothAndConvert(converted, begin, end)) banded = false;
        });
    } else {
        std::memcpy(converted, pending, mapsize);
    }
    if (!banded) {
        // The blocks stay pending, to be made again by the next render.
        zrc_log(ZRC_LOG_ERROR, "%s: Allocate a block row of planes failed, memory not enough", "ZRC");
        return -6;
    }
    boundingArea(converted, layout.columns, layout.rows, output.edges[0], width, height, handle->area);
    std::memset(pending, 0, mapsize);
    *wrote = true;
    return static_cast<int>(bytes);
}

}  // namespace zrc

extern "C" int zrc_render(ZrcHandle* handle, void* image) {
    if (handle == nullptr || image == nullptr) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid handle or image", "ZRC");
        return -1;
    }
    std::lock_guard<std::mutex> lock(handle->lock);
    if (handle->mapsize == 0) {
        zrc_log(ZRC_LOG_ERROR, "%s: Render before the decoder is configured", "ZRC");
        return -5;
    }
    bool wrote = false;
    const int result = zrc::renderLocked(handle, static_cast<uint8_t*>(image), &wrote);
    return result < 0 || wrote ? result : 0;
}

extern "C" int zrc_set_decode_scale(ZrcHandle* handle, int shift) {
    if (handle == nullptr) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid handle", "ZRC");
        return -1;
    }
    if (shift < 0 || shift > 3) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid decode scale shift %d, allowed 0 to 3", "ZRC", shift);
        return -2;
    }
    std::lock_guard<std::mutex> lock(handle->lock);
    if (shift != handle->scale_shift) {
        handle->scale_shift = shift;
        handle->render_all = true;
        zrc_log(ZRC_LOG_INFO, "%s: Decode scale set to 1/%d", "ZRC", 1 << shift);
    }
    return 0;
}

extern "C" int zrc_rendered_area(ZrcHandle* handle, int* x, int* y, int* width, int* height) {
    if (handle == nullptr) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid handle", "ZRC");
        return -1;
    }
    std::lock_guard<std::mutex> lock(handle->lock);
    if (x != nullptr) *x = handle->area[0];
    if (y != nullptr) *y = handle->area[1];
    if (width != nullptr) *width = handle->area[2];
    if (height != nullptr) *height = handle->area[3];
    return 0;
}
