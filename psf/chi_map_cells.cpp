// Whole-image chi-map cells, evaluated shift by shift: the hot loop of the
// whole-image maps (a hot source, see psf/CMakeLists.txt).
//
// Every cell gives the values nchi_calc gives at the cell's position, bit for
// bit: the same used pixels, summed in the same order (first-axis offset outer,
// second inner) with the same operations. What changes is only what is done
// once instead of per cell: cells of one sub-pixel offset share the PSF slice
// and the circle, so the list of candidate pixels (PSF != 0 and inside the
// circle) with their PSF values is made once per offset pair, and the pixels of
// a map row that share an offset are evaluated side by side by the lanes of
// psf/cell_fits.h, each lane summing its own pixel's terms in the common order.
// The plan of a block (its cells,
// offset classes and candidate pixels) is made once; its rows are computed in
// any pieces, the image and error of each piece's pixels read into double
// copies with a margin, where a pixel outside the image or with error <= 0 is
// marked unusable; such a pixel adds nothing to any sum, exactly as nchi_calc
// leaves it out.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <limits>
#include <vector>

#include "psf/cell_fits.h"
#include "psf/korven_lib.h"
#include "psf/map_cells.h"

namespace {

constexpr double kUnusable = 1e100;

using psf_maps::AxisCell;
using psf_maps::MaskEntry;
using psf_maps::OffsetClass;

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
          plan.moderatePsf = plan.moderatePsf && psf_maps::moderate_magnitude(Pp);
          mask.push_back({static_cast<std::ptrdiff_t>(j) * plan.width + i, Pp, Pp * Pp,
                          _all_e2binned_psf(sx, sy, i, j)});
          plan.screenablePsf = plan.screenablePsf && psf_maps::screenable(Pp, 25);
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
  psf_maps::PaddedPixels pixels(buffers);
  pixels.fill(image, error, plan.xs.front().pixel - h, plan.xs.back().pixel + h, low->pixel - h,
              (high - 1)->pixel + h);
  psf_maps::LaneFits fits(buffers);
  fits.resize(plan.longest);
  // Every pixel and PSF value of these rows is moderate: the paths that fuse
  // multiply-adds may form quotients from reciprocals.
  const bool moderate = pixels.moderate && plan.moderatePsf;

  // Map rows in storage order (second-axis cell outer); with a selection
  // their flux only, nchi marked NaN where the cell is usable.
  const psf_maps::Sums sums = select != nullptr ? psf_maps::Sums::kFlux : psf_maps::Sums::kAll;
  // With snr > 0, the flux sums only for the cells that a quick bound leaves
  // as possible stars; the others get the pending NaN, and their sums, if
  // wanted, come with the wanted nchi.
  const bool screened = select != nullptr && select->snr > 0 && plan.screenablePsf && first != last &&
                        psf_maps::screen_pixels(pixels, buffers.x, buffers.y);
  if (screened) buffers.maybe.assign(fits.flux.size() + 2 * psf_maps::kScreenLanes, 0);
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
        psf_maps::screen_run(buffers.x, buffers.y, base, r.length, plan.screens[m], select->snr,
                             buffers.maybe.data());
        maybe = buffers.maybe.data();
      }
      if (centreUsable) psf_maps::fit_run(pixels, base, r.length, plan.masks[m], moderate, sums, maybe, fits);
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
      constexpr int kBlock = 2 * psf_maps::kScreenLanes;
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
      psf_maps::fit_run(pixels, pixels.index(cells[0].pixel, cy->pixel), r.length, plan.masks[m], moderate,
                        psf_maps::Sums::kAll, lanes.data(), fits);
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
