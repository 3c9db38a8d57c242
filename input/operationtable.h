#pragma once

#include <cstdint>
#include <map>

#include "input/pcoperation.h"
#include "input/phoneoperation.h"

// The key-mapping records of one window and the live state of the keys they name. Belongs to the window's
// thread; no locks.
class OperationTable {
public:
    // Empties the records and the registered keys.
    void clear();
    // Registers a key code as up; a code already registered keeps its state. Always true.
    bool addKey(uint32_t code);
    // Stores a record unless one with the same id is there; returns the touch side the table now holds
    // for that id, which stays valid until clear() or destruction.
    PhoneOperation* addOperation(const PcOperation& keys, const PhoneOperation& phone);

    // True when the code is registered (state changed or not); codes above 256 are never held.
    bool setKeyState(uint32_t code, bool down);
    // Rebuilds the ascending list of held registered keys. Always true.
    bool collectPressedKeys();
    // The touch side of the first record, in file order, whose keys are exactly the held ones; null if none.
    const PhoneOperation* findOperation();

    const std::map<PcOperation, PhoneOperation>& operations() const { return operations_; }

private:
    static constexpr uint32_t kMaxKeyCode = 256;

    std::map<PcOperation, PhoneOperation> operations_;
    std::map<uint32_t, bool> keyStates_;  // registered code -> held
    // The first two held codes in ascending order; no record holds more, so a third only makes the count
    // differ from every record's and nothing matches.
    uint32_t pressedKeys_[PcOperation::kMaxKeys] = {};
    uint32_t pressedCount_ = 0;
};
