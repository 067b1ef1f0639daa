#include "codec/state_codec.hpp"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

namespace norvale::codec {
namespace {

enum class Colour : std::uint32_t { Red, Green, Blue };
constexpr std::uint32_t variant_count(Colour) { return 3; }

// One field of every type word.
struct Everything {
    std::uint8_t u8 = 0;
    std::uint32_t u32 = 0;
    std::int32_t i32 = 0;
    std::uint64_t u64 = 0;
    std::int64_t i64 = 0;
    double f64 = 0;
    bool flag = false;
    std::string text;
    std::vector<double> numbers;
    std::unordered_map<std::uint64_t, std::string> names;
    std::optional<std::int64_t> maybe;
    Colour colour = Colour::Red;
    std::variant<std::uint8_t, std::string> tagged;
    std::tuple<std::uint32_t, double> pair;
    Array1 vector;
    Matrix table;

    static auto fields(auto& self) {
        return std::tie(self.u8, self.u32, self.i32, self.u64, self.i64, self.f64, self.flag,
                        self.text, self.numbers, self.names, self.maybe, self.colour, self.tagged,
                        self.pair, self.vector, self.table);
    }
    friend bool operator==(const Everything&, const Everything&) = default;
};

Everything sample() {
    Everything value;
    value.u8 = 7;
    value.u32 = 0xA1B2C3D4;
    value.i32 = -2;
    value.u64 = 1ull << 40;
    value.i64 = -3;
    value.f64 = 2.5;
    value.flag = true;
    value.text = "héllo";
    value.numbers = {1.0, -0.0};
    value.names = {{3, "three"}};
    value.maybe = 9;
    value.colour = Colour::Blue;
    value.tagged = std::string("x");
    value.pair = {5, 0.25};
    value.vector = Array1{{1.0, 2.0, 3.0}};
    value.table = Matrix(2, 3, std::vector<double>{1, 2, 3, 4, 5, 6});
    return value;
}

using Bytes = std::vector<std::byte>;

Bytes bytes(std::initializer_list<int> values) {
    Bytes out;
    for (const int v : values) out.push_back(static_cast<std::byte>(v));
    return out;
}

template <class T>
void append(Bytes& out, T value) {
    const auto* raw = reinterpret_cast<const std::byte*>(&value);
    out.insert(out.end(), raw, raw + sizeof value);
}

TEST(Encoding, SizesFollowTheTypeWords) {
    // 1+4+4+8+8+8+1 fixed, string 8+6, seq 8+16, map 8+(8+8+5), option 1+8,
    // enum 4, variant 4+8+1, tuple 4+8, array1 1+8+8+24, array2 1+8+8+8+48.
    EXPECT_EQ(encoded_size(sample()), 34u + 14 + 24 + 29 + 9 + 4 + 13 + 12 + 41 + 73);
    EXPECT_EQ(encode(sample()).size(), encoded_size(sample()));
}

struct Small {
    std::uint32_t a;
    std::optional<Colour> b;
    bool c;
    static auto fields(auto& self) { return std::tie(self.a, self.b, self.c); }
};

TEST(Encoding, WritesLittleEndianFieldsBackToBack) {
    EXPECT_EQ(encode(Small{0x01020304, Colour::Green, true}),
              bytes({0x04, 0x03, 0x02, 0x01, 1, 1, 0, 0, 0, 1}));
    EXPECT_EQ(encode(Small{0, std::nullopt, false}), bytes({0, 0, 0, 0, 0, 0}));
}

TEST(RoundTrip, EveryTypeWordComesBackEqual) {
    const Everything value = sample();
    const auto decoded = decode<Everything>(encode(value));
    ASSERT_TRUE(decoded.has_value()) << decoded.error();
    EXPECT_EQ(*decoded, value);
}

TEST(RoundTrip, FloatBitPatternsSurvive) {
    const double payload_nan = std::bit_cast<double>(0x7FF8DEADBEEF0001ull);
    const std::vector<double> specials{payload_nan, -std::numeric_limits<double>::infinity(),
                                       std::numeric_limits<double>::infinity(), -0.0,
                                       std::numeric_limits<double>::denorm_min()};
    const auto decoded = decode<std::vector<double>>(encode(specials));
    ASSERT_TRUE(decoded.has_value());
    ASSERT_EQ(decoded->size(), specials.size());
    for (std::size_t i = 0; i < specials.size(); ++i)
        EXPECT_EQ(std::bit_cast<std::uint64_t>((*decoded)[i]), std::bit_cast<std::uint64_t>(specials[i]));
}

TEST(Decoding, IgnoresTrailingBytes) {
    Bytes encoded = encode(sample());
    encoded.push_back(std::byte{0xFF});
    encoded.push_back(std::byte{0x00});
    EXPECT_EQ(decode<Everything>(encoded).value(), sample());
}

TEST(Decoding, RepeatedMapKeyReplacesTheEarlierEntry) {
    Bytes encoded;
    append<std::uint64_t>(encoded, 2);
    for (const std::uint64_t value : {5, 6}) {
        append<std::uint64_t>(encoded, 1);
        append<std::uint64_t>(encoded, value);
    }
    const auto map = decode<std::unordered_map<std::uint64_t, std::uint64_t>>(encoded);
    ASSERT_TRUE(map.has_value());
    EXPECT_EQ(map->size(), 1u);
    EXPECT_EQ(map->at(1), 6u);
}

struct FailureCase {
    const char* name;
    Bytes (*input)();
    Reason (*decode)(const Bytes&);
    const char* reason;
};

template <class T>
Reason reason_of(const Bytes& input) {
    const auto result = decode<T>(input);
    return result ? Reason("decoded") : result.error();
}

Bytes string_of(std::uint64_t length, std::initializer_list<int> content) {
    Bytes out;
    append(out, length);
    const Bytes tail = bytes(content);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

Bytes array2_with(std::uint8_t version, std::uint64_t rows, std::uint64_t cols,
                  std::uint64_t count) {
    Bytes out{static_cast<std::byte>(version)};
    append(out, rows);
    append(out, cols);
    append(out, count);
    for (std::uint64_t i = 0; i < count; ++i) append(out, 1.0);
    return out;
}

const FailureCase kFailures[] = {
    {"empty_input", [] { return Bytes{}; }, reason_of<Everything>, "io error: unexpected end of file"},
    {"f64_cut_short", [] { return bytes({1, 2, 3}); }, reason_of<double>,
     "io error: unexpected end of file"},
    {"string_cut_short", [] { return string_of(5, {'a', 'b'}); }, reason_of<std::string>,
     "io error: "},
    {"string_length_cut_short", [] { return bytes({5, 0, 0}); }, reason_of<std::string>,
     "io error: unexpected end of file"},
    {"bool_two", [] { return bytes({2}); }, reason_of<bool>,
     "invalid u8 while decoding bool, expected 0 or 1, found 2"},
    {"option_tag_seven", [] { return bytes({7}); }, reason_of<std::optional<bool>>,
     "tag for enum is not valid, found 7"},
    {"enum_index_three", [] { return bytes({3, 0, 0, 0}); }, reason_of<Colour>,
     "invalid value: integer `3`, expected variant index 0 <= i < 3"},
    {"variant_index_two", [] { return bytes({2, 0, 0, 0}); },
     reason_of<std::variant<std::uint8_t, std::string>>,
     "invalid value: integer `2`, expected variant index 0 <= i < 2"},
    {"array2_count_mismatch", [] { return array2_with(1, 2, 3, 5); }, reason_of<Matrix>,
     "data and dimension must match in size"},
    {"array2_version_two", [] { return array2_with(2, 2, 3, 6); }, reason_of<Matrix>,
     "unknown array version: 2"},
    // 2^32 × 2^32 wraps to 0 in 64 bits: it must not pass as an empty matrix.
    {"array2_shape_overflow", [] { return array2_with(1, 1ull << 32, 1ull << 32, 0); },
     reason_of<Matrix>, "data and dimension must match in size"},
    {"array1_count_mismatch",
     [] {
         Bytes out{std::byte{1}};
         append<std::uint64_t>(out, 3);
         append<std::uint64_t>(out, 1);
         append(out, 1.0);
         return out;
     },
     reason_of<Array1>, "data and dimension must match in size"},
    {"huge_seq_count",
     [] {
         Bytes out;
         append<std::uint64_t>(out, 1ull << 63);
         append(out, 1.0);
         return out;
     },
     reason_of<std::vector<double>>, "io error: unexpected end of file"},
    {"huge_map_count",
     [] {
         Bytes out;
         append<std::uint64_t>(out, ~0ull);
         return out;
     },
     reason_of<std::unordered_map<std::string, std::string>>, "io error: unexpected end of file"},
    {"invalid_utf8", [] { return string_of(3, {'a', 0xFF, 'b'}); }, reason_of<std::string>,
     "string is not valid utf8: invalid utf-8 sequence of 1 bytes from index 1"},
};

class DecodeFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(DecodeFailure, GivesItsReason) {
    EXPECT_EQ(GetParam().decode(GetParam().input()), GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(Reasons, DecodeFailure, testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HostileInput, EveryPrefixOfAValidStateFails) {
    const Bytes encoded = encode(sample());
    for (std::size_t length = 0; length < encoded.size(); ++length) {
        const auto result = decode<Everything>(std::span(encoded).first(length));
        ASSERT_FALSE(result.has_value()) << "prefix of " << length << " bytes decoded";
        EXPECT_TRUE(result.error().starts_with("io error: ")) << result.error();
    }
}

TEST(HostileInput, SingleByteCorruptionsDecodeOrFailCleanly) {
    const Bytes encoded = encode(sample());
    for (std::size_t at = 0; at < encoded.size(); ++at) {
        for (const int value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
            Bytes corrupt = encoded;
            corrupt[at] = static_cast<std::byte>(value);
            const auto result = decode<Everything>(corrupt);
            if (result) {
                EXPECT_EQ(result->table.size(), result->table.rows() * result->table.cols());
                EXPECT_EQ(encode(*result).size(), encoded_size(*result));
            }
        }
    }
}

struct Utf8Case {
    std::string text;
    std::optional<std::string> error;
};

class Utf8Validation : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Validation, ReportsTheLongestValidPrefixOfABadSequence) {
    EXPECT_EQ(utf8_error(GetParam().text), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8Validation,
    testing::Values(
        Utf8Case{"plain ascii", std::nullopt}, Utf8Case{"h\xC3\xA9llo \xF0\x9F\x98\x80", std::nullopt},
        Utf8Case{"\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
        Utf8Case{"ab\xC0\xAF", "invalid utf-8 sequence of 1 bytes from index 2"},
        // Surrogates and overlong forms fail at their second byte.
        Utf8Case{"\xED\xA0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
        Utf8Case{"\xE0\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
        Utf8Case{"\xE2\x82x", "invalid utf-8 sequence of 2 bytes from index 0"},
        Utf8Case{"\xF0\x9F\x98x", "invalid utf-8 sequence of 3 bytes from index 0"},
        Utf8Case{"\xF4\x90\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
        Utf8Case{"ok\xE2\x82", "incomplete utf-8 byte sequence from index 2"},
        Utf8Case{"\xF0", "incomplete utf-8 byte sequence from index 0"}),
    [](const auto& info) { return "sequence_" + std::to_string(info.index); });

}  // namespace
}  // namespace norvale::codec
