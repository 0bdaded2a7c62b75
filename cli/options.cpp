#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <string>
#include <vector>

#include "cli/option_numbers.h"
#include "cli/report_options.h"
#include "cli/validate.h"
#include "script/method_facts.h"

namespace hx::cli {
namespace {

// The footer of `harmidex call --help`: the syntax of a line, with the
// method names from the module's own table.
std::string callSyntax() {
  std::string text = "Each line is methodName(arg, ...) with one of the methods";
  size_t column = text.size();
  for (size_t i = 0; i < hx::kMethodNames.size(); ++i) {
    const std::string name =
        std::string(hx::kMethodNames[i]) + (i + 1 < hx::kMethodNames.size() ? "," : ";");
    if (column + 1 + name.size() > 80) {
      text += "\n" + name;
      column = name.size();
    } else {
      text += " " + name;
      column += 1 + name.size();
    }
  }
  return text +
         " `me` is not written.\nArguments are integers (42, -7), floats (0.5, 1e-3)"
         " or double-quoted strings with the\nescapes \\\" \\\\ \\n \\t. Blank lines and lines"
         " starting with -- are skipped. Each call\nprints its result as a script console shows"
         " it: 42, 0.5, \"text\" (with the same\nescapes), [1, 2], or <void> when the method"
         " wrote none.";
}

CLI::Option* fileArgument(CLI::App* app, std::string& file) {
  return app->add_option("FILE", file, "Audio file")->required();
}

void addFft(CLI::App& app, RawReportOptions& report, Command& cmd) {
  CLI::App* fft =
      app.add_subcommand("fft", "Spectrum of a block of frames (getFFT), one value per line");
  fileArgument(fft, cmd.file);
  addNumber(fft, "--start", cmd.start, kAnyInt32, "First frame (default 0)");
  addNumber(fft, "--bins", cmd.bins, kAnyInt32, "Number of bins, a power of two (default 256)");
  addNumber(fft, "--timesmooth", cmd.timesmooth, kAnyInt32, "Segments averaged (default 1)");
  addNumber(fft, "--ampl-max", cmd.amplMax, kAnyFloat, "Gain (default 1.0)");
  fft->add_flag("--normalized", cmd.normalized, "Scale by the block's peak level");
  fft->add_flag("--equalized", cmd.equalized, "Fold the bins into octave bands");
  addFormatOptions(fft, report, cmd);
}

// The frames samples and amplitude read: [--start, --start + --count).
void addFrameRange(CLI::App* sub, Command& cmd) {
  addNumber(sub, "--start", cmd.start, kAnyInt32, "First frame")->required();
  addNumber(sub, "--count", cmd.count, kAnyInt32, "Number of frames")->required();
}

void addSamples(CLI::App& app, RawReportOptions& report, Command& cmd) {
  CLI::App* samples =
      app.add_subcommand("samples", "Samples of a range of frames (getSamples), one per line");
  fileArgument(samples, cmd.file);
  addFrameRange(samples, cmd);
  addNumber(samples, "--ampl-max", cmd.amplMax, kAnyFloat, "Value of full scale (default 1.0)");
  addFormatOptions(samples, report, cmd);
}

void addAmplitude(CLI::App& app, RawReportOptions& report, Command& cmd) {
  CLI::App* amplitude =
      app.add_subcommand("amplitude", "Peak level of a range of frames (getAmplitude)");
  fileArgument(amplitude, cmd.file);
  addFrameRange(amplitude, cmd);
  addFormatOptions(amplitude, report, cmd);
}

void addRate(CLI::App& app, RawReportOptions& report, Command& cmd) {
  CLI::App* rate = app.add_subcommand("rate", "Sample rate of a file (getSampleRate)");
  fileArgument(rate, cmd.file);
  addFormatOptions(rate, report, cmd);
}

void addBands(CLI::App& app, Command& cmd) {
  CLI::App* bands =
      app.add_subcommand("bands", "Number of octave bands of a spectrum (getEqualizedFreqCount)");
  addNumber(bands, "N", cmd.nbbins, kAnyInt32, "Number of bins")->required();
}

void addCall(CLI::App& app, Command& cmd) {
  CLI::App* call = app.add_subcommand(
      "call", "Runs a call script, one methodName(arg, ...) per line, printing each result");
  call->add_option("SCRIPT", cmd.file, "Script file (default or '-': standard input)");
  call->footer(callSyntax());
  call->add_flag("--check-leaks", cmd.checkLeaks,
                 "Exit with 3 if the host still counts a value, block or misuse at the end");
}

Action actionOf(const std::string& name) {
  static const std::pair<const char*, Action> kActions[] = {
      {"fft", Action::Fft},     {"samples", Action::Samples}, {"amplitude", Action::Amplitude},
      {"rate", Action::Rate},   {"bands", Action::Bands},     {"info", Action::Info},
      {"spectrogram", Action::Spectrogram}, {"waveform", Action::Waveform}};
  for (const auto& [word, action] : kActions)
    if (name == word) return action;
  return Action::Call;
}

// Edits that turn one word into the other (insert, delete, replace).
size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string firstWord(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--module") {
      ++i;
      continue;
    }
    if (a.rfind("-", 0) == 0) continue;
    return a;
  }
  return {};
}

namespace {

// The first word, when it names no subcommand; empty otherwise.
std::string unknownSubcommand(const CLI::App& app, int argc, const char* const* argv) {
  const std::string word = firstWord(argc, argv);
  if (word.empty()) return {};
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
    if (sub->get_name() == word) return {};
  return word;
}

std::string nearestSubcommand(const CLI::App& app, const std::string& word) {
  std::vector<std::string> names = {kValidateCommand};
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
    names.push_back(sub->get_name());
  std::string best;
  size_t bestDistance = SIZE_MAX;
  for (const std::string& name : names) {
    const size_t d = editDistance(word, name);
    if (d < bestDistance) best = name, bestDistance = d;
  }
  return best;
}

void writeText(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

// The library leaves the last line of a footer open.
void writeHelp(std::FILE* stream, std::string text) {
  if (text.empty() || text.back() != '\n') text += '\n';
  writeText(stream, text);
}

ParseOutcome usageError(std::FILE* err, const std::string& text) {
  writeText(err, "harmidex: " + text + "\nRun with --help for more information.\n");
  return {std::nullopt, kExitUsage};
}

}  // namespace

ParseOutcome parseCommandLine(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  Command cmd;
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
  addFft(app, report, cmd);
  addSamples(app, report, cmd);
  addAmplitude(app, report, cmd);
  addRate(app, report, cmd);
  addBands(app, cmd);
  addCall(app, cmd);
  addReportCommands(app, report, cmd);

  if (const std::string word = unknownSubcommand(app, argc, argv); !word.empty())
    return usageError(err, "'" + word + "' is not a subcommand; did you mean '" +
                               nearestSubcommand(app, word) + "'?");
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
    return usageError(err, e.what());
  }

  const CLI::App* chosen = app.get_subcommands().front();
  cmd.action = actionOf(chosen->get_name());
  if (const std::string usage = finishReportOptions(chosen, report, cmd); !usage.empty())
    return usageError(err, usage);
  return {cmd, kExitOk};
}

}  // namespace hx::cli
