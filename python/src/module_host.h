// The module inside a Python process: one host and one loaded module shared
// by every Sound, the lock that serialises entry into them, and a Sound's
// own script object with its open file.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/module.h"
#include "python/src/media_facts.h"

namespace hx::pyhost {

// The module and the host run on one thread at a time: their module-wide
// state has no locks. Every entry into either holds this.
std::mutex& moduleLock();

// harmidex.so by $HARMIDEX_MODULE, else beside this extension, else in the
// library folder of the installed layout.
std::string modulePath();

struct HostCounters {
  int64_t liveValues = 0;
  int64_t liveBlocks = 0;
  int64_t interfaceReferences = 0;
  int64_t protocolErrors = 0;
};
// Takes the lock.
HostCounters hostCounters();

// An open the module refused: its code (0 for an argument error) and text.
struct OpenFailure : std::runtime_error {
  OpenFailure(int32_t code, std::string text, std::string explanation, std::string path)
      : std::runtime_error(explanation), code(code), text(std::move(text)), path(std::move(path)) {}
  int32_t code;
  std::string text;
  std::string path;
};

// A method that answered 0: the module's error text.
struct MethodFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// getEqualizedFreqCount on a short-lived object. Takes the lock.
int32_t bandCount(int32_t bins);

// One open file on its own script object. Every method takes the lock
// itself; none may be called with the GIL held by a caller that waits on it.
class NativeSound {
 public:
  // Loads the module on first use and opens path (the file system's bytes),
  // probing the container on a second thread meanwhile.
  explicit NativeSound(const std::string& path);
  ~NativeSound();
  NativeSound(const NativeSound&) = delete;
  NativeSound& operator=(const NativeSound&) = delete;

  // Closes the file and destroys the object; a second call does nothing.
  void close();
  bool closed() const { return object_ == nullptr; }

  const std::string& path() const { return path_; }
  double rate() const { return rate_; }
  int64_t frames() const { return frames_; }
  const MediaSummary& media() const { return media_; }

  // getSamples of count frames from start, in calls of at most the
  // module's list cap. Throws MethodFailure with the module's text.
  std::vector<float> samples(int64_t start, int64_t count, double amplMax);
  // getAmplitude over the range, in the same chunks (the peak of peaks).
  double amplitude(int64_t start, int64_t count);
  std::vector<float> fft(int64_t start, int32_t bins, int32_t timesmooth, double amplMax,
                         bool normalized, bool equalized);
  // One getFFT per block start, taking the lock for each; the values column
  // after column, *rows per column. Throws before allocating past maxCells.
  std::vector<float> columns(const std::vector<int64_t>& starts, int32_t bins, int32_t timesmooth,
                             bool normalized, bool equalized, int64_t maxCells, int32_t* rows);

 private:
  void requireOpen() const;
  // One list-valued call under the lock already held, appended to out.
  void listCall(int32_t method, std::span<const HxValue> args, std::vector<float>& out);
  std::string lastError();

  std::string path_;
  std::unique_ptr<host::ScriptObject> object_;
  int32_t fileId_ = 0;
  double rate_ = 0;
  int64_t frames_ = -1;
  MediaSummary media_;
};

}  // namespace hx::pyhost
