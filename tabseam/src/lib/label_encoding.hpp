#pragma once
// Label encoding of string columns: each distinct text of a column gets a
// code, assigned in byte-wise order of the texts so that codes are stable for
// a given set of labels; the three missing markers get no code.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tabseam {

// Label text → code, or nothing for a missing marker.
using LabelMap = std::unordered_map<std::string, std::optional<std::uint64_t>>;
// Code → label text.
using DecodeMap = std::unordered_map<std::uint64_t, std::string>;

// The label maps of one converted table.
struct EncodingInfo {
    std::vector<std::uint64_t> cat_cols;  // string columns, ascending
    std::unordered_map<std::uint64_t, LabelMap> encode_maps;
    std::unordered_map<std::uint64_t, DecodeMap> decode_maps;

    static auto fields(auto& self) {
        return std::tie(self.cat_cols, self.encode_maps, self.decode_maps);
    }
    friend bool operator==(const EncodingInfo&, const EncodingInfo&) = default;
};

struct EncodedColumn {
    std::vector<double> codes;  // one per row; NaN for a missing marker
    LabelMap label_map;
    DecodeMap decode_map;
};

// "nan", "NaN" and "<NA>" denote a missing cell.
bool is_missing_marker(std::string_view label);

// Codes for one column's texts, in row order, with the column's two maps.
EncodedColumn label_encode(std::span<const std::string> labels);

// The text of a number read before its column turned into a string column:
// shortest round-trip digits in positional notation, no fractional part when
// integral ("1", "2.5", "0.0000001", "-0", "NaN", "inf", "-inf").
std::string number_label(double value);

// The code a cell's f64 stands for: truncated toward zero, saturating at 0
// and 2^64 − 1. NaN gives 0.
std::uint64_t saturating_code(double value);

}  // namespace tabseam
