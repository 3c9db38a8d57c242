#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "codec/lz.h"
#include "codec/transform.h"
#include "codec/wordrle.h"

namespace {

using Bytes = std::vector<uint8_t>;

enum class Content { kRandom, kRepetitive, kZero, kCoefficients, kFewValues };
constexpr Content kAllContents[] = {Content::kRandom, Content::kRepetitive, Content::kZero,
                                    Content::kCoefficients, Content::kFewValues};

Bytes makeData(Content content, size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes data(size);
    switch (content) {
        case Content::kRandom:
            for (uint8_t& b : data)
                b = static_cast<uint8_t>(rng());
            break;
        case Content::kRepetitive: {
            const std::string text = "static screen text, static screen text; menus repeat. ";
            for (size_t i = 0; i < size; ++i)
                data[i] = static_cast<uint8_t>(text[(i * 7 / 5) % text.size()]);
            break;
        }
        case Content::kZero:
            break;
        case Content::kCoefficients:
            // About 92% zero bytes, the rest small signed values near the block starts.
            for (size_t i = 0; i < size; ++i) {
                const bool low = (i % 64) < 6;
                if (rng() % 100 < (low ? 60u : 4u))
                    data[i] = static_cast<uint8_t>(static_cast<int>(rng() % 31) - 15);
            }
            break;
        case Content::kFewValues:
            // 16 byte values: 3-byte strings recur a few thousand bytes apart, so references of every
            // length follow literal runs of every length and reach back to any table entry.
            for (uint8_t& b : data)
                b = static_cast<uint8_t>(rng() % 16 * 17);
            break;
    }
    return data;
}

std::vector<size_t> sizes() {
    std::vector<size_t> all;
    for (size_t n = 0; n <= 300; ++n)
        all.push_back(n);
    for (size_t n : {511u, 4096u, 4099u, 65536u + 3, 1000003u, 3u << 20})
        all.push_back(n);
    return all;
}

TEST(WordRle, PacksTheGroupingExample) {
    Bytes in = {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 1, 2, 3};
    Bytes out(zrc::rleBound(in.size()));
    out.resize(zrc::rlePack(in.data(), in.size(), out.data()));
    EXPECT_EQ(out, (Bytes{0x82, 0x11, 0x11, 0x11, 0x11, 0, 1, 2, 3}));
}

TEST(WordRle, EndsALiteralGroupBeforeTwoEqualWords) {
    Bytes in = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0};
    Bytes out(zrc::rleBound(in.size()));
    out.resize(zrc::rlePack(in.data(), in.size(), out.data()));
    EXPECT_EQ(out, (Bytes{2, 1, 0, 0, 0, 2, 0, 0, 0, 0x82, 3, 0, 0, 0, 0}));
}

TEST(WordRle, UnpacksControlBytes) {
    struct Case {
        const char* name;
        Bytes packed;
        size_t capacity;
        long result;
        Bytes out;
    };
    const Case cases[] = {
        {"run of zero words", {0x80, 9, 9, 9, 9, 1, 5, 6, 7, 8, 0}, 16, 4, {5, 6, 7, 8}},
        {"tail after zero", {0, 1, 2}, 16, 2, {1, 2}},
        {"no end marker", {0x81, 1, 2, 3, 4}, 16, 4, {1, 2, 3, 4}},
        {"group cut at the input end", {3, 1, 2, 3, 4, 5, 6}, 16, 4, {1, 2, 3, 4}},
        {"run over the output", {0xFF, 1, 2, 3, 4}, 16, -1, {}},
        {"literal over the output", {2, 1, 2, 3, 4, 5, 6, 7, 8}, 6, -1, {}},
        {"tail over the output", {0, 1, 2, 3}, 2, -1, {}},
    };
    for (const Case& c : cases) {
        Bytes out(c.capacity, 0xEE);
        const long n = zrc::rleUnpack(c.packed.data(), c.packed.size(), out.data(), c.capacity);
        EXPECT_EQ(n, c.result) << c.name;
        if (n > 0) {
            EXPECT_EQ(Bytes(out.begin(), out.begin() + n), c.out) << c.name;
        }
    }
}

TEST(Packers, RoundTripEveryContentAndSize) {
    for (Content content : kAllContents) {
        for (size_t size : sizes()) {
            const Bytes in = makeData(content, size, static_cast<uint32_t>(size));
            Bytes lz(zrc::lzBound(size));
            lz.resize(zrc::lzPack(in.data(), size, lz.data()));
            Bytes back(size + 1, 0xEE);
            ASSERT_EQ(zrc::lzUnpack(lz.data(), lz.size(), back.data(), size), static_cast<long>(size))
                << static_cast<int>(content) << " " << size;
            ASSERT_EQ(Bytes(back.begin(), back.begin() + static_cast<long>(size)), in)
                << static_cast<int>(content) << " " << size;
            EXPECT_EQ(back[size], 0xEE);

            Bytes rle(zrc::rleBound(size));
            rle.resize(zrc::rlePack(in.data(), size, rle.data()));
            ASSERT_EQ(zrc::rleUnpack(rle.data(), rle.size(), back.data(), size), static_cast<long>(size));
            ASSERT_EQ(Bytes(back.begin(), back.begin() + static_cast<long>(size)), in)
                << static_cast<int>(content) << " " << size;
        }
    }
}

TEST(Lz, FindsMatchesInRepetitiveData) {
    for (Content content : {Content::kZero, Content::kRepetitive, Content::kCoefficients}) {
        const Bytes in = makeData(content, 1 << 20, 1);
        Bytes lz(zrc::lzBound(in.size()));
        const size_t packed = zrc::lzPack(in.data(), in.size(), lz.data());
        EXPECT_LT(packed, in.size() / 3) << static_cast<int>(content);
    }
}

uint32_t hash3(const char* s) {
    const uint32_t v =
        static_cast<uint8_t>(s[0]) | static_cast<uint8_t>(s[1]) << 8 | static_cast<uint8_t>(s[2]) << 16;
    return ((v >> 12) ^ v) & 0xFFF;
}

// Makes lzUnpack take its fast form for the scope, whatever ZRC_FORCE_REFERENCE says.
class FastForm {
public:
    FastForm() : before_(zrc::referenceKernels()) { zrc::useReferenceKernels(false); }
    ~FastForm() { zrc::useReferenceKernels(before_); }

private:
    bool before_;
};

Bytes lzPacked(const Bytes& in) {
    Bytes lz(zrc::lzBound(in.size()));
    lz.resize(zrc::lzPack(in.data(), in.size(), lz.data()));
    return lz;
}

// Unpacks `stream` with both forms into buffers `slack` bytes larger than `expected`; they must agree on the
// result, on every output byte when they succeed, and leave the slack alone.
void expectSameUnpack(const Bytes& stream, size_t expected, const std::string& what) {
    constexpr size_t slack = 64;
    Bytes fast(expected + slack, 0xEE);
    Bytes plain(expected + slack, 0xEE);
    long fast_result;
    {
        const FastForm form;
        fast_result = zrc::lzUnpack(stream.data(), stream.size(), fast.data(), expected);
    }
    const long plain_result = zrc::lzUnpackReference(stream.data(), stream.size(), plain.data(), expected);
    ASSERT_EQ(fast_result, plain_result) << what;
    ASSERT_TRUE(fast_result == -1 || fast_result == static_cast<long>(expected)) << what;
    if (fast_result > 0) {
        ASSERT_EQ(fast, plain) << what;
    }
    ASSERT_EQ(Bytes(fast.end() - slack, fast.end()), Bytes(slack, 0xEE)) << what;
}

TEST(Lz, FastFormMatchesReferenceOnPackedStreams) {
    for (Content content : kAllContents) {
        for (size_t size : sizes()) {
            const Bytes in = makeData(content, size, static_cast<uint32_t>(size) + 7);
            const Bytes lz = lzPacked(in);
            const std::string what = std::to_string(static_cast<int>(content)) + " " + std::to_string(size);
            expectSameUnpack(lz, size, what);
            Bytes back(size);
            ASSERT_EQ(zrc::lzUnpackReference(lz.data(), lz.size(), back.data(), size),
                      static_cast<long>(size));
            ASSERT_EQ(back, in) << what;
            // The same stream against the wrong output size: items then cross the output end, or the
            // last stretch starts elsewhere.
            for (size_t other : {size + 1, size + 11, size + 300, size > 0 ? size - 1 : 0, size / 2})
                expectSameUnpack(lz, other, what + " expected " + std::to_string(other));
        }
    }
}

// Where the control words of an undamaged stream start, found from the item bits and codes alone.
std::vector<size_t> controlWords(const Bytes& s, size_t expected) {
    static constexpr size_t kStep[16] = {4, 0, 1, 0, 2, 0, 1, 0, 3, 0, 1, 0, 2, 0, 1, 0};
    std::vector<size_t> words;
    size_t ip = 0, o = 0;
    uint32_t control = 1;
    while (o < expected) {
        if (control == 1) {
            words.push_back(ip);
            control = static_cast<uint32_t>(s[ip]) | static_cast<uint32_t>(s[ip + 1]) << 8 |
                      static_cast<uint32_t>(s[ip + 2]) << 16 | static_cast<uint32_t>(s[ip + 3]) << 24;
            ip += 4;
        }
        if (control & 1) {
            o += (s[ip] & 0xF) != 0 ? (s[ip] & 0xF) + 2u : s[ip + 2];
            ip += (s[ip] & 0xF) != 0 ? 2 : 3;
            control >>= 1;
        } else if (o + 11 < expected) {
            const size_t n = kStep[control & 0xF];
            ip += n;
            o += n;
            control >>= n;
        } else {
            break;  // the last stretch
        }
    }
    return words;
}

TEST(Lz, FastFormMatchesReferenceOnDamagedStreams) {
    std::mt19937 rng(23);
    for (Content content : kAllContents) {
        for (size_t size : {40u, 97u, 300u, 5000u, 20000u, 70000u}) {
            const Bytes in = makeData(content, size, static_cast<uint32_t>(size));
            const Bytes lz = lzPacked(in);
            const std::string what = std::to_string(static_cast<int>(content)) + " " + std::to_string(size);
            // Every cut near the end, and some further in.
            for (size_t cut = 1; cut <= std::min<size_t>(lz.size(), 200); ++cut)
                expectSameUnpack(Bytes(lz.begin(), lz.end() - static_cast<long>(cut)), size, what + " cut");
            for (int round = 0; round < 300; ++round) {
                Bytes damaged = lz;
                const int flips = 1 + static_cast<int>(rng() % 4);
                for (int k = 0; k < flips; ++k)
                    damaged[rng() % damaged.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
                damaged.resize(damaged.size() - rng() % std::min<size_t>(damaged.size(), 8));
                expectSameUnpack(damaged, size, what + " flipped, round " + std::to_string(round));
            }
            // A control word replaced by 0 (literals without end) or 1 (a reference, then 0).
            const std::vector<size_t> words = controlWords(lz, size);
            for (int round = 0; round < 20; ++round) {
                Bytes damaged = lz;
                const size_t at = words[rng() % words.size()];
                const uint32_t word = rng() % 2;
                for (int k = 0; k < 4; ++k)
                    damaged[at + static_cast<size_t>(k)] = static_cast<uint8_t>(k == 0 ? word : 0);
                expectSameUnpack(damaged, size,
                                 what + " word " + std::to_string(word) + " at " + std::to_string(at));
            }
        }
    }
    // Arbitrary bytes, mostly refused somewhere along the way; zero control words make literals only.
    for (int round = 0; round < 2000; ++round) {
        Bytes garbage(rng() % 600);
        for (uint8_t& b : garbage)
            b = static_cast<uint8_t>(rng() % 3 == 0 ? 0 : rng());
        expectSameUnpack(garbage, rng() % 1200, "garbage, round " + std::to_string(round));
    }
}

// mapGuarded(span, page): span bytes, readable and writable but for the last page, which faults on any
// access.
#ifdef _WIN32
size_t pageSize() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    return system.dwPageSize;
}
uint8_t* mapGuarded(size_t span, size_t page) {
    auto* base = static_cast<uint8_t*>(VirtualAlloc(nullptr, span, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old;
    if (!base || !VirtualProtect(base + span - page, page, PAGE_NOACCESS, &old)) std::abort();
    return base;
}
void unmapGuarded(uint8_t* base, size_t) {
    VirtualFree(base, 0, MEM_RELEASE);
}
#else
size_t pageSize() {
    return static_cast<size_t>(sysconf(_SC_PAGESIZE));
}
uint8_t* mapGuarded(size_t span, size_t page) {
    void* base = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) std::abort();
    if (mprotect(static_cast<uint8_t*>(base) + span - page, page, PROT_NONE) != 0) std::abort();
    return static_cast<uint8_t*>(base);
}
void unmapGuarded(uint8_t* base, size_t span) {
    munmap(base, span);
}
#endif

// `size` bytes that end where an inaccessible page begins, so that any access past them faults.
class GuardedBytes {
public:
    explicit GuardedBytes(size_t size) {
        const size_t page = pageSize();
        span_ = (size + page - 1) / page * page + page;
        base_ = mapGuarded(span_, page);
        data_ = base_ + span_ - page - size;
    }
    ~GuardedBytes() { unmapGuarded(base_, span_); }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;
    uint8_t* data() { return data_; }

private:
    uint8_t* base_;
    size_t span_;
    uint8_t* data_;
};

struct Crafted {
    Bytes stream;
    size_t expected = 0;
    std::vector<size_t> words;  // where the control words after the first start
};

// A valid stream of whole control words that load as much input and make as much output per word as the
// format allows: references, mostly in the 3-byte form and often 255 long, all through the entry of "abc"
// (which the first three literals enter and which always holds some earlier position), among a few
// literals. Then a word of literals for the last stretch, and unread bytes.
Crafted craftStream(std::mt19937& rng) {
    Crafted c;
    auto put32 = [&](uint32_t v) {
        for (int k = 0; k < 4; ++k)
            c.stream.push_back(static_cast<uint8_t>(v >> (8 * k)));
    };
    const uint32_t code = hash3("abc") << 4;
    const size_t words = 1 + rng() % 12;
    for (size_t w = 0; w < words; ++w) {
        // Words of mixed items, words of 3-byte references ending in a literal (the most input one word
        // loads), words of 255-byte references (the most output).
        const uint32_t style = rng() % 3;
        uint32_t control = 1u << 31;
        Bytes items;
        for (int bit = 0; bit < 31; ++bit) {
            const bool literal = style == 0 ? rng() % 10 == 0 : style == 1 && bit == 30;
            if ((w == 0 && bit < 3) || literal) {
                items.push_back(static_cast<uint8_t>("abc"[bit % 3]));
                c.expected += 1;
                continue;
            }
            control |= 1u << bit;
            const uint32_t kind = style == 0 ? rng() % 4 : 2;
            if (kind == 0) {
                const uint32_t length = 3 + rng() % 15;
                items.push_back(static_cast<uint8_t>(code | (length - 2)));
                items.push_back(static_cast<uint8_t>(code >> 8));
                c.expected += length;
            } else {
                const uint32_t length = kind == 1 ? 3 + rng() % 253 : 255;
                items.push_back(static_cast<uint8_t>(code));
                items.push_back(static_cast<uint8_t>(code >> 8));
                items.push_back(static_cast<uint8_t>(length));
                c.expected += length;
            }
        }
        if (w > 0) c.words.push_back(c.stream.size());
        put32(control);
        c.stream.insert(c.stream.end(), items.begin(), items.end());
    }
    // A short word of one or two 255-byte references, so that the last heavy word is still one that the
    // output leaves room for.
    const uint32_t references = 1 + rng() % 2;
    c.words.push_back(c.stream.size());
    put32((2u << references) - 1);
    for (uint32_t k = 0; k < references; ++k) {
        c.stream.insert(c.stream.end(), {static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8), 255});
        c.expected += 255;
    }
    const size_t last = 12 + rng() % 20;
    const size_t unread = rng() % 2 ? rng() % 8 : rng() % 200;
    put32(1u << 31);
    for (size_t k = 0; k < last + unread; ++k)
        c.stream.push_back(static_cast<uint8_t>(rng()));
    c.expected += last;
    return c;
}

// Both forms read only the stream's bytes and write only the expected output, wherever the words with the
// most input and output per word fall relative to the ends: both buffers end at an inaccessible page.
// Unpacks with both forms, the stream and each output ending at an inaccessible page; returns the result
// after checking that the two forms agree.
long unpackGuarded(const Bytes& in, size_t expected, const std::string& what) {
    GuardedBytes stream(in.size());
    if (!in.empty()) std::memcpy(stream.data(), in.data(), in.size());
    GuardedBytes fast(expected);
    GuardedBytes plain(expected);
    long fast_result;
    {
        const FastForm form;
        fast_result = zrc::lzUnpack(stream.data(), in.size(), fast.data(), expected);
    }
    const long plain_result = zrc::lzUnpackReference(stream.data(), in.size(), plain.data(), expected);
    EXPECT_EQ(fast_result, plain_result) << what;
    if (fast_result > 0) {
        EXPECT_EQ(std::memcmp(fast.data(), plain.data(), expected), 0) << what;
    }
    return plain_result;
}

// Both forms read only the stream's bytes and write only the expected output, wherever the words with the
// most input and output per word fall relative to the ends.
TEST(Lz, UnpacksWithinBothBuffersNearTheirEnds) {
    std::mt19937 rng(31);
    for (int round = 0; round < 1500; ++round) {
        const Crafted c = craftStream(rng);
        const std::string what = "round " + std::to_string(round);
        ASSERT_EQ(unpackGuarded(c.stream, c.expected, what), static_cast<long>(c.expected)) << what;
        // Less output room than the stream makes: the words far from the end no longer fit either.
        const size_t less = 1 + rng() % std::min<size_t>(c.expected, 600);
        unpackGuarded(c.stream, c.expected - less, what + " less " + std::to_string(less));
        // A word of 0 (literals without end) or of 1 (a reference, then 0) in place of another.
        Bytes odd = c.stream;
        const size_t at = c.words[rng() % c.words.size()];
        const uint8_t word = static_cast<uint8_t>(rng() % 2);
        std::fill(odd.begin() + static_cast<long>(at), odd.begin() + static_cast<long>(at) + 4, 0);
        odd[at] = word;
        unpackGuarded(odd, c.expected, what + " word " + std::to_string(word));
        if (HasFailure()) return;
    }
}

// A stream written by hand from the format: three literals, a reference to position 0 through the table
// entry of "abc" (entered once three bytes exist), then the literal tail.
Bytes handStream(uint32_t hash, uint32_t length_code) {
    const uint32_t control = 1u << 3 | 1u << 31;
    Bytes s = {static_cast<uint8_t>(control),
               static_cast<uint8_t>(control >> 8),
               static_cast<uint8_t>(control >> 16),
               static_cast<uint8_t>(control >> 24),
               'a',
               'b',
               'c'};
    const uint32_t code = hash << 4 | length_code;
    s.push_back(static_cast<uint8_t>(code));
    s.push_back(static_cast<uint8_t>(code >> 8));
    for (char c : std::string("0123456789X"))
        s.push_back(static_cast<uint8_t>(c));
    return s;
}

TEST(Lz, UnpacksAHandWrittenStream) {
    const Bytes stream = handStream(hash3("abc"), 6 - 2);
    Bytes out(20);
    ASSERT_EQ(zrc::lzUnpack(stream.data(), stream.size(), out.data(), out.size()), 20);
    EXPECT_EQ(std::string(out.begin(), out.end()), "abcabcabc0123456789X");
}

TEST(Lz, RefusesDamagedStreams) {
    Bytes out(20);
    const Bytes unwritten = handStream(hash3("xyz"), 4);
    EXPECT_EQ(zrc::lzUnpack(unwritten.data(), unwritten.size(), out.data(), out.size()), -1);
    const Bytes good = handStream(hash3("abc"), 4);
    EXPECT_EQ(zrc::lzUnpack(good.data(), good.size() - 1, out.data(), out.size()), -1) << "input cut";
    EXPECT_EQ(zrc::lzUnpack(good.data(), 2, out.data(), out.size()), -1) << "control word cut";
    const Bytes too_long = handStream(hash3("abc"), 0);  // length byte '0' (48) passes the output end
    EXPECT_EQ(zrc::lzUnpack(too_long.data(), too_long.size(), out.data(), out.size()), -1);
}

TEST(Lz, MutatedStreamsStayInsideTheirBuffers) {
    const Bytes in = makeData(Content::kCoefficients, 5000, 3);
    Bytes lz(zrc::lzBound(in.size()));
    lz.resize(zrc::lzPack(in.data(), in.size(), lz.data()));
    std::mt19937 rng(11);
    for (int round = 0; round < 3000; ++round) {
        Bytes damaged = lz;
        for (int k = 0; k < 4; ++k)
            damaged[rng() % damaged.size()] = static_cast<uint8_t>(rng());
        damaged.resize(damaged.size() - rng() % 16);
        Bytes out(in.size());
        const long n = zrc::lzUnpack(damaged.data(), damaged.size(), out.data(), out.size());
        EXPECT_TRUE(n == -1 || n == static_cast<long>(in.size()));
    }
}

}  // namespace
