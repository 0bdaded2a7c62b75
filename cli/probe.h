// What a host's own media layer knows of a file without decoding it: a
// libavformat probe of the container. The module reports none of this
// (it has no duration or frame count method).
#pragma once

#include <cstdint>
#include <string>

namespace hx::cli {

struct MediaFacts {
  std::string container;      // libavformat's short name ("wav", "mov,mp4,m4a,3gp,3g2,mj2")
  std::string containerLong;  // its description
  int audioTracks = 0;
  int videoTracks = 0;
  int trackNumber = 0;   // 1-based among the audio tracks; 0 when there is none
  int streamIndex = -1;  // of the chosen track in the container
  std::string codec;
  std::string codecLong;
  int channels = 0;
  int storedRate = 0;             // samples per second as stored
  double durationSeconds = -1.0;  // of the chosen track; -1 when the container does not say
  int64_t frames = -1;            // durationSeconds at storedRate, rounded; -1 when unknown
};

// False with *error set when libavformat cannot read the container.
bool probeMedia(const std::string& path, MediaFacts* facts, std::string* error);

}  // namespace hx::cli
