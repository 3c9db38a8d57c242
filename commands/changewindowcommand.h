#pragma once

#include "commands/qxcommand.h"

// 509: change a device window's show state (0 restore and raise, 1 minimise, 2 maximise, 3 show normally);
// replied by 510.
class ChangeWindowCommand : public QXCommand {
public:
    ChangeWindowCommand() : QXCommand(509, true) {}

    int serialize(StreamData& stream) override;
    // 0, also when the device has no window yet; -1 for an unknown device.
    int exec() override;
    int replyCommand(SOCKET socket, int result) override;

    int32_t deviceId = -1;
    int32_t state = 0;
};
