#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace norvale::codec {

// Nothing for valid UTF-8; otherwise what is wrong and where, e.g.
// "invalid utf-8 sequence of 1 bytes from index 3" or
// "incomplete utf-8 byte sequence from index 5" when the text ends inside a
// character. The length is that of the longest prefix of a valid sequence.
std::optional<std::string> utf8_error(std::string_view text);

}  // namespace norvale::codec
