#include "support/log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

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

// Opening the log empties its file, so only a file we wrote (or an empty
// one) may be opened. Anything we cannot read counts as foreign.
Existing inspect(const char* path) {
  errno = 0;
  std::FILE* file = std::fopen(path, "rb");
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
  std::FILE* file = std::fopen(gLogPath, "w");
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

  std::FILE* file = std::fopen(gLogPath, "a");
  if (file == nullptr) return;
  std::fputs(gLine, file);
  std::fputc('\n', file);
  std::fflush(file);
  std::fclose(file);
}

bool LogIsOn() { return gLogOn; }

}  // namespace hx
