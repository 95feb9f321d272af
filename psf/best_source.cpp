// Best-source tables: the whole-image chi maps reduced to the best sub-pixel
// cell of every pixel, a table row per selected star and a model image of the
// selected stars.

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>

#include "numerics/printf.h"
#include "psf/korven_lib.h"
#include "psf/map_cells.h"

namespace {

// The per-pixel outputs, shaped like the image and all 0.
void pixel_maps(const orv::MArray<float, 2>& image, orv::MArray<double, 2>& nchi,
                orv::MArray<double, 2>& flux, orv::MArray<double, 2>& eflux, orv::MArray<double, 2>& source) {
  const orv::Range rx(image.first(1), image.last(1)), ry(image.first(2), image.last(2));
  for (orv::MArray<double, 2>* a : {&nchi, &flux, &eflux, &source}) {
    a->makeReference(orv::MArray<double, 2>(rx, ry));
    *a = 0.0;
  }
}

bool strictly_inside(const orv::MArray<float, 2>& image, int p, int q) {
  return p > image.first(1) && p < image.last(1) && q > image.first(2) && q < image.last(2);
}

// The per-pixel results and the offsets of each pixel's best cell from the
// pixel's own position (single precision, in pixels), picked from cell maps
// held whole or band by band.
struct BestCells {
  orv::MArray<double, 2>& nchi;
  orv::MArray<double, 2>& flux;
  orv::MArray<double, 2>& eflux;
  orv::MArray<float, 2> dx, dy;
  int P, first1, first2, NX, NY;

  BestCells(const orv::MArray<float, 2>& image, orv::MArray<double, 2>& n, orv::MArray<double, 2>& f,
            orv::MArray<double, 2>& e, int subpixel)
      : nchi(n),
        flux(f),
        eflux(e),
        dx(orv::Range(image.first(1), image.last(1)), orv::Range(image.first(2), image.last(2))),
        dy(orv::Range(image.first(1), image.last(1)), orv::Range(image.first(2), image.last(2))),
        P(subpixel),
        first1(image.first(1)),
        first2(image.first(2)),
        NX(subpixel * image.length(1)),
        NY(subpixel * image.length(2)) {
    dx = 0.0f;
    dy = 0.0f;
  }

  // Pixel (p, q) gets its best cell: the first cell, first-axis cell outer,
  // strictly below all before it, starting from 1e100. Its cells are the P
  // per axis the pixel owns in the maps (cells holds their rows); the centre
  // cell stands for the pixel's own position.
  void pick(const psf_maps::Band& cells, int p, int q) {
    const int i1 = (p - first1 + 1) * P, j1 = (q - first2 + 1) * P;
    const int i0 = i1 - P + 1, j0 = j1 - P + 1;
    const int ic = i0 + P / 2, jc = j0 + P / 2;
    double best = 1e100;
    int bi = 0, bj = 0;
    for (int i = std::max(i0, 1); i <= std::min(i1, NX); ++i)
      for (int j = std::max(j0, 1); j <= std::min(j1, NY); ++j) {
        const double c = cells.nchi[cells.at(i, j)];
        if (c < best) {
          best = c;
          bi = i;
          bj = j;
        }
      }
    if (bi == 0) return;
    nchi(p, q) = best;
    flux(p, q) = cells.flux[cells.at(bi, bj)];
    eflux(p, q) = cells.eflux[cells.at(bi, bj)];
    dx(p, q) = static_cast<float>(static_cast<double>(bi - ic) / P);
    dy(p, q) = static_cast<float>(static_cast<double>(bj - jc) / P);
  }
};

}  // namespace

// One table row (with verbose > 0) and the star's pixel-grid PSF times its
// flux added to the source image, inside the image only.
void psf::add_best_source__(const orv::MArray<float, 2>& image, int p, int q, double nchi, double flux,
                            double eflux, double dx, double dy, double tag, orv::MArray<double, 2>& source,
                            int& counter, std::ostream& table, int verbose) const {
  if (verbose > 0) {
    ++counter;
    table << std::setw(6) << counter << printF(9, 2, p + dx, 1) << printF(9, 2, q + dy, 1)
          << printF(12, 3, tag, 1) << printF(10, 2, flux, 1) << printF(10, 2, eflux, 1)
          << printF(8, 2, nchi, 1) << std::endl;
  }
  const int P = std::max(_subpixel, 1);
  const int half = P / 2;
  const int sx = std::clamp(static_cast<int>(std::lrint(P * dx)), -half, half);
  const int sy = std::clamp(static_cast<int>(std::lrint(P * dy)), -half, half);
  const int R = _analyt;
  for (int j = 1 - R; j <= R - 1; ++j) {
    const int qq = q + j;
    if (qq < image.first(2) || qq > image.last(2)) continue;
    for (int i = 1 - R; i <= R - 1; ++i) {
      const int pp = p + i;
      if (pp < image.first(1) || pp > image.last(1)) continue;
      source(pp, qq) += _all_binned_psf(sx, sy, i, j) * flux;
    }
  }
}

namespace {

// Pixels strictly inside the image with image value 0 or error <= 0 get source 0.
void clear_unusable(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error,
                    orv::MArray<double, 2>& source) {
  for (int q = image.first(2) + 1; q <= image.last(2) - 1; ++q)
    for (int p = image.first(1) + 1; p <= image.last(1) - 1; ++p)
      if (image(p, q) == 0 || error(p, q) <= 0) source(p, q) = 0;
}

}  // namespace

void psf::mapping_some_best_source(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error,
                                   orv::MArray<double, 2>& nchi, orv::MArray<double, 2>& flux,
                                   orv::MArray<double, 2>& eflux, orv::MArray<double, 2>& source,
                                   const orv::MArray<int, 1>& x, const orv::MArray<int, 1>& y, double snr,
                                   double nchi_max, double radius, double tag, std::ostream& table,
                                   int verbose) const {
  pixel_maps(image, nchi, flux, eflux, source);
  std::cout << " mapping_some ... " << std::endl;
  orv::MArray<double, 2> cellNchi, cellFlux, cellEflux;
  mapping_some(image, error, cellNchi, cellFlux, cellEflux, x, y, radius, verbose);
  std::cout << " finished... " << std::endl;
  BestCells best(image, nchi, flux, eflux, std::max(_subpixel, 1));
  const psf_maps::Band cells = psf_maps::Band::whole(cellNchi, cellFlux, cellEflux);
  if (verbose > 2) std::cout << " criteria ... " << std::endl;

  for (int k = x.first(1); k <= x.last(1); ++k) {
    if (verbose > 2 && k % 10 == 0) std::cout << "." << std::flush;
    for (int q = y(k) - 1; q <= y(k) + 1; ++q)
      for (int p = x(k) - 1; p <= x(k) + 1; ++p)
        if (strictly_inside(image, p, q)) best.pick(cells, p, q);
  }

  int counter = 0;
  for (int k = x.first(1); k <= x.last(1); ++k) {
    if (verbose > 2 && k % 10 == 0) std::cout << "-" << std::flush;
    const int p = x(k), q = y(k);
    if (!strictly_inside(image, p, q)) continue;
    const double c = nchi(p, q);
    if (!(c > 0 && c <= nchi_max)) continue;
    bool lowest = true;
    for (int dq = -1; dq <= 1; ++dq)
      for (int dp = -1; dp <= 1; ++dp)
        if ((dp != 0 || dq != 0) && !(c <= nchi(p + dp, q + dq))) lowest = false;
    if (!lowest || !(snr * eflux(p, q) <= std::fabs(flux(p, q)))) continue;
    add_best_source__(image, p, q, c, flux(p, q), eflux(p, q), best.dx(p, q), best.dy(p, q), tag, source,
                      counter, table, verbose);
  }
  clear_unusable(image, error, source);
}

void psf::mapping_full_best_source(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error,
                                   orv::MArray<double, 2>& nchi, orv::MArray<double, 2>& flux,
                                   orv::MArray<double, 2>& eflux, orv::MArray<double, 2>& source, double snr,
                                   double nchi_max, double radius, double tag, std::ostream& table,
                                   int verbose) const {
  std::cout << "imamat" << std::endl;
  image.describeSelf();
  pixel_maps(image, nchi, flux, eflux, source);
  std::cout << "flux" << std::endl;
  flux.describeSelf();
  std::cout << "error" << std::endl;
  eflux.describeSelf();
  if (verbose > 2)
    std::cout << " nx0 = " << image.first(1) << std::endl
              << " nx1 = " << image.last(1) << std::endl
              << " ny0 = " << image.first(2) << std::endl
              << " ny1 = " << image.last(2) << std::endl;
  std::cout << " mapping_full ... " << std::endl;
  // The cell maps are made and reduced to the best cells band by band of
  // whole pixel rows, as mapping_full would print them.
  BestCells best(image, nchi, flux, eflux, std::max(_subpixel, 1));
  const int P = best.P;
  map_bands__(image, error, radius, verbose, 0, nullptr, [&](const psf_maps::Band& cells) {
    for (int q = image.first(2) + (cells.first - 1) / P; q <= image.first(2) + cells.last / P - 1; ++q)
      for (int p = image.first(1); p <= image.last(1); ++p) best.pick(cells, p, q);
  });
  std::cout << " finished... " << std::endl;
  if (verbose > 2) std::cout << " criteria ... " << std::endl;

  // Best cells, kept also in a map with a margin of one pixel of 0.
  orv::MArray<double, 2> bestNchi(orv::Range(image.first(1) - 1, image.last(1) + 1),
                                  orv::Range(image.first(2) - 1, image.last(2) + 1));
  bestNchi = 0.0;
  for (int p = image.first(1); p <= image.last(1); ++p) {
    if (verbose > 2 && (p - image.first(1)) % 50 == 0) std::cout << "." << std::flush;
    for (int q = image.first(2); q <= image.last(2); ++q) bestNchi(p, q) = nchi(p, q);
  }

  // A pixel with a lower non-zero neighbour is no local minimum: negative sign.
  for (int q = image.first(2); q <= image.last(2); ++q)
    for (int p = image.first(1); p <= image.last(1); ++p) {
      const double c = bestNchi(p, q);
      bool lower = false;
      for (int dq = -1; dq <= 1; ++dq)
        for (int dp = -1; dp <= 1; ++dp) {
          const double n = bestNchi(p + dp, q + dq);
          if ((dp != 0 || dq != 0) && n > 0 && n < c) lower = true;
        }
      nchi(p, q) = lower ? -c : c;
    }

  int counter = 0;
  for (int p = image.first(1); p <= image.last(1); ++p) {
    if (verbose > 2 && (p - image.first(1)) % 50 == 0) std::cout << "-" << std::flush;
    for (int q = image.first(2); q <= image.last(2); ++q) {
      const double c = nchi(p, q);
      if (c > 0 && c <= nchi_max && std::fabs(flux(p, q)) >= snr * eflux(p, q))
        add_best_source__(image, p, q, c, flux(p, q), eflux(p, q), best.dx(p, q), best.dy(p, q), tag, source,
                          counter, table, verbose);
    }
  }
  clear_unusable(image, error, source);
}
