// One open audio file: the whole first enabled audio track converted at
// open into an in-memory sound resource, served from memory afterwards.
#pragma once

#include <cstdint>

#include "audio/media_ops.h"
#include "audio/sample_format.h"

namespace hx {

// The header values a read needs, parsed afresh from the sound buffer each time.
struct SoundHeaderInfo {
  OSType format;  // encoding code
  int16_t numChannels;
  int16_t sampleSize;
  UnsignedFixed sampleRate;
  uint32_t numFrames;
  uint32_t dataOffset;
};

class zrQTfile {
 public:
  // With moduleMediaOps(), or with a table of the caller's.
  zrQTfile();
  explicit zrQTfile(const MediaOps& ops);
  ~zrQTfile();
  zrQTfile(const zrQTfile&) = delete;
  zrQTfile& operator=(const zrQTfile&) = delete;

  // 0, or an error code (platform codes widened with their sign). A failed
  // open keeps nothing it made but, after a failed header parse, the buffer.
  int32_t open(const char* path);
  int32_t readFormat();
  // Frames per second; 0.0 without a sound buffer or a readable header.
  double getSampleRate();
  // Reads count frames from start into destination (count x
  // frameBytes(destinationFormat) bytes, zero-filled first). Frames outside
  // the file read as zeros; a negative start puts frame 0 at destination
  // frame 0. 0 or an error code.
  int32_t readFrames(void* destination, SoundFormat destinationFormat, int32_t start,
                     int32_t count);
  // Releases the sound buffer and the movie; safe to call any number of times.
  void close();

  SoundFormat format = kFormatNone;

  // The sound buffer's header values (frame count, rate, encoding...):
  // 0, errNotInitialized without a buffer, or the platform's parse error.
  int32_t parseHeader(SoundHeaderInfo& info);

  bool isOpen() const { return soundBuffer_ != nullptr; }
  // Readers alive in the process, for tests that check none is left behind.
  static int64_t liveReaders();

 private:
  int32_t openMovie(const char* path);
  int32_t convertTrack();
  void releaseMovie();

  const MediaOps* ops_;
  Movie movie_ = nullptr;
  Track track_ = nullptr;
  Handle soundBuffer_ = nullptr;
};

}  // namespace hx
