// Dispatcher, argument readers and the last-error text, driven through the
// script interface as a host drives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "common/script_session.h"
#include "script/method_table.h"
#include "script/script_interface.h"

namespace hx::test {
namespace {

class Dispatch : public ScriptSession {};

struct ReaderCase {
  const char* label;
  int32_t method;
  std::initializer_list<Arg> args;
  const char* error;
};

// Argument failures end the method with the reader's text and the result 0.
TEST_F(Dispatch, ArgumentFailuresLeaveReaderTextAndResultZero) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const ReaderCase cases[] = {
      {"required int missing", kMethodCloseFile, {}, "fileID is VOID"},
      {"int given a string", kMethodCloseFile, {std::string("1")}, "fileID should be a int"},
      {"int given void", kMethodGetSampleRate, {VoidArg{}}, "fileID should be a int"},
      {"required string missing", kMethodOpenQuicktimeFile, {}, "qtfilepath is VOID"},
      {"string given an int", kMethodOpenQuicktimeFile, {1}, "qtfilepath should be a string"},
      {"nbbins named in its own words", kMethodGetEqualizedFreqCount, {}, "nbbins is VOID"},
      {"optional int of wrong type", kMethodGetFFT, {42, 0, 256, std::string("2")}, "timesmooth should be a int"},
      {"optional float of wrong type", kMethodGetFFT, {42, 0, 256, 1, std::string("x")}, "amplMax should be a float"},
      {"getSamples third required", kMethodGetSamples, {1, 0}, "nbSamples is VOID"},
      {"getAmplitude second required", kMethodGetAmplitude, {1}, "startsample is VOID"},
      {"getSamples optional amplMax wrong type", kMethodGetSamples, {1, 0, 10, std::string("big")}, "amplMax should be a float"},
      {"NaN has no integer reading", kMethodGetEqualizedFreqCount, {nan}, "nbbins should be a int"},
      {"infinity has no integer reading", kMethodGetEqualizedFreqCount, {-inf}, "nbbins should be a int"},
      {"above int32 has no integer reading", kMethodGetEqualizedFreqCount, {2147483648.0}, "nbbins should be a int"},
  };
  for (const ReaderCase& c : cases) {
    SCOPED_TRACE(c.label);
    Result r = call(c.method, c.args);
    EXPECT_EQ(r.text(), "0");
    EXPECT_EQ(lastError(), c.error);
  }
}

TEST_F(Dispatch, FloatArgumentsTruncateTowardZero) {
  struct Case {
    double given;
    int32_t count;  // getEqualizedFreqCount of the truncated value
  } cases[] = {{2.9, 2}, {256.0, 9}, {3.7, 3}, {-2.9, 1}, {0.99, 0}, {-0.99, 0}, {2147483647.5, 32}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    EXPECT_EQ(call(kMethodGetEqualizedFreqCount, {c.given}).integer(), c.count);
    EXPECT_EQ(lastError(), "no error.");
  }
}

TEST_F(Dispatch, EqualizedCountTable) {
  const std::pair<int32_t, int32_t> cases[] = {
      {256, 9}, {200, 9}, {2, 2}, {3, 3}, {1, 1}, {0, 0}, {-5, 1},
      {1 << 30, 31}, {(1 << 30) + 1, 32}, {2147483647, 32}, {-2147483647 - 1, 1}};
  for (auto [n, expected] : cases) {
    SCOPED_TRACE(n);
    EXPECT_EQ(call(kMethodGetEqualizedFreqCount, {n}).integer(), expected);
  }
}

TEST_F(Dispatch, ErrorTextLifeCycle) {
  EXPECT_EQ(lastError(), "") << "a fresh object has the empty text";
  EXPECT_EQ(lastError(), "") << "getError leaves it alone";
  call(kMethodCloseFile, {});
  EXPECT_EQ(lastError(), "fileID is VOID");
  EXPECT_EQ(lastError(), "fileID is VOID") << "the same text twice";
  EXPECT_EQ(call(kMethodGetEqualizedFreqCount, {8}).integer(), 4);
  EXPECT_EQ(lastError(), "no error.");
  call(kMethodCloseFile, {std::string("x")});
  // Method 0 does not touch the text; numbers past the table reset it and write no result.
  call(kMethodNew, {});
  EXPECT_EQ(lastError(), "fileID should be a int");
  for (int32_t method : {9, 100, -1}) {
    call(kMethodCloseFile, {});
    Result r = call(method, {1, 2});
    EXPECT_EQ(r.type(), HX_TYPE_VOID);
    EXPECT_EQ(lastError(), "no error.") << method;
  }
}

TEST_F(Dispatch, NewWithWrongTypeLeavesTextAndZero) {
  Result r = call(kMethodNew, {5});
  EXPECT_EQ(r.text(), "0");
  EXPECT_EQ(lastError(), "logFile should be a string");
}

TEST_F(Dispatch, NewWithoutArgumentWritesNoResult) {
  EXPECT_EQ(call(kMethodNew, {}).type(), HX_TYPE_VOID);
  EXPECT_EQ(lastError(), "");
}

TEST_F(Dispatch, LongErrorTextIsCutAt1023Characters) {
  const std::string path = "/no/such/dir/" + std::string(1010, 'p');  // 1023 characters, the most a path reads
  Result r = call(kMethodOpenQuicktimeFile, {path});
  EXPECT_NE(r.integer(), 0);
  const std::string text = lastError();
  EXPECT_EQ(text.size(), 1023u);
  EXPECT_EQ(text.rfind("cannot open " + path.substr(0, 100), 0), 0u);
}

// The names the command and the tests call by are the module's own, in the
// order of the text the host numbers, line by line.
TEST(MethodTable, NamesMatchTheTextLineByLine) {
  std::vector<std::string> fromText;
  const std::string text = kMethodTable;
  size_t pos = text.find('\n') + 1;  // after "xtra Harmidex"
  while (pos < text.size()) {
    const size_t end = text.find('\n', pos);
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind("--", 0) == 0) continue;
    fromText.push_back(line.substr(0, line.find(' ')));
  }
  ASSERT_EQ(fromText.size(), kMethodNames.size());
  for (size_t i = 0; i < fromText.size(); ++i) EXPECT_EQ(kMethodNames[i], fromText[i]) << i;
}

TEST(MethodTable, TwelveLinesByteForByte) {
  const std::string text = kMethodTable;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 12);
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_EQ(text.back(), '\n');
  EXPECT_NE(text.find("getSamples object me, integer fileID, integer startsample, integer nbSamples, * -- \n"),
            std::string::npos);
  EXPECT_NE(text.find("getAmplitude object me, integer fileID, integer startsample, integer nbSamples-- \n"),
            std::string::npos);
  EXPECT_EQ(text.rfind("xtra Harmidex\n-- Version 1.1\nnew object me, *\n", 0), 0u);
}

}  // namespace
}  // namespace hx::test
