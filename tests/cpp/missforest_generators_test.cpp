// The seed generators checked against references written here from the
// published definitions: the ChaCha block function (itself checked on the
// published ChaCha20 vector, then run with 12 rounds) and PCG32 XSH-RR.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "imputer/missforest/backend/generators.hpp"

namespace norvale {
namespace {

using Words = std::array<std::uint32_t, 16>;

std::uint32_t rotate_left(std::uint32_t v, int c) { return (v << c) | (v >> (32 - c)); }

// The ChaCha block function: `rounds` rounds (alternating column and
// diagonal rounds) over the 16-word input, then the input added back.
Words reference_block(const Words& input, int rounds) {
    Words x = input;
    auto qr = [&x](int a, int b, int c, int d) {
        x[a] += x[b]; x[d] ^= x[a]; x[d] = rotate_left(x[d], 16);
        x[c] += x[d]; x[b] ^= x[c]; x[b] = rotate_left(x[b], 12);
        x[a] += x[b]; x[d] ^= x[a]; x[d] = rotate_left(x[d], 8);
        x[c] += x[d]; x[b] ^= x[c]; x[b] = rotate_left(x[b], 7);
    };
    for (int round = 0; round < rounds; ++round) {
        if (round % 2 == 0) {
            qr(0, 4, 8, 12); qr(1, 5, 9, 13); qr(2, 6, 10, 14); qr(3, 7, 11, 15);
        } else {
            qr(0, 5, 10, 15); qr(1, 6, 11, 12); qr(2, 7, 8, 13); qr(3, 4, 9, 14);
        }
    }
    for (int i = 0; i < 16; ++i) x[i] += input[i];
    return x;
}

// Constants, key, then words 12..15 as given.
Words input_words(const ChaCha12Rng::Key& key, std::array<std::uint32_t, 4> tail) {
    Words input = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
    for (int i = 0; i < 8; ++i) input[4 + i] = key[i];
    for (int i = 0; i < 4; ++i) input[12 + i] = tail[i];
    return input;
}

// The key whose bytes are 00 01 02 … 1f, as little-endian words.
constexpr ChaCha12Rng::Key kCountingKey = {0x03020100, 0x07060504, 0x0b0a0908, 0x0f0e0d0c,
                                           0x13121110, 0x17161514, 0x1b1a1918, 0x1f1e1d1c};

// The reference keystream of ChaCha12 with nonce 0, blocks from counter 0.
std::vector<std::uint32_t> reference_stream(const ChaCha12Rng::Key& key, std::size_t words) {
    std::vector<std::uint32_t> out;
    for (std::uint64_t counter = 0; out.size() < words; ++counter) {
        const auto block = reference_block(
            input_words(key, {static_cast<std::uint32_t>(counter),
                              static_cast<std::uint32_t>(counter >> 32), 0, 0}),
            12);
        out.insert(out.end(), block.begin(), block.end());
    }
    out.resize(words);
    return out;
}

TEST(ChaChaReference, MatchesThePublishedChaCha20BlockVector) {
    // Block counter 1, nonce 00:00:00:09 00:00:00:4a 00:00:00:00.
    const Words expected = {0xe4e7f110, 0x15593bd1, 0x1fdd0f50, 0xc47120a3,
                            0xc7f4d1c7, 0x0368c033, 0x9aaa2204, 0x4e6cd4c3,
                            0x466482d2, 0x09aa9f07, 0x05d7c214, 0xa2028bd9,
                            0xd19c12b5, 0xb94e16de, 0xe883d0cb, 0x4e3c50a2};
    EXPECT_EQ(reference_block(input_words(kCountingKey, {1, 0x09000000, 0x4a000000, 0}), 20),
              expected);
}

TEST(ChaCha12Rng, ZeroKeyStreamStartsWithThePublishedChaCha12Bytes) {
    // 9b f4 9a 6a 07 55 f9 53 81 1f ce 12 5f 26 83 d5 as little-endian words.
    ChaCha12Rng generator(ChaCha12Rng::Key{});
    const std::vector<std::uint32_t> expected = {0x6a9af49b, 0x53f95507, 0x12ce1f81, 0xd583265f};
    std::vector<std::uint32_t> got;
    for (int i = 0; i < 4; ++i) got.push_back(generator.next_u32());
    EXPECT_EQ(got, expected);
}

TEST(ChaCha12Rng, BlocksMatchTheReferenceAtEveryCounterWord) {
    for (const std::uint64_t counter : {0ULL, 1ULL, 0xffffffffULL, 0x123456789abcdefULL}) {
        const auto expected = reference_block(
            input_words(kCountingKey, {static_cast<std::uint32_t>(counter),
                                       static_cast<std::uint32_t>(counter >> 32), 0, 0}),
            12);
        EXPECT_EQ(ChaCha12Rng::block(kCountingKey, counter), expected) << counter;
    }
}

TEST(ChaCha12Rng, StreamRunsAcrossBlocksAsConsecutiveWords) {
    const auto expected = reference_stream(kCountingKey, 40);
    ChaCha12Rng generator(kCountingKey);
    std::vector<std::uint32_t> got;
    for (int i = 0; i < 40; ++i) got.push_back(generator.next_u32());
    EXPECT_EQ(got, expected);
}

TEST(ChaCha12Rng, U64TakesTheFirstWordAsLowHalfEvenAcrossABlockEdge) {
    const auto words = reference_stream(kCountingKey, 18);
    ChaCha12Rng generator(kCountingKey);
    EXPECT_EQ(generator.next_u64(), (std::uint64_t{words[1]} << 32) | words[0]);
    for (int i = 2; i < 15; ++i) generator.next_u32();
    EXPECT_EQ(generator.next_u64(), (std::uint64_t{words[16]} << 32) | words[15]);
}

// PCG32 outputs computed with exact integer arithmetic in Python:
// state = state * 6364136223846793005 + 11634580027462260723 (mod 2^64), then
// rotr32(((state >> 18) ^ state) >> 27, state >> 59).
struct PcgCase {
    std::uint64_t seed;
    ChaCha12Rng::Key words;
};

class Pcg32Steps : public testing::TestWithParam<PcgCase> {};

TEST_P(Pcg32Steps, EmitFromTheAdvancedState) {
    Pcg32 pcg(GetParam().seed);
    ChaCha12Rng::Key got;
    for (auto& word : got) word = pcg.next();
    EXPECT_EQ(got, GetParam().words);
}

TEST_P(Pcg32Steps, KeyTheGeneratorFirstWordFirst) {
    const auto expected = reference_stream(GetParam().words, 20);
    ChaCha12Rng generator = ChaCha12Rng::from_seed(GetParam().seed);
    std::vector<std::uint32_t> got;
    for (int i = 0; i < 20; ++i) got.push_back(generator.next_u32());
    EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Seeds, Pcg32Steps,
    testing::Values(PcgCase{0, {0xf973f2ec, 0x45cdb581, 0x7346f087, 0xad6cad06, 0xe3a3d0d0,
                                0x67e71733, 0x72ea9bf2, 0xfe7d8ad7}},
                    PcgCase{42, {0x7ba18fa4, 0x0a3d3258, 0xcca1b8ea, 0xb8140169, 0x75c88c2b,
                                 0x54f7b418, 0xa16e448d, 0xf220dfe4}},
                    PcgCase{0xffffffffffffffff,
                            {0xe392472f, 0x102810d6, 0x952d5435, 0x435ef92c, 0x7b34e99a,
                             0x37c5dd03, 0xb0c77a63, 0x3e612043}}),
    [](const testing::TestParamInfo<PcgCase>& info) { return std::to_string(info.param.seed); });

TEST(EntropySeed, DiffersBetweenDraws) {
    // Two equal 64-bit draws from a working source are practically impossible.
    EXPECT_NE(entropy_seed(), entropy_seed());
}

}  // namespace
}  // namespace norvale
