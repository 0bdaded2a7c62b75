#include "cli/option_numbers.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <system_error>

#include "cli/literals.h"

namespace hx::cli {
namespace {

std::string quotedText(std::string_view text) { return "'" + std::string(text) + "'"; }

std::string numberText(double x) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", x);
  return buf;
}

template <class T>
Checked<T> outside(std::string_view text, T value, Range<T> range) {
  if (value < range.min)
    return {std::nullopt, std::string(text) + " is less than " + std::to_string(range.min)};
  if (value > range.max)
    return {std::nullopt, std::string(text) + " is more than " + std::to_string(range.max)};
  return {value, {}};
}

// Plain decimal text as a T; nullopt when it does not fit.
template <class T>
std::optional<T> wholeNumber(std::string_view text) {
  if (text[0] == '+') text.remove_prefix(1);
  T value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

template <class T>
Checked<T> checkedWhole(std::string_view text, Range<T> range) {
  if (!isDecimalInteger(text)) return {std::nullopt, quotedText(text) + " is not a whole number"};
  if (const std::optional<T> value = wholeNumber<T>(text)) return outside(text, *value, range);
  const bool negative = text[0] == '-';
  return {std::nullopt, std::string(text) + (negative ? " is less than " : " is more than ") +
                            std::to_string(negative ? range.min : range.max)};
}

template <class T, class R>
CLI::Option* add(CLI::App* app, const std::string& name, R range, const std::string& help,
                 const char* typeName, T store) {
  return app
      ->add_option_function<std::string>(
          name, [store, range](const std::string& text) { store(*checkedNumber(text, range).value); },
          help)
      ->type_name(typeName)
      ->check(CLI::Validator(
          [range](std::string& text) { return checkedNumber(text, range).why; }, "",
          typeName));
}

}  // namespace

Checked<int32_t> checkedNumber(std::string_view text, Range<int32_t> range) {
  return checkedWhole(text, range);
}

Checked<uint64_t> checkedNumber(std::string_view text, Range<uint64_t> range) {
  return checkedWhole(text, range);
}

Checked<double> checkedNumber(std::string_view text, FloatRange range) {
  const std::optional<double> x = parseFloat(text);
  if (!x) {
    const bool shape = isDecimalFloat(text);
    return {std::nullopt, quotedText(text) + (shape ? " is too large for a double"
                                                    : " is not a finite decimal number")};
  }
  if (range.minExcluded ? !(*x > range.min) : !(*x >= range.min))
    return {std::nullopt, std::string(text) + " is not " +
                              (range.minExcluded ? "more than " : "at least ") +
                              numberText(range.min)};
  if (*x > range.max)
    return {std::nullopt, std::string(text) + " is more than " + numberText(range.max)};
  return {*x, {}};
}

std::optional<int64_t> roundedWithin(double x, int64_t lo, int64_t hi) {
  // Both bounds are checked in double before any conversion to an integer.
  if (!(x >= double(lo) - 0.5 && x < double(hi) + 0.5)) return std::nullopt;
  const int64_t n = std::llround(x);
  if (n < lo || n > hi) return std::nullopt;
  return n;
}

CLI::Option* addNumber(CLI::App* app, const std::string& name, std::optional<int32_t>& target,
                       Range<int32_t> range, const std::string& help) {
  return add(app, name, range, help, "INT", [&target](int32_t v) { target = v; });
}

CLI::Option* addNumber(CLI::App* app, const std::string& name, int32_t& target,
                       Range<int32_t> range, const std::string& help) {
  return add(app, name, range, help, "INT", [&target](int32_t v) { target = v; });
}

CLI::Option* addNumber(CLI::App* app, const std::string& name, uint64_t& target,
                       Range<uint64_t> range, const std::string& help) {
  return add(app, name, range, help, "N", [&target](uint64_t v) { target = v; });
}

CLI::Option* addNumber(CLI::App* app, const std::string& name, std::optional<double>& target,
                       FloatRange range, const std::string& help) {
  return add(app, name, range, help, "FLOAT", [&target](double v) { target = v; });
}

}  // namespace hx::cli
