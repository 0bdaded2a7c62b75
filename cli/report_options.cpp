#include "cli/report_options.h"

#include <CLI/CLI.hpp>

#include "cli/decibels.h"
#include "cli/literals.h"
#include "cli/output.h"
#include "cli/picture_limits.h"

namespace hx::cli {
namespace {

const CLI::Validator kPositiveInt(
    [](std::string& text) {
      const auto n = parseInt32(text);
      return n && *n > 0 ? std::string() : "'" + text + "' is not a positive 32-bit integer";
    },
    "", "int>0");

const CLI::Validator kSeconds(
    [](std::string& text) {
      const auto x = parseFloat(text);
      return x && *x >= 0 ? std::string() : "'" + text + "' is not a time in seconds (0 or more)";
    },
    "", "seconds");

const CLI::Validator kPositiveFloat(
    [](std::string& text) {
      const auto x = parseFloat(text);
      return x && *x > 0 ? std::string() : "'" + text + "' is not a positive decimal number";
    },
    "", "float>0");

bool given(const CLI::App* app, const char* name) {
  const CLI::Option* option = app->get_option_no_throw(name);
  return option != nullptr && option->count() > 0;
}

#ifdef HARMIDEX_CLI_PICTURES
void addSpan(CLI::App* app, RawReportOptions& raw) {
  app->add_option("--start", raw.start, "Start, in seconds (default 0)")
      ->type_name("SECONDS")
      ->check(kSeconds);
  app->add_option("--duration", raw.duration, "Length, in seconds (default: to the end)")
      ->type_name("SECONDS")
      ->check(kSeconds);
}

CLI::Option* addSize(CLI::App* app, const char* name, std::string& text, const std::string& help) {
  return app->add_option(name, text, help)->type_name("PIXELS")->check(kPositiveInt);
}

std::string pixelsText(int32_t n) { return std::to_string(n); }

CLI::App* addSpectrogram(CLI::App& app, RawReportOptions& raw, Command& cmd, std::string& bins,
                         std::string& timesmooth) {
  CLI::App* s = app.add_subcommand(
      "spectrogram", "Picture (PNG) of the spectrum over time, from getFFT calls on the module");
  s->add_option("FILE", cmd.file, "Audio file")->required();
  s->add_option("-o,--output", cmd.picture.pngPath, "PNG file to write")->type_name("PNG")->required();
  addSpan(s, raw);
  s->add_option("--bins", bins, "Bins per column, a power of two (default 512)")
      ->type_name("INT")
      ->check(kPositiveInt);
  s->add_option("--hop", raw.hop, "Frames between columns (default: fit the width)")
      ->type_name("FRAMES")
      ->check(kPositiveInt);
  s->add_option("--timesmooth", timesmooth, "Segments averaged per column (default 1)")
      ->type_name("INT")
      ->check(kPositiveInt);
  s->add_flag("--normalized", cmd.normalized, "Scale each column by its block's peak level");
  s->add_flag("--equalized", cmd.equalized, "One row per octave band");
  s->add_flag("--log-freq", cmd.picture.logFreq, "Logarithmic frequency axis");
  addSize(s, "--width", raw.width,
          "Plot width (default " + pixelsText(kSpectrogramWidth) + "; the picture adds margins)");
  addSize(s, "--height", raw.height, "Plot height (default " + pixelsText(kSpectrogramHeight) + ")");
  s->add_option("--colours,--colors", cmd.picture.colourMap, "Colour map (default viridis)")
      ->type_name("MAP")
      ->check(CLI::IsMember({"viridis", "magma"}));
  s->add_option("--scale", cmd.picture.scale,
                "Colour scale: db (dBFS, 0 for a full-scale sine, the default) or log-power "
                "(getFFT's values, from 0 to the largest)")
      ->type_name("SCALE")
      ->check(CLI::IsMember({"db", "log-power"}));
  s->add_option("--range", raw.range,
                "dB below 0 dBFS that the db scale shows (default " +
                    formatFloat(kDefaultRangeDb) + ")")
      ->type_name("DB")
      ->check(kPositiveFloat);
  return s;
}

CLI::App* addWaveform(CLI::App& app, RawReportOptions& raw, Command& cmd) {
  CLI::App* w = app.add_subcommand(
      "waveform", "Min/max envelope (PNG and/or audiowaveform JSON) from getSamples calls");
  w->add_option("FILE", cmd.file, "Audio file")->required();
  w->add_option("-o,--output", cmd.picture.pngPath, "PNG file to write")->type_name("PNG");
  w->add_option("--json", cmd.picture.jsonPath, "audiowaveform data file (version 2) to write")
      ->type_name("JSON");
  addSpan(w, raw);
  CLI::Option* pps =
      w->add_option("--pixels-per-second", raw.pixelsPerSecond, "Envelope points per second")
          ->type_name("FLOAT")
          ->check(kPositiveFloat);
  CLI::Option* spp =
      w->add_option("--samples-per-pixel", raw.samplesPerPixel, "Frames per envelope point")
          ->type_name("INT")
          ->check(kPositiveInt);
  pps->excludes(spp);
  w->add_option("--bits", raw.bits, "Resolution of the JSON data, 8 or 16 (default 16)")
      ->type_name("BITS")
      ->check(CLI::IsMember({"8", "16"}));
  addSize(w, "--width", raw.width,
          "Plot width (default " + pixelsText(kWaveformWidth) +
              "; without a zoom option the envelope fits it)");
  addSize(w, "--height", raw.height, "Plot height (default " + pixelsText(kWaveformHeight) + ")");
  return w;
}
#endif  // HARMIDEX_CLI_PICTURES

}  // namespace

void addFormatOptions(CLI::App* app, RawReportOptions& raw, Command& cmd) {
  CLI::Option* format =
      app->add_option("--format", raw.format,
                      "text (one value per line, the default), csv or json (with units and "
                      "arguments)")
          ->type_name("FORMAT")
          ->check(CLI::IsMember({"text", "csv", "json"}));
  app->add_flag("--table", cmd.table, "Aligned columns with units, for reading")->excludes(format);
}

ReportCommands addReportCommands(CLI::App& app, RawReportOptions& raw, Command& cmd,
                                 std::string& bins, std::string& timesmooth) {
  ReportCommands commands;
#ifdef HARMIDEX_CLI_PICTURES
  commands.info = app.add_subcommand(
      "info", "Container, codec and audio track of a file, and its rate read through the module");
  commands.info->add_option("FILE", cmd.file, "Audio file")->required();
  commands.info->add_flag("--json", raw.json, "Print one JSON object");
  commands.spectrogram = addSpectrogram(app, raw, cmd, bins, timesmooth);
  commands.waveform = addWaveform(app, raw, cmd);
#else
  (void)app, (void)raw, (void)cmd, (void)bins, (void)timesmooth;
#endif
  return commands;
}

std::string finishReportOptions(const CLI::App* chosen, const RawReportOptions& raw,
                                Command& cmd) {
  if (raw.format == "csv") cmd.format = Format::Csv;
  if (raw.format == "json") cmd.format = Format::Json;
  if (raw.json) cmd.format = Format::Json;
  PictureOptions& p = cmd.picture;
  if (given(chosen, "--start")) p.startSeconds = parseFloat(raw.start);
  if (given(chosen, "--duration")) p.durationSeconds = parseFloat(raw.duration);
  if (given(chosen, "--width")) p.width = parseInt32(raw.width).value_or(0);
  if (given(chosen, "--height")) p.height = parseInt32(raw.height).value_or(0);
  if (given(chosen, "--hop")) p.hop = parseInt32(raw.hop);
  if (given(chosen, "--pixels-per-second")) p.pixelsPerSecond = parseFloat(raw.pixelsPerSecond);
  if (given(chosen, "--samples-per-pixel")) p.samplesPerPixel = parseInt32(raw.samplesPerPixel);
  if (given(chosen, "--bits")) p.bits = parseInt32(raw.bits).value_or(16);
  if (given(chosen, "--range")) p.rangeDb = parseFloat(raw.range);
  if (chosen->get_name() == "spectrogram" && cmd.normalized && p.scale == "db")
    return "spectrogram: --normalized multiplies the log values by each block's peak level, "
           "which leaves no level in dBFS; add --scale log-power";
  if (chosen->get_name() == "waveform" && p.pngPath.empty() && p.jsonPath.empty())
    return "waveform: give -o PNG, --json JSON, or both";
  return {};
}

}  // namespace hx::cli
