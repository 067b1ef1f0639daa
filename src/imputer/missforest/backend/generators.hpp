#pragma once
// The random generators behind the forest seeds: a ChaCha stream cipher with
// 12 rounds used as a generator, keyed from one 64-bit seed by PCG32 steps,
// and a per-thread entropy-seeded source of seeds for imputers built without
// one.
#include <array>
#include <cstddef>
#include <cstdint>

namespace norvale {

// PCG32 with the XSH-RR output, used only to expand a 64-bit seed into a key.
// Each step advances the state first and then emits from the new state, so a
// seed of low Hamming weight is stirred before its first output.
class Pcg32 {
public:
    static constexpr std::uint64_t kMultiplier = 6364136223846793005ULL;
    static constexpr std::uint64_t kIncrement = 11634580027462260723ULL;

    explicit Pcg32(std::uint64_t state) : state_(state) {}
    std::uint32_t next();

private:
    std::uint64_t state_;
};

// ChaCha with 12 rounds over a 256-bit key, nonce 0 and a 64-bit block
// counter from 0; the keystream is read as consecutive 32-bit words.
class ChaCha12Rng {
public:
    using Key = std::array<std::uint32_t, 8>;
    using Block = std::array<std::uint32_t, 16>;

    explicit ChaCha12Rng(const Key& key) : key_(key) {}
    // Keyed by eight PCG32 steps from `seed`, first word first.
    static ChaCha12Rng from_seed(std::uint64_t seed);
    // Keyed from the operating system's entropy source.
    static ChaCha12Rng from_entropy();

    std::uint32_t next_u32();
    // Two consecutive words; the first forms the low half.
    std::uint64_t next_u64();

    // The keystream block for `counter` under `key`.
    static Block block(const Key& key, std::uint64_t counter);

private:
    Key key_;
    std::uint64_t counter_ = 0;  // the block that `buffer_` holds is counter_ - 1
    Block buffer_{};
    std::size_t used_ = buffer_.size();  // words of `buffer_` already handed out
};

// A 64-bit seed from this thread's generator, itself keyed from the
// operating system's entropy source on first use, so unseeded imputers differ
// from run to run.
std::uint64_t entropy_seed();

}  // namespace norvale
