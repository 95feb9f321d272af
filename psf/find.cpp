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
  // Gives the file its name once every band is in it.
  void finish() { out_.finish(); }

 private:
  orv::FitsOut out_;
  int NX_;
};

// Smoothed values of n neighbouring cells of one row whose 13-cell disks lie
// in the map: rows[d] points to the first cell's column in row j + d - 2. The
// sum runs over the disk dj outer, di inner, as the general case does; a zero
// value adds +0.0 and leaves the sum as skipping it would. Cells whose own
// value is 0 get 0.
__attribute__((target_clones("avx512f", "avx2", "default"))) void smooth_row(const double* const rows[5],
                                                                             int n, double* out) {
  const double* __restrict r0 = rows[0];
  const double* __restrict r1 = rows[1];
  const double* __restrict r2 = rows[2];
  const double* __restrict r3 = rows[3];
  const double* __restrict r4 = rows[4];
  for (int k = 0; k < n; ++k) {
    const double v[13] = {r0[k],     r1[k - 1], r1[k],     r1[k + 1], r2[k - 2], r2[k - 1], r2[k],
                          r2[k + 1], r2[k + 2], r3[k - 1], r3[k],     r3[k + 1], r4[k]};
    double sum = 0, count = 0;
    for (const double x : v) {
      sum += x;
      count += x != 0 ? 1.0 : 0.0;
    }
    const double mean = sum / (count != 0 ? count : 1.0);
    out[k] = r2[k] != 0 ? mean : 0.0;
  }
}

// The local-minimum test of the cells 2..NX - 1 of one row: rows[0..2] are
// the smoothed rows j - 1, j and j + 1 from cell 1 on, nchi row j likewise. A
// cell is a minimum iff its nchi is not 0 and its smoothed value lies strictly
// below each of its 8 neighbours that is not 0. The first and last cells are
// never minima.
__attribute__((target_clones("avx512f", "avx2", "default"))) void minimum_row(const double* const rows[3],
                                                                              const double* nchi, int NX,
                                                                              char* out) {
  const double* __restrict a = rows[0];
  const double* __restrict b = rows[1];
  const double* __restrict c = rows[2];
  if (NX < 3) {
    std::fill_n(out, NX, 0);
    return;
  }
  for (int k = 1; k < NX - 1; ++k) {
    const double v = b[k];
    const double n[8] = {a[k - 1], a[k], a[k + 1], b[k - 1], b[k + 1], c[k - 1], c[k], c[k + 1]};
    bool lowest = nchi[k] != 0;
    for (const double x : n) lowest &= (v < x) | (x == 0);
    out[k] = lowest;
  }
  out[0] = out[NX - 1] = 0;
}

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
  std::vector<char> minimumRow(static_cast<std::size_t>(NX) + 2);
  const auto reduce = [&](const psf_maps::Band& m) {
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
    // Every smoothed value of the rows b0..b1 is written: 0 on the map's
    // border and where nchi is 0, the disk mean elsewhere, cut at the map's
    // edge within two cells of it.
    const int b0 = std::max(1, m.first - 1), b1 = std::min(NY, m.last + 1);
    binnedRow0 = b0;
    binned.resize(static_cast<std::size_t>(b1 - b0 + 1) * NX);
    for (int j = b0; j <= b1; ++j) {
      double* out = &binnedAt(1, j);
      if (j < 2 || j > NY - 1) {
        std::fill_n(out, NX, 0.0);
        continue;
      }
      if (j < 3 || j > NY - 2 || NX < 5) {
        for (int i = 1; i <= NX; ++i) out[i - 1] = i > 1 && i < NX && nchi(i, j) != 0 ? diskMean(i, j) : 0.0;
        continue;
      }
      const double* rows[5];
      for (int d = 0; d < 5; ++d) rows[d] = m.nchi + m.at(3, j + d - 2);
      smooth_row(rows, NX - 4, out + 2);
      out[0] = out[NX - 1] = 0.0;
      out[1] = nchi(2, j) != 0 ? diskMean(2, j) : 0.0;
      out[NX - 2] = nchi(NX - 1, j) != 0 ? diskMean(NX - 1, j) : 0.0;
    }

    // The band's cells in storage order; the stars are listed first-axis
    // cell outer below.
    const bool flagMaps = verbose > 0;
    const std::size_t bandCells = static_cast<std::size_t>(m.last - m.first + 1) * NX;
    if (flagMaps) {
      minimum.assign(bandCells, 0);
      star.assign(bandCells, 0);
    }
    for (int j = std::max(2, m.first); j <= std::min(NY - 1, m.last); ++j) {
      const double* around[3] = {&binnedAt(1, j - 1), &binnedAt(1, j), &binnedAt(1, j + 1)};
      minimum_row(around, m.nchi + m.at(1, j), NX, minimumRow.data());
      for (int i = 2; i <= NX - 1; ++i) {
        if (!minimumRow[i - 1]) continue;
        const std::size_t k = static_cast<std::size_t>(j - m.first) * NX + static_cast<std::size_t>(i - 1);
        if (flagMaps) minimum[k] = 1;
        const std::size_t at = m.at(i, j);
        if (nchi(i, j) <= nchi_max && snr * m.eflux[at] <= m.flux[at]) {
          if (flagMaps) star[k] = 1;
          stars.emplace_back(i, j, m.flux[at]);
        }
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
  };
  // Whether a cell is a star depends on nchi within three cells of it, and
  // only a cell with snr eflux <= flux can be one: without the map files, nchi
  // is computed only about those (elsewhere NaN, which then decides nothing).
  map_bands__(image, error, radius, verbose, 3, nullptr, reduce, verbose > 0 ? nullptr : &snr);
  for (const auto& file : files) file->finish();
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
