// Analytic PSFs on the fine grid: elliptical Gaussian and elliptical Moffat
// profiles given by their FWHM along two rotated axes.

#include <cmath>
#include <iostream>

#include "psf/korven_lib.h"

namespace {

// Clears the fine grid (made with -N..N when it lacks those ranges) and
// returns the sum of the profile over the central pixel's cells; the rotated
// coordinates of cell (i, j) are u = cos·i + sin·j, v = cos·j - sin·i.
template <typename Profile>
double central_norm(orv::MArray<double, 2>& psf, orv::MArray<double, 2>& epsf, int subgrid, int slen,
                    double angle, Profile profile) {
  for (orv::MArray<double, 2>* a : {&psf, &epsf}) {
    if (a->isEmpty() || a->first(1) != -slen || a->last(1) != slen || a->first(2) != -slen ||
        a->last(2) != slen)
      a->makeReference(orv::MArray<double, 2>(orv::Range(-slen, slen), orv::Range(-slen, slen)));
  }
  psf = 0.0;
  epsf = 0.0;
  const double c = std::cos(angle), s = std::sin(angle);
  double norm = 0.0;
  const int h = subgrid / 2;
  for (int i = -h; i <= h; ++i)
    for (int j = -h; j <= h; ++j) norm += profile(c * i + s * j, c * j - s * i);
  return norm;
}

// psf = profile / norm and epsf = 1.0 in every cell.
template <typename Profile>
void scale_profile(orv::MArray<double, 2>& psf, orv::MArray<double, 2>& epsf, int slen, double angle,
                   double norm, Profile profile) {
  const double c = std::cos(angle), s = std::sin(angle);
  const double scale = 1 / norm;
  for (int j = -slen; j <= slen; ++j) {
    for (int i = -slen; i <= slen; ++i) {
      psf(i, j) = profile(c * i + s * j, c * j - s * i) * scale;
      epsf(i, j) = 1.0;
    }
  }
}

}  // namespace

void psf::generate_gauss(double fwhm_x, double fwhm_y, double angle, int verbose) {
  const double sx = fwhm_x * _subgrid / 2.3548200450309493;
  const double sy = fwhm_y * _subgrid / 2.3548200450309493;
  auto g = [&](double u, double v) { return std::exp(-(u * u / (2 * sx * sx) + v * v / (2 * sy * sy))); };
  const double norm = central_norm(_psf, _epsf, _subgrid, _slen, angle, g);
  std::cout << "norm=" << norm << std::endl;
  scale_profile(_psf, _epsf, _slen, angle, norm, g);
  if (verbose > 2) {
    binning(0, 0);
    write_binned_psf("psftest00.fits");
    double x = 0, y = 0, amplitude = 0;
    const int status = fgauss(_binned_psf, _ebinned_psf, x, y, amplitude, 0.0, verbose);
    std::cout << "amplitude=" << amplitude << ", x=" << x << ", y=" << y << std::endl;
    if (status != 0) std::cout << " err" << status << " in fgauss" << std::endl;
  }
}

void psf::generate_moffat(double fwhm_x, double fwhm_y, double angle, double beta, int verbose) {
  const double F1 = fwhm_x * _subgrid, F2 = fwhm_y * _subgrid;
  const double c = 2 * std::sqrt(std::pow(2.0, 1 / beta) - 1);
  auto m = [&](double u, double v) {
    const double cu = c * u / F1, cv = c * v / F2;
    return std::pow(1 + cu * cu + cv * cv, -beta);
  };
  const double norm = central_norm(_psf, _epsf, _subgrid, _slen, angle, m);
  std::cout << norm << std::endl;
  scale_profile(_psf, _epsf, _slen, angle, norm, m);
  if (verbose > 2) {
    binning(0, 0);
    write_binned_psf("psftest00.fits");
    double sky = 0, slope_x = 0, slope_y = 0, x = 0, y = 0;
    double amplitude, a3, a4, fitted_angle, fitted_beta, chi;
    const int status = fmoffat(_binned_psf, _ebinned_psf, sky, slope_x, slope_y, beta, beta, 0.0,
                               2 * std::sqrt(F1 * F1 + F2 * F2), x, y, amplitude, a3, a4, fitted_angle,
                               fitted_beta, chi, verbose);
    if (status != 0) std::cout << " err" << status << " in fmoffat" << std::endl;
  }
}
