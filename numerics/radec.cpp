#include "numerics/radec.h"

#include <cmath>

namespace {
// The value of pi that the plate model has always used.
const double kPi = 3.14159265358979;
}  // namespace

void PixelToradec(double& ra, double& dec, double x, double y, double ra0, double dec0, double x0, double y0,
                  double dx, double dy) {
  dec = (y - y0) * dy + dec0;
  ra = (x - x0) * dx / std::cos(dec * kPi / 180.0) + ra0;
}

void radecToPixel(double ra, double dec, double& x, double& y, double ra0, double dec0, double x0, double y0,
                  double dx, double dy) {
  // The offset in right ascension, in pixels, shrinks to a great-circle
  // distance by the cosine of the declination: the inverse of the division in
  // PixelToradec.
  x = (ra - ra0) / dx * std::cos(dec * kPi / 180.0) + x0;
  y = (dec - dec0) / dy + y0;
}
