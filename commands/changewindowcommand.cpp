#include "commands/changewindowcommand.h"

#include "commands/replycommand.h"
#include "control/streamdata.h"
#include "device/devicemanager.h"

int ChangeWindowCommand::serialize(StreamData& stream) {
    // A reply to a frame that held no identifier names none (-1).
    const uint32_t id = stream.getUInt32();
    if (stream.ok()) deviceId = static_cast<int32_t>(id);
    state = static_cast<int32_t>(stream.getUInt32());
    return stream.ok() ? 0 : -1;
}

int ChangeWindowCommand::exec() {
    Device* device = DeviceManager::instance().findDevice(deviceId);
    if (!device->isValid()) return -1;
    device->changeWindow(state);
    return 0;
}

int ChangeWindowCommand::replyCommand(SOCKET socket, int result) {
    return ChangeWindowReplyCommand(socket, deviceId, result)
        .send("ChangeWindowCommand::replyCommand", "change window");
}
