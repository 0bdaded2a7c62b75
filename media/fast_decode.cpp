// Choosing between the fast paths and the serial decode; the second demuxer.
#include "media/fast_decode.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "media/parallel_decode.h"
#include "media/pcm_direct.h"

namespace hx::media {
namespace {

struct Settings {
  std::mutex lock;
  DecodeTuning tuning;
};
Settings& settings() {
  static Settings s;
  return s;
}
std::atomic<DecodePath> gLastPath{DecodePath::serial};

DecodeTuning currentTuning() {
  Settings& s = settings();
  std::lock_guard<std::mutex> hold(s.lock);
  DecodeTuning t = s.tuning;
  const char* forced = std::getenv(kSerialDecodeVariable);
  if (forced != nullptr && *forced != '\0' && std::strcmp(forced, "0") != 0) t.serial = true;
  return t;
}

}  // namespace

void setDecodeTuning(const DecodeTuning& tuning) {
  Settings& s = settings();
  std::lock_guard<std::mutex> hold(s.lock);
  s.tuning = tuning;
}

DecodePath lastDecodePath() { return gLastPath.load(); }

std::string pathOfMovie(const AVFormatContext* movie) {
  const std::string url = movie->url == nullptr ? "" : movie->url;
  return url.rfind("file:", 0) == 0 ? url.substr(5) : url;
}

OSErr SecondInput::open(const AVFormatContext* movie, Clock::time_point deadline) {
  using std::chrono::milliseconds;
  // What is left of the conversion's time; the bound above only keeps the
  // opener's arithmetic from overflowing on a deadline that never comes.
  const milliseconds budget = std::clamp(std::chrono::ceil<milliseconds>(deadline - Clock::now()),
                                         milliseconds(0), milliseconds(std::chrono::hours(24)));
  switch (openContainer(pathOfMovie(movie), budget, &container_)) {
    case OpenResult::opened:
      container_.deadline().end = deadline;  // the reads answer to the conversion's own
      return noErr;
    case OpenResult::timedOut:
      return openTimedOutErr;
    case OpenResult::noMemory:
      return memFullErr;
    case OpenResult::notMedia:
      break;
  }
  return invalidMovie;
}

std::optional<OSErr> decodeFast(const TrackSource& source, SoundWriter& out) {
  gLastPath = DecodePath::serial;
  const DecodeTuning tuning = currentTuning();
  if (tuning.serial || !out.keepsAll() || out.configured()) return std::nullopt;
  std::optional<OSErr> result = readPcmDirect(source, out);
  if (result) {
    gLastPath = DecodePath::pcmDirect;
    return result;
  }
  result = decodeInPieces(source, tuning, out);
  if (result) gLastPath = DecodePath::parallel;
  return result;
}

}  // namespace hx::media
