// Bad-pixel masking: one pass copies both images and flags blocks that hold a bad pixel, then
// the few bad pixels found in those blocks stamp their discs into the copies.
#include "tarvole/masking.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "tarvole/new_image.h"

namespace {

// Contiguous storage with index base 1, as the masking loops address it.
orv::MArray<float, 2> contiguous(const orv::MArray<float, 2>& a) {
  if (a.isStorageContiguous() && a.first(1) == 1 && a.first(2) == 1) return a;
  orv::MArray<float, 2> copy(a.length(1), a.length(2));
  copy = a;
  return copy;
}

// A pixel that masks its neighbourhood: value 0, error <= 0, or either not finite. An error of
// -1 is <= 0 and so is found here too. Written without short cuts so that it vectorises.
inline bool masks(float v, float e) {
  return (v == 0.0f) | !(std::fabs(v) <= FLT_MAX) | !(e > 0.0f) | !(e <= FLT_MAX);
}

// Copies n elements of v and e and tells whether any of them masks. g++ vectorises the loop (a
// hot source, see CMakeLists.txt), behind a run-time check that the four arrays do not overlap.
bool copy_and_test(const float* v, const float* e, float* mv, float* me, long n) {
  int any = 0;
  for (long k = 0; k < n; ++k) {
    mv[k] = v[k];
    me[k] = e[k];
    any |= masks(v[k], e[k]);
  }
  return any != 0;
}

// Half-widths per row offset dy = -reach..reach of the disc dx*dx + dy*dy <= limit.
std::vector<int> disc_half_widths(int reach, double limit) {
  std::vector<int> half;
  for (int dy = -reach; dy <= reach; ++dy) {
    int w = -1;
    for (int dx = 0; dx <= reach; ++dx)
      if (static_cast<double>(dx) * dx + static_cast<double>(dy) * dy <= limit) w = dx;
    half.push_back(w);
  }
  return half;
}

void stamp(float* mv, float* me, int nx, int ny, int x, int y, int reach, const std::vector<int>& half,
           float blank) {
  for (int dy = -reach; dy <= reach; ++dy) {
    const int yy = y + dy;
    const int w = half[static_cast<std::size_t>(dy + reach)];
    if (yy < 1 || yy > ny || w < 0) continue;
    const int lo = std::max(x - w, 1), hi = std::min(x + w, nx);
    const long row = static_cast<long>(yy - 1) * nx - 1;
    std::fill(mv + row + lo, mv + row + hi + 1, blank);
    std::fill(me + row + lo, me + row + hi + 1, blank);
  }
}

}  // namespace

orv::MArray<float, 2> error_from_values(const orv::MArray<float, 2>& v) {
  orv::MArray<float, 2> e = new_image_like(v);
  const int x0 = v.first(1), x1 = v.last(1), y0 = v.first(2), y1 = v.last(2);
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) {
      const float value = v(x, y);
      e(x, y) = value > 0.0f ? std::sqrt(value) : 0.0f;
    }
  return e;
}

void mask_bad_pixels(const orv::MArray<float, 2>& v, const orv::MArray<float, 2>& e,
                     orv::MArray<float, 2>& Mv, orv::MArray<float, 2>& Me, float blank) {
  static const std::vector<int> small_disc = disc_half_widths(4, 20.0);
  static const std::vector<int> large_disc = disc_half_widths(20, 420.0);
  const orv::MArray<float, 2> cv = contiguous(v), ce = contiguous(e);
  const int nx = cv.length(1), ny = cv.length(2);
  orv::MArray<float, 2> mv = new_image(nx, ny), me = new_image(nx, ny);
  const float* pv = cv.firstElement();
  const float* pe = ce.firstElement();
  float* pmv = mv.firstElement();
  float* pme = me.firstElement();
  const long n = static_cast<long>(nx) * ny;

  // Copy in blocks; remember the bad pixels of blocks that hold one. Stamping waits until the
  // whole copy is done, since a disc reaches into blocks copied later.
  constexpr long block = 1024;
  std::vector<long> bad;
  for (long first = 0; first < n; first += block) {
    const long count = std::min(block, n - first);
    if (!copy_and_test(pv + first, pe + first, pmv + first, pme + first, count)) continue;
    for (long k = first; k < first + count; ++k)
      if (masks(pv[k], pe[k])) bad.push_back(k);
  }
  for (long k : bad) {
    const int x = static_cast<int>(k % nx) + 1, y = static_cast<int>(k / nx) + 1;
    stamp(pmv, pme, nx, ny, x, y, 4, small_disc, blank);
    if (pe[k] == -1.0f) stamp(pmv, pme, nx, ny, x, y, 20, large_disc, blank);
  }
  if (v.first(1) != 1 || v.first(2) != 1) {
    mv.setBase(v.first(1), v.first(2));
    me.setBase(v.first(1), v.first(2));
  }
  Mv.makeReference(mv);
  Me.makeReference(me);
}
