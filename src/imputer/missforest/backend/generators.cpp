#include "imputer/missforest/backend/generators.hpp"

#include <algorithm>
#include <bit>
#include <random>

namespace norvale {
namespace {

// "expand 32-byte k" as four little-endian words.
constexpr std::array<std::uint32_t, 4> kSigma = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
constexpr int kDoubleRounds = 6;

void quarter_round(ChaCha12Rng::Block& x, int a, int b, int c, int d) {
    x[a] += x[b];
    x[d] = std::rotl(x[d] ^ x[a], 16);
    x[c] += x[d];
    x[b] = std::rotl(x[b] ^ x[c], 12);
    x[a] += x[b];
    x[d] = std::rotl(x[d] ^ x[a], 8);
    x[c] += x[d];
    x[b] = std::rotl(x[b] ^ x[c], 7);
}

}  // namespace

std::uint32_t Pcg32::next() {
    state_ = state_ * kMultiplier + kIncrement;
    const auto xorshifted = static_cast<std::uint32_t>(((state_ >> 18) ^ state_) >> 27);
    const auto rotation = static_cast<int>(state_ >> 59);
    return std::rotr(xorshifted, rotation);
}

ChaCha12Rng ChaCha12Rng::from_seed(std::uint64_t seed) {
    Pcg32 expander(seed);
    Key key;
    for (auto& word : key) word = expander.next();
    return ChaCha12Rng(key);
}

ChaCha12Rng ChaCha12Rng::from_entropy() {
    std::random_device entropy;  // getrandom(2) on Linux
    Key key;
    for (auto& word : key) word = static_cast<std::uint32_t>(entropy());
    return ChaCha12Rng(key);
}

ChaCha12Rng::Block ChaCha12Rng::block(const Key& key, std::uint64_t counter) {
    // Words 12 and 13 hold the counter, 14 and 15 the nonce, which is 0.
    Block input{};
    std::copy(kSigma.begin(), kSigma.end(), input.begin());
    std::copy(key.begin(), key.end(), input.begin() + 4);
    input[12] = static_cast<std::uint32_t>(counter);
    input[13] = static_cast<std::uint32_t>(counter >> 32);
    Block x = input;
    for (int i = 0; i < kDoubleRounds; ++i) {
        quarter_round(x, 0, 4, 8, 12);
        quarter_round(x, 1, 5, 9, 13);
        quarter_round(x, 2, 6, 10, 14);
        quarter_round(x, 3, 7, 11, 15);
        quarter_round(x, 0, 5, 10, 15);
        quarter_round(x, 1, 6, 11, 12);
        quarter_round(x, 2, 7, 8, 13);
        quarter_round(x, 3, 4, 9, 14);
    }
    for (std::size_t i = 0; i < x.size(); ++i) x[i] += input[i];
    return x;
}

std::uint32_t ChaCha12Rng::next_u32() {
    if (used_ == buffer_.size()) {
        buffer_ = block(key_, counter_++);
        used_ = 0;
    }
    return buffer_[used_++];
}

std::uint64_t ChaCha12Rng::next_u64() {
    const std::uint64_t low = next_u32();
    const std::uint64_t high = next_u32();
    return (high << 32) | low;
}

std::uint64_t entropy_seed() {
    thread_local ChaCha12Rng generator = ChaCha12Rng::from_entropy();
    return generator.next_u64();
}

}  // namespace norvale
