#include "avc/picturepool.h"

std::shared_ptr<platform::Picture> PicturePool::take(int32_t width, int32_t height,
                                                     platform::PixelFormat format) {
    std::shared_ptr<platform::Picture> picture;
    for (auto& spare : spares_) {
        // Only the pool holds it: the window has let go and nobody can take it back.
        if (spare.use_count() == 1) {
            picture = spare;
            break;
        }
    }
    if (!picture) {
        picture = std::make_shared<platform::Picture>();
        if (spares_.size() < kMaxSpares) spares_.push_back(picture);
    }
    picture->width = width;
    picture->height = height;
    picture->format = format;
    picture->pixels.resize(static_cast<size_t>(width) * height * 4 + kSlack);
    return picture;
}
