// The call-line parser and the number texts of the command line.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "cli/call_line.h"
#include "cli/literals.h"
#include "script/method_table.h"

namespace hx::cli {
namespace {

using Kind = ParsedLine::Kind;

std::vector<Literal> L(std::initializer_list<Literal> args) { return args; }

struct GoodLine {
  const char* line;
  const char* method;
  std::vector<Literal> args;
};

TEST(CallLine, ParsesMethodAndTypedArguments) {
  const std::vector<GoodLine> cases = {
      {"getError()", "getError", {}},
      {"getError( )", "getError", {}},
      {"  getFFT ( 1 , -2 )  ", "getFFT", L({1, -2})},
      {"\tcloseFile(\t3\t)", "closeFile", L({3})},
      {"f(2147483647, -2147483648)", "f", L({2147483647, int32_t{-2147483647 - 1}})},
      {"f(+7, 007, -0)", "f", L({7, 7, 0})},
      {"f(1.5, -0.25, 1e3, 2E-2, .5, 3., 1.0)", "f", L({1.5, -0.25, 1000.0, 2e-2, 0.5, 3.0, 1.0})},
      {"f(1e+2, +2.5)", "f", L({100.0, 2.5})},
      {"f(\"a,b\", \"x)y\", \"\")", "f",
       L({std::string("a,b"), std::string("x)y"), std::string()})},
      {R"(f("q\"x", "b\\s", "l\nt\t"))", "f",
       L({std::string("q\"x"), std::string("b\\s"), std::string("l\nt\t")})},
      {R"(openQuicktimeFile("C:\\dir\\a b.wav"))", "openQuicktimeFile",
       L({std::string("C:\\dir\\a b.wav")})},
      {"f(\"--\") -- a trailing comment", "f", L({std::string("--")})},
      {"f(1)\r", "f", L({1})},
      {"snake_case2(1,2)", "snake_case2", L({1, 2})},
  };
  for (const GoodLine& c : cases) {
    SCOPED_TRACE(c.line);
    const ParsedLine p = parseCallLine(c.line);
    ASSERT_EQ(p.kind, Kind::Call) << p.error;
    EXPECT_EQ(p.call.method, c.method);
    EXPECT_EQ(p.call.args, c.args);
  }
}

// An integer literal stays an integer and a dotted one a float: the
// module reads them differently (a float given for an int is truncated).
TEST(CallLine, KeepsIntegersAndFloatsApart) {
  const ParsedLine p = parseCallLine("f(1, 1.0, 1e0)");
  ASSERT_EQ(p.kind, Kind::Call) << p.error;
  ASSERT_EQ(p.call.args.size(), 3u);
  EXPECT_TRUE(std::holds_alternative<int32_t>(p.call.args[0]));
  EXPECT_TRUE(std::holds_alternative<double>(p.call.args[1]));
  EXPECT_TRUE(std::holds_alternative<double>(p.call.args[2]));
}

TEST(CallLine, SkipsBlankAndCommentLines) {
  for (const char* line : {"", "   ", "\t\r", "-- comment", "   -- indented comment", "--"}) {
    SCOPED_TRACE(line);
    EXPECT_EQ(parseCallLine(line).kind, Kind::Skip);
  }
}

struct BadLine {
  const char* line;
  const char* says;  // part of the error text
};

TEST(CallLine, RejectsMalformedLinesWithAColumn) {
  const std::vector<BadLine> cases = {
      {"getError", "expected '('"},
      {"getError(", "missing ')'"},
      {"f(1", "missing ')'"},
      {"f(1,", "missing ')'"},
      {"f(1,)", "expected an argument"},
      {"f(,1)", "expected an argument"},
      {"f(1 2)", "expected ',' or ')'"},
      {"f(1;2)", "expected ',' or ')'"},
      {"f(1) x", "unexpected text after ')'"},
      {"f(1))", "unexpected text after ')'"},
      {"(1)", "expected a method name"},
      {"1f()", "expected a method name"},
      {"me.f()", "expected '('"},
      {"f(2147483648)", "does not fit 32 bits"},
      {"f(-2147483649)", "does not fit 32 bits"},
      {"f(99999999999999999999)", "does not fit 32 bits"},
      {"f(0x10)", "not a number"},
      {"f(12abc)", "not a number"},
      {"f(1e)", "not a number"},
      {"f(1.2.3)", "not a number"},
      {"f(--1)", "not a number"},
      {"f(-)", "not a number"},
      {"f(.)", "not a number"},
      {"f(1e999)", "out of range"},
      {"f(inf)", "unknown word"},
      {"f(nan)", "unknown word"},
      {"f(VOID)", "unknown word"},
      {"f(\"abc)", "unterminated string"},
      {"f(\"abc\\", "unterminated string"},
      {R"(f("a\q"))", "unknown escape"},
      {"f('a')", "expected an argument"},
  };
  for (const BadLine& c : cases) {
    SCOPED_TRACE(c.line);
    const ParsedLine p = parseCallLine(c.line);
    ASSERT_EQ(p.kind, Kind::Error);
    EXPECT_NE(p.error.find(c.says), std::string::npos) << p.error;
    EXPECT_EQ(p.error.rfind("column ", 0), 0u) << p.error;
  }
}

TEST(CallLine, ErrorColumnPointsAtTheFault) {
  EXPECT_EQ(parseCallLine("f(1, 2 3)").error.rfind("column 8:", 0), 0u);
  EXPECT_EQ(parseCallLine(R"(f("ok", "a\q"))").error.rfind("column 11:", 0), 0u);
}

TEST(CallLine, NulInsideALineIsAnErrorNotTheEnd) {
  for (const std::string& line : {std::string("f(1)\0junk", 9), std::string("f(\0)", 4)}) {
    const ParsedLine p = parseCallLine(line);
    EXPECT_EQ(p.kind, Kind::Error);
  }
}

// A raw NUL inside a string cut the path the module saw: "/tmp/a.wav".
TEST(CallLine, NulInsideAStringIsRefused) {
  const ParsedLine p = parseCallLine(std::string("openQuicktimeFile(\"/tmp/a.wav\0.txt\")", 36));
  EXPECT_EQ(p.kind, Kind::Error);
  EXPECT_EQ(p.error, "column 30: a NUL byte inside a string");
}

// The command's names must be the module's own, in the same order, or a
// script would call one method and get another.
TEST(MethodNames, MatchTheModulesMethodTableInOrder) {
  std::vector<std::string> fromTable;
  const std::string text = kMethodTable;
  size_t pos = 0;
  bool first = true;
  while (pos < text.size()) {
    const size_t end = text.find('\n', pos);
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (first) {  // "xtra Harmidex"
      first = false;
      continue;
    }
    if (line.rfind("--", 0) == 0) continue;
    fromTable.push_back(line.substr(0, line.find(' ')));
  }
  ASSERT_EQ(fromTable.size(), kMethodNames.size());
  for (size_t i = 0; i < fromTable.size(); ++i) {
    EXPECT_EQ(kMethodNames[i], fromTable[i]);
    EXPECT_EQ(methodNumber(fromTable[i]), static_cast<int32_t>(i));
  }
}

TEST(MethodNames, UnknownOrMiscasedNamesAreNotFound) {
  for (const char* name : {"", "getfft", "GETFFT", "getFFT2", "me", "Call"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(methodNumber(name).has_value());
  }
}

TEST(NumberText, Int32AcceptsPlainDecimalWithinRangeOnly) {
  struct Case {
    const char* text;
    std::optional<int32_t> value;
  };
  const std::vector<Case> cases = {
      {"0", 0},           {"42", 42},         {"-42", -42},        {"+42", 42},
      {"010", 10},        {"2147483647", 2147483647},              {"-2147483648", INT32_MIN},
      {"2147483648", {}}, {"-2147483649", {}}, {"", {}},           {"-", {}},
      {"+", {}},          {"+-1", {}},        {"--1", {}},         {"0x10", {}},
      {" 1", {}},         {"1 ", {}},         {"1.0", {}},         {"1e3", {}},
      {"12abc", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseInt32(c.text), c.value);
  }
}

TEST(NumberText, FloatAcceptsDecimalAndExponentFiniteOnly) {
  struct Case {
    const char* text;
    std::optional<double> value;
  };
  const std::vector<Case> cases = {
      {"1", 1.0},       {"0.5", 0.5},     {"-0.5", -0.5},  {"+2.5", 2.5},  {".5", 0.5},
      {"5.", 5.0},      {"1e3", 1000.0},  {"1E-2", 1e-2},  {"2e+1", 20.0}, {"0.1", 0.1},
      {"3.4028235e38", 3.4028235e38},
      {"", {}},         {".", {}},        {"e3", {}},      {"1e", {}},     {"1e+", {}},
      {"inf", {}},      {"-inf", {}},     {"nan", {}},     {"1e999", {}},  {"0x1p3", {}},
      {"1,5", {}},      {" 1", {}},       {"1.5x", {}},    {"+-1", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseFloat(c.text), c.value);
  }
}

}  // namespace
}  // namespace hx::cli
