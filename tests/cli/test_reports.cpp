// The command for people, run as a child process on files made here:
// CSV, JSON and table output, info, the explained open failures, and the
// spectrogram and waveform files read back.
#include <cairo.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "audio/open_failures.h"
#include "cli/open_file.h"
#include "cli/picture_limits.h"
#include "common/media_files.h"
#include "run_command.h"
#include "support/error_text.h"

namespace hx::test {
namespace {

using nlohmann::json;

class ReportTest : public testing::Test {
 protected:
  // A 16-bit mono (or stereo, same samples in both) WAV of a sine.
  std::string toneFile(const std::string& name, double freq, double amplitude, double seconds,
                       int rate = 44100, int channels = 1) {
    const std::vector<int16_t> one =
        toInt16(sine(size_t(seconds * rate), freq, rate, amplitude));
    std::vector<std::vector<int16_t>> chans(size_t(channels), one);
    const std::string path = dir.file(name);
    EXPECT_TRUE(writeWav16(path, rate, channels, interleave(chans)));
    return path;
  }

  TempDir dir;
};

std::vector<std::string> split(const std::string& line, char sep) {
  std::vector<std::string> cells;
  std::stringstream in(line);
  for (std::string cell; std::getline(in, cell, sep);) cells.push_back(cell);
  return cells;
}

json parsedJson(const CommandResult& r) {
  json doc = json::parse(r.out, nullptr, /*allow_exceptions=*/false);
  EXPECT_FALSE(doc.is_discarded()) << r.out.substr(0, 400);
  return doc;
}

// ---- csv, json, table ------------------------------------------------------

TEST_F(ReportTest, FftCsv_HeaderAndBinCentreFrequencies) {
  const std::string path = toneFile("t.wav", 1000, 16384, 0.5);
  const CommandResult text = runHarmidex({"fft", path, "--bins", "512"});
  const CommandResult csv = runHarmidex({"fft", path, "--bins", "512", "--format", "csv"});
  ASSERT_EQ(csv.status, 0) << describe(csv);
  const std::vector<std::string> lines = csv.lines();
  ASSERT_EQ(lines.size(), 513u);
  EXPECT_EQ(lines[0], "bin,frequency_hz,value");
  for (size_t b = 0; b < 512; ++b) {
    const std::vector<std::string> cells = split(lines[b + 1], ',');
    ASSERT_EQ(cells.size(), 3u) << lines[b + 1];
    EXPECT_EQ(cells[0], std::to_string(b));
    EXPECT_NEAR(std::stod(cells[1]), b * 43.06640625, 1e-4) << "bin " << b;
    EXPECT_EQ(cells[2], text.lines()[b]) << "bin " << b;  // the module's number, as text prints it
  }
}

TEST_F(ReportTest, FftCsvEqualized_BandEdgesHoldTheTone) {
  const std::string path = toneFile("t.wav", 1000, 16384, 0.5);
  const CommandResult r =
      runHarmidex({"fft", path, "--bins", "1024", "--timesmooth", "4", "--equalized", "--format", "csv"});
  ASSERT_EQ(r.status, 0) << describe(r);
  const std::vector<std::string> lines = r.lines();
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[0], "band,low_hz,high_hz,value");
  const double bin = 44100.0 / 2048;
  size_t loudest = 0;
  double best = -1;
  for (size_t k = 0; k < 11; ++k) {
    const std::vector<std::string> cells = split(lines[k + 1], ',');
    ASSERT_EQ(cells.size(), 4u);
    const double low = k == 0 ? 0 : std::ldexp(bin, int(k) - 1);
    const double high = k == 0 ? bin : 2 * low;
    EXPECT_NEAR(std::stod(cells[1]), low, 1e-4) << "band " << k;
    EXPECT_NEAR(std::stod(cells[2]), high, 1e-4) << "band " << k;
    if (std::stod(cells[3]) > best) best = std::stod(cells[3]), loudest = k;
  }
  EXPECT_EQ(loudest, 6u);  // 689 to 1378 Hz
}

// JSON names the file, the method and every argument, defaults included.
TEST_F(ReportTest, Json_CarriesFileMethodArgumentsAndRate) {
  const std::string path = toneFile("t.wav", 1000, 16384, 0.1, 22050);
  struct Case {
    std::vector<std::string> args;
    const char* method;
    json arguments;
    const char* rows;  // member holding the rows, or null
    size_t rowCount;
  };
  const std::vector<Case> cases = {
      {{"fft", path},
       "getFFT",
       {{"fileID", 1}, {"startsample", 0}, {"binCount", 256}, {"timesmooth", 1},
        {"amplMax", 1.0}, {"normalized", 0}, {"equalized", 0}},
       "bins", 256},
      {{"fft", path, "--equalized", "--bins", "64", "--start", "10", "--ampl-max", "2"},
       "getFFT",
       {{"fileID", 1}, {"startsample", 10}, {"binCount", 64}, {"timesmooth", 1},
        {"amplMax", 2.0}, {"normalized", 0}, {"equalized", 1}},
       "bands", 7},
      {{"samples", path, "--start", "5", "--count", "3"},
       "getSamples",
       {{"fileID", 1}, {"startsample", 5}, {"nbSamples", 3}, {"amplMax", 1.0}},
       "samples", 3},
      {{"amplitude", path, "--start", "0", "--count", "2205"},
       "getAmplitude",
       {{"fileID", 1}, {"startsample", 0}, {"nbSamples", 2205}},
       nullptr, 0},
      {{"rate", path}, "getSampleRate", {{"fileID", 1}}, nullptr, 0},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--format", "json"});
    SCOPED_TRACE(testing::PrintToString(args));
    const CommandResult r = runHarmidex(args);
    ASSERT_EQ(r.status, 0) << describe(r);
    const json doc = parsedJson(r);
    EXPECT_EQ(doc["file"], path);
    EXPECT_EQ(doc["method"], c.method);
    EXPECT_EQ(doc["arguments"], c.arguments);
    EXPECT_EQ(doc["sample_rate_hz"], 22050.0);
    if (c.rows) {
      EXPECT_EQ(doc[c.rows].size(), c.rowCount);
    }
  }
}

TEST_F(ReportTest, Json_ValuesAreTheModulesNumbers) {
  const std::string path = toneFile("t.wav", 1000, 16384, 0.1);
  const CommandResult text = runHarmidex({"samples", path, "--start", "0", "--count", "4"});
  const CommandResult js = runHarmidex({"samples", path, "--start", "0", "--count", "4", "--format", "json"});
  ASSERT_EQ(js.status, 0) << describe(js);
  const json doc = parsedJson(js);
  ASSERT_EQ(doc["samples"].size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(doc["samples"][i]["frame"], int(i));
    EXPECT_DOUBLE_EQ(doc["samples"][i]["time_s"].get<double>(), i / 44100.0);
    // %.9g names the module's 32-bit float exactly; JSON holds it widened.
    EXPECT_EQ(float(doc["samples"][i]["value"].get<double>()), std::stof(text.lines()[i])) << i;
  }
  const CommandResult peak =
      runHarmidex({"amplitude", path, "--start", "0", "--count", "4410", "--format", "json"});
  const json p = parsedJson(peak);
  EXPECT_NEAR(p["peak"].get<double>(), 0.5, 1e-4);
  EXPECT_NEAR(p["peak_dbfs"].get<double>(), -6.0206, 1e-3);
}

TEST_F(ReportTest, Table_AlignsColumnsAndNamesUnits) {
  const std::string path = toneFile("t.wav", 1000, 16384, 0.5);
  const CommandResult r = runHarmidex({"fft", path, "--bins", "1024", "--equalized", "--table"});
  ASSERT_EQ(r.status, 0) << describe(r);
  const std::vector<std::string> lines = r.lines();
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_NE(lines[0].find("low (Hz)"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("high (Hz)"), std::string::npos) << lines[0];
  for (const std::string& line : lines) EXPECT_EQ(line.size(), lines[0].size()) << line;
  // The plain form stays one bare value per line.
  EXPECT_EQ(runHarmidex({"fft", path, "--bins", "1024", "--equalized"}).lines().size(), 11u);
}

TEST_F(ReportTest, FormatMistakes_AreUsageErrors) {
  const std::string path = toneFile("t.wav", 1000, 16384, 0.1);
  const std::vector<std::vector<std::string>> cases = {
      {"fft", path, "--format", "xml"},
      {"fft", path, "--format", "json", "--table"},
      {"rate", path, "--format"},
      {"bands", "8", "--format", "json"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    const CommandResult r = runHarmidex(args);
    EXPECT_EQ(r.status, 2) << describe(r);
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(ReportTest, FormattedMethodFailure_PrintsNothingAndExitsWithOne) {
  const std::string path = toneFile("t.wav", 1000, 16384, 0.1);
  for (const char* format : {"csv", "json"}) {
    const CommandResult r = runHarmidex({"fft", path, "--bins", "3", "--format", format});
    EXPECT_EQ(r.status, 1) << describe(r);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("binCount"), std::string::npos) << r.err;
  }
}

// ---- failures explained ------------------------------------------------------

TEST_F(ReportTest, OpenFailure_KeepsTheModuleTextAndExplainsIt) {
  const std::string missing = dir.file("missing.wav");
  const std::string text = dir.file("notes.txt");
  ASSERT_TRUE(writeBytes(text, std::vector<uint8_t>(300, 'a')));
  const std::string video = dir.file("video.mp4");
  ASSERT_TRUE(runFfmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1", "-c:v",
                         "mpeg4", video}));
  struct Case {
    std::string path;
    int code;
    const char* meaning;
    const char* sentence;
  };
  const std::vector<Case> cases = {
      {missing, -43, "file not found", " does not exist"},
      {dir.path(), -1302, "not a regular file", " is a directory"},
      {text, -2010, "not a media file", " is not an audio or movie file"},
      {video, -2009, "no audio track", " has no audio track: a video-only movie"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    for (const char* command : {"rate", "info"}) {
      const CommandResult r = runHarmidex({command, c.path});
      EXPECT_EQ(r.status, 1) << describe(r);
      EXPECT_EQ(r.out, "");
      const std::vector<std::string> lines = split(r.err, '\n');
      ASSERT_EQ(lines.size(), 2u) << r.err;
      EXPECT_EQ(lines[0], "cannot open " + c.path + " : error Unknown error (code " +
                              std::to_string(c.code) + ": " + c.meaning + ")");
      EXPECT_EQ(lines[1].rfind("harmidex: " + c.path + c.sentence, 0), 0u) << lines[1];
    }
  }
}

// Root reads any file, so the unreadable case is checked on the text itself.
TEST(OpenCodeMeaning, EveryMediaCodeHasItsOwnMeaning) {
  const std::string unknown = cli::openCodeMeaning(12345);
  for (const OpenFailure& f : kOpenFailures) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(cli::openCodeMeaning(f.code), f.meaning);
    EXPECT_NE(cli::openCodeMeaning(f.code), unknown);
    EXPECT_EQ(cli::explainOpenFailure("t", f.code, "/x").rfind(
                  "t (code " + std::to_string(f.code) + ": " + f.meaning + ")", 0),
              0u);
  }
  EXPECT_EQ(cli::explainOpenFailure("cannot open /x : error Unknown error", -54, "/x"),
            "cannot open /x : error Unknown error (code -54: permission denied)\n"
            "harmidex: /x cannot be read with your permissions; check its mode and owner.");
  EXPECT_EQ(cli::explainOpenFailure("t", 777, "/x"), "t (code 777: not a code of the media layers)");
}

// ---- info --------------------------------------------------------------------

TEST_F(ReportTest, Info_ReportsTheProbeBesideTheModulesRate) {
  const std::string wavPath = toneFile("t.wav", 440, 8000, 1.5, 22050, 2);
  const std::string m4a = dir.file("t.m4a");
  ASSERT_TRUE(runFfmpeg({"-i", wavPath, "-ar", "44100", "-c:a", "aac", m4a}));
  struct Case {
    std::string path;
    const char* container;  // a part of libavformat's name
    const char* codec;
    int rate;
    double seconds;
    double tolerance;  // encoders pad
  };
  const std::vector<Case> cases = {
      {wavPath, "wav", "pcm_s16le", 22050, 1.5, 0},
      {m4a, "mp4", "aac", 44100, 1.5, 0.05},
  };
  // Above 65535 Hz the media layer resamples to 48 kHz: the probe and the
  // module differ, and info shows both.
  const std::string high = toneFile("high.wav", 440, 8000, 0.5, 96000, 2);
  const CommandResult h = runHarmidex({"info", high, "--json"});
  ASSERT_EQ(h.status, 0) << describe(h);
  EXPECT_EQ(parsedJson(h)["stored_rate_hz"], 96000);
  EXPECT_EQ(parsedJson(h)["sample_rate_hz"], 48000.0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const CommandResult r = runHarmidex({"info", c.path, "--json"});
    ASSERT_EQ(r.status, 0) << describe(r);
    const json doc = parsedJson(r);
    EXPECT_NE(doc["container"].get<std::string>().find(c.container), std::string::npos);
    EXPECT_EQ(doc["codec"], c.codec);
    EXPECT_EQ(doc["audio_tracks"], 1);
    EXPECT_EQ(doc["track"], 1);
    EXPECT_EQ(doc["channels"], 2);
    EXPECT_EQ(doc["stored_rate_hz"], c.rate);
    EXPECT_EQ(doc["sample_rate_hz"], double(c.rate));
    EXPECT_NEAR(doc["duration_s"].get<double>(), c.seconds, c.tolerance + 1e-9);
    EXPECT_NEAR(doc["frames"].get<double>(), c.seconds * c.rate, c.tolerance * c.rate + 0.5);

    const CommandResult text = runHarmidex({"info", c.path});
    ASSERT_EQ(text.status, 0) << describe(text);
    EXPECT_NE(text.out.find("stored rate:   " + std::to_string(c.rate) + " Hz\n"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("rate read:     " + std::to_string(c.rate) + " Hz (getSampleRate)\n"),
              std::string::npos) << text.out;
  }
}

// The track info describes is the one the module decodes: the enabled one.
TEST_F(ReportTest, Info_ChoosesTheTrackTheModuleReads) {
  const std::string a = toneFile("a.wav", 440, 8000, 1.0, 16000);
  const std::string b = toneFile("b.wav", 440, 8000, 1.0, 32000);
  const std::string both = dir.file("both.mkv");
  ASSERT_TRUE(runFfmpeg({"-i", a, "-i", b, "-map", "0:a", "-map", "1:a", "-c:a", "pcm_s16le",
                         "-disposition:a:0", "0", "-disposition:a:1", "default", both}));
  const CommandResult r = runHarmidex({"info", both, "--json"});
  ASSERT_EQ(r.status, 0) << describe(r);
  const json doc = parsedJson(r);
  EXPECT_EQ(doc["audio_tracks"], 2);
  EXPECT_EQ(doc["track"], 2);
  EXPECT_EQ(doc["stored_rate_hz"], 32000);
  EXPECT_EQ(doc["sample_rate_hz"], 32000.0);  // what the module read
}

// ---- pictures ------------------------------------------------------------------

struct Png {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0xRRGGBB
  double luminance(int x, int y) const {
    const uint32_t p = pixels[size_t(y) * size_t(width) + size_t(x)];
    return 0.2126 * ((p >> 16) & 0xff) + 0.7152 * ((p >> 8) & 0xff) + 0.0722 * (p & 0xff);
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

// The plot row (from the top of the plot) whose mean luminance is highest.
int brightestRow(const Png& png, const cli::Margins& m, int plotWidth, int plotHeight) {
  int best = -1;
  double top = -1;
  for (int r = 0; r < plotHeight; ++r) {
    double sum = 0;
    for (int x = m.left + 2; x < m.left + plotWidth - 2; ++x) sum += png.luminance(x, m.top + r);
    if (sum > top) top = sum, best = r;
  }
  return best;
}

TEST_F(ReportTest, Spectrogram_ToneLandsOnItsFrequencyRow) {
  const std::string path = toneFile("tone.wav", 1000, 16384, 1.0);
  const double bin = 44100.0 / 1024;  // 512 bins
  const double lo = 0.5 * bin, hi = 511.5 * bin;
  struct Case {
    std::vector<std::string> options;
    int width, height;
    double row;        // expected plot row of 1 kHz from the top
    double tolerance;  // one bin, in rows
  };
  const std::vector<Case> cases = {
      {{}, cli::kSpectrogramWidth, cli::kSpectrogramHeight, 511 - 1000 / bin, 1},
      {{"--width", "300", "--height", "256"}, 300, 256, 255 - 1000 / bin / 2, 1},
      {{"--width", "200", "--log-freq", "--colours", "magma"}, 200, 512,
       512 * (1 - std::log(1000 / lo) / std::log(hi / lo)), 512 * std::log((1000 + bin) / 1000) / std::log(hi / lo) + 0.5},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"spectrogram", path, "-o", dir.file("s.png")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    SCOPED_TRACE(testing::PrintToString(args));
    const CommandResult r = runHarmidex(args);
    ASSERT_EQ(r.status, 0) << describe(r);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");  // no progress bar: stderr is not a terminal
    const Png png = readPng(dir.file("s.png"));
    const cli::Margins m = cli::kSpectrogramMargins;
    ASSERT_EQ(png.width, m.left + c.width + m.right);
    ASSERT_EQ(png.height, m.top + c.height + m.bottom);
    EXPECT_NEAR(brightestRow(png, m, c.width, c.height), c.row, c.tolerance);
  }
}

TEST_F(ReportTest, Spectrogram_HopAndBandsShapeThePicture) {
  const std::string path = toneFile("tone.wav", 1000, 16384, 1.0);
  const cli::Margins m = cli::kSpectrogramMargins;
  // --hop alone: one pixel column per hop.
  CommandResult r = runHarmidex({"spectrogram", path, "-o", dir.file("h.png"), "--hop", "441"});
  ASSERT_EQ(r.status, 0) << describe(r);
  EXPECT_EQ(readPng(dir.file("h.png")).width, m.left + 100 + m.right);
  // Octave bands of 1024 bins: eleven rows, the tone's band (6 from the bottom) brightest.
  r = runHarmidex({"spectrogram", path, "-o", dir.file("e.png"), "--equalized", "--bins", "1024",
                   "--height", "110", "--width", "100"});
  ASSERT_EQ(r.status, 0) << describe(r);
  const Png png = readPng(dir.file("e.png"));
  const int row = brightestRow(png, m, 100, 110);
  EXPECT_EQ((110 - 1 - row) / 10, 6) << row;
}

// The first plot column (from the left) whose mean luminance is above the
// middle of the darkest and the brightest column.
int firstBrightColumn(const Png& png, const cli::Margins& m, int plotWidth, int plotHeight) {
  std::vector<double> mean;
  for (int x = 0; x < plotWidth; ++x) {
    double sum = 0;
    for (int y = 0; y < plotHeight; ++y) sum += png.luminance(m.left + x, m.top + y);
    mean.push_back(sum / plotHeight);
  }
  const auto [lo, hi] = std::minmax_element(mean.begin(), mean.end());
  for (int x = 0; x < plotWidth; ++x)
    if (mean[size_t(x)] > (*lo + *hi) / 2) return x;
  return -1;
}

// Silence, then a tone from 0.5 s: each column shows its own time.
TEST_F(ReportTest, Spectrogram_ColumnsFollowTime) {
  std::vector<int16_t> samples(22050, 0);
  const std::vector<int16_t> tone = toInt16(sine(22050, 1000, 44100, 16384));
  samples.insert(samples.end(), tone.begin(), tone.end());
  const std::string path = dir.file("late.wav");
  ASSERT_TRUE(writeWav16(path, 44100, 1, samples));
  struct Case {
    std::vector<std::string> options;
    int column;  // where the tone starts, of 100
  };
  const std::vector<Case> cases = {
      {{}, 50},
      {{"--start", "0.25", "--duration", "0.5"}, 50},
      {{"--duration", "0.625"}, 80},
      {{"--hop", "882"}, 25},  // 50 columns, one pixel each
  };
  for (const Case& c : cases) {
    // Blocks of 128 frames, shorter than a column: the tone enters no column early.
    std::vector<std::string> args = {"spectrogram", path, "-o", dir.file("t.png"), "--width", "100",
                                     "--height", "64", "--bins", "64"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    if (c.column == 25) args.erase(args.begin() + 4, args.begin() + 6);  // --hop alone sets the width
    SCOPED_TRACE(testing::PrintToString(args));
    const CommandResult r = runHarmidex(args);
    ASSERT_EQ(r.status, 0) << describe(r);
    const Png png = readPng(dir.file("t.png"));
    const int width = png.width - cli::kSpectrogramMargins.left - cli::kSpectrogramMargins.right;
    EXPECT_NEAR(firstBrightColumn(png, cli::kSpectrogramMargins, width, 64), c.column, 1.5);
  }
}

TEST_F(ReportTest, PictureMistakes_FailWithoutAFile) {
  const std::string path = toneFile("tone.wav", 1000, 16384, 0.5);
  const std::string png = dir.file("never.png");
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const std::vector<Case> cases = {
      {{"spectrogram", path}, 2},                              // no -o
      {{"spectrogram", path, "-o", png, "--bins", "0"}, 2},
      {{"spectrogram", path, "-o", png, "--width", "-3"}, 2},
      {{"spectrogram", path, "-o", png, "--start", "-1"}, 2},
      {{"spectrogram", path, "-o", png, "--colours", "jet"}, 2},
      {{"waveform", path}, 2},                                 // neither -o nor --json
      {{"waveform", path, "--json", png, "--bits", "12"}, 2},
      {{"waveform", path, "--json", png, "--pixels-per-second", "10", "--samples-per-pixel", "5"}, 2},
      {{"spectrogram", path, "-o", png, "--bins", "3"}, 1},    // the module refuses
      {{"spectrogram", path, "-o", png, "--start", "2"}, 1},   // past the end
      {{"spectrogram", path, "-o", png, "--hop", "1"}, 1},     // 22050 columns
      {{"spectrogram", path, "-o", png, "--width", "20000"}, 1},
      {{"spectrogram", path, "-o", png, "--width", "10000", "--height", "10000"}, 1},
      {{"waveform", path, "-o", png, "--width", "10000", "--height", "10000"}, 1},
      {{"waveform", path, "-o", png, "--duration", "0"}, 1},
      {{"spectrogram", dir.file("missing.wav"), "-o", png}, 1},
      {{"spectrogram", path, "-o", dir.file("no/such/folder/x.png")}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const CommandResult r = runHarmidex(c.args);
    EXPECT_EQ(r.status, c.status) << describe(r);
    EXPECT_EQ(r.err.rfind(c.status == 2 ? "harmidex: " : "", 0), 0u) << r.err;
    EXPECT_NE(r.err, "");
    EXPECT_FALSE(std::filesystem::exists(png));
  }
}

// On a terminal the long jobs draw a bar on standard error and clear it.
TEST_F(ReportTest, Progress_DrawnOnATerminalAndCleared) {
  const std::string path = toneFile("tone.wav", 1000, 16384, 3.0);
  const std::string png = dir.file("p.png");
  const std::vector<std::vector<std::string>> cases = {
      {"spectrogram", path, "-o", png},
      {"waveform", path, "-o", png},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0]);
    std::vector<std::string> all = {harmidexPath()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      execv(argv[0], argv.data());
      _exit(127);
    }
    std::string seen;
    char buf[4096];
    for (ssize_t n; (n = read(terminal, buf, sizeof buf)) > 0;) seen.append(buf, size_t(n));
    close(terminal);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    EXPECT_NE(seen.find(args[0] + " ["), std::string::npos) << seen;
    EXPECT_NE(seen.find("%"), std::string::npos) << seen;
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen.substr(seen.size() - 4), "\r\033[K") << seen;
  }
}

// ---- waveform --------------------------------------------------------------------

TEST_F(ReportTest, WaveformJson_FollowsTheAudiowaveformFormat) {
  const std::string path = toneFile("half.wav", 441, 16384, 1.0, 44100, 2);
  struct Case {
    std::vector<std::string> options;
    int bits;
    int samplesPerPixel;
    int length;
  };
  const std::vector<Case> cases = {
      {{"--samples-per-pixel", "1000"}, 16, 1000, 45},
      {{"--pixels-per-second", "10", "--bits", "8"}, 8, 4410, 10},
      {{"--width", "50"}, 16, 882, 50},
      {{"--start", "0.5", "--duration", "0.25", "--samples-per-pixel", "441"}, 16, 441, 25},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"waveform", path, "--json", dir.file("w.json")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    SCOPED_TRACE(testing::PrintToString(args));
    const CommandResult r = runHarmidex(args);
    ASSERT_EQ(r.status, 0) << describe(r);
    const std::vector<uint8_t> bytes = readBytes(dir.file("w.json"));
    const json doc = json::parse(bytes.begin(), bytes.end(), nullptr, false);
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_EQ(doc["version"], 2);
    EXPECT_EQ(doc["channels"], 1);
    EXPECT_EQ(doc["sample_rate"], 44100);
    EXPECT_EQ(doc["samples_per_pixel"], c.samplesPerPixel);
    EXPECT_EQ(doc["bits"], c.bits);
    EXPECT_EQ(doc["length"], c.length);
    ASSERT_EQ(doc["data"].size(), size_t(2 * c.length));
    // Every point spans at least a period of the 441 Hz sine but the last,
    // which may be short: it holds the extremes of a half-scale sine.
    const double peak = c.bits == 16 ? 16384 : 64;
    for (int i = 0; i + 1 < c.length; ++i) {
      EXPECT_NEAR(doc["data"][2 * i].get<double>(), -peak, 1) << "point " << i;
      EXPECT_NEAR(doc["data"][2 * i + 1].get<double>(), peak, 1) << "point " << i;
    }
  }
}

TEST_F(ReportTest, WaveformPng_HasThePlotSizeAndTheEnvelope) {
  const std::string path = toneFile("half.wav", 441, 16384, 1.0);
  const CommandResult r = runHarmidex({"waveform", path, "-o", dir.file("w.png"), "--width", "400",
                                       "--height", "200", "--json", dir.file("w.json")});
  ASSERT_EQ(r.status, 0) << describe(r);
  EXPECT_TRUE(std::filesystem::exists(dir.file("w.json")));
  const Png png = readPng(dir.file("w.png"));
  const cli::Margins m = cli::kWaveformMargins;
  ASSERT_EQ(png.width, m.left + 400 + m.right);
  ASSERT_EQ(png.height, m.top + 200 + m.bottom);
  // Half scale reaches a quarter of the plot from the top and from the bottom.
  const int x = m.left + 200;
  EXPECT_LT(png.luminance(x, m.top + 100), 200);  // drawn
  EXPECT_LT(png.luminance(x, m.top + 52), 200);
  EXPECT_GT(png.luminance(x, m.top + 45), 250);   // white above the envelope
  EXPECT_GT(png.luminance(x, m.top + 155), 250);  // and below it
}

}  // namespace
}  // namespace hx::test
