// The process-wide registry of devices: identifiers 1 to 128, lookup, stop and reuse of pooled objects.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>

#include "control/sockets.h"
#include "device/device.h"
#include "device/devicepool.h"

class DeviceManager {
public:
    static constexpr int32_t kMaxDevices = 128;

    static DeviceManager& instance();

    // showCommand: the Win32 show command each new window is first shown with (platform::SW_SHOWNORMAL).
    void init(int32_t showCommand);
    int32_t showCommand() const { return showCommand_; }

    // A pooled device with a provisional identifier (-1 when 128 are registered) and the given fields.
    Device* createDevice(const char host[32], uint32_t port, SOCKET socket, int32_t x, int32_t y,
                         int32_t width, int32_t height);
    // Reaps devices that ended by themselves, then gives the device its final identifier and registers it;
    // -1 when no identifier is free, else 0.
    int32_t addDevice(Device* device);
    // Clears the identifier and returns the device to the pool.
    void recycleDevice(Device* device);
    // The registered device, or the empty device (id -1) after logging the miss. Never null.
    Device* findDevice(int32_t id);
    // Recycles and unregisters a device (it must be stopped already); 1 and a log line when unknown, else 0.
    int32_t removeDevice(int32_t id);
    // Stops every registered device in ascending id order, empties the registry and returns the devices to
    // the pool. Returns 0.
    int32_t stopAll();

    DeviceManager() = default;
    ~DeviceManager();
    DeviceManager(const DeviceManager&) = delete;
    DeviceManager& operator=(const DeviceManager&) = delete;

private:
    // All three run with mutex_ held.
    int32_t allocateId() const;
    void recycle(Device* device);
    void reapStopped();

    std::atomic<int32_t> showCommand_ = 1;  // set once at start, read by window threads
    std::mutex mutex_;
    std::map<int32_t, Device*> devices_;  // guarded by mutex_
    DevicePool pool_;                     // guarded by mutex_
    Device emptyDevice_;
};
