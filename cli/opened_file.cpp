#include "cli/opened_file.h"

#include <cmath>
#include <filesystem>

#include "cli/call_line.h"
#include "cli/commands.h"
#include "cli/open_file.h"
#include "cli/option_numbers.h"
#include "cli/output.h"
#include "cli/pictures.h"
#include "media/frame_count.h"

namespace hx::cli {

bool openForPicture(const Command& c, OpenedFile* file, std::FILE* err) {
  media::leaveASecondCoreToTheCount();
  media::BackgroundFrameCount count(c.file);
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
  if (!count.result(file->rate, &file->frames, &why)) {
    writeLine(err, "harmidex: cannot count the frames of " + c.file + ": " + why);
    return false;
  }
  return true;
}

struct TrackLength::Counting {
  explicit Counting(const std::string& path) : count(path) {}
  media::BackgroundFrameCount count;
};

TrackLength::TrackLength(const std::string& path) {
  media::leaveASecondCoreToTheCount();
  counting_ = std::make_unique<Counting>(path);
}
TrackLength::~TrackLength() = default;

int64_t TrackLength::frames(double rate) {
  int64_t frames = -1;
  std::string why;
  return counting_->count.result(rate, &frames, &why) ? frames : -1;
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
