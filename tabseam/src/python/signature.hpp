#pragma once
// Text signatures as the single description of a callable: the docstring the
// interpreter shows (signature line, "--", empty line) and the parameter names
// the argument parser matches, both taken from one literal such as
// "fit($self, _data)" or "ConstantImputerCore(value=0.0, encoding=None)".
// A parameter written with "=default" is optional, one without is required.
#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

namespace tabseam::py {

template <std::size_t N>
struct FixedString {
    char chars[N]{};
    constexpr FixedString(const char (&text)[N]) { std::copy_n(text, N, chars); }
    constexpr std::string_view view() const { return {chars, N - 1}; }
};

struct Parameter {
    std::string_view name;
    bool required;
};

namespace detail {

constexpr std::string_view trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

constexpr std::string_view parameter_list(std::string_view signature) {
    const auto open = signature.find('(');
    const auto close = signature.rfind(')');
    return signature.substr(open + 1, close - open - 1);
}

// Calls visit(piece) for each comma-separated piece, "$self"/"$type" left out.
template <class Visit>
constexpr void for_each_parameter(std::string_view signature, Visit visit) {
    std::string_view rest = parameter_list(signature);
    while (!trim(rest).empty()) {
        const auto comma = rest.find(',');
        const std::string_view piece = trim(rest.substr(0, comma));
        if (piece != "$self" && piece != "$type") visit(piece);
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
}

constexpr std::size_t parameter_count(std::string_view signature) {
    std::size_t count = 0;
    for_each_parameter(signature, [&](std::string_view) { ++count; });
    return count;
}

}  // namespace detail

template <FixedString Text>
struct Signature {
    static constexpr std::string_view text = Text.view();
    static constexpr std::size_t arity = detail::parameter_count(text);

    static constexpr std::array<Parameter, arity> parameters = [] {
        std::array<Parameter, arity> out{};
        std::size_t i = 0;
        detail::for_each_parameter(text, [&](std::string_view piece) {
            const auto equals = piece.find('=');
            out[i++] = {detail::trim(piece.substr(0, equals)), equals == std::string_view::npos};
        });
        return out;
    }();

    // The callable's name, NUL-terminated for PyMethodDef.
    static constexpr auto name_chars = [] {
        std::array<char, text.find('(') + 1> out{};
        std::copy_n(text.data(), out.size() - 1, out.data());
        return out;
    }();
    static constexpr std::string_view name{name_chars.data(), name_chars.size() - 1};

    // "<signature>\n--\n\n", NUL-terminated: the interpreter's text-signature form.
    static constexpr auto doc_chars = [] {
        constexpr std::string_view tail = "\n--\n\n";
        std::array<char, text.size() + tail.size() + 1> out{};
        std::copy_n(text.data(), text.size(), out.data());
        std::copy_n(tail.data(), tail.size(), out.data() + text.size());
        return out;
    }();
    static constexpr const char* doc = doc_chars.data();
};

}  // namespace tabseam::py
