// Difference imaging over the field: one kernel over the sampling region gives the flux factor f
// of the image; the absorption is 1/f and the sky the binned and splined field I/f - R.
#include "tarvole/fit_fielddia.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "tarvole/binspline.h"
#include "tarvole/dia_engine.h"
#include "tarvole/names.h"

void fit_fielddia(const Image& R, const Image& /*eR*/, const Image& I, const Image& eI, Image& A, Image& S,
                  Coefficients& c, Pliste& P) {
  std::cout << std::endl << "fitting with difference imaging .... " << std::endl;
  P.cx = R.last(1) / 2;
  P.cy = R.last(2) / 2;
  std::cout << " cx = " << P.cx << std::endl << " cy = " << P.cy << std::endl << std::endl;

  util::Region region(2);
  const auto clip = [](int v, int lo, int hi) { return std::clamp(v, lo, hi); };
  region.setRange(1, clip(P.region.getStart(1), R.first(1), R.last(1)),
                  clip(P.region.getEnd(1), R.first(1), R.last(1)));
  region.setRange(2, clip(P.region.getStart(2), R.first(2), R.last(2)),
                  clip(P.region.getEnd(2), R.first(2), R.last(2)));
  const int x1 = region.getStart(1), x2 = region.getEnd(1), y1 = region.getStart(2), y2 = region.getEnd(2);
  const int boxlen = std::max(x2 - x1 + 1, y2 - y1 + 1);
  std::cout << " difference imaging in field " << x1 << ":" << x2 << "," << y1 << ":" << y2 << std::endl;
  std::cout << " boxlen = " << boxlen << std::endl;

  auto engine = make_dia_engine(P.ordsky, 0.0, P);
  set_dia_stamp(*engine, x1, x2, y1, y2);
  engine->calc_kern(I, eI, region, boxlen, false, 0, 0);
  const double f = engine->factor, ef = engine->factor_err, k = engine->constant, ek = engine->constant_err;
  engine.reset();
  std::cout << P.outname << " abs = " << f << std::endl;
  std::cout << P.outname << " eabs = " << ef << std::endl;
  if (f == 0.0 || !std::isfinite(f)) {
    // An unfitted cell: no flux factor to divide by.
    std::cout << "fit_fielddia: no flux factor for " << P.outname << ", no absorption" << std::endl;
    fail_fit(P, "no flux factor");
    c = 0.0;
    return;
  }
  std::cout << P.outname << " sky = " << k / f << std::endl;
  std::cout << P.outname
            << " esky = " << std::sqrt((ek / f) * (ek / f) + ((k / (f * f)) * ef) * ((k / (f * f)) * ef))
            << std::endl;

  // The reference itself serves as the first image of the surface (its blanks stay blank).
  Image Y(R.getShape()), field(A.getShape());
  for (int y = 1; y <= I.last(2); ++y)
    for (int x = 1; x <= I.last(1); ++x)
      Y(x, y) = I(x, y) != P.blank ? static_cast<float>(I(x, y) / f) : P.blank;
  field = P.blank;
  if (!binspline("sky", R, Y, field, P)) fail_fit(P, "binned-spline fit failed: sky surface");
  const float absorption = static_cast<float>(1.0 / f);
  for (int y = 1; y <= I.last(2); ++y)
    for (int x = 1; x <= I.last(1); ++x)
      if (field(x, y) != P.blank) {
        A(x, y) = absorption;
        S(x, y) = field(x, y);
      }
  c = 0.0;
  c(1) = 1.0 / f;
  c(2) = field(I.last(1) / 2, I.last(2) / 2);
}

void fit_fielddia_outputs(const Pliste& P, std::vector<std::string>& names) {
  if (P.verbose > 0) {
    names.push_back(newname(P.outname, "sky_binspline-"));
    names.push_back("skygrid.fits");
    names.push_back("skygrid.tab");
  }
  if (P.verbose > 2) {
    names.push_back(newname(P.outname, "sky_binspline_bin-"));
    names.push_back(newname(P.outname, "sky_binspline_median-"));
  }
}
