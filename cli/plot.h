// Drawing the frame of a picture with cairo, text laid out by Pango: title, axes with ticks and
// labels, colour bar, and writing the PNG.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cli/picture_limits.h"

namespace hx::cli {

// A picture: an RGB image of plot size plus margins, white background.
class Canvas {
 public:
  Canvas(int32_t plotWidth, int32_t plotHeight, const Margins& margins);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  bool ok() const;  // false when cairo could not make the surface
  cairo_t* cr() { return cr_; }
  double plotLeft() const { return margins_.left; }
  double plotTop() const { return margins_.top; }
  double plotWidth() const { return plotWidth_; }
  double plotHeight() const { return plotHeight_; }
  double width() const { return margins_.left + plotWidth_ + margins_.right; }

  // Title centred above the plot.
  void title(const std::string& text);
  // Time axis under the plot, from t0 to t1 seconds.
  void timeAxis(double t0, double t1);
  // A vertical axis left of the plot: ticks at the given values, placed by
  // y (a value to a picture row), labelled by label, with the axis name.
  void leftAxis(const std::vector<double>& ticks, const std::function<double(double)>& y,
                const std::function<std::string(double)>& label, const std::string& name);
  // A black frame around the plot.
  void frame();
  // A vertical colour bar right of the plot for values from lo to hi.
  void colourBar(const uint32_t* map, double lo, double hi, const std::string& name);

  // False, once "harmidex: cannot write PATH: why" is on err, when the
  // file cannot be written.
  bool writePng(const std::string& path, std::FILE* err);

 private:
  // One line laid out by Pango, aligned on (x, y) by the fractions alignX and
  // alignY of its size; at most maxWidth wide (0: no limit), ellipsized at
  // the end or in the middle.
  void text(double x, double y, const std::string& s, double alignX, double alignY, double size,
            double maxWidth = 0, bool ellipsizeMiddle = false);

  int32_t plotWidth_, plotHeight_;
  Margins margins_;
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
};

// The characters of s that no installed font can draw.
int missingGlyphs(const std::string& s);

// Frees Pango's, cairo's and fontconfig's process-wide caches, so that leak checks
// see only our own memory. Call once every picture is gone.
void releaseFontCaches();

// Round tick values (1, 2 or 5 times a power of ten) between lo and hi,
// about `count` of them.
std::vector<double> niceTicks(double lo, double hi, int count);
// The step between ticks, for choosing how many decimals a label needs.
double tickStep(const std::vector<double>& ticks);
// x with as many decimals as the step needs.
std::string tickLabel(double x, double step);

}  // namespace hx::cli
