// Compressed tracks decoded in pieces on several threads, for the codecs
// whose decoder state is fully rebuilt by a few packets (see prerollRule).
#pragma once

#include <optional>

#include "media/fast_decode.h"

namespace hx::media {

// How far before a cut a piece starts decoding, its output there dropped:
// at least `packets` packets holding at least `bytes` bytes. Null for a
// decoder whose tracks are decoded serially.
struct PrerollRule {
  int packets;
  int bytes;
};
const PrerollRule* prerollRule(const AVCodec* decoder);

// The serial decode's sound, from pieces decoded in parallel, or nullopt
// (out untouched) where the track or its codec cannot be cut exactly.
std::optional<OSErr> decodeInPieces(const TrackSource& source, const DecodeTuning& tuning,
                                    SoundWriter& out);

}  // namespace hx::media
