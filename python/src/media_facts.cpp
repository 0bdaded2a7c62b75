// The container probe and the frame count, on a thread beside the open.
#include "python/src/media_facts.h"

namespace hx::pyhost {

MediaCount::MediaCount(const std::string& path)
    : path_(path), thread_([this] {
        std::string why;
        counted_ = media::countDecodedFramesAtOwnRate(path_, &summary_.frames, &rate_, &why, &stop_);
        if (!counted_) summary_.error = "cannot count the frames: " + why;
        if (stop_) return;
        summary_.probed = media::probeMedia(path_, &summary_.facts, &why);
        if (!summary_.probed) summary_.error = "cannot probe the container: " + why;
      }) {}

MediaCount::~MediaCount() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

MediaSummary MediaCount::result(double moduleRate) {
  if (thread_.joinable()) thread_.join();
  MediaSummary s = summary_;
  if (!counted_) {
    s.frames = -1;
    return s;
  }
  // Counted at another rate than the module reads at: count at its own.
  if (double(rate_) != moduleRate) {
    std::string why;
    if (!media::countDecodedFrames(path_, moduleRate, &s.frames, &why)) {
      s.frames = -1;
      s.error = "cannot count the frames: " + why;
    }
  }
  return s;
}

}  // namespace hx::pyhost
