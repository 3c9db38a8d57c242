#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/lz.h"
#include "codec/wordrle.h"

namespace {

using Bytes = std::vector<uint8_t>;

enum class Content { kRandom, kRepetitive, kZero, kCoefficients };

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
    for (Content content : {Content::kRandom, Content::kRepetitive, Content::kZero, Content::kCoefficients}) {
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
