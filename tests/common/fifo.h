// A FIFO for tests that a path is never opened in a way that blocks, and a
// runner that gets a blocked call unstuck instead of hanging the test.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>

namespace hx::test {

class Fifo {
 public:
  explicit Fifo(std::string path) : path_(std::move(path)) { made_ = mkfifo(path_.c_str(), 0600) == 0; }
  ~Fifo() { unlink(path_.c_str()); }
  Fifo(const Fifo&) = delete;
  Fifo& operator=(const Fifo&) = delete;

  bool made() const { return made_; }
  const std::string& path() const { return path_; }

  // Runs fn on a thread. True when it ends within limit; otherwise the
  // FIFO is opened from the other side (read and write, so a blocked
  // reader or writer wakes, then sees the end) until fn ends, and false.
  bool endsWithoutBlocking(std::function<void()> fn,
                           std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) const {
    std::packaged_task<void()> task(std::move(fn));
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    const bool prompt = done.wait_for(limit) == std::future_status::ready;
    while (done.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
      const int fd = ::open(path_.c_str(), O_RDWR | O_NONBLOCK);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (fd >= 0) ::close(fd);
    }
    runner.join();
    return prompt;
  }

 private:
  std::string path_;
  bool made_ = false;
};

}  // namespace hx::test
