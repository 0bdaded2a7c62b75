#include "cli/plot.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>

#include "cli/output.h"
#include "cli/png_file.h"

namespace hx::cli {
namespace {

constexpr double kTickLength = 5;
constexpr double kLabelSize = 11;
constexpr double kTitleSize = 13;
constexpr double kBarWidth = 16;
constexpr double kBarGap = 14;
constexpr double kTitlePadding = 8;  // each side of the title
// Fontconfig falls back from it to any installed font that has a glyph.
constexpr const char* kFontFamily = "DejaVu Sans";

struct GObjectUnref {
  void operator()(void* p) const { g_object_unref(p); }
};
using Layout = std::unique_ptr<PangoLayout, GObjectUnref>;

// One line of text in the family above, at size pixels, at most maxWidth
// pixels wide (0: no limit) with an ellipsis where the room ends.
Layout lineLayout(cairo_t* cr, const std::string& s, double size, double maxWidth,
                  PangoEllipsizeMode ellipsis) {
  Layout layout(pango_cairo_create_layout(cr));
  PangoFontDescription* font = pango_font_description_from_string(kFontFamily);
  pango_font_description_set_absolute_size(font, size * PANGO_SCALE);
  pango_layout_set_font_description(layout.get(), font);
  pango_font_description_free(font);
  pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
  // Pango draws nothing of a text that is not UTF-8; each bad byte becomes U+FFFD.
  gchar* valid = g_utf8_make_valid(s.data(), gssize(s.size()));
  pango_layout_set_text(layout.get(), valid, -1);
  g_free(valid);
  if (maxWidth > 0) {
    pango_layout_set_width(layout.get(), int(maxWidth * PANGO_SCALE));
    pango_layout_set_ellipsize(layout.get(), ellipsis);
  }
  return layout;
}

void setRgb(cairo_t* cr, uint32_t rgb) {
  cairo_set_source_rgb(cr, ((rgb >> 16) & 0xff) / 255.0, ((rgb >> 8) & 0xff) / 255.0,
                       (rgb & 0xff) / 255.0);
}

// Lines one pixel wide fall on pixel centres.
double crisp(double v) { return std::floor(v) + 0.5; }

}  // namespace

Canvas::Canvas(int32_t plotWidth, int32_t plotHeight, const Margins& margins)
    : plotWidth_(plotWidth), plotHeight_(plotHeight), margins_(margins) {
  surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, margins.left + plotWidth + margins.right,
                                        margins.top + plotHeight + margins.bottom);
  cr_ = cairo_create(surface_);
  cairo_set_source_rgb(cr_, 1, 1, 1);
  cairo_paint(cr_);
  cairo_set_line_width(cr_, 1);
}

Canvas::~Canvas() {
  cairo_destroy(cr_);
  cairo_surface_destroy(surface_);
}

bool Canvas::ok() const {
  return cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS &&
         cairo_status(cr_) == CAIRO_STATUS_SUCCESS;
}

void Canvas::text(double x, double y, const std::string& s, double alignX, double alignY,
                  double size, double maxWidth, bool ellipsizeMiddle) {
  const Layout layout = lineLayout(cr_, s, size, maxWidth,
                                   ellipsizeMiddle ? PANGO_ELLIPSIZE_MIDDLE : PANGO_ELLIPSIZE_END);
  PangoRectangle ink, logical;
  pango_layout_get_pixel_extents(layout.get(), &ink, &logical);
  cairo_move_to(cr_, x - logical.x - logical.width * alignX, y - logical.y - logical.height * alignY);
  pango_cairo_show_layout(cr_, layout.get());
}

void Canvas::title(const std::string& s) {
  cairo_set_source_rgb(cr_, 0, 0, 0);
  // A long file name gives way in its middle, so that the settings stay.
  text(width() / 2, margins_.top / 2, s, 0.5, 0.5, kTitleSize, width() - 2 * kTitlePadding, true);
}

void Canvas::timeAxis(double t0, double t1) {
  const std::vector<double> ticks = niceTicks(t0, t1, std::max(2, plotWidth_ / 90));
  const double step = tickStep(ticks);
  const double bottom = plotTop() + plotHeight_;
  cairo_set_source_rgb(cr_, 0, 0, 0);
  for (double t : ticks) {
    const double x = t1 > t0 ? plotLeft() + (t - t0) / (t1 - t0) * plotWidth_ : plotLeft();
    cairo_move_to(cr_, crisp(x), bottom);
    cairo_line_to(cr_, crisp(x), bottom + kTickLength);
    cairo_stroke(cr_);
    text(x, bottom + kTickLength + 3, tickLabel(t, step), 0.5, 0, kLabelSize);
  }
  text(plotLeft() + plotWidth_ / 2.0, bottom + kTickLength + 22, "time (s)", 0.5, 0, kLabelSize);
}

void Canvas::leftAxis(const std::vector<double>& ticks, const std::function<double(double)>& y,
                      const std::function<std::string(double)>& label, const std::string& name) {
  cairo_set_source_rgb(cr_, 0, 0, 0);
  for (double v : ticks) {
    const double py = y(v);
    if (py < plotTop() - 0.5 || py > plotTop() + plotHeight_ + 0.5) continue;
    cairo_move_to(cr_, plotLeft() - kTickLength, crisp(py));
    cairo_line_to(cr_, plotLeft(), crisp(py));
    cairo_stroke(cr_);
    text(plotLeft() - kTickLength - 3, py, label(v), 1, 0.5, kLabelSize);
  }
  cairo_save(cr_);
  cairo_translate(cr_, 14, plotTop() + plotHeight_ / 2.0);
  cairo_rotate(cr_, -M_PI / 2);
  text(0, 0, name, 0.5, 0.5, kLabelSize, plotHeight_);
  cairo_restore(cr_);
}

void Canvas::frame() {
  cairo_set_source_rgb(cr_, 0, 0, 0);
  cairo_rectangle(cr_, plotLeft() - 0.5, plotTop() - 0.5, plotWidth_ + 1, plotHeight_ + 1);
  cairo_stroke(cr_);
}

void Canvas::colourBar(const uint32_t* map, double lo, double hi, const std::string& name) {
  const double x = plotLeft() + plotWidth_ + kBarGap;
  const double h = plotHeight_;
  for (int32_t row = 0; row < plotHeight_; ++row) {
    const int index = std::clamp(int(std::lround((1.0 - (row + 0.5) / h) * 255.0)), 0, 255);
    setRgb(cr_, map[index]);
    cairo_rectangle(cr_, x, plotTop() + row, kBarWidth, 1);
    cairo_fill(cr_);
  }
  cairo_set_source_rgb(cr_, 0, 0, 0);
  cairo_rectangle(cr_, x - 0.5, plotTop() - 0.5, kBarWidth + 1, h + 1);
  cairo_stroke(cr_);
  const std::vector<double> ticks = niceTicks(lo, hi, std::max(2, plotHeight_ / 60));
  const double step = tickStep(ticks);
  for (double v : ticks) {
    if (v > hi) continue;
    const double py = plotTop() + h - (hi > lo ? (v - lo) / (hi - lo) : 0) * h;
    cairo_move_to(cr_, x + kBarWidth, crisp(py));
    cairo_line_to(cr_, x + kBarWidth + kTickLength, crisp(py));
    cairo_stroke(cr_);
    text(x + kBarWidth + kTickLength + 3, py, tickLabel(v, step), 0, 0.5, kLabelSize);
  }
  cairo_save(cr_);
  cairo_translate(cr_, width() - 12, plotTop() + h / 2);
  cairo_rotate(cr_, -M_PI / 2);
  text(0, 0, name, 0.5, 0.5, kLabelSize, plotHeight_);
  cairo_restore(cr_);
}

bool Canvas::writePng(const std::string& path, std::FILE* err) {
  return writePngFile(surface_, path, err);
}

int missingGlyphs(const std::string& s) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  cairo_t* cr = cairo_create(surface);
  int missing = 0;
  {
    const Layout layout = lineLayout(cr, s, kLabelSize, 0, PANGO_ELLIPSIZE_NONE);
    missing = pango_layout_get_unknown_glyphs_count(layout.get());
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  return missing;
}

void releaseFontCaches() {
  // Pango's fontconfig thread may hold the font map for a moment after the
  // last layout; cairo's and fontconfig's caches can go only once it is gone.
  static std::atomic<bool> finalized;
  finalized = false;
  PangoFontMap* map = pango_cairo_font_map_get_default();
  g_object_weak_ref(
      G_OBJECT(map), [](gpointer, GObject*) { finalized = true; }, nullptr);
  pango_cairo_font_map_set_default(nullptr);
  for (int ms = 0; !finalized && ms < 2000; ++ms) g_usleep(1000);
  if (!finalized) return;  // still in use: its memory stays reachable, not leaked
  cairo_debug_reset_static_data();
  FcFini();
}

std::vector<double> niceTicks(double lo, double hi, int count) {
  std::vector<double> ticks;
  if (!(hi > lo) || count < 1) {
    ticks.push_back(lo);
    return ticks;
  }
  const double raw = (hi - lo) / count;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = power;
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    step = m * power;
    if (step >= raw) break;
  }
  for (double k = std::ceil(lo / step - 1e-9); k * step <= hi + step * 1e-9; k += 1)
    ticks.push_back(k * step);
  return ticks;
}

double tickStep(const std::vector<double>& ticks) {
  return ticks.size() >= 2 ? ticks[1] - ticks[0] : 1.0;
}

std::string tickLabel(double x, double step) {
  int decimals = 0;
  while (decimals < 6 && std::fabs(step * std::pow(10.0, decimals) -
                                   std::round(step * std::pow(10.0, decimals))) > 1e-6)
    ++decimals;
  if (std::fabs(x) < step * 1e-6) x = 0;  // no "-0"
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, x);
  return buf;
}

}  // namespace hx::cli
