// LZ packer and unpacker. The unpacker checks every read and write against the buffer ends; the packer
// only starts references where the unpacker still decodes items one by one (more than 10 bytes before the
// end), so that both walk the same items and enter the same positions into their tables.
#include "codec/lz.h"

#include <algorithm>
#include <cstring>

#include "codec/littleendian.h"
#include "codec/transform.h"

namespace zrc {
namespace {

constexpr uint32_t kTableSize = 4096;
constexpr size_t kMaxMatch = 255;
constexpr size_t kLiteralEnd = 11;  // the last 11 bytes are literals, decoded byte by byte
constexpr size_t kMatchEnd = 4;     // a reference ends at least 4 bytes before the end

uint32_t hashAt(const uint8_t* p) {
    const uint32_t v =
        static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16;
    return ((v >> 12) ^ v) & (kTableSize - 1);
}

bool sameBytes(const uint8_t* p, size_t n) {
    for (size_t i = 1; i < n; ++i) {
        if (p[i] != p[0]) return false;
    }
    return true;
}

// The same hash from a 4-byte load; the caller guarantees the fourth byte lies inside the buffer.
uint32_t hashWordAt(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    v &= 0xFFFFFF;
    return ((v >> 12) ^ v) & (kTableSize - 1);
}

// Copies a back-reference; source and target may overlap (the source always starts before the target).
// `limit` is the output size: with room past the copy, long-distance copies move whole 16- or 8-byte chunks
// and may write up to 15 bytes beyond the copy, which later items overwrite.
void copyMatch(uint8_t* out, size_t from, size_t to, size_t length, size_t limit) {
    const size_t distance = to - from;
    if (distance >= 16 && to + length + 16 <= limit) {
        for (size_t n = 0; n < length; n += 16)
            std::memcpy(out + to + n, out + from + n, 16);
    } else if (distance >= 8 && to + length + 8 <= limit) {
        for (size_t n = 0; n < length; n += 8)
            std::memcpy(out + to + n, out + from + n, 8);
    } else if (distance >= length) {
        std::memmove(out + to, out + from, length);
    } else if (distance == 1) {
        std::memset(out + to, out[from], length);
    } else {
        // The copy repeats the `distance` bytes before `to`: write them once, then double what is written,
        // which keeps every chunk a whole number of periods.
        std::memcpy(out + to, out + from, distance);
        size_t done = distance;
        while (done < length) {
            const size_t chunk = std::min(done, length - done);
            std::memcpy(out + to + done, out + to, chunk);
            done += chunk;
        }
    }
}

constexpr uint8_t kLiteralStep[16] = {4, 0, 1, 0, 2, 0, 1, 0, 3, 0, 1, 0, 2, 0, 1, 0};

long unpackFast(const uint8_t* in, size_t size, uint8_t* out, size_t expected, UnpackReporter& report) {
    uint32_t table[kTableSize] = {};  // position + 1; 0 when no earlier position wrote the entry
    size_t ip = 0;
    size_t o = 0;
    size_t next_hash = 0;  // first output position not yet entered into the table
    uint32_t control = 1;
    while (o < expected) {
        if (control == 1) {
            if (size - ip < 4) return report.fail();
            control = readLe32(in + ip);
            ip += 4;
            report.at(o);
        }
        if (control & 1) {
            control >>= 1;
            if (size - ip < 2) return report.fail();
            const uint32_t code = static_cast<uint32_t>(in[ip]) | static_cast<uint32_t>(in[ip + 1]) << 8;
            size_t length;
            if (code & 0xF) {
                length = (code & 0xF) + 2;
                ip += 2;
            } else {
                if (size - ip < 3) return report.fail();
                length = in[ip + 2];
                ip += 3;
            }
            const uint32_t entry = table[(code >> 4) & 0xFFF];
            if (entry == 0 || length < 3 || length > expected - o) return report.fail();
            copyMatch(out, entry - 1, o, length, expected);
            for (; next_hash <= o; ++next_hash) {
                const uint32_t hash =
                    o + 4 <= expected ? hashWordAt(out + next_hash) : hashAt(out + next_hash);
                table[hash] = static_cast<uint32_t>(next_hash + 1);
            }
            o += length;
            next_hash = o;
        } else if (o + kLiteralEnd < expected) {
            // A run of more than four literals, with room for whole 16-byte copies on both sides: the same
            // steps as below, taken at once.
            const size_t run = control == 0 ? 0 : static_cast<size_t>(__builtin_ctz(control));
            if (run > 4 && o + run + kLiteralEnd < expected && size - ip >= 32 && expected - o >= 32) {
                std::memcpy(out + o, in + ip, 16);
                std::memcpy(out + o + 16, in + ip + 16, 16);
                for (; next_hash < o; ++next_hash) {
                    table[hashWordAt(out + next_hash)] = static_cast<uint32_t>(next_hash + 1);
                }
                // The new positions hash from the input, which holds the same bytes.
                for (; next_hash + 3 <= o + run; ++next_hash) {
                    table[hashWordAt(in + ip + (next_hash - o))] = static_cast<uint32_t>(next_hash + 1);
                }
                control >>= run;
                ip += run;
                o += run;
                continue;
            }
            report.at(o);
            const size_t n = kLiteralStep[control & 0xF];
            if (size - ip < n) return report.fail();
            if (size - ip >= 4) {
                std::memcpy(out + o, in + ip, 4);
            } else {
                std::memcpy(out + o, in + ip, n);
            }
            control >>= n;
            ip += n;
            o += n;
            // o + 7 < expected here, so the 4-byte loads stay inside the output.
            for (; next_hash + 3 <= o; ++next_hash) {
                table[hashWordAt(out + next_hash)] = static_cast<uint32_t>(next_hash + 1);
            }
        } else {
            while (o < expected) {
                if (control == 1) {
                    if (size - ip < 4) return report.fail();
                    ip += 4;
                    control = 1u << 31;
                }
                if (ip >= size) return report.fail();
                out[o++] = in[ip++];
                control >>= 1;
            }
        }
    }
    return report.finish(o);
}

}  // namespace

size_t lzBound(size_t size) {
    return size + size / 7 + 16;
}

size_t lzPack(const uint8_t* in, size_t size, uint8_t* out) {
    uint32_t table[kTableSize] = {};  // position + 1; 0 when empty
    size_t control_at = 0;
    size_t o = 4;
    uint32_t control = 1u << 31;
    auto startItem = [&] {
        if (control & 1) {
            writeLe32(out + control_at, (control >> 1) | (1u << 31));
            control_at = o;
            o += 4;
            control = 1u << 31;
        }
    };
    size_t pos = 0;
    size_t literals = 0;  // literals since the last reference
    while (pos + kLiteralEnd <= size) {
        startItem();
        const uint32_t hash = hashWordAt(in + pos);  // pos + 11 <= size
        const uint32_t entry = table[hash];
        table[hash] = static_cast<uint32_t>(pos + 1);
        // A run of one byte value right after three literals may reference the run at distance 1: the
        // unpacker's entry is then the position 3 back, which holds the same bytes.
        const bool run = entry == pos && literals >= 3 && pos + 3 <= size && sameBytes(in + pos - 3, 6);
        if (entry != 0 && (pos - (entry - 1) > 2 || run) && std::memcmp(in + entry - 1, in + pos, 3) == 0) {
            const size_t from = entry - 1;
            const size_t limit = std::min(size - pos - kMatchEnd, kMaxMatch);
            size_t length = 3;
            while (length < limit && in[from + length] == in[pos + length])
                ++length;
            control = (control >> 1) | (1u << 31);
            if (length < 18) {
                const uint32_t code = hash << 4 | static_cast<uint32_t>(length - 2);
                out[o] = static_cast<uint8_t>(code);
                out[o + 1] = static_cast<uint8_t>(code >> 8);
                o += 2;
            } else {
                const uint32_t code = hash << 4;
                out[o] = static_cast<uint8_t>(code);
                out[o + 1] = static_cast<uint8_t>(code >> 8);
                out[o + 2] = static_cast<uint8_t>(length);
                o += 3;
            }
            pos += length;
            literals = 0;
        } else {
            out[o++] = in[pos++];
            control >>= 1;
            ++literals;
        }
    }
    while (pos < size) {
        startItem();
        out[o++] = in[pos++];
        control >>= 1;
    }
    while ((control & 1) != 1)
        control >>= 1;
    writeLe32(out + control_at, (control >> 1) | (1u << 31));
    return o;
}

long lzUnpackReference(const uint8_t* in, size_t size, uint8_t* out, size_t expected,
                       UnpackProgress* progress) {
    uint32_t table[kTableSize] = {};  // position + 1; 0 when no earlier position wrote the entry
    UnpackReporter report(progress);
    size_t ip = 0;
    size_t o = 0;
    size_t next_hash = 0;  // first output position not yet entered into the table
    uint32_t control = 1;  // item bits above a 1 that marks the word's end
    bool tail = false;     // the last stretch: literals only, no table
    while (o < expected) {
        if (control == 1) {
            if (size - ip < 4) return report.fail();
            // The last stretch ignores its control words and counts 31 literals per word.
            control = tail ? 1u << 31 : readLe32(in + ip);
            ip += 4;
        }
        report.at(o);  // every item, as a word of 0 makes literals without end
        if (!tail && (control & 1)) {
            control >>= 1;
            if (size - ip < 2) return report.fail();
            const uint32_t code = static_cast<uint32_t>(in[ip]) | static_cast<uint32_t>(in[ip + 1]) << 8;
            size_t length = (code & 0xF) + 2;
            ip += 2;
            if ((code & 0xF) == 0) {
                if (size - ip < 1) return report.fail();
                length = in[ip++];
            }
            const uint32_t entry = table[code >> 4];
            if (entry == 0 || length < 3 || length > expected - o) return report.fail();
            for (size_t i = 0; i < length; ++i)
                out[o + i] = out[entry - 1 + i];
            // Every position up to the reference's start, none inside it.
            for (; next_hash <= o; ++next_hash)
                table[hashAt(out + next_hash)] = static_cast<uint32_t>(next_hash + 1);
            o += length;
            next_hash = o;
        } else if (!tail && o + kLiteralEnd < expected) {
            // Up to four literals at once: as many as the item bits give before the next reference.
            const size_t n = kLiteralStep[control & 0xF];
            if (size - ip < n) return report.fail();
            for (size_t i = 0; i < n; ++i)
                out[o + i] = in[ip + i];
            control >>= n;
            ip += n;
            o += n;
            // Every position whose three bytes are all written.
            for (; next_hash + 3 <= o; ++next_hash)
                table[hashAt(out + next_hash)] = static_cast<uint32_t>(next_hash + 1);
        } else {
            tail = true;
            if (ip >= size) return report.fail();
            out[o++] = in[ip++];
            control >>= 1;
        }
    }
    return report.finish(o);
}

long lzUnpack(const uint8_t* in, size_t size, uint8_t* out, size_t expected, UnpackProgress* progress) {
    if (referenceKernels()) return lzUnpackReference(in, size, out, expected, progress);
    UnpackReporter report(progress);
    return unpackFast(in, size, out, expected, report);
}

long lzUnpack(const uint8_t* in, size_t size, uint8_t* out, size_t expected) {
    return lzUnpack(in, size, out, expected, nullptr);
}

}  // namespace zrc
