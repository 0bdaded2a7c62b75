// The reader's platform operations on native builds, served by FFmpeg
// (ffmpegMediaOps(), which the native module hands the reader at load).
//
// What the backend makes of the operations:
// - FSSpec records name an entry of a backend-side table of paths;
//   reference numbers name a checked, readable regular file.
// - A movie is the opened container, held in a registry by number. It is
//   released by DisposeMovie, or already when PutMovieIntoTypedHandle
//   returns (its decoder state is no longer needed); what is left at unload
//   (or at releaseMovies) goes then.
// - The movie time scale is kMovieTimeScale units per second.
// - Conversion decodes the track into the handle as a 'snd ' resource of
//   interleaved 16-bit samples in host order ('sowt' on little-endian
//   hosts): mono and stereo stay as they are, more channels are mixed down
//   to stereo, rates above 65535 Hz are resampled to 48000 Hz.
//   Undecodable packets are skipped; a track of which nothing decodes
//   fails with codecErr.
//
// Codes: paramErr (empty path, bad arguments), fnfErr (no such file),
// bdNamErr (a path too long for the system), dirNFErr (a path that does not
// resolve: a symlink loop), permErr (not readable), notAFileErr (a
// directory, FIFO, device or other non-file, found without blocking),
// invalidMovie (not a media file), invalidTrack (no audio track),
// cantFindHandler (no decoder), codecErr (decoding failed), memFullErr
// (memory short), soundTooLargeErr (the decoded track would pass
// kMaxSoundBytes or 2^31 - 1 frames), openTimedOutErr (opening took longer
// than kOpenBudgetMs, or the conversion longer than kConvertBudgetMs).
// Containers are opened, and their track chosen, as media_probe.h does.
#pragma once

#include <chrono>
#include <cstdint>

#include "audio/media_ops.h"
#include "media/media_probe.h"

namespace hx::media {

inline constexpr int32_t kMovieTimeScale = 600;

// The operations' table; lives as long as the process.
const MediaOps& ffmpegMediaOps();

// Movies made and neither converted nor disposed of, for leak tests.
int64_t liveMovies();
// Releases every movie still held.
void releaseMovies();
// Largest sound resource a conversion may make, in bytes (default and
// maximum: kMaxSoundBytes). For tests of the too-large path.
void setSoundBytesLimit(uint32_t bytes);
uint32_t soundBytesLimit();
// The two deadlines (defaults kOpenBudgetMs, kConvertBudgetMs). For tests.
void setOpenBudgets(std::chrono::milliseconds open, std::chrono::milliseconds convert);

}  // namespace hx::media
