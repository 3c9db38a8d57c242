#include "device/device.h"

#include <cstdio>
#include <system_error>

#include "control/log.h"
#include "decoder/decodeandrender.h"
#include "device/datareceiver.h"
#include "device/devicemanager.h"
#include "device/displaywindow.h"
#include "platform/threadname.h"

void nameDeviceThread(int32_t id, const char* role) {
    char name[16];
    std::snprintf(name, sizeof name, "dev%d-%s", id, role);
    platform::setThreadName(name);
}

int32_t Device::startSending() {
    // A device taken again from the pool needs a fresh one: the last stop left it readable.
    if (!stopWake.open()) {
        log_write(LOG_SYSTEM_ERROR, "%s Create stop wake-up fail for dev id %d, %d", "Device::start", id,
                  net::lastError());
        return -1;
    }
    running = 1;
    std::lock_guard lock(threadsMutex_);
    try {
        threads_.emplace_back(&Device::sendThread, this);
    } catch (const std::system_error& error) {
        log_write(LOG_SYSTEM_ERROR, "%s Create %s fail for dev id %d, %d", "Device::start", "sendThread", id,
                  error.code().value());
        markStopped();
        return -1;
    }
    return 0;
}

int32_t Device::start() {
    if (startSending() != 0) return -1;
    const int32_t showCommand = DeviceManager::instance().showCommand();
    std::lock_guard lock(threadsMutex_);
    const char* role = "windowThread";
    try {
        threads_.emplace_back(&Device::windowThread, this, showCommand, x.load(), y.load(), width.load(),
                              height.load());
        role = "renderThread";
        threads_.emplace_back(&Device::renderThread, this);
    } catch (const std::system_error& error) {
        log_write(LOG_SYSTEM_ERROR, "%s Create %s fail for dev id %d, %d", "Device::start", role, id,
                  error.code().value());
        // The threads that did start end on their own; stop() joins them.
        markStopped();
        return -1;
    }
    return 0;
}

int32_t Device::stop() {
    markStopped();
    if (socket != INVALID_SOCKET) net::shutdownBoth(socket);
    joinThreads();
    if (socket != INVALID_SOCKET) {
        net::closeSocket(socket);
        socket = INVALID_SOCKET;
    }
    delete receiver;
    receiver = nullptr;
    delete window.exchange(nullptr);
    std::lock_guard lock(queueMutex_);
    queue_.clear();
    queueFullLogged_ = false;
    return 0;
}

void Device::markStopped() {
    running = 0;
    stopWake.wake();
    { std::lock_guard lock(stateMutex_); }
    stateChanged_.notify_all();
    { std::lock_guard lock(queueMutex_); }
    queueChanged_.notify_all();
    if (DisplayWindow* displayWindow = window.load()) displayWindow->quit();
}

int32_t Device::send(const uint8_t* data, uint32_t length) {
    std::lock_guard lock(queueMutex_);
    if (!isRunning()) return -1;
    if (length > kMaxQueuedBytes - queue_.size()) {
        if (!queueFullLogged_)
            log_write(LOG_USER_ERROR, "%s dev id %d: %zu bytes wait for the device, frame refused",
                      "Device::send", id, queue_.size());
        queueFullLogged_ = true;
        return -1;
    }
    queue_.insert(queue_.end(), data, data + length);
    queueChanged_.notify_one();
    return 0;
}

void Device::sendThread() {
    nameDeviceThread(id, "send");
    std::vector<uint8_t> frames;
    for (;;) {
        {
            std::unique_lock lock(queueMutex_);
            queueChanged_.wait(lock, [&] { return !isRunning() || !queue_.empty(); });
            if (!isRunning()) return;
            frames.swap(queue_);
            queue_.clear();
            queueFullLogged_ = false;
        }
        const int size = static_cast<int>(frames.size());
        int sent;
        {
            std::lock_guard lock(sendMutex);
            // The limit bounds each wait for room: a device that reads, however slowly, keeps its frames. A
            // stop ends the wait at once.
            sent = SendExOrWake(socket, reinterpret_cast<const char*>(frames.data()), size, kSendLimitMs,
                                stopWake.handle());
        }
        if (sent != size) {
            if (!isRunning()) return;  // stopped meanwhile: the stop ended the write
            if (sent == 0) {
                log_write(LOG_USER_ERROR, "%s dev id %d does not read: took nothing for %u ms, stopping",
                          "Device::sendThread", id, kSendLimitMs);
            } else {
                log_write(LOG_SYSTEM_ERROR, "%s dev id %d send fail %d, stopping", "Device::sendThread", id,
                          net::lastError());
            }
            // As when the device closes: every thread ends by itself and stop() joins them later. Shutting
            // the socket down wakes the stream receiver.
            markStopped();
            net::shutdownBoth(socket);
            return;
        }
        frames.clear();
    }
}

int32_t Device::setWindow() {
    DisplayWindow* displayWindow = window.load();
    if (!displayWindow) return -1;
    return displayWindow->setWindow(x, y, width, height);
}

int32_t Device::changeWindow(int32_t state) {
    DisplayWindow* displayWindow = window.load();
    if (!displayWindow) return -1;
    displayWindow->setState(state);
    return 0;
}

void Device::addThread(std::thread thread) {
    std::lock_guard lock(threadsMutex_);
    threads_.push_back(std::move(thread));
}

void Device::windowReady() {
    { std::lock_guard lock(stateMutex_); }
    stateChanged_.notify_all();
}

void Device::windowThread(int32_t showCommand, int32_t x, int32_t y, int32_t width, int32_t height) {
    nameDeviceThread(id, "window");
    auto* displayWindow = new DisplayWindow(showCommand, this);
    window.store(displayWindow);
    // A stop that came before the store found no window to wake. Both flags are sequentially consistent,
    // so either that stop sees the window or this check sees the stop.
    if (!isRunning()) displayWindow->quit();
    displayWindow->run(x, y, width, height);
}

void Device::renderThread() {
    nameDeviceThread(id, "render");
    platform::Window* hwnd = waitForWindow();
    if (!hwnd) return;
    log_write(LOG_USER_INFO, "%s dev.hwd not null can initial the decoder %p", "Device::renderThread",
              static_cast<void*>(hwnd));
    receiveStream(hwnd);
}

platform::Window* Device::waitForWindow() {
    platform::Window* hwnd = nullptr;
    std::unique_lock lock(stateMutex_);
    stateChanged_.wait(lock, [&] {
        if (!isRunning()) return true;
        DisplayWindow* displayWindow = window.load();
        hwnd = displayWindow ? displayWindow->getHwnd() : nullptr;
        return hwnd != nullptr;
    });
    return isRunning() ? hwnd : nullptr;
}

void Device::receiveStream(platform::Window* hwnd) {
    receiver = new DataReceiver(this);
    receiver->renderer()->setHwnd(hwnd);
    // A failed set-up was logged where it failed.
    if (receiver->ReceiveAndDec() != 0)
        log_write(LOG_USER_INFO, "%s:%u createThreadReceiveAndDec success", "device", __LINE__);
}

void Device::joinThreads() {
    // The render thread may append the decode thread while the window thread is joined: take one at a time.
    for (;;) {
        std::thread thread;
        {
            std::lock_guard lock(threadsMutex_);
            if (threads_.empty()) return;
            thread = std::move(threads_.front());
            threads_.erase(threads_.begin());
        }
        if (thread.joinable()) thread.join();
    }
}
