#include "device/device.h"

#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <system_error>

#include "control/log.h"
#include "decoder/decodeandrender.h"
#include "device/datareceiver.h"
#include "device/devicemanager.h"
#include "device/displaywindow.h"

void nameDeviceThread(int32_t id, const char* role) {
    char name[16];
    std::snprintf(name, sizeof name, "dev%d-%s", id, role);
    pthread_setname_np(pthread_self(), name);
}

int32_t Device::start() {
    running = 1;
    const int32_t showCommand = DeviceManager::instance().showCommand();
    std::lock_guard lock(threadsMutex_);
    try {
        threads_.emplace_back(&Device::windowThread, this, showCommand, x, y, width, height);
    } catch (const std::system_error& error) {
        log_write(LOG_SYSTEM_ERROR, "%s Create windowThread fail for dev id %d, %d", "Device::start", id,
                  error.code().value());
        return -1;
    }
    try {
        threads_.emplace_back(&Device::renderThread, this);
    } catch (const std::system_error& error) {
        log_write(LOG_SYSTEM_ERROR, "%s Create renderThread fail for dev id %d, %d", "Device::start", id,
                  error.code().value());
        return -1;
    }
    return 0;
}

int32_t Device::stop() {
    markStopped();
    if (socket != INVALID_SOCKET) shutdown(socket, SHUT_RDWR);
    joinThreads();
    if (socket != INVALID_SOCKET) {
        close(socket);
        socket = INVALID_SOCKET;
    }
    delete receiver;
    receiver = nullptr;
    delete window.exchange(nullptr);
    return 0;
}

void Device::markStopped() {
    running = 0;
    { std::lock_guard lock(stateMutex_); }
    stateChanged_.notify_all();
    if (DisplayWindow* displayWindow = window.load()) displayWindow->quit();
}

int32_t Device::send(const uint8_t* data, uint32_t length) {
    if (length > INT_MAX) return -1;
    const int size = static_cast<int>(length);
    std::lock_guard lock(sendMutex);
    return SendEx(socket, reinterpret_cast<const char*>(data), size, 0, NO_TIMEOUT) == size ? 0 : -1;
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
    if (receiver->ReceiveAndDec() != 0) {
        log_write(LOG_USER_INFO, "%s:%u createThreadReceiveAndDec success", "device", __LINE__);
    } else {
        log_write(LOG_USER_ERROR, "%s:%u createThreadReceiveAndDec fail", "device", __LINE__);
    }
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
