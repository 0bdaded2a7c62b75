// Numeric options: every one is read by one checked conversion, plain
// decimal text within the option's range, and every seconds-to-frames or
// rate-to-frames figure is rounded by one checked rounding.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace hx::cli {

template <class T>
struct Range {
  T min;
  T max;
};
// Floats may exclude their lower bound ("more than 0").
struct FloatRange {
  double min;
  double max;
  bool minExcluded = false;
};

inline constexpr Range<int32_t> kAnyInt32{INT32_MIN, INT32_MAX};
inline constexpr Range<int32_t> kPositiveInt32{1, INT32_MAX};
inline constexpr Range<uint64_t> kAnyCount{0, UINT64_MAX};
inline constexpr double kLargestFloat = std::numeric_limits<double>::max();
inline constexpr FloatRange kAnyFloat{-kLargestFloat, kLargestFloat};
inline constexpr FloatRange kSeconds{0, kLargestFloat};
inline constexpr FloatRange kPositiveFloat{0, kLargestFloat, true};

// The value, or nullopt with why: "'x' is not a whole number",
// "-1 is less than 0", "99999999999 is more than 2147483647".
template <class T>
struct Checked {
  std::optional<T> value;
  std::string why;
};
Checked<int32_t> checkedNumber(std::string_view text, Range<int32_t> range);
Checked<uint64_t> checkedNumber(std::string_view text, Range<uint64_t> range);
Checked<double> checkedNumber(std::string_view text, FloatRange range);

// x rounded to the nearest integer when that lies in [lo, hi]; nullopt
// for NaN, infinities and anything outside.
std::optional<int64_t> roundedWithin(double x, int64_t lo, int64_t hi);

// An option whose text is checked while the command line is read (a usage
// error naming the option) and stored in target when given.
CLI::Option* addNumber(CLI::App* app, const std::string& name, std::optional<int32_t>& target,
                       Range<int32_t> range, const std::string& help);
CLI::Option* addNumber(CLI::App* app, const std::string& name, int32_t& target,
                       Range<int32_t> range, const std::string& help);
CLI::Option* addNumber(CLI::App* app, const std::string& name, uint64_t& target,
                       Range<uint64_t> range, const std::string& help);
CLI::Option* addNumber(CLI::App* app, const std::string& name, std::optional<double>& target,
                       FloatRange range, const std::string& help);

}  // namespace hx::cli
