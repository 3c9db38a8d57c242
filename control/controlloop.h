#pragma once

#include <cstdint>

#include "control/sockets.h"

// Set to 1 after the Exit command's reply went out; the control loop ends before its next wait. Written and
// read on the control thread only.
extern uint8_t g_stop;

constexpr const char* QX_DEFAULT_HOST = "127.0.0.1";
constexpr int QX_DEFAULT_PORT = 30003;

// One argument "host:port" gives the control address; anything else gives 127.0.0.1:30003. A host longer than
// 31 characters or an argument longer than 63 falls back to the defaults. Returns 0.
int parse_args(int argc, char** argv, char host[32], int* port);

// Serves one frame from the readable controller socket; -500 when no frame could be read (the connection is
// then closed), else the command's result.
using FrameHandler = int (*)(SOCKET controller);

// The control loop: listens on the address of parse_args, serves one controller at a time with process, and
// returns 0 when g_stop is set or a stop is requested from outside (net::installStopRequests must have run
// before any thread started), or at once when listening fails. argv holds the arguments after the program
// name.
int qx_main(int argc, char** argv, FrameHandler process);
