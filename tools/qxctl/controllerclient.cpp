#include "tools/qxctl/controllerclient.h"

#include "control/mrcp.h"
#include "control/streamdata.h"

namespace {

// How long the client may take to notice that the controller left.
constexpr uint32_t kLeaveTimeoutMs = 2000;

}  // namespace

ControllerClient::~ControllerClient() {
    if (socketValue(socket_) < 0) return;
    // The client serves one controller at a time and turns away a newcomer while the last one is still
    // connected: leave only once the client has closed its end, so that the next qxctl is served.
    net::shutdownSend(socket_);
    char drain[256];
    while (RecvEx(socket_, drain, sizeof(drain), 0, kLeaveTimeoutMs, 0) > 0) {
    }
    net::closeSocket(socket_);
}

int ControllerClient::open(const char* host, uint16_t port) {
    socket_ = TCPConnect(port, host);
    return socketValue(socket_) >= 0 ? 0 : -1;
}

int ControllerClient::call(const Request& request, Reply* reply, uint32_t timeoutMs) {
    uint8_t frame[MRCP_MAX_FRAME];
    const uint32_t length = buildRequestFrame(request, frame, sizeof(frame));
    if (length == 0 || SendEx(socket_, reinterpret_cast<const char*>(frame), static_cast<int>(length), 0,
                              timeoutMs) != static_cast<int>(length))
        return -1;
    if (!request.expectsReply) return 0;
    MrcpHeader header{};
    MrcpCommand command{};
    if (mrcp_recv(socket_, frame, &header, &command, timeoutMs, 0) != 0) return -2;
    return parseReply(frame + MRCP_HEADER_SIZE, header.length, header.reserved, reply) ? 0 : -2;
}

bool parseReply(const uint8_t* body, uint32_t length, uint16_t reserved, Reply* reply) {
    StreamData in(const_cast<uint8_t*>(body), length);
    Reply parsed;
    parsed.code = in.getUInt32();
    const int32_t param = static_cast<int32_t>(in.getUInt32());
    // The Connect reply leaves its second word 0 and carries the status only in the header's reserved field.
    parsed.status = parsed.code == 502 ? static_cast<int16_t>(reserved) : param;
    if (parsed.code != 508) {
        parsed.deviceId = static_cast<int32_t>(in.getUInt32());
        parsed.hasDeviceId = true;
    }
    if (!in.ok()) return false;
    *reply = parsed;
    return true;
}
