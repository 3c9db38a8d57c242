// Handle lifetime, configuration and settings.
#include "codec/handle.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace zrc {
namespace {

constexpr unsigned kBuild = 2511;

uint32_t bitsForImageFormat(uint32_t format) {
    if (format >= 9 && format <= 32) return 16;
    if ((format >= 33 && format <= 38) || format == 0x8C) return 24;
    if ((format >= 39 && format <= 62) || format == 0x88) return 32;
    if (format >= 0x8D && format <= 0x8F) return 12;
    return 0;
}

uint32_t span(int size, int matrix) {
    return size % matrix == 0 ? 0 : static_cast<uint32_t>(matrix - size % matrix);
}

uint8_t* allocate(size_t size) {
    return static_cast<uint8_t*>(std::calloc(size, 1));
}

// Allocates the maps, and the work buffers when asked, for the stored geometry; on failure frees everything
// and returns the configure result.
int allocateBuffers(ZrcHandle* handle, bool work) {
    const size_t time_size = handle->mapsize + 32u;
    handle->time_map = allocate(time_size);
    if (handle->time_map == nullptr) {
        zrc_log(ZRC_LOG_ERROR,
                "%s: Allocate %u bytes memory for predictions in time dimensions failed, memory not enough",
                "ZRC", static_cast<unsigned>(time_size));
        freeBuffers(handle);
        return -4;
    }
    std::memset(handle->time_map, 1, time_size);
    const size_t space_size = static_cast<size_t>(handle->mapsize) * 4 + 128;
    handle->space_map = allocate(space_size);
    if (handle->space_map == nullptr) {
        zrc_log(ZRC_LOG_ERROR,
                "%s: Allocate %u bytes memory for prediction in space dimensions failed, memory not enough",
                "ZRC", static_cast<unsigned>(space_size));
        freeBuffers(handle);
        return -5;
    }
    const size_t first_size = handle->paddedPixels() * 4 + 4096;
    for (int i = 0; work && i < 8; ++i) {
        handle->work[i] = allocate(i == 0 ? first_size : handle->workSize());
        if (handle->work[i] == nullptr) {
            zrc_log(ZRC_LOG_ERROR, "%s: Allocate %u*%u bytes memory failed, memory not enough", "ZRC",
                    static_cast<unsigned>(first_size), 8u);
            freeBuffers(handle);
            return -6;
        }
    }
    return 0;
}

}  // namespace

void freeBuffers(ZrcHandle* handle) {
    for (uint8_t*& buffer : handle->work) {
        std::free(buffer);
        buffer = nullptr;
    }
    std::free(handle->time_map);
    handle->time_map = nullptr;
    std::free(handle->space_map);
    handle->space_map = nullptr;
    handle->mapsize = 0;
    for (std::vector<uint8_t>* buffer : {&handle->unpacked, &handle->coefficients, &handle->planes,
                                         &handle->pending, &handle->rows, &handle->converted}) {
        buffer->clear();
        buffer->shrink_to_fit();
    }
    handle->decoded_format = 0;
    handle->render_all = true;
    std::fill(handle->area, handle->area + 4, 0);  // what was drawn belongs to the picture let go
}

bool sizeBuffer(std::vector<uint8_t>& buffer, size_t bytes, const char* what) {
    try {
        buffer.resize(bytes);
    } catch (const std::bad_alloc&) {
        zrc_log(ZRC_LOG_ERROR, "%s: Allocate %zu bytes memory for %s failed, memory not enough", "ZRC", bytes,
                what);
        return false;
    }
    return true;
}

}  // namespace zrc

extern "C" ZrcHandle* zrc_create(void) {
    zrc_log(ZRC_LOG_INFO, "%s: version=%u.%u.%u.%u", "ZRC", 2u, 0u, 12u, zrc::kBuild);
    ZrcHandle* handle = new (std::nothrow) ZrcHandle;
    if (handle == nullptr) zrc_log(ZRC_LOG_ERROR, "%s: Memory not enough", "ZRC");
    return handle;
}

extern "C" int zrc_configure(ZrcHandle* handle, int matrix, int width, int height, uint32_t image_format) {
    return zrc::configure(handle, matrix, width, height, image_format, true);
}

int zrc::configure(ZrcHandle* handle, int matrix, int width, int height, uint32_t image_format,
                   bool encoder_buffers) {
    if (handle == nullptr) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid handle", "ZRC");
        return -1;
    }
    if (matrix != 0 && matrix != 8 && matrix != 16 && matrix != 32) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid matrix %d", "ZRC", matrix);
        return -2;
    }
    // Sizes outside the frame limits would overflow the buffer arithmetic.
    if (width < 1 || height < 1 || width > ZRC_MAX_EDGE || height > ZRC_MAX_EDGE) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid size %d*%d, allowed 1*1 to %u*%u", "ZRC", width, height,
                ZRC_MAX_EDGE, ZRC_MAX_EDGE);
        return -2;
    }
    if (matrix == 0) matrix = 8;
    std::unique_lock<std::mutex> lock(handle->lock);
    zrc::freeBuffers(handle);
    handle->matrix = static_cast<uint32_t>(matrix);
    handle->width = width;
    handle->height = height;
    handle->command = 1;
    handle->xspan = zrc::span(width, matrix);
    handle->yspan = zrc::span(height, matrix);
    if (image_format != 0) handle->image_format = image_format;
    handle->image_bits = zrc::bitsForImageFormat(handle->image_format);
    if (handle->image_bits == 0) {
        zrc_log(ZRC_LOG_ERROR, "%s: Unrecognized image format %08X", "ZRC", handle->image_format);
        return -3;
    }
    handle->image_length = static_cast<uint32_t>(static_cast<uint64_t>(handle->image_bits) *
                                                 static_cast<uint64_t>(width * height) / 8);
    handle->diff_type = 0;
    handle->mapsize =
        static_cast<uint32_t>(((width + matrix - 1) / matrix) * ((height + matrix - 1) / matrix));
    int result = zrc::allocateBuffers(handle, encoder_buffers);
    if (result != 0) return result;
    lock.unlock();
    zrc_log(ZRC_LOG_INFO,
            "%s: Configured width=%d height=%d xspan=%u yspan=%u matrix=%u mapsize=%u image_format=%#08X "
            "image_length=%u",
            "ZRC", width, height, handle->xspan, handle->yspan, handle->matrix, handle->mapsize,
            handle->image_format, handle->image_length);
    return 0;
}

extern "C" int zrc_configure_rgb(ZrcHandle* handle, int matrix, int width, int height, int red_shift,
                                 int green_shift, int blue_shift) {
    struct Layout {
        int red, green, blue;
        uint32_t format;
    };
    static constexpr Layout kLayouts[] = {{16, 8, 0, 39}, {0, 8, 16, 44}, {11, 5, 0, 9},
                                          {10, 5, 0, 15}, {0, 5, 11, 14}, {0, 5, 10, 20}};
    if (handle == nullptr) return zrc_configure(handle, matrix, width, height, 0);
    int result = -1;
    bool known = false;
    for (const Layout& layout : kLayouts) {
        if (layout.red == red_shift && layout.green == green_shift && layout.blue == blue_shift) {
            result = zrc_configure(handle, matrix, width, height, layout.format);
            known = true;
        }
    }
    if (!known) {
        zrc_log(ZRC_LOG_ERROR, "%s: Unsupported colour layout red=%d green=%d blue=%d", "ZRC", red_shift,
                green_shift, blue_shift);
    }
    uint32_t flags;
    {
        std::lock_guard<std::mutex> lock(handle->lock);
        flags = handle->flags;
    }
    zrc_log(ZRC_LOG_INFO,
            (flags & ZRC_FLAG_MULTICORE) ? "%s: Multiple CPU core mode" : "%s: Single CPU core mode", "ZRC");
    return result;
}

namespace {

// Runs `change` on the handle under its lock; a null handle is logged and refused.
template <typename Change>
int withHandle(ZrcHandle* handle, Change change) {
    if (handle == nullptr) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid handle", "ZRC");
        return -1;
    }
    std::lock_guard<std::mutex> lock(handle->lock);
    return change(*handle);
}

}  // namespace

extern "C" int zrc_set_flags(ZrcHandle* handle, uint32_t bits) {
    return withHandle(handle, [&](ZrcHandle& h) {
        h.flags |= bits;
        return 0;
    });
}

extern "C" int zrc_clear_flags(ZrcHandle* handle, uint32_t bits) {
    return withHandle(handle, [&](ZrcHandle& h) {
        h.flags &= ~bits;
        return 0;
    });
}

extern "C" int zrc_set_decode_image_format(ZrcHandle* handle, uint32_t format) {
    return withHandle(handle, [&](ZrcHandle& h) {
        zrc_log(ZRC_LOG_DEBUG, "%s: Set decode image format from %#08X to %#08X...", "ZRC", h.image_format,
                format);
        if (format == 0) {
            zrc_log(ZRC_LOG_DEBUG, "%s: Set decode image format failed, invalid format %#08X", "ZRC", format);
            return -2;
        }
        h.image_format = format;
        return 0;
    });
}

extern "C" int zrc_set_decode_image_bits(ZrcHandle* handle, uint32_t bits) {
    return withHandle(handle, [&](ZrcHandle& h) {
        zrc_log(ZRC_LOG_DEBUG, "%s: Set decode image bits from %u to %u...", "ZRC", h.image_bits, bits);
        if (bits == 0) {
            zrc_log(ZRC_LOG_DEBUG, "%s: Set decode image bits failed, invalid bits %u", "ZRC", bits);
            return -2;
        }
        h.image_bits = bits;
        return 0;
    });
}

extern "C" int zrc_set_encode_quality(ZrcHandle* handle, uint32_t quality) {
    return withHandle(handle, [&](ZrcHandle& h) {
        zrc_log(ZRC_LOG_DEBUG, "%s: Set encode quality from %u to %u...", "ZRC", h.quality, quality);
        if (quality != h.quality) h.encode_quality = quality;
        return 0;
    });
}

extern "C" int zrc_set_encode_frame_format(ZrcHandle* handle, uint32_t format) {
    return withHandle(handle, [&](ZrcHandle& h) {
        zrc_log(ZRC_LOG_DEBUG, "%s: Set encode frame format from %#08X to %#08X...", "ZRC", h.frame_format,
                format);
        if (format == 0) {
            zrc_log(ZRC_LOG_DEBUG, "%s: Set encode frame format failed, invalid format %#08X", "ZRC", format);
            return -2;
        }
        if (format != h.frame_format) h.encode_frame_format = format;
        return 0;
    });
}

extern "C" int zrc_reset_encoder(ZrcHandle* handle) {
    return withHandle(handle, [&](ZrcHandle& h) {
        zrc_log(ZRC_LOG_DEBUG, "%s: Reset encoder...", "ZRC");
        h.diff_type = 0;
        return 0;
    });
}

extern "C" uint32_t zrc_version(void) {
    return ZRC_VERSION;
}

extern "C" void zrc_release(ZrcHandle* handle) {
    if (handle == nullptr) {
        zrc_log(ZRC_LOG_ERROR, "%s: Invalid handle", "ZRC");
        return;
    }
    zrc_stop(handle);  // a worker left running would use the buffers freed here
    zrc::freeBuffers(handle);
    delete handle;
}
