// Circular-aperture photometry with a given sky level or the exact median of a
// sky annulus.

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <limits>
#include <vector>

#include "psf/korven_lib.h"

namespace {

struct ApertureSum {
  int n = 0;         // pixels in the aperture
  double sum = 0.0;  // their values
  double w = 0.0;    // their inverse variances
};

// Pixel centres strictly inside radius r about (x, y), searched over the box
// lrint(x) ± (K + 2), K = (int)(r + 1). Every such pixel must lie inside the
// image and be usable (value != blank, error > 0); the first one that is not
// stops the sum and fails it, as does an aperture without any pixel centre.
bool aperture_sum(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, int ix, int iy,
                  double x, double y, double r, double blank, ApertureSum& out) {
  const int K = static_cast<int>(r + 1.0) + 2;
  const double r2 = r * r;
  const int first1 = image.first(1), last1 = image.last(1);
  const int first2 = image.first(2), last2 = image.last(2);
  for (int j = -K; j <= K; ++j) {
    const int py = iy + j;
    const double dy = py - y;
    const double dy2 = dy * dy;
    if (dy2 >= r2) continue;
    for (int i = -K; i <= K; ++i) {
      const int px = ix + i;
      const double dx = px - x;
      if (dx * dx + dy2 >= r2) continue;
      if (px < first1 || px > last1 || py < first2 || py > last2) return false;
      const float v = image(px, py);
      const float e = error(px, py);
      if (v == blank || !(e > 0)) return false;
      ++out.n;
      out.sum += v;
      out.w += 1.0 / (static_cast<double>(e) * e);
    }
  }
  return out.n > 0;
}

// The edge rule: the aperture's box lies inside the image on both axes. An
// error image of another extent than the image fails every measurement.
bool clear_of_edge(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, int ix, int iy,
                   double r) {
  for (int d = 1; d <= 2; ++d)
    if (error.first(d) != image.first(d) || error.last(d) != image.last(d)) return false;
  return image.first(1) + r < ix && ix < image.last(1) - r + 1 && image.first(2) + r < iy &&
         iy < image.last(2) - r + 1;
}

// The exact median of the numbers in v (reordered) together with nan_count
// NaN values, which order after every number: the middle element, or the mean
// of the two middle ones for an even count, formed as orv::median_exact forms
// it for doubles. v holds at least one number or nan_count is positive.
double median_in_place(std::vector<float>& v, int nan_count) {
  const std::size_t numbers = v.size();
  const std::size_t n = numbers + nan_count;
  const std::size_t upper = n / 2;  // 0-based rank of the upper middle element
  if (upper >= numbers) return std::numeric_limits<double>::quiet_NaN();
  const auto mid = v.begin() + static_cast<std::ptrdiff_t>(upper);
  std::nth_element(v.begin(), mid, v.end());
  const double high = *mid;
  if (n % 2 == 1) return high;
  const double low = *std::max_element(v.begin(), mid);
  const double mean = (low + high) * 0.5;
  if (std::isinf(mean) && std::isfinite(low) && std::isfinite(high)) return low * 0.5 + high * 0.5;
  return mean;
}

// Pulls the rows j0..j1 of columns c0..c1 towards the cache before they are
// scanned: the stars of a field lie far apart, so every row is a cache miss,
// and asking for all of them at once overlaps the waits.
void prefetch_rows(const orv::MArray<float, 2>& a, int c0, int c1, int j0, int j1) {
  for (int j = j0; j <= j1; ++j) {
    const float* row = &a(c0, j);
    const float* end = &a(c1, j);
    for (const float* p = row; p <= end; p += 16) __builtin_prefetch(p);
    __builtin_prefetch(end);
  }
}

}  // namespace

void aperture(orv::MArray<float, 2> image, orv::MArray<float, 2> error, double x, double y, double& flux,
              double& eflux, double r, double sky, double blank, int verbose) {
  const int ix = static_cast<int>(std::lrint(x));
  const int iy = static_cast<int>(std::lrint(y));
  if (!clear_of_edge(image, error, ix, iy, r)) {
    flux = 0;
    eflux = -1.0;
    return;
  }
  ApertureSum a;
  const bool ok = aperture_sum(image, error, ix, iy, x, y, r, blank, a);
  if (verbose > 1)
    std::cout << "sky flux per pixel: " << std::setw(9) << sky
              << " number of pixel in object aperture: " << std::setw(5) << a.n << std::endl;
  if (!ok) {
    flux = 0;
    eflux = -1.0;
    return;
  }
  flux = a.sum - a.n * sky;
  eflux = std::sqrt(1.0 / a.w);
}

void aperture_sky(orv::MArray<float, 2> image, orv::MArray<float, 2> error, double x, double y, double& flux,
                  double& eflux, double r, double rin, double rout, double blank, int verbose) {
  const int ix = static_cast<int>(std::lrint(x));
  const int iy = static_cast<int>(std::lrint(y));
  flux = 0;
  eflux = -1.0;
  if (!clear_of_edge(image, error, ix, iy, r)) return;

  // Usable annulus pixels inside the image, gathered into a buffer that is
  // kept from call to call (NaN values are only counted: they order last).
  // Each row is scanned over the two stretches that can meet the annulus,
  // found from the circle half-widths with one pixel to spare; the exact test
  // decides for every pixel scanned.
  static thread_local std::vector<float> sky_pixels;
  sky_pixels.clear();
  int nan_count = 0;
  const int Ks = static_cast<int>(rout + 1.0) + 2;
  const double rin2 = rin * rin;
  const double rout2 = rout * rout;
  const int ilo = std::max(-Ks, image.first(1) - ix), ihi = std::min(Ks, image.last(1) - ix);
  const int jlo = std::max(-Ks, image.first(2) - iy), jhi = std::min(Ks, image.last(2) - iy);
  if (ilo > ihi || jlo > jhi) return;
  prefetch_rows(image, ix + ilo, ix + ihi, iy + jlo, iy + jhi);
  prefetch_rows(error, ix + ilo, ix + ihi, iy + jlo, iy + jhi);
  auto scan = [&](int py, double dy2, int from, int to) {
    for (int i = std::max(from, ilo); i <= std::min(to, ihi); ++i) {
      const int px = ix + i;
      const double dx = px - x;
      const double d2 = dx * dx + dy2;
      if (d2 < rin2 || d2 >= rout2) continue;
      const float v = image(px, py);
      const float e = error(px, py);
      if (v == blank || !(e > 0)) continue;
      if (std::isnan(v))
        ++nan_count;
      else
        sky_pixels.push_back(v);
    }
  };
  for (int j = jlo; j <= jhi; ++j) {
    const int py = iy + j;
    const double dy = py - y;
    const double dy2 = dy * dy;
    if (dy2 >= rout2) continue;
    const double wo = std::sqrt(rout2 - dy2);
    const int outerFrom = static_cast<int>(std::ceil(x - wo)) - 1 - ix;
    const int outerTo = static_cast<int>(std::floor(x + wo)) + 1 - ix;
    if (dy2 < rin2) {
      const double wi = std::sqrt(rin2 - dy2);
      const int holeFrom = static_cast<int>(std::floor(x - wi)) + 2 - ix;
      const int holeTo = static_cast<int>(std::ceil(x + wi)) - 2 - ix;
      if (holeFrom <= holeTo) {
        scan(py, dy2, outerFrom, holeFrom - 1);
        scan(py, dy2, holeTo + 1, outerTo);
        continue;
      }
    }
    scan(py, dy2, outerFrom, outerTo);
  }
  if (sky_pixels.empty() && nan_count == 0) return;
  const int sky_count = static_cast<int>(sky_pixels.size()) + nan_count;
  const double sky = median_in_place(sky_pixels, nan_count);

  ApertureSum a;
  const bool ok = aperture_sum(image, error, ix, iy, x, y, r, blank, a);
  if (verbose > 1)
    std::cout << "sky flux per pixel: " << std::setw(9) << sky
              << " number of pixel in object aperture: " << std::setw(5) << a.n << " "
              << " number of pixel in sky aperture: " << std::setw(5) << sky_count << std::endl;
  if (!ok) return;
  flux = a.sum - a.n * sky;
  eflux = std::sqrt(1.0 / a.w);
}
