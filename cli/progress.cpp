#include "cli/progress.h"

#include <unistd.h>

namespace hx::cli {

namespace {
constexpr int kBarCells = 30;
}

Progress::Progress(std::FILE* stream, std::string label, int64_t total)
    : stream_(stream), label_(std::move(label)), total_(total),
      enabled_(total > 0 && isatty(fileno(stream)) == 1) {}

Progress::~Progress() {
  if (enabled_ && shown_ >= 0) {
    std::fputs("\r\033[K", stream_);
    std::fflush(stream_);
  }
}

void Progress::update(int64_t done) {
  if (!enabled_) return;
  const int percent = int(done * 100 / total_);
  if (percent == shown_) return;
  shown_ = percent;
  const int cells = percent * kBarCells / 100;
  std::fprintf(stream_, "\r%s [%s%s] %3d%%", label_.c_str(), std::string(cells, '#').c_str(),
               std::string(kBarCells - cells, ' ').c_str(), percent);
  std::fflush(stream_);
}

}  // namespace hx::cli
