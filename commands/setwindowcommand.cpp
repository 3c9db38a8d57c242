#include "commands/setwindowcommand.h"

#include "commands/replycommand.h"
#include "control/streamdata.h"
#include "device/devicemanager.h"

int SetWindowCommand::serialize(StreamData& stream) {
    // A reply to a frame that held no identifier names none (-1).
    const uint32_t id = stream.getUInt32();
    if (stream.ok()) deviceId = static_cast<int32_t>(id);
    x = static_cast<int32_t>(stream.getUInt32());
    y = static_cast<int32_t>(stream.getUInt32());
    width = static_cast<int32_t>(stream.getUInt32());
    height = static_cast<int32_t>(stream.getUInt32());
    return stream.ok() ? 0 : -1;
}

int SetWindowCommand::exec() {
    Device* device = DeviceManager::instance().findDevice(deviceId);
    if (!device->isValid()) return 1;
    device->x = x;
    device->y = y;
    device->width = width;
    device->height = height;
    return device->setWindow();
}

int SetWindowCommand::replyCommand(SOCKET socket, int result) {
    return SetWindowReplyCommand(socket, deviceId, result)
        .send("SetWindowCommand::replyCommand", "set window");
}
