#include "control/mrcp.h"

#include <cstring>

#include "control/log.h"
#include "control/streamdata.h"

namespace {

void logBadHeader(const char* tag, const MrcpHeader& h) {
    log_write(LOG_USER_ERROR, "%s: <mrcp header>: magic 0x%x version %u reserved %u length %u", tag, h.magic,
              h.version, h.reserved, h.length);
}

}  // namespace

uint8_t* mrcp_build_header(uint8_t* out, uint32_t length, uint16_t reserved) {
    StreamData stream(out, MRCP_HEADER_SIZE);
    stream.putUInt32(MRCP_MAGIC);
    stream.putUInt16(MRCP_VERSION);
    stream.putUInt16(reserved);
    stream.putUInt32(length);
    return out + MRCP_HEADER_SIZE;
}

uint8_t* mrcp_build_command(uint8_t* out, const uint32_t words[2]) {
    StreamData stream(out, MRCP_WORDS_SIZE);
    stream.putUInt32(words[0]);
    stream.putUInt32(words[1]);
    return out + MRCP_WORDS_SIZE;
}

int mrcp_send(SOCKET s, const uint32_t words[2], uint16_t reserved, const void* payload,
              uint32_t payloadLength, uint32_t timeoutMs) {
    constexpr uint32_t kRoom = MRCP_MAX_BODY - MRCP_WORDS_SIZE;
    const uint32_t bodyLength = payload ? payloadLength : 0;
    if (bodyLength > kRoom) {
        log_write(LOG_USER_ERROR, "%s: payload %u does not fit a frame", "mrcp_send", payloadLength);
        return -1;
    }
    uint8_t frame[MRCP_MAX_FRAME];
    // Without a payload the length field still announces payloadLength, as the peer expects.
    uint8_t* cursor =
        mrcp_build_command(mrcp_build_header(frame, payloadLength + MRCP_WORDS_SIZE, reserved), words);
    if (bodyLength) memcpy(cursor, payload, bodyLength);
    const int total = static_cast<int>(MRCP_HEADER_SIZE + MRCP_WORDS_SIZE + bodyLength);
    return SendEx(s, reinterpret_cast<const char*>(frame), total, 0, timeoutMs) == total ? 0 : -1;
}

int mrcp_parse_header(const uint8_t* data, MrcpHeader* out) {
    if (!data || !out) {
        log_write(LOG_USER_ERROR, "%s: Invalid parameters", "mrcp_parse_header");
        return -1;
    }
    if (mrcp_read_header(data, out)) return 0;
    logBadHeader("mrcp_parse_header", *out);
    return -2;
}

bool mrcp_read_header(const uint8_t* data, MrcpHeader* out) {
    // StreamData only reads here; it takes a mutable buffer because it also writes.
    StreamData stream(const_cast<uint8_t*>(data), MRCP_HEADER_SIZE);
    out->magic = stream.getUInt32();
    out->version = stream.getUInt16();
    out->reserved = stream.getUInt16();
    out->length = stream.getUInt32();
    return out->magic == MRCP_MAGIC && out->version == MRCP_VERSION;
}

int mrcp_parse_command(const uint8_t* data, MrcpCommand* out) {
    if (!data || !out) {
        log_write(LOG_USER_ERROR, "%s: Invalid parameters", "mrcp_parse_command");
        return -1;
    }
    StreamData stream(const_cast<uint8_t*>(data), MRCP_WORDS_SIZE);
    out->code = stream.getUInt32();
    out->param = stream.getUInt32();
    return 0;
}

int mrcp_recv(SOCKET s, uint8_t* buffer, MrcpHeader* header, MrcpCommand* command, uint32_t timeoutMs,
              int wordsOnly) {
    char* raw = reinterpret_cast<char*>(buffer);
    if (RecvEx(s, raw, MRCP_HEADER_SIZE, 0, timeoutMs, 1) != static_cast<int>(MRCP_HEADER_SIZE)) return -1;
    int r = mrcp_parse_header(buffer, header);
    if (r != 0 || !command) return r;
    const uint32_t want = wordsOnly ? MRCP_WORDS_SIZE : header->length;
    if (want < MRCP_WORDS_SIZE || want > MRCP_MAX_BODY) return -2;
    if (RecvEx(s, raw + MRCP_HEADER_SIZE, static_cast<int>(want), 0, timeoutMs, 1) != static_cast<int>(want))
        return -2;
    return mrcp_parse_command(buffer + MRCP_HEADER_SIZE, command);
}
