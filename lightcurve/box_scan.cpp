// The scan for the best box of one trial. Every box (start i1, end i2) is
// scored from prefix sums, but whole blocks of end indices are passed over
// when a bound shows that none of their boxes can beat the best so far; the
// bound errs only towards trying, so the boxes tried and kept, and thus the
// result, are those of trying every box.

#include "lightcurve/box_scan.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace lightcurve_detail {

namespace {

constexpr int kBlockShift = 3;
constexpr int kScanBlock = 1 << kBlockShift;

// The relative slack of the block bound: far above the few roundings of
// the box's own test, so a block passed over holds no box that test lets through.
constexpr double kBoundSlack = 1e-9;

// The square of the best residue is lowered by this share before the cheap
// test of a box compares with it: the square and the product of the test
// are rounded, and a residue ahead of the best by its last bit must still
// reach the exact comparison.
constexpr double kTestSlack = 1e-12;

// The residue of entries with weight r and weighted flux s, tried as a box
// or as a complement, when it may be kept: the flux levels lie the right
// way round (out of transit high = -s / (1 - r) above in transit low =
// s / r for a box, the other way for a complement) and the entries do not
// hold all weight (|r - 1| > 1e-9, else the residue is 0); 0 otherwise.
double keptResidue(double r, double s, bool complement) {
  if (std::fabs(r - 1) <= 1e-9) return 0.0;
  const double high = -s / (1 - r);
  const double low = s / r;
  if (complement ? !(low > high) : !(high > low)) return 0.0;
  return std::sqrt(s * s / (r * (1 - r)));
}

}  // namespace

void SortedCurve::resize(int n) {
  ph.assign(n + 1, 0.0);
  cumW.assign(n + 1, 0.0);
  cumS.assign(n + 1, 0.0);
  const int blocks = n / kScanBlock + 1;
  blockLow.assign(blocks, 0.0);
  blockHigh.assign(blocks, 0.0);
  openBlocks.assign(4 * blocks, 0);
}

void scanBoxes(SortedCurve& c, double qmin, double qmax, TrialBox& best) {
  // Entries whose phase is not a number sort last, and no box starts or ends
  // on them (its width is not a number), though their weight counts in the
  // complement of every box: the scan reads the others, 1..M.
  int M = c.M;
  while (M > 0 && std::isnan(c.ph[M])) --M;
  const double* ph = c.ph.data();
  const double* cumW = c.cumW.data();
  const double* cumS = c.cumS.data();
  double* blockLow = c.blockLow.data();
  double* blockHigh = c.blockHigh.data();
  for (int b = 0; b * kScanBlock < M; ++b) {
    const int first = b * kScanBlock + 1, last = std::min(M, first + kScanBlock - 1);
    double low = cumS[first], high = cumS[first];
    for (int i = first + 1; i <= last; ++i) {
      low = std::min(low, cumS[i]);
      high = std::max(high, cumS[i]);
    }
    blockLow[b] = low;
    blockHigh[b] = high;
  }
  double bestSquare = best.sr * best.sr * (1 - kTestSlack);

  // Tries the entries i1..i2 as a box (transit inside) or as its complement.
  // The lower level lies inside the box exactly when s < 0 (outside when
  // s > 0); the cheap test whether the residue can beat the best comes first.
  auto tryBox = [&](int i1, int i2, bool complement) {
    const double r = cumW[i2] - cumW[i1 - 1];
    const double s = cumS[i2] - cumS[i1 - 1];
    const bool side = complement ? s > 0 : s < 0;
    if (!(side & (s * s > bestSquare * (r * (1 - r))))) return;
    const double sr = keptResidue(r, s, complement);
    if (!(sr > best.sr)) return;
    const double high = -s / (1 - r);
    const double low = s / r;
    best.sr = sr;
    bestSquare = sr * sr * (1 - kTestSlack);
    const double q = ph[i2] - ph[i1];
    best.first = i1;
    best.last = i2;
    if (complement) {
      best.high = low;
      best.low = high;
      best.width = 1 - q;
      best.centre = (ph[i1] + ph[i2]) / 2 - 0.5;
    } else {
      best.high = high;
      best.low = low;
      best.width = q;
      best.centre = (ph[i1] + ph[i2]) / 2;
    }
  };

  // Whether no box i1..i2 with i2 in [lo, end) (within one block) passes the
  // cheap test of tryBox. The sums are differences from the start's prefix
  // sums, and a rounded difference grows with the minuend, so s of every
  // such box lies between the block's extremes less cumS[i1 - 1], and r
  // between its values at lo and end - 1; r (1 - r) is least at one end.
  auto hopeless = [&](int i1, int lo, int end, bool complement) {
    const int block = (lo - 1) >> kBlockShift;
    const double s0 = cumS[i1 - 1], w0 = cumW[i1 - 1];
    // The largest |s| on the side the box needs.
    const double reach = complement ? blockHigh[block] - s0 : s0 - blockLow[block];
    if (reach <= 0) return true;
    const double rLow = cumW[lo] - w0, rHigh = cumW[end - 1] - w0;
    if (!(rLow > 0 && rHigh < 1)) return false;
    const double spread = std::min(rLow * (1 - rLow), rHigh * (1 - rHigh));
    return reach * reach <= bestSquare * spread * (1 - kBoundSlack);
  };

  // The same bound for every start of one block of starts and every end of
  // one block of ends at once: the start's prefix sums then range over the
  // entries before the starts. A block found hopeless stays so for the
  // rest of the start block, since the best only grows.
  const int blocks = static_cast<int>(c.blockLow.size());
  int* openForBoxes = c.openBlocks.data();
  int* openForComplements = openForBoxes + blocks;
  int* openBlock = openForComplements + blocks;
  int* openKinds = openBlock + blocks;
  double s0Low = 0.0, s0High = 0.0, w0Low = 0.0, w0High = 0.0, leastBoxWeight = 0.0;
  auto blockHopeless = [&](int block, bool complement) {
    const double reach = complement ? blockHigh[block] - s0Low : s0High - blockLow[block];
    if (reach <= 0) return true;
    const int first = block * kScanBlock + 1, last = std::min(M, first + kScanBlock - 1);
    // A box (not a complement) also holds at least the weight of the
    // narrowest box of its start.
    const double rLow = complement ? cumW[first] - w0High : std::max(cumW[first] - w0High, leastBoxWeight);
    const double rHigh = cumW[last] - w0Low;
    if (!(rLow > 0 && rHigh < 1 && rLow <= rHigh)) return false;
    const double spread = std::min(rLow * (1 - rLow), rHigh * (1 - rHigh));
    return reach * reach <= bestSquare * spread * (1 - kBoundSlack);
  };
  // The blocks of the end indices lo..hi-1 that are not hopeless for the
  // kind of box, ascending, into list; their number.
  auto collectOpen = [&](int lo, int hi, bool complement, int* list) {
    int n = 0;
    for (int block = (lo - 1) >> kBlockShift; lo < hi && block * kScanBlock + 1 < hi; ++block)
      if (!blockHopeless(block, complement)) list[n++] = block;
    return n;
  };

  // Every end index i2 >= i1 of the open blocks, ascending: a box when
  // qmin <= q <= qmax, else a complement when qmin <= 1 - q <= qmax, each
  // tried unless its block is closed to its kind.
  int openCount = 0, startFirst = 1, boxFrom = 1;
  int boxStart[kScanBlock];
  auto tryOpenBlocks = [&](int i1) {
    const double start = ph[i1];
    for (int k = 0; k < openCount; ++k) {
      const int from = std::max(i1, openBlock[k] * kScanBlock + 1);
      const int end = std::min(M + 1, (openBlock[k] + 1) * kScanBlock + 1);
      if (from >= end) continue;
      const int boxFrom = std::max(from, boxStart[i1 - startFirst]);
      const bool boxes = (openKinds[k] & 1) && boxFrom < end && !hopeless(i1, boxFrom, end, false);
      const bool complements = (openKinds[k] & 2) && !hopeless(i1, from, end, true);
      if (!boxes && !complements) continue;
      for (int i2 = from; i2 < end; ++i2) {
        const double q = ph[i2] - start;
        if (qmin <= q && q <= qmax) {
          if (boxes) tryBox(i1, i2, false);
        } else if (qmin <= 1 - q && 1 - q <= qmax) {
          if (complements) tryBox(i1, i2, true);
        }
      }
    }
  };

  // The ends a start block can reach: boxes from the first box end of its
  // first start up to boxEnd, the first end whose span from the last start
  // exceeds qmax; complements from complementFrom, the first end whose span
  // from the first start reaches 1 - qmax, up to complementEnd, the first
  // whose span from the last start exceeds 1 - qmin. The phases are sorted,
  // so all four only move forward from block to block.
  int boxEnd = 1, complementFrom = 1, complementEnd = 1;
  // The first index from `from` on at which the condition fails (M + 1 if
  // none), for a condition that, over the sorted phases, holds for a leading
  // run of entries and then no more: by doubling steps, then halving the
  // bracket. The complement bounds jump by most of the curve at first (a
  // walk would take one step per entry), then by a block or none at a time.
  auto advance = [&](int from, auto&& holds) {
    if (from > M || !holds(from)) return from;
    int lo = from, step = 1;  // holds(lo)
    while (lo + step <= M && holds(lo + step)) {
      lo += step;
      step *= 2;
    }
    int hi = std::min(lo + step, M + 1);  // M + 1, or the condition fails there
    while (hi - lo > 1) {
      const int mid = lo + (hi - lo) / 2;
      if (holds(mid))
        lo = mid;
      else
        hi = mid;
    }
    return hi;
  };
  for (int startBlock = 0; startBlock * kScanBlock < M; ++startBlock) {
    const int first = startBlock * kScanBlock + 1, last = std::min(M, first + kScanBlock - 1);
    s0Low = s0High = cumS[first - 1];
    for (int i = first; i < last; ++i) {
      s0Low = std::min(s0Low, cumS[i]);
      s0High = std::max(s0High, cumS[i]);
    }
    w0Low = cumW[first - 1];
    w0High = cumW[last - 1];
    // The first end of a box (qmin <= q) from each start, and the least weight of such a box.
    startFirst = first;
    leastBoxWeight = std::numeric_limits<double>::infinity();
    for (int i1 = first; i1 <= last; ++i1) {
      boxFrom = std::max(boxFrom, i1);
      while (boxFrom <= M && !(ph[boxFrom] - ph[i1] >= qmin)) ++boxFrom;
      boxStart[i1 - first] = boxFrom;
      if (boxFrom <= M) leastBoxWeight = std::min(leastBoxWeight, cumW[boxFrom] - cumW[i1 - 1]);
    }
    boxEnd = std::max(boxEnd, last);
    while (boxEnd <= M && ph[boxEnd] - ph[last] <= qmax) ++boxEnd;
    complementFrom =
        advance(std::max(complementFrom, first), [&](int j) { return !(1 - (ph[j] - ph[first]) <= qmax); });
    complementEnd =
        advance(std::max(complementEnd, last), [&](int j) { return 1 - (ph[j] - ph[last]) >= qmin; });
    const int boxCount = collectOpen(boxStart[0], boxEnd, false, openForBoxes);
    const int complementCount = collectOpen(complementFrom, complementEnd, true, openForComplements);
    if (boxCount + complementCount == 0) continue;
    // One ascending list of the blocks open to either kind (bit 1: boxes, bit 2: complements).
    openCount = 0;
    for (int b = 0, k = 0; b < boxCount || k < complementCount;) {
      const int next =
          std::min(b < boxCount ? openForBoxes[b] : M, k < complementCount ? openForComplements[k] : M);
      int kinds = 0;
      if (b < boxCount && openForBoxes[b] == next) kinds |= 1, ++b;
      if (k < complementCount && openForComplements[k] == next) kinds |= 2, ++k;
      openBlock[openCount] = next;
      openKinds[openCount++] = kinds;
    }
    for (int i1 = first; i1 <= last; ++i1) tryOpenBlocks(i1);
  }
}

double boxResidue(const SortedCurve& c, int i1, int i2, double qmin, double qmax) {
  if (i1 < 1 || i2 < i1 || i2 > c.M) return 0.0;
  const double q = c.ph[i2] - c.ph[i1];
  const bool box = qmin <= q && q <= qmax;
  if (!box && !(qmin <= 1 - q && 1 - q <= qmax)) return 0.0;
  const double sr = keptResidue(c.cumW[i2] - c.cumW[i1 - 1], c.cumS[i2] - c.cumS[i1 - 1], !box);
  return sr > 0.0 ? sr : 0.0;
}

}  // namespace lightcurve_detail
