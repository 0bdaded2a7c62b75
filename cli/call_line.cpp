#include "cli/call_line.h"

#include <utility>

#include "cli/literals.h"

namespace hx::cli {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isWordChar(char c) { return isLetter(c) || isDigit(c); }
// Characters a number token is made of; a letter is taken along so that
// "12abc" is reported whole rather than as 12 followed by junk.
bool isNumberChar(char c) { return isWordChar(c) || c == '.' || c == '+' || c == '-'; }

class Parser {
 public:
  explicit Parser(std::string_view line) : s_(line) {}

  ParsedLine run() {
    skipSpace();
    if (atEnd() || atComment()) return {};
    ParsedLine out;
    out.kind = ParsedLine::Kind::Call;
    if (!name(out.call.method) || !arguments(out.call.args) || !rest()) {
      out.kind = ParsedLine::Kind::Error;
      out.error = std::move(error_);
    }
    return out;
  }

 private:
  bool atEnd() const { return pos_ >= s_.size(); }
  char peek() const { return atEnd() ? '\0' : s_[pos_]; }
  bool atComment() const { return s_.substr(pos_, 2) == "--"; }
  void skipSpace() {
    while (!atEnd() && isSpace(s_[pos_])) ++pos_;
  }

  bool fail(std::string what) {
    error_ = "column " + std::to_string(pos_ + 1) + ": " + std::move(what);
    return false;
  }

  bool name(std::string& out) {
    if (!isLetter(peek())) return fail("expected a method name");
    const size_t start = pos_;
    while (!atEnd() && isWordChar(s_[pos_])) ++pos_;
    out = s_.substr(start, pos_ - start);
    skipSpace();
    if (peek() != '(') return fail("expected '(' after the method name");
    ++pos_;
    return true;
  }

  bool arguments(std::vector<Literal>& out) {
    skipSpace();
    if (peek() == ')') {
      ++pos_;
      return true;
    }
    for (;;) {
      Literal value;
      if (!literal(value)) return false;
      out.push_back(std::move(value));
      skipSpace();
      if (atEnd()) return fail("missing ')'");
      const char c = s_[pos_++];
      if (c == ')') return true;
      if (c != ',') {
        --pos_;
        return fail("expected ',' or ')'");
      }
      skipSpace();
    }
  }

  bool rest() {
    skipSpace();
    if (atEnd() || atComment()) return true;
    return fail("unexpected text after ')'");
  }

  bool literal(Literal& out) {
    const char c = peek();
    if (c == '"') return string(out);
    if (isDigit(c) || c == '.' || c == '+' || c == '-') return number(out);
    if (isLetter(c)) return fail("unknown word; arguments are numbers or double-quoted strings");
    if (atEnd()) return fail("missing ')'");
    return fail("expected an argument");
  }

  bool number(Literal& out) {
    const size_t start = pos_;
    while (!atEnd() && isNumberChar(s_[pos_])) ++pos_;
    const std::string_view token = s_.substr(start, pos_ - start);
    const bool isFloat = token.find_first_of(".eE") != std::string_view::npos;
    if (isFloat) {
      if (auto x = parseFloat(token)) {
        out = *x;
        return true;
      }
    } else if (auto n = parseInt32(token)) {
      out = *n;
      return true;
    }
    pos_ = start;
    if (!isFloat && isDecimalInteger(token))
      return fail("integer " + std::string(token) + " does not fit 32 bits");
    if (isFloat && isDecimalFloat(token))
      return fail("float " + std::string(token) + " is out of range");
    return fail("not a number: " + std::string(token));
  }

  bool string(Literal& out) {
    std::string text;
    ++pos_;  // opening quote
    for (;;) {
      if (atEnd()) return fail("unterminated string");
      const char c = s_[pos_++];
      if (c == '"') break;
      if (c == '\0') {
        --pos_;
        // The module reads texts up to their first NUL: the rest would be lost silently.
        return fail("a NUL byte inside a string");
      }
      if (c != '\\') {
        text += c;
        continue;
      }
      if (atEnd()) return fail("unterminated string");
      switch (s_[pos_++]) {
        case '"': text += '"'; break;
        case '\\': text += '\\'; break;
        case 'n': text += '\n'; break;
        case 't': text += '\t'; break;
        default:
          pos_ -= 2;
          return fail("unknown escape; use \\\" \\\\ \\n or \\t");
      }
    }
    out = std::move(text);
    return true;
  }

  std::string_view s_;
  size_t pos_ = 0;
  std::string error_;
};

}  // namespace

ParsedLine parseCallLine(std::string_view line) { return Parser(line).run(); }

std::optional<int32_t> methodNumber(std::string_view name) {
  for (size_t i = 0; i < kMethodNames.size(); ++i)
    if (kMethodNames[i] == name) return static_cast<int32_t>(i);
  return std::nullopt;
}

}  // namespace hx::cli
