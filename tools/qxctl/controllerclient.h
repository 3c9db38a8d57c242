// One connection to the client's control channel: sends requests and reads their replies.
#pragma once

#include <cstdint>

#include "control/sockets.h"
#include "tools/qxctl/request.h"

struct Reply {
    uint32_t code = 0;
    int32_t status = 0;
    int32_t deviceId = -1;
    bool hasDeviceId = false;  // every reply but Exit's carries one
};

class ControllerClient {
public:
    ControllerClient() = default;
    ~ControllerClient();
    ControllerClient(const ControllerClient&) = delete;
    ControllerClient& operator=(const ControllerClient&) = delete;

    // 0 when connected; -1 when the client cannot be reached.
    int open(const char* host, uint16_t port);
    // Sends the request and, when it has one, waits up to timeoutMs for its reply. 0 with *reply filled (or
    // untouched for a forward); -1 when the request could not be sent; -2 when no well-formed reply came.
    int call(const Request& request, Reply* reply, uint32_t timeoutMs);

private:
    SOCKET socket_ = INVALID_SOCKET;
};

// Reads a reply frame's fields out of its body (code, param and the words that follow): false when the body
// is too short for what its code carries.
bool parseReply(const uint8_t* body, uint32_t length, uint16_t reserved, Reply* reply);
