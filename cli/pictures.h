// The commands for people: info, spectrogram and waveform. Each loads the
// module, opens the file through it and takes every number it shows from
// its methods; the container facts come from a probe of the file.
#pragma once

#include <cstdio>

#include "cli/options.h"

namespace hx::cli {

int runInfo(const Command& c, std::FILE* out, std::FILE* err);
int runSpectrogram(const Command& c, std::FILE* out, std::FILE* err);
int runWaveform(const Command& c, std::FILE* out, std::FILE* err);

}  // namespace hx::cli
