// Whole-image chi maps in pieces: the plan of a block of cells (which cells
// are computed, their offset classes, the candidate pixels of every class
// pair), the progress dots a job owes, and mapping_full run band by band of
// map rows, so that a caller who only reduces the maps never holds them whole.
// Private to the PSF library.
#ifndef PSF_MAP_CELLS_H
#define PSF_MAP_CELLS_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <vector>

#include "psf/korven_lib.h"

namespace psf_maps {

// Pixel rows per band of a banded whole-image job: the band's maps (P cells
// per pixel on each axis) stay small enough to remain in cache between their
// computation and their reduction, a few MB even for wide images.
constexpr int kBandPixelRows = 4;

// One computed cell along one axis: its map index, its nearest pixel and the
// class of its offset from that pixel (cells of one class have the same
// offset and tabulated shift, compared exactly).
struct AxisCell {
  int cell;
  int pixel;
  int klass;
};

// The distinct offsets of the cells along one axis with their shifts.
struct OffsetClass {
  double offset;
  int shift;
};

// A candidate pixel of a cell: its index step in the padded copies, and the
// PSF value and variance there.
struct MaskEntry {
  std::ptrdiff_t step;
  double psf, psf2, var;
};

// The same in single precision for a quick bound on the flux.
struct ScreenEntry {
  std::ptrdiff_t step;
  float psf, psf2;
};

// Cells of one offset class whose pixels follow one another along the first
// axis, so that their pixels lie side by side in storage.
struct Run {
  int klass, first, length;  // first: index into the plan's sorted cells
};

// The computed cells of a block, per axis (the edge rule is a test per axis),
// and what their evaluation shares.
struct Plan {
  std::vector<AxisCell> xs, ys;  // in map order
  std::size_t yClasses = 0;
  bool ready = false;                         // the shift tables exist; else every computed cell is unusable
  int h = 0;                                  // half-size of the chi box
  bool moderatePsf = true;                    // every candidate pixel's PSF value is moderate
  int width = 0;                              // padded row length of the pixel copies the masks step through
  std::vector<std::vector<MaskEntry>> masks;  // [x class * yClasses + y class]
  std::vector<std::vector<ScreenEntry>> screens;  // the masks in single precision
  bool screenablePsf = true;                      // every PSF value is in the screen's range
  std::vector<char> centreUsable;
  std::vector<AxisCell> sorted;  // xs by class, stable
  std::vector<Run> runs;
  std::size_t longest = 0;

  bool hasNoCells() const { return xs.empty() || ys.empty(); }
};

// Work arrays of the row computation (map_rows__), reused from piece to piece
// of a job so that each piece finds them allocated and faulted in.
struct RowBuffers {
  std::vector<double> data, var, inv;  // the pieces' pixels
  std::vector<std::uint64_t> keep;
  std::vector<double> Spp, n, flux, chi2, eflux, nchi;  // the fits of a run's lanes
  std::vector<char> needed, neededLanes, maybe;         // a row's flags, a run's wanted and maybe lanes
  std::vector<float> x, y;                              // the pixels for the screen
};

// A caller that wants nchi only about the cells that can be stars (cells
// with snr eflux <= flux): their nchi and that of every cell within `reach`
// cells of them on both axes. The flux and eflux of all cells of a piece's
// rows are computed first, then the wanted nchi of the rows chiFrom..chiTo;
// a usable cell whose nchi is not wanted keeps NaN.
struct Selection {
  double snr = 0;
  int reach = 0;
  int chiFrom = 1, chiTo = 0;
};

// Progress dots: the count the cell-by-cell walk (first axis outer) keeps and
// leaves to the computation, spread over the computed rows as they are done.
struct Progress {
  long owed = 0;
  long rows = 0, done = 0, shown = 0;

  void row_done() {
    ++done;
    for (const long due = rows > 0 ? owed * done / rows : 0; shown < due; ++shown)
      std::cout << "." << std::flush;
  }
  void finish() {
    for (; shown < owed; ++shown) std::cout << "." << std::flush;
  }
};

// Rows of the three whole-image maps: element (i, j) of a map (i = 1..NX) is
// at index at(i, j) of its pointer, for the rows held.
struct Band {
  double* nchi = nullptr;
  double* flux = nullptr;
  double* eflux = nullptr;
  // With a Selection: 1 where a cell that can be a star lies within reach
  // along the row (rows indexed as the maps).
  char* near = nullptr;
  long NX = 0;
  int row0 = 1;             // first row held
  int first = 1, last = 0;  // the band's own rows

  // The three maps held whole (indices from 1).
  static Band whole(orv::MArray<double, 2>& nchi, orv::MArray<double, 2>& flux,
                    orv::MArray<double, 2>& eflux) {
    Band b;
    b.nchi = nchi.firstElement();
    b.flux = flux.firstElement();
    b.eflux = eflux.firstElement();
    b.NX = nchi.length(1);
    b.last = nchi.length(2);
    return b;
  }
  std::size_t at(int i, int j) const {
    return static_cast<std::size_t>(j - row0) * static_cast<std::size_t>(NX) +
           static_cast<std::size_t>(i - 1);
  }
  // A window of rows from row0 on: its rows r0..computed, those still
  // needed, move to its front, and r0 becomes its first row.
  void slide_to(int r0, int computed) {
    const std::size_t keep = computed >= r0 ? static_cast<std::size_t>(computed - r0 + 1) * NX : 0;
    if (keep > 0) {
      for (double* m : {nchi, flux, eflux}) std::memmove(m, m + at(1, r0), keep * sizeof(double));
      if (near != nullptr) std::memmove(near, near + at(1, r0), keep);
    }
    row0 = r0;
  }
  // All three maps 0 on rows j0..j1 except the cells the plan computes (its
  // cells form one block), which are written once, by the computation.
  void zero_around(const Plan& plan, int j0, int j1) const {
    const bool block = !plan.hasNoCells();
    const int i0 = block ? plan.xs.front().cell : 1, i1 = block ? plan.xs.back().cell : 0;
    for (int j = j0; j <= j1; ++j) {
      const bool computed = block && j >= plan.ys.front().cell && j <= plan.ys.back().cell;
      for (double* m : {nchi, flux, eflux}) {
        double* row = m + at(1, j);
        if (!computed) {
          std::fill_n(row, NX, 0.0);
          continue;
        }
        std::fill_n(row, i0 - 1, 0.0);
        std::fill_n(row + i1, NX - i1, 0.0);
      }
    }
  }
};

}  // namespace psf_maps

template <class Reduce>
void psf::map_bands__(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double radius,
                      int verbose, int margin, orv::MArray<double, 2>* const* whole, Reduce&& reduce,
                      const double* snr) const {
  const int P = std::max(_subpixel, 1);
  const int NX = P * image.length(1), NY = P * image.length(2);
  if (verbose > 2)
    std::cout << " sx0 = " << 1 << std::endl
              << " sx1 = " << NX << std::endl
              << " sy0 = " << 1 << std::endl
              << " sy1 = " << NY << std::endl
              << " _boxlen = " << _boxlen << std::endl;
  // With snr, the nchi a band's reduction reads lies within margin of the
  // band's cells that can be stars, and those are known from their flux: the
  // flux rows run margin rows ahead of the nchi rows, and the window holds
  // margin more rows on either side (the near flags of the rows about the
  // first nchi row, the flux rows past the last).
  const bool select = snr != nullptr && whole == nullptr;
  const int ahead = select ? margin : 0;
  const int bandRows = P * psf_maps::kBandPixelRows;
  const int windowRows = std::min(NY, bandRows + 2 * margin + 2 * ahead);
  std::vector<double> window;
  std::vector<char> near;
  psf_maps::Band band;
  band.NX = NX;
  if (whole != nullptr) {
    whole_image_maps__(image, *whole[0], *whole[1], *whole[2], false);
    band = psf_maps::Band::whole(*whole[0], *whole[1], *whole[2]);
  } else {
    std::cout << " wenn hier abbricht sind Bilder zu gross fuer Speicher ..." << std::endl;
    const std::size_t mapSize = static_cast<std::size_t>(NX) * static_cast<std::size_t>(windowRows);
    window.resize(3 * mapSize);
    band.nchi = window.data();
    band.flux = band.nchi + mapSize;
    band.eflux = band.flux + mapSize;
    if (select) {
      near.resize(mapSize);
      band.near = near.data();
    }
    std::cout << " alles ok!" << std::endl;
  }

  long count = 0;
  psf_maps::Progress progress = walk_cells__(image, 1, NX, 1, NY, verbose, count);
  const psf_maps::Plan plan = plan_cells__(image, 1, NX, 1, NY, radius);
  progress.rows = static_cast<long>(plan.ys.size());
  psf_maps::RowBuffers buffers;
  psf_maps::Selection selection;
  if (select) {
    selection.snr = *snr;
    selection.reach = margin;
  }
  int computed = 0;  // rows up to this one are in the maps (with snr: their flux)
  int chiDone = 0;   // with snr: rows up to this one have their wanted nchi
  for (int f0 = 1; f0 <= NY; f0 += bandRows) {
    const int f1 = std::min(NY, f0 + bandRows - 1);
    const int w0 = std::max(1, f0 - margin), w1 = std::min(NY, f1 + margin);
    const int r0 = std::max(1, w0 - ahead), r1 = std::min(NY, w1 + ahead);
    if (whole == nullptr && r0 > band.row0) band.slide_to(r0, computed);
    const int from = std::max(computed + 1, r0);
    band.zero_around(plan, from, r1);
    if (select && r1 >= from)
      std::fill_n(band.near + band.at(1, from), static_cast<std::size_t>(r1 - from + 1) * NX, 0);
    if (!plan.hasNoCells()) {
      selection.chiFrom = chiDone + 1;
      selection.chiTo = w1;
      map_rows__(plan, image, error, band, from, r1, buffers, progress, select ? &selection : nullptr);
    }
    computed = r1;
    chiDone = w1;
    band.first = f0;
    band.last = f1;
    reduce(static_cast<const psf_maps::Band&>(band));
  }
  if (!plan.hasNoCells()) progress.finish();
  if (verbose > 4) std::cout << std::endl << std::endl;
}

#endif
