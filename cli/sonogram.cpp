// harmidex spectrogram: one getFFT call per picture column, drawn with a
// perceptual colour map, time and frequency axes and a colour bar.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "cli/call_line.h"
#include "cli/colour_maps.h"
#include "cli/decibels.h"
#include "cli/formats.h"
#include "cli/open_file.h"
#include "cli/opened_file.h"
#include "cli/output.h"
#include "cli/output_file.h"
#include "cli/pictures.h"
#include "cli/plot.h"
#include "cli/progress.h"

namespace hx::cli {
namespace {

// At most this many floats of analysed values are held for one picture.
constexpr int64_t kMaxCells = int64_t(1) << 25;

struct Plan {
  int32_t bins = kSpectrogramBins;
  int32_t timesmooth = kDefaultTimesmooth;
  int32_t columns = 0;
  int32_t width = 0;   // of the plot
  int32_t height = 0;  // of the plot
  double hop = 0;      // frames between column starts
  FrameSpan span;
  double rate = 0;
  double binHz = 0;  // rate / 2m
};

bool makePlan(const Command& c, const OpenedFile& file, const FrameSpan& span, Plan* plan,
              std::FILE* err) {
  const PictureOptions& p = c.picture;
  plan->bins = c.bins.value_or(kSpectrogramBins);
  plan->timesmooth = c.timesmooth.value_or(kDefaultTimesmooth);
  plan->span = span;
  plan->rate = file.rate;
  plan->binHz = binFrequency(1, plan->bins, file.rate);
  plan->height = p.height > 0 ? p.height : kSpectrogramHeight;
  if (p.hop) {
    const int64_t columns = (span.count + *p.hop - 1) / *p.hop;
    if (columns > kMaxColumns) {
      writeLine(err, "harmidex: --hop " + std::to_string(*p.hop) + " makes " +
                         std::to_string(columns) + " columns, more than " +
                         std::to_string(kMaxColumns) + "; give a larger --hop");
      return false;
    }
    plan->columns = int32_t(columns);
    plan->hop = *p.hop;
    plan->width = p.width > 0 ? p.width : plan->columns;
  } else {
    plan->width = p.width > 0 ? p.width : kSpectrogramWidth;
    plan->columns = plan->width;
    plan->hop = double(span.count) / plan->columns;
  }
  if (plan->width > kMaxPlotSide || plan->height > kMaxPlotSide ||
      int64_t(plan->width) * plan->height > kMaxPlotPixels) {
    writeLine(err, "harmidex: the plot may be at most " + std::to_string(kMaxPlotSide) +
                       " pixels wide and high, and " + std::to_string(kMaxPlotPixels) +
                       " pixels in all");
    return false;
  }
  return true;
}

// Rows of the picture from the bottom, each the bins it shows: [first, end).
struct RowBins {
  int32_t first, end;
};

std::vector<RowBins> rowBins(const Plan& plan, bool logFreq) {
  std::vector<RowBins> rows(size_t(plan.height));
  const double m = plan.bins;
  const double h = plan.height;
  // Bin b covers [b - 0.5, b + 0.5) bin widths; the log axis runs from the
  // lower edge of bin 1 to the upper edge of the last bin.
  const double lo = 0.5, hi = m - 0.5;
  for (int32_t r = 0; r < plan.height; ++r) {
    double a = 0, b = 0;
    if (logFreq && plan.bins > 1) {
      a = std::floor(lo * std::pow(hi / lo, r / h) + 0.5);
      b = std::floor(lo * std::pow(hi / lo, (r + 1) / h) + 0.5);
    } else {
      a = std::floor(r * m / h);
      b = std::floor((r + 1) * m / h);
    }
    const int32_t first = std::clamp(int32_t(a), 0, plan.bins - 1);
    const int32_t end = std::clamp(std::max(int32_t(b), first + 1), first + 1, plan.bins);
    rows[size_t(r)] = {first, end};
  }
  return rows;
}

// The analysed values, column by column: rows values per column.
struct Grid {
  int32_t rows = 0;
  std::vector<float> cells;
  float top = 0;  // largest value
};

bool analyse(Session& session, const Command& c, const Plan& plan, Grid* grid, std::FILE* err) {
  const std::vector<RowBins> map = rowBins(plan, c.picture.logFreq);
  Progress progress(err, "spectrogram", plan.columns);
  const int64_t half = int64_t(plan.bins) * plan.timesmooth;  // half a block
  for (int32_t col = 0; col < plan.columns; ++col) {
    progress.update(col);
    const double centre = double(plan.span.first) + (col + 0.5) * plan.hop;
    const int64_t start = std::clamp<int64_t>(std::llround(centre) - half, INT32_MIN, INT32_MAX);
    std::vector<Literal> args;
    for (int32_t v : {kFirstFileId, int32_t(start), plan.bins, plan.timesmooth}) args.emplace_back(v);
    args.emplace_back(kDefaultAmplMax);
    args.emplace_back(int32_t{c.normalized ? 1 : 0});
    args.emplace_back(int32_t{c.equalized ? 1 : 0});
    const auto values = callList(session, c, methodId("getFFT"), args, err);
    if (!values) return false;
    if (col == 0) {
      grid->rows = c.equalized ? int32_t(values->size()) : plan.height;
      if (grid->rows <= 0 || int64_t(grid->rows) * plan.columns > kMaxCells) {
        writeLine(err, "harmidex: the picture would hold too many values; lower --width or --height");
        return false;
      }
      grid->cells.reserve(size_t(grid->rows) * size_t(plan.columns));
    }
    if (c.equalized) {
      for (int32_t r = 0; r < grid->rows; ++r) grid->cells.push_back((*values)[size_t(r)]);
    } else {
      for (const RowBins& row : map) {
        float v = 0;
        for (int32_t b = row.first; b < row.end && size_t(b) < values->size(); ++b)
          v = std::max(v, (*values)[size_t(b)]);
        grid->cells.push_back(v);
      }
    }
  }
  for (float v : grid->cells) grid->top = std::max(grid->top, v);
  return true;
}

// How a cell's value becomes one of the colour map's 256 entries.
struct ColourScale {
  bool db = true;
  double rangeDb = kDefaultRangeDb;
  bool bands = false;  // rows are octave bands
  SpectrumScale spectrum;
  float top = 1;  // log-power: the value drawn brightest
};

ColourScale colourScaleOf(const Command& c, const Plan& plan, const Grid& grid) {
  ColourScale s;
  s.db = c.picture.scale == "db";
  s.rangeDb = c.picture.rangeDb.value_or(kDefaultRangeDb);
  s.bands = c.equalized;
  s.spectrum = {plan.bins, plan.timesmooth, kDefaultAmplMax};
  s.top = grid.top > 0 ? grid.top : 1.0f;
  return s;
}

int colourIndex(const ColourScale& s, float v, int32_t row) {
  double fraction = v / s.top;
  if (s.db) {
    const double level = s.bands ? bandDbfs(v, row, s.spectrum) : binDbfs(v, s.spectrum);
    fraction = std::isfinite(level) ? (level + s.rangeDb) / s.rangeDb : 0;
  }
  return int(std::lround(std::clamp(fraction, 0.0, 1.0) * 255.0));
}

// The grid as an image of one pixel per cell, the lowest row at the bottom.
cairo_surface_t* gridImage(const Grid& grid, int32_t columns, const uint32_t* map,
                           const ColourScale& scale) {
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, columns, grid.rows);
  if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) return image;
  cairo_surface_flush(image);
  unsigned char* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  for (int32_t col = 0; col < columns; ++col) {
    for (int32_t r = 0; r < grid.rows; ++r) {
      const float v = grid.cells[size_t(col) * size_t(grid.rows) + size_t(r)];
      auto* pixel = reinterpret_cast<uint32_t*>(data + size_t(grid.rows - 1 - r) * size_t(stride)) + col;
      *pixel = map[colourIndex(scale, v, r)];
    }
  }
  cairo_surface_mark_dirty(image);
  return image;
}

std::string hzLabel(double f) {
  char buf[32];
  if (f >= 1000) std::snprintf(buf, sizeof buf, "%gk", std::round(f / 10.0) / 100.0);
  else std::snprintf(buf, sizeof buf, "%g", std::round(f));
  return buf;
}

void frequencyAxis(Canvas& canvas, const Command& c, const Plan& plan, int32_t bands) {
  const double top = canvas.plotTop();
  const double h = plan.height;
  if (c.equalized) {
    std::vector<double> ticks;
    for (int32_t k = 0; k + 1 < bands; ++k) ticks.push_back(k);
    auto edge = [&](double k) {
      double low = 0, high = 0;
      bandEdges(int32_t(k), plan.bins, plan.rate, &low, &high);
      return high;
    };
    canvas.leftAxis(ticks, [&](double k) { return top + h - (k + 1) * h / bands; },
                    [&](double k) { return hzLabel(edge(k)); }, "octave band edges (Hz)");
    return;
  }
  if (c.picture.logFreq) {
    const double lo = 0.5 * plan.binHz, hi = (plan.bins - 0.5) * plan.binHz;
    std::vector<double> ticks;
    for (double decade = 1; decade <= hi; decade *= 10)
      for (double m : {1.0, 2.0, 5.0})
        if (m * decade >= lo && m * decade <= hi) ticks.push_back(m * decade);
    canvas.leftAxis(ticks, [&](double f) { return top + h - h * std::log(f / lo) / std::log(hi / lo); },
                    hzLabel, "frequency (Hz)");
    return;
  }
  const double nyquist = plan.rate / 2;
  const bool kHz = nyquist >= 2000;
  const double scale = kHz ? 1000.0 : 1.0;
  const std::vector<double> ticks =
      niceTicks(0, nyquist / scale, std::max(2, plan.height / 50));
  const double step = tickStep(ticks);
  canvas.leftAxis(ticks,
                  [&](double f) { return top + h - (f * scale / plan.binHz + 0.5) * h / plan.bins; },
                  [&](double f) { return tickLabel(f, step); },
                  kHz ? "frequency (kHz)" : "frequency (Hz)");
}

std::string titleOf(const Command& c, const Plan& plan) {
  char hop[32];
  std::snprintf(hop, sizeof hop, "%.6g", plan.hop);
  std::string t = baseName(c.file) + " — " + std::to_string(plan.bins) + " bins, hop " + hop +
                  " frames, timesmooth " + std::to_string(plan.timesmooth) + ", " +
                  formatFloat(plan.rate) + " Hz";
  if (c.equalized) t += ", octave bands";
  else if (c.picture.logFreq) t += ", log frequency";
  if (c.normalized) t += ", normalized";
  return t;
}

bool draw(const Command& c, const Plan& plan, const Grid& grid, std::FILE* err) {
  const uint32_t* map = colourMap(c.picture.colourMap);
  Canvas canvas(plan.width, plan.height, kSpectrogramMargins);
  const ColourScale scale = colourScaleOf(c, plan, grid);
  cairo_surface_t* image = gridImage(grid, plan.columns, map, scale);
  if (!canvas.ok() || cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(image);
    writeLine(err, "harmidex: cannot make a picture of that size");
    return false;
  }
  cairo_t* cr = canvas.cr();
  cairo_save(cr);
  cairo_translate(cr, canvas.plotLeft(), canvas.plotTop());
  cairo_scale(cr, double(plan.width) / plan.columns, double(plan.height) / grid.rows);
  cairo_set_source_surface(cr, image, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  cairo_rectangle(cr, 0, 0, plan.columns, grid.rows);
  cairo_fill(cr);
  cairo_restore(cr);
  cairo_surface_destroy(image);

  canvas.frame();
  canvas.title(titleOf(c, plan));
  canvas.timeAxis(plan.span.first / plan.rate, (plan.span.first + plan.span.count) / plan.rate);
  frequencyAxis(canvas, c, plan, grid.rows);
  if (!scale.db) canvas.colourBar(map, 0, scale.top, "getFFT value (log power)");
  else canvas.colourBar(map, -scale.rangeDb, 0, scale.bands ? "mean bin level (dBFS)" : "level (dBFS)");
  return canvas.writePng(c.picture.pngPath, err);
}

}  // namespace

// Options that change nothing in this picture are named, so that nobody
// looks for their effect.
void noteIneffectiveOptions(const Command& c, std::FILE* err) {
  if (c.equalized && c.picture.logFreq)
    writeLine(err, "harmidex: --log-freq has no effect with --equalized, whose rows are octave bands");
  if (c.picture.rangeDb && c.picture.scale != "db")
    writeLine(err, "harmidex: --range has no effect with --scale " + c.picture.scale);
}

int runSpectrogram(const Command& c, std::FILE* /*out*/, std::FILE* err) {
  if (!destinationsAccepted({c.picture.pngPath}, err)) return kExitFailure;
  noteIneffectiveOptions(c, err);
  OpenedFile file;
  if (!openForPicture(c, &file, err)) return kExitFailure;
  const auto span = spanOf(c.picture, file, err);
  if (!span) return kExitFailure;
  Plan plan;
  if (!makePlan(c, file, *span, &plan, err)) return kExitFailure;
  Grid grid;
  if (!analyse(file.session, c, plan, &grid, err)) return kExitFailure;
  const bool drawn = draw(c, plan, grid, err);
  releaseFontCaches();
  return drawn ? kExitOk : kExitFailure;
}

}  // namespace hx::cli
