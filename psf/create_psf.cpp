// The fine-grid PSF built from standard stars: per star a stamp, an optional
// Moffat fit for the local sky, sky subtraction, division onto the fine grid
// and the sum; an outer Moffat extension when the PSF outgrows the fit box.

#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>

#include "orv/fits/fits_image.h"
#include "psf/korven_lib.h"

namespace {

constexpr double kExcluded = -1e10;

// A numbered file name such as "starpsf_007.fits".
std::string numbered(const char* format, int k) {
  char name[64];
  std::snprintf(name, sizeof name, format, k);
  return name;
}

// Names the file, then writes the image in single precision.
template <class T>
void write_float(const std::string& name, const orv::MArray<T, 2>& a) {
  std::cout << name << std::endl;
  orv::writeFitsImage(name, a, -32);
}

// A copy of img over c ± h on both axes, indexed -h..h.
orv::MArray<float, 2> stamp(const orv::MArray<float, 2>& img, int cx, int cy, int h) {
  orv::MArray<float, 2> s(orv::Range(-h, h), orv::Range(-h, h));
  for (int j = -h; j <= h; ++j)
    for (int i = -h; i <= h; ++i) s(i, j) = img(cx + i, cy + j);
  return s;
}

bool inside(const orv::MArray<float, 2>& img, int cx, int cy, int h) {
  return cx - h >= img.first(1) && cx + h <= img.last(1) && cy - h >= img.first(2) && cy + h <= img.last(2);
}

}  // namespace

void psf::create_psf(orv::MArray<float, 2> img, orv::MArray<float, 2> err, orv::MArray<double, 1> x,
                     orv::MArray<double, 1> y, orv::MArray<double, 1> sky, orv::MArray<double, 1> slope_x,
                     orv::MArray<double, 1> slope_y, orv::MArray<double, 1> weight, double beta_min,
                     double beta_max, double fwhm_min, double fwhm_max, bool fit, int verbose) {
  const int B = _boxlen, R = _analyt, S = _subgrid, N = _slen;
  const int n = x.length(1);
  const std::string dashes(156, '-'), equals(156, '=');
  if (verbose > 2) {
    std::cout << "constructing PSF using " << n << " standard stars..." << std::endl << std::endl;
    std::cout << "        nchi  iterations        good     surface          ax          ay   amplitude"
              << "        xcen        ycen       xfwhm       yfwhm       angle        beta" << std::endl;
    if (fit) std::cout << dashes << std::endl;
  }
  for (orv::MArray<double, 2>* a : {&_psf, &_epsf}) {
    if (a->isEmpty() || a->first(1) != -N || a->last(1) != N || a->first(2) != -N || a->last(2) != N)
      a->makeReference(orv::MArray<double, 2>(orv::Range(-N, N), orv::Range(-N, N)));
  }
  _psf = 0.0;
  _epsf = 0.0;
  double W = 0.0;
  orv::MArray<double, 2> Pk(orv::Range(-N, N), orv::Range(-N, N));
  orv::MArray<double, 2> Ek(orv::Range(-N, N), orv::Range(-N, N));

  for (int k = x.first(1); k <= x.last(1); ++k) {
    const int ix = static_cast<int>(std::lrint(x(k))), iy = static_cast<int>(std::lrint(y(k)));
    const double dx = x(k) - ix, dy = y(k) - iy;
    // A star whose stamps reach outside the image cannot be cut.
    if (!inside(img, ix, iy, B) || !inside(img, ix, iy, R) || !inside(err, ix, iy, B) ||
        !inside(err, ix, iy, R)) {
      std::cout << "star " << k << " at x = " << x(k) << ", y = " << y(k)
                << " too near the image edge, skipped" << std::endl;
      continue;
    }
    orv::MArray<float, 2> boxImage = stamp(img, ix, iy, B), boxError = stamp(err, ix, iy, B);
    if (fit) {
      double xc = x(k), yc = y(k), amplitude, a3, a4, angle, beta, chi;
      const int status = fmoffat(boxImage, boxError, sky(k), slope_x(k), slope_y(k), beta_min, beta_max,
                                 fwhm_min, fwhm_max, xc, yc, amplitude, a3, a4, angle, beta, chi, verbose);
      if (status != 0 && verbose > 2) std::cout << " err" << status << " in fmoffat" << std::endl;
    }
    orv::MArray<float, 2> starImage = R == B ? boxImage : stamp(img, ix, iy, R);
    orv::MArray<float, 2> starError = R == B ? boxError : stamp(err, ix, iy, R);
    if (verbose > 7) {
      write_float(numbered("starpsf0_%3.3i.fits", k), starImage);
      write_float(numbered("e.starpsf0_%3.3i.fits", k), starError);
    }
    const double a[7] = {0.0, static_cast<double>(S), 0.0, 0.0, static_cast<double>(S), -S * dx, -S * dy};
    int zeros = 0;
    for (int j = -R; j <= R; ++j) {
      for (int i = -R; i <= R; ++i) {
        float& v = starImage(i, j);
        if (v == 0) {
          ++zeros;
          continue;
        }
        v = static_cast<float>(v - ((i * slope_x(k) + sky(k)) + j * slope_y(k)));
      }
    }
    if (weight(k) != 0) {
      if (!(zeros < (2 * R + 1) * (2 * R + 1) / 10.0 && starImage(0, 0) != 0)) continue;
      divvy(starImage, starError, Pk, Ek, a, verbose);
      if (verbose > 7) {
        write_float(numbered("starpsf_%3.3i.fits", k), Pk);
        write_float(numbered("e.starpsf_%3.3i.fits", k), Ek);
      }
      W += weight(k);
    } else {
      divvy(starImage, starError, Pk, Ek, a, verbose);
    }
    for (int j = -N; j <= N; ++j) {
      for (int i = -N; i <= N; ++i) {
        double& p = _psf(i, j);
        double& e = _epsf(i, j);
        p = (p == kExcluded || Pk(i, j) == 0) ? kExcluded : p + Pk(i, j);
        e = (e == kExcluded || Ek(i, j) < 0) ? kExcluded : e + Ek(i, j) * Ek(i, j);
      }
    }
  }

  double A = 0.0;
  for (int k = weight.first(1); k <= weight.last(1); ++k) A += weight(k);
  for (int j = -N; j <= N; ++j) {
    for (int i = -N; i <= N; ++i) {
      double& p = _psf(i, j);
      double& e = _epsf(i, j);
      if (W != 0) {
        p = p == kExcluded ? 0 : p / W * A;
        e = e == kExcluded ? 0 : std::sqrt(e) / W * A;
      } else {
        p = p == kExcluded ? 0 : p;
        e = e == kExcluded ? 0 : std::sqrt(e);
      }
    }
  }

  // The PSF beyond the fit box: a Moffat profile fitted to the inner part.
  if (B < R) {
    const int h = B * S;
    orv::MArray<double, 2> T(orv::Range(-h, h), orv::Range(-h, h)), ET(orv::Range(-h, h), orv::Range(-h, h));
    for (int j = -h; j <= h; ++j) {
      for (int i = -h; i <= h; ++i) {
        T(i, j) = _psf(i, j);
        ET(i, j) = _epsf(i, j);
      }
    }
    double fsky = 0, fsx = 0, fsy = 0, xc = 0, yc = 0, amplitude = 0, a3 = 0, a4 = 0, angle = 0, beta = 0,
           chi;
    const int status = fmoffat(T, ET, fsky, fsx, fsy, beta_min, beta_max, S * fwhm_min, S * fwhm_max, xc, yc,
                               amplitude, a3, a4, angle, beta, chi, 0);
    if (status != 0) {
      // Without a fitted profile the cells built from the stars stay.
      std::cout << " err" << status << " in fmoffat" << std::endl;
    } else {
      const double c = std::cos(angle), s = std::sin(angle);
      const double limit = static_cast<double>(h) * (h - 1);
      for (int i = -N; i <= N; ++i) {
        for (int j = -N; j <= N; ++j) {
          if (static_cast<double>(i) * i + static_cast<double>(j) * j < limit) continue;
          const double di = i - xc, dj = j - yc;
          const double u = c * di + s * dj, v = c * dj - s * di;
          _psf(i, j) = amplitude * std::pow(1 + (a3 * u) * (a3 * u) + (a4 * v) * (a4 * v), -beta);
          _epsf(i, j) = std::sqrt(_psf(i, j));
        }
      }
    }
  }

  if (verbose > 2) {
    if (verbose != 3) std::cout << equals << std::endl;
    binning(0, 0);
    write_binned_psf("psftest00.fits");
    double fsky = 0, fsx = 0, fsy = 0, xc = 0, yc = 0, amplitude, a3, a4, angle, beta, chi;
    const int status = fmoffat(_binned_psf, _ebinned_psf, fsky, fsx, fsy, beta_min, beta_max, fwhm_min,
                               fwhm_max, xc, yc, amplitude, a3, a4, angle, beta, chi, verbose);
    if (status != 0) std::cout << " err" << status << " in fmoffat" << std::endl;
  }
}

void psf::create_psf(orv::MArray<float, 2> img, orv::MArray<float, 2> err, orv::MArray<double, 1> x,
                     orv::MArray<double, 1> y, orv::MArray<double, 1> sky, orv::MArray<double, 1> slope_x,
                     orv::MArray<double, 1> slope_y, double beta_min, double beta_max, double fwhm_min,
                     double fwhm_max, bool fit, int verbose) {
  orv::MArray<double, 1> weight(x.length(1));
  weight = 0.0;
  create_psf(img, err, x, y, sky, slope_x, slope_y, weight, beta_min, beta_max, fwhm_min, fwhm_max, fit,
             verbose);
}

void psf::create_psf(orv::MArray<float, 2> img, orv::MArray<float, 2> err, orv::MArray<double, 1> x,
                     orv::MArray<double, 1> y, double sky, double slope_x, double slope_y, double beta_min,
                     double beta_max, double fwhm_min, double fwhm_max, bool fit, int verbose) {
  const int n = x.length(1);
  orv::MArray<double, 1> skies(n), slopes_x(n), slopes_y(n), weight(n);
  skies = sky;
  slopes_x = slope_x;
  slopes_y = slope_y;
  weight = 0.0;
  create_psf(img, err, x, y, skies, slopes_x, slopes_y, weight, beta_min, beta_max, fwhm_min, fwhm_max, fit,
             verbose);
}
