// The container probe, and the frame count taken on a thread beside the open.
#include "python/src/media_facts.h"

namespace hx::pyhost {

MediaSummary MediaCount::result(double moduleRate) {
  MediaSummary s;
  std::string why;
  if (!count_.result(moduleRate, &s.frames, &why)) {
    s.frames = -1;
    s.error = "cannot count the frames: " + why;
  }
  s.probed = media::probeMedia(path_, &s.facts, &why);
  if (!s.probed) s.error = "cannot probe the container: " + why;
  return s;
}

}  // namespace hx::pyhost
