// The scan for the best box of one trial. Every box (start i1, end i2) is
// scored from prefix sums, but whole blocks of end indices are passed over
// when a bound shows that none of their boxes can beat the best so far; the
// bound errs only towards trying, so the boxes tried and kept, and thus the
// result, are those of trying every box (scanEveryBox, kept beside it).
//
// The scan runs over blocks of kScanBlock starts. For each it finds the ends
// its boxes and complements can reach (Reach), the blocks of those ends that
// the bound leaves open (OpenBlocks, Bound), and then tries, start by start,
// the ends of the open blocks in ascending order (BestBox).

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

// Makes the entries i1..i2, of weight r and weighted flux s, the best box with
// residue sr: as a transit box, or as the out-of-transit part of its complement.
void keepBox(const double* ph, int i1, int i2, bool complement, double r, double s, double sr,
             TrialBox& best) {
  const double high = -s / (1 - r);
  const double low = s / r;
  const double q = ph[i2] - ph[i1];
  best.sr = sr;
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
}

// The entries the scan reads, 1..M: those whose phase is a number. The others
// sort last, and no box starts or ends on them (its width is not a number),
// though their weight counts in the complement of every box.
struct Entries {
  const double* ph;
  const double* cumW;
  const double* cumS;
  int M;

  explicit Entries(const SortedCurve& c) : ph(c.ph.data()), cumW(c.cumW.data()), cumS(c.cumS.data()), M(c.M) {
    while (M > 0 && std::isnan(ph[M])) --M;
  }
};

// The entries of block b: b * kScanBlock + 1 up to the block's end or M.
struct EntryBlock {
  int first, last;
  EntryBlock(int b, int M) : first(b * kScanBlock + 1), last(std::min(M, b * kScanBlock + kScanBlock)) {}
};

// The best box so far, and the square its residue sets for the cheap test of
// the boxes after it.
class BestBox {
 public:
  BestBox(const Entries& e, TrialBox& best)
      : e_(e), best_(best), square_(best.sr * best.sr * (1 - kTestSlack)) {}

  double square() const { return square_; }

  // Tries the entries i1..i2 as a box (transit inside) or as its complement.
  // The lower level lies inside the box exactly when s < 0 (outside when
  // s > 0); the cheap test whether the residue can beat the best comes first.
  void tryBox(int i1, int i2, bool complement) {
    const double r = e_.cumW[i2] - e_.cumW[i1 - 1];
    const double s = e_.cumS[i2] - e_.cumS[i1 - 1];
    const bool side = complement ? s > 0 : s < 0;
    if (!(side & (s * s > square_ * (r * (1 - r))))) return;
    const double sr = keptResidue(r, s, complement);
    if (!(sr > best_.sr)) return;
    keepBox(e_.ph, i1, i2, complement, r, s, sr, best_);
    square_ = sr * sr * (1 - kTestSlack);
  }

 private:
  const Entries& e_;
  TrialBox& best_;
  double square_;
};

// A block of starts and what the bound needs to know of it: the least and
// greatest prefix sums before its starts, the first end of a box (q >= qmin)
// from each start and the least weight of such a narrowest box.
struct StartBlock : EntryBlock {
  double s0Low, s0High, w0Low, w0High;
  int boxStart[kScanBlock];
  double leastBoxWeight = std::numeric_limits<double>::infinity();

  StartBlock(const Entries& e, int b) : EntryBlock(b, e.M) {
    s0Low = s0High = e.cumS[first - 1];
    for (int i = first; i < last; ++i) {
      s0Low = std::min(s0Low, e.cumS[i]);
      s0High = std::max(s0High, e.cumS[i]);
    }
    w0Low = e.cumW[first - 1];
    w0High = e.cumW[last - 1];
  }
};

// The first index from `from` on at which the condition fails (M + 1 if
// none), for a condition that, over the sorted phases, holds for a leading
// run of entries and then no more: by doubling steps, then halving the
// bracket. The complement bounds jump by most of the curve at first (a
// walk would take one step per entry), then by a block or none at a time.
template <class Condition>
int firstFailing(int from, int M, Condition holds) {
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
}

// The ends the blocks of starts can reach: boxes from the first box end of a
// block's first start up to boxEnd, the first end whose span from its last
// start exceeds qmax; complements from complementFrom, the first end whose
// span from the first start reaches 1 - qmax, up to complementEnd, the first
// whose span from the last start exceeds 1 - qmin. The phases are sorted, so
// all of them only move forward from block to block.
class Reach {
 public:
  int boxEnd = 1, complementFrom = 1, complementEnd = 1;

  // Moves on to the block of starts and finds the box ends of its starts.
  void advance(const Entries& e, StartBlock& starts, double qmin, double qmax) {
    const int M = e.M;
    const double* ph = e.ph;
    const int first = starts.first, last = starts.last;
    for (int i1 = first; i1 <= last; ++i1) {
      boxFrom_ = std::max(boxFrom_, i1);
      while (boxFrom_ <= M && !(ph[boxFrom_] - ph[i1] >= qmin)) ++boxFrom_;
      starts.boxStart[i1 - first] = boxFrom_;
      if (boxFrom_ <= M)
        starts.leastBoxWeight = std::min(starts.leastBoxWeight, e.cumW[boxFrom_] - e.cumW[i1 - 1]);
    }
    boxEnd = std::max(boxEnd, last);
    while (boxEnd <= M && ph[boxEnd] - ph[last] <= qmax) ++boxEnd;
    complementFrom = firstFailing(std::max(complementFrom, first), M,
                                  [&](int j) { return !(1 - (ph[j] - ph[first]) <= qmax); });
    complementEnd =
        firstFailing(std::max(complementEnd, last), M, [&](int j) { return 1 - (ph[j] - ph[last]) >= qmin; });
  }

 private:
  int boxFrom_ = 1;  // the first box end of the latest start
};

// The bound on whole sets of boxes: whether none of them can pass the cheap
// test of BestBox::tryBox against a best of the given square. The sums are
// differences from the start's prefix sums, and a rounded difference grows
// with the minuend, so s of every box of a block of ends lies between the
// block's extremes less the start's cumS[i1 - 1], and r between its values
// at the first and the last end; r (1 - r) is least at one end.
class Bound {
 public:
  // The bound of the curve, with the least and the greatest cumS of each block of ends.
  Bound(const Entries& e, SortedCurve& c)
      : e_(e), blockLow_(c.blockLow.data()), blockHigh_(c.blockHigh.data()) {
    for (int b = 0; b * kScanBlock < e.M; ++b) {
      const EntryBlock ends(b, e.M);
      double low = e.cumS[ends.first], high = e.cumS[ends.first];
      for (int i = ends.first + 1; i <= ends.last; ++i) {
        low = std::min(low, e.cumS[i]);
        high = std::max(high, e.cumS[i]);
      }
      blockLow_[b] = low;
      blockHigh_[b] = high;
    }
  }

  // Whether no box from start i1 to an end in lo..end - 1 (within one block)
  // passes the test.
  bool hopeless(int i1, int lo, int end, bool complement, double square) const {
    const int block = (lo - 1) >> kBlockShift;
    const double s0 = e_.cumS[i1 - 1], w0 = e_.cumW[i1 - 1];
    const double reach = complement ? blockHigh_[block] - s0 : s0 - blockLow_[block];
    return beyondReach(reach, e_.cumW[lo] - w0, e_.cumW[end - 1] - w0, square);
  }

  // The same for every start of a block of starts and every end of a block
  // of ends at once: the start's prefix sums then range over the entries
  // before the starts. A block found hopeless stays so for the rest of the
  // block of starts, since the best only grows.
  bool hopeless(const StartBlock& starts, int block, bool complement, double square) const {
    const double reach = complement ? blockHigh_[block] - starts.s0Low : starts.s0High - blockLow_[block];
    const EntryBlock ends(block, e_.M);
    // A box (not a complement) also holds at least the weight of the
    // narrowest box of its start.
    const double rLow = complement ? e_.cumW[ends.first] - starts.w0High
                                   : std::max(e_.cumW[ends.first] - starts.w0High, starts.leastBoxWeight);
    return beyondReach(reach, rLow, e_.cumW[ends.last] - starts.w0Low, square);
  }

 private:
  // Whether boxes whose |s| on the side they need is at most reach and whose
  // weight lies in [rLow, rHigh] all fail the test.
  static bool beyondReach(double reach, double rLow, double rHigh, double square) {
    if (reach <= 0) return true;
    if (!(rLow > 0 && rHigh < 1 && rLow <= rHigh)) return false;
    const double spread = std::min(rLow * (1 - rLow), rHigh * (1 - rHigh));
    return reach * reach <= square * spread * (1 - kBoundSlack);
  }

  const Entries& e_;
  double* blockLow_;
  double* blockHigh_;
};

// The blocks of ends that the bound leaves open to the boxes of one block of
// starts, ascending, each with the kinds it is open to (boxes, complements
// or both). The lists live in the curve's work storage.
class OpenBlocks {
 public:
  OpenBlocks(const Entries& e, SortedCurve& c) : M_(e.M) {
    const int blocks = static_cast<int>(c.blockLow.size());
    forBoxes_ = c.openBlocks.data();
    forComplements_ = forBoxes_ + blocks;
    block_ = forComplements_ + blocks;
    kinds_ = block_ + blocks;
  }

  // Collects the open blocks of the starts; false when there are none.
  bool collect(const Bound& bound, const StartBlock& starts, const Reach& reach, double square) {
    const int boxCount =
        collectKind__(bound, starts, starts.boxStart[0], reach.boxEnd, false, square, forBoxes_);
    const int complementCount = collectKind__(bound, starts, reach.complementFrom, reach.complementEnd, true,
                                              square, forComplements_);
    count_ = 0;
    for (int b = 0, k = 0; b < boxCount || k < complementCount;) {
      const int next =
          std::min(b < boxCount ? forBoxes_[b] : M_, k < complementCount ? forComplements_[k] : M_);
      int kinds = 0;
      if (b < boxCount && forBoxes_[b] == next) kinds |= kBoxes, ++b;
      if (k < complementCount && forComplements_[k] == next) kinds |= kComplements, ++k;
      block_[count_] = next;
      kinds_[count_++] = kinds;
    }
    return count_ > 0;
  }

  int count() const { return count_; }
  int block(int k) const { return block_[k]; }
  bool openToBoxes(int k) const { return (kinds_[k] & kBoxes) != 0; }
  bool openToComplements(int k) const { return (kinds_[k] & kComplements) != 0; }

 private:
  static constexpr int kBoxes = 1, kComplements = 2;

  // The blocks of the ends lo..hi - 1 that are not hopeless for the kind of
  // box, ascending, into list; their number.
  static int collectKind__(const Bound& bound, const StartBlock& starts, int lo, int hi, bool complement,
                           double square, int* list) {
    int n = 0;
    for (int block = (lo - 1) >> kBlockShift; lo < hi && block * kScanBlock + 1 < hi; ++block)
      if (!bound.hopeless(starts, block, complement, square)) list[n++] = block;
    return n;
  }

  int M_;
  int *forBoxes_, *forComplements_, *block_, *kinds_;
  int count_ = 0;
};

// Every end i2 >= i1 of the open blocks, ascending: a box when
// qmin <= q <= qmax, else a complement when qmin <= 1 - q <= qmax, each
// tried unless the bound closes its block to its kind for this start.
void tryFromStart(const Entries& e, int i1, const StartBlock& starts, const OpenBlocks& open,
                  const Bound& bound, double qmin, double qmax, BestBox& best) {
  const double* ph = e.ph;
  const double start = ph[i1];
  for (int k = 0; k < open.count(); ++k) {
    const int from = std::max(i1, open.block(k) * kScanBlock + 1);
    const int end = std::min(e.M + 1, (open.block(k) + 1) * kScanBlock + 1);
    if (from >= end) continue;
    const int boxFrom = std::max(from, starts.boxStart[i1 - starts.first]);
    const bool boxes =
        open.openToBoxes(k) && boxFrom < end && !bound.hopeless(i1, boxFrom, end, false, best.square());
    const bool complements = open.openToComplements(k) && !bound.hopeless(i1, from, end, true, best.square());
    if (!boxes && !complements) continue;
    for (int i2 = from; i2 < end; ++i2) {
      const double q = ph[i2] - start;
      if (qmin <= q && q <= qmax) {
        if (boxes) best.tryBox(i1, i2, false);
      } else if (qmin <= 1 - q && 1 - q <= qmax) {
        if (complements) best.tryBox(i1, i2, true);
      }
    }
  }
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

// Invariant: after each block of starts, best is the box that the plain scan
// holds after the same starts; every box passed over fails the cheap test
// against a best no greater than the one the plain scan meets it with.
void scanBoxes(SortedCurve& c, double qmin, double qmax, TrialBox& best) {
  const Entries e(c);
  const Bound bound(e, c);
  BestBox leader(e, best);
  Reach reach;
  OpenBlocks open(e, c);
  for (int b = 0; b * kScanBlock < e.M; ++b) {
    StartBlock starts(e, b);
    reach.advance(e, starts, qmin, qmax);
    if (!open.collect(bound, starts, reach, leader.square())) continue;
    for (int i1 = starts.first; i1 <= starts.last; ++i1)
      tryFromStart(e, i1, starts, open, bound, qmin, qmax, leader);
  }
}

void scanEveryBox(const SortedCurve& c, double qmin, double qmax, TrialBox& best) {
  for (int i1 = 1; i1 <= c.M; ++i1) {
    for (int i2 = i1; i2 <= c.M; ++i2) {
      const double q = c.ph[i2] - c.ph[i1];
      const bool box = qmin <= q && q <= qmax;
      if (!box && !(qmin <= 1 - q && 1 - q <= qmax)) continue;
      const double r = c.cumW[i2] - c.cumW[i1 - 1], s = c.cumS[i2] - c.cumS[i1 - 1];
      const double sr = std::fabs(r - 1) <= 1e-9 ? 0.0 : std::sqrt(s * s / (r * (1 - r)));
      const double high = -s / (1 - r), low = s / r;
      if (!(sr > best.sr) || !(box ? high > low : low > high)) continue;
      keepBox(c.ph.data(), i1, i2, !box, r, s, sr, best);
    }
  }
}

TrialBox scanFromSeed(SortedCurve& c, double qmin, double qmax, double seed) {
  TrialBox best;
  best.sr = seed * (1 - 1e-9);
  scanBoxes(c, qmin, qmax, best);
  if (best.first == 0 && best.sr > 0) {
    best = TrialBox();
    scanBoxes(c, qmin, qmax, best);
  }
  return best;
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
