#include "cli/opened_file.h"

#include <atomic>
#include <cmath>
#include <filesystem>
#include <thread>

#include "cli/call_line.h"
#include "cli/commands.h"
#include "cli/open_file.h"
#include "cli/option_numbers.h"
#include "cli/output.h"
#include "cli/pictures.h"

namespace hx::cli {

namespace {

// Counts the frames of a file on its own thread; stopped and joined when
// dropped, so a failed open does not wait for the count.
class FrameCount {
 public:
  explicit FrameCount(const std::string& path)
      : thread_([this, path] {
          ok_ = media::countDecodedFramesAtOwnRate(path, &frames_, &rate_, &why_, &stop_);
        }) {}
  ~FrameCount() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  FrameCount(const FrameCount&) = delete;
  FrameCount& operator=(const FrameCount&) = delete;

  // The count at moduleRate; false with *why set when there is none.
  bool result(const std::string& path, double moduleRate, int64_t* frames, std::string* why) {
    thread_.join();
    if (!ok_) {
      *why = why_;
      return false;
    }
    // Counted at another rate than the module reads at: count at its own.
    if (double(rate_) != moduleRate) return media::countDecodedFrames(path, moduleRate, frames, why);
    *frames = frames_;
    return true;
  }

 private:
  std::atomic<bool> stop_{false};
  bool ok_ = false;
  int64_t frames_ = 0;
  int rate_ = 0;
  std::string why_;
  std::thread thread_;  // last: starts once the rest is made
};

}  // namespace

bool openForPicture(const Command& c, OpenedFile* file, std::FILE* err) {
  FrameCount count(c.file);
  if (!startSession(file->session, c, err)) return false;
  if (!openFirstFile(file->session, c.file, err)) return false;
  std::vector<Literal> args;
  args.emplace_back(kFirstFileId);
  OwnedValue rate = file->session.call(methodId("getSampleRate"), args);
  const auto x = file->session.host().floatOf(rate.get());
  if (!x || *x <= 0) {
    writeLine(err, "harmidex: getSampleRate gave no rate for " + c.file + ": " +
                       file->session.lastError());
    return false;
  }
  file->rate = *x;
  std::string why;
  if (!media::probeMedia(c.file, &file->facts, &why)) {
    writeLine(err, "harmidex: cannot probe the container of " + c.file + ": " + why);
    return false;
  }
  if (!count.result(c.file, file->rate, &file->frames, &why)) {
    writeLine(err, "harmidex: cannot count the frames of " + c.file + ": " + why);
    return false;
  }
  return true;
}

struct TrackLength::Counting {
  explicit Counting(const std::string& p) : count(p), path(p) {}
  FrameCount count;
  std::string path;
  std::optional<int64_t> frames;  // once joined
};

TrackLength::TrackLength(const std::string& path) : counting_(std::make_unique<Counting>(path)) {}
TrackLength::~TrackLength() = default;

int64_t TrackLength::frames(double rate) {
  if (!counting_->frames) {
    int64_t frames = -1;
    std::string why;
    counting_->frames = counting_->count.result(counting_->path, rate, &frames, &why) ? frames : -1;
  }
  return *counting_->frames;
}

std::optional<FrameSpan> spanOf(const PictureOptions& p, const OpenedFile& file, std::FILE* err) {
  // The module addresses frames with 32-bit numbers.
  const auto first = roundedWithin(p.startSeconds.value_or(0.0) * file.rate, 0, INT32_MAX);
  if (!first) {
    writeLine(err, "harmidex: --start " + formatFloat(*p.startSeconds) +
                       ": past the last frame the module can read (" +
                       std::to_string(INT32_MAX) + ")");
    return std::nullopt;
  }
  FrameSpan span;
  span.first = *first;
  if (file.frames >= 0 && span.first >= file.frames) {
    writeLine(err, "harmidex: --start " + formatFloat(p.startSeconds.value_or(0.0)) +
                       ": at or past the end of the track (" + std::to_string(file.frames) +
                       " frames, " + formatFloat(double(file.frames) / file.rate) + " s)");
    return std::nullopt;
  }
  if (p.durationSeconds) {
    const auto count = roundedWithin(*p.durationSeconds * file.rate, 0, INT32_MAX - span.first);
    if (!count) {
      writeLine(err, "harmidex: --duration " + formatFloat(*p.durationSeconds) +
                         ": reaches past the last frame the module can read (" +
                         std::to_string(INT32_MAX) + ")");
      return std::nullopt;
    }
    span.count = *count;
  } else {
    span.count = file.frames - span.first;
  }
  if (span.count <= 0) {
    writeLine(err, "harmidex: nothing to draw: --duration is 0");
    return std::nullopt;
  }
  return span;
}

std::optional<std::vector<float>> callList(Session& session, const Command& c, int32_t method,
                                           const std::vector<Literal>& args, std::FILE* err) {
  OwnedValue result = session.call(method, args);
  host::Host& host = session.host();
  if (host.typeOf(result.get()) != HX_TYPE_LIST) {
    writeLine(err, methodFailureText(c, session.lastError()));
    return std::nullopt;
  }
  const std::optional<std::vector<double>> exact = listFloats(host, method, result.get(), err);
  if (!exact) return std::nullopt;
  // The module's floats are 32-bit values widened to doubles: exact.
  return std::vector<float>(exact->begin(), exact->end());
}

std::string baseName(const std::string& path) {
  const std::string name = std::filesystem::path(path).filename().string();
  return validUtf8(name.empty() ? path : name);
}

}  // namespace hx::cli
