// How results are written. The texts depend only on the value the host
// holds, so every build prints the same bytes for the same result.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/host.h"

namespace hx::cli {

std::string formatFloat(double x);  // %.9g
std::string formatInteger(int32_t n);

// One line per element of a list, else one line; floats with %.9g,
// integers in decimal, anything else as a script console shows it.
std::vector<std::string> resultLines(const host::Host& host, const HxValue& result);

// Writes text plus "\n"; false when the stream reports a write error.
bool writeLine(std::FILE* out, const std::string& text);

// Line ends stay "\n" on Windows too: standard streams in binary mode.
void useBinaryStandardStreams();

}  // namespace hx::cli
