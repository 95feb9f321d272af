// The row-wise sky: bright objects of the reference masked by a running median, then a sky that
// varies only with y.
#include "tarvole/row_sky.h"

#include <algorithm>
#include <iostream>

#include "tarvole/binspline.h"
#include "tarvole/names.h"
#include "tarvole/running_median.h"

orv::MArray<float, 2> bright_object_mask(const orv::MArray<float, 2>& R, const orv::MArray<float, 2>& med) {
  const int nx = R.last(1), ny = R.last(2);
  orv::MArray<float, 2> mask(R.length(1), R.length(2));
  mask = 1.0f;
  constexpr int half = 10;
  for (int y = half + 1; y <= ny - half; ++y)
    for (int x = half + 1; x <= nx - half; ++x) {
      if (med(x, y) == 0.0f) continue;
      const float difference = R(x, y) - med(x, y);
      if (!(difference > 100.0)) continue;
      for (int j = -half; j <= half; ++j)
        for (int i = -half; i <= half; ++i)
          if (static_cast<double>(i) * i + static_cast<double>(j) * j <= 100.0) mask(x + i, y + j) = 0.0f;
    }
  return mask;
}

void fit_fielddiaY(const Image& R, const Image& /*eR*/, const Image& I, const Image& /*eI*/, Image& A,
                   Image& S, Coefficients& c, Pliste& P) {
  std::cout << std::endl << "fitting with difference imaging and spline in Y direction.... " << std::endl;
  const int nx = I.last(1), ny = I.last(2);
  Image med(R.length(1), R.length(2));
  running_median(R, 10, med);
  const Image mask = bright_object_mask(R, med);
  Image Rm(R.length(1), R.length(2)), Im(R.length(1), R.length(2));
  for (int y = 1; y <= R.last(2); ++y)
    for (int x = 1; x <= R.last(1); ++x) {
      const bool masked = mask(x, y) != 1.0f;
      Rm(x, y) = masked ? P.blank : R(x, y);
      Im(x, y) = masked ? P.blank : I(x, y);
    }
  Image out(A.length(1), A.length(2));
  if (!binsplineY("sky", Rm, Im, out, P)) fail_fit(P, "binned-spline fit failed: sky rows");
  std::cout << "HALLO" << std::endl;
  A.describeSelf();
  S.describeSelf();
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x)
      if (out(x, y) != P.blank) {
        A(x, y) = 1.0f;
        S(x, y) = out(x, y);
      }
  c(1) = 1.0;
  c(2) = out(std::max(nx / 2, 1), std::max(ny / 2, 1));
  for (int i = 3; i <= 6; ++i) c(i) = 0.0;
}

void fit_fielddiaY_outputs(const Pliste& P, std::vector<std::string>& names) {
  if (P.verbose > 0) {
    names.push_back("skygrid.fits");
    names.push_back("skygrid.tab");
    names.push_back(newname(P.outname, "sky_binspline-"));
  }
  if (P.verbose > 2) {
    names.push_back(newname(P.outname, "sky_binspline_bin-"));
    names.push_back(newname(P.outname, "sky_binspline_median-"));
  }
}
