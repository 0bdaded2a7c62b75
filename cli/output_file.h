// Files the command writes: standard output for "-", else a temporary file
// beside the destination, renamed into place once it is whole, so a reader
// never sees half a file and a failed write leaves the old one.
#pragma once

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>

namespace hx::cli {

// The name that means standard output.
inline constexpr const char* kStandardOutput = "-";

// Empty when path may be written: "-", a regular file (or a link to one),
// or a new name in an existing folder. Otherwise why not, with the
// system's reason first ("Not a directory: ..."). Blocks on nothing.
std::string refusedDestination(const std::string& path);

// refusedDestination for every non-empty path, before any work: false
// with "harmidex: cannot write PATH: reason" on err for the first refused
// one, or when more than one of them is standard output.
bool destinationsAccepted(std::initializer_list<std::string> paths, std::FILE* err);

// Runs write on a stream for path and puts the result in place. False,
// once "harmidex: cannot write PATH: reason" is on err, when anything
// failed; then no file is left but the one that was there before.
// When write returns false with no error on the stream, it has said why.
bool writeWhole(const std::string& path, const std::function<bool(std::FILE*)>& write,
                std::FILE* err);

}  // namespace hx::cli
