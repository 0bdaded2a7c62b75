// harmidex info: the container facts from the probe beside the rate the
// module reads and the frames it holds, so a difference between the two
// shows (the duration the container states, say, against the decoded one).
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "cli/opened_file.h"
#include "cli/output.h"
#include "cli/pictures.h"

namespace hx::cli {
namespace {

std::string number(double x, const char* format) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, x);
  return buf;
}

std::string withLong(const std::string& name, const std::string& description) {
  return description.empty() ? name : name + " (" + description + ")";
}

bool writeText(std::FILE* out, const std::string& path, const OpenedFile& f) {
  const MediaFacts& m = f.facts;
  std::vector<std::pair<std::string, std::string>> rows = {
      {"file", validUtf8(path)},
      {"container", withLong(m.container, m.containerLong)},
      {"audio track", std::to_string(m.trackNumber) + " of " + std::to_string(m.audioTracks) +
                          " (stream " + std::to_string(m.streamIndex) + ")"},
      {"video tracks", std::to_string(m.videoTracks)},
      {"codec", withLong(m.codec, m.codecLong)},
      {"channels", std::to_string(m.channels)},
      {"stored rate", std::to_string(m.storedRate) + " Hz"},
      {"rate read", formatFloat(f.rate) + " Hz (getSampleRate)"},
      {"duration", number(double(f.frames) / f.rate, "%.3f") + " s"},
      {"frames", std::to_string(f.frames)},
      {"stated", m.durationSeconds >= 0 ? number(m.durationSeconds, "%.3f") + " s" : "unknown"},
  };
  size_t width = 0;
  for (const auto& row : rows) width = std::max(width, row.first.size());
  bool ok = true;
  for (const auto& [key, value] : rows)
    ok = writeLine(out, key + ":" + std::string(width + 2 - key.size(), ' ') + value) && ok;
  return ok;
}

bool writeJson(std::FILE* out, const std::string& path, const OpenedFile& f) {
  const MediaFacts& m = f.facts;
  nlohmann::json doc = {
      {"container", m.container},
      {"container_long", m.containerLong},
      {"audio_tracks", m.audioTracks},
      {"video_tracks", m.videoTracks},
      {"track", m.trackNumber},
      {"stream_index", m.streamIndex},
      {"codec", m.codec},
      {"codec_long", m.codecLong},
      {"channels", m.channels},
      {"stored_rate_hz", m.storedRate},
      {"sample_rate_hz", f.rate},
      {"duration_s", double(f.frames) / f.rate},
      {"frames", f.frames},
      {"stated_duration_s", m.durationSeconds >= 0 ? nlohmann::json(m.durationSeconds) : nullptr},
  };
  for (const auto& [key, value] : fileMembers(path)) doc[key] = value;
  return writeLine(out, doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace));
}

}  // namespace

int runInfo(const Command& c, std::FILE* out, std::FILE* err) {
  OpenedFile file;
  if (!openForPicture(c, &file, err)) return kExitFailure;
  const bool ok = c.format == Format::Json ? writeJson(out, c.file, file)
                                           : writeText(out, c.file, file);
  return ok ? kExitOk : kExitFailure;
}

}  // namespace hx::cli
