// Describes the control frames a client sends to a device, one line each: touch frames by action and point,
// any other frame (a forwarded one) by its words. Does no I/O and trusts no length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Looks at the bytes at the front of data: the frame's length (> 0) with its line in *line; 0 when the frame
// is not complete yet; -1 when the bytes are no control frame (wrong magic or version, or a length that no
// frame of the client can have), after which the stream cannot be followed.
int describeControlFrame(const uint8_t* data, size_t length, std::string* line);
