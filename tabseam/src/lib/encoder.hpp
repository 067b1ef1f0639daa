#pragma once
// The label encoder's state: the maps of the last table it encoded. The
// struct is also the state record.
#include <optional>
#include <tuple>

#include "lib/label_encoding.hpp"
#include "utils/encoding.hpp"

namespace tabseam {

struct Encoder {
    // Absent before the first encode and after encoding a float64 array.
    std::optional<EncodingInfo> encoding_info;
    norvale::StringEncoding encoding_strat = norvale::StringEncoding::Label;

    static auto fields(auto& self) { return std::tie(self.encoding_info, self.encoding_strat); }
};

}  // namespace tabseam
