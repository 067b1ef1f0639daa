#pragma once
// StateCodec: the positional, fixed-width, little-endian encoding of state
// records. A record is its fields back to back in declaration order; there are
// no names, tags, padding or lengths beyond those of the type words below.
//
//   C++ type                       type word
//   uint8_t/uint32_t/int32_t/...   u8/u32/i32/u64/i64
//   double                         f64 (bit pattern kept)
//   bool                           bool
//   std::string                    string (u64 length + UTF-8)
//   std::vector<T>                 seq<T>
//   std::unordered_map<K, V>       map<K,V>
//   std::optional<T>               option<T>
//   enum E (with variant_count(E)) enum without payload
//   std::variant<Ts...>            enum with a payload per variant
//   std::tuple / std::pair         tuple(A, B, ...)
//   struct with fields(self)       record
//   Array1                         array1<f64>
//   Matrix                         array2<f64>
//   Box<T>                         T, in place
//
// A record type lists its fields with a static member template
//     static auto fields(auto& self) { return std::tie(self.a, self.b); }
// and may add `static Status check(const T&)`, run as soon as its fields are
// read, for checks that belong to the record.
#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <expected>
#include <format>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "codec/utf8.hpp"
#include "utils/box.hpp"
#include "utils/matrix.hpp"

namespace norvale::codec {

static_assert(std::endian::native == std::endian::little,
              "the state codec copies numbers as raw little-endian bytes");

// Why a decode failed, as shown after "failed to unpickle X: ".
using Reason = std::string;
using Status = std::expected<void, Reason>;
template <class T>
using Decoded = std::expected<T, Reason>;

// A one-dimensional f64 array, distinct from seq<f64> in its encoded form.
struct Array1 {
    std::vector<double> values;
    friend bool operator==(const Array1&, const Array1&) = default;
};

// A corrupt count may reserve at most this many bytes ahead of the data.
inline constexpr std::size_t kMaxReservationBytes = 1 << 20;

// Boxes (the only recursive type word) may nest this deep when decoding, so
// that a hostile state cannot exhaust the stack.
inline constexpr std::size_t kMaxBoxDepth = 32;

inline Reason end_of_input() { return "io error: unexpected end of file"; }

// ---- sinks: the size pass and the writing pass share one walk ----

class SizeCounter {
public:
    void put(const void*, std::size_t n) { total_ += n; }
    std::size_t total() const { return total_; }

private:
    std::size_t total_ = 0;
};

class BufferWriter {
public:
    explicit BufferWriter(std::span<std::byte> out) : out_(out) {}
    void put(const void* data, std::size_t n) {
        if (n > out_.size()) panic("state buffer smaller than its size pass");
        std::memcpy(out_.data(), data, n);
        out_ = out_.subspan(n);
    }
    std::size_t remaining() const { return out_.size(); }

private:
    std::span<std::byte> out_;
};

class Reader {
public:
    explicit Reader(std::span<const std::byte> input) : rest_(input) {}

    // Copies the next n bytes out, or fails with the end-of-input reason.
    Status take(void* out, std::size_t n) {
        if (rest_.size() < n) return std::unexpected(end_of_input());
        std::memcpy(out, rest_.data(), n);
        rest_ = rest_.subspan(n);
        return {};
    }
    // The next n bytes in place; a short input gives `short_reason`.
    Decoded<std::span<const std::byte>> take_span(std::size_t n, const char* short_reason) {
        if (rest_.size() < n) return std::unexpected(Reason(short_reason));
        auto head = rest_.first(n);
        rest_ = rest_.subspan(n);
        return head;
    }
    std::size_t remaining() const { return rest_.size(); }

    // Counts one more level of Box nesting; fails past kMaxBoxDepth.
    Status enter_box() {
        if (box_depth_ == kMaxBoxDepth)
            return std::unexpected(
                std::format("nesting deeper than {} levels", kMaxBoxDepth));
        ++box_depth_;
        return {};
    }
    void leave_box() { --box_depth_; }

private:
    std::span<const std::byte> rest_;
    std::size_t box_depth_ = 0;
};

// ---- type words ----

template <class T>
concept Number = std::same_as<T, std::uint8_t> || std::same_as<T, std::uint32_t> ||
                 std::same_as<T, std::int32_t> || std::same_as<T, std::uint64_t> ||
                 std::same_as<T, std::int64_t> || std::same_as<T, double>;

template <class T>
concept PlainEnum = std::is_enum_v<T> && requires(T e) {
    { variant_count(e) } -> std::convertible_to<std::uint32_t>;
};

template <class T>
concept RecordType = requires(const T& value) { T::fields(value); };

template <class T>
concept CheckedRecord = requires(const T& value) {
    { T::check(value) } -> std::same_as<Status>;
};

template <class T>
struct IsVariant : std::false_type {};
template <class... Ts>
struct IsVariant<std::variant<Ts...>> : std::true_type {};

template <class T>
struct IsTuple : std::false_type {};
template <class... Ts>
struct IsTuple<std::tuple<Ts...>> : std::true_type {};
template <class A, class B>
struct IsTuple<std::pair<A, B>> : std::true_type {};

template <class T>
struct IsSeq : std::false_type {};
template <class T, class A>
struct IsSeq<std::vector<T, A>> : std::true_type {};

template <class T>
struct IsMap : std::false_type {};
template <class K, class V, class... Rest>
struct IsMap<std::unordered_map<K, V, Rest...>> : std::true_type {};
template <class K, class V, class... Rest>
struct IsMap<std::map<K, V, Rest...>> : std::true_type {};

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <class T>
struct IsBox : std::false_type {};
template <class T>
struct IsBox<Box<T>> : std::true_type {};

template <class Sink, class T>
void write(Sink& sink, const T& value);
template <class T>
Status read(Reader& in, T& out);

namespace detail {

template <class Sink>
void write_count(Sink& sink, std::size_t n) {
    const auto count = static_cast<std::uint64_t>(n);
    sink.put(&count, sizeof count);
}

inline Decoded<std::uint64_t> read_count(Reader& in) {
    std::uint64_t count = 0;
    if (auto s = in.take(&count, sizeof count); !s) return std::unexpected(s.error());
    return count;
}

// How many elements a count may reserve before the data is seen.
template <class Element>
std::size_t bounded_reservation(std::uint64_t count) {
    constexpr std::size_t cap = kMaxReservationBytes / sizeof(Element);
    return count < cap ? static_cast<std::size_t>(count) : cap;
}

inline Decoded<std::uint32_t> read_variant_index(Reader& in, std::uint32_t variants) {
    std::uint32_t index = 0;
    if (auto s = in.take(&index, sizeof index); !s) return std::unexpected(s.error());
    if (index >= variants)
        return std::unexpected(std::format(
            "invalid value: integer `{}`, expected variant index 0 <= i < {}", index, variants));
    return index;
}

template <class Variant, std::size_t I = 0>
Status read_variant_payload(Reader& in, std::size_t index, Variant& out) {
    if constexpr (I < std::variant_size_v<Variant>) {
        if (index != I) return read_variant_payload<Variant, I + 1>(in, index, out);
        std::variant_alternative_t<I, Variant> payload{};
        if (auto s = read(in, payload); !s) return s;
        out.template emplace<I>(std::move(payload));
        return {};
    } else {
        panic("variant index checked against its count");
    }
}

inline Status read_array_version(Reader& in) {
    std::uint8_t version = 0;
    if (auto s = in.take(&version, 1); !s) return s;
    if (version != 1) return std::unexpected(std::format("unknown array version: {}", version));
    return {};
}

inline Reason size_mismatch() { return "data and dimension must match in size"; }

}  // namespace detail

template <class Sink, class T>
void write(Sink& sink, const T& value) {
    if constexpr (std::same_as<T, bool>) {
        const std::uint8_t byte = value ? 1 : 0;
        sink.put(&byte, 1);
    } else if constexpr (Number<T>) {
        sink.put(&value, sizeof value);
    } else if constexpr (std::same_as<T, std::string>) {
        detail::write_count(sink, value.size());
        sink.put(value.data(), value.size());
    } else if constexpr (PlainEnum<T>) {
        const auto index = static_cast<std::uint32_t>(value);
        sink.put(&index, sizeof index);
    } else if constexpr (IsVariant<T>::value) {
        const auto index = static_cast<std::uint32_t>(value.index());
        sink.put(&index, sizeof index);
        std::visit([&](const auto& payload) { write(sink, payload); }, value);
    } else if constexpr (IsBox<T>::value) {
        write(sink, *value);
    } else if constexpr (IsOptional<T>::value) {
        const std::uint8_t tag = value ? 1 : 0;
        sink.put(&tag, 1);
        if (value) write(sink, *value);
    } else if constexpr (IsSeq<T>::value) {
        detail::write_count(sink, value.size());
        for (const auto& element : value) write(sink, element);
    } else if constexpr (IsMap<T>::value) {
        detail::write_count(sink, value.size());
        for (const auto& [key, mapped] : value) {
            write(sink, key);
            write(sink, mapped);
        }
    } else if constexpr (IsTuple<T>::value) {
        std::apply([&](const auto&... element) { (write(sink, element), ...); }, value);
    } else if constexpr (std::same_as<T, Array1>) {
        const std::uint8_t version = 1;
        sink.put(&version, 1);
        detail::write_count(sink, value.values.size());
        write(sink, value.values);
    } else if constexpr (std::same_as<T, Matrix>) {
        const std::uint8_t version = 1;
        sink.put(&version, 1);
        detail::write_count(sink, value.rows());
        detail::write_count(sink, value.cols());
        detail::write_count(sink, value.size());
        sink.put(value.cells().data(), value.size() * sizeof(double));
    } else if constexpr (RecordType<T>) {
        std::apply([&](const auto&... field) { (write(sink, field), ...); }, T::fields(value));
    } else {
        static_assert(sizeof(T) == 0, "no type word for this type");
    }
}

template <class T>
Status read(Reader& in, T& out) {
    if constexpr (std::same_as<T, bool>) {
        std::uint8_t byte = 0;
        if (auto s = in.take(&byte, 1); !s) return s;
        if (byte > 1)
            return std::unexpected(
                std::format("invalid u8 while decoding bool, expected 0 or 1, found {}", byte));
        out = byte == 1;
        return {};
    } else if constexpr (Number<T>) {
        return in.take(&out, sizeof out);
    } else if constexpr (std::same_as<T, std::string>) {
        auto length = detail::read_count(in);
        if (!length) return std::unexpected(length.error());
        // A declared length past the end of input has its own, shorter text.
        auto bytes = in.take_span(static_cast<std::size_t>(*length), "io error: ");
        if (!bytes) return std::unexpected(bytes.error());
        std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
        if (auto error = utf8_error(text))
            return std::unexpected(std::format("string is not valid utf8: {}", *error));
        out.assign(text);
        return {};
    } else if constexpr (PlainEnum<T>) {
        auto index = detail::read_variant_index(in, variant_count(T{}));
        if (!index) return std::unexpected(index.error());
        out = static_cast<T>(*index);
        return {};
    } else if constexpr (IsVariant<T>::value) {
        auto index = detail::read_variant_index(in, std::variant_size_v<T>);
        if (!index) return std::unexpected(index.error());
        return detail::read_variant_payload(in, *index, out);
    } else if constexpr (IsBox<T>::value) {
        if (auto s = in.enter_box(); !s) return s;
        Status status = read(in, *out);
        in.leave_box();
        return status;
    } else if constexpr (IsOptional<T>::value) {
        std::uint8_t tag = 0;
        if (auto s = in.take(&tag, 1); !s) return s;
        if (tag > 1) return std::unexpected(std::format("tag for enum is not valid, found {}", tag));
        out.reset();
        if (tag == 0) return {};
        typename T::value_type inner{};
        if (auto s = read(in, inner); !s) return s;
        out.emplace(std::move(inner));
        return {};
    } else if constexpr (IsSeq<T>::value) {
        auto count = detail::read_count(in);
        if (!count) return std::unexpected(count.error());
        out.clear();
        out.reserve(detail::bounded_reservation<typename T::value_type>(*count));
        for (std::uint64_t i = 0; i < *count; ++i) {
            typename T::value_type element{};
            if (auto s = read(in, element); !s) return s;
            out.push_back(std::move(element));
        }
        return {};
    } else if constexpr (IsMap<T>::value) {
        auto count = detail::read_count(in);
        if (!count) return std::unexpected(count.error());
        out.clear();
        if constexpr (requires { out.reserve(std::size_t{}); })
            out.reserve(detail::bounded_reservation<typename T::value_type>(*count));
        for (std::uint64_t i = 0; i < *count; ++i) {
            typename T::key_type key{};
            typename T::mapped_type mapped{};
            if (auto s = read(in, key); !s) return s;
            if (auto s = read(in, mapped); !s) return s;
            // A repeated key replaces the earlier entry.
            out.insert_or_assign(std::move(key), std::move(mapped));
        }
        return {};
    } else if constexpr (IsTuple<T>::value) {
        return std::apply(
            [&](auto&... element) {
                Status status;
                // (void): an empty tuple folds to a bare `true`.
                (void)((status = read(in, element)) && ...);
                return status;
            },
            out);
    } else if constexpr (std::same_as<T, Array1>) {
        if (auto s = detail::read_array_version(in); !s) return s;
        auto length = detail::read_count(in);
        if (!length) return std::unexpected(length.error());
        if (auto s = read(in, out.values); !s) return s;
        if (out.values.size() != *length) return std::unexpected(detail::size_mismatch());
        return {};
    } else if constexpr (std::same_as<T, Matrix>) {
        if (auto s = detail::read_array_version(in); !s) return s;
        auto rows = detail::read_count(in);
        if (!rows) return std::unexpected(rows.error());
        auto cols = detail::read_count(in);
        if (!cols) return std::unexpected(cols.error());
        std::vector<double> cells;
        if (auto s = read(in, cells); !s) return s;
        // An overflowing product can never match: a hostile state must not
        // build a matrix whose shape disagrees with its data.
        auto expected = Matrix::cell_count(*rows, *cols);
        if (!expected || *expected != cells.size()) return std::unexpected(detail::size_mismatch());
        out = Matrix(*rows, *cols, std::move(cells));
        return {};
    } else if constexpr (RecordType<T>) {
        Status status = std::apply(
            [&](auto&... field) {
                Status s;
                // (void): a record without fields folds to a bare `true`.
                (void)((s = read(in, field)) && ...);
                return s;
            },
            T::fields(out));
        if (!status) return status;
        if constexpr (CheckedRecord<T>) return T::check(out);
        return {};
    } else {
        static_assert(sizeof(T) == 0, "no type word for this type");
    }
}

// ---- whole records ----

template <class T>
std::size_t encoded_size(const T& value) {
    SizeCounter counter;
    write(counter, value);
    return counter.total();
}

// Writes `value` into `out`, which must hold exactly encoded_size(value) bytes.
template <class T>
void encode_into(const T& value, std::span<std::byte> out) {
    BufferWriter writer(out);
    write(writer, value);
    if (writer.remaining() != 0) panic("state buffer larger than its size pass");
}

template <class T>
std::vector<std::byte> encode(const T& value) {
    std::vector<std::byte> out(encoded_size(value));
    encode_into(value, out);
    return out;
}

// Reads a T from the front of `input`; bytes after the record are ignored.
template <class T>
Decoded<T> decode(std::span<const std::byte> input) {
    Reader in(input);
    T value{};
    if (auto s = read(in, value); !s) return std::unexpected(s.error());
    return value;
}

}  // namespace norvale::codec
