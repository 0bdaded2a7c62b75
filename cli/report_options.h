// Command-line options of the output formats and of the commands for
// people: info, spectrogram and waveform.
#pragma once

#include <string>

#include "cli/options.h"

namespace CLI {
class App;
}

namespace hx::cli {

// Option texts as given, read by finishReportOptions once parsing has succeeded.
struct RawReportOptions {
  std::string format = "text";
  bool json = false;  // info --json
  std::string bits = "16";  // waveform --bits, one of two words
};

struct ReportCommands {
  CLI::App* info = nullptr;
  CLI::App* spectrogram = nullptr;
  CLI::App* waveform = nullptr;
};

// --format text|csv|json and --table.
void addFormatOptions(CLI::App* app, RawReportOptions& raw, Command& cmd);

// The subcommands, where this build has them (null where not).
ReportCommands addReportCommands(CLI::App& app, RawReportOptions& raw, Command& cmd);

// Completes cmd from the word options of the chosen subcommand; a usage
// error's text, or empty.
std::string finishReportOptions(const CLI::App* chosen, const RawReportOptions& raw, Command& cmd);

}  // namespace hx::cli
