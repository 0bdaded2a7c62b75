#include "cli/report_options.h"

#include <CLI/CLI.hpp>

#include "cli/decibels.h"
#include "cli/option_numbers.h"
#include "cli/output.h"
#include "cli/picture_limits.h"

namespace hx::cli {
namespace {

#ifdef HARMIDEX_CLI_PICTURES
void addSpan(CLI::App* app, PictureOptions& p) {
  addNumber(app, "--start", p.startSeconds, kSeconds, "Start, in seconds (default 0)")
      ->type_name("SECONDS");
  addNumber(app, "--duration", p.durationSeconds, kSeconds,
            "Length, in seconds (default: to the end)")
      ->type_name("SECONDS");
}

CLI::Option* addSize(CLI::App* app, const char* name, int32_t& size, const std::string& help) {
  return addNumber(app, name, size, kPositiveInt32, help)->type_name("PIXELS");
}

std::string pixelsText(int32_t n) { return std::to_string(n); }

CLI::App* addSpectrogram(CLI::App& app, Command& cmd) {
  CLI::App* s = app.add_subcommand(
      "spectrogram", "Picture (PNG) of the spectrum over time, from getFFT calls on the module");
  s->add_option("FILE", cmd.file, "Audio file")->required();
  s->add_option("-o,--output", cmd.picture.pngPath, "PNG file to write (- for standard output)")
      ->type_name("PNG")
      ->required();
  addSpan(s, cmd.picture);
  addNumber(s, "--bins", cmd.bins, kPositiveInt32, "Bins per column, a power of two (default 512)");
  addNumber(s, "--hop", cmd.picture.hop, kPositiveInt32,
            "Frames between columns (default: fit the width)")
      ->type_name("FRAMES");
  addNumber(s, "--timesmooth", cmd.timesmooth, kPositiveInt32,
            "Segments averaged per column (default 1)");
  s->add_flag("--normalized", cmd.normalized, "Scale each column by its block's peak level");
  s->add_flag("--equalized", cmd.equalized, "One row per octave band");
  s->add_flag("--log-freq", cmd.picture.logFreq, "Logarithmic frequency axis");
  addSize(s, "--width", cmd.picture.width,
          "Plot width (default " + pixelsText(kSpectrogramWidth) + "; the picture adds margins)");
  addSize(s, "--height", cmd.picture.height, "Plot height (default " + pixelsText(kSpectrogramHeight) + ")");
  s->add_option("--colours,--colors", cmd.picture.colourMap, "Colour map (default viridis)")
      ->type_name("MAP")
      ->check(CLI::IsMember({"viridis", "magma"}));
  s->add_option("--scale", cmd.picture.scale,
                "Colour scale: db (dBFS, 0 for a full-scale sine, the default) or log-power "
                "(getFFT's values, from 0 to the largest)")
      ->type_name("SCALE")
      ->check(CLI::IsMember({"db", "log-power"}));
  addNumber(s, "--range", cmd.picture.rangeDb, kPositiveFloat,
            "dB below 0 dBFS that the db scale shows (default " + formatFloat(kDefaultRangeDb) + ")")
      ->type_name("DB");
  return s;
}

CLI::App* addWaveform(CLI::App& app, RawReportOptions& raw, Command& cmd) {
  CLI::App* w = app.add_subcommand(
      "waveform", "Min/max envelope (PNG and/or audiowaveform JSON) from getSamples calls");
  w->add_option("FILE", cmd.file, "Audio file")->required();
  w->add_option("-o,--output", cmd.picture.pngPath, "PNG file to write (- for standard output)")
      ->type_name("PNG");
  w->add_option("--json", cmd.picture.jsonPath,
                "audiowaveform data file (version 2) to write (- for standard output)")
      ->type_name("JSON");
  addSpan(w, cmd.picture);
  CLI::Option* pps = addNumber(w, "--pixels-per-second", cmd.picture.pixelsPerSecond,
                               kPositiveFloat, "Envelope points per second");
  CLI::Option* spp = addNumber(w, "--samples-per-pixel", cmd.picture.samplesPerPixel,
                               kPositiveInt32, "Frames per envelope point");
  pps->excludes(spp);
  w->add_option("--bits", raw.bits, "Resolution of the JSON data, 8 or 16 (default 16)")
      ->type_name("BITS")
      ->check(CLI::IsMember({"8", "16"}));
  addSize(w, "--width", cmd.picture.width,
          "Plot width (default " + pixelsText(kWaveformWidth) +
              "; without a zoom option the envelope fits it)");
  addSize(w, "--height", cmd.picture.height, "Plot height (default " + pixelsText(kWaveformHeight) + ")");
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

ReportCommands addReportCommands(CLI::App& app, RawReportOptions& raw, Command& cmd) {
  ReportCommands commands;
#ifdef HARMIDEX_CLI_PICTURES
  commands.info = app.add_subcommand(
      "info", "Container, codec and audio track of a file, and its rate read through the module");
  commands.info->add_option("FILE", cmd.file, "Audio file")->required();
  commands.info->add_flag("--json", raw.json, "Print one JSON object");
  commands.spectrogram = addSpectrogram(app, cmd);
  commands.waveform = addWaveform(app, raw, cmd);
#else
  (void)app, (void)raw, (void)cmd;
#endif
  return commands;
}

std::string finishReportOptions(const CLI::App* chosen, const RawReportOptions& raw,
                                Command& cmd) {
  if (raw.format == "csv") cmd.format = Format::Csv;
  if (raw.format == "json") cmd.format = Format::Json;
  if (raw.json) cmd.format = Format::Json;
  PictureOptions& p = cmd.picture;
  if (raw.bits == "8") p.bits = 8;
  if (chosen->get_name() == "spectrogram" && cmd.normalized && p.scale == "db")
    return "spectrogram: --normalized multiplies the log values by each block's peak level, "
           "which leaves no level in dBFS; add --scale log-power";
  if (chosen->get_name() == "waveform" && p.pngPath.empty() && p.jsonPath.empty())
    return "waveform: give -o PNG, --json JSON, or both";
  return {};
}

}  // namespace hx::cli
