#pragma once

namespace tabseam::py {

// The docstring of both native modules.
inline constexpr const char* kModuleDoc =
    "A natively implemented Python module that fills in missing values of tables.";

}  // namespace tabseam::py
