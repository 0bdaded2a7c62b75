// A progress bar on standard error for long jobs, drawn only when that
// stream is a terminal, so logs and pipes never see it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace hx::cli {

class Progress {
 public:
  Progress(std::FILE* stream, std::string label, int64_t total);
  ~Progress();  // clears the bar
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void update(int64_t done);

 private:
  std::FILE* stream_;
  std::string label_;
  int64_t total_;
  int shown_ = -1;  // percent last drawn
  bool enabled_;
};

}  // namespace hx::cli
