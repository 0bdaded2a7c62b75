// The files the validator's calls open: a few small WAV files it writes
// itself, plus the caller's own.
#pragma once

#include <string>
#include <vector>

namespace hx::cli {

// Files the calls may open, and a folder of the caller's in which every
// other path a call names lies (logs and missing files land there).
struct CallFixtures {
  std::vector<std::string> files;
  std::string scratchDir;
};

// Writes a few small WAV files (mono, stereo, 8-bit, one frame, no frames,
// not audio at all) into dir; their paths, or empty when one cannot be written.
std::vector<std::string> writeFixtureFiles(const std::string& dir);

}  // namespace hx::cli
