// The lanes of the whole-image chi-map cells (a hot source, see
// psf/CMakeLists.txt). Each kernel is one body over the lane types below with
// an entry point per processor path of orv/lanes.h; the path is picked at
// every call. Every lane sums its own pixel's terms in the mask's order with
// the operations nchi_calc uses, so every path gives its bits.

#include "psf/cell_fits.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "orv/lanes.h"

namespace psf_maps {

bool moderate_magnitude(double v) {
  const double a = std::fabs(v);
  return a >= 0x1p-200 && a <= 0x1p200;
}

bool screenable(double v, int bits) {
  const double a = std::fabs(v);
  return a >= std::ldexp(1.0, -bits) && a <= std::ldexp(1.0, bits);
}

void PaddedPixels::fill(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, int xlo,
                        int xhi, int ylo, int yhi) {
  x0 = xlo;
  y0 = ylo;
  width = xhi - xlo + 1;
  height = yhi - ylo + 1;
  const std::size_t n = static_cast<std::size_t>(width) * height + kLanes;
  data.assign(n, 0.0);
  var.assign(n, 1.0);
  inv.assign(n, 1.0);
  keep.assign(n, 0);
  const int qlo = std::max({ylo, image.first(2), error.first(2)});
  const int qhi = std::min({yhi, image.last(2), error.last(2)});
  const int plo = std::max({xlo, image.first(1), error.first(1)});
  const int phi = std::min({xhi, image.last(1), error.last(1)});
  double* __restrict D = data.data();
  double* __restrict E2 = var.data();
  double* __restrict inverse = inv.data();
  std::uint64_t* __restrict usable = keep.data();
  bool allModerate = true;
  for (int q = qlo; q <= qhi; ++q)
    for (int p = plo; p <= phi; ++p) {
      const double E = error(p, q);
      if (!(E > 0)) continue;
      const std::size_t k = index(p, q);
      D[k] = image(p, q);
      E2[k] = E * E;
      inverse[k] = 1 / E2[k];
      usable[k] = ~std::uint64_t{0};
      allModerate = allModerate && moderate_magnitude(E2[k]) && (D[k] == 0 || moderate_magnitude(D[k]));
    }
  moderate = allModerate;
}

namespace {

using Lanes = orv::lanes::Vector<double, kLanes>;
using LaneBits = orv::lanes::Vector<std::uint64_t, kLanes>;
using ScreenLanes = orv::lanes::Vector<float, kScreenLanes>;
using ScreenBits = orv::lanes::Vector<std::uint32_t, kScreenLanes>;

// q = a / b lane by lane, correctly rounded, from y = 1 / b (correctly
// rounded): the product a y is off by at most about 1.5 units in the last
// place; one correction by the exact remainder a - b q brings it within one
// unit, and a second gives the correctly rounded quotient (Markstein's
// theorem). It needs a, b and a / b far from underflow and overflow, which
// moderate values ensure, and fused multiply-adds. a = ±0 gives +0, which
// leaves a sum started at +0 as -0 would.
struct ExactQuotient {
  void operator()(const Lanes& a, const Lanes& b, const Lanes& y, Lanes& q) const {
    for (int l = 0; l < kLanes; ++l) {
      const double q0 = a[l] * y[l];
      const double q1 = std::fma(std::fma(-q0, b[l], a[l]), y[l], q0);
      q[l] = std::fma(std::fma(-q1, b[l], a[l]), y[l], q1);
    }
  }
};

// q = a / b by division.
struct Quotient {
  void operator()(const Lanes& a, const Lanes& b, const Lanes&, Lanes& q) const { q = a / b; }
};

// The body of fit_run on every path. A term is kept by a bitwise and with the
// pixel's keep bits: unusable pixels add +0.0, which leaves every sum as
// skipping them would. kFusedMultiplyAdd: the path fuses multiply-adds, and
// for moderate values the quotients of Spd come from ExactQuotient on the
// multiply-add units while the divider forms the others.
template <bool kFusedMultiplyAdd>
[[gnu::always_inline]] inline void fit_run_lanes(const PaddedPixels& px, std::size_t base, int len,
                                                 const std::vector<MaskEntry>& mask, bool moderate, Sums sums,
                                                 const char* wanted, LaneFits& s) {
  const Lanes zero = {}, one = zero + 1.0, two = zero + 2.0;
  // Data, variance, its reciprocal and keep bits of the lanes' pixels from
  // index at on.
  const auto pixels = [&px](std::size_t at, Lanes& D, Lanes& E2, Lanes& inv, LaneBits& keep) {
    std::memcpy(&D, &px.data[at], sizeof D);
    std::memcpy(&E2, &px.var[at], sizeof E2);
    std::memcpy(&inv, &px.inv[at], sizeof inv);
    std::memcpy(&keep, &px.keep[at], sizeof keep);
  };
  // The flux sums of the block from index at0 on, quotients by quotient.
  const auto flux_sums = [&](std::size_t at0, Lanes& Spp, Lanes& Spd, Lanes& n, auto quotient) {
    for (const MaskEntry& m : mask) {
      Lanes D, E2, inv, q;
      LaneBits keep;
      pixels(at0 + m.step, D, E2, inv, keep);
      Spp += (Lanes)((LaneBits)(m.psf2 / E2) & keep);
      quotient(D * m.psf, E2, inv, q);
      Spd += (Lanes)((LaneBits)q & keep);
      n += (Lanes)((LaneBits)one & keep);
    }
  };
  for (int k0 = 0; k0 < len; k0 += kLanes) {
    if (wanted != nullptr) {
      bool any = false;
      for (int l = 0; l < kLanes; ++l) any |= wanted[k0 + l] != 0;
      if (!any) continue;
    }
    Lanes Spp = zero, Spd = zero, n = zero;
    if constexpr (kFusedMultiplyAdd) {
      if (moderate)
        flux_sums(base + k0, Spp, Spd, n, ExactQuotient());
      else
        flux_sums(base + k0, Spp, Spd, n, Quotient());
    } else {
      flux_sums(base + k0, Spp, Spd, n, Quotient());
    }
    const LaneBits fits = (LaneBits)((n >= two) & (Spp != zero));
    const Lanes flux = (Lanes)((LaneBits)(Spd / Spp) & fits);
    std::memcpy(&s.Spp[k0], &Spp, sizeof Spp);
    std::memcpy(&s.n[k0], &n, sizeof n);
    std::memcpy(&s.flux[k0], &flux, sizeof flux);
    if (sums == Sums::kFlux) continue;
    Lanes chi2 = zero;
    for (const MaskEntry& m : mask) {
      Lanes D, E2, inv;
      LaneBits keep;
      pixels(base + m.step + k0, D, E2, inv, keep);
      const Lanes d = m.psf * flux - D;
      chi2 += (Lanes)((LaneBits)(d * d / (m.var * flux * flux + E2)) & keep);
    }
    std::memcpy(&s.chi2[k0], &chi2, sizeof chi2);
  }
  double* __restrict eflux = s.eflux.data();
  double* __restrict nchi = s.nchi.data();
  const double* __restrict Spp = s.Spp.data();
  const double* __restrict n = s.n.data();
  const double* __restrict chi2 = s.chi2.data();
  for (int k = 0; k < len; ++k) eflux[k] = std::sqrt(1 / Spp[k]);
  if (sums == Sums::kAll)
    for (int k = 0; k < len; ++k) nchi[k] = std::sqrt(chi2[k] / (n[k] - 1));
}

void fit_run_baseline(const PaddedPixels& px, std::size_t base, int len, const std::vector<MaskEntry>& mask,
                      bool moderate, Sums sums, const char* wanted, LaneFits& s) {
  fit_run_lanes<false>(px, base, len, mask, moderate, sums, wanted, s);
}

ORV_LANES_AVX2 void fit_run_avx2(const PaddedPixels& px, std::size_t base, int len,
                                 const std::vector<MaskEntry>& mask, bool moderate, Sums sums,
                                 const char* wanted, LaneFits& s) {
  fit_run_lanes<true>(px, base, len, mask, moderate, sums, wanted, s);
}

ORV_LANES_AVX512 void fit_run_avx512(const PaddedPixels& px, std::size_t base, int len,
                                     const std::vector<MaskEntry>& mask, bool moderate, Sums sums,
                                     const char* wanted, LaneFits& s) {
  fit_run_lanes<true>(px, base, len, mask, moderate, sums, wanted, s);
}

// The body of screen_run on every path. Over the usable pixels of a cell's
// mask Spd = sum Pp x <= U = sum max(Pp x, 0) while Spp = sum Pp² y = L, and a
// cell passes only if its fit is usable and Spd >= snr sqrt(Spp) up to
// rounding. U, L and A = sum |Pp x| are summed here in single precision,
// within some 1e-4 of their values for masks of up to a few thousand pixels;
// Spd, Spp and the flux test round by some 1e-13 of A at most. A cell is left
// out only when U + 1e-3 (U + A) < snr sqrt(L) (1 - 1e-3), beyond all of that.
// Two blocks of lanes are summed side by side, so that the additions of one
// wait less on the other's.
[[gnu::always_inline]] inline void screen_run_lanes(const std::vector<float>& x, const std::vector<float>& y,
                                                    std::size_t base, int len,
                                                    const std::vector<ScreenEntry>& mask, double snr,
                                                    char* maybe) {
  const ScreenLanes zero = {};
  const ScreenBits magnitude = (ScreenBits){} + 0x7fffffffu;
  const float snrLow = static_cast<float>(snr) * (1 - 1e-3f);
  for (int k0 = 0; k0 < len; k0 += 2 * kScreenLanes) {
    ScreenLanes U[2] = {zero, zero}, A[2] = {zero, zero}, L[2] = {zero, zero};
    for (const ScreenEntry& m : mask)
      for (int b = 0; b < 2; ++b) {
        ScreenLanes xv, yv;
        std::memcpy(&xv, &x[base + k0 + b * kScreenLanes + m.step], sizeof xv);
        std::memcpy(&yv, &y[base + k0 + b * kScreenLanes + m.step], sizeof yv);
        const ScreenLanes t = m.psf * xv;
        U[b] += t > zero ? t : zero;
        A[b] += (ScreenLanes)((ScreenBits)t & magnitude);
        L[b] += m.psf2 * yv;
      }
    for (int b = 0; b < 2; ++b)
      for (int l = 0; l < kScreenLanes; ++l) {
        const float u = U[b][l], a = A[b][l];
        maybe[k0 + b * kScreenLanes + l] = !(u + 1e-3f * (u + a) < snrLow * std::sqrt(L[b][l]));
      }
  }
}

void screen_run_baseline(const std::vector<float>& x, const std::vector<float>& y, std::size_t base, int len,
                         const std::vector<ScreenEntry>& mask, double snr, char* maybe) {
  screen_run_lanes(x, y, base, len, mask, snr, maybe);
}

ORV_LANES_AVX2 void screen_run_avx2(const std::vector<float>& x, const std::vector<float>& y,
                                    std::size_t base, int len, const std::vector<ScreenEntry>& mask,
                                    double snr, char* maybe) {
  screen_run_lanes(x, y, base, len, mask, snr, maybe);
}

ORV_LANES_AVX512 void screen_run_avx512(const std::vector<float>& x, const std::vector<float>& y,
                                        std::size_t base, int len, const std::vector<ScreenEntry>& mask,
                                        double snr, char* maybe) {
  screen_run_lanes(x, y, base, len, mask, snr, maybe);
}

}  // namespace

void fit_run(const PaddedPixels& px, std::size_t base, int len, const std::vector<MaskEntry>& mask,
             bool moderate, Sums sums, const char* wanted, LaneFits& s) {
  orv::lanes::pick(fit_run_baseline, fit_run_avx2, fit_run_avx512)(px, base, len, mask, moderate, sums,
                                                                   wanted, s);
}

bool screen_pixels(const PaddedPixels& px, std::vector<float>& x, std::vector<float>& y) {
  const std::size_t n = px.data.size();
  x.assign(n + 2 * kScreenLanes, 0.0f);
  y.assign(n + 2 * kScreenLanes, 0.0f);
  for (std::size_t k = 0; k < n; ++k) {
    if (px.keep[k] == 0) continue;
    const double xk = px.data[k] * px.inv[k];
    if (!(xk == 0 || screenable(xk, 60)) || !screenable(px.inv[k], 60)) return false;
    x[k] = static_cast<float>(xk);
    y[k] = static_cast<float>(px.inv[k]);
  }
  return true;
}

void screen_run(const std::vector<float>& x, const std::vector<float>& y, std::size_t base, int len,
                const std::vector<ScreenEntry>& mask, double snr, char* maybe) {
  orv::lanes::pick(screen_run_baseline, screen_run_avx2, screen_run_avx512)(x, y, base, len, mask, snr,
                                                                            maybe);
}

}  // namespace psf_maps
