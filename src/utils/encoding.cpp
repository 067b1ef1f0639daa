#include "utils/encoding.hpp"

#include <array>
#include <format>

namespace norvale {
namespace {
constexpr std::array<std::string_view, 2> kSupportedEncodings{"label", "None"};
}

Result<std::optional<StringEncoding>> process_labelencoding(
    std::optional<std::string_view> option) {
    if (!option) return std::optional<StringEncoding>{};
    if (*option == "label") return std::optional{StringEncoding::Label};
    return std::unexpected(
        Errors::unsupported_value(std::string(*option), "LabelEncoding", kSupportedEncodings));
}

std::string_view encoding_name(StringEncoding) { return "label"; }

std::string encoding_warn(std::string_view name) {
    return std::format(
        "\"Encoding Parameter is passed, but categorical handling is incomplete\" [{}]", name);
}

}  // namespace norvale
