// The exact frame count of a file taken beside the module's open: the
// command and the Python package start it before loading the module, so
// that the second decoding runs on the second core.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

namespace hx::media {

// A host that counts beside the module's open calls this first, while it
// runs one thread: on a machine of at most two cores the count takes the
// second core, so the module's media layer is asked (through its switch,
// unless the user has set it) to decode on one. Both decoding on two cores
// beside a count on one is slower than either alone.
void leaveASecondCoreToTheCount();

// Counts path's decoded frames on its own thread from construction;
// stopped and joined when dropped, so a failed open does not wait for it.
class BackgroundFrameCount {
 public:
  explicit BackgroundFrameCount(std::string path);
  ~BackgroundFrameCount();
  BackgroundFrameCount(const BackgroundFrameCount&) = delete;
  BackgroundFrameCount& operator=(const BackgroundFrameCount&) = delete;

  // The count at moduleRate (waiting for the thread; counted again when the
  // module reads at another rate than the one counted at). False with *why
  // set when the track does not decode. May be called more than once.
  bool result(double moduleRate, int64_t* frames, std::string* why);

 private:
  struct Counted {
    bool ok = false;
    int64_t frames = 0;
    int rate = 0;
    std::string why;
  };
  std::string path_;
  std::atomic<bool> stop_{false};
  Counted counted_;
  std::optional<double> answeredRate_;  // the rate of the last result
  bool answeredOk_ = false;
  int64_t answeredFrames_ = -1;
  std::string answeredWhy_;
  std::thread thread_;  // last: starts once the rest is made
};

}  // namespace hx::media
