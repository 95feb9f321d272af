// Sample data for the demonstration run: a reference field, an image of it with known absorption,
// sky and sky gradient, and a copy of the image shifted by whole pixels; and the report that
// compares the coefficients a sky-program run wrote with the truth.
//
//   make_sample DIR          writes DIR/ref.fits, DIR/img.fits and DIR/img_shift.fits
//   make_sample --report F   prints card name, truth and value for the coefficient cards of F
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "numerics/random.h"
#include "orv/fits/fits.h"
#include "orv/marray.h"

namespace {

constexpr int side = 2048;
constexpr int galaxyX = 1070, galaxyY = 1077;  // the sky program's default centre
// The image is I = R / absorption + sky + gradX (x - galaxyX) + gradY (y - galaxyY) + noise.
constexpr double absorption = 0.8, sky = 50.0, gradX = 0.01, gradY = -0.005;
constexpr int shiftX = 37, shiftY = -23;  // the shifted copy's content moves by these pixels

using Image = orv::MArray<float, 2>;

// Writes an image with a TAN world-coordinate frame whose reference pixel is (crpix1, crpix2).
void write_with_wcs(const std::string& name, const Image& a, double crpix1, double crpix2) {
  orv::FitsOut out(name);
  out.addValueCard("CTYPE1  ", std::string("RA---TAN"), "", true);
  out.addValueCard("CTYPE2  ", std::string("DEC--TAN"), "", true);
  out.addValueCard("CRVAL1  ", 150.0, "", true);
  out.addValueCard("CRVAL2  ", 2.2, "", true);
  out.addValueCard("CRPIX1  ", crpix1, "", true);
  out.addValueCard("CRPIX2  ", crpix2, "", true);
  out.addValueCard("CD1_1   ", -1.0e-4, "", true);
  out.addValueCard("CD1_2   ", 0.0, "", true);
  out.addValueCard("CD2_1   ", 0.0, "", true);
  out.addValueCard("CD2_2   ", 1.0e-4, "", true);
  out << a;
}

int make(const std::string& dir) {
  long seed = -20261210;
  // Reference: sky 200, an inclined exponential disc galaxy and a few hundred stars, noise.
  orv::MArray<double, 2> light(side, side);
  light = 200.0;
  for (int y = 1; y <= side; ++y)
    for (int x = 1; x <= side; ++x) {
      const double dx = x - galaxyX, dy = y - galaxyY;
      light(x, y) += 4000.0 * std::exp(-std::sqrt(dx * dx + 2.5 * dy * dy) / 120.0);
    }
  for (int k = 0; k < 600; ++k) {
    const int sx = 1 + static_cast<int>(ran3(seed) * (side - 1)), sy = 1 + static_cast<int>(ran3(seed) * (side - 1));
    const double flux = 1000.0 + 50000.0 * ran3(seed) * ran3(seed);
    for (int y = std::max(1, sy - 8); y <= std::min(side, sy + 8); ++y)
      for (int x = std::max(1, sx - 8); x <= std::min(side, sx + 8); ++x) {
        const double r2 = double(x - sx) * (x - sx) + double(y - sy) * (y - sy);
        light(x, y) += flux / (2.0 * M_PI * 4.0) * std::exp(-r2 / 8.0);
      }
  }
  Image ref(side, side), img(side, side), shifted(side, side);
  for (int y = 1; y <= side; ++y)
    for (int x = 1; x <= side; ++x) {
      const double r = light(x, y);
      ref(x, y) = static_cast<float>(r + std::sqrt(r) * rangau(seed));
      const double i = r / absorption + sky + gradX * (x - galaxyX) + gradY * (y - galaxyY);
      img(x, y) = static_cast<float>(i + std::sqrt(i) * rangau(seed));
    }
  // The shifted copy: pixel (x, y) shows what the image holds at (x - shiftX, y - shiftY); where
  // that lies outside the image it holds 0, which the sky program masks.
  for (int y = 1; y <= side; ++y)
    for (int x = 1; x <= side; ++x) {
      const int fx = x - shiftX, fy = y - shiftY;
      shifted(x, y) = (fx >= 1 && fx <= side && fy >= 1 && fy <= side) ? img(fx, fy) : 0.0f;
    }
  const double crpix1 = 1024.0, crpix2 = 1024.0;
  write_with_wcs(dir + "/ref.fits", ref, crpix1, crpix2);
  write_with_wcs(dir + "/img.fits", img, crpix1, crpix2);
  write_with_wcs(dir + "/img_shift.fits", shifted, crpix1 + shiftX, crpix2 + shiftY);
  return 0;
}

int report(const std::string& file) {
  orv::FitsIn in(file, true, false);
  struct Line {
    const char* key;
    double truth;
  };
  const Line lines[] = {{"ABSORP  ", absorption},
                        {"NSKY    ", absorption * sky},
                        {"NSKYDX  ", absorption * gradX},
                        {"NSKYDY  ", absorption * gradY},
                        {"ZPOFFSET", 2.5 * std::log10(absorption)}};
  for (const Line& line : lines) {
    std::printf("  %-8s truth %12.6f   read %12.6f\n", line.key, line.truth, in.getFloat(line.key));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 3 && std::string(argv[1]) == "--report") return report(argv[2]);
    if (argc == 2) return make(argv[1]);
    std::cerr << "usage: make_sample DIR | make_sample --report FILE" << std::endl;
    return 2;
  } catch (const std::exception& ex) {
    std::cerr << "make_sample: " << ex.what() << std::endl;
    return 1;
  }
}
