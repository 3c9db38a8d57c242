#include "input/operationtable.h"

void OperationTable::clear() {
    operations_.clear();
    keyStates_.clear();
}

bool OperationTable::addKey(uint32_t code) {
    keyStates_.emplace(code, false);
    return true;
}

PhoneOperation* OperationTable::addOperation(const PcOperation& keys, const PhoneOperation& phone) {
    return &operations_.emplace(keys, phone).first->second;
}

bool OperationTable::setKeyState(uint32_t code, bool down) {
    if (code > kMaxKeyCode) return false;
    auto it = keyStates_.find(code);
    if (it == keyStates_.end()) return false;
    it->second = down;
    return true;
}

bool OperationTable::collectPressedKeys() {
    pressedCount_ = 0;
    for (const auto& [code, down] : keyStates_) {
        if (!down) continue;
        if (pressedCount_ < PcOperation::kMaxKeys) pressedKeys_[pressedCount_] = code;
        ++pressedCount_;
    }
    return true;
}

const PhoneOperation* OperationTable::findOperation() {
    collectPressedKeys();
    for (const auto& [keys, phone] : operations_) {
        if (keys.matches(pressedKeys_, pressedCount_)) return &phone;
    }
    return nullptr;
}
