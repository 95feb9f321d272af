// Sub-pixel redistribution of a star stamp onto the fine grid: a local
// polynomial surface per pixel, integrated over Q x Q sub-cells (Q = 5·S) that
// land in the fine cells of an affine mapping.

#include <chrono>
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <iostream>
#include <vector>

#include "numerics/linsolve.h"
#include "orv/fits/fits.h"
#include "psf/korven_lib.h"

namespace {

// The fine cell whose centre is nearest: z truncated toward zero after 1 is
// taken from negative z (a negative half-way point goes to the lower cell).
inline int nearest_cell(double z) { return static_cast<int>(z < 0 ? z - 1 : z); }

// (b/Q)^q - ((b - 1)/Q)^q for q = 1..m, by repeated multiplication.
void power_differences(int b, double invQ, int m, double* out) {
  const double hi = b * invQ, lo = (b - 1) * invQ;
  double ph = 1.0, pl = 1.0;
  for (int q = 1; q <= m; ++q) {
    ph *= hi;
    pl *= lo;
    out[q - 1] = ph - pl;
  }
}

}  // namespace

int psf::erzeuge_M(orv::MArray<double, 2>& M, int k) {
  const int m = 2 * k + 1;
  const int n = m * m;
  // Row 1: the integrals of y^(p-1)·x^(q-1) over the pixel; then one row per
  // neighbour centre (dy outer, dx inner, (0, 0) left out).
  for (int p = 1; p <= m; ++p)
    for (int q = 1; q <= m; ++q) M(1, (p - 1) * m + q) = 1.0 / (p * q);
  int row = 1;
  for (int dy = -k; dy <= k; ++dy) {
    for (int dx = -k; dx <= k; ++dx) {
      if (dx == 0 && dy == 0) continue;
      ++row;
      for (int p = 1; p <= m; ++p)
        for (int q = 1; q <= m; ++q)
          M(row, (p - 1) * m + q) = std::pow(dy + 0.5, p - 1) * std::pow(dx + 0.5, q - 1);
    }
  }
  orv::MArray<double, 1> rhs(n);
  rhs = 0.0;
  if (gaussj(M, n, rhs) != 0) std::cout << " error in gaussj" << std::endl;
  return 0;
}

template <typename T>
void psf::divvy(const orv::MArray<T, 2>& img, const orv::MArray<T, 2>& err, orv::MArray<double, 2>& out,
                orv::MArray<double, 2>& eout, const double* a, int verbose) {
  const int S = _subgrid, K = _interpolation, Q = 5 * S;
  const int x1 = img.first(1), x2 = img.last(1), y1 = img.first(2), y2 = img.last(2);

  // Padded copies with a frame of K zeros, so every neighbour ring can be read.
  orv::MArray<double, 2> Ipad(orv::Range(x1 - K, x2 + K), orv::Range(y1 - K, y2 + K));
  orv::MArray<double, 2> Epad(orv::Range(x1 - K, x2 + K), orv::Range(y1 - K, y2 + K));
  Ipad = 0.0;
  Epad = 0.0;
  for (int iy = y1; iy <= y2; ++iy) {
    for (int ix = x1; ix <= x2; ++ix) {
      Ipad(ix, iy) = img(ix, iy);
      Epad(ix, iy) = err(ix, iy);
    }
  }
  const int ox1 = out.first(1), ox2 = out.last(1), oy1 = out.first(2), oy2 = out.last(2);
  if (verbose > 3) {
    std::cout << x1 << "..." << x2 << std::endl << y1 << "..." << y2 << std::endl;
    std::cout << ox1 << "..." << ox2 << std::endl << oy1 << "..." << oy2 << std::endl;
  }

  // The inverse surface matrix of every order 0..K.
  std::vector<orv::MArray<double, 2>> Minv;
  for (int k = 0; k <= K; ++k) {
    const int mm = (2 * k + 1) * (2 * k + 1);
    Minv.emplace_back(mm, mm);
    erzeuge_M(Minv.back(), k);
  }

  // The basis integrals factor into an x part and a y part:
  // B_k(c(p, q), s, t) = X_q(s)·Y_p(t) / (p·q) with X_q(s) = (s/Q)^q - ((s-1)/Q)^q.
  // Xq(q, s) holds X_q(s) / q (Y is the same table, indexed by t and p).
  const int n = 2 * K + 1;
  const double invQ = 1.0 / Q;
  std::vector<double> Xq(static_cast<std::size_t>(n) * Q);  // [s][q]
  for (int s = 1; s <= Q; ++s) {
    double* row = &Xq[static_cast<std::size_t>(s - 1) * n];
    power_differences(s, invQ, n, row);
    for (int q = 1; q <= n; ++q) row[q - 1] /= q;
  }
  if (verbose > 3)
    std::cout << "Groesse integ_basis: " << static_cast<long>(Q) * Q * n * n * (K + 1) << std::endl;

  // Sub-cell landing points, coverage counts and variance shares.
  std::vector<double> Ug(static_cast<std::size_t>(Q) * Q), Vg(static_cast<std::size_t>(Q) * Q);
  for (int t = 1; t <= Q; ++t) {
    for (int s = 1; s <= Q; ++s) {
      const double X = (s - 1) * invQ - 0.5 + 0.5 * invQ;
      const double Y = (t - 1) * invQ - 0.5 + 0.5 * invQ;
      Ug[(t - 1) * Q + (s - 1)] = ((a[1] * X + a[2] * Y) + a[5]) + 0.5;
      Vg[(t - 1) * Q + (s - 1)] = ((a[3] * X + a[4] * Y) + a[6]) + 0.5;
    }
  }
  orv::MArray<std::int64_t, 2> count(orv::Range(ox1, ox2), orv::Range(oy1, oy2));
  count = 0;
  const double Q2 = static_cast<double>(Q) * Q;
  const auto t0 = std::chrono::steady_clock::now();
  out = 0.0;
  eout = 0.0;

  // Calls visit(fx, fy, s, t) for every sub-cell of pixel (ix, iy) that lands inside out.
  auto forEachLanding = [&](int ix, int iy, auto visit) {
    for (int t = 1; t <= Q; ++t) {
      for (int s = 1; s <= Q; ++s) {
        const std::size_t c = static_cast<std::size_t>(t - 1) * Q + (s - 1);
        const int fx = nearest_cell(Ug[c] + a[1] * ix + a[2] * iy);
        const int fy = nearest_cell(Vg[c] + a[3] * ix + a[4] * iy);
        if (fx < ox1 || fx > ox2 || fy < oy1 || fy > oy2) continue;
        visit(fx, fy, s, t);
      }
    }
  };

  std::vector<double> b(static_cast<std::size_t>(n) * n), coef(static_cast<std::size_t>(n) * n);
  std::vector<double> G(static_cast<std::size_t>(n) * Q);  // G[p][s] = sum_q coef(p, q)·X_q(s)/q
  std::vector<double> Yt(static_cast<std::size_t>(n));
  // Without cross terms (a2 = a3 = 0) the landing column depends on s only and
  // the row on t only.
  const bool separable = a[2] == 0 && a[3] == 0;
  struct Run {
    int cell, first, last;  // fine cell and the sub-cells first..last that land in it
  };
  std::vector<Run> xRuns, yRuns;
  xRuns.reserve(Q);
  yRuns.reserve(Q);
  std::vector<double> Gsum(static_cast<std::size_t>(n) * Q), Ysum(static_cast<std::size_t>(n) * Q);
  for (int iy = y1; iy <= y2; ++iy) {
    for (int ix = x1; ix <= x2; ++ix) {
      const double g = Ipad(ix, iy);
      if (g == 0.0) continue;
      // The surface order: the first ring holding an exact zero limits it.
      int k = K;
      for (int d = 1; d <= K && k == K; ++d) {
        for (int c = -d; c <= d; ++c) {
          if (Ipad(ix + c, iy - d) == 0.0 || Ipad(ix + c, iy + d) == 0.0 || Ipad(ix - d, iy + c) == 0.0 ||
              Ipad(ix + d, iy + c) == 0.0) {
            k = d - 1;
            break;
          }
        }
      }
      const int m = 2 * k + 1, mm = m * m;
      // The pixel and its neighbours form the right-hand side; coef = Minv_k·b.
      b[0] = g;
      int r = 0;
      for (int dy = -k; dy <= k; ++dy)
        for (int dx = -k; dx <= k; ++dx)
          if (dx != 0 || dy != 0) b[++r] = Ipad(ix + dx, iy + dy);
      const orv::MArray<double, 2>& Mi = Minv[k];
      for (int i = 1; i <= mm; ++i) {
        double sum = 0.0;
        for (int rr = 1; rr <= mm; ++rr) sum += Mi(i, rr) * b[rr - 1];
        coef[i - 1] = sum;
      }
      // The x sums once per pixel: G[p][s] over q.
      for (int p = 1; p <= m; ++p) {
        for (int s = 1; s <= Q; ++s) {
          const double* xrow = &Xq[static_cast<std::size_t>(s - 1) * n];
          double sum = 0.0;
          for (int q = 1; q <= m; ++q) sum += coef[(p - 1) * m + q - 1] * xrow[q - 1];
          G[static_cast<std::size_t>(p - 1) * Q + (s - 1)] = sum;
        }
      }
      const double w = Epad(ix, iy) * Epad(ix, iy) / Q2;
      if (separable) {
        // Sub-cells of one column land in one fine column (and rows alike):
        // sum the x factors over each run of columns and the y factors over
        // each run of rows, then add one product per fine cell.
        auto runsOf = [&](const double* landing, std::size_t step, double offset, int lo, int hi,
                          std::vector<Run>& runs) {
          runs.clear();
          for (int b = 1; b <= Q; ++b) {
            const int cell = nearest_cell(landing[(b - 1) * step] + offset);
            if (cell < lo || cell > hi) continue;
            if (runs.empty() || runs.back().cell != cell || runs.back().last != b - 1)
              runs.push_back({cell, b, b - 1});
            runs.back().last = b;
          }
        };
        runsOf(Ug.data(), 1, a[1] * ix + a[2] * iy, ox1, ox2, xRuns);
        runsOf(Vg.data(), Q, a[3] * ix + a[4] * iy, oy1, oy2, yRuns);
        for (std::size_t r = 0; r < xRuns.size(); ++r)
          for (int p = 1; p <= m; ++p) {
            double sum = 0.0;
            for (int b = xRuns[r].first; b <= xRuns[r].last; ++b)
              sum += G[static_cast<std::size_t>(p - 1) * Q + (b - 1)];
            Gsum[r * n + (p - 1)] = sum;
          }
        for (std::size_t r = 0; r < yRuns.size(); ++r)
          for (int p = 1; p <= m; ++p) {
            double sum = 0.0;
            for (int b = yRuns[r].first; b <= yRuns[r].last; ++b)
              sum += Xq[static_cast<std::size_t>(b - 1) * n + (p - 1)];
            Ysum[r * n + (p - 1)] = sum;
          }
        for (std::size_t ry = 0; ry < yRuns.size(); ++ry) {
          const int fy = yRuns[ry].cell;
          const int ny = yRuns[ry].last - yRuns[ry].first + 1;
          for (std::size_t rx = 0; rx < xRuns.size(); ++rx) {
            double f = 0.0;
            for (int p = 0; p < m; ++p) f += Gsum[rx * n + p] * Ysum[ry * n + p];
            const int cells = ny * (xRuns[rx].last - xRuns[rx].first + 1);
            const int fx = xRuns[rx].cell;
            out(fx, fy) += f;
            eout(fx, fy) += w * cells;
            count(fx, fy) += cells;
          }
        }
        continue;
      }
      int lastT = 0;
      forEachLanding(ix, iy, [&](int fx, int fy, int s, int t) {
        if (t != lastT) {
          const double* yrow = &Xq[static_cast<std::size_t>(t - 1) * n];
          for (int p = 1; p <= m; ++p) Yt[p - 1] = yrow[p - 1];
          lastT = t;
        }
        double f = 0.0;
        for (int p = 1; p <= m; ++p) f += G[static_cast<std::size_t>(p - 1) * Q + (s - 1)] * Yt[p - 1];
        out(fx, fy) += f;
        eout(fx, fy) += w;
        count(fx, fy) += 1;
      });
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (verbose > 3) std::cout << std::endl << "    ended after " << seconds << " sec" << std::endl;

  // Coverage in whole pixels' worth of sub-cells, then fluxes per fine cell.
  orv::MArray<double, 2> cov(orv::Range(ox1, ox2), orv::Range(oy1, oy2));
  for (int fy = oy1; fy <= oy2; ++fy)
    for (int fx = ox1; fx <= ox2; ++fx) cov(fx, fy) = count(fx, fy) / Q2;
  if (verbose > 3) {
    orv::FitsOut file("count.fits");
    file.setBitpixOut(-32);
    file << cov;
  }
  const double S2 = static_cast<double>(S) * S;
  for (int fy = oy1; fy <= oy2; ++fy) {
    for (int fx = ox1; fx <= ox2; ++fx) {
      const double c = cov(fx, fy);
      if (c != 0) {
        out(fx, fy) = out(fx, fy) / c / S2;
        eout(fx, fy) = std::sqrt(eout(fx, fy)) / c / S2;
      } else {
        out(fx, fy) = 0;
        eout(fx, fy) = 0;
      }
    }
  }
  // Masked pixels (value 0, error -1) mark their fine cells unusable.
  for (int iy = y1; iy <= y2; ++iy) {
    for (int ix = x1; ix <= x2; ++ix) {
      if (Ipad(ix, iy) != 0.0 || Epad(ix, iy) != -1.0) continue;
      forEachLanding(ix, iy, [&](int fx, int fy, int, int) {
        out(fx, fy) = 0;
        eout(fx, fy) = -1.0;
      });
    }
  }
  if (verbose > 3)
    std::cout << "sum :  " << std::setprecision(20) << std::setw(25) << orv::sum(out) << std::endl;
}

template void psf::divvy<float>(const orv::MArray<float, 2>&, const orv::MArray<float, 2>&,
                                orv::MArray<double, 2>&, orv::MArray<double, 2>&, const double*, int);
