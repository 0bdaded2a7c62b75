// 8- and 16-bit PCM in WAV, AIFF and CAF files, read from the file straight
// into the sound buffer, without a decoder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "media/fast_decode.h"

namespace hx::media {

// Where a container keeps its sample bytes, by our own reading of its
// chunks: the first data chunk's payload (AIFF: after the SSND offset and
// block size; CAF: after the edit count), its length as the chunk states it
// (UINT64_MAX for a CAF chunk that runs to the end).
struct PcmDataChunk {
  uint64_t offset = 0;
  uint64_t bytes = 0;
};
// kind: "wav", "aiff" or "caf"; nullopt when the file is not laid out as
// that container or has no data chunk.
std::optional<PcmDataChunk> findPcmData(const std::string& path, const std::string& kind);

// The sound the serial decode would give, read straight from the file, or
// nullopt (out untouched) for anything but a plain 8- or 16-bit, mono or
// stereo, PCM track whose extent FFmpeg and our reading agree on.
std::optional<OSErr> readPcmDirect(const TrackSource& source, SoundWriter& out);

}  // namespace hx::media
