#include "avc/picturepool.h"

std::shared_ptr<platform::Picture> PicturePool::take(int32_t width, int32_t height,
                                                     platform::PixelFormat format) {
    Spare* spare = nullptr;
    for (Spare& candidate : spares_) {
        if (!candidate.lent->load(std::memory_order_acquire)) {
            spare = &candidate;
            break;
        }
    }
    if (!spare && spares_.size() < kMaxSpares) {
        spares_.push_back(
            {std::make_shared<platform::Picture>(), std::make_shared<std::atomic<bool>>(false)});
        spare = &spares_.back();
    }
    std::shared_ptr<platform::Picture> picture;
    if (spare) {
        spare->lent->store(true, std::memory_order_relaxed);  // only this thread reads it as true
        // The handed-out pointer keeps the picture alive by itself and gives it back when its last copy goes.
        picture = std::shared_ptr<platform::Picture>(
            spare->picture.get(), [keep = spare->picture, lent = spare->lent](platform::Picture*) {
                lent->store(false, std::memory_order_release);
            });
    } else {
        picture = std::make_shared<platform::Picture>();
    }
    picture->width = width;
    picture->height = height;
    picture->format = format;
    picture->pixels.resize(static_cast<size_t>(width) * height * 4 + kSlack);
    return picture;
}
