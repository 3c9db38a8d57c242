#pragma once

#include <cstdint>

// The touch side of one key-mapping record. Fields a record does not name stay 0; an operationId other
// than kTap or kSlide makes the record do nothing. Coordinates go to the device unchanged.
struct PhoneOperation {
    static constexpr int32_t kTap = 100;
    static constexpr int32_t kSlide = 102;

    int32_t phoneX = 0;  // touch point, or start of a slide
    int32_t phoneY = 0;
    int32_t endX = 0;  // end of a slide
    int32_t endY = 0;
    int32_t operationId = 0;
};
