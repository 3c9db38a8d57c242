// Steady time in milliseconds and sleeping, standing in for the tick count and Sleep.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds of a monotonic clock; only differences mean something.
uint64_t steadyMs();
void sleepMs(uint32_t ms);

}  // namespace platform
