#pragma once

#include <cstdint>

#include "control/sockets.h"

class StreamData;

// A command received on the control channel, or a reply sent back on it. Each lives on the stack for one
// frame.
class QXCommand {
public:
    QXCommand(int32_t code, bool needReply) : code(code), needReply(needReply) {}
    virtual ~QXCommand() = default;

    // A command reads its payload from the stream standing after the two command words: 0, or -1 when the
    // payload is too short for the command's fields. A reply writes its whole frame.
    virtual int serialize(StreamData& stream) = 0;
    // A command does its work and returns its result; a reply sends its frame.
    virtual int exec() = 0;
    // Answers the controller after exec() when needReply is set; returns the bytes sent.
    virtual int replyCommand(SOCKET socket, int result);

    // Reads and runs one frame from the controller: -500 when no frame could be read, else the command's
    // result.
    static int process(SOCKET socket);
    // A frame must be whole this long after its first byte.
    static constexpr uint32_t kFrameLimitMs = 5000;
    // Reads one frame into buffer: the body length (> 0); -1 when the header could not be read; -2 when the
    // header is wrong, the body does not fit the buffer or arrives short; the length itself when it is
    // below 1. The whole frame must arrive within kFrameLimitMs.
    static int prepare(uint8_t* buffer, uint32_t size, SOCKET socket);
    // Dispatches one frame body (code, param, payload): the command's result; -1 for an unknown code or a
    // body too short for the command.
    static int run(uint8_t* body, uint32_t length, SOCKET socket);

    int32_t code;
    int32_t param = 0;  // a request's second word; a reply's status
    bool needReply;
};
