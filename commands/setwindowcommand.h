#pragma once

#include "commands/qxcommand.h"

// 505: move and resize a device's window; replied by 506.
class SetWindowCommand : public QXCommand {
public:
    SetWindowCommand() : QXCommand(505, true) {}

    int serialize(StreamData& stream) override;
    // 0 when the window was moved; 1 for an unknown device; -1 without a window or when the move failed. The
    // rectangle is stored in the device in every case.
    int exec() override;
    int replyCommand(SOCKET socket, int result) override;

    int32_t deviceId = -1;
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};
