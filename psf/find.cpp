// Star finding: local minima of the smoothed whole-image chi map whose match
// is good enough and whose flux is significant.

#include <algorithm>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "orv/fits/fits_image.h"
#include "psf/korven_lib.h"
#include "psf/map_memory.h"

namespace {


}  // namespace

void psf::find(orv::MArray<float, 2> image, orv::MArray<float, 2> error, orv::MArray<double, 1>& x,
               orv::MArray<double, 1>& y, orv::MArray<double, 1>& flux, double snr, double nchi_max,
               double radius, std::string name, int verbose) const {
  const int P = std::max(_subpixel, 1);
  orv::MArray<double, 2> nchi, fluxMap, eflux;
  mapping_full(image, error, nchi, fluxMap, eflux, radius, verbose);
  const int NX = nchi.length(1), NY = nchi.length(2);

  // Mean of the non-zero values over the 13-cell disk (di² + dj² <= 4), summed
  // dj outer, di inner; cells beyond the map are absent.
  orv::MArray<double, 2> binned(NX, NY);
  psf_maps::prefer_huge_pages(binned);
  binned = 0.0;
  auto diskMean = [&](int i, int j) {
    double sum = 0;
    int count = 0;
    for (int dj = -2; dj <= 2; ++dj)
      for (int di = -2; di <= 2; ++di) {
        const int ii = i + di, jj = j + dj;
        if (di * di + dj * dj > 4 || ii < 1 || ii > NX || jj < 1 || jj > NY) continue;
        const double v = nchi(ii, jj);
        if (v != 0) {
          sum += v;
          ++count;
        }
      }
    return sum / count;
  };
  // Away from the border the whole disk lies in the map: fixed offsets, and a
  // zero value added as +0.0, which leaves the sum as skipping it would.
  const std::ptrdiff_t row = nchi.stride(1), col = nchi.stride(2);
  const std::ptrdiff_t disk[13] = {-2 * col, -row - col, -col,      row - col, -2 * row,  -row,   0,
                                   row,      2 * row,    col - row, col,       row + col, 2 * col};
  for (int j = 2; j <= NY - 1; ++j) {
    const bool edgeRow = j < 3 || j > NY - 2;
    for (int i = 2; i <= NX - 1; ++i) {
      const double* centre = &nchi(i, j);
      if (*centre == 0) continue;
      if (edgeRow || i < 3 || i > NX - 2) {
        binned(i, j) = diskMean(i, j);
        continue;
      }
      double sum = 0;
      int count = 0;
      for (const std::ptrdiff_t d : disk) {
        sum += centre[d];
        count += centre[d] != 0;
      }
      binned(i, j) = sum / count;
    }
  }
  if (verbose > 0) {
    orv::writeFitsImage("nchi_binned_" + name + ".fits", binned, -32);
    orv::writeFitsImage("nchi_" + name + ".fits", nchi, -32);
    orv::writeFitsImage("flux_" + name + ".fits", fluxMap, -32);
    orv::writeFitsImage("error_" + name + ".fits", eflux, -32);
  }

  // The flag maps are only written out, so they exist only with verbose > 0.
  const bool flagMaps = verbose > 0;
  orv::MArray<int, 2> minimum, star;
  if (flagMaps) {
    minimum.makeReference(orv::MArray<int, 2>(NX, NY));
    star.makeReference(orv::MArray<int, 2>(NX, NY));
    minimum = 0;
    star = 0;
  }
  // Walked in storage order; the stars are listed first-axis cell outer below.
  std::vector<std::pair<int, int>> stars;
  for (int j = 2; j <= NY - 1; ++j)
    for (int i = 2; i <= NX - 1; ++i) {
      if (nchi(i, j) == 0) continue;
      const double c = binned(i, j);
      bool isMinimum = true;
      for (int dj = -1; dj <= 1 && isMinimum; ++dj)
        for (int di = -1; di <= 1; ++di) {
          if (di == 0 && dj == 0) continue;
          const double n = binned(i + di, j + dj);
          if (!(c < n || n == 0)) {
            isMinimum = false;
            break;
          }
        }
      if (!isMinimum) continue;
      if (flagMaps) minimum(i, j) = 1;
      if (nchi(i, j) <= nchi_max && snr * eflux(i, j) <= fluxMap(i, j)) {
        if (flagMaps) star(i, j) = 1;
        stars.emplace_back(i, j);
      }
    }
  std::sort(stars.begin(), stars.end());
  if (flagMaps) {
    orv::writeFitsImage("min_" + name + ".fits", minimum, -32);
    orv::writeFitsImage("star_" + name + ".fits", star, -32);
  }

  const int count = static_cast<int>(stars.size());
  x.makeReference(orv::MArray<double, 1>(count));
  y.makeReference(orv::MArray<double, 1>(count));
  flux.makeReference(orv::MArray<double, 1>(count));
  for (int k = 1; k <= count; ++k) {
    const auto [i, j] = stars[k - 1];
    x(k) = (i + P / 2) / P;
    y(k) = (j + P / 2) / P;
    flux(k) = fluxMap(i, j);
  }
}
