// The correction of an image and its error image to the reference's scale.
#include "tarvole/create.h"

#include <cmath>
#include <iostream>

namespace {

// The mask of a pixel: 1 good, 0 bad (no value, no error, no absorption, or a value that is not
// finite), -1 where the error image marks it with -1.
inline float pixel_mask(float i, float e, float a, float blank) {
  if (e == -1.0f) return -1.0f;
  if (i == 0.0f || !(e > 0.0f) || a == blank || !std::isfinite(i) || !std::isfinite(e)) return 0.0f;
  return 1.0f;
}

// An error term that is not finite counts as 0.
double finite_or_zero(double value, const char* name) {
  if (std::isfinite(value)) return value;
  std::cerr << "warning: " << name << " is not finite and counts as 0" << std::endl;
  return 0.0;
}

}  // namespace

void create(const Image& R, const Image& /*eR*/, Image& I, Image& eI, const Image& A, const Image& S,
            const Coefficients& /*c*/, Pliste& P) {
  const int nx = R.last(1), ny = R.last(2);
  const float blank = P.blank;
  const double abserr = finite_or_zero(P.abserr, "abserr");
  const double skyerr = finite_or_zero(P.skyerr, "skyerr");
  const bool normal = abserr == 0.0 || skyerr == 0.0;
  if (!normal) std::cout << "error in abs and sky" << std::endl;
  for (int y = 1; y <= ny; ++y) {
    for (int x = 1; x <= nx; ++x) {
      const float a = A(x, y);
      const float mask = pixel_mask(I(x, y), eI(x, y), a, blank);
      if (mask <= 0.0f) {
        I(x, y) = 0.0f;
        eI(x, y) = mask;
        continue;
      }
      const float corrected = a * I(x, y) - S(x, y);
      I(x, y) = corrected;
      if (normal) {
        eI(x, y) = a * eI(x, y);
      } else {
        const double absTerm = abserr * corrected;
        const double imageTerm = static_cast<double>(a) * eI(x, y);
        eI(x, y) = static_cast<float>(std::sqrt(absTerm * absTerm + imageTerm * imageTerm + skyerr * skyerr));
      }
    }
  }
}
