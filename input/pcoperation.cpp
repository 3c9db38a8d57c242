#include "input/pcoperation.h"

#include <utility>

bool PcOperation::AddOneKey(uint32_t code) {
    if (keyCount == kMaxKeys) return false;
    keys[keyCount++] = code;
    // With two slots a sorted insert is one exchange; equal codes stay side by side.
    if (keyCount == 2 && keys[0] > keys[1]) std::swap(keys[0], keys[1]);
    return true;
}

bool PcOperation::matches(const uint32_t* held, uint32_t count) const {
    if (count != keyCount) return false;
    for (uint32_t i = 0; i < keyCount; ++i) {
        if (keys[i] != held[i]) return false;
    }
    return true;
}
