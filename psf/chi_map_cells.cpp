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
// The plan of a block (its cells, offset classes and candidate pixels) is made
// once; its rows are computed in any pieces, the image and error of each
// piece's pixels read into double copies with a margin, where a pixel outside
// the image or with error <= 0 is marked unusable; such a pixel adds nothing to
// any sum, exactly as nchi_calc leaves it out.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <limits>
#include <tuple>
#include <utility>
#include <vector>

#include "psf/cell_fits.h"
#include "psf/korven_lib.h"
#include "psf/map_cells.h"

namespace {

constexpr double kUnusable = 1e100;

using psf_maps::AxisCell;
using psf_maps::MaskEntry;
using psf_maps::OffsetClass;
using Rows = std::vector<AxisCell>::const_iterator;

// Map cell c of axis d stands for (c - 1)/P + first_d - (P div 2)/P, formed
// from integers so that lrint of the position decides the edge rule.
double cell_position(const orv::MArray<float, 2>& image, int P, int cell, int d) {
  return static_cast<double>(cell - 1) / P + image.first(d) - static_cast<double>(P / 2) / P;
}

// The plan's rows among a..b.
std::pair<Rows, Rows> plan_rows(const psf_maps::Plan& plan, int a, int b) {
  const auto below = [](const AxisCell& c, int j) { return c.cell < j; };
  const Rows first = std::lower_bound(plan.ys.begin(), plan.ys.end(), a, below);
  return {first, std::lower_bound(first, plan.ys.end(), b + 1, below)};
}

// The computation of the planned cells of the map rows j0..j1, in stages: the
// pixels of the rows read once, the fits of every row in storage order
// (second-axis cell outer), and with a selection, whose rows get their flux
// only (nchi marked NaN where the cell is usable), the wanted nchi after them.
class CellRows {
 public:
  CellRows(const psf_maps::Plan& plan, const psf_maps::Band& maps, psf_maps::RowBuffers& buffers,
           const psf_maps::Selection* select, int j0, int j1)
      : plan_(plan),
        maps_(maps),
        buffers_(buffers),
        select_(select),
        j1_(j1),
        i0_(plan.xs.front().cell),
        i1_(plan.xs.back().cell),
        snr_(select != nullptr ? select->snr : 0),
        unusableStar_(snr_ * kUnusable <= 0),
        flags_(buffers.needed),
        pixels_(buffers),
        fits_(buffers) {
    std::tie(first_, last_) = plan_rows(plan, j0, j1);
    std::tie(chiFirst_, chiLast_) =
        select != nullptr ? plan_rows(plan, select->chiFrom, select->chiTo) : plan_rows(plan, 1, 0);
  }

  // Nothing to compute: no planned row among the rows asked for.
  bool none() const { return first_ == last_ && chiFirst_ == chiLast_; }

  // Without the shift tables every computed cell is unusable.
  void all_unusable(psf_maps::Progress& progress) {
    flags_.assign(static_cast<std::size_t>(maps_.NX), 0);
    for (auto cy = first_; cy != last_; ++cy) {
      for (const AxisCell& cx : plan_.xs) {
        unusable__(cx.cell, cy->cell);
        flags_[cx.cell - 1] = unusableStar_;
      }
      progress.row_done();
      if (select_ != nullptr) mark_near__(cy->cell);
    }
  }

  // The pixels of the rows' cells plus the box margin, as doubles, and as the
  // screen reads them where a selection wants the screen.
  void read_pixels(const orv::MArray<float, 2>& image, const orv::MArray<float, 2>& error) {
    const int h = plan_.h;
    const Rows low = first_ == last_         ? chiFirst_
                     : chiFirst_ == chiLast_ ? first_
                                             : std::min(first_, chiFirst_);
    const Rows high = first_ == last_ ? chiLast_ : chiFirst_ == chiLast_ ? last_ : std::max(last_, chiLast_);
    pixels_.fill(image, error, plan_.xs.front().pixel - h, plan_.xs.back().pixel + h, low->pixel - h,
                 (high - 1)->pixel + h);
    fits_.resize(plan_.longest);
    moderate_ = pixels_.moderate && plan_.moderatePsf;
    // With snr > 0, the flux sums only for the cells that a quick bound leaves
    // as possible stars; the others get the pending NaN, and their sums, if
    // wanted, come with the wanted nchi.
    screened_ = select_ != nullptr && select_->snr > 0 && plan_.screenablePsf && first_ != last_ &&
                psf_maps::screen_pixels(pixels_, buffers_.x, buffers_.y);
    if (screened_) buffers_.maybe.assign(fits_.flux.size() + 2 * psf_maps::kScreenLanes, 0);
  }

  // The fits of the rows, run by run; with a selection their flux only, and
  // each row's cells that can be stars spread into the near flags.
  void fit_rows(psf_maps::Progress& progress) {
    const double pending = std::numeric_limits<double>::quiet_NaN();
    for (auto cy = first_; cy != last_; ++cy) {
      if (select_ != nullptr) {
        flags_.assign(static_cast<std::size_t>(maps_.NX), 0);
        std::fill(maps_.nchi + maps_.at(i0_, cy->cell), maps_.nchi + maps_.at(i1_, cy->cell) + 1, pending);
      }
      for (const psf_maps::Run& r : plan_.runs) fit_run__(r, cy);
      progress.row_done();
      if (select_ != nullptr) mark_near__(cy->cell);
    }
  }

  // With a selection: the wanted nchi, with the flux sums again, of the
  // pending cells with near flags within reach rows.
  void wanted_rows() {
    buffers_.neededLanes.assign(fits_.flux.size(), 0);
    for (auto cy = chiFirst_; cy != chiLast_; ++cy) {
      int cLo = 0, cHi = 0;
      if (!wanted_cells__(cy->cell, cLo, cHi)) continue;
      for (const psf_maps::Run& r : plan_.runs) wanted_run__(r, cy, cLo, cHi);
    }
  }

 private:
  void unusable__(int ci, int cj) const {
    const std::size_t k = maps_.at(ci, cj);
    maps_.nchi[k] = kUnusable;
    maps_.flux[k] = 0;
    maps_.eflux[k] = kUnusable;
  }

  // The star flags of row j (flags_[i - 1] for cell i) spread by reach along
  // the row into its near flags.
  void mark_near__(int j) const {
    char* near = maps_.near + maps_.at(1, j);
    const long reach = select_->reach, NX = maps_.NX;
    const char* const star = flags_.data();
    for (const char* at = star; (at = static_cast<const char*>(std::memchr(at, 1, star + NX - at))); ++at) {
      const long i = at - star;
      std::fill(near + std::max(0L, i - reach), near + std::min(NX, i + reach + 1), 1);
    }
  }

  // One run of the row cy: the screen where it serves, the fits, and the
  // lanes' values into the maps.
  void fit_run__(const psf_maps::Run& r, Rows cy) {
    const std::size_t m = static_cast<std::size_t>(r.klass) * plan_.yClasses + cy->klass;
    const AxisCell* cells = &plan_.sorted[r.first];
    const std::size_t base = pixels_.index(cells[0].pixel, cy->pixel);
    const bool centreUsable = plan_.centreUsable[m];
    const char* maybe = nullptr;
    if (screened_ && centreUsable) {
      psf_maps::screen_run(buffers_.x, buffers_.y, base, r.length, plan_.screens[m], select_->snr,
                           buffers_.maybe.data());
      maybe = buffers_.maybe.data();
    }
    const psf_maps::Sums sums = select_ != nullptr ? psf_maps::Sums::kFlux : psf_maps::Sums::kAll;
    if (centreUsable)
      psf_maps::fit_run(pixels_, base, r.length, plan_.masks[m], moderate_, sums, maybe, fits_);
    if (select_ != nullptr)
      store_run__<true>(cells, r.length, cy->cell, base, centreUsable, maybe);
    else
      store_run__<false>(cells, r.length, cy->cell, base, centreUsable, nullptr);
  }

  // The lanes' values of a run's cells into the maps' row cj, through plain
  // pointers (the flags' char stores would else make every vector reload its
  // data). A cell has a value where its own pixel is usable and its fit has at
  // least two pixels and a non-zero Spp; with a selection it gets its star
  // flag instead of its nchi. Blocks of the screen's lanes without a possible
  // star only mark their unusable pixels (the others are pending, with star
  // flag 0). Without a selection (kSelect false) the loop keeps fewer values
  // in registers.
  template <bool kSelect>
  void store_run__(const AxisCell* cells, int length, int cj, std::size_t base, bool centreUsable,
                   const char* maybe) {
    const double snr = snr_;
    const char unusableStar = unusableStar_;
    const std::uint64_t* __restrict keep = pixels_.keep.data() + base;
    const double* __restrict Spp = fits_.Spp.data();
    const double* __restrict n = fits_.n.data();
    const double* __restrict flux = fits_.flux.data();
    const double* __restrict eflux = fits_.eflux.data();
    const double* __restrict nchi = fits_.nchi.data();
    const std::size_t row = maps_.at(1, cj);
    double* __restrict mapNchi = maps_.nchi + row - 1;
    double* __restrict mapFlux = maps_.flux + row - 1;
    double* __restrict mapEflux = maps_.eflux + row - 1;
    char* __restrict starRow = kSelect ? flags_.data() - 1 : nullptr;
    const auto unusableCell = [&](int ci) {
      mapNchi[ci] = kUnusable;
      mapFlux[ci] = 0;
      mapEflux[ci] = kUnusable;
      if constexpr (kSelect) starRow[ci] = unusableStar;
    };
    constexpr int kBlock = 2 * psf_maps::kScreenLanes;
    for (int k0 = 0; k0 < length; k0 += kBlock) {
      const int k1 = std::min(length, k0 + kBlock);
      if (kSelect && maybe != nullptr) {
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
        if (!centreUsable || keep[k] == 0) {
          unusableCell(ci);
          continue;
        }
        if (kSelect && maybe != nullptr && maybe[k] == 0) continue;
        if (!(n[k] >= 2 && Spp[k] != 0)) {
          unusableCell(ci);
          continue;
        }
        mapFlux[ci] = flux[k];
        mapEflux[ci] = eflux[k];
        if constexpr (kSelect)
          starRow[ci] = snr * eflux[k] <= flux[k];
        else
          mapNchi[ci] = nchi[k];
      }
    }
  }

  // The wanted flags of row cj (flags_[i - 1] for cell i): the near flags of
  // the rows within reach; false if none is set, else the first and last
  // wanted cell.
  bool wanted_cells__(int cj, int& cLo, int& cHi) {
    // The bounds in locals: the char stores could else change them, and the
    // loop would not vectorise.
    const int reach = select_->reach, i0 = i0_, i1 = i1_;
    flags_.assign(static_cast<std::size_t>(maps_.NX), 0);
    for (int j = std::max(1, cj - reach); j <= std::min(j1_, cj + reach); ++j) {
      const char* __restrict near = maps_.near + maps_.at(1, j);
      char* __restrict into = flags_.data();
      for (int i = i0 - 1; i < i1; ++i) into[i] |= near[i];
    }
    const char* const w = flags_.data();
    const char* lo = static_cast<const char*>(std::memchr(w, 1, flags_.size()));
    if (lo == nullptr) return false;
    const char* hi = w + flags_.size() - 1;
    while (*hi == 0) --hi;
    cLo = static_cast<int>(lo - w) + 1;
    cHi = static_cast<int>(hi - w) + 1;
    return true;
  }

  // The full fits of a run's pending cells among the wanted cells cLo..cHi of
  // row cy; their pixels are usable, and their fits decide the rest.
  void wanted_run__(const psf_maps::Run& r, Rows cy, int cLo, int cHi) {
    const int cj = cy->cell;
    const std::size_t m = static_cast<std::size_t>(r.klass) * plan_.yClasses + cy->klass;
    if (!plan_.centreUsable[m]) return;
    const AxisCell* cells = &plan_.sorted[r.first];
    // The run's cells ascend: those between the first and last wanted.
    const auto cell_below = [](const AxisCell& c, int i) { return c.cell < i; };
    const int kLo = static_cast<int>(std::lower_bound(cells, cells + r.length, cLo, cell_below) - cells);
    const int kHi = static_cast<int>(std::lower_bound(cells, cells + r.length, cHi + 1, cell_below) - cells);
    if (kLo == kHi) return;
    std::vector<char>& lanes = buffers_.neededLanes;
    std::fill(lanes.begin(), lanes.end(), 0);
    bool any = false;
    for (int k = kLo; k < kHi; ++k) {
      lanes[k] = flags_[cells[k].cell - 1] && std::isnan(maps_.nchi[maps_.at(cells[k].cell, cj)]);
      any = any || lanes[k];
    }
    if (!any) return;
    psf_maps::fit_run(pixels_, pixels_.index(cells[0].pixel, cy->pixel), r.length, plan_.masks[m], moderate_,
                      psf_maps::Sums::kAll, lanes.data(), fits_);
    for (int k = kLo; k < kHi; ++k) {
      if (!lanes[k]) continue;
      const int ci = cells[k].cell;
      if (!(fits_.n[k] >= 2 && fits_.Spp[k] != 0)) {
        unusable__(ci, cj);
        continue;
      }
      const std::size_t at = maps_.at(ci, cj);
      maps_.flux[at] = fits_.flux[k];
      maps_.eflux[at] = fits_.eflux[k];
      maps_.nchi[at] = fits_.nchi[k];
    }
  }

  const psf_maps::Plan& plan_;
  const psf_maps::Band& maps_;
  psf_maps::RowBuffers& buffers_;
  const psf_maps::Selection* select_;
  int j1_;
  Rows first_, last_, chiFirst_, chiLast_;
  int i0_, i1_;  // the first and last computed cell of every row
  double snr_;
  char unusableStar_;  // an unusable cell can be a star (snr <= 0)
  // A row's flags: in the fits of a selection, whether cell i can be a star
  // (snr eflux <= flux, nchi being non-zero in every computed cell); in the
  // wanted nchi, whether its nchi is wanted.
  std::vector<char>& flags_;
  psf_maps::PaddedPixels pixels_;
  psf_maps::LaneFits fits_;
  bool moderate_ = false;  // every pixel and PSF value of the rows is moderate
  bool screened_ = false;  // the screen spares the sums of cells that cannot be stars
};

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
  if (plan.hasNoCells() || !plan.ready) return plan;

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
  if (plan.hasNoCells()) return;
  CellRows rows(plan, maps, buffers, select, j0, j1);
  if (rows.none()) return;
  if (!plan.ready) {
    rows.all_unusable(progress);
    return;
  }
  rows.read_pixels(image, error);
  rows.fit_rows(progress);
  if (select != nullptr) rows.wanted_rows();
}
