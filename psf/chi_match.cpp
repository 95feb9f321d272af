// Chi-square matching: the pixel-grid PSF at a trial position fitted to the
// image by weighted least squares with the flux as the only parameter.

#include <algorithm>
#include <cmath>

#include "numerics/convert.h"
#include "orv/fits/fits.h"
#include "psf/korven_lib.h"

namespace {

constexpr double kUnusable = 1e100;

bool inside(const orv::MArray<float, 2>& a, int i, int j) {
  return i >= a.first(1) && i <= a.last(1) && j >= a.first(2) && j <= a.last(2);
}

// The offsets -h..h on axis d of a box about c that lie inside both images.
void box_window(int c, int h, int d, const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error,
                int& lo, int& hi) {
  lo = std::max({-h, image.first(d) - c, error.first(d) - c});
  hi = std::min({h, image.last(d) - c, error.last(d) - c});
}

// The least-squares flux of a PSF (psfAt) over the box window, for the pixels
// that used(i, j) accepts, and the chi-square of the match with the PSF
// variance (varAt) scaled by flux².
struct FluxFit {
  int n = 0;
  double Spp = 0, flux = 0, chi2 = 0;
  bool usable() const { return n >= 2 && Spp != 0; }
};

template <class PsfAt, class VarAt, class Used>
FluxFit fit_flux(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, int ix, int iy,
                 int ilo, int ihi, int jlo, int jhi, PsfAt psfAt, VarAt varAt, Used used) {
  FluxFit r;
  double Spd = 0;
  for (int i = ilo; i <= ihi; ++i) {
    for (int j = jlo; j <= jhi; ++j) {
      if (!used(i, j)) continue;
      const double Pp = psfAt(i, j);
      const double E = error(ix + i, iy + j);
      r.Spp += Pp * Pp / (E * E);
      Spd += image(ix + i, iy + j) * Pp / (E * E);
      ++r.n;
    }
  }
  if (!r.usable()) return r;
  r.flux = Spd / r.Spp;
  for (int i = ilo; i <= ihi; ++i) {
    for (int j = jlo; j <= jhi; ++j) {
      if (!used(i, j)) continue;
      const double E = error(ix + i, iy + j);
      const double d = psfAt(i, j) * r.flux - image(ix + i, iy + j);
      r.chi2 += d * d / (varAt(i, j) * r.flux * r.flux + E * E);
    }
  }
  return r;
}

}  // namespace

// The box half-size (int)(|radius| + 0.5) is kept within the tables (R) and
// pixels outside the image are unusable, so no radius reads outside either.
double psf::nchi_calc(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double x,
                      double y, double& flux, double& eflux, double radius, int) const {
  flux = 0;
  eflux = kUnusable;
  if (!tables_ready__()) return kUnusable;
  const star_spot__ s = locate__(x, y);
  if (!inside(image, s.ix, s.iy) || !inside(error, s.ix, s.iy)) return kUnusable;
  if (_all_binned_psf(s.sx, s.sy, 0, 0) == 0 || !(error(s.ix, s.iy) > 0)) return kUnusable;
  const int h = box_half__(radius);
  const double r2 = radius * radius;
  int ilo, ihi, jlo, jhi;
  box_window(s.ix, h, 1, image, error, ilo, ihi);
  box_window(s.iy, h, 2, image, error, jlo, jhi);
  auto used = [&](int i, int j) {
    return _all_binned_psf(s.sx, s.sy, i, j) != 0 && error(s.ix + i, s.iy + j) > 0 &&
           (i - s.fx) * (i - s.fx) + (j - s.fy) * (j - s.fy) < r2;
  };
  auto psfAt = [&](int i, int j) { return _all_binned_psf(s.sx, s.sy, i, j); };
  auto varAt = [&](int i, int j) { return _all_e2binned_psf(s.sx, s.sy, i, j); };
  const FluxFit fit = fit_flux(image, error, s.ix, s.iy, ilo, ihi, jlo, jhi, psfAt, varAt, used);
  if (!fit.usable()) return kUnusable;
  flux = fit.flux;
  eflux = std::sqrt(1 / fit.Spp);
  return std::sqrt(fit.chi2 / (fit.n - 1));
}

double psf::nchi_calc(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double x,
                      double y, double& flux, double radius, int verbose) const {
  double eflux;
  return nchi_calc(image, error, x, y, flux, eflux, radius, verbose);
}

double psf::nchi_calc(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double x,
                      double y, double radius, int verbose) const {
  double flux, eflux;
  return nchi_calc(image, error, x, y, flux, eflux, radius, verbose);
}

double psf::nchi_calc_fast(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, double x,
                           double y, double& flux, double radius) const {
  if (!tables_ready__()) return 0.0;
  const star_spot__ s = locate__(x, y);
  if (!inside(image, s.ix, s.iy) || !inside(error, s.ix, s.iy)) return 0.0;
  if (_all_binned_psf(s.sx, s.sy, 0, 0) == 0 || !(error(s.ix, s.iy) > 0)) return 0.0;
  const int h = box_half__(radius);
  const double r2 = radius * radius;
  int ilo, ihi, jlo, jhi;
  box_window(s.ix, h, 1, image, error, ilo, ihi);
  box_window(s.iy, h, 2, image, error, jlo, jhi);
  auto psfAt = [&](int i, int j) { return _all_binned_psf(s.sx, s.sy, i, j); };
  auto varAt = [&](int i, int j) { return _all_e2binned_psf(s.sx, s.sy, i, j); };
  // The circle makes the mask; the PSF and error tests are made while summing.
  auto used = [&](int i, int j) {
    return (i - s.fx) * (i - s.fx) + (j - s.fy) * (j - s.fy) < r2 && psfAt(i, j) != 0 &&
           error(s.ix + i, s.iy + j) > 0;
  };
  const FluxFit fit = fit_flux(image, error, s.ix, s.iy, ilo, ihi, jlo, jhi, psfAt, varAt, used);
  if (!fit.usable()) return 0.0;
  flux = fit.flux;
  return std::sqrt(fit.chi2 / (fit.n - 1));
}

void psf::measure_flux(orv::MArray<float, 2> image, orv::MArray<float, 2> error, double x, double y,
                       double radius, double& flux, double& eflux, double& nchi, int index, int verbose) {
  flux = eflux = nchi = 0;
  const int B = _boxlen;
  const int ix = static_cast<int>(std::lrint(x)), iy = static_cast<int>(std::lrint(y));
  if (!(image.first(1) + B + 2 <= ix && ix <= image.last(1) - B - 2 && image.first(2) + B + 2 <= iy &&
        iy <= image.last(2) - B - 2))
    return;
  const double fx = x - ix, fy = y - iy;
  binning(fx, fy);
  if (verbose > 3) {
    write_binned_psf("shifted_psf_" + int2str(index, 5) + ".fits");
    orv::MArray<float, 2> stamp(orv::Range(-B, B), orv::Range(-B, B));
    for (int j = -B; j <= B; ++j)
      for (int i = -B; i <= B; ++i) stamp(i, j) = image(ix + i, iy + j);
    orv::FitsOut out("object_psf_" + int2str(index, 5) + ".fits");
    out << stamp;
  }
  if (!inside(error, ix, iy) || _binned_psf(0, 0) == 0 || !(error(ix, iy) > 0)) return;
  // The box is limited to the pixel-grid PSF (B may exceed R).
  const int h = std::min(B, _analyt);
  const double r2 = radius * radius;
  int ilo, ihi, jlo, jhi;
  box_window(ix, h, 1, image, error, ilo, ihi);
  box_window(iy, h, 2, image, error, jlo, jhi);
  auto used = [&](int i, int j) {
    return (i - fx) * (i - fx) + (j - fy) * (j - fy) < r2 && _binned_psf(i, j) != 0 &&
           error(ix + i, iy + j) > 0;
  };
  auto psfAt = [&](int i, int j) { return _binned_psf(i, j); };
  auto varAt = [&](int i, int j) { return _ebinned_psf(i, j) * _ebinned_psf(i, j); };
  const FluxFit fit = fit_flux(image, error, ix, iy, ilo, ihi, jlo, jhi, psfAt, varAt, used);
  if (!fit.usable()) return;
  flux = fit.flux;
  eflux = std::sqrt(1 / fit.Spp);
  nchi = std::sqrt(fit.chi2 / (fit.n - 1));
}
