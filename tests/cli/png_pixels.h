// A PNG the command wrote, read back into pixels for tests that look at it.
#pragma once

#include <cairo.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hx::test {

struct Png {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0xRRGGBB
  uint32_t at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
  double luminance(int x, int y) const {
    const uint32_t p = at(x, y);
    return 0.2126 * ((p >> 16) & 0xff) + 0.7152 * ((p >> 8) & 0xff) + 0.0722 * (p & 0xff);
  }
  bool dark(int x, int y) const {
    const uint32_t p = at(x, y);
    return ((p >> 16) & 0xff) + ((p >> 8) & 0xff) + (p & 0xff) < 3 * 128;
  }
};

// Width and height 0 when the file is not a PNG cairo reads.
inline Png readPng(const std::string& path) {
  Png png;
  cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
    png.width = cairo_image_surface_get_width(s);
    png.height = cairo_image_surface_get_height(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < png.height; ++y)
      for (int x = 0; x < png.width; ++x)
        png.pixels.push_back(reinterpret_cast<const uint32_t*>(data + y * stride)[x] & 0xffffff);
  }
  cairo_surface_destroy(s);
  return png;
}

}  // namespace hx::test
