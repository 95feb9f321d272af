// Adding stars to and subtracting them from an image through the pixel-grid
// PSF: through the shift tables, with photon noise, or at the exact shift.

#include <algorithm>
#include <cmath>
#include <iostream>

#include "numerics/random.h"
#include "psf/korven_lib.h"

namespace {

// The box offsets -R..R of a star at (ix, iy) that lie inside the image, on one axis.
struct AxisWindow {
  int lo;
  int hi;
};

AxisWindow inside_window(int centre, int R, int first, int last) {
  return {std::max(-R, first - centre), std::min(R, last - centre)};
}

// The offsets on axis d whose pixels lie inside both the image and its error image.
AxisWindow inside_both(int centre, int R, int d, const orv::MArray<float, 2>& image,
                       const orv::MArray<float, 2>& error) {
  return inside_window(centre, R, std::max(image.first(d), error.first(d)),
                       std::min(image.last(d), error.last(d)));
}

}  // namespace

void psf::inject__(orv::MArray<float, 2>& image, orv::MArray<float, 2>& error, double x, double y,
                   double flux, double sign, double limit2, double blank_image, double blank_error) const {
  if (!tables_ready__()) return;
  const int R = _analyt;
  const star_spot__ spot = locate__(x, y);
  const int ix = spot.ix, iy = spot.iy, sx = spot.sx, sy = spot.sy;
  const double fx = spot.fx, fy = spot.fy;
  const AxisWindow wx = inside_both(ix, R, 1, image, error);
  const AxisWindow wy = inside_both(iy, R, 2, image, error);
  for (int i = wx.lo; i <= wx.hi; ++i) {
    const double di2 = (i - fx) * (i - fx);
    for (int j = wy.lo; j <= wy.hi; ++j) {
      if (di2 + (j - fy) * (j - fy) >= limit2) continue;
      float& pixel = image(ix + i, iy + j);
      float& sigma = error(ix + i, iy + j);
      if (pixel == blank_image || sigma == blank_error) continue;
      const double ep = _all_ebinned_psf(sx, sy, i, j) * flux;
      pixel = static_cast<float>(pixel + sign * _all_binned_psf(sx, sy, i, j) * flux);
      sigma = static_cast<float>(std::sqrt(ep * ep + static_cast<double>(sigma) * sigma));
    }
  }
}

void psf::add_psf(orv::MArray<float, 2>& image, orv::MArray<float, 2>& error, double x, double y, double flux,
                  double blank_image, double blank_error, int verbose) const {
  if (verbose > 3)
    std::cout << "adding star at x = " << x << ", y = " << y << ", with flux = " << flux << "...\n"
              << std::endl;
  const double R = _analyt;
  inject__(image, error, x, y, flux, 1.0, R * R, blank_image, blank_error);
}

void psf::subtract_psf(orv::MArray<float, 2>& image, orv::MArray<float, 2>& error, double x, double y,
                       double flux, double blank_image, double blank_error, int verbose) const {
  if (verbose > 3)
    std::cout << "subtracting star at x = " << x << ", y = " << y << ", with flux = " << flux << "...\n"
              << std::endl;
  const double R = _analyt;
  inject__(image, error, x, y, flux, -1.0, R * (R - 1), blank_image, blank_error);
}

// One deviate is drawn for every box offset, used or not, so the stream moves
// by (2R + 1)² per star whatever the image holds.
void psf::add_psf_noise(orv::MArray<float, 2>& image, orv::MArray<float, 2>& error, double x, double y,
                        double flux, double gain, long& seed, double blank_image, double blank_error,
                        int verbose) const {
  if (verbose > 3)
    std::cout << "adding noise for star at x = " << x << ", y = " << y << ", with flux = " << flux
              << " and gain = " << gain << "...\n"
              << std::endl;
  if (!tables_ready__()) return;
  const int R = _analyt;
  const double R2 = static_cast<double>(R) * R;
  const star_spot__ spot = locate__(x, y);
  const int ix = spot.ix, iy = spot.iy, sx = spot.sx, sy = spot.sy;
  const double fx = spot.fx, fy = spot.fy;
  const AxisWindow wx = inside_both(ix, R, 1, image, error);
  const AxisWindow wy = inside_both(iy, R, 2, image, error);
  for (int i = -R; i <= R; ++i) {
    const int px = ix + i;
    const bool insideX = i >= wx.lo && i <= wx.hi;
    for (int j = -R; j <= R; ++j) {
      const double deviate = rangau(seed);
      const int py = iy + j;
      if (!insideX || j < wy.lo || j > wy.hi) continue;
      if ((i - fx) * (i - fx) + (j - fy) * (j - fy) >= R2) continue;
      float& pixel = image(px, py);
      float& sigma = error(px, py);
      if (pixel == blank_image || sigma == blank_error) continue;
      const double Pp = _all_binned_psf(sx, sy, i, j);
      const float counts = static_cast<float>(Pp * flux);
      // Negative counts (a negative flux) carry no photon noise.
      const double noise = Pp > 0 ? std::sqrt(std::max(0.0, counts * gain)) : 0.0;
      pixel = static_cast<float>(pixel + Pp * flux + deviate * noise);
      sigma = static_cast<float>(std::sqrt(noise * noise + static_cast<double>(sigma) * sigma));
    }
  }
}

void psf::add_psf_exact(orv::MArray<float, 2>& image, double x, double y, double flux, int verbose) {
  if (verbose > 3)
    std::cout << "adding star at x = " << x << ", y = " << y << ", with flux = " << flux << "...\n"
              << std::endl;
  const int R = _analyt;
  const int ix = static_cast<int>(std::lrint(x));
  const int iy = static_cast<int>(std::lrint(y));
  binning(x - ix, y - iy);
  const AxisWindow wx = inside_window(ix, R, image.first(1), image.last(1));
  const AxisWindow wy = inside_window(iy, R, image.first(2), image.last(2));
  const int limit = R * (R - 1);
  for (int i = wx.lo; i <= wx.hi; ++i) {
    for (int j = wy.lo; j <= wy.hi; ++j) {
      if (i * i + j * j >= limit) continue;
      float& pixel = image(ix + i, iy + j);
      pixel = static_cast<float>(pixel + _binned_psf(i, j) * flux);
    }
  }
}
