// A file opened through the module for a picture or for info: the session,
// the rate the module reads it at, its exact length, and what the probe
// knows of it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/session.h"
#include "media/media_probe.h"

namespace hx::cli {

using media::MediaFacts;

struct OpenedFile {
  Session session;
  double rate = 0;  // getSampleRate
  MediaFacts facts;
  int64_t frames = -1;  // the frames the module holds, decoded and counted
};

// Loads the module, opens c.file as fileID 1, reads its rate, counts the
// frames it decodes (on a second thread beside the module's open) and
// probes it. False with the failure written to err.
bool openForPicture(const Command& c, OpenedFile* file, std::FILE* err);

// The frames a picture covers: [first, first + count).
struct FrameSpan {
  int64_t first = 0;
  int64_t count = 0;
};
// From --start and --duration; nullopt with the reason on err when
// nothing is left to draw.
std::optional<FrameSpan> spanOf(const PictureOptions& p, const OpenedFile& file, std::FILE* err);

// getSamples or getFFT on fileID 1; the list's floats, or nullopt with the
// module's text (after the option it names) on err, or what is not a float.
std::optional<std::vector<float>> callList(Session& session, const Command& c, int32_t method,
                                           const std::vector<Literal>& args, std::FILE* err);

// The file name without its folders, for titles: valid UTF-8 (see validUtf8).
std::string baseName(const std::string& path);

}  // namespace hx::cli
