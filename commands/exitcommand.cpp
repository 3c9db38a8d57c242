#include "commands/exitcommand.h"

#include "commands/replycommand.h"
#include "device/devicemanager.h"

int ExitCommand::serialize(StreamData&) {
    return 0;
}

int ExitCommand::exec() {
    return DeviceManager::instance().stopAll();
}

int ExitCommand::replyCommand(SOCKET socket, int result) {
    return ExitReplyCommand(socket, result).send("ExitCommand::replyCommand", "exit");
}
