// Position measurement: a Gaussian dip fitted to the local nchi map about a
// star gives its sub-cell centre; flux and error come from the maps there.

#include <cmath>
#include <iostream>

#include "numerics/convert.h"
#include "orv/fits/fits_image.h"
#include "psf/korven_lib.h"

namespace {}  // namespace

int psf::measure_pos(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double& x,
                     double& y, double& flux, double& eflux, double radius, int box, int index,
                     int verbose) const {
  const int R = _analyt;
  const long ix = std::lrint(x), iy = std::lrint(y);
  if (!(image.first(1) + R + 3 <= ix && ix <= image.last(1) - R - 2 && image.first(2) + R + 3 <= iy &&
        iy <= image.last(2) - R - 2))
    return 1;
  orv::MArray<double, 2> nchi, fluxMap, efluxMap;
  mapping(image, error, x, y, nchi, fluxMap, efluxMap, box, box, radius, 1);
  if (verbose > 2) {
    orv::writeFitsImage("nchi_" + int2str(index, 5) + ".fits", nchi, -32);
    orv::writeFitsImage("flux_" + int2str(index, 5) + ".fits", fluxMap, -32);
  }
  // The lowest cell: the first strictly below all before it.
  int mi = 0, mj = 0;
  double lowest = 1e100;
  for (int i = nchi.first(1); i <= nchi.last(1); ++i)
    for (int j = nchi.first(2); j <= nchi.last(2); ++j)
      if (nchi(i, j) < lowest) {
        lowest = nchi(i, j);
        mi = i;
        mj = j;
      }
  // Fit cells about it; cells without a value (1e100 or 0) take no part.
  const int h = box / 2;
  const double limit = static_cast<double>(h) * (h + 1);
  auto fitCell = [&](int i, int j) {
    const double v = nchi(i, j);
    return (i - mi) * (i - mi) + (j - mj) * (j - mj) < limit && v != 0 && v != 1e100;
  };
  int n = 0;
  for (int i = nchi.first(1); i <= nchi.last(1); ++i)
    for (int j = nchi.first(2); j <= nchi.last(2); ++j) n += fitCell(i, j);
  if (n < 8) return 1;
  orv::MArray<double, 1> xs(n), ys(n), zs(n), sig(n);
  double highest = -1e100, low = 1e100;
  int k = 0;
  for (int i = nchi.first(1); i <= nchi.last(1); ++i)
    for (int j = nchi.first(2); j <= nchi.last(2); ++j) {
      if (!fitCell(i, j)) continue;
      ++k;
      xs(k) = i;
      ys(k) = j;
      zs(k) = nchi(i, j);
      sig(k) = 1.0;
      highest = std::max(highest, nchi(i, j));
      low = std::min(low, nchi(i, j));
    }
  orv::MArray<double, 1> a(7);
  orv::MArray<int, 1> ia(7);
  a(1) = highest;
  a(2) = low - highest;
  a(3) = 0.6931471805599453;
  a(4) = 0.44317102453383117;
  a(5) = mi;
  a(6) = mj;
  a(7) = 1.7453292519943296e-4;
  ia = 1;
  Class_gauss_fit fit(xs, ys, zs, sig, a, ia);
  fit.maxiter = 1000;
  fit.calc();
  std::cout.precision(10);
  if (fit.a(1) + fit.a(2) == 0) return 1;
  const int P = std::max(_subpixel, 1);
  const double px = ix + fit.a(5) / P, py = iy + fit.a(6) / P;
  if (std::sqrt((px - x) * (px - x) + (py - y) * (py - y)) > 0.75 * box / P) return 1;
  const long ci = std::lrint(fit.a(5)), cj = std::lrint(fit.a(6));
  if (ci < nchi.first(1) || ci > nchi.last(1) || cj < nchi.first(2) || cj > nchi.last(2)) return 1;
  x = px;
  y = py;
  flux = fluxMap(ci, cj);
  eflux = efluxMap(ci, cj);
  return 0;
}

int psf::measure_pos(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double& x,
                     double& y, double radius, int box, int index, int verbose) const {
  double flux, eflux;
  return measure_pos(image, error, x, y, flux, eflux, radius, box, index, verbose);
}

int psf::measure_pos(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error,
                     orv::MArray<double, 1>& x, orv::MArray<double, 1>& y, orv::MArray<double, 1>& flux,
                     orv::MArray<double, 1>& eflux, double radius, int box, int verbose) const {
  for (int k = x.first(1); k <= x.last(1); ++k)
    measure_pos(image, error, x(k), y(k), flux(k), eflux(k), radius, box, k, verbose);
  return 0;
}

int psf::measure_pos(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error,
                     orv::MArray<double, 1>& x, orv::MArray<double, 1>& y, double radius, int box,
                     int verbose) const {
  orv::MArray<double, 1> flux(x.length(1)), eflux(x.length(1));
  flux.setBase(x.first(1));
  eflux.setBase(x.first(1));
  flux = 0.0;
  eflux = 0.0;
  return measure_pos(image, error, x, y, flux, eflux, radius, box, verbose);
}
