#pragma once

#include <cstdint>

#include "control/sockets.h"

// The control frame: a 12-byte header (magic, version, reserved, length of what follows), two command words
// (code, param) and a payload, all big-endian, at most MRCP_MAX_FRAME bytes.

constexpr uint32_t MRCP_MAGIC = 0x52434D53;
constexpr uint16_t MRCP_VERSION = 1;
constexpr uint32_t MRCP_HEADER_SIZE = 12;
constexpr uint32_t MRCP_WORDS_SIZE = 8;
constexpr uint32_t MRCP_MAX_FRAME = 1024;
constexpr uint32_t MRCP_MAX_BODY = MRCP_MAX_FRAME - MRCP_HEADER_SIZE;  // the largest length a header may give

struct MrcpHeader {
    uint32_t magic;
    uint16_t version;
    uint16_t reserved;
    uint32_t length;
};
struct MrcpCommand {
    uint32_t code;
    uint32_t param;
};

// Every control frame's header is written by mrcp_build_header and read by mrcp_read_header, whoever sends
// or receives it (client, qxctl, qx-devsim).
// Writes the header / the two words at out; returns the byte after them.
uint8_t* mrcp_build_header(uint8_t* out, uint32_t length, uint16_t reserved);
uint8_t* mrcp_build_command(uint8_t* out, const uint32_t words[2]);
// Builds header + words + payload in one buffer and writes it with one SendEx, so a frame is whole on the
// wire; callers that share a socket hold that socket's write lock around it. Returns 0 when the whole frame
// went out, -1 when it did not or when the payload does not fit one frame.
int mrcp_send(SOCKET s, const uint32_t words[2], uint16_t reserved, const void* payload,
              uint32_t payloadLength, uint32_t timeoutMs);
// Reads the MRCP_HEADER_SIZE bytes at data into *out, silently: true when the magic and version are ours.
// The length is the caller's to judge.
bool mrcp_read_header(const uint8_t* data, MrcpHeader* out);
// 0 for a valid header; -1 for a null argument; -2 (logged) for a wrong magic or version.
int mrcp_parse_header(const uint8_t* data, MrcpHeader* out);
int mrcp_parse_command(const uint8_t* data, MrcpCommand* out);
// Reads one frame into buffer, which holds MRCP_MAX_FRAME bytes: -1 short header; the parse_header result
// when not 0; -2 when the length does not fit the buffer, is too small for the words, or the rest arrives
// short; else the parse_command result.
int mrcp_recv(SOCKET s, uint8_t* buffer, MrcpHeader* header, MrcpCommand* command, uint32_t timeoutMs,
              int wordsOnly);
