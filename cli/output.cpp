#include "cli/output.h"

#include <cinttypes>

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

bool writeLine(std::FILE* out, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out);
  std::fputc('\n', out);
  return std::ferror(out) == 0;
}

void useBinaryStandardStreams() {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
}

}  // namespace hx::cli
