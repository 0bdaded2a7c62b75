// A cairo surface written as a PNG file, whole or not at all.
#pragma once

#include <cairo.h>

#include <cstdio>
#include <string>

namespace hx::cli {

// False, once "harmidex: cannot write PATH: reason" is on err, when the
// PNG cannot be written; path "-" is standard output.
bool writePngFile(cairo_surface_t* surface, const std::string& path, std::FILE* err);

}  // namespace hx::cli
