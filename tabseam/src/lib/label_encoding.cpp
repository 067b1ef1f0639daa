#include "lib/label_encoding.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "utils/panic.hpp"
#include "utils/parallel.hpp"

namespace tabseam {

bool is_missing_marker(std::string_view label) {
    return label == "nan" || label == "NaN" || label == "<NA>";
}

namespace {

// Distinct texts in ascending byte-wise order (a prefix sorts first). Works
// on views of the collected texts, not on copies.
std::vector<std::string_view> sorted_distinct(std::span<const std::string> labels) {
    std::vector<std::string_view> views(labels.begin(), labels.end());
    // char_traits<char> compares as unsigned char, i.e. byte-wise.
    std::sort(views.begin(), views.end());
    views.erase(std::unique(views.begin(), views.end()), views.end());
    return views;
}

}  // namespace

EncodedColumn label_encode(std::span<const std::string> labels) {
    EncodedColumn column;
    const auto distinct = sorted_distinct(labels);
    column.label_map.reserve(distinct.size());
    std::uint64_t next_code = 0;
    for (const auto label : distinct) {
        if (is_missing_marker(label)) {
            column.label_map.emplace(std::string(label), std::nullopt);
            continue;
        }
        column.label_map.emplace(std::string(label), next_code);
        column.decode_map.emplace(next_code, std::string(label));
        ++next_code;
    }

    column.codes.resize(labels.size());
    const LabelMap& map = column.label_map;
    norvale::SendPtr<double> codes(column.codes.data());
    norvale::parallel_for_each(labels.size(), [&](std::size_t row) {
        const auto entry = map.find(labels[row]);
        if (entry == map.end()) norvale::panic("label missing from its own label map");
        codes[row] = entry->second ? static_cast<double>(*entry->second)
                                   : std::numeric_limits<double>::quiet_NaN();
    });
    return column;
}

std::string number_label(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";

    // Shortest round-trip digits, then moved into positional notation.
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    const std::string_view text(buffer, result.ptr);
    const auto e = text.find('e');
    const std::string_view mantissa = text.substr(0, e);
    int exponent = 0;
    std::from_chars(text.data() + e + 1 + (text[e + 1] == '+'), text.data() + text.size(),
                    exponent);

    std::string out;
    std::string digits;
    for (const char ch : mantissa) {
        if (ch == '-')
            out += '-';
        else if (ch != '.')
            digits += ch;
    }
    const int count = static_cast<int>(digits.size());
    if (exponent >= count - 1) {
        out += digits;
        out.append(static_cast<std::size_t>(exponent - (count - 1)), '0');
    } else if (exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
    } else {
        out.append(digits, 0, static_cast<std::size_t>(exponent + 1));
        out += '.';
        out.append(digits, static_cast<std::size_t>(exponent + 1));
    }
    return out;
}

std::uint64_t saturating_code(double value) {
    constexpr double two_to_64 = 18446744073709551616.0;
    if (std::isnan(value) || value <= 0.0) return 0;
    if (value >= two_to_64) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(value);
}

}  // namespace tabseam
