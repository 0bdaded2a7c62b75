// What Python's Sound knows of a file besides the module's rate: the
// container facts that `harmidex info` prints and the frame count that the
// command's pictures use. The one place that says where they come from.
#pragma once

#include <cstdint>
#include <string>

#include "cli/probe.h"

namespace hx::pyhost {

struct MediaSummary {
  bool probed = false;
  std::string error;  // why the probe failed, when it did
  cli::MediaFacts facts;
};

// The container probe; runs on its own thread beside the module's open.
MediaSummary probeSummary(const std::string& path);

// The file's length in frames at the module's rate; -1 when unknown.
int64_t framesAtRate(const MediaSummary& summary, double moduleRate);

}  // namespace hx::pyhost
