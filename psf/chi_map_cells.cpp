// Whole-image chi-map cells, evaluated shift by shift: the hot loop of the
// whole-image maps (built with -O3, see psf/CMakeLists.txt).
//
// Every cell gives the values nchi_calc gives at the cell's position, bit for
// bit: the same used pixels, summed in the same order (first-axis offset outer,
// second inner) with the same operations. What changes is only what is done
// once instead of per cell: cells of one sub-pixel offset share the PSF slice
// and the circle, so the list of candidate pixels (PSF != 0 and inside the
// circle) with their PSF values is made once per offset pair, and the pixels of
// a map row that share an offset are evaluated side by side, each lane summing
// its own pixel's terms in the common order. The plan of a block (its cells,
// offset classes and candidate pixels) is made once; its rows are computed in
// any pieces, the image and error of each piece's pixels read into double
// copies with a margin, where a pixel outside the image or with error <= 0 is
// marked unusable; such a pixel adds nothing to any sum, exactly as nchi_calc
// leaves it out.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <limits>
#include <type_traits>
#include <vector>

#include "psf/korven_lib.h"
#include "psf/map_cells.h"

namespace {

constexpr double kUnusable = 1e100;

// Lanes of neighbouring pixels evaluated together: the sums of a block of
// lanes stay in registers over the whole mask.
constexpr int kLanes = 8;

using psf_maps::AxisCell;
using psf_maps::MaskEntry;
using psf_maps::OffsetClass;

// Magnitudes whose products and quotients in the cell sums stay far from
// underflow and overflow: there a quotient can be formed exactly from the
// reciprocal of its divisor (see ExactQuotient).
bool moderate(double v) {
  const double a = std::fabs(v);
  return a >= 0x1p-200 && a <= 0x1p200;
}

// The image and error as doubles over the cells' pixels plus a margin of h,
// with keep = all bits set where the pixel lies in both arrays and its error is
// > 0, and 0 elsewhere (where data is 0 and var 1, so every term stays finite).
// inv holds 1 / var, and moderate tells whether every usable pixel has a
// moderate variance and a data value that is 0 or moderate.
struct PaddedPixels {
  int x0 = 0, y0 = 0, width = 0, height = 0;
  std::vector<double>&data, &var, &inv;
  std::vector<std::uint64_t>& keep;
  bool moderate = true;

  explicit PaddedPixels(psf_maps::RowBuffers& b) : data(b.data), var(b.var), inv(b.inv), keep(b.keep) {}

  void fill(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error, int xlo, int xhi, int ylo,
            int yhi) {
    x0 = xlo;
    y0 = ylo;
    width = xhi - xlo + 1;
    height = yhi - ylo + 1;
    // kLanes more at the end for the lanes a block computes past a run.
    const std::size_t n = static_cast<std::size_t>(width) * height + kLanes;
    data.assign(n, 0.0);
    var.assign(n, 1.0);
    inv.assign(n, 1.0);
    keep.assign(n, 0);
    moderate = true;
    const int qlo = std::max({ylo, image.first(2), error.first(2)});
    const int qhi = std::min({yhi, image.last(2), error.last(2)});
    const int plo = std::max({xlo, image.first(1), error.first(1)});
    const int phi = std::min({xhi, image.last(1), error.last(1)});
    for (int q = qlo; q <= qhi; ++q)
      for (int p = plo; p <= phi; ++p) {
        const double E = error(p, q);
        if (!(E > 0)) continue;
        const std::size_t k = index(p, q);
        data[k] = image(p, q);
        var[k] = E * E;
        inv[k] = 1 / var[k];
        keep[k] = ~std::uint64_t{0};
        moderate = moderate && ::moderate(var[k]) && (data[k] == 0 || ::moderate(data[k]));
      }
  }
  std::size_t index(int p, int q) const {
    return static_cast<std::size_t>(q - y0) * width + static_cast<std::size_t>(p - x0);
  }
};

typedef double Lanes __attribute__((vector_size(kLanes * sizeof(double))));
typedef std::uint64_t LaneBits __attribute__((vector_size(kLanes * sizeof(double))));

// The fits of one run of neighbouring pixels, one lane per pixel, in blocks of
// kLanes lanes (lanes past the run are computed and ignored).
struct LaneFits {
  std::vector<double>&Spp, &n, &flux, &chi2, &eflux, &nchi;

  explicit LaneFits(psf_maps::RowBuffers& b)
      : Spp(b.Spp), n(b.n), flux(b.flux), chi2(b.chi2), eflux(b.eflux), nchi(b.nchi) {}
  void resize(std::size_t len) {
    const std::size_t lanes = (len + kLanes - 1) / kLanes * kLanes;
    for (std::vector<double>* v : {&Spp, &n, &flux, &chi2, &eflux, &nchi}) v->resize(lanes);
  }
};

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

// What fit_run computes of a run's lanes: everything, or only the flux, its
// error and the counts.
enum class Sums { kAll, kFlux };

// The least-squares flux, its error and the normalised chi of len neighbouring
// pixels starting at base, each over the mask's pixels in the mask's order.
// A term is kept by a bitwise and with the pixel's keep bits: unusable pixels
// add +0.0, which leaves every sum as skipping them would. With reciprocal set
// the quotients D Pp / E² of Spd are formed by ExactQuotient on the
// multiply-add units while the divider forms the others: for moderate pixels
// and PSF values the same values, in less time. With wanted, only the blocks
// of lanes with a wanted lane (wanted[k] != 0) are summed; the lanes of the
// others keep what they held.
__attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default"))) void fit_run(
    const PaddedPixels& px, std::size_t base, int len, const std::vector<MaskEntry>& mask, bool reciprocal,
    Sums sums, const char* wanted, LaneFits& s) {
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
    if (reciprocal)
      flux_sums(base + k0, Spp, Spd, n, ExactQuotient());
    else
      flux_sums(base + k0, Spp, Spd, n, Quotient());
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

// Lanes of the screen below: single precision, twice as many per register.
constexpr int kScreenLanes = 16;
typedef float ScreenLanes __attribute__((vector_size(kScreenLanes * sizeof(float))));
typedef std::uint32_t ScreenBits __attribute__((vector_size(kScreenLanes * sizeof(float))));

// Magnitudes for which the screen's single-precision products and sums of at
// most a few hundred terms stay far from underflow and overflow.
bool screenable(double v, int bits) {
  const double a = std::fabs(v);
  return a >= std::ldexp(1.0, -bits) && a <= std::ldexp(1.0, bits);
}

// The pixels as the screen reads them: x = D / E² and y = 1 / E² where the
// pixel is usable, 0 elsewhere, in single precision, laid out as the pixel
// copies; false if a usable pixel's values are out of the screen's range.
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

// Which cells of a run of len neighbouring pixels from base can pass
// snr eflux <= flux (snr > 0), into maybe[k]. A cell passes only if its fit
// is usable and Spd >= snr sqrt(Spp) up to rounding, and over the usable
// pixels of its mask Spd = sum Pp x <= U = sum max(Pp x, 0) while Spp =
// sum Pp² y = L. U, L and A = sum |Pp x| are summed here in single
// precision, within some 1e-4 of their values for masks of up to a few
// thousand pixels; Spd, Spp and the flux test round by some 1e-13 of A at
// most. A cell is left out only when U + 1e-3 (U + A) < snr sqrt(L)
// (1 - 1e-3), beyond all of that. Two blocks of lanes are summed side by
// side, so that the additions of one wait less on the other's.
__attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default"))) void screen_run(
    const std::vector<float>& x, const std::vector<float>& y, std::size_t base, int len,
    const std::vector<psf_maps::ScreenEntry>& mask, double snr, char* maybe) {
  const ScreenLanes zero = {};
  const ScreenBits magnitude = (ScreenBits){} + 0x7fffffffu;
  const float snrLow = static_cast<float>(snr) * (1 - 1e-3f);
  for (int k0 = 0; k0 < len; k0 += 2 * kScreenLanes) {
    ScreenLanes U[2] = {zero, zero}, A[2] = {zero, zero}, L[2] = {zero, zero};
    for (const psf_maps::ScreenEntry& m : mask)
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

}  // namespace

namespace {

// Map cell c of axis d stands for (c - 1)/P + first_d - (P div 2)/P, formed
// from integers so that lrint of the position decides the edge rule.
double cell_position(const orv::MArray<float, 2>& image, int P, int cell, int d) {
  return static_cast<double>(cell - 1) / P + image.first(d) - static_cast<double>(P / 2) / P;
}

}  // namespace

psf_maps::Progress psf::walk_cells__(const orv::MArray<float, 2>& image, int i0, int i1, int j0, int j1,
                                     int verbose, long& count) const {
  const int P = std::max(_subpixel, 1);
  const int NX = P * image.length(1), NY = P * image.length(2);
  psf_maps::Progress progress;
  i0 = std::max(i0, 1);
  j0 = std::max(j0, 1);
  i1 = std::min(i1, NX);
  j1 = std::min(j1, NY);
  if (verbose <= 4 || i0 > i1 || j0 > j1) return progress;
  // With verbose > 9 the positions of all cells are printed, with the dots
  // between them; else the dots are left to the computation.
  const long dotEvery = static_cast<long>(NX) * NY / 100;
  for (int i = i0; i <= i1; ++i) {
    if (verbose > 9)
      for (int j = j0; j <= j1; ++j)
        std::cout << " double_x = " << cell_position(image, P, i, 1)
                  << "  double_y = " << cell_position(image, P, j, 2) << std::endl;
    count += j1 - j0 + 1;
    if (count >= dotEvery) {
      if (verbose > 9)
        std::cout << "." << std::flush;
      else
        ++progress.owed;
      count = 0;
    }
  }
  return progress;
}

psf_maps::Plan psf::plan_cells__(const orv::MArray<float, 2>& image, int i0, int i1, int j0, int j1,
                                 double radius) const {
  const int P = std::max(_subpixel, 1);
  psf_maps::Plan plan;
  i0 = std::max(i0, 1);
  j0 = std::max(j0, 1);
  i1 = std::min(i1, P * image.length(1));
  j1 = std::min(j1, P * image.length(2));
  if (i0 > i1 || j0 > j1) return plan;

  // The computed cells per axis, their pixels and offset classes.
  auto axis_cells = [&](int c0, int c1, int d, std::vector<AxisCell>& cells,
                        std::vector<OffsetClass>& classes) {
    for (int c = c0; c <= c1; ++c) {
      const double pos = cell_position(image, P, c, d);
      const long pix = std::lrint(pos);
      if (pix < image.first(d) + _boxlen || pix > image.last(d) - _boxlen) continue;
      const star_spot__ s = locate__(pos, pos);
      std::size_t k = 0;
      while (k < classes.size() && !(classes[k].offset == s.fx && classes[k].shift == s.sx)) ++k;
      if (k == classes.size()) classes.push_back({s.fx, s.sx});
      cells.push_back({c, s.ix, static_cast<int>(k)});
    }
  };
  std::vector<OffsetClass> xClasses, yClasses;
  axis_cells(i0, i1, 1, plan.xs, xClasses);
  axis_cells(j0, j1, 2, plan.ys, yClasses);
  plan.yClasses = yClasses.size();
  plan.ready = tables_ready__();
  if (plan.empty() || !plan.ready) return plan;

  // The candidate pixels of every pair of offset classes, in the order
  // nchi_calc sums them, as steps in pixel copies of the cells' columns plus
  // the box margin.
  plan.h = box_half__(radius);
  const int h = plan.h;
  plan.width = plan.xs.back().pixel - plan.xs.front().pixel + 2 * h + 1;
  const double r2 = radius * radius;
  plan.masks.resize(xClasses.size() * yClasses.size());
  plan.screens.resize(plan.masks.size());
  plan.centreUsable.resize(plan.masks.size());
  for (std::size_t a = 0; a < xClasses.size(); ++a)
    for (std::size_t b = 0; b < yClasses.size(); ++b) {
      const double fx = xClasses[a].offset, fy = yClasses[b].offset;
      const int sx = xClasses[a].shift, sy = yClasses[b].shift;
      std::vector<MaskEntry>& mask = plan.masks[a * yClasses.size() + b];
      plan.centreUsable[a * yClasses.size() + b] = _all_binned_psf(sx, sy, 0, 0) != 0;
      for (int i = -h; i <= h; ++i)
        for (int j = -h; j <= h; ++j) {
          const double Pp = _all_binned_psf(sx, sy, i, j);
          if (!(Pp != 0 && (i - fx) * (i - fx) + (j - fy) * (j - fy) < r2)) continue;
          plan.moderatePsf = plan.moderatePsf && moderate(Pp);
          mask.push_back({static_cast<std::ptrdiff_t>(j) * plan.width + i, Pp, Pp * Pp,
                          _all_e2binned_psf(sx, sy, i, j)});
          plan.screenablePsf = plan.screenablePsf && screenable(Pp, 25);
          plan.screens[a * yClasses.size() + b].push_back(
              {mask.back().step, static_cast<float>(Pp), static_cast<float>(Pp * Pp)});
        }
      plan.screenablePsf = plan.screenablePsf && mask.size() <= 4096;
    }

  // Runs of the first-axis cells.
  std::vector<int> order(plan.xs.size());
  for (std::size_t k = 0; k < plan.xs.size(); ++k) order[k] = static_cast<int>(k);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return plan.xs[a].klass < plan.xs[b].klass; });
  for (int k : order) plan.sorted.push_back(plan.xs[k]);
  const std::vector<AxisCell>& sorted = plan.sorted;
  for (std::size_t k = 0; k < sorted.size(); ++k) {
    if (k > 0 && sorted[k].klass == sorted[k - 1].klass && sorted[k].pixel == sorted[k - 1].pixel + 1)
      ++plan.runs.back().length;
    else
      plan.runs.push_back({sorted[k].klass, static_cast<int>(k), 1});
  }
  for (const psf_maps::Run& r : plan.runs) plan.longest = std::max<std::size_t>(plan.longest, r.length);
  return plan;
}

void psf::map_rows__(const psf_maps::Plan& plan, const orv::MArray<float, 2>& image,
                     const orv::MArray<float, 2>& error, const psf_maps::Band& maps, int j0, int j1,
                     psf_maps::RowBuffers& buffers, psf_maps::Progress& progress,
                     const psf_maps::Selection* select) const {
  if (plan.empty()) return;
  using Rows = std::vector<AxisCell>::const_iterator;
  // The plan's rows among a..b.
  const auto rows = [&plan](int a, int b) {
    const auto below = [](const AxisCell& c, int j) { return c.cell < j; };
    const Rows first = std::lower_bound(plan.ys.begin(), plan.ys.end(), a, below);
    return std::make_pair(first, std::lower_bound(first, plan.ys.end(), b + 1, below));
  };
  const auto [first, last] = rows(j0, j1);
  const auto [chiFirst, chiLast] = select != nullptr ? rows(select->chiFrom, select->chiTo) : rows(1, 0);
  if (first == last && chiFirst == chiLast) return;
  const int i0 = plan.xs.front().cell, i1 = plan.xs.back().cell;
  auto unusable = [&](int ci, int cj) {
    const std::size_t k = maps.at(ci, cj);
    maps.nchi[k] = kUnusable;
    maps.flux[k] = 0;
    maps.eflux[k] = kUnusable;
  };
  // With a selection: star[i - 1] tells whether cell i of the row at hand
  // can be a star (snr eflux <= flux, nchi being non-zero in every computed
  // cell); mark_near spreads them by reach along the row into its near flags.
  std::vector<char>& star = buffers.needed;
  const double snr = select != nullptr ? select->snr : 0;
  const char unusableStar = snr * kUnusable <= 0;
  auto mark_near = [&](int j) {
    char* near = maps.near + maps.at(1, j);
    const long reach = select->reach, NX = maps.NX;
    for (const char* at = star.data();
         (at = static_cast<const char*>(std::memchr(at, 1, star.data() + NX - at))); ++at) {
      const long i = at - star.data();
      std::fill(near + std::max(0L, i - reach), near + std::min(NX, i + reach + 1), 1);
    }
  };
  if (!plan.ready) {
    star.assign(static_cast<std::size_t>(maps.NX), 0);
    for (auto cy = first; cy != last; ++cy) {
      for (const AxisCell& cx : plan.xs) {
        unusable(cx.cell, cy->cell);
        star[cx.cell - 1] = unusableStar;
      }
      progress.row_done();
      if (select != nullptr) mark_near(cy->cell);
    }
    return;
  }

  // The pixels of these rows' cells plus the box margin, as doubles.
  const int h = plan.h;
  const Rows low = first == last ? chiFirst : chiFirst == chiLast ? first : std::min(first, chiFirst);
  const Rows high = first == last ? chiLast : chiFirst == chiLast ? last : std::max(last, chiLast);
  PaddedPixels pixels(buffers);
  pixels.fill(image, error, plan.xs.front().pixel - h, plan.xs.back().pixel + h, low->pixel - h,
              (high - 1)->pixel + h);
  LaneFits fits(buffers);
  fits.resize(plan.longest);
  // Quotients from reciprocals where that gives the same values and the
  // processor fuses multiply-adds.
  static const bool fusedMultiplyAdd = __builtin_cpu_supports("fma");
  const bool reciprocal = fusedMultiplyAdd && pixels.moderate && plan.moderatePsf;

  // Map rows in storage order (second-axis cell outer); with a selection
  // their flux only, nchi marked NaN where the cell is usable.
  const Sums sums = select != nullptr ? Sums::kFlux : Sums::kAll;
  // With snr > 0, the flux sums only for the cells that a quick bound leaves
  // as possible stars; the others get the pending NaN, and their sums, if
  // wanted, come with the wanted nchi.
  const bool screened = select != nullptr && select->snr > 0 && plan.screenablePsf && first != last &&
                        screen_pixels(pixels, buffers.x, buffers.y);
  if (screened) buffers.maybe.assign(fits.flux.size() + 2 * kScreenLanes, 0);
  const double pending = std::numeric_limits<double>::quiet_NaN();
  for (auto cy = first; cy != last; ++cy) {
    if (select != nullptr) {
      star.assign(static_cast<std::size_t>(maps.NX), 0);
      std::fill(maps.nchi + maps.at(i0, cy->cell), maps.nchi + maps.at(i1, cy->cell) + 1, pending);
    }
    for (const psf_maps::Run& r : plan.runs) {
      const std::size_t m = static_cast<std::size_t>(r.klass) * plan.yClasses + cy->klass;
      const AxisCell* cells = &plan.sorted[r.first];
      const std::size_t base = pixels.index(cells[0].pixel, cy->pixel);
      const bool centreUsable = plan.centreUsable[m];
      const char* maybe = nullptr;
      if (screened && centreUsable) {
        screen_run(buffers.x, buffers.y, base, r.length, plan.screens[m], select->snr, buffers.maybe.data());
        maybe = buffers.maybe.data();
      }
      if (centreUsable) fit_run(pixels, base, r.length, plan.masks[m], reciprocal, sums, maybe, fits);
      // The lanes' values into the maps' row, through plain pointers (the
      // flags' char stores would else make every vector reload its data).
      const std::uint64_t* __restrict keep = pixels.keep.data() + base;
      const double* __restrict Spp = fits.Spp.data();
      const double* __restrict n = fits.n.data();
      const double* __restrict flux = fits.flux.data();
      const double* __restrict eflux = fits.eflux.data();
      const double* __restrict nchi = fits.nchi.data();
      const std::size_t row = maps.at(1, cy->cell);
      double* __restrict mapNchi = maps.nchi + row - 1;
      double* __restrict mapFlux = maps.flux + row - 1;
      double* __restrict mapEflux = maps.eflux + row - 1;
      char* __restrict starRow = select != nullptr ? star.data() - 1 : nullptr;
      const auto unusableCell = [&](int ci) {
        mapNchi[ci] = kUnusable;
        mapFlux[ci] = 0;
        mapEflux[ci] = kUnusable;
        if (select != nullptr) starRow[ci] = unusableStar;
      };
      // Blocks of the screen's lanes; one without a possible star only marks
      // its unusable pixels (the others are pending, with star flag 0).
      constexpr int kBlock = 2 * kScreenLanes;
      for (int k0 = 0; k0 < r.length; k0 += kBlock) {
        const int k1 = std::min(r.length, k0 + kBlock);
        if (maybe != nullptr) {
          bool any = false;
          for (int k = k0; k < k1; ++k) any |= maybe[k] != 0;
          if (!any) {
            for (int k = k0; k < k1; ++k)
              if (keep[k] == 0) unusableCell(cells[k].cell);
            continue;
          }
        }
        for (int k = k0; k < k1; ++k) {
          const int ci = cells[k].cell;
          // A cell has a value where its own pixel is usable and its fit has
          // at least two pixels and a non-zero Spp.
          if (!centreUsable || keep[k] == 0) {
            unusableCell(ci);
            continue;
          }
          if (maybe != nullptr && maybe[k] == 0) continue;
          if (!(n[k] >= 2 && Spp[k] != 0)) {
            unusableCell(ci);
            continue;
          }
          mapFlux[ci] = flux[k];
          mapEflux[ci] = eflux[k];
          if (select == nullptr)
            mapNchi[ci] = nchi[k];
          else
            starRow[ci] = snr * eflux[k] <= flux[k];
        }
      }
    }
    progress.row_done();
    if (select != nullptr) mark_near(cy->cell);
  }
  if (select == nullptr) return;

  // The wanted nchi, with the flux sums again: pending cells with near flags
  // within reach rows.
  std::vector<char>& wanted = star;
  std::vector<char>& lanes = buffers.neededLanes;
  lanes.assign(fits.flux.size(), 0);
  for (auto cy = chiFirst; cy != chiLast; ++cy) {
    const int cj = cy->cell, reach = select->reach;
    wanted.assign(static_cast<std::size_t>(maps.NX), 0);
    for (int j = std::max(1, cj - reach); j <= std::min(j1, cj + reach); ++j) {
      const char* __restrict near = maps.near + maps.at(1, j);
      char* __restrict into = wanted.data();
      for (int i = i0 - 1; i < i1; ++i) into[i] |= near[i];
    }
    // The first and last wanted cell of the row (1-based); none: no sums.
    const char* const w = wanted.data();
    const char* lo = static_cast<const char*>(std::memchr(w, 1, wanted.size()));
    if (lo == nullptr) continue;
    const char* hi = w + wanted.size() - 1;
    while (*hi == 0) --hi;
    const int cLo = static_cast<int>(lo - w) + 1, cHi = static_cast<int>(hi - w) + 1;
    for (const psf_maps::Run& r : plan.runs) {
      const std::size_t m = static_cast<std::size_t>(r.klass) * plan.yClasses + cy->klass;
      if (!plan.centreUsable[m]) continue;
      const AxisCell* cells = &plan.sorted[r.first];
      // The run's cells ascend: those between the first and last wanted.
      const auto cell_below = [](const AxisCell& c, int i) { return c.cell < i; };
      const int kLo = static_cast<int>(std::lower_bound(cells, cells + r.length, cLo, cell_below) - cells);
      const int kHi =
          static_cast<int>(std::lower_bound(cells, cells + r.length, cHi + 1, cell_below) - cells);
      if (kLo == kHi) continue;
      std::fill(lanes.begin(), lanes.end(), 0);
      bool any = false;
      for (int k = kLo; k < kHi; ++k) {
        lanes[k] = wanted[cells[k].cell - 1] && std::isnan(maps.nchi[maps.at(cells[k].cell, cj)]);
        any = any || lanes[k];
      }
      if (!any) continue;
      fit_run(pixels, pixels.index(cells[0].pixel, cy->pixel), r.length, plan.masks[m], reciprocal,
              Sums::kAll, lanes.data(), fits);
      // The pending cells' pixels are usable; their fits decide the rest.
      for (int k = kLo; k < kHi; ++k) {
        if (!lanes[k]) continue;
        const int ci = cells[k].cell;
        if (!(fits.n[k] >= 2 && fits.Spp[k] != 0)) {
          unusable(ci, cj);
          continue;
        }
        const std::size_t at = maps.at(ci, cj);
        maps.flux[at] = fits.flux[k];
        maps.eflux[at] = fits.eflux[k];
        maps.nchi[at] = fits.nchi[k];
      }
    }
  }
}
