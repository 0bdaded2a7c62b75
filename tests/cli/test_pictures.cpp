// Pictures read back as a person reads them: levels on the dB colour scale,
// titles that fit, text in any script, and notes on options that do nothing.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/colour_maps.h"
#include "cli/picture_limits.h"
#include "cli/plot.h"
#include "common/media_files.h"
#include "run_command.h"

namespace hx::test {
namespace {

struct Png {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0xRRGGBB
  uint32_t at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
  bool dark(int x, int y) const {
    const uint32_t p = at(x, y);
    return ((p >> 16) & 0xff) + ((p >> 8) & 0xff) + (p & 0xff) < 3 * 128;
  }
};

Png readPng(const std::string& path) {
  Png png;
  cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
    png.width = cairo_image_surface_get_width(s);
    png.height = cairo_image_surface_get_height(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < png.height; ++y)
      for (int x = 0; x < png.width; ++x)
        png.pixels.push_back(reinterpret_cast<const uint32_t*>(data + y * stride)[x] & 0xffffff);
  }
  cairo_surface_destroy(s);
  return png;
}

// The entry of the colour map nearest to a pixel.
int colourIndexOf(uint32_t rgb, const uint32_t* map) {
  int best = 0;
  long bestDistance = -1;
  for (int i = 0; i < 256; ++i) {
    long d = 0;
    for (int shift : {0, 8, 16}) {
      const long diff = long((rgb >> shift) & 0xff) - long((map[i] >> shift) & 0xff);
      d += diff * diff;
    }
    if (bestDistance < 0 || d < bestDistance) bestDistance = d, best = i;
  }
  return best;
}

class PictureTest : public testing::Test {
 protected:
  // A 16-bit mono WAV of a sine at a level in dBFS (0 dBFS: amplitude 32768).
  std::string toneAt(const std::string& name, double freq, double dbfs, int rate) {
    const double amplitude = 32768 * std::pow(10.0, dbfs / 20);
    const std::string path = dir.file(name);
    EXPECT_TRUE(writeWav16(path, rate, 1, toInt16(sine(size_t(rate), freq, rate, amplitude))));
    return path;
  }

  TempDir dir;
};

// Tones on a bin's centre frequency, read back from the colour of their row
// in the middle column. One colour step is range / 255 dB.
TEST_F(PictureTest, DbScale_TonesReadBackAtTheirLevels) {
  constexpr int kRate = 48000;
  struct Case {
    double dbfs;
    int bins, timesmooth, bin;  // the tone lies on bin `bin`
    double range;
    bool bands;  // --equalized: bin 1 is band 1 alone
  };
  const std::vector<Case> cases = {
      {-6, 512, 1, 64, 120, false},  {-20, 512, 1, 64, 120, false}, {-60, 512, 1, 64, 120, false},
      {-6, 512, 2, 64, 120, false},  {-20, 512, 4, 100, 120, false}, {-60, 512, 3, 64, 120, false},
      {-20, 256, 1, 32, 60, false},  {-60, 256, 2, 32, 90, false},  {-6, 16, 1, 1, 120, true},
      {-20, 16, 2, 1, 120, true},    {-60, 16, 1, 1, 120, true},
  };
  const cli::Margins m = cli::kSpectrogramMargins;
  const uint32_t* viridis = cli::colourMap("viridis");
  for (const Case& c : cases) {
    const double freq = c.bin * double(kRate) / (2 * c.bins);
    const std::string path = toneAt("tone.wav", freq, c.dbfs, kRate);
    const int height = c.bands ? 50 : c.bins;
    std::vector<std::string> args = {"spectrogram", path, "-o", dir.file("db.png"),
                                     "--bins", std::to_string(c.bins), "--timesmooth",
                                     std::to_string(c.timesmooth), "--width", "40", "--height",
                                     std::to_string(height), "--range", std::to_string(c.range)};
    if (c.bands) args.push_back("--equalized");
    SCOPED_TRACE(testing::PrintToString(args));
    const CommandResult r = runHarmidex(args);
    ASSERT_EQ(r.status, 0) << describe(r);
    const Png png = readPng(dir.file("db.png"));
    ASSERT_EQ(png.height, m.top + height + m.bottom);
    // Bands: 5 rows of 10 pixels, band 1 the second from the bottom.
    const int row = c.bands ? height - 15 : height - 1 - c.bin;
    const int index = colourIndexOf(png.at(m.left + 20, m.top + row), viridis);
    EXPECT_NEAR(index / 255.0 * c.range - c.range, c.dbfs, 0.5) << "colour index " << index;
  }
}

TEST_F(PictureTest, DbScale_BelowTheRangeAndSilenceAreDarkest) {
  const cli::Margins m = cli::kSpectrogramMargins;
  const uint32_t* viridis = cli::colourMap("viridis");
  const std::string tone = toneAt("quiet.wav", 3000, -70, 48000);  // bin 64 of 512
  const std::string silence = dir.file("silence.wav");
  ASSERT_TRUE(writeWav16(silence, 48000, 1, std::vector<int16_t>(48000, 0)));
  struct Case {
    std::string file, range;
    int index;  // of row 64
  };
  const std::vector<Case> cases = {
      {tone, "120", int(std::lround(50 / 120.0 * 255))},
      {tone, "60", 0},
      {silence, "120", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + " --range " + c.range);
    const CommandResult r = runHarmidex({"spectrogram", c.file, "-o", dir.file("q.png"), "--width",
                                         "40", "--range", c.range});
    ASSERT_EQ(r.status, 0) << describe(r);
    const Png png = readPng(dir.file("q.png"));
    EXPECT_NEAR(colourIndexOf(png.at(m.left + 20, m.top + 511 - 64), viridis), c.index, 2);
  }
}

TEST_F(PictureTest, ScaleOptions_MistakesAreUsageErrors) {
  const std::string path = toneAt("tone.wav", 1000, -6, 44100);
  const std::string png = dir.file("s.png");
  struct Case {
    std::vector<std::string> options;
    int status;
  };
  const std::vector<Case> cases = {
      {{"--normalized"}, 2},  // scaled log values have no level in dBFS
      {{"--normalized", "--scale", "db"}, 2},
      {{"--scale", "dbfs"}, 2},
      {{"--range", "0"}, 2},
      {{"--range", "-20"}, 2},
      {{"--range", "loud"}, 2},
      {{"--normalized", "--scale", "log-power"}, 0},
      {{"--scale", "log-power", "--colours", "magma"}, 0},
      {{"--range", "80.5", "--equalized"}, 0},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"spectrogram", path, "-o", png, "--width", "20"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    SCOPED_TRACE(testing::PrintToString(args));
    const CommandResult r = runHarmidex(args);
    EXPECT_EQ(r.status, c.status) << describe(r);
    EXPECT_EQ(std::filesystem::exists(png), c.status == 0);
    if (c.status == 2) {
      EXPECT_EQ(r.err.rfind("harmidex: ", 0), 0u) << r.err;
    }
    std::filesystem::remove(png);
  }
}

TEST_F(PictureTest, IneffectiveOptions_AreNamedOnStandardError) {
  const std::string path = toneAt("tone.wav", 1000, -6, 44100);
  const std::string png = dir.file("n.png"), json = dir.file("n.json");
  struct Case {
    std::vector<std::string> args;  // after the file
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"spectrogram", "-o", png, "--width", "20", "--equalized", "--log-freq"},
       "harmidex: --log-freq has no effect with --equalized, whose rows are octave bands\n"},
      {{"spectrogram", "-o", png, "--width", "20", "--scale", "log-power", "--range", "60"},
       "harmidex: --range has no effect with --scale log-power\n"},
      {{"spectrogram", "-o", png, "--width", "20", "--equalized"}, ""},
      {{"spectrogram", "-o", png, "--width", "20", "--log-freq", "--range", "60"}, ""},
      {{"waveform", "--json", json, "--height", "100"}, "harmidex: --height has no effect without -o\n"},
      {{"waveform", "--json", json, "--width", "100", "--samples-per-pixel", "512"},
       "harmidex: --width has no effect without -o when the zoom is given\n"},
      {{"waveform", "--json", json, "--width", "100"}, ""},  // the width sets the zoom
      {{"waveform", "--json", json, "-o", png, "--height", "100", "--pixels-per-second", "50"}, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin() + 1, path);
    SCOPED_TRACE(testing::PrintToString(args));
    const CommandResult r = runHarmidex(args);
    EXPECT_EQ(r.status, 0) << describe(r);
    EXPECT_EQ(r.err, c.err);
  }
}

// The title lies inside the picture, with ink in it, whatever the name.
TEST_F(PictureTest, Title_FitsThePictureAndIsDrawnForAnyName) {
  struct Case {
    std::string name;
    std::string width;
  };
  const std::vector<Case> cases = {
      {std::string(120, 'n') + ".wav", "300"},
      {"recording-of-the-evening-concert-in-the-old-town-hall-second-half.wav", "300"},
      {"\xe9t\xe9-not-utf8-\xff.wav", "300"},  // Latin-1 bytes
      {"\xe5\xbd\x95\xe9\x9f\xb3.wav", "300"},  // a CJK name
      {"short.wav", "40"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = toneAt(c.name, 1000, -6, 44100);
    const CommandResult r = runHarmidex({"spectrogram", path, "-o", dir.file("t.png"), "--width",
                                         c.width, "--height", "64", "--bins", "64"});
    ASSERT_EQ(r.status, 0) << describe(r);
    EXPECT_EQ(r.err, "");  // nor a library's warning about the text
    const Png png = readPng(dir.file("t.png"));
    int ink = 0, inkAtEdges = 0;
    for (int y = 0; y < cli::kSpectrogramMargins.top - 4; ++y)
      for (int x = 0; x < png.width; ++x)
        if (png.dark(x, y)) ++ink, inkAtEdges += (x < 4 || x >= png.width - 4);
    EXPECT_GT(ink, 50);
    EXPECT_EQ(inkAtEdges, 0);
    std::filesystem::remove(path);
  }
}

TEST(PictureText, FontFallbackFindsAGlyphForEveryScript) {
  struct Case {
    const char* text;
    bool drawable;
  };
  const std::vector<Case> cases = {
      {"time (s) — level (dBFS)", true},
      {"\xe5\xbd\x95\xe9\x9f\xb3 \xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88 \xeb\x85\xb9\xec\x9d\x8c",
       true},                      // 录音 テスト 녹음
      {"\xf3\xb0\x80\x80", false},  // U+F0000, private use: no font has it
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cli::missingGlyphs(c.text) == 0, c.drawable) << c.text;
  }
  cli::releaseFontCaches();
}

}  // namespace
}  // namespace hx::test
