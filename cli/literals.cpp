#include "cli/literals.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace hx::cli {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// from_chars takes a minus but no plus.
std::string_view withoutPlus(std::string_view text) {
  if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
  return text;
}

size_t skipDigits(std::string_view text, size_t i) {
  while (i < text.size() && isDigit(text[i])) ++i;
  return i;
}

}  // namespace

// [+-] (digits [. digits] | . digits) [(e|E) [+-] digits], nothing else.
bool isDecimalFloat(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const size_t intStart = i;
  i = skipDigits(text, i);
  size_t mantissaDigits = i - intStart;
  if (i < text.size() && text[i] == '.') {
    const size_t fracStart = ++i;
    i = skipDigits(text, i);
    mantissaDigits += i - fracStart;
  }
  if (mantissaDigits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const size_t expStart = i;
    i = skipDigits(text, i);
    if (i == expStart) return false;
  }
  return i == text.size();
}

bool isDecimalInteger(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  return i < text.size() && skipDigits(text, i) == text.size();
}

std::optional<int32_t> parseInt32(std::string_view text) {
  if (!isDecimalInteger(text)) return std::nullopt;
  text = withoutPlus(text);
  int32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<double> parseFloat(std::string_view text) {
  if (!isDecimalFloat(text)) return std::nullopt;
  text = withoutPlus(text);
  double value = 0;
  auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

}  // namespace hx::cli
