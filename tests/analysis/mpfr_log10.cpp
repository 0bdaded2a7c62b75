// MPFR's log10; see mpfr_log10.h.
#include "analysis/mpfr_log10.h"

#include <cmath>

namespace hx::test {

MpfrLog10::MpfrLog10() {
  mpfr_init2(near_, 53);
  mpfr_init2(wide_, 256);
  mpfr_init2(mid_, 256);
}

MpfrLog10::~MpfrLog10() {
  mpfr_clears(near_, wide_, mid_, static_cast<mpfr_ptr>(nullptr));
  mpfr_free_cache();
}

double MpfrLog10::rounded(double v) {
  // 53 bits and the double exponent range: MPFR rounds once, correctly.
  mpfr_set_d(near_, v, MPFR_RNDN);
  mpfr_log10(near_, near_, MPFR_RNDN);
  return mpfr_get_d(near_, MPFR_RNDN);
}

double MpfrLog10::ulpsFromMidpoint(double v, double a, double b) {
  mpfr_set_d(wide_, v, MPFR_RNDN);
  mpfr_log10(wide_, wide_, MPFR_RNDN);
  mpfr_set_d(mid_, a, MPFR_RNDN);
  mpfr_add_d(mid_, mid_, b, MPFR_RNDN);  // exact at 256 bits
  mpfr_div_2ui(mid_, mid_, 1, MPFR_RNDN);
  mpfr_sub(mid_, mid_, wide_, MPFR_RNDN);
  return std::fabs(mpfr_get_d(mid_, MPFR_RNDN)) / std::fabs(b - a);
}

}  // namespace hx::test
