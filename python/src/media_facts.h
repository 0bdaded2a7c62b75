// What Python's Sound knows of a file besides the module's rate: the
// container facts that `harmidex info` prints and the exact number of
// frames the module's sound buffer holds, as the command takes them.
#pragma once

#include <cstdint>
#include <string>

#include "media/frame_count.h"
#include "media/media_probe.h"

namespace hx::pyhost {

struct MediaSummary {
  bool probed = false;
  media::MediaFacts facts;
  int64_t frames = -1;  // the decoded track's frames at the module's rate; -1 when not counted
  std::string error;    // why the probe or the count failed, when one did
};

// Counts the decoded frames on its own thread, beside the module's open
// (stopped and joined when dropped, so a failed open does not wait for the
// count), and probes the container when asked for the result.
class MediaCount {
 public:
  explicit MediaCount(const std::string& path) : path_(path), count_(path) {}

  // Waits for the count; counts again when the module reads at another rate.
  MediaSummary result(double moduleRate);

 private:
  std::string path_;
  media::BackgroundFrameCount count_;
};

}  // namespace hx::pyhost
