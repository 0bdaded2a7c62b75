// How results are written. The texts depend only on the value the host
// holds, so every build prints the same bytes for the same result.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/host.h"

namespace hx::cli {

std::string formatFloat(double x);  // %.9g
std::string formatInteger(int32_t n);

// One line per element of a list, else one line; floats with %.9g,
// integers in decimal, anything else as a script console shows it.
std::vector<std::string> resultLines(const host::Host& host, const HxValue& result);

// text with each byte that is not part of a well-formed UTF-8 sequence
// replaced by U+FFFD, for drawing and for JSON.
std::string validUtf8(std::string_view text);
// The JSON members that name a file: "file" as validUtf8 gives it, and
// where that lost bytes, "path_bytes" with the exact bytes in hex.
std::vector<std::pair<std::string, std::string>> fileMembers(const std::string& path);

// Writes text plus "\n"; false when the stream reports a write error.
bool writeLine(std::FILE* out, const std::string& text);

// Runs write on out (standard output) and flushes it. False when write
// failed; when the stream failed, "harmidex: cannot write to standard
// output: reason" is on err, once.
bool writeStandardOutput(std::FILE* out, const std::function<bool(std::FILE*)>& write,
                         std::FILE* err);

// Line ends stay "\n" on Windows too: standard streams in binary mode.
void useBinaryStandardStreams();

}  // namespace hx::cli
