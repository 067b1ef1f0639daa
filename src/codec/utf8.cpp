#include "codec/utf8.hpp"

#include <cstddef>
#include <cstdint>
#include <format>

namespace norvale::codec {
namespace {

// Width of the character a lead byte starts, 0 for a byte that cannot lead.
int char_width(std::uint8_t lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

bool is_continuation(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }

// The allowed range of the second byte, which excludes overlong forms,
// surrogates and code points above U+10FFFF.
bool second_byte_ok(std::uint8_t lead, std::uint8_t second) {
    switch (lead) {
        case 0xE0: return second >= 0xA0 && second <= 0xBF;
        case 0xED: return second >= 0x80 && second <= 0x9F;
        case 0xF0: return second >= 0x90 && second <= 0xBF;
        case 0xF4: return second >= 0x80 && second <= 0x8F;
        default: return is_continuation(second);
    }
}

}  // namespace

std::optional<std::string> utf8_error(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const std::size_t start = i;
        const int width = char_width(bytes[i]);
        auto invalid = [&](std::size_t length) {
            return std::format("invalid utf-8 sequence of {} bytes from index {}", length, start);
        };
        auto incomplete = [&] {
            return std::format("incomplete utf-8 byte sequence from index {}", start);
        };
        if (width == 0) return invalid(1);
        if (width == 1) {
            ++i;
            continue;
        }
        // Each following byte must be present (else incomplete) and valid
        // (else invalid, counting the bytes accepted so far).
        for (int k = 1; k < width; ++k) {
            if (start + k >= n) return incomplete();
            const std::uint8_t byte = bytes[start + k];
            const bool valid = k == 1 ? second_byte_ok(bytes[start], byte) : is_continuation(byte);
            if (!valid) return invalid(static_cast<std::size_t>(k));
        }
        i = start + static_cast<std::size_t>(width);
    }
    return std::nullopt;
}

}  // namespace norvale::codec
