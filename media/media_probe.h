// One way into a media file, for the module's FFmpeg layer and the command:
// the bounded container open, the track rule, the container's facts, and
// the exact number of frames the module's sound buffer holds for a file.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AVFormatContext;

namespace hx::media {

// Set (to anything but "0" or empty) in the environment, every track is
// decoded serially on the calling thread, as FFmpeg delivers it.
inline constexpr const char* kSerialDecodeVariable = "HARMIDEX_SERIAL_DECODE";

// Bounds on the demuxer's work. Probing reads at most kProbeBytes and
// analyses at most kAnalyzeMicroseconds of the streams; the open (format
// guess and stream analysis) must end within kOpenBudgetMs and the
// decoding of the track within kConvertBudgetMs. An ordinary file opens in
// well under a second and the largest track the sound cap allows decodes
// in about ten.
inline constexpr int64_t kProbeBytes = 5 << 20;
inline constexpr int64_t kAnalyzeMicroseconds = 5'000'000;
inline constexpr int64_t kOpenBudgetMs = 10'000;
inline constexpr int64_t kConvertBudgetMs = 60'000;

// FFmpeg asks this between reads; past the time set, or once *stop is
// true, it gives up the open or the read it is in. Bounds the demuxer's
// work on a file built to keep it busy (gigabytes of empty chunks after
// the data, say).
struct Deadline {
  using Clock = std::chrono::steady_clock;
  Clock::time_point end = Clock::time_point::max();
  const std::atomic<bool>* stop = nullptr;
  bool passed = false;

  void startNow(std::chrono::milliseconds budget);
  static int check(void* self);
};

enum class OpenResult { opened, timedOut, noMemory, notMedia };
class Container;

// Opens "file:" + path, so that a name with a colon is never taken as a
// protocol, with local files as the only protocol (a playlist cannot reach
// beyond them), the probe bounds above, and budget for the format guess
// and the stream analysis. *out holds the container only when opened.
OpenResult openContainer(const std::string& path, std::chrono::milliseconds budget, Container* out,
                         const std::atomic<bool>* stop = nullptr);

// An opened container and the deadline its reads answer to; closes it.
class Container {
 public:
  Container();
  ~Container();
  Container(Container&&) noexcept;
  Container& operator=(Container&&) noexcept;

  AVFormatContext* format() const { return format_.get(); }
  Deadline& deadline() { return *deadline_; }

 private:
  friend OpenResult openContainer(const std::string&, std::chrono::milliseconds, Container*,
                                  const std::atomic<bool>*);
  struct Closer {
    void operator()(AVFormatContext* f) const;
  };
  std::unique_ptr<Deadline> deadline_;  // outlives the context that calls it
  std::unique_ptr<AVFormatContext, Closer> format_;
};

// Audio streams in track order. With enabledOnly, those the container marks
// enabled (for QuickTime files the track-enabled flag, which FFmpeg reports
// as the default disposition), or all of them when it marks none. The
// track the module decodes is the first of audioStreams(f, true).
std::vector<int> audioStreams(const AVFormatContext* f, bool enabledOnly);

// Seconds of the stream as the container states them, or a negative
// number when it does not say.
double statedSeconds(const AVFormatContext* f, int stream);

// What a host's own media layer knows of a file without decoding it.
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
  double durationSeconds = -1.0;  // of the chosen track as stated; -1 when the container does not say
  int64_t frames = -1;            // durationSeconds at storedRate, rounded; -1 when unknown
};

// The container's headers and stream parameters; the track is not decoded.
// False with *error set when the container cannot be read.
bool probeMedia(const std::string& path, MediaFacts* facts, std::string* error);

// The frames the module's sound buffer holds for path: the chosen track
// decoded and resampled as the module does, at moduleRate (the rate the
// module reports; where it is not a whole number of Hz, the module's own
// choice of rate). False with *error set when the track cannot be decoded,
// or when *stop turns true.
bool countDecodedFrames(const std::string& path, double moduleRate, int64_t* frames,
                        std::string* error, const std::atomic<bool>* stop = nullptr);

// countDecodedFrames at the rate the module's FFmpeg layer chooses for the
// track, given in *rate: for a caller that starts counting before the
// module has said its rate.
bool countDecodedFramesAtOwnRate(const std::string& path, int64_t* frames, int* rate,
                                 std::string* error, const std::atomic<bool>* stop = nullptr);

}  // namespace hx::media
