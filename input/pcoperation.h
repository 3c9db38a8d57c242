#pragma once

#include <cstdint>

// The key side of one key-mapping record: up to two Windows virtual-key codes, kept ascending.
struct PcOperation {
    static constexpr uint32_t kMaxKeys = 2;
    static constexpr uint32_t kNoKey = 0xFFFFFFFFu;

    explicit PcOperation(uint32_t recordId) : id(recordId) {}

    // Adds a code in ascending place; false (and no change) when the record already holds two.
    bool AddOneKey(uint32_t code);
    // True when count equals keyCount and the used slots equal keys[0..count).
    bool matches(const uint32_t* keys, uint32_t count) const;
    // Records are ordered by their number alone, which is file order.
    bool operator<(const PcOperation& other) const { return id < other.id; }

    uint32_t id;  // records closed before this one was opened
    uint32_t keys[kMaxKeys] = {kNoKey, kNoKey};
    uint32_t keyCount = 0;
};
