// Chi maps: nchi, flux and flux error of the PSF match over trial positions
// spaced 1/P pixel apart, about one position, over the whole image or about
// listed stars.

#include <algorithm>
#include <cmath>
#include <iostream>

#include "orv/memory_pages.h"
#include "psf/korven_lib.h"
#include "psf/map_cells.h"

namespace {

// The edge rule of every map: the trial position's nearest pixel lies at
// least B pixels inside the image on both axes.
bool clear_of_edge(const orv::MArray<float, 2>& image, double px, double py, int B) {
  const long ix = std::lrint(px), iy = std::lrint(py);
  return ix >= image.first(1) + B && ix <= image.last(1) - B && iy >= image.first(2) + B &&
         iy <= image.last(2) - B;
}

// The nearest pixel of (x, y) and the cell ranges sx0 +- nx, sy0 +- ny of a
// local map, sx0 = lrint(P (x - lrint(x))).
struct LocalMap {
  long ix, iy;
  orv::Range rx, ry;
};

LocalMap local_map(double x, double y, int P, int nx, int ny) {
  const long ix = std::lrint(x), iy = std::lrint(y);
  const int sx0 = static_cast<int>(std::lrint(P * (x - ix)));
  const int sy0 = static_cast<int>(std::lrint(P * (y - iy)));
  return {ix, iy, orv::Range(sx0 - nx, sx0 + nx), orv::Range(sy0 - ny, sy0 + ny)};
}

}  // namespace

void psf::mapping(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double x, double y,
                  orv::MArray<double, 2>& nchi, orv::MArray<double, 2>& flux, orv::MArray<double, 2>& eflux,
                  int nx, int ny, double radius, int verbose) const {
  const int P = std::max(_subpixel, 1);
  const LocalMap m = local_map(x, y, P, nx, ny);
  const long ix = m.ix, iy = m.iy;
  const orv::Range rx = m.rx, ry = m.ry;
  nchi.makeReference(orv::MArray<double, 2>(rx, ry));
  flux.makeReference(orv::MArray<double, 2>(rx, ry));
  eflux.makeReference(orv::MArray<double, 2>(rx, ry));
  nchi = 0.0;
  flux = 0.0;
  eflux = 0.0;
  const long dotEvery = static_cast<long>(2 * ny + 1) * (2 * nx + 1) / 100;
  long progress = 0;
  for (int i = rx.first; i <= rx.last; ++i) {
    const double px = ix + static_cast<double>(i) / P;
    for (int j = ry.first; j <= ry.last; ++j) {
      const double py = iy + static_cast<double>(j) / P;
      if (clear_of_edge(image, px, py, _boxlen)) {
        nchi(i, j) = nchi_calc(image, error, px, py, flux(i, j), eflux(i, j), radius, verbose);
      } else {
        nchi(i, j) = 1e100;
        flux(i, j) = 0;
        eflux(i, j) = 1e100;
      }
      ++progress;
    }
    if (verbose == 5 && progress >= dotEvery) {
      std::cout << "." << std::flush;
      progress = 0;
    }
  }
  if (verbose == 5) std::cout << std::endl << std::endl;
}

void psf::mapping(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double x, double y,
                  orv::MArray<double, 2>& nchi, orv::MArray<double, 2>& flux, int nx, int ny, double radius,
                  int verbose) const {
  orv::MArray<double, 2> eflux;
  mapping(image, error, x, y, nchi, flux, eflux, nx, ny, radius, verbose);
}

void psf::mapping_fast(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double x,
                       double y, orv::MArray<double, 2>& nchi, orv::MArray<double, 2>& flux, int nx, int ny,
                       double radius) const {
  const int P = std::max(_subpixel, 1);
  const LocalMap m = local_map(x, y, P, nx, ny);
  const long ix = m.ix, iy = m.iy;
  const orv::Range rx = m.rx, ry = m.ry;
  nchi.makeReference(orv::MArray<double, 2>(rx, ry));
  flux.makeReference(orv::MArray<double, 2>(rx, ry));
  nchi = 0.0;
  flux = 0.0;
  for (int i = rx.first; i <= rx.last; ++i) {
    const double px = ix + static_cast<double>(i) / P;
    for (int j = ry.first; j <= ry.last; ++j) {
      const double py = iy + static_cast<double>(j) / P;
      if (clear_of_edge(image, px, py, _boxlen))
        nchi(i, j) = nchi_calc_fast(image, error, px, py, flux(i, j), radius);
    }
  }
}

void psf::whole_image_maps__(const orv::MArray<float, 2>& image, orv::MArray<double, 2>& nchi,
                             orv::MArray<double, 2>& flux, orv::MArray<double, 2>& eflux, bool zero) const {
  const int P = std::max(_subpixel, 1);
  const int NX = P * image.length(1), NY = P * image.length(2);
  std::cout << " wenn hier abbricht sind Bilder zu gross fuer Speicher ..." << std::endl;
  for (orv::MArray<double, 2>* map : {&nchi, &flux, &eflux}) {
    map->makeReference(orv::MArray<double, 2>(NX, NY));
    // Fresh maps of up to hundreds of MB: huge pages, where offered, let the
    // cells' first writes fault them in 2 MB at a time instead of 4 kB, with
    // no pass over the maps before the cells are computed. Only a hint: the
    // values are the same either way.
    orv::hintFreshArray(*map, orv::PageHint::hugePages);
    if (zero) *map = 0.0;
  }
  std::cout << " alles ok!" << std::endl;
}

void psf::mapping_full(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error,
                       orv::MArray<double, 2>& nchi, orv::MArray<double, 2>& flux,
                       orv::MArray<double, 2>& eflux, double radius, int verbose) const {
  orv::MArray<double, 2>* maps[3] = {&nchi, &flux, &eflux};
  map_bands__(image, error, radius, verbose, 0, maps, [](const psf_maps::Band&) {});
}

// Only the cells of the 3 x 3 pixels about each star, clipped to the maps;
// stars outside the image are skipped.
void psf::mapping_some(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error,
                       orv::MArray<double, 2>& nchi, orv::MArray<double, 2>& flux,
                       orv::MArray<double, 2>& eflux, const orv::MArray<int, 1>& x,
                       const orv::MArray<int, 1>& y, double radius, int verbose) const {
  const int P = std::max(_subpixel, 1);
  whole_image_maps__(image, nchi, flux, eflux, true);
  const psf_maps::Band maps = psf_maps::Band::whole(nchi, flux, eflux);
  psf_maps::RowBuffers buffers;
  long count = 0;
  for (int k = x.first(1); k <= x.last(1); ++k) {
    const int xk = x(k), yk = y(k);
    if (xk < image.first(1) || xk > image.last(1) || yk < image.first(2) || yk > image.last(2)) continue;
    const int dx = xk - image.first(1), dy = yk - image.first(2);
    const int i0 = (dx - 1) * P + 1, i1 = (dx + 2) * P, j0 = (dy - 1) * P + 1, j1 = (dy + 2) * P;
    psf_maps::Progress progress = walk_cells__(image, i0, i1, j0, j1, verbose, count);
    const psf_maps::Plan plan = plan_cells__(image, i0, i1, j0, j1, radius);
    if (plan.hasNoCells()) continue;
    progress.rows = static_cast<long>(plan.ys.size());
    map_rows__(plan, image, error, maps, j0, j1, buffers, progress);
    progress.finish();
  }
  if (verbose > 4) std::cout << std::endl << std::endl;
}
