// The star finder's reduction of the whole-image chi maps, band by band (a hot
// source, see psf/CMakeLists.txt): the smoothed rows and the minimum test are
// kernels on the paths of orv/lanes.h, bodies that the compiler vectorises
// lane per cell, each lane summing its own cell's terms in the plain order.

#include "psf/find_bands.h"

#include <algorithm>

#include "orv/fits/fits.h"
#include "orv/lanes.h"
#include "util/region.h"

namespace psf_maps {

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

namespace {

[[gnu::always_inline]] inline void smooth_row_cells(const double* const rows[5], int n, double* out) {
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

void smooth_row_baseline(const double* const rows[5], int n, double* out) { smooth_row_cells(rows, n, out); }
ORV_LANES_AVX2 void smooth_row_avx2(const double* const rows[5], int n, double* out) {
  smooth_row_cells(rows, n, out);
}
ORV_LANES_AVX512 void smooth_row_avx512(const double* const rows[5], int n, double* out) {
  smooth_row_cells(rows, n, out);
}

[[gnu::always_inline]] inline void minimum_row_cells(const double* const rows[3], const double* nchi, int NX,
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

void minimum_row_baseline(const double* const rows[3], const double* nchi, int NX, char* out) {
  minimum_row_cells(rows, nchi, NX, out);
}
ORV_LANES_AVX2 void minimum_row_avx2(const double* const rows[3], const double* nchi, int NX, char* out) {
  minimum_row_cells(rows, nchi, NX, out);
}

}  // namespace

void smooth_row(const double* const rows[5], int n, double* out) {
  orv::lanes::pick(smooth_row_baseline, smooth_row_avx2, smooth_row_avx512)(rows, n, out);
}

// The AVX-512 path runs the AVX2 entry: built for AVX-512 the test of a row
// takes a quarter longer, its byte flags costing more than the wider
// comparisons gain.
void minimum_row(const double* const rows[3], const double* nchi, int NX, char* out) {
  orv::lanes::pick(minimum_row_baseline, minimum_row_avx2, minimum_row_avx2)(rows, nchi, NX, out);
}

FindBands::FindBands(int NX, int NY, double snr, double nchiMax, const std::string& name, int verbose)
    : NX_(NX),
      NY_(NY),
      snr_(snr),
      nchiMax_(nchiMax),
      flagMaps_(verbose > 0),
      minimumRow_(static_cast<std::size_t>(NX) + 2) {
  if (flagMaps_)
    for (const char* stem : {"nchi_binned_", "nchi_", "flux_", "error_", "min_", "star_"})
      files_.push_back(std::make_unique<MapFile>(stem + name + ".fits", NX, NY));
}

FindBands::~FindBands() = default;

void FindBands::operator()(const Band& m) {
  smooth__(m);
  select__(m);
  if (flagMaps_) write__(m);
}

std::vector<FoundStar> FindBands::finish() {
  for (const auto& file : files_) file->finish();
  std::sort(stars_.begin(), stars_.end());
  return stars_;
}

// Mean of the non-zero values over the 13-cell disk (di² + dj² <= 4), summed
// dj outer, di inner; cells beyond the map are absent.
double FindBands::disk_mean__(const Band& m, int i, int j) const {
  double sum = 0;
  int count = 0;
  for (int dj = -2; dj <= 2; ++dj)
    for (int di = -2; di <= 2; ++di) {
      const int ii = i + di, jj = j + dj;
      if (di * di + dj * dj > 4 || ii < 1 || ii > NX_ || jj < 1 || jj > NY_) continue;
      const double v = m.nchi[m.at(ii, jj)];
      if (v != 0) {
        sum += v;
        ++count;
      }
    }
  return sum / count;
}

// Every smoothed value of the band's rows and one row on either side is
// written: 0 on the map's border and where nchi is 0, the disk mean
// elsewhere, cut at the map's edge within two cells of it.
void FindBands::smooth__(const Band& m) {
  const auto nchi = [&m](int i, int j) { return m.nchi[m.at(i, j)]; };
  const int b0 = std::max(1, m.first - 1), b1 = std::min(NY_, m.last + 1);
  binnedRow0_ = b0;
  binned_.resize(static_cast<std::size_t>(b1 - b0 + 1) * NX_);
  for (int j = b0; j <= b1; ++j) {
    double* out = &binned__(1, j);
    if (j < 2 || j > NY_ - 1) {
      std::fill_n(out, NX_, 0.0);
      continue;
    }
    if (j < 3 || j > NY_ - 2 || NX_ < 5) {
      for (int i = 1; i <= NX_; ++i)
        out[i - 1] = i > 1 && i < NX_ && nchi(i, j) != 0 ? disk_mean__(m, i, j) : 0.0;
      continue;
    }
    const double* rows[5];
    for (int d = 0; d < 5; ++d) rows[d] = m.nchi + m.at(3, j + d - 2);
    smooth_row(rows, NX_ - 4, out + 2);
    out[0] = out[NX_ - 1] = 0.0;
    out[1] = nchi(2, j) != 0 ? disk_mean__(m, 2, j) : 0.0;
    out[NX_ - 2] = nchi(NX_ - 1, j) != 0 ? disk_mean__(m, NX_ - 1, j) : 0.0;
  }
}

// The band's local minima and the stars among them, in storage order, with
// their flags where the flag maps are written.
void FindBands::select__(const Band& m) {
  const std::size_t bandCells = static_cast<std::size_t>(m.last - m.first + 1) * NX_;
  if (flagMaps_) {
    minimum_.assign(bandCells, 0);
    star_.assign(bandCells, 0);
  }
  for (int j = std::max(2, m.first); j <= std::min(NY_ - 1, m.last); ++j) {
    const double* around[3] = {&binned__(1, j - 1), &binned__(1, j), &binned__(1, j + 1)};
    minimum_row(around, m.nchi + m.at(1, j), NX_, minimumRow_.data());
    for (int i = 2; i <= NX_ - 1; ++i) {
      if (!minimumRow_[i - 1]) continue;
      const std::size_t k = static_cast<std::size_t>(j - m.first) * NX_ + static_cast<std::size_t>(i - 1);
      if (flagMaps_) minimum_[k] = 1;
      const std::size_t at = m.at(i, j);
      if (m.nchi[at] <= nchiMax_ && snr_ * m.eflux[at] <= m.flux[at]) {
        if (flagMaps_) star_[k] = 1;
        stars_.emplace_back(i, j, m.flux[at]);
      }
    }
  }
}

// The band's rows of the six map files.
void FindBands::write__(const Band& m) {
  const auto flag = [&](const std::vector<char>& f) {
    return [&](int i, int j) {
      return f[static_cast<std::size_t>(j - m.first) * NX_ + static_cast<std::size_t>(i - 1)];
    };
  };
  files_[0]->write_rows(m.first, m.last, [&](int i, int j) { return binned__(i, j); });
  files_[1]->write_rows(m.first, m.last, [&](int i, int j) { return m.nchi[m.at(i, j)]; });
  files_[2]->write_rows(m.first, m.last, [&](int i, int j) { return m.flux[m.at(i, j)]; });
  files_[3]->write_rows(m.first, m.last, [&](int i, int j) { return m.eflux[m.at(i, j)]; });
  files_[4]->write_rows(m.first, m.last, flag(minimum_));
  files_[5]->write_rows(m.first, m.last, flag(star_));
}

}  // namespace psf_maps
