#include "commands/disconnectcommand.h"

#include "commands/replycommand.h"
#include "control/log.h"
#include "control/streamdata.h"
#include "device/devicemanager.h"

int DisConnectCommand::serialize(StreamData& stream) {
    // A reply to a frame that held no identifier names none (-1).
    const uint32_t id = stream.getUInt32();
    if (stream.ok()) deviceId = static_cast<int32_t>(id);
    return stream.ok() ? 0 : -1;
}

int DisConnectCommand::exec() {
    DeviceManager& manager = DeviceManager::instance();
    Device* device = manager.findDevice(deviceId);
    if (!device->isValid()) return 1;
    // Blocks until the device's threads have ended.
    int result = device->stop();
    if (result == 0) {
        manager.removeDevice(deviceId);
    } else {
        log_write(LOG_USER_ERROR, "stop device [id: %d] failed", deviceId);
    }
    return result;
}

int DisConnectCommand::replyCommand(SOCKET socket, int result) {
    return DisConnectReplyCommand(socket, deviceId, result)
        .send("DisConnectCommand::replyCommand", "disconnect");
}
