// RSUP frames (and through tcppair.h a connected loopback TCP pair) for the stream tests, benchmarks and fuzz
// target.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "tests/support/tcppair.h"

// One RSUP frame: the 52-byte header (width and height as given, for a config frame) and the payload.
std::vector<uint8_t> rsupFrame(uint8_t encoderType, const std::vector<uint8_t>& payload, uint32_t width = 0,
                               uint32_t height = 0);
// A header that announces payloadLength bytes (any value, also negative or larger than what follows).
std::vector<uint8_t> rsupHeaderOnly(uint8_t encoderType, int32_t payloadLength, uint32_t width = 0,
                                    uint32_t height = 0);

// Checks condition until it holds or the time runs out; the last result.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(10));
