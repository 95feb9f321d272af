// Construction of the difference-imaging engine: parameter numbering, footprint and the
// normalised, zero-sum kernel basis.
#include <climits>
#include <cmath>
#include <cstdint>
#include <iostream>

#include "dia/dia.h"
#include "numerics/end_process.h"

// Standard output first, so that what the engine printed comes before the message.
void dia_fatal(const std::string& message, int status) {
  std::cout.flush();
  endProcess(message, status);
}

namespace {

// x^e·y^f as a double, exact while the product fits 64 bits (it always does for kernel
// sizes and degrees in use); a power 0 gives 1, also at 0.
double monomial(int x, int e, int y, int f) {
  std::int64_t m = 1;
  bool exact = true;
  for (int k = 0; k < e && exact; ++k) exact = !__builtin_mul_overflow(m, static_cast<std::int64_t>(x), &m);
  for (int k = 0; k < f && exact; ++k) exact = !__builtin_mul_overflow(m, static_cast<std::int64_t>(y), &m);
  if (exact) return static_cast<double>(m);
  return std::pow(static_cast<double>(x), e) * std::pow(static_cast<double>(y), f);
}

}  // namespace

diffima::diffima(orv::MArray<int, 1> d_, orv::MArray<double, 1> sig_, const int* half, int kern_order_,
                 int bg_order_, int flux_basis_, double scale_, std::string refpath_, bool keep_zero_var_)
    : conv_flag(false),
      norm_kern(true),
      verbose(0),
      factor(0.0),
      factor_err(0.0),
      constant(0.0),
      constant_err(0.0),
      keep_zero_var(keep_zero_var_),
      ngauss(0),
      kern_order(kern_order_),
      bg_order(bg_order_),
      flux_basis(flux_basis_),
      scale(static_cast<float>(scale_)),
      cut_radius(0),
      nbg(0),
      mat(0),
      mx0(0),
      mx1(0),
      my0(0),
      my1(0),
      bx0(0),
      bx1(0),
      by0(0),
      by1(0),
      lef(0),
      lefx(0),
      lefy(0),
      hx(half[0]),
      hy(half[1]),
      range_x(-half[0], half[0]),
      range_y(-half[1], half[1]),
      mm(1, 1),
      vv(1),
      cc(1, 1, 1, 1),
      e2cc(1, 1, 1, 1),
      refpath(refpath_),
      use_calc_mask(false),
      basis_in_memory(false),
      numberofstamps(1),
      stampxy(1, 1, 1),
      no_ref_error(false),
      no_image_error(false) {
  if (hx < 0 || hy < 0) dia_fatal("wrong half in diffima", 255);
  if (kern_order < 0) dia_fatal("wrong kern_order in diffima", 255);
  quad.makeReference(orv::MArray<bool, 2>(range_x, range_y));

  d.makeReference(d_);
  sig.makeReference(sig_);
  const char* const wrongModel = "wrong d() or sig() in diffima";
  if (d.isEmpty() || sig.isEmpty() || d.first(1) != 1 || sig.first(1) != 1 || d.length(1) != sig.length(1))
    dia_fatal(wrongModel, 255);
  ngauss = d.length(1);
  for (int n = 1; n <= ngauss; ++n)
    if (d(n) < 0 || !(sig(n) > 0.0) || !std::isfinite(sig(n))) dia_fatal(wrongModel, 255);

  // Parameter numbering: background terms, then per basis function its spatial terms; the
  // basis function whose first parameter is the flux basis gets one parameter only.
  nbg = bg_order < 0 ? 0 : (bg_order + 1) * (bg_order + 2) / 2;
  mat = nbg;
  for (int n = 1; n <= ngauss; ++n)
    for (int i = 0; i <= d(n); ++i)
      for (int j = 0; j <= d(n) - i; ++j) {
        const int s = (mat + 1 == nbg + flux_basis) ? 0 : kern_order;
        mat += (s + 1) * (s + 2) / 2;
      }

  for (int y = -hy; y <= hy; ++y)
    for (int x = -hx; x <= hx; ++x) {
      const double u = x / (hx + 0.5);
      const double v = y / (hy + 0.5);
      quad(x, y) = u * u + v * v < 1.0;
    }

  const orv::Range params(nbg + 1, mat);
  basis.makeReference(orv::MArray<double, 3>(range_x, range_y, params));
  quad_basis.makeReference(orv::MArray<double, 3>(range_x, range_y, params));
  basis = 0.0;
  quad_basis = 0.0;
  NB.makeReference(orv::MArray<double, 1>(params));
  NB = 0.0;
  positiv.makeReference(orv::MArray<bool, 1>(params));
  positiv = true;

  // Each basis function: m·exp(−r²/(2σ²)) over the footprint, formed through ln|m|, divided by
  // the sum of its magnitudes.
  orv::MArray<double, 2> work(range_x, range_y);
  bool fluxIsSingle = false;
  int p = nbg + 1;
  for (int n = 1; n <= ngauss; ++n) {
    const double twoSigma2 = 2.0 * sig(n) * sig(n);
    for (int i = 0; i <= d(n); ++i)
      for (int j = 0; j <= d(n) - i; ++j) {
        work = 0.0;
        double sum = 0.0;
        bool positive = true;
        for (int y = -hy; y <= hy; ++y)
          for (int x = -hx; x <= hx; ++x) {
            if (!quad(x, y)) continue;
            const double m = monomial(x, i, y, j);
            const double r2 = static_cast<double>(x * x + y * y);
            if (m > 0) {
              work(x, y) = std::exp(std::log(m) - r2 / twoSigma2);
              sum += work(x, y);
            } else if (m < 0) {
              work(x, y) = -std::exp(std::log(-m) - r2 / twoSigma2);
              sum -= work(x, y);
              positive = false;
            }
          }
        if (sum == 0.0 || !std::isfinite(sum)) dia_fatal(wrongModel, 255);
        const bool isFlux = (p == nbg + flux_basis);
        if (isFlux) fluxIsSingle = positive;
        const int s = isFlux ? 0 : kern_order;
        for (int k = 0; k <= s; ++k)
          for (int l = 0; l <= s - k; ++l) {
            positiv(p) = positive;
            for (int y = -hy; y <= hy; ++y)
              for (int x = -hx; x <= hx; ++x) basis(x, y, p) = work(x, y) / sum;
            NB(p) = sum;
            ++p;
          }
      }
  }
  if (flux_basis >= 1 && !fluxIsSingle) dia_fatal("wrong flux_basis in diffima", 255);

  // Zero-sum rule: positive basis functions give their flux to the flux basis.
  if (flux_basis >= 1) {
    const int f = nbg + flux_basis;
    for (int q = nbg + 1; q <= mat; ++q) {
      if (q == f || !positiv(q)) continue;
      for (int y = -hy; y <= hy; ++y)
        for (int x = -hx; x <= hx; ++x) basis(x, y, q) -= basis(x, y, f);
    }
  }
  for (int q = nbg + 1; q <= mat; ++q)
    for (int y = -hy; y <= hy; ++y)
      for (int x = -hx; x <= hx; ++x) quad_basis(x, y, q) = basis(x, y, q) * basis(x, y, q);
}

diffima::~diffima() = default;

void diffima::set_mx_bx(int mx0_, int mx1_, int bx0_, int bx1_) {
  mx0 = mx0_;
  mx1 = mx1_;
  bx0 = bx0_;
  bx1 = bx1_;
}
