// A window without a display: keeps geometry, state and the newest picture in memory; input comes only from
// posted messages (tests inject them).
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

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
    void present(std::shared_ptr<const Picture> picture) override;
    uint64_t nativeId() const override { return 0; }

private:
    std::mutex mutex_;
    std::condition_variable changed_;  // signalled with mutex_ on a posted message or quit
    std::deque<Message> posted_;       // guarded by mutex_
    bool quit_ = false;                // guarded by mutex_
};

}  // namespace platform
