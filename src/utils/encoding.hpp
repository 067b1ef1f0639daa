#pragma once
// The `encoding` option shared by the imputers, and the warning text of
// imputers that accept it without treating categorical columns specially.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "utils/errors.hpp"

namespace norvale {

// Strategies for string columns; "label" at the Python boundary.
enum class StringEncoding : std::uint32_t { Label = 0 };

// Variant count, used by the state codec to check decoded indices.
constexpr std::uint32_t variant_count(StringEncoding) { return 1; }

// None gives no encoding, "label" (exactly) gives Label, any other text is
// rejected with the "LabelEncoding" parameter.
Result<std::optional<StringEncoding>> process_labelencoding(
    std::optional<std::string_view> option);

// "label" for Label, as shown by the `encoding` properties.
std::string_view encoding_name(StringEncoding encoding);

// "\"Encoding Parameter is passed, but categorical handling is incomplete\" [Name]"
std::string encoding_warn(std::string_view name);

}  // namespace norvale
