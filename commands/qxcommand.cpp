#include "commands/qxcommand.h"

#include <chrono>

#include "commands/changewindowcommand.h"
#include "commands/connectcommand.h"
#include "commands/disconnectcommand.h"
#include "commands/exitcommand.h"
#include "commands/forwardcommand.h"
#include "commands/setwindowcommand.h"
#include "control/controlloop.h"
#include "control/log.h"
#include "control/mrcp.h"
#include "control/streamdata.h"

namespace {

void logFrameTimeOut(const char* part) {
    log_write(LOG_USER_ERROR, "%s: Frame %s not whole within %u ms", "QXCommand::prepare", part,
              QXCommand::kFrameLimitMs);
}

// Reads the command's payload, executes it and answers. A payload too short for the command's fields is
// refused without executing; a replying command then answers with status -1.
int dispatch(QXCommand& command, int32_t code, int32_t param, StreamData& stream, SOCKET socket) {
    command.code = code;
    command.param = param;
    int result;
    if (command.serialize(stream) != 0) {
        log_write(LOG_USER_ERROR, "%s: Command %d payload too short", "QXCommand::run", code);
        result = -1;
    } else {
        result = command.exec();
    }
    if (command.needReply) command.replyCommand(socket, result);
    return result;
}

}  // namespace

int QXCommand::replyCommand(SOCKET, int) {
    return 0;
}

int QXCommand::process(SOCKET socket) {
    uint8_t buffer[MRCP_MAX_FRAME];
    int n = prepare(buffer, sizeof(buffer), socket);
    if (n > 0) {
        int result = run(buffer + MRCP_HEADER_SIZE, static_cast<uint32_t>(n), socket);
        if (result != 0) log_write(LOG_USER_ERROR, "Failed to run command");
        return result;
    }
    log_write(LOG_USER_ERROR, "Failed to get data from net.");
    return -500;
}

int QXCommand::prepare(uint8_t* buffer, uint32_t size, SOCKET socket) {
    if (size < MRCP_HEADER_SIZE) return -1;
    char* raw = reinterpret_cast<char*>(buffer);
    // The loop calls this once the first byte is there: from then on the whole frame gets kFrameLimitMs, so
    // a controller that stops mid-frame cannot hold the only control channel.
    const auto start = std::chrono::steady_clock::now();
    int got = RecvWithin(socket, raw, MRCP_HEADER_SIZE, kFrameLimitMs);
    if (got != static_cast<int>(MRCP_HEADER_SIZE)) {
        if (got == -2) logFrameTimeOut("header");
        return -1;
    }
    MrcpHeader header{};
    const bool ours = mrcp_read_header(buffer, &header);
    const uint32_t length = header.length;
    // A length the buffer cannot hold is a header fault like a wrong magic: the stream cannot be
    // resynchronised.
    if (!ours || (static_cast<int32_t>(length) > 0 && length > size - MRCP_HEADER_SIZE)) {
        log_write(LOG_USER_ERROR, "%s: <mrcp header>: magic 0x%x version %u reserved %u length %u",
                  "QXCommand::prepare", header.magic, header.version, header.reserved, length);
        return -2;
    }
    if (static_cast<int32_t>(length) < 1) return static_cast<int32_t>(length);
    const auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    const uint32_t left = spent >= kFrameLimitMs ? 1 : kFrameLimitMs - static_cast<uint32_t>(spent);
    got = RecvWithin(socket, raw + MRCP_HEADER_SIZE, static_cast<int>(length), left);
    if (got != static_cast<int>(length)) {
        if (got == -2) logFrameTimeOut("body");
        return -2;
    }
    return static_cast<int>(length);
}

int QXCommand::run(uint8_t* body, uint32_t length, SOCKET socket) {
    StreamData stream(body, length);
    const int32_t code = static_cast<int32_t>(stream.getUInt32());
    const int32_t param = static_cast<int32_t>(stream.getUInt32());
    if (!stream.ok()) {
        log_write(LOG_USER_ERROR, "%s: Frame body of %u bytes holds no command", "QXCommand::run", length);
        return -1;
    }
    log_write(LOG_USER_INFO, "%s: Command %d", "QXCommand::run", code);
    switch (code) {
        case 501: {
            ConnectCommand command;
            return dispatch(command, code, param, stream, socket);
        }
        case 503: {
            DisConnectCommand command;
            return dispatch(command, code, param, stream, socket);
        }
        case 505: {
            SetWindowCommand command;
            return dispatch(command, code, param, stream, socket);
        }
        case 507: {
            int result;
            {
                ExitCommand command;
                result = dispatch(command, code, param, stream, socket);
            }
            // Set once the reply is out: the control loop ends before its next wait.
            g_stop = 1;
            return result;
        }
        case 509: {
            ChangeWindowCommand command;
            return dispatch(command, code, param, stream, socket);
        }
        default:
            break;
    }
    if (!ForwardCommand::forwards(static_cast<uint32_t>(code))) return -1;
    ForwardCommand command;
    return dispatch(command, code, param, stream, socket);
}
