// The commands for people: info, spectrogram and waveform. Each loads the
// module, opens the file through it and takes every number it shows from
// its methods; the container facts come from a probe of the file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/options.h"

namespace hx::cli {

int runInfo(const Command& c, std::FILE* out, std::FILE* err);
int runSpectrogram(const Command& c, std::FILE* out, std::FILE* err);
int runWaveform(const Command& c, std::FILE* out, std::FILE* err);

// The length of path's track in frames at the module's rate, as a picture
// takes it (OpenedFile::frames); -1 when unknown or in builds without a probe.
int64_t trackFrames(const std::string& path, double rate);

}  // namespace hx::cli
