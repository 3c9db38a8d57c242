#pragma once

#include "commands/qxcommand.h"

// 507: stop every device; replied by 508, after which the control loop ends.
class ExitCommand : public QXCommand {
public:
    ExitCommand() : QXCommand(507, true) {}

    int serialize(StreamData& stream) override;
    int exec() override;
    int replyCommand(SOCKET socket, int result) override;
};
