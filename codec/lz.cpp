// LZ packer and unpacker. The unpacker keeps every read and write inside the buffers: far from their ends
// it checks once per control word, near them once per item. The packer only starts references where the
// unpacker still decodes items one by one (more than 10 bytes before the end), so that both walk the same
// items and enter the same positions into their tables. lzUnpackReference is the plain form of the rules.
#include "codec/lz.h"

#include <algorithm>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The fast unpacker loads words in host order where the stream's bytes are little-endian.
static_assert(std::endian::native == std::endian::little);

// Far from both ends a whole control word decodes without per-item bound checks: it holds at most 31 items
// of at most 3 input bytes, and a literal run loads up to 48 input bytes; each item makes at most 255 output
// bytes and writes at most 32 bytes from its start or 15 past its end, and every literal stays before the
// last stretch.
constexpr size_t kWordItems = 31;
constexpr size_t kFastInput = 4 + kWordItems * 3 + 48;
constexpr size_t kFastOutput = kWordItems * kMaxMatch + 32 + kLiteralEnd;

uint32_t load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// Bytes in load order mixed so that the hash of the 3 bytes from byte k (up to 5) is
// hashIn(mixed, k): ((v >> 12) ^ v) & 0xFFF only looks at 24 bits of v.
uint64_t mix(uint64_t bytes) {
    return bytes ^ (bytes >> 12);
}

uint32_t hashIn(uint64_t mixed, unsigned k) {
    return static_cast<uint32_t>(mixed >> (8 * k)) & (kTableSize - 1);
}

constexpr uint32_t kSpareEntry = kTableSize;

// `hash` when `enter`, else the spare entry; without a branch, as `enter` follows the data.
uint32_t pick(bool enter, uint32_t hash) {
    const uint32_t keep = 0u - static_cast<uint32_t>(enter);
    return (hash & keep) | (kSpareEntry & ~keep);
}

[[maybe_unused]] uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

template <size_t N>
void copyBytes(uint8_t* to, const uint8_t* from) {
    uint8_t chunk[N];
    std::memcpy(chunk, from, N);
    std::memcpy(to, chunk, N);
}

// The hashes of the 8 positions from p (reading 16 bytes), the spare entry for lanes from `count` on.
void hashEight(const uint8_t* p, int count, uint16_t* hashes) {
#if defined(__SSE2__)
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i next = _mm_srli_si128(bytes, 1);
    // 16-bit lanes of the byte pairs from each position and from the one after it.
    const __m128i low = _mm_unpacklo_epi8(bytes, next);
    const __m128i high = _mm_unpacklo_epi8(next, _mm_srli_si128(bytes, 2));
    const __m128i hash = _mm_xor_si128(
        _mm_and_si128(low, _mm_set1_epi16(static_cast<int16_t>(kTableSize - 1))), _mm_srli_epi16(high, 4));
    const __m128i keep =
        _mm_cmpgt_epi16(_mm_set1_epi16(static_cast<int16_t>(count)), _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7));
    const __m128i picked = _mm_or_si128(
        _mm_and_si128(keep, hash), _mm_andnot_si128(keep, _mm_set1_epi16(static_cast<int16_t>(kSpareEntry))));
    _mm_store_si128(reinterpret_cast<__m128i*>(hashes), picked);
#else
    const uint64_t low = mix(load64(p)), high = mix(load64(p + 6));
    for (int k = 0; k < 8; ++k)
        hashes[k] = static_cast<uint16_t>(pick(k < count, k < 6 ? hashIn(low, k) : hashIn(high, k - 6)));
#endif
}

// Smallest multiple of each distance below 16 that is at least 16: a whole number of periods back, far
// enough for 16-byte chunks. 0 from 16 on, where the distance itself serves.
constexpr uint8_t kPeriodChunk[17] = {16, 16, 16, 18, 16, 20, 18, 21, 16, 18, 20, 22, 24, 26, 28, 30, 0};

// Copies a back-reference from `from` < `to`, writing up to 32 bytes from `to` and up to 15 beyond the
// copy. Table entries lie at least 3 bytes before the output position, so the distance is at least 3.
void copyMatchFast(uint8_t* to, const uint8_t* from, size_t length) {
    const size_t distance = static_cast<size_t>(to - from);
    if (distance >= 8) [[likely]] {
        // The first 16 bytes in 8-byte chunks, each reading only bytes already written; then 16-byte chunks
        // from a whole number of periods back, at least 16 bytes.
        const size_t period = std::max<size_t>(distance, kPeriodChunk[std::min<size_t>(distance, 16)]);
        copyBytes<8>(to, from);
        copyBytes<8>(to + 8, from + 8);
        copyBytes<16>(to + 16, to + 16 - period);
        for (size_t n = 32; n < length; n += 16)
            copyBytes<16>(to + n, to + n - period);
        return;
    }
    if (distance >= 4) {
        for (size_t n = 0; n < 16; n += 4)
            copyBytes<4>(to + n, from + n);
    } else {
        for (size_t n = 0; n < 16; ++n)
            to[n] = from[n];
    }
    const size_t period = kPeriodChunk[distance];
    for (size_t n = 16; n < length; n += 16)
        copyBytes<16>(to + n, to + n - period);
}

long unpackFast(const uint8_t* in, size_t size, uint8_t* out, size_t expected) {
    // Position + 1; 0 when no earlier position wrote the entry. One spare entry past the end takes the
    // stores that branch-free code must not make.
    uint32_t table[kTableSize + 1] = {};
    size_t ip = 0;
    size_t o = 0;
    size_t next_hash = 0;  // first output position not yet entered into the table

    while (size - ip >= kFastInput && expected - o >= kFastOutput) {
        uint32_t control = load32(in + ip);
        // A word of 0 makes literals without end, and one of 1 a reference before its end is noticed: the
        // checked loop below takes both.
        if (control <= 1) break;
        ip += 4;
        while (control != 1) {
            if (!(control & 1)) {
                // The literals up to the next reference or the word's end, as the 4-literal steps would take
                // them one after another.
                const size_t run = static_cast<size_t>(__builtin_ctz(control));  // at least 1
                copyBytes<32>(out + o, in + ip);
                // A run follows a reference, which left nothing pending, except at the start of a word
                // after a run that ended the last one: that run's last positions take their bytes from here.
                if (next_hash < o) [[unlikely]] {
                    for (; next_hash < o && next_hash + 3 <= o + run; ++next_hash)
                        table[hashWordAt(out + next_hash)] = static_cast<uint32_t>(next_hash + 1);
                }
                // Positions below o + run - 2 have their three bytes: they hash from the input, which holds
                // the run's bytes, eight at a time. Lanes past them go to the spare entry.
                for (size_t k = 0; k + 2 < run; k += 8) {
                    alignas(16) uint16_t hashes[8];
                    hashEight(in + ip + k, static_cast<int>(run - 2 - k), hashes);
                    const uint32_t p = static_cast<uint32_t>(o + k);
                    table[hashes[0]] = p + 1;
                    table[hashes[1]] = p + 2;
                    table[hashes[2]] = p + 3;
                    table[hashes[3]] = p + 4;
                    table[hashes[4]] = p + 5;
                    table[hashes[5]] = p + 6;
                    table[hashes[6]] = p + 7;
                    table[hashes[7]] = p + 8;
                }
                if (run > 2) next_hash = o + run - 2;
                control >>= run;
                ip += run;
                o += run;
                if (control == 1) break;
                // Otherwise a reference follows, without a second look at the item bit.
            }
            control >>= 1;
            // The 2-byte form, or a 0 length code and the length in a third byte; lengths of the
            // 2-byte form are at least 3, so one check covers both.
            const uint32_t word = load32(in + ip);
            const uint32_t entry = table[(word >> 4) & 0xFFF];
            const bool long_form = (word & 0xF) == 0;
            const size_t length = long_form ? (word >> 16) & 0xFF : (word & 0xF) + 2;
            ip += 2 + static_cast<size_t>(long_form);
            if (entry == 0 || length < 3) return -1;
            const uint8_t* from = out + entry - 1;
            // The positions from next_hash to the reference's start go into the table. After a
            // reference that is the start alone. After a literal run (the branch follows the previous
            // item's kind, so it predicts well) also the run's last one or two, whose bytes run on into
            // the reference: they hash from the two bytes before it and the reference's first three,
            // which repeat `from` (at least 3 bytes back); o >= 3 there, as some earlier position wrote
            // `entry`. An already entered position goes to the spare entry.
            if (next_hash < o) {
                const uint64_t mixed = mix(load16(out + o - 2) | static_cast<uint64_t>(load32(from)) << 16);
                table[pick(next_hash + 2 <= o, hashIn(mixed, 0))] = static_cast<uint32_t>(o - 1);
                table[hashIn(mixed, 1)] = static_cast<uint32_t>(o);
                table[hashIn(mixed, 2)] = static_cast<uint32_t>(o + 1);
            } else {
                table[hashIn(mix(load32(from)), 0)] = static_cast<uint32_t>(o + 1);
            }
            copyMatchFast(out + o, from, length);
            o += length;
            next_hash = o;
        }
    }

    // Near the ends, every item checked.
    uint32_t control = 1;
    while (o < expected) {
        if (control == 1) {
            if (size - ip < 4) return -1;
            control = readLe32(in + ip);
            ip += 4;
        }
        if (control & 1) {
            control >>= 1;
            if (size - ip < 2) return -1;
            const uint32_t code = load16(in + ip);
            size_t length;
            if (code & 0xF) {
                length = (code & 0xF) + 2;
                ip += 2;
            } else {
                if (size - ip < 3) return -1;
                length = in[ip + 2];
                ip += 3;
            }
            const uint32_t entry = table[code >> 4];
            if (entry == 0 || length < 3 || length > expected - o) return -1;
            copyMatch(out, entry - 1, o, length, expected);
            for (; next_hash <= o; ++next_hash) {
                const uint32_t hash =
                    o + 4 <= expected ? hashWordAt(out + next_hash) : hashAt(out + next_hash);
                table[hash] = static_cast<uint32_t>(next_hash + 1);
            }
            o += length;
            next_hash = o;
        } else if (o + kLiteralEnd < expected) {
            const size_t n = kLiteralStep[control & 0xF];
            if (size - ip < n) return -1;
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
            // The last stretch: literals only, 4 bytes skipped where a control word would be.
            while (o < expected) {
                if (control == 1) {
                    if (size - ip < 4) return -1;
                    ip += 4;
                    control = 1u << 31;
                }
                if (ip >= size) return -1;
                out[o++] = in[ip++];
                control >>= 1;
            }
        }
    }
    return static_cast<long>(o);
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

long lzUnpackReference(const uint8_t* in, size_t size, uint8_t* out, size_t expected) {
    uint32_t table[kTableSize] = {};  // position + 1; 0 when no earlier position wrote the entry
    size_t ip = 0;
    size_t o = 0;
    size_t next_hash = 0;  // first output position not yet entered into the table
    uint32_t control = 1;  // item bits below the highest 1, which marks the word's end
    bool tail = false;     // the last stretch: literals only, no table
    while (o < expected) {
        if (control == 1) {
            if (size - ip < 4) return -1;
            // The last stretch ignores its control words and counts 31 literals per word.
            control = tail ? 1u << 31 : readLe32(in + ip);
            ip += 4;
        }
        if (!tail && (control & 1)) {
            control >>= 1;
            if (size - ip < 2) return -1;
            const uint32_t code = static_cast<uint32_t>(in[ip]) | static_cast<uint32_t>(in[ip + 1]) << 8;
            size_t length = (code & 0xF) + 2;
            ip += 2;
            if ((code & 0xF) == 0) {
                if (size - ip < 1) return -1;
                length = in[ip++];
            }
            const uint32_t entry = table[code >> 4];
            if (entry == 0 || length < 3 || length > expected - o) return -1;
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
            if (size - ip < n) return -1;
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
            if (ip >= size) return -1;
            out[o++] = in[ip++];
            control >>= 1;
        }
    }
    return static_cast<long>(o);
}

long lzUnpack(const uint8_t* in, size_t size, uint8_t* out, size_t expected) {
    if (referenceKernels()) return lzUnpackReference(in, size, out, expected);
    return unpackFast(in, size, out, expected);
}

}  // namespace zrc
