// Knots of the binned spline surfaces: ranges, values, evaluation, second derivatives, summaries.
#include "tarvole/knots.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <vector>

#include "numerics/spline.h"

int first_knot(int i0) {
  int p = 1;
  for (int v = 0; v >= i0; v -= 3) --p;
  return p;
}

int last_knot(int i1) {
  int p = -1;
  for (int v = 0; v <= i1; v += 3) ++p;
  return p;
}

KnotStatus knot_ranges(int ix0, int ix1, int iy0, int iy1, Knots& k) {
  if (ix0 > ix1 || iy0 > iy1) return KnotStatus::noCells;
  k.px0 = first_knot(ix0);
  k.px1 = last_knot(ix1);
  k.py0 = first_knot(iy0);
  k.py1 = last_knot(iy1);
  if (k.px1 <= k.px0 || k.py1 <= k.py0) return KnotStatus::tooFewKnots;
  return KnotStatus::ok;
}

namespace {

// G(kx, ky), or blank for a cell outside the array.
double cell_at(const orv::MArray<double, 2>& G, int kx, int ky, double blank) {
  if (kx < G.first(1) || kx > G.last(1) || ky < G.first(2) || ky > G.last(2)) return blank;
  return G(kx, ky);
}

}  // namespace

KnotStatus knot_values(const orv::MArray<double, 2>& G, CellAxis ax, CellAxis ay, float blank,
                       std::ostream& out, std::ostream& err, const std::string& outname, Knots& k) {
  const double b = blank;
  k.xs.makeReference(orv::MArray<double, 1>(orv::Range(k.px0, k.px1)));
  k.ys.makeReference(orv::MArray<double, 1>(orv::Range(k.py0, k.py1)));
  k.z.makeReference(orv::MArray<double, 2>(orv::Range(k.px0, k.px1), orv::Range(k.py0, k.py1)));
  bool outside = false;
  for (int p = k.px0; p <= k.px1; ++p) {
    k.xs(p) = ax.centre_of(3 * p);
    outside |= 3 * p < ax.first || 3 * p > ax.last;
  }
  for (int q = k.py0; q <= k.py1; ++q) {
    k.ys(q) = ay.centre_of(3 * q);
    outside |= 3 * q < ay.first || 3 * q > ay.last;
  }
  if (outside)
    err << "warning: knots lie outside the cells around the centre (" << ax.centre << ", " << ay.centre
        << "), far from the image; their windows count as blank: " << outname << std::endl;

  for (int q = k.py0; q <= k.py1; ++q)
    for (int p = k.px0; p <= k.px1; ++p) {
      orv::MArray<double, 1> nine(9);
      int n = 1;
      for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i) nine(n++) = cell_at(G, 3 * p + i, 3 * q + j, b);
      double m = orv::median_exact(nine, b);
      for (int h = 1; m == b && h <= 10; ++h) {
        orv::MArray<double, 1> list((2 * h + 1) * (2 * h + 1));
        list = b;
        n = 1;
        for (int j = -h; j <= h; ++j)
          for (int i = -h; i <= h; ++i) {
            const int kx = 3 * p + i, ky = 3 * q + j;
            if (kx >= ax.first && kx <= ax.last && ky >= ay.first && ky <= ay.last)
              list(n++) = cell_at(G, kx, ky, b);
          }
        m = orv::median_exact(list, b);
        out << "h: " << h << "   " << m << std::endl;
      }
      k.z(p, q) = m;
    }

  if (!fill_blank_knots(k.z, b, err, outname)) return KnotStatus::noKnotValue;

  k.count = 0;
  k.sum = 0.0;
  k.sumSquaredFromOne = 0.0;
  for (int q = k.py0; q <= k.py1; ++q)
    for (int p = k.px0; p <= k.px1; ++p) {
      const double m = k.z(p, q);
      ++k.count;
      k.sum += m;
      k.sumSquaredFromOne += (m - 1.0) * (m - 1.0);
    }
  return KnotStatus::ok;
}

void report_knot_failure(KnotStatus status, std::ostream& err, const std::string& outname) {
  if (status == KnotStatus::noCells)
    err << "errors in spline: no cell holds enough data: " << outname << std::endl;
  else if (status == KnotStatus::tooFewKnots)
    err << "errors in spline: fewer than two knots in a direction: " << outname << std::endl;
  else if (status == KnotStatus::noKnotValue)
    err << "errors in spline: no knot has a value: " << outname << std::endl;
}

long evaluate_surface(const Knots& k, const orv::MArray<double, 2>& z2, orv::MArray<float, 2>& out, int x0,
                      int x1, int y0, int y1, bool stopAtFirstFailure) {
  x0 = std::max(x0, out.first(1));
  x1 = std::min(x1, out.last(1));
  y0 = std::max(y0, out.first(2));
  y1 = std::min(y1, out.last(2));
  if (x0 > x1 || y0 > y1) return 0;
  BicubicSplineRow spline(k.xs, k.ys, k.z, z2);
  const int n = x1 - x0 + 1;
  std::vector<double> columns(n), values(n);
  std::vector<int> statuses(n);
  for (int i = 0; i < n; ++i) columns[i] = x0 + i;
  spline.setPositions(columns.data(), n);
  long errors = 0;
  for (int y = y0; y <= y1; ++y) {
    spline.setRow(y);
    spline.values(values.data(), statuses.data());
    float* row = &out(x0, y);
    if (stopAtFirstFailure) {
      for (int i = 0; i < n; ++i) {
        errors += statuses[i];
        if (errors == 0) row[i] = static_cast<float>(values[i]);
      }
    } else {
      for (int i = 0; i < n; ++i) {
        errors += statuses[i];
        if (statuses[i] == 0) row[i] = static_cast<float>(values[i]);
      }
    }
  }
  return errors;
}

void paint_knots(const Knots& k, int half, PixelBox box, orv::MArray<float, 2>& img) {
  for (int q = k.py0; q <= k.py1; ++q)
    for (int p = k.px0; p <= k.px1; ++p) {
      const int xs = static_cast<int>(k.xs(p)), ys = static_cast<int>(k.ys(q));
      const float value = static_cast<float>(k.z(p, q));
      for (int y = std::max(ys - half, box.y0); y <= std::min(ys + half, box.y1); ++y)
        for (int x = std::max(xs - half, box.x0); x <= std::min(xs + half, box.x1); ++x) img(x, y) = value;
    }
}

orv::MArray<double, 2> knot_second_derivatives(const Knots& k, std::ostream& os, int verbose,
                                               const std::string& outname) {
  orv::MArray<double, 2> z2(orv::Range(k.px0, k.px1), orv::Range(k.py0, k.py1));
  z2 = 0.0;
  if (sc_splie2(k.xs, k.ys, k.z, z2) != 0) std::cerr << "errors in " << outname << std::endl;
  if (verbose > 1) os << std::endl << "z'':" << std::endl << std::setprecision(3) << z2 << std::endl;
  return z2;
}

void print_bounds(std::ostream& os, const char* title, const char* const (&names)[4], int a, int b, int c,
                  int d) {
  if (title != nullptr) os << std::endl << title << std::endl;
  const int values[4] = {a, b, c, d};
  for (int i = 0; i < 4; ++i) os << " " << names[i] << " = " << values[i] << std::endl;
}

void print_knot_summary(std::ostream& os, double sum, double count, double squaresFromOne, double median) {
  os << " aver   = " << sum / count << std::endl
     << " sig    = " << std::sqrt(squaresFromOne / count) << std::endl
     << " median = " << median << std::endl;
}
