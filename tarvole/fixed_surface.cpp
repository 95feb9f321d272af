// Knots, spline and evaluation of the fixed 61-pixel cell surface.
#include "tarvole/fixed_surface.h"

#include <iomanip>
#include <iostream>

#include "numerics/spline.h"
#include "orv/fits/fits_image.h"
#include "tarvole/block_means.h"
#include "tarvole/knots.h"
#include "tarvole/names.h"

bool fixed_cell_surface(const orv::MArray<double, 2>& G, CellAxis ax, CellAxis ay,
                        const orv::MArray<float, 2>& I, orv::MArray<float, 2>& Z, const Pliste& P,
                        const FixedSurfaceStyle& style) {
  std::ostream& os = std::cout;
  const int v = P.verbose;
  const double blank = P.blank;
  Z = P.blank;

  int ix0, ix1, iy0, iy1;
  nonan(G, ix0, ix1, iy0, iy1, blank);
  if (v > 1)
    os << std::endl
       << "binning grid: " << std::endl
       << std::setw(10) << ix0 << std::setw(10) << ix1 << std::setw(10) << iy0 << std::setw(10) << iy1
       << std::endl;
  Knots k;
  KnotStatus status = knot_ranges(ix0, ix1, iy0, iy1, k);
  if (v > 1)
    os << std::endl
       << "median spline grid: " << std::endl
       << std::setw(10) << k.px0 << std::setw(10) << k.px1 << std::setw(10) << k.py0 << std::setw(10) << k.py1
       << std::endl;
  if (status == KnotStatus::ok) status = knot_values(G, ax, ay, P.blank, os, std::cerr, P.outname, k);
  if (status != KnotStatus::ok) {
    report_knot_failure(status, std::cerr, P.outname);
    return false;
  }

  os << std::endl << style.splineLine << std::endl;
  if (style.setFixed) os << std::fixed;
  if (v > 0) {
    if (style.ownPrecisions) os << std::setprecision(1);
    os << std::endl << "x:" << std::endl << k.xs << std::endl;
    os << std::endl << "y:" << std::endl << k.ys << std::endl;
    if (style.ownPrecisions) os << std::setprecision(3);
    os << std::endl << "z:" << std::endl << k.z << std::endl;
  }
  const orv::MArray<double, 2> z2 = knot_second_derivatives(k, os, v, P.outname);

  int jx0, jx1, jy0, jy1;
  nonan(I, jx0, jx1, jy0, jy1, P.blank);
  if (style.printImageBorders && v > 1)
    print_bounds(os, nullptr, {"jx0", "jx1", "jy0", "jy1"}, jx0, jx1, jy0, jy1);

  // The area of the covered cells, ± 30 pixels.
  const int r = fixedCellRadius;
  const PixelBox covered{ax.centre_of(ix0) - r, ax.centre_of(ix1) + r, ay.centre_of(iy0) - r,
                         ay.centre_of(iy1) + r};
  if (v > 1) {
    const std::string word = style.word;
    orv::MArray<float, 2> bin(I.length(1), I.length(2)), median(I.length(1), I.length(2));
    bin = 0.0f;
    median = 0.0f;
    const PixelBox image{jx0, jx1, jy0, jy1};
    paint_cells(G, ax, ay, r, image, bin);
    const PixelBox area{std::max(jx0, covered.x0), std::min(jx1, covered.x1), std::max(jy0, covered.y0),
                        std::min(jy1, covered.y1)};
    paint_knots(k, 3 * fixedCellStep / 2, area, median);
    orv::writeFitsImage(newname(P.outname, word + "_binspline_bin-"), bin);
    orv::writeFitsImage(newname(P.outname, word + "_binspline_median-"), median);
  }

  os << "spline interpolation....." << std::endl;
  const PixelBox evaluated = style.limitToCoveredArea ? covered : PixelBox{1, Z.last(1), 1, Z.last(2)};
  const long errors =
      evaluate_surface(k, z2, Z, evaluated.x0, evaluated.x1, evaluated.y0, evaluated.y1, true);
  if (errors != 0) std::cerr << errors << " errors in " << P.outname << std::endl;
  return true;
}

void write_fixed_surface_blocks(const orv::MArray<float, 2>& Z, const orv::MArray<float, 2>& I,
                                const orv::MArray<float, 2>& eI, const Pliste& P, const char* word) {
  if (P.verbose <= 1) return;
  orv::writeFitsImage(newname(P.outname, std::string(word) + "_binspline-"),
                      block_means(Z, 4, [&](int x, int y) {
                        return Z(x, y) != P.blank && (I(x, y) != 0.0f || eI(x, y) > 0.0f);
                      }));
}
