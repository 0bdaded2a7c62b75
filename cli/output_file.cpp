#include "cli/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/output.h"

namespace hx::cli {
namespace {

std::string reason(int error) { return error != 0 ? std::strerror(error) : "the write failed"; }

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string refusedFolder(const std::string& folder) {
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0) {
    const int error = errno;
    if (error == ENOENT) return reason(error) + ": the folder " + folder + " does not exist";
    return reason(error) + ": the folder " + folder;
  }
  if (!S_ISDIR(st.st_mode)) return reason(ENOTDIR) + ": " + folder + " is not a folder";
  if (access(folder.c_str(), W_OK | X_OK) != 0)
    return reason(errno) + ": cannot make a file in the folder " + folder;
  return {};
}

std::string kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// Where the rename lands: a link is followed, so the file it names is
// replaced and the link stays.
std::string finalPath(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string target = resolved;
  std::free(resolved);
  return target;
}

// The mode a plain creation would give, or the replaced file's own.
mode_t modeFor(const std::string& target) {
  struct stat st {};
  if (stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// A temporary file beside the destination that is removed unless kept.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target)
      : name_(folderOf(target) + "/." + nameOf(target) + ".harmidex-XXXXXX") {
    const int fd = mkstemp(name_.data());
    if (fd < 0) {
      error_ = errno;
      name_.clear();
      return;
    }
    fchmod(fd, modeFor(target));
    stream_ = fdopen(fd, "wb");
    if (stream_ == nullptr) {
      error_ = errno;
      close(fd);
    }
  }
  ~TemporaryFile() {
    if (stream_ != nullptr) std::fclose(stream_);
    if (!name_.empty()) unlink(name_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  std::FILE* stream() const { return stream_; }
  int error() const { return error_; }

  // Flushes the data to the disk and renames the file to target; errno on failure.
  int keepAs(const std::string& target) {
    if (std::fflush(stream_) != 0 || fsync(fileno(stream_)) != 0) return errno;
    std::FILE* stream = stream_;
    stream_ = nullptr;
    if (std::fclose(stream) != 0) return errno;
    if (std::rename(name_.c_str(), target.c_str()) != 0) return errno;
    name_.clear();
    // The new name itself reaches the disk with the folder.
    const int folder = open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
      fsync(folder);
      close(folder);
    }
    return 0;
  }

 private:
  std::string name_;
  std::FILE* stream_ = nullptr;
  int error_ = 0;
};

bool failed(std::FILE* err, const std::string& path, const std::string& why) {
  writeLine(err, "harmidex: cannot write " + path + ": " + why);
  return false;
}

}  // namespace

std::string refusedDestination(const std::string& path) {
  if (path == kStandardOutput) return {};
  if (path.empty()) return "an empty file name";
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return path + " is " + kindOf(st.st_mode) + ", not a regular file";
    if (access(path.c_str(), W_OK) != 0) return reason(errno) + ": " + path + " is not writable";
    return {};
  }
  if (errno != ENOENT) return reason(errno) + ": " + path;
  return refusedFolder(folderOf(path));
}

bool destinationsAccepted(std::initializer_list<std::string> paths, std::FILE* err) {
  int toStandardOutput = 0;
  for (const std::string& path : paths) {
    if (path.empty()) continue;
    if (path == kStandardOutput && ++toStandardOutput > 1)
      return failed(err, path, "only one output can go to standard output");
    if (const std::string why = refusedDestination(path); !why.empty())
      return failed(err, path, why);
  }
  return true;
}

bool writeWhole(const std::string& path, const std::function<bool(std::FILE*)>& write,
                std::FILE* err) {
  // A file-size limit is then a failed write with its reason, not a kill.
  std::signal(SIGXFSZ, SIG_IGN);
  if (path == kStandardOutput) {
    return writeStandardOutput(stdout, write, err);
  }
  if (const std::string why = refusedDestination(path); !why.empty()) return failed(err, path, why);
  const std::string target = finalPath(path);
  TemporaryFile file(target);
  if (file.stream() == nullptr)
    return failed(err, path, reason(file.error()) + ": cannot make a file in " + folderOf(target));
  errno = 0;
  if (!write(file.stream()))
    return std::ferror(file.stream()) == 0 ? false : failed(err, path, reason(errno));
  if (const int error = file.keepAs(target); error != 0) return failed(err, path, reason(error));
  return true;
}

}  // namespace hx::cli
