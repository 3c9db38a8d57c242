// One controller request as qxctl reads it from its command line or a script line, and the control frame
// that carries it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Request {
    uint32_t code = 0;
    uint32_t param = 0;
    std::vector<uint32_t> words;  // payload words after code and param
    std::string address;          // Connect only: "host:port", sent behind its length word
    // Forward codes get no reply; every other request does.
    bool expectsReply = true;
};

// Reads "connect HOST:PORT X Y W H", "disconnect ID", "setwindow ID X Y W H", "state ID N",
// "forward CODE PARAM ID" or "exit". Numbers are decimal or 0x-hex, within 32 bits. On failure returns false
// and says why in *error.
bool parseRequest(const std::vector<std::string>& words, Request* request, std::string* error);

// Splits a script line into words at blanks; a '#' starts a comment.
std::vector<std::string> splitLine(const std::string& line);

// Writes the control frame of the request into out (room bytes); returns its length, 0 when it does not fit.
uint32_t buildRequestFrame(const Request& request, uint8_t* out, uint32_t room);
