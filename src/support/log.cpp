#include "support/log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace hx {
namespace {

// Module-wide log state, owned by this file. Set at load; touched only from
// the host's thread, so it is left unguarded.
bool gLogOn = false;
char gLogPath[1024] = "";
char gLine[1024] = "";

constexpr char kStartLine[] = "riRuzovEri log start";
constexpr size_t kStartLength = sizeof kStartLine - 1;

enum class Existing { kAbsent, kOurs, kForeign };

// True when head (n bytes) is our start line, ended by a line feed in
// either text-mode form or by the end of the file.
bool startsWithOurLine(const char* head, size_t n) {
  if (n < kStartLength || std::memcmp(head, kStartLine, kStartLength) != 0) return false;
  if (n == kStartLength) return true;
  if (head[kStartLength] == '\n') return true;
  return head[kStartLength] == '\r' && (n == kStartLength + 1 || head[kStartLength + 1] == '\n');
}

#ifndef _WIN32
// The log may only be a regular file: a FIFO or a device would block the
// host's thread, or swallow lines. Opened without blocking, checked before
// anything is read, written or emptied.
std::FILE* openRegular(const char* path, int flags, const char* mode) {
  const int fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, flags & O_APPEND) != 0) {
    ::close(fd);
    errno = EINVAL;
    return nullptr;
  }
  std::FILE* file = fdopen(fd, mode);
  if (file == nullptr) ::close(fd);
  return file;
}
std::FILE* openForReading(const char* path) { return openRegular(path, O_RDONLY, "rb"); }
std::FILE* openEmptied(const char* path) {
  std::FILE* file = openRegular(path, O_WRONLY | O_CREAT, "w");
  if (file != nullptr && ftruncate(fileno(file), 0) != 0) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}
std::FILE* openForAppending(const char* path) {
  return openRegular(path, O_WRONLY | O_CREAT | O_APPEND, "a");
}
#else
std::FILE* openForReading(const char* path) { return std::fopen(path, "rb"); }
std::FILE* openEmptied(const char* path) { return std::fopen(path, "w"); }
std::FILE* openForAppending(const char* path) { return std::fopen(path, "a"); }
#endif

// Opening the log empties its file, so only a file we wrote (or an empty
// one) may be opened. Anything we cannot read, or that is not a regular
// file, counts as foreign.
Existing inspect(const char* path) {
  errno = 0;
  std::FILE* file = openForReading(path);
  if (file == nullptr) return errno == ENOENT ? Existing::kAbsent : Existing::kForeign;
  char head[kStartLength + 2];
  const size_t n = std::fread(head, 1, sizeof head, file);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return Existing::kForeign;
  if (n == 0 || startsWithOurLine(head, n)) return Existing::kOurs;
  return Existing::kForeign;
}

void switchOff() {
  gLogOn = false;
  gLogPath[0] = '\0';
}

}  // namespace

void OpenLog(const char* path) {
  switchOff();
  if (path == nullptr || path[0] == '\0') return;
  // A longer path cannot be kept whole; cutting it would log somewhere else.
  const size_t length = std::strlen(path);
  if (length >= sizeof gLogPath) return;
  if (inspect(path) == Existing::kForeign) return;

  std::memcpy(gLogPath, path, length + 1);
  gLogOn = true;
  // A file that cannot be created leaves logging on; lines are dropped
  // until it can be.
  std::FILE* file = openEmptied(gLogPath);
  if (file == nullptr) return;
  std::fputs(kStartLine, file);
  std::fputc('\n', file);
  std::fflush(file);
  std::fclose(file);
}

void LogLine(const char* format, ...) {
  if (!gLogOn || format == nullptr) return;
  va_list args;
  va_start(args, format);
  // A longer line is cut to the buffer.
  const int written = std::vsnprintf(gLine, sizeof gLine, format, args);
  va_end(args);
  if (written < 0) return;
  gLine[sizeof gLine - 1] = '\0';

  std::FILE* file = openForAppending(gLogPath);
  if (file == nullptr) return;
  std::fputs(gLine, file);
  std::fputc('\n', file);
  std::fflush(file);
  std::fclose(file);
}

bool LogIsOn() { return gLogOn; }

}  // namespace hx
