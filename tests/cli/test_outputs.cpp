// The files the command writes, run as a child process: whole or absent
// under races, full disks and memory limits; destinations refused before
// any work; standard output for "-"; names that are not UTF-8.
#include <cairo.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "cli/output.h"
#include "cli/picture_limits.h"
#include "common/media_files.h"
#include "run_command.h"

namespace hx::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class OutputTest : public testing::Test {
 protected:
  std::string toneFile(const std::string& name, double seconds) {
    const std::string path = dir.file(name);
    EXPECT_TRUE(writeWav16(path, 44100, 1, toInt16(sine(size_t(seconds * 44100), 441, 44100, 16384))));
    return path;
  }

  // Everything in the folder but the given names: what a run left behind.
  std::vector<std::string> debris(const std::vector<std::string>& expected) const {
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      const std::string name = entry.path().filename().string();
      if (std::find(expected.begin(), expected.end(), name) == expected.end()) left.push_back(name);
    }
    return left;
  }

  TempDir dir;
};

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::string commandText(const std::vector<std::string>& args) {
  std::string text = quoted(harmidexPath());
  for (const std::string& a : args) text += " " + quoted(a);
  return text;
}

CommandResult runShell(const std::string& script) { return runProgram("/bin/bash", {"-c", script}); }

bool isPng(const std::string& path) {
  cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
  const bool ok = cairo_surface_status(s) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(s);
  return ok;
}

// ---- whole or absent ---------------------------------------------------------

// Two runs writing one path at once, over a previous file: whenever the
// path is read, during the runs and after, it holds the previous file or
// one run's whole output, byte for byte; nothing else is left.
TEST_F(OutputTest, Race_LeavesOneWholeFileAndNoDebris) {
  const std::string in = toneFile("in.wav", 2.0);
  struct Case {
    std::vector<std::string> a, b;  // both write "same"
  };
  const std::vector<Case> cases = {
      // Few columns drawn large: little work before a long write.
      {{"spectrogram", in, "-o", "same", "--hop", "22050", "--width", "4000", "--height", "2000",
        "--colours", "viridis"},
       {"spectrogram", in, "-o", "same", "--hop", "22050", "--width", "4000", "--height", "2000",
        "--colours", "magma"}},
      {{"waveform", in, "--json", "same", "--samples-per-pixel", "1", "--bits", "16"},
       {"waveform", in, "--json", "same", "--samples-per-pixel", "1", "--bits", "8"}},
  };
  const std::vector<uint8_t> previous(1000, 'p');
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.a));
    // Each alone, for reference.
    std::vector<std::vector<uint8_t>> whole = {previous};
    for (const auto* args : {&c.a, &c.b}) {
      const CommandResult r = runShell("cd " + quoted(dir.path()) + " && " + commandText(*args));
      ASSERT_EQ(r.status, 0) << describe(r);
      whole.push_back(readBytes(dir.file("same")));
    }
    ASSERT_NE(whole[1], whole[2]);
    for (int round = 0; round < 2; ++round) {
      ASSERT_TRUE(writeBytes(dir.file("same"), previous));
      std::atomic<bool> done{false};
      CommandResult r;
      std::thread runs([&] {
        r = runShell("cd " + quoted(dir.path()) + " && " + commandText(c.a) + " & a=$!; " +
                     commandText(c.b) + " & b=$!; wait $a || exit 11; wait $b || exit 12");
        done = true;
      });
      int reads = 0, partial = 0;
      while (!done) {
        const std::vector<uint8_t> seen = readBytes(dir.file("same"));
        ++reads;
        if (std::find(whole.begin(), whole.end(), seen) == whole.end()) ++partial;
      }
      runs.join();
      ASSERT_EQ(r.status, 0) << describe(r);
      EXPECT_EQ(partial, 0) << "round " << round << ": " << partial << " of " << reads
                            << " reads saw part of a file";
      const std::vector<uint8_t> left = readBytes(dir.file("same"));
      EXPECT_TRUE(left == whole[1] || left == whole[2]) << "round " << round << ": mixed";
      EXPECT_EQ(debris({"in.wav", "same"}), std::vector<std::string>{});
    }
  }
}

// A write that fails part way (a file-size limit, or a full device for
// standard output) says why, exits with 1 and leaves the previous file.
TEST_F(OutputTest, FailedWrite_KeepsThePreviousFileAndSaysWhy) {
  const std::string in = toneFile("in.wav", 2.0);
  const std::string out = dir.file("out");
  struct Case {
    std::vector<std::string> args;
    const char* redirect;  // of standard output
    const char* reason;
  };
  const std::vector<Case> cases = {
      {{"spectrogram", in, "-o", out, "--width", "800", "--height", "400"}, "", "File too large"},
      {{"waveform", in, "--json", out, "--samples-per-pixel", "1"}, "", "File too large"},
      {{"waveform", in, "-o", "-", "--width", "800"}, "> /dev/full",
       "cannot write to standard output: No space left on device"},
      {{"samples", in, "--start", "0", "--count", "20000", "--format", "json"}, "> /dev/full",
       "cannot write to standard output: No space left on device"},
  };
  const std::vector<uint8_t> previous(100, 'p');
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    ASSERT_TRUE(writeBytes(out, previous));
    // ulimit -f counts KiB: the outputs are far larger than 4 KiB.
    const CommandResult r =
        runShell("ulimit -f 4; " + commandText(c.args) + " " + c.redirect);
    EXPECT_EQ(r.status, 1) << describe(r);
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    EXPECT_EQ(readBytes(out), previous);
    EXPECT_EQ(debris({"in.wav", "out"}), std::vector<std::string>{});
  }
}

// Only a regular file or a new name in an existing folder is written, and
// the check comes before any work: here the input does not even exist.
TEST_F(OutputTest, Destination_RefusedBeforeTheWork) {
  const std::string missingInput = dir.file("missing.wav");
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string plain = dir.file("plain");
  ASSERT_TRUE(writeBytes(plain, {1}));
  struct Case {
    std::vector<std::string> args;
    std::string message;  // after "harmidex: cannot write "
  };
  const std::vector<Case> cases = {
      {{"spectrogram", missingInput, "-o", fifo}, fifo + ": " + fifo + " is a FIFO, not a regular file"},
      {{"spectrogram", missingInput, "-o", dir.path()},
       dir.path() + ": " + dir.path() + " is a folder, not a regular file"},
      {{"waveform", missingInput, "--json", "/dev/null"}, "/dev/null: /dev/null is a device, not a regular file"},
      {{"spectrogram", missingInput, "-o", dir.file("nodir/x.png")},
       dir.file("nodir/x.png") + ": No such file or directory: the folder " + dir.file("nodir") +
           " does not exist"},
      {{"waveform", missingInput, "-o", dir.file("plain/x.png")},
       dir.file("plain/x.png") + ": Not a directory: " + dir.file("plain/x.png")},
      {{"waveform", missingInput, "-o", "-", "--json", "-"},
       "-: only one output can go to standard output"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    // A FIFO that is opened waits for a reader: the timeout ends a hang.
    const CommandResult r = runShell("timeout 20 " + commandText(c.args));
    EXPECT_EQ(r.status, 1) << describe(r);
    EXPECT_EQ(r.err, "harmidex: cannot write " + c.message + "\n");
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(debris({"fifo", "plain"}), std::vector<std::string>{});
}

TEST_F(OutputTest, Dash_IsStandardOutput) {
  const std::string in = toneFile("in.wav", 0.5);
  CommandResult r = runHarmidex({"spectrogram", in, "-o", "-", "--width", "50", "--height", "40"}, "",
                                dir.path());
  ASSERT_EQ(r.status, 0) << describe(r);
  ASSERT_TRUE(writeBytes(dir.file("got.png"), std::vector<uint8_t>(r.out.begin(), r.out.end())));
  EXPECT_TRUE(isPng(dir.file("got.png")));
  r = runHarmidex({"waveform", in, "--json", "-", "--width", "10"}, "", dir.path());
  ASSERT_EQ(r.status, 0) << describe(r);
  EXPECT_EQ(json::parse(r.out)["length"], 10);
  EXPECT_FALSE(fs::exists(dir.file("-")));
}

// A link is followed: the file it names is replaced and the link stays.
TEST_F(OutputTest, Link_ReplacesTheFileItNames) {
  const std::string in = toneFile("in.wav", 0.5);
  ASSERT_TRUE(writeBytes(dir.file("target.json"), {'x'}));
  fs::create_symlink("target.json", dir.file("link.json"));
  const CommandResult r = runHarmidex({"waveform", in, "--json", dir.file("link.json"), "--width", "4"});
  ASSERT_EQ(r.status, 0) << describe(r);
  EXPECT_TRUE(fs::is_symlink(dir.file("link.json")));
  const std::vector<uint8_t> bytes = readBytes(dir.file("target.json"));
  EXPECT_EQ(json::parse(bytes.begin(), bytes.end())["length"], 4);
}

// ---- memory ------------------------------------------------------------------

#if !defined(__SANITIZE_ADDRESS__)
// Under an address-space limit the largest list either prints whole or
// ends with a message and 1; JSON needs no more memory than CSV does.
TEST_F(OutputTest, MemoryLimit_EndsWithAMessageNeverAnAbort) {
  const std::string in = toneFile("long.wav", 96.0);  // 4,233,600 frames
  const std::vector<std::string> json = {"samples", in, "--start", "0", "--count", "4194304",
                                         "--format", "json"};
  for (int megabytes = 200; megabytes <= 410; megabytes += 30) {
    SCOPED_TRACE(std::to_string(megabytes) + " MB");
    const CommandResult r = runShell("ulimit -v " + std::to_string(megabytes * 1024) + "; " +
                                     commandText(json) + " > /dev/null");
    EXPECT_TRUE(r.status == 0 || r.status == 1) << describe(r);
    if (r.status == 1) {
      EXPECT_NE(r.err.find("memory"), std::string::npos) << r.err;
    }
  }
  // The whole document built in memory took 2.4 GB; rows streamed fit
  // where CSV fits, in about 0.3 GB.
  const CommandResult r = runShell("ulimit -v 800000; " + commandText(json) + " | tail -c 100");
  EXPECT_EQ(r.status, 0) << describe(r);
  EXPECT_TRUE(r.out.ends_with("    }\n  ]\n}\n")) << r.out;  // the last row, whole
}
#endif

// ---- names ---------------------------------------------------------------------

// Each byte that is not UTF-8 becomes U+FFFD; good sequences stay.
TEST(ValidUtf8, ReplacesEachBadByte) {
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    std::string in, out;
  };
  const std::vector<Case> cases = {
      {"plain-\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "plain-\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"a\xFF" "b", "a" + r + "b"},
      {"\xC0\x80", r + r},                  // overlong
      {"\xED\xA0\x80", r + r + r},          // a surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
      {"\xE2\x82", r + r},                  // cut short
      {"\xE2\x82" "a", r + r + "a"},
      {"\x80", r},
  };
  for (const Case& c : cases) EXPECT_EQ(cli::validUtf8(c.in), c.out) << testing::PrintToString(c.in);
}

// JSON stays valid, with the exact bytes beside the shown name; pictures
// keep their title and axes.
TEST_F(OutputTest, NameNotUtf8_ValidJsonAndAWholePicture) {
  const std::string good = toneFile("good.wav", 0.5);
  const std::string bad = dir.file("bad\xFF\xFE.wav");
  fs::copy_file(good, bad);
  const std::vector<std::vector<std::string>> jsonCommands = {
      {"rate", bad, "--format", "json"},
      {"samples", bad, "--start", "0", "--count", "3", "--format", "json"},
      {"info", bad, "--json"},
  };
  for (const auto& args : jsonCommands) {
    SCOPED_TRACE(args[0]);
    const CommandResult r = runHarmidex(args);
    ASSERT_EQ(r.status, 0) << describe(r);
    const json doc = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << r.out;
    EXPECT_EQ(doc["file"], dir.file("bad\xEF\xBF\xBD\xEF\xBF\xBD.wav"));
    std::string hex;
    for (unsigned char c : bad) hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
    EXPECT_EQ(doc["path_bytes"], hex);
    // A good name has no second copy.
    std::vector<std::string> same = args;
    same[1] = good;
    EXPECT_FALSE(json::parse(runHarmidex(same).out).contains("path_bytes"));
  }
  // The margins hold the title, the labels and the colour bar: as much
  // ink as for a good name, give or take the two letters.
  const auto ink = [&](const std::string& in) {
    const std::string png = dir.file("p.png");
    const CommandResult r = runHarmidex({"spectrogram", in, "-o", png, "--width", "300", "--height", "100"});
    EXPECT_EQ(r.status, 0) << describe(r);
    cairo_surface_t* s = cairo_image_surface_create_from_png(png.c_str());
    const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    const int stride = cairo_image_surface_get_stride(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    const cli::Margins m = cli::kSpectrogramMargins;
    int dark = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const bool inPlot = x >= m.left && x < m.left + 300 && y >= m.top && y < m.top + 100;
        const uint32_t p = reinterpret_cast<const uint32_t*>(data + y * stride)[x] & 0xffffff;
        if (!inPlot && p != 0xffffff) ++dark;
      }
    cairo_surface_destroy(s);
    return dark;
  };
  const int goodInk = ink(good);
  ASSERT_GT(goodInk, 0);
  EXPECT_GT(ink(bad), goodInk * 9 / 10);
}

}  // namespace
}  // namespace hx::test
