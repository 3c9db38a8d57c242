// A window without a display: keeps geometry, state and the newest picture in memory; input comes only from
// posted messages (tests inject them).
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/window.h"

namespace platform {

class HeadlessWindow final : public Window {
public:
    HeadlessWindow(const Rect& rect, ShowState initialState);

    bool getMessage(Message& out) override;
    void postMessage(const Message& message) override;
    void quit() override;
    bool setPosition(const Rect& rect) override;
    bool setState(ShowState state) override;
    using Window::present;
    void present(std::shared_ptr<const Picture> picture, const Rect& changed) override;
    uint64_t nativeId() const override { return 0; }

    // Paints as a window on a display does, into an image of the window's size kept in memory: nothing
    // happens until it is called, so a window nobody looks at costs no stretch. Returns the rectangle drawn.
    // Called from one thread at a time.
    Rect paint();
    // The image of the last paint: geometry's width x height pixels, 0x00RRGGBB, rows packed.
    const std::vector<uint32_t>& image() const { return image_; }

private:
    std::mutex mutex_;
    std::condition_variable changed_;  // signalled with mutex_ on a posted message or quit
    std::deque<Message> posted_;       // guarded by mutex_
    bool quit_ = false;                // guarded by mutex_
    std::vector<uint32_t> image_;      // paint()'s thread only
};

}  // namespace platform
