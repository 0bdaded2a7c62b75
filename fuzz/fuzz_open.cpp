// libFuzzer target for opening a file through the FFmpeg media layer: the
// input is written to a file, which the reader opens, reads and closes.
// Whatever the bytes are, the open must answer 0 or an error code, reads
// must stay inside their buffers, and nothing may stay behind.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "audio/qt_file.h"
#include "media/ffmpeg_backend.h"
#include "media/memory_handle.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// A file per process, so that parallel jobs do not share it.
std::string gPath;

// Sounds of fuzzed files are kept small: the cap itself is tested elsewhere,
// and a run must not be ended by the fuzzer's memory limit.
constexpr uint32_t kFuzzSoundBytes = 16u << 20;

bool writeFile(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

void readBack(hx::zrQTfile& reader) {
  std::vector<int16_t> mono(4096);
  std::vector<int16_t> stereo(2 * 1024);
  (void)reader.getSampleRate();
  (void)reader.readFrames(mono.data(), hx::kFormatMono16, 0, 4096);
  (void)reader.readFrames(mono.data(), hx::kFormatMono16, -100, 4096);
  (void)reader.readFrames(stereo.data(), hx::kFormatStereo16, 1000, 1024);
  hx::SoundHeaderInfo info{};
  (void)reader.parseHeader(info);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::error_code ec;
  gPath = (std::filesystem::temp_directory_path(ec) /
           ("hx-fuzz-open-" + std::to_string(getpid()) + ".bin"))
              .string();
  hx::media::setSoundBytesLimit(kFuzzSoundBytes);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!writeFile(gPath, data, size)) __builtin_trap();
  {
    hx::zrQTfile reader(hx::media::ffmpegMediaOps());
    const int32_t error = reader.open(gPath.c_str());
    if ((error == 0) != reader.isOpen()) __builtin_trap();
    if (error == 0) readBack(reader);
    reader.close();
  }
  if (hx::zrQTfile::liveReaders() != 0 || hx::media::liveMovies() != 0 ||
      hx::media::liveHandles() != 0)
    __builtin_trap();
  std::remove(gPath.c_str());
  return 0;
}
