// Levels in dBFS from getFFT's values.
#include "cli/decibels.h"

#include <cmath>
#include <limits>

namespace hx::cli {

double powerOfValue(double v, double amplMax) {
  // expm1 keeps the small powers that 10^x - 1 would round away.
  return std::expm1(8.0 * v / amplMax * std::log(10.0)) / 1000.0;
}

double fullScalePower(int32_t bins, int32_t timesmooth) {
  const double m = bins;
  const double windowPower = 1 + (m - 1) * (2 * m - 1) / (3 * m);
  const double single = 128.0 * 128.0 * m / (8 * windowPower);
  return timesmooth >= 2 ? 2 * single : single;
}

double binDbfs(double v, const SpectrumScale& scale) {
  const double p = powerOfValue(v, scale.amplMax);
  if (!(p > 0)) return -std::numeric_limits<double>::infinity();
  return 10 * std::log10(p / fullScalePower(scale.bins, scale.timesmooth));
}

double bandDbfs(double v, int32_t band, const SpectrumScale& scale) {
  const double start = band == 0 ? 1 : std::ldexp(1.0, band - 1);
  return binDbfs(v / std::log10(start + 1), scale);
}

}  // namespace hx::cli
