// The harmidex command run as a child process over generated WAV files:
// what it prints, and its exit statuses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

#include "common/media_files.h"
#include "common/script_session.h"
#include "run_command.h"
#include "script/script_interface.h"

namespace hx::test {
namespace {

class CommandTest : public FileSession {
 protected:
  // The module's own answer, in process, printed as the command must print it.
  std::vector<std::string> inProcessLines(int32_t method, const std::vector<Arg>& args) {
    std::vector<HxValue> values;
    for (const Arg& a : args) {
      values.push_back(std::visit(
          [&](const auto& v) -> HxValue {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, int32_t>) return host.makeInteger(v);
            else if constexpr (std::is_same_v<T, double>) return host.makeFloat(v);
            else if constexpr (std::is_same_v<T, std::string>) return host.makeString(v);
            else return host::kVoidValue;
          },
          a));
    }
    Result result(host, object->call(method, values));
    for (HxValue& v : values) host.release(v);
    std::vector<std::string> lines;
    for (double x : result.floats()) lines.push_back(printed(x));
    return lines;
  }

  static std::string printed(double x) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.9g", x);
    return buf;
  }

  // Mono 16-bit file of the given samples.
  std::string samplesFile(const std::vector<int16_t>& samples, int rate = 44100) {
    return wav("s.wav", samples, rate);
  }
  // A full-scale sine with a period of 16 frames: its energy sits in bin 32 of 256.
  std::string sineFile() { return wav("sine.wav", periodicSine(4096, 16.0, 32767.0)); }
};

double number(const std::string& line) {
  size_t used = 0;
  const double x = std::stod(line, &used);
  EXPECT_EQ(used, line.size()) << "not a number: " << line;
  return x;
}

// ---- results ---------------------------------------------------------------

TEST_F(CommandTest, Rate_PrintsTheFileRate) {
  for (int rate : {8000, 11025, 44100}) {
    SCOPED_TRACE(rate);
    const std::string path = wav("r" + std::to_string(rate) + ".wav", {0, 1, 2}, rate);
    const CommandResult r = runHarmidex({"rate", path});
    EXPECT_EQ(r.status, 0) << describe(r);
    EXPECT_EQ(r.out, std::to_string(rate) + "\n");
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(CommandTest, Bands_PrintsTheOctaveBandCount) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"256", "9"}, {"200", "9"}, {"2", "2"}, {"1", "1"}, {"0", "0"}, {"-5", "1"}};
  for (const auto& [n, count] : cases) {
    SCOPED_TRACE(n);
    const CommandResult r = runHarmidex({"bands", n});
    EXPECT_EQ(r.status, 0) << describe(r);
    EXPECT_EQ(r.out, count + "\n");
  }
}

TEST_F(CommandTest, Amplitude_PrintsThePeakOfTheRange) {
  const std::string path = samplesFile({0, 100, -32768, 5});
  struct Case {
    const char* start;
    const char* count;
    const char* out;
  };
  const std::vector<Case> cases = {
      {"0", "4", "1\n"},                 // -32768 is exactly full scale
      {"3", "1", "0.000152587891\n"},    // 5 / 32768
      {"0", "2", "0.00305175781\n"},     // 100 / 32768
      {"100", "10", "0\n"},              // past the end
      {"0", "0", "0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.start) + "+" + c.count);
    const CommandResult r =
        runHarmidex({"amplitude", path, "--start", c.start, "--count", c.count});
    EXPECT_EQ(r.status, 0) << describe(r);
    EXPECT_EQ(r.out, c.out);
  }
}

TEST_F(CommandTest, Samples_PrintsOneScaledValuePerFrame) {
  const std::string path = samplesFile({16384, -32768, 0, 32767});
  struct Case {
    std::vector<std::string> options;
    const char* out;
  };
  const std::vector<Case> cases = {
      {{"--start", "0", "--count", "4"}, "0.5\n-1\n0\n0.999969482\n"},
      {{"--start", "0", "--count", "4", "--ampl-max", "2"}, "1\n-2\n0\n1.99993896\n"},
      {{"--count", "2", "--start", "1", "--ampl-max", "0.5"}, "-0.5\n0\n"},
      {{"--start", "2", "--count", "4"}, "0\n0.999969482\n0\n0\n"},  // runs past the end
      {{"--start", "-2147483648", "--count", "2"}, "0\n0\n"},        // far before the start
      {{"--start", "0", "--count", "0"}, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"samples", path};
    args.insert(args.end(), c.options.begin(), c.options.end());
    SCOPED_TRACE(testing::PrintToString(args));
    const CommandResult r = runHarmidex(args);
    EXPECT_EQ(r.status, 0) << describe(r);
    EXPECT_EQ(r.out, c.out);
  }
}

TEST_F(CommandTest, Fft_SineOfPeriod16PeaksInBin32) {
  const std::string path = sineFile();
  const CommandResult r = runHarmidex({"fft", path, "--bins", "256"});
  ASSERT_EQ(r.status, 0) << describe(r);
  const std::vector<std::string> lines = r.lines();
  ASSERT_EQ(lines.size(), 256u);
  // The sine with a 16-frame period: (1/8) log10(1000 × 3071.8 + 1) in bin 32,
  // the window's leakage (0.7128) beside it.
  EXPECT_NEAR(number(lines[32]), 0.8109, 5e-4);
  EXPECT_NEAR(number(lines[31]), 0.7128, 5e-4);
  EXPECT_NEAR(number(lines[0]), 0.0, 1e-3);
  EXPECT_NEAR(number(lines[64]), 0.0, 1e-3);
}

TEST_F(CommandTest, Fft_LineCountFollowsBinsAndEqualized) {
  const std::string path = sineFile();
  struct Case {
    std::vector<std::string> options;
    size_t lines;
  };
  const std::vector<Case> cases = {
      {{}, 256},
      {{"--bins", "64"}, 64},
      {{"--bins", "1"}, 1},
      {{"--equalized"}, 9},  // later option alone: the earlier ones must go in with their defaults
      {{"--bins", "1024", "--equalized"}, 11},
      {{"--equalized", "--bins", "200"}, 0},  // not a power of two: the module refuses
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"fft", path};
    args.insert(args.end(), c.options.begin(), c.options.end());
    SCOPED_TRACE(testing::PrintToString(args));
    const CommandResult r = runHarmidex(args);
    EXPECT_EQ(r.status, c.lines == 0 ? 1 : 0) << describe(r);
    EXPECT_EQ(r.lines().size(), c.lines);
  }
}

// Each option lands at its own argument position, and every value is the
// module's float printed with %.9g, digit for digit.
TEST_F(CommandTest, Fft_PrintsExactlyWhatTheMethodReturns) {
  const std::string path = sineFile();
  const int32_t id = open(path);
  ASSERT_EQ(id, 1);
  struct Case {
    std::vector<std::string> options;
    std::vector<Arg> args;  // of getFFT
  };
  const std::vector<Case> cases = {
      {{}, {id}},
      {{"--start", "5"}, {id, 5}},
      {{"--timesmooth", "2"}, {id, 0, 256, 2}},
      {{"--bins", "64", "--timesmooth", "3", "--normalized"}, {id, 0, 64, 3, 1.0, 1}},
      {{"--ampl-max", "2.5", "--start", "-7"}, {id, -7, 256, 1, 2.5}},
      {{"--equalized", "--normalized", "--bins", "32"}, {id, 0, 32, 1, 1.0, 1, 1}},
      {{"--ampl-max", "1e-3", "--equalized"}, {id, 0, 256, 1, 1e-3, 0, 1}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"fft", path};
    args.insert(args.end(), c.options.begin(), c.options.end());
    SCOPED_TRACE(testing::PrintToString(args));
    const CommandResult r = runHarmidex(args);
    EXPECT_EQ(r.status, 0) << describe(r);
    EXPECT_EQ(r.lines(), inProcessLines(kMethodGetFFT, c.args));
  }
}

TEST_F(CommandTest, Fft_TimesmoothAndGainChangeTheLevel) {
  const std::string path = sineFile();
  const CommandResult one = runHarmidex({"fft", path});
  const CommandResult two = runHarmidex({"fft", path, "--timesmooth", "2"});
  const CommandResult doubled = runHarmidex({"fft", path, "--ampl-max", "2"});
  ASSERT_EQ(one.lines().size(), 256u);
  ASSERT_EQ(two.lines().size(), 256u);
  ASSERT_EQ(doubled.lines().size(), 256u);
  // The sine with a 16-frame period at twice the power: (1/8) log10(2000 × 3071.8 + 1).
  EXPECT_NEAR(number(two.lines()[32]), 0.8486, 5e-4);
  for (size_t b = 0; b < 256; ++b)
    EXPECT_NEAR(number(doubled.lines()[b]), 2 * number(one.lines()[b]), 1e-6) << "bin " << b;
}

// ---- failures ----------------------------------------------------------------

TEST_F(CommandTest, MissingFile_FailsWithTheModulesErrorText) {
  const std::string missing = dir.file("missing.wav");
  const std::vector<std::vector<std::string>> commands = {
      {"rate", missing},
      {"fft", missing},
      {"samples", missing, "--start", "0", "--count", "1"},
      {"amplitude", missing, "--start", "0", "--count", "1"},
  };
  for (const auto& args : commands) {
    SCOPED_TRACE(args[0]);
    const CommandResult r = runHarmidex(args);
    EXPECT_EQ(r.status, 1) << describe(r);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("cannot open " + missing + " : error ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
  }
}

TEST_F(CommandTest, MethodFailure_ExitsWithOneAndTheErrorText) {
  const std::string path = sineFile();
  const CommandResult r = runHarmidex({"fft", path, "--bins", "3"});
  EXPECT_EQ(r.status, 1) << describe(r);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("binCount"), std::string::npos) << r.err;
}

TEST_F(CommandTest, BadCommandLine_IsAUsageError) {
  const std::string path = sineFile();
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"rate"},
      {"rate", path, "extra"},
      {"fft", path, "--bogus"},
      {"fft", path, "--start"},
      {"fft", path, "--start", "abc"},
      {"fft", path, "--start", "1.5"},
      {"fft", path, "--start", "0x10"},
      {"fft", path, "--start", "2147483648"},
      {"fft", path, "--start", "-2147483649"},
      {"fft", path, "--bins", "99999999999"},
      {"fft", path, "--ampl-max", "big"},
      {"fft", path, "--ampl-max", "nan"},
      {"fft", path, "--ampl-max", "inf"},
      {"fft", path, "--ampl-max", "1e999"},
      {"samples", path, "--start", "0"},
      {"samples", path, "--count", "1"},
      {"amplitude", path, "--start", "0", "--count", "x"},
      {"bands"},
      {"bands", "1e3"},
      {"bands", "4294967296"},
      {"call", "--bogus"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    const CommandResult r = runHarmidex(args);
    EXPECT_EQ(r.status, 2) << describe(r);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("harmidex: ", 0), 0u) << r.err;
  }
}

TEST_F(CommandTest, HelpAndVersion_ExitWithZero) {
  const CommandResult version = runHarmidex({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("harmidex ") + HARMIDEX_VERSION + "\n");

  const CommandResult help = runHarmidex({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* word : {"fft", "samples", "amplitude", "rate", "bands", "call", "--module"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;

  const CommandResult fftHelp = runHarmidex({"fft", "--help"});
  EXPECT_EQ(fftHelp.status, 0);
  for (const char* word :
       {"--start", "--bins", "--timesmooth", "--ampl-max", "--normalized", "--equalized"})
    EXPECT_NE(fftHelp.out.find(word), std::string::npos) << word;
}

// ---- finding the module ------------------------------------------------------

TEST_F(CommandTest, Module_WrongPathFailsClearly) {
  const std::string path = sineFile();
  const std::vector<std::string> modules = {dir.file("nowhere.so"), path};  // absent; not a library
  for (const std::string& module : modules) {
    SCOPED_TRACE(module);
    const CommandResult r = runHarmidex({"--module", module, "rate", path});
    EXPECT_EQ(r.status, 1) << describe(r);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("harmidex: cannot load " + module, 0), 0u) << r.err;
  }
}

TEST_F(CommandTest, Module_RelativePathIsTakenFromTheCurrentFolder) {
  namespace fs = std::filesystem;
  const std::string path = wav("r.wav", {1, 2, 3}, 22050);
  fs::copy_file(std::string(std::getenv("HX_BUILD_DIR")) + "/harmidex.so", dir.file("copy.so"));
  const CommandResult r = runHarmidex({"rate", "r.wav", "--module", "copy.so"}, "", dir.path());
  EXPECT_EQ(r.status, 0) << describe(r);
  EXPECT_EQ(r.out, "22050\n");
}

// The default module is the one next to the executable, wherever it is
// started from, and not one in the current folder.
TEST_F(CommandTest, Module_DefaultIsNextToTheExecutable) {
  namespace fs = std::filesystem;
  const std::string path = wav("r.wav", {1, 2, 3}, 22050);
  const std::string build = std::getenv("HX_BUILD_DIR");
  fs::create_directory(dir.file("bin"));
  const std::string exe = dir.file("bin/harmidex");
  fs::copy_file(build + "/harmidex", exe);

  const CommandResult alone = runProgram(exe, {"rate", path}, "", build);
  EXPECT_EQ(alone.status, 1) << describe(alone);
  EXPECT_NE(alone.err.find(dir.file("bin/harmidex.so")), std::string::npos) << alone.err;

  fs::copy_file(build + "/harmidex.so", dir.file("bin/harmidex.so"));
  const CommandResult found = runProgram(exe, {"rate", path}, "", build);
  EXPECT_EQ(found.status, 0) << describe(found);
  EXPECT_EQ(found.out, "22050\n");
}

}  // namespace
}  // namespace hx::test
