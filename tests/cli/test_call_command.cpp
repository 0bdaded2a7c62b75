// `harmidex call`: a script session on one object, one call per line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/media_files.h"
#include "common/script_session.h"
#include "run_command.h"

namespace hx::test {
namespace {

class CallCommandTest : public ::testing::Test {
 protected:
  std::string file(const std::string& name, const std::string& text) {
    const std::string path = dir.file(name);
    EXPECT_TRUE(writeBytes(path, std::vector<uint8_t>(text.begin(), text.end())));
    return path;
  }
  std::string wavFile(const std::string& name, const std::vector<int16_t>& samples, int rate) {
    const std::string path = dir.file(name);
    EXPECT_TRUE(writeWav16(path, rate, 1, samples));
    return path;
  }

  TempDir dir;
};

// A session that touches every kind of result.
struct ScriptCase {
  std::string script;
  std::string expected;
};

ScriptCase fullSession(const std::string& a, const std::string& b) {
  return {
      "-- opens two files and asks them things\n"
      "new()\n"
      "openQuicktimeFile(\"" + a + "\")\n"
      "\n"
      "  openQuicktimeFile( \"" + b + "\" )   -- the second one\n"
      "getSamples(2, 0, 4)\n"
      "getSamples(2, 0, 2, 2)\n"
      "getSampleRate(2)\n"
      "getAmplitude(2, 0, 4)\n"
      "closeFile(1)\n"
      "getSampleRate(1)\n"
      "getError()\n"
      "getEqualizedFreqCount(256)\n"
      "getFFT(2, 0, 4, 1, 1.0, 0, 1)\n"
      "closeFile(2.9)\n"
      "getError()\n",
      "<void>\n"
      "1\n"
      "2\n"
      "[0.5, -1, 0, 0.999969482]\n"
      "[1, -2]\n"
      "8000\n"
      "1\n"
      "1\n"
      "0\n"
      "\"unknown fileID 1\"\n"
      "9\n"
      "[0.186972439, 0.21327427, 0.344118685]\n"
      "1\n"
      "\"no error.\"\n"};
}

TEST_F(CallCommandTest, ScriptFromFileOrStandardInputPrintsEachResult) {
  const std::string a = wavFile("a.wav", {1, 2, 3}, 44100);
  const std::string b = wavFile("b.wav", {16384, -32768, 0, 32767}, 8000);
  const ScriptCase s = fullSession(a, b);
  const std::string script = file("s.hx", s.script);

  const std::vector<std::pair<std::vector<std::string>, std::string>> ways = {
      {{"call", script}, ""},
      {{"call", script, "--check-leaks"}, ""},
      {{"call"}, s.script},
      {{"call", "-", "--check-leaks"}, s.script},
  };
  for (const auto& [args, input] : ways) {
    SCOPED_TRACE(testing::PrintToString(args));
    const CommandResult r = runHarmidex(args, input);
    EXPECT_EQ(r.status, 0) << describe(r);
    EXPECT_EQ(r.out, s.expected);
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(CallCommandTest, CrLfScriptReadsTheSame) {
  const CommandResult r =
      runHarmidex({"call"}, "getError()\r\ngetEqualizedFreqCount(8)\r\n-- end\r\n");
  EXPECT_EQ(r.status, 0) << describe(r);
  EXPECT_EQ(r.out, "\"\"\n4\n");
}

TEST_F(CallCommandTest, StringEscapesReachTheModule) {
  const CommandResult r = runHarmidex(
      {"call"}, "openQuicktimeFile(\"no\\\\such \\\"file\\\".wav\")\ngetError()\n");
  EXPECT_EQ(r.status, 0) << describe(r);
  const std::vector<std::string> lines = r.lines();
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_NE(lines[0], "0");  // the open's error code
  // Printed the way it was written: escaped again, on one line.
  EXPECT_EQ(lines[1].rfind("\"cannot open no\\\\such \\\"file\\\".wav : error ", 0), 0u) << lines[1];
}

TEST_F(CallCommandTest, LineFeedsInTextsStayOnOneLine) {
  const CommandResult r = runHarmidex({"call"}, "openQuicktimeFile(\"a\\nb\")\ngetError()\n");
  EXPECT_EQ(r.status, 0) << describe(r);
  const std::vector<std::string> lines = r.lines();
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_EQ(lines[1].rfind("\"cannot open a\\nb : error ", 0), 0u) << lines[1];
}

TEST_F(CallCommandTest, EmptyScriptDoesNothing) {
  const CommandResult r = runHarmidex({"call", "--check-leaks"}, "");
  EXPECT_EQ(r.status, 0) << describe(r);
  EXPECT_EQ(r.out, "");
}

// A bad line stops the session there: the lines before it have run, none after.
TEST_F(CallCommandTest, BadLineIsAUsageErrorWithItsLineNumber) {
  struct Case {
    const char* badLine;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"frobnicate(1)", "line 3: unknown method 'frobnicate'"},
      {"getfft(1)", "line 3: unknown method 'getfft'"},
      {"getError(", "line 3: column 10: missing ')'"},
      {"getSamples(1, 2147483648, 1)",
       "line 3: column 15: integer 2147483648 does not fit 32 bits"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.badLine);
    const std::string script = "getEqualizedFreqCount(4)\n-- comment\n" + std::string(c.badLine) +
                               "\ngetEqualizedFreqCount(8)\n";
    const CommandResult r = runHarmidex({"call", "--check-leaks", file("bad.hx", script)});
    EXPECT_EQ(r.status, 2) << describe(r);
    EXPECT_EQ(r.out, "3\n");
    EXPECT_EQ(r.err, std::string("harmidex: ") + c.says + "\n");
  }
}

// /dev/zero is one endless line: it used to grow the command to gigabytes.
TEST_F(CallCommandTest, OverlongLineIsRefusedBeforeItFillsMemory) {
  const std::string limit = std::to_string(64 * 1024);
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string input;
  } cases[] = {
#ifndef _WIN32
      {"/dev/zero", {"call", "/dev/zero"}, ""},
#endif
      {"one byte too many", {"call"}, "getError()\n" + std::string(64 * 1024 + 1, ' ') + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CommandResult r = runHarmidex(c.args, c.input);
    EXPECT_EQ(r.status, 2) << describe(r);
    EXPECT_NE(r.err.find(": longer than " + limit + " bytes"), std::string::npos) << r.err;
  }
  const CommandResult fits =
      runHarmidex({"call"}, std::string(64 * 1024 - 1, ' ') + "\ngetEqualizedFreqCount(4)\n");
  EXPECT_EQ(fits.status, 0) << describe(fits);
  EXPECT_EQ(fits.out, "3\n");
}

TEST_F(CallCommandTest, NulInAStringStopsTheScript) {
  const CommandResult r = runHarmidex(
      {"call"}, "getEqualizedFreqCount(4)\nnew(\"" + dir.file("log") + std::string(1, '\0') + "x\")\n");
  EXPECT_EQ(r.status, 2) << describe(r);
  EXPECT_EQ(r.out, "3\n");
  EXPECT_NE(r.err.find("line 2: column "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("a NUL byte inside a string"), std::string::npos) << r.err;
}

TEST_F(CallCommandTest, MissingScriptFails) {
  const CommandResult r = runHarmidex({"call", dir.file("absent.hx")});
  EXPECT_EQ(r.status, 1) << describe(r);
  EXPECT_NE(r.err.find(dir.file("absent.hx")), std::string::npos) << r.err;
}

TEST_F(CallCommandTest, ModuleThatCannotLoadFailsBeforeReadingTheScript) {
  const CommandResult r = runHarmidex({"call", "--module", dir.file("none.so")}, "getError()\n");
  EXPECT_EQ(r.status, 1) << describe(r);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("harmidex: cannot load " + dir.file("none.so"), 0), 0u) << r.err;
}

}  // namespace
}  // namespace hx::test
