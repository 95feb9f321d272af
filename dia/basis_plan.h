// The plan of the reference step's correlations in one-dimensional passes, made once per stamp
// box before any pass runs: the one-dimensional factors of the basis functions, every product
// with its separable terms and the form in which each is summed, the tap lists of every pass,
// and one lifetime table that says, for each result a pass keeps, the last product that uses it.
#ifndef DIA_BASIS_PLAN_H
#define DIA_BASIS_PLAN_H

#include <algorithm>
#include <compare>
#include <cstddef>
#include <map>
#include <utility>
#include <vector>

#include "dia/tap_rows.h"
#include "orv/marray.h"

class diffima;

namespace dia_basis {

// The passes sum in float, as convolve2d_circ does: twice the pixels per vector of double
// and half the memory, while no sum runs over more than one footprint width of taps.
using Real = float;
using Tap = dia_taps::Tap<Real>;
using Taps = std::vector<Tap>;

// One term coefficient·u(i)·v(j) of a kernel, u and v numbered in the plan's factor list.
struct Term {
  double coefficient;
  int xFactor, yFactor;
};

// An image of the stamp box as its passes read it.
struct SourceShape {
  int width = 0, height = 0;            // the stamp box
  int innerWidth = 0, innerHeight = 0;  // where the footprint centred on a pixel stays inside
  std::ptrdiff_t stride = 0;            // between the rows of x the passes read
};

// Output rows per strip of the footprint planes: the planes of a strip and its margins stay
// small.
constexpr int kPlaneStripRows = 128;

// Rows of a strip of footprint planes, and values of one plane with the strip's margins.
inline int planeStripRows(const SourceShape& s) { return std::min(s.innerHeight, kPlaneStripRows); }
inline std::size_t planeValues(const SourceShape& s, int hy) {
  return static_cast<std::size_t>(s.innerWidth) * (planeStripRows(s) + 2 * hy);
}

// A result the passes keep from the product that makes it to the last product that uses it:
// the row pass of an x factor (y factor −1), the term of several products, or a footprint term
// made ahead of its product.
enum class Stored { rowPass, term, footprintTerm };

struct StoredKey {
  int source;  // 0 the image, 1 the variance
  Stored kind;
  int xFactor, yFactor;
  auto operator<=>(const StoredKey&) const = default;
};

// How a term of a product is summed: straight into the result, its coefficient in the column
// taps; kept for the several products that have it and added to each with the coefficient; or
// over the footprint itself.
enum class TermForm { direct, kept, footprint };

struct PlannedTerm {
  Term term;
  TermForm form = TermForm::direct;
  Taps columnTaps;  // of the column pass: scaled by the coefficient when direct, else by 1
};

// A corner tap: its offset from the output pixel and its weight.
struct Corner {
  int x, y;
  double weight;
};

// A product of the plan: the terms of its kernel, one of them perhaps summed over the footprint
// and the others over the whole box, and the corner taps that take back what those weigh
// outside the footprint, as offsets in the rows of its source.
struct Product {
  bool split = false;
  int order = 0;   // position in the plan
  int source = 0;  // 0 the image, 1 the variance
  std::vector<PlannedTerm> terms;
  int footprintTerm = -1;  // the term summed over the footprint itself, -1 for none
  std::vector<Corner> corners;
  Taps cornerTaps;
};

// The footprint by rows: row j (index j + hy) covers −rowWidth … rowWidth (−1: nothing);
// planeWidths are the distinct widths, narrowest first, one footprint plane each; false
// rowRuns when the footprint is not of that shape (and then no planes).
struct FootprintRows {
  std::vector<int> rowWidth, planeWidths;
  bool rowRuns = true;
};

struct BasisFunction;

class BasisPlan {
 public:
  // The plan for the image (shapes[0]) and the variance (shapes[1], nullptr when there is none)
  // of one stamp box.
  BasisPlan(const diffima& engine, const SourceShape* const shapes[2]);

  // The product of parameter p's basis function (variance false) or its square; nullptr for
  // a parameter that is not the first of a basis function.
  const Product* product(int p, bool variance) const;
  // The last product, by order, that uses a stored result; −1 for one that no product uses.
  int lastUse(const StoredKey& key) const;
  // The footprint terms of an x factor of a source: their y factors, ascending, with their last
  // uses.
  std::vector<std::pair<int, int>> footprintGroup(int source, int xFactor) const;

  // The taps of the row pass of an x factor, offsets from the output pixel.
  const Taps& rowTaps(int xFactor) const { return rowTaps_.at(xFactor); }
  // The taps of the footprint planes of an x factor, one list per plane: plane k adds the taps
  // between the widths of planes k − 1 and k to plane k − 1.
  const std::vector<Taps>& planeTaps(int xFactor) const { return planeTaps_.at(xFactor); }
  // The column taps of a footprint term's y factor over the planes of a strip of a source.
  const Taps& footprintColumnTaps(int source, int yFactor) const {
    return footprintColumnTaps_.at({source, yFactor});
  }

 private:
  int factor__(const std::vector<double>& values);
  std::vector<Term> termsOf__(const diffima& e, const BasisFunction& f, const BasisFunction* flux);
  std::vector<Term> squaresOf__(const std::vector<Term>& terms);
  void checkSplit__(const diffima& e, int p, const orv::MArray<double, 3>& kernels,
                    const std::vector<Term>& terms, Product& product) const;
  void planLifetimes__();
  void planTaps__(const diffima& e, const SourceShape* const shapes[2]);
  void planFootprintTaps__(const diffima& e, const SourceShape& shape, int source, const Term& t);

  // The one-dimensional factors, as the passes use them and in full.
  std::vector<std::vector<double>> factors_, exactFactors_;
  FootprintRows rows_;
  std::map<std::pair<int, bool>, Product> products_;         // by parameter and variance
  std::map<int, Taps> rowTaps_;                              // by x factor
  std::map<int, std::vector<Taps>> planeTaps_;               // by x factor
  std::map<std::pair<int, int>, Taps> footprintColumnTaps_;  // by source and y factor
  // The lifetime table.
  std::map<StoredKey, int> lastUse_;
};

}  // namespace dia_basis

#endif
