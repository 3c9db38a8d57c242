#include "device/devicemanager.h"

#include <cstring>

#include "control/log.h"

DeviceManager& DeviceManager::instance() {
    static DeviceManager manager;
    return manager;
}

// Devices still running when the process ends are stopped, so no device thread outlives the registry.
DeviceManager::~DeviceManager() {
    stopAll();
}

void DeviceManager::init(int32_t showCommand) {
    showCommand_ = showCommand;
}

Device* DeviceManager::createDevice(const char host[32], uint32_t port, SOCKET socket, int32_t x, int32_t y,
                                    int32_t width, int32_t height) {
    std::lock_guard lock(mutex_);
    Device* device = pool_.acquire();
    device->id = allocateId();
    std::memcpy(device->host, host, sizeof device->host);
    device->host[sizeof device->host - 1] = '\0';
    device->port = port;
    device->socket = socket;
    device->x = x;
    device->y = y;
    device->width = width;
    device->height = height;
    return device;
}

int32_t DeviceManager::addDevice(Device* device) {
    std::lock_guard lock(mutex_);
    reapStopped();
    const int32_t id = allocateId();
    if (id == -1) return -1;
    device->id = id;
    devices_[id] = device;
    return 0;
}

void DeviceManager::recycleDevice(Device* device) {
    std::lock_guard lock(mutex_);
    recycle(device);
}

Device* DeviceManager::findDevice(int32_t id) {
    std::lock_guard lock(mutex_);
    const auto it = devices_.find(id);
    if (it != devices_.end()) return it->second;
    log_write(LOG_USER_ERROR, "device [id: %d] not found.", id);
    return &emptyDevice_;
}

int32_t DeviceManager::removeDevice(int32_t id) {
    std::lock_guard lock(mutex_);
    const auto it = devices_.find(id);
    if (it == devices_.end()) {
        log_write(LOG_USER_ERROR, "device [id: %d] not found.", id);
        return 1;
    }
    recycle(it->second);
    devices_.erase(it);
    return 0;
}

int32_t DeviceManager::stopAll() {
    std::map<int32_t, Device*> stopping;
    {
        std::lock_guard lock(mutex_);
        stopping.swap(devices_);
    }
    // Stopping joins each device's threads; none of them takes the registry lock, but there is no need to
    // hold it that long.
    for (auto& [id, device] : stopping)
        device->stop();
    std::lock_guard lock(mutex_);
    for (auto& [id, device] : stopping)
        recycle(device);
    return 0;
}

void DeviceManager::recycle(Device* device) {
    device->id = -1;
    pool_.release(device);
}

void DeviceManager::reapStopped() {
    for (auto it = devices_.begin(); it != devices_.end();) {
        Device* device = it->second;
        if (device->isRunning()) {
            ++it;
            continue;
        }
        device->stop();
        recycle(device);
        it = devices_.erase(it);
    }
}

int32_t DeviceManager::allocateId() const {
    const int32_t count = static_cast<int32_t>(devices_.size());
    if (count >= kMaxDevices) return -1;
    int32_t candidate = count + 1;
    while (devices_.count(candidate))
        candidate = candidate >= kMaxDevices ? 1 : candidate + 1;
    return candidate;
}
