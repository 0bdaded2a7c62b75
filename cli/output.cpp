#include "cli/output.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace hx::cli {

std::string formatFloat(double x) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.9g", x);
  return buf;
}

std::string formatInteger(int32_t n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%" PRId32, n);
  return buf;
}

namespace {

std::string scalarText(const host::Host& host, const HxValue& v) {
  if (auto x = host.floatOf(v)) return formatFloat(*x);
  if (auto n = host.integerOf(v)) return formatInteger(*n);
  return host.format(v);
}

}  // namespace

std::vector<std::string> resultLines(const host::Host& host, const HxValue& result) {
  std::vector<std::string> lines;
  if (host.typeOf(result) != HX_TYPE_LIST) {
    lines.push_back(scalarText(host, result));
    return lines;
  }
  for (const HxValue& element : host.elementsOf(result)) lines.push_back(scalarText(host, element));
  return lines;
}

namespace {

// The length of the well-formed UTF-8 sequence at text[i], or 0.
size_t sequenceLength(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, low = lead == 0xE0 ? 0xA0 : 0x80,
                                         high = lead == 0xED ? 0x9F : 0xBF;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, low = lead == 0xF0 ? 0x90 : 0x80,
                                         high = lead == 0xF4 ? 0x8F : 0xBF;
  else return 0;
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k)
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  return length;
}

}  // namespace

std::string validUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = sequenceLength(text, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> fileMembers(const std::string& path) {
  std::vector<std::pair<std::string, std::string>> members = {{"file", validUtf8(path)}};
  if (members[0].second == path) return members;
  std::string hex;
  for (unsigned char c : path) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", c);
    hex += digits;
  }
  members.emplace_back("path_bytes", hex);
  return members;
}

bool writeLine(std::FILE* out, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out);
  std::fputc('\n', out);
  return std::ferror(out) == 0;
}

bool writeStandardOutput(std::FILE* out, const std::function<bool(std::FILE*)>& write,
                         std::FILE* err) {
  errno = 0;
  const bool written = write(out);
  int error = errno;  // of the failed write, before anything else can change it
  if (std::fflush(out) != 0 && error == 0) error = errno;
  if (std::ferror(out) == 0) return written;
  writeLine(err, std::string("harmidex: cannot write to standard output: ") +
                     (error != 0 ? std::strerror(error) : "the write failed"));
  std::clearerr(out);  // said once
  return false;
}

void useBinaryStandardStreams() {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
}

}  // namespace hx::cli
