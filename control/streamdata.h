#pragma once

#include <cstdint>

// A big-endian reader and writer over a buffer that the caller owns. Every operation checks that its bytes
// fit between the cursor and the end of the buffer; one that does not touches nothing, leaves the cursor
// where it was, returns 0 / false / nullptr and puts the stream in the failed state, which stays until the
// stream is discarded. Callers test ok() after a run of operations.
class StreamData {
public:
    StreamData(uint8_t* buffer, uint32_t size) : start_(buffer), cursor_(buffer), size_(size) {}

    uint32_t getUInt32();
    bool putUInt32(uint32_t value);
    uint16_t getUInt16();
    bool putUInt16(uint16_t value);
    uint64_t getUInt64();
    bool putUInt64(uint64_t value);
    uint8_t getUInt8();
    bool putUInt8(uint8_t value);
    // Copies length bytes to destination; refused when they do not fit destinationSize.
    void* getBytes(uint32_t length, void* destination, uint32_t destinationSize);
    bool putBytes(const uint8_t* source, uint32_t length);
    bool skip(uint32_t length);
    // Writes at start + offset without moving the cursor (a field known only once what follows it is
    // written).
    bool setUInt32At(uint32_t value, uint32_t offset);

    uint32_t length() const { return static_cast<uint32_t>(cursor_ - start_); }
    uint8_t* data() const { return start_; }
    bool ok() const { return !failed_; }

private:
    bool checkValid(uint32_t n);

    uint8_t* start_;
    uint8_t* cursor_;
    uint32_t size_;
    bool failed_ = false;
};
