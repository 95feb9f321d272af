// The star finder's reduction of the whole-image chi maps, band by band of map
// rows: the smoothed map (the mean of the non-zero nchi over a 13-cell disk),
// its local minima, the stars among them, and with verbose > 0 the map files.
// A band's smoothed values need two rows of the chi map beyond it and its
// minimum test one row of smoothed values, so each band comes with three rows
// of the maps on either side. Private to the PSF library.
#ifndef PSF_FIND_BANDS_H
#define PSF_FIND_BANDS_H

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "psf/map_cells.h"

namespace psf_maps {

// Smoothed values of n neighbouring cells of one row whose 13-cell disks lie
// in the map: rows[d] points to the first cell's column in row j + d - 2. The
// sum runs over the disk dj outer, di inner, as the general case does; a zero
// value adds +0.0 and leaves the sum as skipping it would. Cells whose own
// value is 0 get 0. A kernel on the paths of orv/lanes.h.
void smooth_row(const double* const rows[5], int n, double* out);

// The local-minimum test of the cells 2..NX - 1 of one row: rows[0..2] are
// the smoothed rows j - 1, j and j + 1 from cell 1 on, nchi row j likewise. A
// cell is a minimum iff its nchi is not 0 and its smoothed value lies strictly
// below each of its 8 neighbours that is not 0. The first and last cells are
// never minima. A kernel on the paths of orv/lanes.h.
void minimum_row(const double* const rows[3], const double* nchi, int NX, char* out);

class MapFile;

// A star: its cell (i, j) and its flux.
using FoundStar = std::tuple<int, int, double>;

// The reduction of find's maps of NX x NY cells: called with each band in
// turn, it lists the band's stars, cells that are local minima of the
// smoothed map with nchi <= nchiMax and snr eflux <= flux.
class FindBands {
 public:
  // Rows of the maps each band comes with on either side.
  static constexpr int kMargin = 3;

  FindBands(int NX, int NY, double snr, double nchiMax, const std::string& name, int verbose);
  FindBands(const FindBands&) = delete;
  FindBands& operator=(const FindBands&) = delete;
  ~FindBands();

  // Reduces the band's own rows m.first..m.last.
  void operator()(const Band& m);
  // Names the map files once every band is in them; the stars, first axis
  // cell outer.
  std::vector<FoundStar> finish();

 private:
  void smooth__(const Band& m);
  double disk_mean__(const Band& m, int i, int j) const;
  void select__(const Band& m);
  void write__(const Band& m);
  double& binned__(int i, int j) {
    return binned_[static_cast<std::size_t>(j - binnedRow0_) * NX_ + static_cast<std::size_t>(i - 1)];
  }

  int NX_, NY_;
  double snr_, nchiMax_;
  // The smoothed map of the band's rows and one row on either side (0 on the
  // map's border rows and columns).
  std::vector<double> binned_;
  int binnedRow0_ = 1;
  // With verbose > 0 the maps are written as they are reduced, and the flag
  // maps of the band's cells exist only for that.
  bool flagMaps_;
  std::vector<std::unique_ptr<MapFile>> files_;
  std::vector<char> minimum_, star_;
  std::vector<char> minimumRow_;
  std::vector<FoundStar> stars_;
};

}  // namespace psf_maps

#endif
