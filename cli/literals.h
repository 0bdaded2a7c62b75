// Number texts as the command accepts them, on the command line and in
// call lines alike. Only plain decimal: no hex, octal, spaces or locale,
// so a value means the same on every platform.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace hx::cli {

// [+-]digits, within the signed 32-bit range.
std::optional<int32_t> parseInt32(std::string_view text);
// [+-] digits with an optional dot and exponent ("2", "0.5", ".5", "1e-3");
// finite doubles only (no inf, nan, hex floats, or overflow).
std::optional<double> parseFloat(std::string_view text);
// The shapes of the two, of any size (to tell "too large" from "not a number").
bool isDecimalInteger(std::string_view text);
bool isDecimalFloat(std::string_view text);

}  // namespace hx::cli
