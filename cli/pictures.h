// The commands for people: info, spectrogram and waveform. Each loads the
// module, opens the file through it and takes every number it shows from
// its methods; the container facts come from a probe of the file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "cli/options.h"

namespace hx::cli {

int runInfo(const Command& c, std::FILE* out, std::FILE* err);
int runSpectrogram(const Command& c, std::FILE* out, std::FILE* err);
int runWaveform(const Command& c, std::FILE* out, std::FILE* err);

// The length of path's track in frames at the module's rate, as a picture
// takes it (OpenedFile::frames): counted on a second thread from
// construction, beside the module's open. frames() gives -1 when the track
// does not decode, and always in builds without a probe.
class TrackLength {
 public:
  explicit TrackLength(const std::string& path);
  ~TrackLength();
  TrackLength(const TrackLength&) = delete;
  TrackLength& operator=(const TrackLength&) = delete;
  int64_t frames(double rate);

 private:
  struct Counting;
  std::unique_ptr<Counting> counting_;
};

}  // namespace hx::cli
