// Fits of star profiles to a stamp: the elliptical Moffat on a tilted sky
// (double and single-precision drivers) and the elliptical Gaussian.

#include <cmath>
#include <iostream>
#include <numbers>

#include "numerics/printf.h"
#include "psf/korven_lib.h"

namespace {

constexpr double kFree = 12345.0;

// The usable pixels of a stamp: value != 0 and error > 0.
template <typename T>
bool usable(const orv::MArray<T, 2>& image, const orv::MArray<T, 2>& error, int i, int j) {
  return image(i, j) != 0 && error(i, j) > 0;
}

struct Sample {
  orv::MArray<double, 1> x, y, z, sigma;
};

// The lowest and highest value of a scan and the position of the first highest.
struct Extremes {
  double lowest = 1e100, highest = -1e100;
  int imax = 0, jmax = 0;
};

// Pixels (i outer, j inner, both ascending) for which inSample holds.
template <typename T, typename InSample>
int count_sample(const orv::MArray<T, 2>& image, InSample inSample) {
  int n = 0;
  for (int i = image.first(1); i <= image.last(1); ++i)
    for (int j = image.first(2); j <= image.last(2); ++j) n += inSample(i, j);
  return n;
}

// The n sample points in the same order, with the extremes over the pixels
// for which inExtremes holds (a strictly larger value replaces the maximum).
template <typename T, typename InExtremes, typename InSample>
Sample fill_sample(const orv::MArray<T, 2>& image, const orv::MArray<T, 2>& error, int n,
                   InExtremes inExtremes, InSample inSample, Extremes& e) {
  Sample s{orv::MArray<double, 1>(n), orv::MArray<double, 1>(n), orv::MArray<double, 1>(n),
           orv::MArray<double, 1>(n)};
  int k = 0;
  for (int i = image.first(1); i <= image.last(1); ++i) {
    for (int j = image.first(2); j <= image.last(2); ++j) {
      if (!inExtremes(i, j)) continue;
      const double v = image(i, j);
      if (v < e.lowest) e.lowest = v;
      if (v > e.highest) {
        e.highest = v;
        e.imax = i;
        e.jmax = j;
      }
      if (!inSample(i, j)) continue;
      ++k;
      s.x(k) = i;
      s.y(k) = j;
      s.z(k) = v;
      s.sigma(k) = error(i, j);
    }
  }
  return s;
}

// The Moffat driver; V is the type of the caller's in/out values (double for
// the member, float for the free function), in which the position offsets and
// the sample circle are computed.
template <typename T, typename V>
int moffat_fit(const orv::MArray<T, 2>& image, const orv::MArray<T, 2>& error, V& sky, V& slope_x, V& slope_y,
               V beta_min, V beta_max, V fwhm_min, double fwhm_max, V& x, V& y, V& amplitude, V& a3out,
               V& a4out, V& angle, V& beta, V& chi, int verbose) {
  // The centre as an offset from the nearest pixel (the stamp's index frame).
  const long xi = std::lrint(x), yi = std::lrint(y);
  x = x - static_cast<V>(xi);
  y = y - static_cast<V>(yi);
  const int i0 = image.first(1), i1 = image.last(1), j0 = image.first(2), j1 = image.last(2);
  const V r = static_cast<V>(0.5 * (i1 - i0));
  const V limit = r * (r + 1);
  auto inCircle = [&](int i, int j) { return (i - x) * (i - x) + (j - y) * (j - y) <= limit; };

  auto isUsable = [&](int i, int j) { return usable(image, error, i, j); };
  auto inSample = [&](int i, int j) { return isUsable(i, j) && inCircle(i, j); };
  const int n = count_sample(image, inSample);
  int status = n > 9 ? 0 : -2;
  if (n == 0) {
    chi = 0;
    return -2;
  }
  Extremes e;
  const Sample s = fill_sample(image, error, n, isUsable, inSample, e);

  orv::MArray<double, 1> a(10);
  orv::MArray<int, 1> ia(10);
  a(1) = e.lowest;
  a(2) = e.highest - e.lowest;
  a(3) = 1.1305 / ((static_cast<double>(fwhm_min) + fwhm_max) / 2);
  a(4) = a(3) + 0.1;
  a(5) = e.imax;
  a(6) = e.jmax;
  a(7) = 10.0;
  a(8) = 3.0;
  a(9) = 0.01;
  a(10) = 0.01;
  ia = 1;
  if (slope_x == 0 && slope_y == 0) a(1) = sky;
  if (sky != kFree) {
    a(1) = sky;
    ia(1) = 0;
  }
  if (slope_x != kFree) {
    a(9) = slope_x;
    ia(9) = 0;
  }
  if (slope_y != kFree) {
    a(10) = slope_y;
    ia(10) = 0;
  }
  if (beta_min == beta_max) {
    a(8) = beta_min;
    ia(8) = 0;
  }

  Class_moffat_fit fit(s.x, s.y, s.z, s.sigma, a, ia);
  fit.maxiter = 1000;
  auto printRows = [&] {
    fit.print_title();
    fit.print_a();
    fit.print_ia();
    fit.print_sa();
  };
  if (verbose > 3) printRows();
  fit.calc();
  if (verbose > 3) printRows();
  for (int l = 1; l <= 10; ++l) a(l) = fit.a(l);
  orv::MArray<double, 1> sa(10);
  for (int l = 1; l <= 10; ++l) sa(l) = fit.sa(l);
  chi = static_cast<V>(fit.reduced);

  a(3) = std::fabs(a(3));
  a(4) = std::fabs(a(4));
  // The angle into [-pi/4, pi/4]: the axes (and their errors) swap for angles
  // nearer pi/2.
  const double pi = std::numbers::pi;
  a(7) = std::fmod(a(7), pi);
  a(7) = std::fmod(a(7) + pi, pi);
  if (pi / 4 < a(7) && a(7) < 3 * pi / 4) {
    std::swap(a(3), a(4));
    std::swap(sa(3), sa(4));
    a(7) -= pi / 2;
  }
  if (a(7) >= 3 * pi / 4) a(7) -= pi;

  const double core = 2 * std::sqrt(std::pow(2.0, 1 / a(8)) - 1);
  const double fwhm_u = core / a(3), fwhm_v = core / a(4);
  if (fwhm_u < fwhm_min || fwhm_u > fwhm_max || fwhm_v < fwhm_min || fwhm_v > fwhm_max) {
    status = -3;
  } else if (a(8) < beta_min || a(8) > beta_max) {
    status = -4;
  } else if (a(5) < i0 || a(5) > i1 || a(6) < j0 || a(6) > j1) {
    status = -5;
  } else {
    const int p = static_cast<int>(a(5) < 0 ? a(5) - 1 : a(5));
    const int q = static_cast<int>(a(6) < 0 ? a(6) - 1 : a(6));
    // A centre on the first index of a negative range maps one pixel below it.
    if (p >= i0 && q >= j0 && usable(image, error, p, q) && sa(2) > std::fabs(a(2))) status = -6;
  }

  if (verbose > 2) {
    std::cout << std::fixed;
    const double row[13] = {static_cast<double>(chi),
                            static_cast<double>(fit.iter),
                            static_cast<double>(n),
                            a(1) + a(5) * a(9) + a(6) * a(10),
                            a(9),
                            a(10),
                            a(2),
                            xi + a(5),
                            yi + a(6),
                            fwhm_u,
                            fwhm_v,
                            a(7) / pi * 180,
                            a(8)};
    for (int f = 0; f < 13; ++f) {
      std::cout << std::fixed << printF(12, (f == 1 || f == 2) ? 0 : 2, row[f], 1);
    }
    std::cout << std::fixed << std::endl;
  }

  if (status == 0) {
    sky = static_cast<V>(a(1));
    amplitude = static_cast<V>(a(2));
    a3out = static_cast<V>(a(3));
    a4out = static_cast<V>(a(4));
    x = static_cast<V>(a(5));
    y = static_cast<V>(a(6));
    angle = static_cast<V>(a(7));
    beta = static_cast<V>(a(8));
    slope_x = static_cast<V>(a(9));
    slope_y = static_cast<V>(a(10));
  }
  return status;
}

}  // namespace

template <typename T>
int psf::fmoffat(const orv::MArray<T, 2>& image, const orv::MArray<T, 2>& error, double& sky, double& slope_x,
                 double& slope_y, double beta_min, double beta_max, double fwhm_min, double fwhm_max,
                 double& x, double& y, double& amplitude, double& a3, double& a4, double& angle, double& beta,
                 double& chi, int verbose) const {
  return moffat_fit(image, error, sky, slope_x, slope_y, beta_min, beta_max, fwhm_min, fwhm_max, x, y,
                    amplitude, a3, a4, angle, beta, chi, verbose);
}

template int psf::fmoffat<float>(const orv::MArray<float, 2>&, const orv::MArray<float, 2>&, double&, double&,
                                 double&, double, double, double, double, double&, double&, double&, double&,
                                 double&, double&, double&, double&, int) const;
template int psf::fmoffat<double>(const orv::MArray<double, 2>&, const orv::MArray<double, 2>&, double&,
                                  double&, double&, double, double, double, double, double&, double&, double&,
                                  double&, double&, double&, double&, double&, int) const;

int fmoffat(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, float& sky,
            float& slope_x, float& slope_y, float beta_min, float beta_max, float fwhm_min, double fwhm_max,
            float& x, float& y, float& amplitude, float& a3, float& a4, float& angle, float& beta, float& chi,
            int verbose) {
  return moffat_fit(image, error, sky, slope_x, slope_y, beta_min, beta_max, fwhm_min, fwhm_max, x, y,
                    amplitude, a3, a4, angle, beta, chi, verbose);
}

template <typename T>
int psf::fgauss(const orv::MArray<T, 2>& image, const orv::MArray<T, 2>& error, double& x, double& y,
                double& amplitude, double, int verbose) const {
  const long xi = std::lrint(x), yi = std::lrint(y);
  x = x - xi;
  y = y - yi;
  const int i0 = image.first(1), i1 = image.last(1);
  const double r = 0.5 * (i1 - i0);
  const double limit = r * (r + 1);
  auto inSample = [&](int i, int j) {
    return usable(image, error, i, j) && (i - x) * (i - x) + (j - y) * (j - y) < limit;
  };
  const int n = count_sample(image, inSample);
  const int status = n > 9 ? 0 : -1;
  if (n == 0) {
    amplitude = 0;
    x = 0;
    y = 0;
    return -1;
  }
  Extremes e;
  const Sample s = fill_sample(image, error, n, inSample, inSample, e);
  orv::MArray<double, 1> a(7);
  orv::MArray<int, 1> ia(7);
  a(1) = 0;
  a(2) = e.highest - e.lowest;
  a(3) = 0.6931471805599453;
  a(4) = 0.44317102453383117;
  a(5) = e.imax;
  a(6) = e.jmax;
  a(7) = 1.7453292519943296e-4;
  ia = 1;
  ia(1) = 0;
  Class_gauss_fit fit(s.x, s.y, s.z, s.sigma, a, ia);
  fit.maxiter = 1000;
  fit.calc();
  if (verbose > 3) {
    fit.print_title();
    fit.print_a();
    fit.print_ia();
    fit.print_sa();
  }
  amplitude = fit.a(2);
  x = fit.a(5);
  y = fit.a(6);
  return status;
}

template int psf::fgauss<double>(const orv::MArray<double, 2>&, const orv::MArray<double, 2>&, double&,
                                 double&, double&, double, int) const;
template int psf::fgauss<float>(const orv::MArray<float, 2>&, const orv::MArray<float, 2>&, double&, double&,
                                double&, double, int) const;
