#include "control/streamdata.h"

#include <cstring>

bool StreamData::checkValid(uint32_t n) {
    if (failed_ || size_ - length() < n) {
        failed_ = true;
        return false;
    }
    return true;
}

uint64_t StreamData::getUInt64() {
    if (!checkValid(sizeof(unsigned long long))) return 0;
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value = (value << 8) | *cursor_++;
    return value;
}

bool StreamData::putUInt64(uint64_t value) {
    if (!checkValid(sizeof(unsigned long long))) return false;
    for (int shift = 56; shift >= 0; shift -= 8)
        *cursor_++ = static_cast<uint8_t>(value >> shift);
    return true;
}

uint32_t StreamData::getUInt32() {
    if (!checkValid(sizeof(unsigned int))) return 0;
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 8) | *cursor_++;
    return value;
}

bool StreamData::putUInt32(uint32_t value) {
    if (!checkValid(sizeof(unsigned int))) return false;
    for (int shift = 24; shift >= 0; shift -= 8)
        *cursor_++ = static_cast<uint8_t>(value >> shift);
    return true;
}

uint16_t StreamData::getUInt16() {
    if (!checkValid(sizeof(unsigned short))) return 0;
    uint16_t value = static_cast<uint16_t>((cursor_[0] << 8) | cursor_[1]);
    cursor_ += 2;
    return value;
}

bool StreamData::putUInt16(uint16_t value) {
    if (!checkValid(sizeof(unsigned short))) return false;
    *cursor_++ = static_cast<uint8_t>(value >> 8);
    *cursor_++ = static_cast<uint8_t>(value);
    return true;
}

uint8_t StreamData::getUInt8() {
    if (!checkValid(sizeof(unsigned char))) return 0;
    return *cursor_++;
}

bool StreamData::putUInt8(uint8_t value) {
    if (!checkValid(sizeof(unsigned char))) return false;
    *cursor_++ = value;
    return true;
}

void* StreamData::getBytes(uint32_t length, void* destination, uint32_t destinationSize) {
    if (length > destinationSize) {
        failed_ = true;
        return nullptr;
    }
    if (!checkValid(length)) return nullptr;
    if (length) memcpy(destination, cursor_, length);
    cursor_ += length;
    return destination;
}

bool StreamData::putBytes(const uint8_t* source, uint32_t length) {
    if (!checkValid(length)) return false;
    if (length) memcpy(cursor_, source, length);
    cursor_ += length;
    return true;
}

bool StreamData::skip(uint32_t length) {
    if (!checkValid(length)) return false;
    cursor_ += length;
    return true;
}

bool StreamData::setUInt32At(uint32_t value, uint32_t offset) {
    // Checked against the whole buffer: the field may lie behind the cursor (the header's length field).
    if (offset > size_ || size_ - offset < 4) {
        failed_ = true;
        return false;
    }
    for (int i = 0; i < 4; ++i)
        start_[offset + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
    return true;
}
