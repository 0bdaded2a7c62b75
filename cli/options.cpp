#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <string>

#include "cli/literals.h"
#include "cli/report_options.h"

namespace hx::cli {
namespace {

// Numbers are taken as text and checked here rather than by the library,
// which would also read hex and octal ("010" as 8).
const CLI::Validator kInt32Check(
    [](std::string& text) {
      return parseInt32(text) ? std::string() : "'" + text + "' is not a 32-bit integer";
    },
    "", "int32");

const CLI::Validator kFloatCheck(
    [](std::string& text) {
      return parseFloat(text) ? std::string() : "'" + text + "' is not a finite decimal number";
    },
    "", "float");

const char kCallSyntax[] =
    "Each line is methodName(arg, ...) with one of the methods new, openQuicktimeFile,\n"
    "closeFile, getSamples, getAmplitude, getFFT, getSampleRate, getEqualizedFreqCount,\n"
    "getError; `me` is not written. Arguments are integers (42, -7), floats (0.5, 1e-3)\n"
    "or double-quoted strings with the escapes \\\" \\\\ \\n \\t. Blank lines and lines\n"
    "starting with -- are skipped. Each call prints its result as a script console\n"
    "shows it: 42, 0.5, \"text\" (with the same escapes), [1, 2], or <void> when the\n"
    "method wrote none.";

// Texts of the options as given; converted once parsing has succeeded.
struct RawOptions {
  std::string start, count, bins, timesmooth, amplMax, nbbins;
};

CLI::Option* intOption(CLI::App* app, const char* name, std::string& text, const char* help) {
  return app->add_option(name, text, help)->type_name("INT")->check(kInt32Check);
}

CLI::Option* amplOption(CLI::App* app, std::string& text, const char* help) {
  return app->add_option("--ampl-max", text, help)->type_name("FLOAT")->check(kFloatCheck);
}

CLI::Option* fileArgument(CLI::App* app, std::string& file) {
  return app->add_option("FILE", file, "Audio file")->required();
}

bool given(const CLI::App* app, const char* name) {
  const CLI::Option* option = app->get_option_no_throw(name);
  return option != nullptr && option->count() > 0;
}

std::optional<int32_t> intIfGiven(const CLI::App* app, const char* name, const std::string& text) {
  if (!given(app, name)) return std::nullopt;
  return parseInt32(text);
}

void writeText(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

// The library leaves the last line of a footer open.
void writeHelp(std::FILE* stream, std::string text) {
  if (text.empty() || text.back() != '\n') text += '\n';
  writeText(stream, text);
}

}  // namespace

ParseOutcome parseCommandLine(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  Command cmd;
  RawOptions raw;
  RawReportOptions report;
  CLI::App app("Reads audio files through the Harmidex module: samples, peak level, spectra.",
               "harmidex");
  app.set_version_flag("--version", std::string("harmidex ") + HARMIDEX_VERSION);
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 done; 1 the module answered 0 or could not open the file or be loaded\n"
      "(its error text on standard error); 2 usage error; 3 call --check-leaks found leaks.");
  app.fallthrough();
  app.add_option("--module", cmd.modulePath,
                 "Module to load (default: the harmidex module next to this program, else the installed one)")
      ->type_name("PATH");

  CLI::App* fft =
      app.add_subcommand("fft", "Spectrum of a block of frames (getFFT), one value per line");
  fileArgument(fft, cmd.file);
  intOption(fft, "--start", raw.start, "First frame (default 0)");
  intOption(fft, "--bins", raw.bins, "Number of bins, a power of two (default 256)");
  intOption(fft, "--timesmooth", raw.timesmooth, "Segments averaged (default 1)");
  amplOption(fft, raw.amplMax, "Gain (default 1.0)");
  fft->add_flag("--normalized", cmd.normalized, "Scale by the block's peak level");
  fft->add_flag("--equalized", cmd.equalized, "Fold the bins into octave bands");
  addFormatOptions(fft, report, cmd);

  CLI::App* samples =
      app.add_subcommand("samples", "Samples of a range of frames (getSamples), one per line");
  fileArgument(samples, cmd.file);
  intOption(samples, "--start", raw.start, "First frame")->required();
  intOption(samples, "--count", raw.count, "Number of frames")->required();
  amplOption(samples, raw.amplMax, "Value of full scale (default 1.0)");
  addFormatOptions(samples, report, cmd);

  CLI::App* amplitude =
      app.add_subcommand("amplitude", "Peak level of a range of frames (getAmplitude)");
  fileArgument(amplitude, cmd.file);
  intOption(amplitude, "--start", raw.start, "First frame")->required();
  intOption(amplitude, "--count", raw.count, "Number of frames")->required();
  addFormatOptions(amplitude, report, cmd);

  CLI::App* rate = app.add_subcommand("rate", "Sample rate of a file (getSampleRate)");
  fileArgument(rate, cmd.file);
  addFormatOptions(rate, report, cmd);

  CLI::App* bands =
      app.add_subcommand("bands", "Number of octave bands of a spectrum (getEqualizedFreqCount)");
  intOption(bands, "N", raw.nbbins, "Number of bins")->required();

  CLI::App* call = app.add_subcommand(
      "call", "Runs a call script, one methodName(arg, ...) per line, printing each result");
  call->add_option("SCRIPT", cmd.file, "Script file (default or '-': standard input)");
  call->footer(kCallSyntax);
  call->add_flag("--check-leaks", cmd.checkLeaks,
                 "Exit with 3 if the host still counts a value, block or misuse at the end");

  const ReportCommands reports = addReportCommands(app, report, cmd, raw.bins, raw.timesmooth);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    writeHelp(out, app.help());
    return {std::nullopt, kExitOk};
  } catch (const CLI::CallForAllHelp&) {
    writeHelp(out, app.help("", CLI::AppFormatMode::All));
    return {std::nullopt, kExitOk};
  } catch (const CLI::CallForVersion& e) {
    writeText(out, std::string(e.what()) + "\n");
    return {std::nullopt, kExitOk};
  } catch (const CLI::ParseError& e) {
    writeText(err, std::string("harmidex: ") + e.what() +
                       "\nRun with --help for more information.\n");
    return {std::nullopt, kExitUsage};
  }

  const CLI::App* chosen = app.get_subcommands().front();
  if (chosen == fft) cmd.action = Action::Fft;
  else if (chosen == samples) cmd.action = Action::Samples;
  else if (chosen == amplitude) cmd.action = Action::Amplitude;
  else if (chosen == rate) cmd.action = Action::Rate;
  else if (chosen == bands) cmd.action = Action::Bands;
  else if (chosen == reports.info) cmd.action = Action::Info;
  else if (chosen == reports.spectrogram) cmd.action = Action::Spectrogram;
  else if (chosen == reports.waveform) cmd.action = Action::Waveform;
  else cmd.action = Action::Call;

  cmd.start = intIfGiven(chosen, "--start", raw.start);
  cmd.count = intIfGiven(chosen, "--count", raw.count);
  cmd.bins = intIfGiven(chosen, "--bins", raw.bins);
  cmd.timesmooth = intIfGiven(chosen, "--timesmooth", raw.timesmooth);
  if (given(chosen, "--ampl-max")) cmd.amplMax = parseFloat(raw.amplMax);
  if (cmd.action == Action::Bands) cmd.nbbins = parseInt32(raw.nbbins).value_or(0);
  if (const std::string usage = finishReportOptions(chosen, report, cmd); !usage.empty()) {
    writeText(err, "harmidex: " + usage + "\nRun with --help for more information.\n");
    return {std::nullopt, kExitUsage};
  }
  return {cmd, kExitOk};
}

}  // namespace hx::cli
