// The command line: subcommands, their options, and the usage errors.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace hx::cli {

// Exit statuses, part of the command's contract.
enum ExitStatus : int {
  kExitOk = 0,
  kExitFailure = 1,  // the module answered 0 (or a failed open), or it could not be loaded
  kExitUsage = 2,    // bad command line or call line
  kExitLeaks = 3,    // call --check-leaks: the host still counts something
};

enum class Action { Fft, Samples, Amplitude, Rate, Bands, Call, Info, Spectrogram, Waveform };

// How fft, samples, amplitude and rate print their result.
enum class Format { Text, Csv, Json };

// Options of the picture commands (spectrogram, waveform); 0 or absent: the default.
struct PictureOptions {
  std::string pngPath;   // -o
  std::string jsonPath;  // waveform --json
  std::optional<double> startSeconds;
  std::optional<double> durationSeconds;
  int32_t width = 0;   // of the plot, in pixels
  int32_t height = 0;  // of the plot, in pixels
  std::optional<int32_t> hop;  // spectrogram: frames between columns
  bool logFreq = false;
  std::string colourMap = "viridis";
  std::string scale = "db";       // spectrogram: db or log-power
  std::optional<double> rangeDb;  // spectrogram: dB below 0 dBFS shown
  std::optional<double> pixelsPerSecond;  // waveform
  std::optional<int32_t> samplesPerPixel;
  int32_t bits = 16;  // waveform JSON: 8 or 16
};

struct Command {
  Action action = Action::Call;
  std::string modulePath;  // empty: next to the executable
  std::string file;        // the audio file; for call the script ("" or "-": standard input)
  // Options given on the command line; absent ones keep the module's defaults.
  std::optional<int32_t> start;
  std::optional<int32_t> count;
  std::optional<int32_t> bins;
  std::optional<int32_t> timesmooth;
  std::optional<double> amplMax;
  bool normalized = false;
  bool equalized = false;
  int32_t nbbins = 0;  // bands
  bool checkLeaks = false;
  Format format = Format::Text;
  bool table = false;  // aligned columns with units instead of one value per line
  PictureOptions picture;
};

struct ParseOutcome {
  std::optional<Command> command;  // absent: nothing to run, exit with exitStatus
  int exitStatus = kExitOk;
};

// Help and version go to out, usage errors to err.
ParseOutcome parseCommandLine(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

}  // namespace hx::cli
