// One line of a call script: `methodName(arg, ...)`.
//
// Arguments are integer literals (decimal, 32-bit), float literals (with a
// dot or an exponent: 1.0, .5, 2e3), or double-quoted strings. In a string
// a backslash starts an escape: \" quote, \\ backslash, \n line feed,
// \t tab; any other escape is an error. Blank lines and lines whose first
// non-blank characters are "--" are skipped; "--" after the closing
// parenthesis starts a comment. Spaces and tabs may stand between tokens;
// a carriage return counts as a space, so CRLF scripts read the same.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace hx::cli {

using Literal = std::variant<int32_t, double, std::string>;

struct CallLine {
  std::string method;
  std::vector<Literal> args;
};

struct ParsedLine {
  enum class Kind { Skip, Call, Error };
  Kind kind = Kind::Skip;
  CallLine call;      // Kind::Call
  std::string error;  // Kind::Error: what is wrong and at which column
};

ParsedLine parseCallLine(std::string_view line);

// Longest call line read from a script. A call with a full path fits in a
// few kilobytes; a longer line (a script read from /dev/zero) is refused
// before it fills memory.
inline constexpr size_t kMaxCallLineBytes = 64 * 1024;

// The script methods in the order of the module's method table: the index
// is the method number the host passes. Names are case-sensitive.
inline constexpr std::array<std::string_view, 9> kMethodNames = {
    "new",    "openQuicktimeFile", "closeFile",
    "getSamples", "getAmplitude",  "getFFT",
    "getSampleRate", "getEqualizedFreqCount", "getError"};

std::optional<int32_t> methodNumber(std::string_view name);

// The number of a method named in the code; a misspelt name does not compile.
consteval int32_t methodId(std::string_view name) {
  for (size_t i = 0; i < kMethodNames.size(); ++i)
    if (kMethodNames[i] == name) return static_cast<int32_t>(i);
  throw "no such method";
}

}  // namespace hx::cli
