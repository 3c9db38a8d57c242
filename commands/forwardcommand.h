#pragma once

#include "commands/qxcommand.h"

// 110, 111, 113, 117, 270, 272: passed on to a device as a frame whose words are the received param and
// device identifier; no reply.
class ForwardCommand : public QXCommand {
public:
    ForwardCommand() : QXCommand(0, false) {}

    static bool forwards(uint32_t code);

    int serialize(StreamData& stream) override;
    // 0 when the frame went out whole; -1 when sending failed; 1 for an unknown device.
    int exec() override;

    int32_t deviceId = -1;
    const uint8_t* data = nullptr;  // the received param and device identifier, bytes as received
    uint32_t dataLength = 0;
};
