// The frame count on a thread of its own, beside the module's open.
#include "media/frame_count.h"

#include <cstdlib>
#include <thread>
#include <utility>

#include "media/media_probe.h"

namespace hx::media {

void leaveASecondCoreToTheCount() {
  if (std::thread::hardware_concurrency() <= 2) setenv(kSerialDecodeVariable, "1", /*overwrite=*/0);
}

BackgroundFrameCount::BackgroundFrameCount(std::string path)
    : path_(std::move(path)), thread_([this] {
        counted_.ok = countDecodedFramesAtOwnRate(path_, &counted_.frames, &counted_.rate,
                                                  &counted_.why, &stop_);
      }) {}

BackgroundFrameCount::~BackgroundFrameCount() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

bool BackgroundFrameCount::result(double moduleRate, int64_t* frames, std::string* why) {
  if (thread_.joinable()) thread_.join();
  if (answeredRate_ != moduleRate) {
    answeredRate_ = moduleRate;
    answeredWhy_.clear();
    if (!counted_.ok) {
      answeredOk_ = false;
      answeredWhy_ = counted_.why;
    } else if (double(counted_.rate) != moduleRate) {
      answeredOk_ = countDecodedFrames(path_, moduleRate, &answeredFrames_, &answeredWhy_);
    } else {
      answeredOk_ = true;
      answeredFrames_ = counted_.frames;
    }
  }
  if (!answeredOk_) {
    *why = answeredWhy_;
    return false;
  }
  *frames = answeredFrames_;
  return true;
}

}  // namespace hx::media
