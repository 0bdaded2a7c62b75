#include "cli/png_file.h"

#include <cerrno>

#include "cli/output.h"
#include "cli/output_file.h"

namespace hx::cli {
namespace {

struct PngStream {
  std::FILE* file;
  int error = 0;  // errno of the first failed write
};

cairo_status_t writeBytes(void* closure, const unsigned char* data, unsigned int length) {
  auto* stream = static_cast<PngStream*>(closure);
  if (std::fwrite(data, 1, length, stream->file) == length) return CAIRO_STATUS_SUCCESS;
  if (stream->error == 0) stream->error = errno;
  return CAIRO_STATUS_WRITE_ERROR;
}

}  // namespace

bool writePngFile(cairo_surface_t* surface, const std::string& path, std::FILE* err) {
  cairo_surface_flush(surface);
  return writeWhole(
      path,
      [&](std::FILE* file) {
        PngStream stream{file};
        const cairo_status_t s = cairo_surface_write_to_png_stream(surface, writeBytes, &stream);
        if (s == CAIRO_STATUS_SUCCESS) return true;
        errno = stream.error;  // libpng's clean-up may have changed it
        if (stream.error == 0)
          writeLine(err, "harmidex: cannot write " + path + ": " + cairo_status_to_string(s));
        return false;
      },
      err);
}

}  // namespace hx::cli
