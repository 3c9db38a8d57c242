// The library's own log file, apart from the client's: "mftavc.log" in the folder set by mftavc_set_logpath.
#pragma once

void avclogSetFolder(const char* folder);
// Appends one line (a newline is added); failures to write are ignored, a log must never stop decoding.
void avclog(const char* format, ...) __attribute__((format(printf, 1, 2)));
