#include "commands/replycommand.h"

#include "control/log.h"
#include "control/mrcp.h"
#include "control/streamdata.h"

ReplyCommand::ReplyCommand(SOCKET socket, int32_t deviceId, int result, int32_t code)
    : QXCommand(code, false), deviceId(deviceId), socket(socket) {
    param = result < 1 ? result : -result;
}

int ReplyCommand::serialize(StreamData& stream) {
    stream.skip(MRCP_HEADER_SIZE);
    writePayload(stream);
    frame = stream.data();
    frameLength = 0;  // nothing to send unless the whole frame fitted
    if (!stream.ok()) return -1;
    frameLength = stream.length();
    mrcp_build_header(frame, frameLength - MRCP_HEADER_SIZE, static_cast<uint16_t>(param));
    return 0;
}

int ReplyCommand::exec() {
    // Bounded like a request, so a controller that no longer reads cannot hold the control thread.
    return SendWithin(socket, reinterpret_cast<const char*>(frame), static_cast<int>(frameLength),
                      kFrameLimitMs);
}

int ReplyCommand::send(const char* tag, const char* what) {
    uint8_t buffer[MRCP_MAX_FRAME];
    StreamData stream(buffer, sizeof(buffer));
    serialize(stream);
    int sent = exec();
    if (sent < 1) log_write(LOG_USER_ERROR, "%s Reply %s command failed [%d]", tag, what, sent);
    return sent;
}

void ConnectReplyCommand::writePayload(StreamData& stream) {
    stream.putUInt32(static_cast<uint32_t>(code));
    stream.putUInt32(0);
    stream.putUInt32(static_cast<uint32_t>(deviceId));
}

void DeviceReplyCommand::writePayload(StreamData& stream) {
    stream.putUInt32(static_cast<uint32_t>(code));
    stream.putUInt32(static_cast<uint32_t>(param));
    stream.putUInt32(static_cast<uint32_t>(deviceId));
}

void ExitReplyCommand::writePayload(StreamData& stream) {
    stream.putUInt32(static_cast<uint32_t>(code));
    stream.putUInt32(static_cast<uint32_t>(param));
}
