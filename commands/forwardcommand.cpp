#include "commands/forwardcommand.h"

#include "control/mrcp.h"
#include "control/streamdata.h"
#include "device/devicemanager.h"

bool ForwardCommand::forwards(uint32_t code) {
    switch (code) {
        case 110:
        case 111:
        case 113:
        case 117:
        case 270:
        case 272:
            return true;
        default:
            return false;
    }
}

int ForwardCommand::serialize(StreamData& stream) {
    deviceId = static_cast<int32_t>(stream.getUInt32());
    if (!stream.ok()) return -1;
    // From the param word (4 bytes into the body) to the device identifier's end; further bytes stay behind.
    data = stream.data() + 4;
    dataLength = stream.length() - 4;
    return 0;
}

int ForwardCommand::exec() {
    Device* device = DeviceManager::instance().findDevice(deviceId);
    if (!device->isValid()) return 1;
    uint8_t buffer[MRCP_MAX_FRAME];
    StreamData frame(buffer, sizeof(buffer));
    frame.skip(MRCP_HEADER_SIZE);
    frame.putBytes(data, dataLength);
    if (!frame.ok()) return -1;
    mrcp_build_header(buffer, dataLength, static_cast<uint16_t>(param));
    return device->send(frame.data(), frame.length());
}
