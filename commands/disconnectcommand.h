#pragma once

#include "commands/qxcommand.h"

// 503: stop and unregister one device; replied by 504.
class DisConnectCommand : public QXCommand {
public:
    DisConnectCommand() : QXCommand(503, true) {}

    int serialize(StreamData& stream) override;
    // 0; 1 for an unknown device; Device::stop's result when it failed.
    int exec() override;
    int replyCommand(SOCKET socket, int result) override;

    int32_t deviceId = -1;
};
