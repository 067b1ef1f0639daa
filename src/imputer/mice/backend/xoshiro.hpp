#pragma once
// xoshiro256++, the generator behind the donor draws of predictive mean
// matching, and Canon's widening-multiply method for a uniform index.
#include <array>
#include <bit>
#include <cstdint>

namespace norvale::mice {

__extension__ typedef unsigned __int128 Uint128;

class Xoshiro256pp {
public:
    using State = std::array<std::uint64_t, 4>;
    // Every PMM model starts here, so imputations repeat from run to run.
    static constexpr State kInitialState = {0xbdd732262feb6e95ULL, 0x28efe333b266f103ULL,
                                            0x47526757130f9f52ULL, 0x581ce1ff0e4ae394ULL};

    constexpr Xoshiro256pp() = default;
    constexpr explicit Xoshiro256pp(State state) : s_(state) {}

    constexpr std::uint64_t next_u64() {
        const std::uint64_t out = std::rotl(s_[0] + s_[3], 23) + s_[0];
        const std::uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = std::rotl(s_[3], 45);
        return out;
    }

    // The upper half of one output.
    constexpr std::uint32_t next_u32() { return static_cast<std::uint32_t>(next_u64() >> 32); }

    // Uniform in [0, n) for n ≥ 1: the high word of draw × n, corrected by a
    // second draw only when the low word is close enough to overflow to carry.
    constexpr std::uint64_t index_below(std::uint64_t n) {
        if (n <= 0xffffffffULL) {
            const auto range = static_cast<std::uint32_t>(n);
            const std::uint64_t product = std::uint64_t{next_u32()} * range;
            auto high = static_cast<std::uint32_t>(product >> 32);
            const auto low = static_cast<std::uint32_t>(product);
            if (low > static_cast<std::uint32_t>(0u - range)) {
                const auto carry =
                    static_cast<std::uint32_t>((std::uint64_t{next_u32()} * range) >> 32);
                if (static_cast<std::uint64_t>(low) + carry > 0xffffffffULL) ++high;
            }
            return high;
        }
        const Uint128 product = static_cast<Uint128>(next_u64()) * n;
        auto high = static_cast<std::uint64_t>(product >> 64);
        const auto low = static_cast<std::uint64_t>(product);
        if (low > 0 - n) {
            const auto carry = static_cast<std::uint64_t>(
                (static_cast<Uint128>(next_u64()) * n) >> 64);
            if (low + carry < low) ++high;  // the sum overflowed 64 bits
        }
        return high;
    }

    constexpr const State& state() const { return s_; }

private:
    State s_ = kInitialState;
};

}  // namespace norvale::mice
