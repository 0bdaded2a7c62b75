// Mistakes on the command line and reads outside the track, run as a
// child process: every numeric option through its checked conversion, and
// messages that name the word, the option or the track's length.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/call_line.h"
#include "cli/commands.h"
#include "cli/option_numbers.h"
#include "common/media_files.h"
#include "host/host.h"
#include "run_command.h"

namespace hx::test {
namespace {

using nlohmann::json;

class MessageTest : public testing::Test {
 protected:
  // One second of a tone at 44100 Hz: 44,100 frames.
  std::string oneSecond() {
    const std::string path = dir.file("one.wav");
    EXPECT_TRUE(writeWav16(path, 44100, 1, toInt16(sine(44100, 441, 44100, 16384))));
    return path;
  }

  TempDir dir;
};

// ---- the conversion itself -------------------------------------------------------

TEST(OptionNumbers, TextsWithinTheirRange) {
  struct IntCase {
    const char* text;
    cli::Range<int32_t> range;
    std::optional<int32_t> value;
    const char* why;
  };
  const std::vector<IntCase> ints = {
      {"42", cli::kAnyInt32, 42, ""},
      {"+7", cli::kAnyInt32, 7, ""},
      {"-2147483648", cli::kAnyInt32, INT32_MIN, ""},
      {"2147483648", cli::kAnyInt32, std::nullopt, "2147483648 is more than 2147483647"},
      {"-99999999999999999999", cli::kAnyInt32, std::nullopt,
       "-99999999999999999999 is less than -2147483648"},
      {"0", cli::kPositiveInt32, std::nullopt, "0 is less than 1"},
      {"010", cli::kAnyInt32, 10, ""},  // decimal, never octal
      {"0x10", cli::kAnyInt32, std::nullopt, "'0x10' is not a whole number"},
      {"1e3", cli::kAnyInt32, std::nullopt, "'1e3' is not a whole number"},
      {" 1", cli::kAnyInt32, std::nullopt, "' 1' is not a whole number"},
      {"", cli::kAnyInt32, std::nullopt, "'' is not a whole number"},
  };
  for (const IntCase& c : ints) {
    const auto got = cli::checkedNumber(c.text, c.range);
    EXPECT_EQ(got.value, c.value) << c.text;
    EXPECT_EQ(got.why, c.why) << c.text;
  }
  struct CountCase {
    const char* text;
    std::optional<uint64_t> value;
    const char* why;
  };
  const std::vector<CountCase> counts = {
      {"18446744073709551615", UINT64_MAX, ""},
      {"18446744073709551616", std::nullopt, "18446744073709551616 is more than 18446744073709551615"},
      {"-1", std::nullopt, "-1 is less than 0"},
  };
  for (const CountCase& c : counts) {
    const auto got = cli::checkedNumber(c.text, cli::kAnyCount);
    EXPECT_EQ(got.value, c.value) << c.text;
    EXPECT_EQ(got.why, c.why) << c.text;
  }
  struct FloatCase {
    const char* text;
    cli::FloatRange range;
    std::optional<double> value;
    const char* why;
  };
  const std::vector<FloatCase> floats = {
      {"1e300", cli::kSeconds, 1e300, ""},
      {"0", cli::kSeconds, 0.0, ""},
      {"-0.5", cli::kSeconds, std::nullopt, "-0.5 is not at least 0"},
      {"0", cli::kPositiveFloat, std::nullopt, "0 is not more than 0"},
      {"1e-320", cli::kPositiveFloat, 1e-320, ""},
      {"1e999", cli::kAnyFloat, std::nullopt, "'1e999' is too large for a double"},
      {"nan", cli::kAnyFloat, std::nullopt, "'nan' is not a finite decimal number"},
      {"inf", cli::kAnyFloat, std::nullopt, "'inf' is not a finite decimal number"},
  };
  for (const FloatCase& c : floats) {
    const auto got = cli::checkedNumber(c.text, c.range);
    EXPECT_EQ(got.value, c.value) << c.text;
    EXPECT_EQ(got.why, c.why) << c.text;
  }
}

// Seconds times a rate, or a rate over a zoom, as a frame count: nothing
// out of range is ever converted to an integer.
TEST(OptionNumbers, RoundingWithinBounds) {
  struct Case {
    double x;
    int64_t lo, hi;
    std::optional<int64_t> value;
  };
  const std::vector<Case> cases = {
      {2.5, 0, 10, 3},
      {-0.4, 0, 10, 0},
      {-0.5, 0, 10, std::nullopt},  // rounds to -1
      {10.49, 0, 10, 10},
      {10.5, 0, 10, std::nullopt},
      {2147483647.4, 0, INT32_MAX, INT32_MAX},
      {1e18 * 44100, 0, INT32_MAX, std::nullopt},
      {1e300 * 44100, 0, INT32_MAX, std::nullopt},
      {HUGE_VAL, 0, INT32_MAX, std::nullopt},
      {-HUGE_VAL, 0, INT32_MAX, std::nullopt},
      {std::nan(""), 0, INT32_MAX, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(cli::roundedWithin(c.x, c.lo, c.hi), c.value) << c.x;
}

// A list result is taken only when every value in it is a float: an
// integer or a text among them is named, never read as 0.
TEST(ListFloats, RefusesAValueThatIsNotAFloat) {
  host::Host host;
  struct Case {
    std::vector<HxValue> values;  // owned until appended
    std::optional<std::vector<double>> floats;
    std::string err;
  };
  std::vector<Case> cases;
  cases.push_back({{host.makeFloat(0.5), host.makeFloat(-2)}, std::vector<double>{0.5, -2}, ""});
  cases.push_back({{}, std::vector<double>{}, ""});
  cases.push_back({{host.makeFloat(0.5), host.makeInteger(7)}, std::nullopt,
                   "harmidex: getSamples gave a list whose value 1 is not a float: 7\n"});
  cases.push_back({{host.makeString("x"), host.makeFloat(1)}, std::nullopt,
                   "harmidex: getSamples gave a list whose value 0 is not a float: \"x\"\n"});
  for (Case& c : cases) {
    HxValue list = host.makeList();
    for (HxValue& v : c.values) {
      host.append(list, v);
      host.release(v);
    }
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(cli::listFloats(host, cli::methodId("getSamples"), list, err), c.floats);
    std::rewind(err);
    std::string said;
    for (int ch; (ch = std::fgetc(err)) != EOF;) said += char(ch);
    std::fclose(err);
    EXPECT_EQ(said, c.err);
    host.release(list);
  }
  EXPECT_EQ(host.liveValues(), 0);
}

// ---- through the command ---------------------------------------------------------

// Extreme values of every numeric option: refused with the option's name,
// or read as their meaning, never wrapped or overflowed (UBSan stops the
// asan build at the first overflow).
TEST_F(MessageTest, NumericOptions_ExtremesAreRefusedOrMeant) {
  const std::string in = oneSecond();
  const std::string png = dir.file("x.png");
  const std::string js = dir.file("x.json");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;  // the start of standard error
  };
  const std::vector<Case> cases = {
      {{"spectrogram", in, "-o", png, "--start", "1e18"}, 1,
       "harmidex: --start 1e+18: past the last frame the module can read (2147483647)\n"},
      {{"spectrogram", in, "-o", png, "--duration", "1e300"}, 1,
       "harmidex: --duration 1e+300: reaches past the last frame the module can read"},
      {{"spectrogram", in, "-o", png, "--start", "2", "--duration", "1"}, 1,
       "harmidex: --start 2: at or past the end of the track (44100 frames, 1 s)\n"},
      {{"spectrogram", in, "-o", png, "--start", "-0.5"}, 2, "harmidex: --start: -0.5 is not at least 0"},
      {{"spectrogram", in, "-o", png, "--hop", "0"}, 2, "harmidex: --hop: 0 is less than 1"},
      {{"spectrogram", in, "-o", png, "--width", "2147483648"}, 2,
       "harmidex: --width: 2147483648 is more than 2147483647"},
      {{"waveform", in, "--json", js, "--samples-per-pixel", "-1"}, 2,
       "harmidex: --samples-per-pixel: -1 is less than 1"},
      {{"waveform", in, "--json", js, "--pixels-per-second", "0"}, 2,
       "harmidex: --pixels-per-second: 0 is not more than 0"},
      {{"fft", in, "--ampl-max", "1e999"}, 2, "harmidex: --ampl-max: '1e999' is too large"},
      {{"bands", "4294967296"}, 2, "harmidex: N: 4294967296 is more than 2147483647"},
      {{"validate", "--calls", "-1"}, 2, "harmidex: --calls: -1 is less than 0"},
      {{"validate", "--seed", "-5"}, 2, "harmidex: --seed: -5 is less than 0"},
      {{"validate", "--seed", "18446744073709551616"}, 2,
       "harmidex: --seed: 18446744073709551616 is more than 18446744073709551615"},
      {{"validate", "--cycles", "1e3"}, 2, "harmidex: --cycles: '1e3' is not a whole number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const CommandResult r = runHarmidex(c.args);
    EXPECT_EQ(r.status, c.status) << describe(r);
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
    EXPECT_EQ(r.out, "");
  }
  // The largest seed is a seed like any other.
  const CommandResult top = runHarmidex(
      {"validate", "--seed", "18446744073709551615", "--calls", "10", "--cycles", "0", "--objects", "0"});
  EXPECT_EQ(top.status, 0) << describe(top);
}

// A zoom so coarse that one point would cover more than any track is one
// point for the whole span; so fine that it is under a frame, one frame.
TEST_F(MessageTest, PixelsPerSecond_ExtremesGiveTheCoarsestAndFinestZoom) {
  const std::string in = oneSecond();
  struct Case {
    const char* pixelsPerSecond;
    int64_t samplesPerPixel;
    int64_t length;
  };
  const std::vector<Case> cases = {
      {"1e-15", INT32_MAX, 1},
      {"0.5", 88200, 1},
      {"1e308", 1, 44100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pixelsPerSecond);
    const CommandResult r =
        runHarmidex({"waveform", in, "--json", "-", "--pixels-per-second", c.pixelsPerSecond});
    ASSERT_EQ(r.status, 0) << describe(r);
    const json doc = json::parse(r.out);
    EXPECT_EQ(doc["samples_per_pixel"], c.samplesPerPixel);
    EXPECT_EQ(doc["length"], c.length);
  }
}

TEST_F(MessageTest, MisspeltSubcommand_IsNamedWithTheNearest) {
  const std::string in = oneSecond();
  struct Case {
    std::vector<std::string> args;
    const char* word;
    const char* nearest;
  };
  const std::vector<Case> cases = {
      {{"rat", in}, "rat", "rate"},
      {{"spectogram", in, "-o", "x.png"}, "spectogram", "spectrogram"},
      {{"--module", "m.so", "sample", in}, "sample", "samples"},
      {{"validat"}, "validat", "validate"},
      {{"FFT", in}, "FFT", "fft"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    const CommandResult r = runHarmidex(c.args);
    EXPECT_EQ(r.status, 2) << describe(r);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "harmidex: '" + std::string(c.word) + "' is not a subcommand; did you mean '" +
                         c.nearest + "'?\nRun with --help for more information.\n");
  }
}

// The module's text stays whole, after the option and the value it came from.
TEST_F(MessageTest, MethodFailure_NamesTheOption) {
  const std::string in = oneSecond();
  struct Case {
    std::vector<std::string> args;
    const char* err;
  };
  const std::vector<Case> cases = {
      {{"fft", in, "--bins", "1000"},
       "harmidex: --bins 1000: binCount should be a power of two from 1 to 8192\n"},
      {{"fft", in, "--bins", "1000", "--format", "csv"},
       "harmidex: --bins 1000: binCount should be a power of two from 1 to 8192\n"},
      {{"fft", in, "--timesmooth", "0"}, "harmidex: --timesmooth 0: timesmooth should be at least 1\n"},
      {{"samples", in, "--start", "0", "--count", "-1"},
       "harmidex: --count -1: nbSamples should be at least 0\n"},
      {{"samples", in, "--start", "0", "--count", "5000000", "--format", "json"},
       "harmidex: --count 5000000: nbSamples should be at most 4194304\n"},
      {{"spectrogram", in, "-o", dir.file("x.png"), "--bins", "3"},
       "harmidex: --bins 3: binCount should be a power of two from 1 to 8192\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const CommandResult r = runHarmidex(c.args);
    EXPECT_EQ(r.status, 1) << describe(r);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
}

// Frames outside the track come back as the module's zeros, with one line
// giving the track's length; reads inside it say nothing.
TEST_F(MessageTest, ReadOutsideTheTrack_IsNotedWithItsLength) {
  const std::string in = oneSecond();
  const std::string note =
      "harmidex: note: the track has 44100 frames; the frames asked for outside 0 to 44099 are "
      "given as 0\n";
  struct Case {
    std::vector<std::string> args;
    bool noted;
  };
  const std::vector<Case> cases = {
      {{"samples", in, "--start", "50000", "--count", "10"}, true},
      {{"samples", in, "--start", "44090", "--count", "11"}, true},
      {{"samples", in, "--start", "44090", "--count", "10"}, false},
      {{"samples", in, "--start", "50000", "--count", "2", "--format", "csv"}, true},
      {{"amplitude", in, "--start", "-10", "--count", "20"}, true},
      {{"fft", in, "--start", "43600", "--bins", "256"}, true},  // 512 frames from 43600
      {{"fft", in, "--start", "43588", "--bins", "256"}, false},
      {{"samples", in, "--start", "50000", "--count", "0"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const CommandResult r = runHarmidex(c.args);
    EXPECT_EQ(r.status, 0) << describe(r);
    EXPECT_EQ(r.err, c.noted ? note : "");
  }
  const CommandResult zeros = runHarmidex({"samples", in, "--start", "50000", "--count", "3"});
  EXPECT_EQ(zeros.out, "0\n0\n0\n");
}

}  // namespace
}  // namespace hx::test
