// harmidex waveform: the min/max envelope of the samples, read with
// getSamples in chunks, as a PNG and/or audiowaveform's JSON data format
// (version 2), which web players of that format read.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "cli/call_line.h"
#include "cli/open_file.h"
#include "cli/opened_file.h"
#include "cli/option_numbers.h"
#include "cli/output.h"
#include "cli/output_file.h"
#include "cli/pictures.h"
#include "cli/plot.h"
#include "cli/progress.h"

namespace hx::cli {
namespace {

// Frames asked of getSamples in one call.
constexpr int64_t kChunkFrames = 65536;
// Envelope points held at most: the JSON stays within tens of megabytes.
constexpr int64_t kMaxPoints = int64_t(1) << 21;

struct Envelope {
  int64_t framesPerPoint = 1;
  std::vector<int16_t> min, max;  // 16-bit sample values, one pair per point
};

std::optional<int64_t> framesPerPoint(const PictureOptions& p, double rate, const FrameSpan& span,
                                      std::FILE* err) {
  int64_t spp = 0;
  if (p.samplesPerPixel) spp = *p.samplesPerPixel;
  else if (p.pixelsPerSecond)
    // One point may cover at most what a 32-bit count holds: the whole of any span.
    spp = roundedWithin(std::clamp(rate / *p.pixelsPerSecond, 1.0, double(INT32_MAX)), 1, INT32_MAX)
              .value_or(INT32_MAX);
  else {
    const int64_t width = p.width > 0 ? p.width : kWaveformWidth;
    spp = std::max<int64_t>(1, (span.count + width - 1) / width);
  }
  if ((span.count + spp - 1) / spp > kMaxPoints) {
    writeLine(err, "harmidex: the envelope would have more than " + std::to_string(kMaxPoints) +
                       " points; give a larger --samples-per-pixel or a smaller --pixels-per-second");
    return std::nullopt;
  }
  return spp;
}

bool readEnvelope(Session& session, const Command& c, const FrameSpan& span, Envelope* env,
                  std::FILE* err) {
  const int64_t points = (span.count + env->framesPerPoint - 1) / env->framesPerPoint;
  env->min.assign(size_t(points), INT16_MAX);
  env->max.assign(size_t(points), INT16_MIN);
  Progress progress(err, "waveform", span.count);
  for (int64_t done = 0; done < span.count; done += kChunkFrames) {
    progress.update(done);
    const int64_t n = std::min(kChunkFrames, span.count - done);
    std::vector<Literal> args;
    for (int64_t v : {int64_t(kFirstFileId), span.first + done, n}) args.emplace_back(int32_t(v));
    const auto values = callList(session, c, methodId("getSamples"), args, err);
    if (!values) return false;
    for (size_t i = 0; i < values->size(); ++i) {
      // The module gives x / 32768 for a 16-bit sample x: this is x again.
      const auto x = int16_t(std::clamp(std::lround((*values)[i] * 32768.0f), -32768L, 32767L));
      const size_t point = size_t((done + int64_t(i)) / env->framesPerPoint);
      env->min[point] = std::min(env->min[point], x);
      env->max[point] = std::max(env->max[point], x);
    }
  }
  return true;
}

// Streamed, in the key order of a sorted document.
bool writeJsonTo(std::FILE* out, const Envelope& env, double rate, int32_t bits) {
  std::fprintf(out, "{\"bits\":%d,\"channels\":1,\"data\":[", int(bits));
  for (size_t i = 0; i < env.min.size(); ++i) {
    // 8-bit data keeps the high byte, as audiowaveform's own conversion does.
    const int lo = bits == 8 ? env.min[i] >> 8 : env.min[i];
    const int hi = bits == 8 ? env.max[i] >> 8 : env.max[i];
    std::fprintf(out, i == 0 ? "%d,%d" : ",%d,%d", lo, hi);
  }
  std::fprintf(out, "],\"length\":%zu,\"sample_rate\":%ld,\"samples_per_pixel\":%lld,"
               "\"version\":2}\n",
               env.min.size(), std::lround(rate), static_cast<long long>(env.framesPerPoint));
  return std::ferror(out) == 0;
}

bool drawPng(const Command& c, const Envelope& env, const FrameSpan& span, double rate,
             std::FILE* err) {
  const int32_t width = c.picture.width > 0 ? c.picture.width : kWaveformWidth;
  const int32_t height = c.picture.height > 0 ? c.picture.height : kWaveformHeight;
  if (width > kMaxPlotSide || height > kMaxPlotSide || int64_t(width) * height > kMaxPlotPixels) {
    writeLine(err, "harmidex: the plot may be at most " + std::to_string(kMaxPlotSide) +
                       " pixels wide and high, and " + std::to_string(kMaxPlotPixels) +
                       " pixels in all");
    return false;
  }
  Canvas canvas(width, height, kWaveformMargins);
  if (!canvas.ok()) {
    writeLine(err, "harmidex: cannot make a picture of that size");
    return false;
  }
  cairo_t* cr = canvas.cr();
  const double top = canvas.plotTop(), left = canvas.plotLeft();
  auto y = [&](double level) { return top + height * (1.0 - level) / 2.0; };  // level in [-1, 1]
  cairo_set_source_rgb(cr, 0.75, 0.75, 0.75);
  cairo_move_to(cr, left, std::floor(y(0)) + 0.5);
  cairo_line_to(cr, left + width, std::floor(y(0)) + 0.5);
  cairo_stroke(cr);
  // Each pixel column shows the extremes of the points it covers.
  const auto points = int64_t(env.min.size());
  cairo_set_source_rgb(cr, 0.12, 0.38, 0.70);
  for (int32_t x = 0; x < width && points > 0; ++x) {
    const int64_t a = int64_t(x) * points / width;
    const int64_t b = std::max(a + 1, int64_t(x + 1) * points / width);
    int lo = INT16_MAX, hi = INT16_MIN;
    for (int64_t i = a; i < b && i < points; ++i) {
      lo = std::min<int>(lo, env.min[size_t(i)]);
      hi = std::max<int>(hi, env.max[size_t(i)]);
    }
    if (lo > hi) continue;
    const double y0 = y(hi / 32768.0), y1 = y(lo / 32768.0);
    cairo_rectangle(cr, left + x, y0, 1, std::max(1.0, y1 - y0));
  }
  cairo_fill(cr);
  canvas.frame();
  char title[64];
  std::snprintf(title, sizeof title, " — %lld frames per point, ", static_cast<long long>(env.framesPerPoint));
  canvas.title(baseName(c.file) + title + formatFloat(rate) + " Hz, mixed to one channel");
  canvas.timeAxis(span.first / rate, (span.first + span.count) / rate);
  const std::vector<double> ticks = {-1, -0.5, 0, 0.5, 1};
  canvas.leftAxis(ticks, y, [](double v) { return tickLabel(v, 0.5); }, "level (1 = full scale)");
  return canvas.writePng(c.picture.pngPath, err);
}

// The picture's size means nothing to the JSON alone.
void noteIneffectiveOptions(const PictureOptions& p, std::FILE* err) {
  if (!p.pngPath.empty()) return;
  if (p.height > 0) writeLine(err, "harmidex: --height has no effect without -o");
  if (p.width > 0 && (p.pixelsPerSecond || p.samplesPerPixel))
    writeLine(err, "harmidex: --width has no effect without -o when the zoom is given");
}

}  // namespace

int runWaveform(const Command& c, std::FILE* /*out*/, std::FILE* err) {
  if (!destinationsAccepted({c.picture.pngPath, c.picture.jsonPath}, err)) return kExitFailure;
  noteIneffectiveOptions(c.picture, err);
  OpenedFile file;
  if (!openForPicture(c, &file, err)) return kExitFailure;
  const auto span = spanOf(c.picture, file, err);
  if (!span) return kExitFailure;
  Envelope env;
  const auto spp = framesPerPoint(c.picture, file.rate, *span, err);
  if (!spp) return kExitFailure;
  env.framesPerPoint = *spp;
  if (!readEnvelope(file.session, c, *span, &env, err)) return kExitFailure;
  if (!c.picture.jsonPath.empty() &&
      !writeWhole(c.picture.jsonPath,
                  [&](std::FILE* out) { return writeJsonTo(out, env, file.rate, c.picture.bits); },
                  err))
    return kExitFailure;
  if (c.picture.pngPath.empty()) return kExitOk;
  const bool drawn = drawPng(c, env, *span, file.rate, err);
  releaseFontCaches();
  return drawn ? kExitOk : kExitFailure;
}

}  // namespace hx::cli
