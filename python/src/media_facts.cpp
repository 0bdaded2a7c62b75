// The container probe and the frame count, as the command takes them.
#include "python/src/media_facts.h"

#include <cmath>

namespace hx::pyhost {

MediaSummary probeSummary(const std::string& path) {
  MediaSummary s;
  s.probed = cli::probeMedia(path, &s.facts, &s.error);
  return s;
}

int64_t framesAtRate(const MediaSummary& summary, double moduleRate) {
  if (!summary.probed || summary.facts.durationSeconds < 0 || !(moduleRate > 0)) return -1;
  return std::llround(summary.facts.durationSeconds * moduleRate);
}

}  // namespace hx::pyhost
