// Builds without FFmpeg and cairo (the Windows command) have no picture
// commands; the command line never offers them there.
#include "cli/output.h"
#include "cli/pictures.h"

namespace hx::cli {
namespace {

int absent(std::FILE* err) {
  writeLine(err, "harmidex: this build has no info, spectrogram or waveform command");
  return kExitUsage;
}

}  // namespace

int runInfo(const Command&, std::FILE*, std::FILE* err) { return absent(err); }
int runSpectrogram(const Command&, std::FILE*, std::FILE* err) { return absent(err); }
int runWaveform(const Command&, std::FILE*, std::FILE* err) { return absent(err); }
struct TrackLength::Counting {};
TrackLength::TrackLength(const std::string&) {}
TrackLength::~TrackLength() = default;
int64_t TrackLength::frames(double) { return -1; }

}  // namespace hx::cli
