// Box statistics on the sampling grid. Each point's sums run pixel by pixel in box order, as a
// plain loop over the box offsets would form them; speed comes from testing the box, the image
// border and the blank value once per row instead of once per pixel, and from summing four
// neighbouring points side by side so that their additions overlap.
#include "tarvole/sampling_grid.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// Half-widths of the box per row offset j = -r..r: the largest i with i*i + j*j < r*(r+1).
std::vector<int> box_half_widths(int r) {
  std::vector<int> half(2 * static_cast<std::size_t>(r) + 1);
  const std::int64_t limit = static_cast<std::int64_t>(r) * (r + 1);
  for (int j = -r; j <= r; ++j) {
    const std::int64_t room = limit - static_cast<std::int64_t>(j) * j;  // > 0 for |j| <= r
    std::int64_t w = static_cast<std::int64_t>(std::sqrt(static_cast<double>(room)));
    while (w * w >= room) --w;
    while ((w + 1) * (w + 1) < room) ++w;
    half[static_cast<std::size_t>(j + r)] = static_cast<int>(w);
  }
  return half;
}

// One image row prepared for summing: the value where both images hold data, else +0.0, a
// factor 1.0 or 0.0, and the running count of usable pixels. Adding +0.0 leaves every sum that
// starts at +0.0 bit for bit as it is, so unused pixels inside the box may be added instead of
// skipped; the count of a stretch is a difference of running counts.
struct PreparedRow {
  std::vector<double> r, i, used;
  std::vector<int> counted;  // counted[k]: usable pixels among elements 0..k-1
  int first = 0;             // column of element 0

  void fill(const orv::MArray<float, 2>& R, const orv::MArray<float, 2>& I, int y, int xlo, int xhi,
            float blank) {
    const std::size_t n = static_cast<std::size_t>(xhi - xlo + 1);
    r.resize(n);
    i.resize(n);
    used.resize(n);
    counted.resize(n + 1);
    first = xlo;
    const float* pr = &R(xlo, y);
    const float* pi = &I(xlo, y);
    const std::ptrdiff_t sr = R.stride(1), si = I.stride(1);
    int count = 0;
    counted[0] = 0;
    for (std::size_t k = 0; k < n; ++k) {
      const float vr = pr[static_cast<std::ptrdiff_t>(k) * sr];
      const float vi = pi[static_cast<std::ptrdiff_t>(k) * si];
      const bool ok = (vr != blank) & (vi != blank);
      r[k] = ok ? static_cast<double>(vr) : 0.0;
      i[k] = ok ? static_cast<double>(vi) : 0.0;
      used[k] = ok ? 1.0 : 0.0;
      count += ok;
      counted[k + 1] = count;
    }
  }
  // Usable pixels in columns lo..hi.
  int usable(int lo, int hi) const {
    return counted[static_cast<std::size_t>(hi - first + 1)] - counted[static_cast<std::size_t>(lo - first)];
  }
};

// Running sums of one row of grid points.
struct RowSums {
  std::vector<double> r, i;
  std::vector<long long> n;
  void reset(std::size_t points) {
    r.assign(points, 0.0);
    i.assign(points, 0.0);
    n.assign(points, 0);
  }
};

constexpr int lanes = 4;

// The sums of `lanes` points side by side over `count` columns, lane g starting `step` columns
// after lane g-1: values (first pass) or squared deviations from the means (second pass), with
// or without the usable factor (a stretch without unusable pixels needs none). The lanes are
// spelled out so that the running sums stay in registers.
template <bool deviations, bool masked>
inline void sum_lanes(const double* pr, const double* pi, const double* pu, std::ptrdiff_t step, int count,
                      double* ar, double* ai, const double* mr, const double* mi) {
  double r0 = ar[0], r1 = ar[1], r2 = ar[2], r3 = ar[3];
  double i0 = ai[0], i1 = ai[1], i2 = ai[2], i3 = ai[3];
  const std::ptrdiff_t s1 = step, s2 = 2 * step, s3 = 3 * step;
  if constexpr (!deviations) {
    for (int t = 0; t < count; ++t) {
      r0 += pr[t];
      r1 += pr[t + s1];
      r2 += pr[t + s2];
      r3 += pr[t + s3];
      i0 += pi[t];
      i1 += pi[t + s1];
      i2 += pi[t + s2];
      i3 += pi[t + s3];
    }
  } else {
    const double mr0 = mr[0], mr1 = mr[1], mr2 = mr[2], mr3 = mr[3];
    const double mi0 = mi[0], mi1 = mi[1], mi2 = mi[2], mi3 = mi[3];
    const auto square = [&](double value, double mean, std::ptrdiff_t at) {
      const double d = value - mean;
      if constexpr (masked)
        return d * d * pu[at];
      else
        return d * d;
    };
    for (int t = 0; t < count; ++t) {
      r0 += square(pr[t], mr0, t);
      r1 += square(pr[t + s1], mr1, t + s1);
      r2 += square(pr[t + s2], mr2, t + s2);
      r3 += square(pr[t + s3], mr3, t + s3);
      i0 += square(pi[t], mi0, t);
      i1 += square(pi[t + s1], mi1, t + s1);
      i2 += square(pi[t + s2], mi2, t + s2);
      i3 += square(pi[t + s3], mi3, t + s3);
    }
  }
  ar[0] = r0, ar[1] = r1, ar[2] = r2, ar[3] = r3;
  ai[0] = i0, ai[1] = i1, ai[2] = i2, ai[3] = i3;
}

// Adds the box row (columns x-w..x+w) of every point of the grid row to its sums. With `meanR`
// null the values are summed (first pass), otherwise their squared deviations from the point's
// means (second pass). Points whose box row reaches beyond the prepared columns are summed over
// the part inside, which is exactly the part inside the image.
void add_box_row(const PreparedRow& row, int xlo, int xhi, const std::vector<int>& xs, int w, RowSums& sums,
                 const double* meanR, const double* meanI) {
  const double* pr = row.r.data();
  const double* pi = row.i.data();
  const double* pu = row.used.data();
  const std::size_t points = xs.size();
  const std::ptrdiff_t step = points > 1 ? xs[1] - xs[0] : 0;
  const int count = 2 * w + 1;
  // A group of `lanes` points whose box rows all lie inside the prepared columns.
  const auto interior = [&](std::size_t k) {
    return k + lanes <= points && xs[k] - w >= xlo && xs[k + lanes - 1] + w <= xhi;
  };
  // Interior groups: every lane sums the same number of columns, `step` apart.
  for (std::size_t k = 0; k + lanes <= points; k += lanes) {
    if (!interior(k)) continue;
    const std::ptrdiff_t start = xs[k] - w - row.first;
    double ar[lanes], ai[lanes];
    for (int g = 0; g < lanes; ++g) {
      ar[g] = sums.r[k + g];
      ai[g] = sums.i[k + g];
    }
    if (meanR == nullptr) {
      sum_lanes<false, false>(pr + start, pi + start, pu + start, step, count, ar, ai, nullptr, nullptr);
      for (int g = 0; g < lanes; ++g) sums.n[k + g] += row.usable(xs[k + g] - w, xs[k + g] + w);
    } else if (row.usable(xs[k] - w, xs[k + lanes - 1] + w) == xs[k + lanes - 1] - xs[k] + count) {
      sum_lanes<true, false>(pr + start, pi + start, pu + start, step, count, ar, ai, meanR + k, meanI + k);
    } else {
      sum_lanes<true, true>(pr + start, pi + start, pu + start, step, count, ar, ai, meanR + k, meanI + k);
    }
    for (int g = 0; g < lanes; ++g) {
      sums.r[k + g] = ar[g];
      sums.i[k + g] = ai[g];
    }
  }
  // Every other point, one by one over its clipped box row.
  for (std::size_t p = 0; p < points; ++p) {
    if (interior(p / lanes * lanes)) continue;
    const int lo = std::max(xs[p] - w, xlo);
    const int hi = std::min(xs[p] + w, xhi);
    double sr = sums.r[p], si = sums.i[p];
    for (int x = lo; x <= hi; ++x) {
      const std::ptrdiff_t at = x - row.first;
      if (meanR == nullptr) {
        sr += pr[at];
        si += pi[at];
      } else {
        const double dr = pr[at] - meanR[p];
        const double di = pi[at] - meanI[p];
        sr += dr * dr * pu[at];
        si += di * di * pu[at];
      }
    }
    if (meanR == nullptr && lo <= hi) sums.n[p] += row.usable(lo, hi);
    sums.r[p] = sr;
    sums.i[p] = si;
  }
}

}  // namespace

GridLayout grid_layout(const util::Region& region, int nx, int ny, int intervall) {
  GridLayout g{};
  g.step = intervall;
  g.x1 = std::max(region.getStart(1), 1);
  g.x2 = region.getEnd(1);
  if (g.x2 > nx || g.x2 <= g.x1) g.x2 = nx;
  g.y1 = std::max(region.getStart(2), 1);
  g.y2 = region.getEnd(2);
  if (g.y2 > ny || g.y2 <= g.y1) g.y2 = ny;
  if (intervall < 1) return g;
  const auto count = [&](int a, int b) {
    return a <= b ? static_cast<int>((static_cast<std::int64_t>(b) - a) / intervall + 1) : 0;
  };
  g.columns = count(g.x1, g.x2);
  g.rows = count(g.y1, g.y2);
  return g;
}

SamplingPoints sampling_grid(const orv::MArray<float, 2>& R, const orv::MArray<float, 2>& I, int nx, int ny,
                             const util::Region& region, int intervall, int radius, float blank,
                             bool with_scatters) {
  const GridLayout g = grid_layout(region, nx, ny, intervall);
  SamplingPoints pts;
  pts.N = static_cast<int>(std::min<std::int64_t>(static_cast<std::int64_t>(g.columns) * g.rows, INT32_MAX));
  orv::MArray<double, 1>* arrays[] = {&pts.x, &pts.y, &pts.mR, &pts.sR, &pts.mI, &pts.sI};
  for (orv::MArray<double, 1>* a : arrays) {
    orv::MArray<double, 1> fresh(pts.N);
    fresh = 0.0;
    a->makeReference(fresh);
  }
  if (pts.N == 0) return pts;

  const int r = std::max(radius, 0);
  const std::vector<int> half = r > 0 ? box_half_widths(r) : std::vector<int>();
  std::vector<int> xs(static_cast<std::size_t>(g.columns));
  for (int k = 0; k < g.columns; ++k) xs[static_cast<std::size_t>(k)] = g.x1 + k * intervall;
  // Columns any box of the row can reach.
  const int xlo = static_cast<int>(std::max<std::int64_t>(1, static_cast<std::int64_t>(g.x1) - r));
  const int xhi = static_cast<int>(std::min<std::int64_t>(nx, static_cast<std::int64_t>(xs.back()) + r));

  PreparedRow row;
  RowSums sums, squares;
  std::vector<double> meanR(xs.size()), meanI(xs.size());
  int kept = 0;
  for (int gy = 0; gy < g.rows; ++gy) {
    const int y = g.y1 + gy * intervall;
    sums.reset(xs.size());
    // Box rows inside the image.
    const int jlo = static_cast<int>(std::max<std::int64_t>(-r, 1 - static_cast<std::int64_t>(y)));
    const int jhi = static_cast<int>(std::min<std::int64_t>(r, static_cast<std::int64_t>(ny) - y));
    if (r > 0 && xlo <= xhi) {
      for (int j = jlo; j <= jhi; ++j) {
        row.fill(R, I, y + j, xlo, xhi, blank);
        add_box_row(row, xlo, xhi, xs, half[static_cast<std::size_t>(j + r)], sums, nullptr, nullptr);
      }
    }
    for (std::size_t k = 0; k < xs.size(); ++k) {
      const double n = static_cast<double>(sums.n[k]);
      meanR[k] = n > 0 ? sums.r[k] / n : 0.0;
      meanI[k] = n > 0 ? sums.i[k] / n : 0.0;
    }
    squares.reset(xs.size());
    if (with_scatters && r > 0 && xlo <= xhi) {
      for (int j = jlo; j <= jhi; ++j) {
        row.fill(R, I, y + j, xlo, xhi, blank);
        add_box_row(row, xlo, xhi, xs, half[static_cast<std::size_t>(j + r)], squares, meanR.data(),
                    meanI.data());
      }
    }
    for (std::size_t k = 0; k < xs.size(); ++k) {
      if (meanR[k] == 0.0 || meanI[k] == 0.0) continue;
      ++kept;
      pts.x(kept) = xs[k];
      pts.y(kept) = y;
      pts.mR(kept) = meanR[k];
      pts.mI(kept) = meanI[k];
      if (with_scatters) {
        const double n = static_cast<double>(sums.n[k]);
        pts.sR(kept) = n > 1 ? std::sqrt(squares.r[k] / (n - 1)) : meanR[k];
        pts.sI(kept) = n > 1 ? std::sqrt(squares.i[k] / (n - 1)) : meanI[k];
      }
    }
  }
  pts.K = kept;
  return pts;
}

SamplingPoints sampling_grid(const orv::MArray<float, 2>& R, const orv::MArray<float, 2>& I, int nx, int ny,
                             const Pliste& P, bool with_scatters) {
  return sampling_grid(R, I, nx, ny, P.region, P.intervall, P.radius, P.blank, with_scatters);
}
