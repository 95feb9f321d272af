#ifndef LIGHTCURVE_BOX_SCAN_H
#define LIGHTCURVE_BOX_SCAN_H

// The best box of one trial of the box-fitting search: the phase-sorted
// entries of the folded curve with their prefix sums, and the scan over
// every start and end entry.

#include <vector>

namespace lightcurve_detail {

// The best box of one trial.
struct TrialBox {
  double sr = 0.0;      // signal residue
  double high = 0.0;    // flux level out of transit
  double low = 0.0;     // flux level in transit
  double width = 0.0;   // box width in phase
  double centre = 0.0;  // phase of the box centre (may be negative for a complement)
  int first = 0;        // its entries i1..i2 (those of the complement's outer part); 0 for none
  int last = 0;
};

// Phase-sorted entries of one trial (points or filled bins), with prefix
// sums of the weights and of weight times flux: the sums over entries
// i1..i2 are cumW[i2] - cumW[i1 - 1] and cumS[i2] - cumS[i1 - 1]. The
// weights are positive, so cumW never decreases. Phases that are not numbers
// come last; no box starts or ends on their entries.
struct SortedCurve {
  std::vector<double> ph, cumW, cumS;  // ph[1..M], cumW/cumS[0..M]
  // The least and the greatest cumS of each block of kScanBlock entries
  // (block b holds entries b * kScanBlock + 1 .. (b + 1) * kScanBlock);
  // scanBoxes fills them.
  std::vector<double> blockLow, blockHigh;
  // Work of scanBoxes: the blocks of ends that some box from the current
  // block of starts may reach, for transits, for complements, and for either
  // with the kinds they are open to.
  std::vector<int> openBlocks;
  int M = 0;

  void resize(int n);
};

// Best box over every start index i1 and end index i2 >= i1: a box of width
// q = ph[i2] - ph[i1] in [qmin, qmax] is a transit (lower level inside); when
// q lies outside but 1 - q inside, the entries i1..i2 are the out-of-transit
// part. End indices are tried in ascending order, so the first of equal
// residues is kept; best holds the box to beat on entry. Blocks of ends that
// cannot hold a better box are passed over.
void scanBoxes(SortedCurve& c, double qmin, double qmax, TrialBox& best);

// The same scan, plainly: every box in order, each kept when its residue
// beats the best so far and its levels lie the right way round. scanBoxes
// keeps the same box, bit for bit.
void scanEveryBox(const SortedCurve& c, double qmin, double qmax, TrialBox& best);

// The best box of scanBoxes from a best of zero, by a scan that starts just
// below seed, the residue of some box of the curve (boxResidue) or 0. A start
// near the best lets the scan pass over more blocks from the first; every box
// it passes over falls short of the start, and those it tries are tried in
// the same order, so it keeps the same box. A seed the scan cannot beat
// leaves nothing kept (an infinite one, from weighted fluxes whose squares
// overflow); the scan then runs again from zero.
TrialBox scanFromSeed(SortedCurve& c, double qmin, double qmax, double seed);

// The residue of the entries i1..i2 by the rules of scanBoxes (a box or a
// complement by its width) when the scan would keep them against a best of
// zero; 0 when it would not, or when i1..i2 are not entries with i1 <= i2.
double boxResidue(const SortedCurve& c, int i1, int i2, double qmin, double qmax);

}  // namespace lightcurve_detail

#endif
