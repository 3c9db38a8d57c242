#include "device/displaywindow.h"

#include <cstdio>

#include "control/log.h"
#include "decoder/decodeandrender.h"
#include "device/device.h"
#include "input/touchcontroller.h"

namespace {

// Pixels a control-wheel step adds to or takes from both sides.
constexpr int32_t kWheelStep = 10;

}  // namespace

DisplayWindow::DisplayWindow(int32_t showCommand, Device* device)
    : showCommand_(showCommand), device_(device), workArea_(platform::desktopWorkArea()) {}

DisplayWindow::~DisplayWindow() = default;

int32_t DisplayWindow::run(int32_t x, int32_t y, int32_t width, int32_t height) {
    if (!open(x, y, width, height)) return 0;
    device_->windowReady();
    platform::Window* window = getHwnd();
    platform::Message message;
    // The loop ends only when getMessage says so, after which the window turns down every request from
    // other threads; leaving earlier would let a later SetWindow wait for a loop that is gone.
    while (window->getMessage(message)) {
        if (!device_->isRunning()) {
            window->quit();
            continue;
        }
        ProcessMessage(message.message, message.wParam, message.lParam);
    }
    return 0;
}

bool DisplayWindow::open(int32_t x, int32_t y, int32_t width, int32_t height) {
    const platform::Rect rect{x, y, width, height};
    {
        std::lock_guard lock(mutex_);
        rect_ = rect;
    }
    touchController_ =
        std::make_unique<TouchController>(device_->socket, device_->id, width, height, &device_->sendMutex);
    Device* device = device_;
    touchController_->setFrameWriter(
        [device](const uint8_t* frame, uint32_t length) { return device->send(frame, length); });
    touchController_->loadConfig();
    auto window = platform::Window::create(rect, platform::showStateFromCommand(showCommand_));
    if (!window) {
        std::fprintf(stderr, "错误: 窗口注册失败!\n");
        log_write(LOG_SYSTEM_ERROR, "%s 错误: 窗口注册失败!", "DisplayWindow::run");
        return false;
    }
    std::lock_guard lock(mutex_);
    window_ = std::move(window);
    if (quitRequested_) window_->quit();
    return true;
}

void DisplayWindow::quit() {
    std::lock_guard lock(mutex_);
    quitRequested_ = true;
    if (window_) window_->quit();
}

platform::Window* DisplayWindow::getHwnd() const {
    std::lock_guard lock(mutex_);
    return window_.get();
}

void DisplayWindow::setRenderer(DecodeAndRender* renderer) {
    std::lock_guard lock(mutex_);
    renderer_ = renderer;
}

platform::Rect DisplayWindow::rect() const {
    std::lock_guard lock(mutex_);
    return rect_;
}

bool DisplayWindow::setPosition(int32_t x, int32_t y, int32_t width, int32_t height) {
    const platform::Rect rect{x, y, width, height};
    {
        std::lock_guard lock(mutex_);
        rect_ = rect;
    }
    // The window may wait for its own thread to apply the move: never hold mutex_ across it.
    platform::Window* window = getHwnd();
    return window && window->setPosition(rect);
}

int32_t DisplayWindow::setWindow(int32_t x, int32_t y, int32_t width, int32_t height) {
    if (!setPosition(x, y, width, height)) return -1;
    forwardToRenderer(width, height, 0);
    return 0;
}

int32_t DisplayWindow::setState(int32_t state) {
    platform::Window* window = getHwnd();
    if (!window) return 0;
    const platform::Rect r = rect();
    switch (state) {
        case kStateRestore:
        case kStateShowNormal:
            window->setState(platform::ShowState::Normal);
            showsSize(r.width, r.height);
            break;
        case kStateMinimize:
            window->setState(platform::ShowState::Minimized);
            break;
        case kStateMaximize:
            window->setState(platform::ShowState::Maximized);
            showsSize(workArea_.width, workArea_.height);
            break;
        default:
            break;
    }
    return 0;
}

void DisplayWindow::rotate(int32_t angle) {
    const platform::Rect r = rect();
    setPosition(r.x, r.y, r.width, r.height);
    forwardToRenderer(r.width, r.height, angle);
}

void DisplayWindow::ProcessMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    switch (message) {
        case platform::WM_RBUTTONUP:
            rotate(nextRotationAngle());
            rotationStep_ = (rotationStep_ + 1) % 4;
            return;
        case platform::WM_MOUSEWHEEL:
            if (wParam & platform::MK_CONTROL) resizeByWheel(platform::wheelDelta(wParam));
            return;
        case platform::WM_SET_RENDERER: {
            auto* renderer = reinterpret_cast<DecodeAndRender*>(lParam);
            if (renderer) renderer->noticeTaken();
            setRenderer(renderer);
            return;
        }
        default:
            break;
    }
    if (!touchController_) return;
    const SOCKET socket = device_->socket;
    const platform::Rect r = rect();
    const int32_t x = platform::pointX(lParam);
    const int32_t y = platform::pointY(lParam);
    switch (message) {
        case platform::WM_KEYDOWN:
            touchController_->setKeyState(static_cast<uint32_t>(wParam), true);
            touchController_->handleKey(TouchController::kTouchDown);
            break;
        case platform::WM_KEYUP:
            touchController_->handleKey(TouchController::kTouchUp);
            touchController_->setKeyState(static_cast<uint32_t>(wParam), false);
            break;
        case platform::WM_LBUTTONDOWN:
            touchController_->sendScaledTouch(socket, TouchController::kTouchDown, x, y, r.width, r.height);
            touchController_->setMouseDown(true);
            break;
        case platform::WM_LBUTTONUP:
            touchController_->sendScaledTouch(socket, TouchController::kTouchUp, x, y, r.width, r.height);
            touchController_->setMouseDown(false);
            break;
        case platform::WM_MOUSEMOVE:
            if (touchController_->isMouseDown()) {
                touchController_->sendScaledTouch(socket, TouchController::kTouchMove, x, y, r.width,
                                                  r.height);
            }
            break;
        default:
            break;
    }
}

void DisplayWindow::resizeByWheel(int16_t delta) {
    platform::Rect r = rect();
    const int32_t workRight = workArea_.x + workArea_.width;
    const int32_t workBottom = workArea_.y + workArea_.height;
    if (delta > 0) {
        if (r.width <= workRight - kWheelStep && r.height <= workBottom - kWheelStep) {
            r.width += kWheelStep;
            r.height += kWheelStep;
        }
    } else if (r.width > kWheelStep && r.height > kWheelStep) {
        r.width -= kWheelStep;
        r.height -= kWheelStep;
    }
    setPosition(r.x, r.y, r.width, r.height);
    forwardToRenderer(r.width, r.height, 0);
}

void DisplayWindow::showsSize(int32_t width, int32_t height) {
    DecodeAndRender* renderer = nullptr;
    {
        std::lock_guard lock(mutex_);
        renderer = renderer_;
    }
    if (renderer) renderer->windowSized(width, height);
}

void DisplayWindow::forwardToRenderer(int32_t width, int32_t height, int32_t angle) {
    // Called without mutex_: the renderer takes its own lock, and it lives until the device is stopped.
    DecodeAndRender* renderer = nullptr;
    {
        std::lock_guard lock(mutex_);
        renderer = renderer_;
    }
    if (renderer) renderer->forwardWinMessage(0, 0, width, height, angle, 1);
}
