// MPFR's correctly rounded log10, the oracle the module's own logarithm is
// held against (native builds only: there is no MPFR for the Windows ones).
#pragma once

#include <mpfr.h>

namespace hx::test {

// One per thread: MPFR values are not shared.
class MpfrLog10 {
 public:
  MpfrLog10();
  ~MpfrLog10();
  MpfrLog10(const MpfrLog10&) = delete;
  MpfrLog10& operator=(const MpfrLog10&) = delete;

  // log10 v rounded to the nearest double (NaN, -inf, +inf as C does).
  double rounded(double v);
  // How far the exact log10 v lies from the midpoint of two adjacent
  // doubles a and b, in units of their distance: 0 on the midpoint, 0.5 on
  // either of them. Where a result is off by one ulp, this says how hard
  // the case was.
  double ulpsFromMidpoint(double v, double a, double b);

 private:
  mpfr_t near_;
  mpfr_t wide_;
  mpfr_t mid_;
};

}  // namespace hx::test
