// Star finding: local minima of the smoothed whole-image chi map whose match
// is good enough and whose flux is significant. The maps are computed and
// reduced band by band of rows: a band's smoothed values need two rows of the
// chi map beyond it and its minimum test one row of smoothed values, so each
// band is handed over with three rows of the maps on either side.

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "orv/fits/fits.h"
#include "psf/korven_lib.h"
#include "psf/map_cells.h"
#include "util/region.h"

namespace {

// A single-precision FITS image of a whole map, written band by band of rows
// as the maps are reduced.
class MapFile {
 public:
  MapFile(const std::string& name, int NX, int NY) : out_(name), NX_(NX) {
    out_.setBitpixOut(-32);
    out_.setOrigin("ORV FITS IO class, July 2002");
    const int lengths[2] = {NX, NY};
    out_.openData(-32, 2, lengths);
  }
  // Rows j0..j1 of the map, value(i, j) for the cells i = 1..NX.
  template <class Value>
  void write_rows(int j0, int j1, Value value) {
    if (j1 < j0) return;
    orv::MArray<float, 2> rows(NX_, j1 - j0 + 1);
    for (int j = j0; j <= j1; ++j)
      for (int i = 1; i <= NX_; ++i) rows(i, j - j0 + 1) = static_cast<float>(value(i, j));
    util::Region r(2);
    r.setRange(1, 1, NX_);
    r.setRange(2, j0, j1);
    out_.setRegion(r);
    out_ << rows;
  }

 private:
  orv::FitsOut out_;
  int NX_;
};

}  // namespace

void psf::find(orv::MArray<float, 2> image, orv::MArray<float, 2> error, orv::MArray<double, 1>& x,
               orv::MArray<double, 1>& y, orv::MArray<double, 1>& flux, double snr, double nchi_max,
               double radius, std::string name, int verbose) const {
  const int P = std::max(_subpixel, 1);
  const int NX = P * image.length(1), NY = P * image.length(2);

  // The smoothed map of the band's rows and one row on either side (0 on the
  // map's border rows and columns).
  std::vector<double> binned;
  int binnedRow0 = 1;
  auto binnedAt = [&](int i, int j) -> double& {
    return binned[static_cast<std::size_t>(j - binnedRow0) * NX + static_cast<std::size_t>(i - 1)];
  };

  // With verbose > 0 the maps are written as they are reduced, and the flag
  // maps exist only for that.
  std::vector<std::unique_ptr<MapFile>> files;
  if (verbose > 0)
    for (const char* stem : {"nchi_binned_", "nchi_", "flux_", "error_", "min_", "star_"})
      files.push_back(std::make_unique<MapFile>(stem + name + ".fits", NX, NY));
  std::vector<char> minimum, star;

  std::vector<std::tuple<int, int, double>> stars;  // cell (i, j) and its flux
  map_bands__(image, error, radius, verbose, 3, nullptr, [&](const psf_maps::Band& m) {
    auto nchi = [&](int i, int j) { return m.nchi[m.at(i, j)]; };
    // Mean of the non-zero values over the 13-cell disk (di² + dj² <= 4),
    // summed dj outer, di inner; cells beyond the map are absent.
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
    // Away from the border the whole disk lies in the map: fixed offsets, and
    // a zero value added as +0.0, which leaves the sum as skipping it would.
    const std::ptrdiff_t row = 1, col = NX;
    const std::ptrdiff_t disk[13] = {-2 * col, -row - col, -col,      row - col, -2 * row,  -row,   0,
                                     row,      2 * row,    col - row, col,       row + col, 2 * col};
    const int b0 = std::max(1, m.first - 1), b1 = std::min(NY, m.last + 1);
    binnedRow0 = b0;
    binned.assign(static_cast<std::size_t>(b1 - b0 + 1) * NX, 0.0);
    for (int j = std::max(2, b0); j <= std::min(NY - 1, b1); ++j) {
      const bool edgeRow = j < 3 || j > NY - 2;
      for (int i = 2; i <= NX - 1; ++i) {
        const double* centre = m.nchi + m.at(i, j);
        if (*centre == 0) continue;
        if (edgeRow || i < 3 || i > NX - 2) {
          binnedAt(i, j) = diskMean(i, j);
          continue;
        }
        double sum = 0;
        int count = 0;
        for (const std::ptrdiff_t d : disk) {
          sum += centre[d];
          count += centre[d] != 0;
        }
        binnedAt(i, j) = sum / count;
      }
    }

    // The band's cells in storage order; the stars are listed first-axis
    // cell outer below.
    const bool flagMaps = verbose > 0;
    const std::size_t bandCells = static_cast<std::size_t>(m.last - m.first + 1) * NX;
    if (flagMaps) {
      minimum.assign(bandCells, 0);
      star.assign(bandCells, 0);
    }
    for (int j = std::max(2, m.first); j <= std::min(NY - 1, m.last); ++j)
      for (int i = 2; i <= NX - 1; ++i) {
        if (nchi(i, j) == 0) continue;
        const double c = binnedAt(i, j);
        bool isMinimum = true;
        for (int dj = -1; dj <= 1 && isMinimum; ++dj)
          for (int di = -1; di <= 1; ++di) {
            if (di == 0 && dj == 0) continue;
            const double n = binnedAt(i + di, j + dj);
            if (!(c < n || n == 0)) {
              isMinimum = false;
              break;
            }
          }
        if (!isMinimum) continue;
        const std::size_t k = static_cast<std::size_t>(j - m.first) * NX + static_cast<std::size_t>(i - 1);
        if (flagMaps) minimum[k] = 1;
        const std::size_t at = m.at(i, j);
        if (nchi(i, j) <= nchi_max && snr * m.eflux[at] <= m.flux[at]) {
          if (flagMaps) star[k] = 1;
          stars.emplace_back(i, j, m.flux[at]);
        }
      }

    if (flagMaps) {
      auto flag = [&](const std::vector<char>& f) {
        return [&](int i, int j) {
          return f[static_cast<std::size_t>(j - m.first) * NX + static_cast<std::size_t>(i - 1)];
        };
      };
      files[0]->write_rows(m.first, m.last, [&](int i, int j) { return binnedAt(i, j); });
      files[1]->write_rows(m.first, m.last, nchi);
      files[2]->write_rows(m.first, m.last, [&](int i, int j) { return m.flux[m.at(i, j)]; });
      files[3]->write_rows(m.first, m.last, [&](int i, int j) { return m.eflux[m.at(i, j)]; });
      files[4]->write_rows(m.first, m.last, flag(minimum));
      files[5]->write_rows(m.first, m.last, flag(star));
    }
  });
  std::sort(stars.begin(), stars.end());

  const int count = static_cast<int>(stars.size());
  x.makeReference(orv::MArray<double, 1>(count));
  y.makeReference(orv::MArray<double, 1>(count));
  flux.makeReference(orv::MArray<double, 1>(count));
  for (int k = 1; k <= count; ++k) {
    const auto [i, j, f] = stars[k - 1];
    x(k) = (i + P / 2) / P;
    y(k) = (j + P / 2) / P;
    flux(k) = f;
  }
}
