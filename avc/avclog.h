// The library's own log file, apart from the client's: "mftavc.log" in the folder set by mftavc_set_logpath.
#pragma once

#include "platform/printfformat.h"

void avclogSetFolder(const char* folder);
// Appends one line (a newline is added); failures to write are ignored, a log must never stop decoding.
void avclog(const char* format, ...) QX_PRINTF_FORMAT(1, 2);
