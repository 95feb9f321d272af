// The lanes of the whole-image chi-map cells: the flux fits of a run of
// neighbouring pixels that share one mask, one lane per pixel, and the quick
// single-precision bound that tells which of them can be stars. Both are
// kernels on the paths of orv/lanes.h, each lane summing its own pixel's terms
// in the mask's order, so that every path gives the bits of nchi_calc.
// Private to the PSF library.
#ifndef PSF_CELL_FITS_H
#define PSF_CELL_FITS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "psf/map_cells.h"

namespace psf_maps {

// Lanes of neighbouring pixels evaluated together: the sums of a block of
// lanes stay in registers over the whole mask.
constexpr int kLanes = 8;

// Lanes of the screen: single precision, twice as many per block.
constexpr int kScreenLanes = 16;

// Magnitudes whose products and quotients in the cell sums stay far from
// underflow and overflow: there a quotient can be formed exactly from the
// reciprocal of its divisor.
bool moderate_magnitude(double v);

// Magnitudes for which the screen's single-precision products and sums of at
// most a few hundred terms stay far from underflow and overflow.
bool screenable(double v, int bits);

// The image and error as doubles over the cells' pixels plus a margin, with
// keep = all bits set where the pixel lies in both arrays and its error is
// > 0, and 0 elsewhere (where data is 0 and var 1, so every term stays finite).
// inv holds 1 / var, and moderate tells whether every usable pixel has a
// moderate variance and a data value that is 0 or moderate.
struct PaddedPixels {
  int x0 = 0, y0 = 0, width = 0, height = 0;
  std::vector<double>&data, &var, &inv;
  std::vector<std::uint64_t>& keep;
  bool moderate = true;

  explicit PaddedPixels(RowBuffers& b) : data(b.data), var(b.var), inv(b.inv), keep(b.keep) {}

  // The pixels xlo..xhi x ylo..yhi, with kLanes more at the end for the lanes
  // a block computes past a run.
  void fill(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, int xlo, int xhi, int ylo,
            int yhi);
  std::size_t index(int p, int q) const {
    return static_cast<std::size_t>(q - y0) * width + static_cast<std::size_t>(p - x0);
  }
};

// The fits of one run of neighbouring pixels, one lane per pixel, in blocks of
// kLanes lanes (lanes past the run are computed and ignored).
struct LaneFits {
  std::vector<double>&Spp, &n, &flux, &chi2, &eflux, &nchi;

  explicit LaneFits(RowBuffers& b)
      : Spp(b.Spp), n(b.n), flux(b.flux), chi2(b.chi2), eflux(b.eflux), nchi(b.nchi) {}
  void resize(std::size_t len) {
    const std::size_t lanes = (len + kLanes - 1) / kLanes * kLanes;
    for (std::vector<double>* v : {&Spp, &n, &flux, &chi2, &eflux, &nchi}) v->resize(lanes);
  }
};

// What fit_run computes of a run's lanes: everything, or only the flux, its
// error and the counts.
enum class Sums { kAll, kFlux };

// The least-squares flux, its error and the normalised chi of len neighbouring
// pixels starting at index base of px, each over the mask's pixels in the
// mask's order, into s. Unusable pixels add nothing. moderate: every pixel and
// PSF value is moderate, so that on the paths with fused multiply-adds the
// quotients D Pp / E² may come from the reciprocals 1 / E² (same values, less
// time); the baseline path always divides. With wanted, only the blocks of
// lanes with a wanted lane (wanted[k] != 0) are summed; the lanes of the others
// keep what they held.
void fit_run(const PaddedPixels& px, std::size_t base, int len, const std::vector<MaskEntry>& mask,
             bool moderate, Sums sums, const char* wanted, LaneFits& s);

// The pixels as the screen reads them: x = D / E² and y = 1 / E² where the
// pixel is usable, 0 elsewhere, in single precision, laid out as the pixel
// copies; false if a usable pixel's values are out of the screen's range.
bool screen_pixels(const PaddedPixels& px, std::vector<float>& x, std::vector<float>& y);

// Which cells of a run of len neighbouring pixels from base can pass
// snr eflux <= flux (snr > 0), into maybe[k] (0 or 1), in blocks of
// 2 kScreenLanes lanes (lanes past the run are computed and ignored).
void screen_run(const std::vector<float>& x, const std::vector<float>& y, std::size_t base, int len,
                const std::vector<ScreenEntry>& mask, double snr, char* maybe);

}  // namespace psf_maps

#endif
