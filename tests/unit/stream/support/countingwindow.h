// A window in memory that nobody pumps: it counts what it is handed (pictures, the areas said to have
// changed, posted messages) and keeps the newest picture, as a window whose thread is stalled would.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/window.h"

class CountingWindow final : public platform::Window {
public:
    explicit CountingWindow(const platform::Rect& rect)
        : platform::Window(rect, platform::ShowState::Normal) {}
    bool getMessage(platform::Message&) override { return false; }
    void postMessage(const platform::Message&) override { ++posted; }
    void quit() override {}
    bool setPosition(const platform::Rect& rect) override {
        recordGeometry(rect);
        return true;
    }
    bool setState(platform::ShowState state) override {
        recordState(state);
        return true;
    }
    using platform::Window::present;
    void present(std::shared_ptr<const platform::Picture> picture, const platform::Rect& changed) override {
        ++presents;
        {
            std::lock_guard lock(mutex_);
            lastChanged_ = changed;
        }
        keepPicture(std::move(picture));
    }
    uint64_t nativeId() const override { return 0; }

    platform::Rect lastChanged() const {
        std::lock_guard lock(mutex_);
        return lastChanged_;
    }
    std::atomic<int> presents = 0;
    std::atomic<int> posted = 0;

private:
    mutable std::mutex mutex_;
    platform::Rect lastChanged_;  // guarded by mutex_
};
