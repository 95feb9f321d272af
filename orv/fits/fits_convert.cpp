#include "orv/fits/fits_convert.h"

#include <climits>

namespace orv {

FitsScaling chooseFitsScaling(double bscale, double bzero) {
  FitsScaling s{FitsScalePath::real, bscale, bzero, 0, 0};
  // Comparisons with NaN are false, so NaN never counts as a whole number.
  auto isInt32 = [](double v) { return v >= INT_MIN && v <= INT_MAX && v == std::trunc(v); };
  if (bscale == 1.0 && bzero == 0.0) {
    s.path = FitsScalePath::plain;
  } else if (isInt32(bscale) && isInt32(bzero)) {
    s.path = FitsScalePath::wholeNumber;
    s.intScale = static_cast<std::int64_t>(bscale);
    s.intZero = static_cast<std::int64_t>(bzero);
  }
  return s;
}

}  // namespace orv
