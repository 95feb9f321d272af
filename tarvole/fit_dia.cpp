// Difference imaging over the stars of a table: a kernel with a free flux factor around every
// star gives its absorption, the image is rescaled by the absorption surface, and a kernel with
// the flux held fixed gives each good star's sky; both become constant or polynomial surfaces.
#include "tarvole/fit_dia.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <memory>
#include <vector>

#include "dia/product_boxes.h"
#include "numerics/polyfit.h"
#include "numerics/printf.h"
#include "orv/fits/fits_image.h"
#include "tarvole/block_means.h"
#include "tarvole/dia_engine.h"
#include "tarvole/names.h"

namespace {

// Per-star values of a set of stars, in table order.
struct Stars {
  std::vector<int> number;  // table number, from 1
  std::vector<double> x, y, value, error;
  // Adds the star when its value and error are both non-zero (a NaN fails).
  void keep_if_measured(int star, double px, double py, double v, double e) {
    if (v == 0.0 || e == 0.0 || std::isnan(v) || std::isnan(e)) return;
    number.push_back(star);
    x.push_back(px);
    y.push_back(py);
    value.push_back(v);
    error.push_back(e);
  }
};

orv::MArray<double, 1> to_array(const std::vector<double>& v) {
  orv::MArray<double, 1> a(static_cast<int>(v.size()));
  for (std::size_t k = 0; k < v.size(); ++k) a(static_cast<int>(k) + 1) = v[k];
  return a;
}

// A surface: a constant or the polynomial sum of coefficient * (x - cx)^i * (y - cy)^j, with the
// powers and the sum in single precision; order < 0 means the constant coef(1).
struct Surface {
  int order = -1;
  orv::MArray<double, 1> coef;
  float at(int x, int y, int cx, int cy) const {
    if (order < 0) return static_cast<float>(coef(1));
    const float dx = static_cast<float>(x - cx), dy = static_cast<float>(y - cy);
    float sum = 0.0f;
    int k = 1;
    for (int j = 0; j <= order; ++j) {
      float py = 1.0f;
      for (int p = 0; p < j; ++p) py *= dy;
      for (int i = 0; i <= order - j; ++i, ++k) {
        float px = 1.0f;
        for (int p = 0; p < i; ++p) px *= dx;
        sum = static_cast<float>(sum + coef(k) * (px * py));
      }
    }
    return sum;
  }
  double gradient_x() const { return order >= 1 ? coef(2) : 0.0; }
  double gradient_y() const { return order >= 1 ? coef(order + 2) : 0.0; }
};

// Mean of the sorted values at positions m/3+1 .. m-m/3 (from 1), and their scatter.
double trimmed_mean(std::vector<double> values, double& scatter) {
  std::sort(values.begin(), values.end());
  const std::size_t m = values.size();
  const std::size_t first = m / 3, last = m - m / 3;  // 0-based [first, last)
  double sum = 0.0;
  for (std::size_t k = first; k < last; ++k) sum += values[k];
  const double t = static_cast<double>(last - first);
  const double mean = sum / t;
  double squares = 0.0;
  for (std::size_t k = first; k < last; ++k) squares += (values[k] - mean) * (values[k] - mean);
  scatter = std::sqrt(squares / (t - 1.0));
  return mean;
}

// The surface of `order` through the stars' values; false (after a failure line) when there are
// too few stars for it. The trimmed scatter goes to `scatter` for order -2.
bool fit_surface(const Stars& s, int order, int cx, int cy, Surface& out, double& scatter, const char* what) {
  const std::size_t m = s.value.size();
  const std::size_t needed = order >= 0 ? static_cast<std::size_t>((order + 1) * (order + 2) / 2) : 1;
  if (m < needed) {
    std::cout << "fit_dia: " << m << " stars for the " << what << " surface of order " << order << ", too few"
              << std::endl;
    return false;
  }
  out.order = order;
  if (order < 0) {
    out.coef.makeReference(orv::MArray<double, 1>(3));
    out.coef = 0.0;
    out.coef(1) = order == -2 ? trimmed_mean(s.value, scatter) : orv::median_exact(to_array(s.value));
    return true;
  }
  std::vector<double> X(m), Y(m);
  for (std::size_t k = 0; k < m; ++k) X[k] = s.x[k] - cx, Y[k] = s.y[k] - cy;
  orv::MArray<double, 1> coef;
  poly2d_nomix(to_array(X), to_array(Y), to_array(s.value), to_array(s.error), order, coef);
  out.coef.makeReference(coef);
  int k = 1;
  for (int j = 0; j <= order; ++j)
    for (int i = 0; i <= order - j; ++i, ++k)
      std::cout << std::setw(5) << k << "   x^" << std::setw(2) << i << "   y^" << std::setw(2) << j
                << std::defaultfloat << std::setw(15) << out.coef(k) << std::endl;
  return true;
}

void fill(Image& target, const Surface& surface, const Pliste& P) {
  for (int y = 1; y <= target.last(2); ++y)
    for (int x = 1; x <= target.last(1); ++x) target(x, y) = surface.at(x, y, P.cx, P.cy);
}

// The surface painted with the stars' values in boxes of +-30, their centres marked 0 (+-mark),
// binned 4 x 4 over non-blank pixels and written with `prefix` before the name of P.outname.
void write_diagnostic(const Image& surface, const Stars& s, int mark, const std::string& prefix,
                      const Pliste& P) {
  Image painted(surface.getShape());
  painted = surface;
  const int nx = painted.last(1), ny = painted.last(2);
  const auto paint = [&](int px, int py, int reach, float value) {
    for (int y = std::max(1, py - reach); y <= std::min(ny, py + reach); ++y)
      for (int x = std::max(1, px - reach); x <= std::min(nx, px + reach); ++x) painted(x, y) = value;
  };
  for (std::size_t k = 0; k < s.value.size(); ++k) {
    const int px = static_cast<int>(s.x[k]), py = static_cast<int>(s.y[k]);
    paint(px, py, 30, static_cast<float>(s.value[k]));
    paint(px, py, mark, 0.0f);
  }
  orv::writeFitsImage(newname(P.outname, prefix),
                      block_means(painted, 4, [&](int x, int y) { return painted(x, y) != P.blank; }));
}

// The star's box, trunc(pos -+ 50) clipped to R.
util::Region star_box(const Image& R, double x, double y) {
  util::Region box(2);
  const auto clip = [](double v, int lo, int hi) { return std::clamp(static_cast<int>(v), lo, hi); };
  box.setRange(1, clip(x - 50.0, R.first(1), R.last(1)), clip(x + 50.0, R.first(1), R.last(1)));
  box.setRange(2, clip(y - 50.0, R.first(2), R.last(2)), clip(y + 50.0, R.first(2), R.last(2)));
  return box;
}

// Flux factor, its error, background constant and its error of one kernel fit around a star.
struct KernelResult {
  double f = 0, ef = 0, k = 0, ek = 0;
};
// The engines of all stars read the reference products through `products`, opened once.
KernelResult fit_star(const Image& R, const Image& I, const Image& eI, double x, double y, double scale,
                      const Pliste& P, const std::shared_ptr<dia_products::ProductBoxes>& products) {
  util::Region box = star_box(R, x, y);
  auto engine = make_dia_engine(0, scale, P);
  engine->products = products;
  set_dia_stamp(*engine, box.getStart(1), box.getEnd(1), box.getStart(2), box.getEnd(2));
  engine->calc_kern(I, eI, box, 1000, true, 0, 0);
  return {engine->factor, engine->factor_err, engine->constant, engine->constant_err};
}

void print_value(double v, int width) { std::cout << printF(width, 5, v, 1); }

}  // namespace

void fit_dia(const Image& R, const Image& /*eR*/, Image& I, Image& eI, Image& A, Image& S,
             const orv::MArray<double, 1>& x, const orv::MArray<double, 1>& y, Coefficients& c, Pliste& P) {
  std::cout << std::endl << "fitting with difference imaging .... " << std::endl;
  P.cx = R.last(1) / 2;
  P.cy = R.last(2) / 2;
  std::cout << " cx = " << P.cx << std::endl << " cy = " << P.cy << std::endl << std::endl;
  const int n = x.length(1);
  const auto inside = [&](double px, double py) {
    return px >= R.first(1) && px < R.last(1) + 1.0 && py >= R.first(2) && py < R.last(2) + 1.0;
  };
  if (P.verbose > 0)
    for (int i = 1; i <= n; ++i) {
      std::cout << std::setw(5) << i;
      print_value(x(i), 15);
      print_value(y(i), 15);
      std::cout << std::endl;
    }

  // A failed fit leaves A and S blank (A may hold the absorption by then) and c at 0.
  const auto fail = [&](const char* cause) {
    A = P.blank;
    fail_fit(P, cause);
    c = 0.0;
  };

  // First pass: free flux factor. The products do not change while the method runs.
  const auto products = std::make_shared<dia_products::ProductBoxes>();
  std::vector<double> abs(n, 0.0), eabs(n, 0.0), sky(n, 0.0), esky(n, 0.0);
  for (int i = 1; i <= n; ++i) {
    if (!inside(x(i), y(i))) {
      std::cout << "star " << i << " at " << x(i) << " " << y(i) << " lies outside the image: skipped"
                << std::endl;
      continue;
    }
    if (!(eI(static_cast<int>(x(i)), static_cast<int>(y(i))) > 0.0f)) continue;
    std::cout << "difference imaging around star " << i << std::endl;
    const KernelResult r = fit_star(R, I, eI, x(i), y(i), 0.0, P, products);
    if (r.f == 0.0) continue;
    const std::size_t k = static_cast<std::size_t>(i - 1);
    abs[k] = 1.0 / r.f;
    eabs[k] = r.ef / (r.f * r.f);
    sky[k] = r.k / r.f;
    esky[k] =
        std::sqrt((r.ek / r.f) * (r.ek / r.f) + ((r.k / (r.f * r.f)) * r.ef) * ((r.k / (r.f * r.f)) * r.ef));
  }
  std::cout << std::endl
            << std::setw(5) << "#" << std::setw(15) << "xpos" << std::setw(15) << "ypos" << std::setw(15)
            << "abs" << std::setw(13) << "eabs" << std::setw(15) << "sky" << std::setw(15) << "esky"
            << std::endl;
  Stars good;
  for (int i = 1; i <= n; ++i) {
    const std::size_t k = static_cast<std::size_t>(i - 1);
    std::cout << std::setw(5) << i;
    print_value(x(i), 15);
    print_value(y(i), 15);
    print_value(abs[k], 15);
    std::cout << " +/-";
    print_value(eabs[k], 9);
    print_value(sky[k], 15);
    std::cout << " +/-";
    print_value(esky[k], 11);
    std::cout << std::endl;
    good.keep_if_measured(i, x(i), y(i), abs[k], eabs[k]);
  }
  std::cout << std::endl;
  if (good.value.empty()) {
    std::cout << "fit_dia: no good star, no absorption" << std::endl;
    return fail("no good star");
  }
  std::cout << " median(abs) = " << orv::median_exact(to_array(good.value)) << std::endl;
  Surface absorption;
  double abs_scatter = 0.0;
  if (!fit_surface(good, P.ordabs, P.cx, P.cy, absorption, abs_scatter, "absorption"))
    return fail("too few stars for the absorption surface");
  if (P.ordabs == -2) {
    P.abserr = abs_scatter;
    std::cout << "stw to abs = " << P.abserr << std::endl;
  }
  fill(A, absorption, P);
  if (P.verbose > 1) write_diagnostic(A, good, 1, "abs_dia-", P);

  // Rescale: I first, then eI tested against the rescaled I.
  for (int py = 1; py <= I.last(2); ++py)
    for (int px = 1; px <= I.last(1); ++px)
      I(px, py) = (I(px, py) != 0.0f && eI(px, py) > 0.0f) ? A(px, py) * I(px, py) : P.blank;
  for (int py = 1; py <= I.last(2); ++py)
    for (int px = 1; px <= I.last(1); ++px)
      eI(px, py) = (I(px, py) != 0.0f && eI(px, py) > 0.0f) ? A(px, py) * eI(px, py) : P.blank;

  // Second pass: flux held fixed, the background constant is the sky.
  std::cout << std::endl;
  Stars skies;
  std::vector<double> second_sky(good.value.size()), second_esky(good.value.size());
  for (std::size_t k = 0; k < good.value.size(); ++k) {
    std::cout << "difference imaging around star " << good.number[k] << std::endl;
    const KernelResult r = fit_star(R, I, eI, good.x[k], good.y[k], 1.0, P, products);
    second_sky[k] = r.k;
    second_esky[k] = r.ek;
  }
  std::cout << std::endl
            << std::setw(5) << "#" << std::setw(15) << "xpos" << std::setw(15) << "ypos" << std::setw(15)
            << "sky" << std::setw(15) << "esky" << std::endl;
  for (std::size_t k = 0; k < good.value.size(); ++k) {
    std::cout << std::setw(5) << good.number[k];
    print_value(good.x[k], 15);
    print_value(good.y[k], 15);
    print_value(second_sky[k], 15);
    std::cout << " +/-";
    print_value(second_esky[k], 11);
    std::cout << std::endl;
    skies.keep_if_measured(good.number[k], good.x[k], good.y[k], second_sky[k], second_esky[k]);
  }
  std::cout << std::endl;
  if (skies.value.empty()) {
    std::cout << "fit_dia: no sky star, no sky" << std::endl;
    return fail("no sky star");
  }
  std::cout << " median(sky) = " << orv::median_exact(to_array(skies.value)) << std::endl;
  Surface skySurface;
  double sky_scatter = 0.0;
  if (!fit_surface(skies, P.ordsky, P.cx, P.cy, skySurface, sky_scatter, "sky"))
    return fail("too few stars for the sky surface");
  double squares = 0.0;
  for (std::size_t k = 0; k < skies.value.size(); ++k) {
    const double d = skies.value[k] -
                     skySurface.at(static_cast<int>(skies.x[k]), static_cast<int>(skies.y[k]), P.cx, P.cy);
    squares += d * d;
  }
  P.skyerr = std::sqrt(squares / (static_cast<double>(skies.value.size()) - 1.0));
  std::cout << "stw to plane = " << P.skyerr << std::endl;
  if (skies.value.size() == 1) {
    // The scatter of one value is undefined; the sky of the one star is still the measurement.
    P.sky_error_undefined = true;
    std::cerr << "warning: the sky error of " << P.outname << " cannot be estimated from one star"
              << std::endl;
  }
  fill(S, skySurface, P);
  if (P.verbose > 1) write_diagnostic(S, skies, 4, "sky_dia-", P);

  c(1) = absorption.coef(1);
  c(2) = skySurface.coef(1);
  c(3) = skySurface.gradient_x();
  c(4) = skySurface.gradient_y();
  c(5) = 0.0;
  c(6) = 0.0;
  std::cout << std::endl
            << "    abs=Ima/Ref"
            << "        sky/abs"
            << "  skygrad x/abs"
            << "  skygrad y/abs"
            << "   diffima     " << std::endl
            << std::fixed << std::setprecision(5) << std::setw(15) << 1.0 / c(1) << std::setprecision(1)
            << std::setw(15) << c(2) * c(1) << std::setprecision(4) << std::setw(15) << c(3) * c(1)
            << std::setw(15) << c(4) * c(1) << "   " << P.outname << std::endl;
}

void fit_dia_outputs(const Pliste& P, std::vector<std::string>& names) {
  if (P.verbose > 1) {
    names.push_back(newname(P.outname, "abs_dia-"));
    names.push_back(newname(P.outname, "sky_dia-"));
  }
}
