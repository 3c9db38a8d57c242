#pragma once

#include "commands/qxcommand.h"

// A reply frame to the controller: header with the low 16 bits of the status in the reserved field, then the
// words of writePayload.
class ReplyCommand : public QXCommand {
public:
    // A positive result (1 is a failure for several commands) becomes a negative status.
    ReplyCommand(SOCKET socket, int32_t deviceId, int result, int32_t code);

    int serialize(StreamData& stream) override;
    int exec() override;
    // Builds and sends the frame; on failure logs "<tag> Reply <what> command failed [sent]". Returns the
    // bytes sent (0 or -1 on failure).
    int send(const char* tag, const char* what);

    int32_t deviceId;
    SOCKET socket;
    uint8_t* frame = nullptr;
    uint32_t frameLength = 0;

protected:
    virtual void writePayload(StreamData& stream) = 0;
};

class ConnectReplyCommand : public ReplyCommand {
public:
    ConnectReplyCommand(SOCKET socket, int32_t deviceId, int result)
        : ReplyCommand(socket, deviceId, result, 502) {}

protected:
    void writePayload(StreamData& stream) override;  // code, 0, deviceId: the status is in the header only
};

// The replies that carry code, status and the device identifier.
class DeviceReplyCommand : public ReplyCommand {
public:
    using ReplyCommand::ReplyCommand;

protected:
    void writePayload(StreamData& stream) override;
};

class DisConnectReplyCommand : public DeviceReplyCommand {
public:
    DisConnectReplyCommand(SOCKET socket, int32_t deviceId, int result)
        : DeviceReplyCommand(socket, deviceId, result, 504) {}
};

class SetWindowReplyCommand : public DeviceReplyCommand {
public:
    SetWindowReplyCommand(SOCKET socket, int32_t deviceId, int result)
        : DeviceReplyCommand(socket, deviceId, result, 506) {}
};

class ChangeWindowReplyCommand : public DeviceReplyCommand {
public:
    ChangeWindowReplyCommand(SOCKET socket, int32_t deviceId, int result)
        : DeviceReplyCommand(socket, deviceId, result, 510) {}
};

class ExitReplyCommand : public ReplyCommand {
public:
    ExitReplyCommand(SOCKET socket, int result) : ReplyCommand(socket, -1, result, 508) {}

protected:
    void writePayload(StreamData& stream) override;  // code, status
};
