// The correlations of the reference step, each the footprint correlation of the reference (or
// its variance) with one basis function (or its square), computed in one-dimensional passes.
//
// Over the whole kernel box every basis function is a sum of separable terms c·u(i)·v(j): a
// Gaussian times a monomial, minus the flux basis where the zero-sum rule applies; its square
// is a sum of such terms as well. A term's correlation is a row pass with u followed by a
// column pass with v, and row passes are shared by every term with the same u. The box
// corners outside the footprint must not count. For the term that weighs most there they are
// taken back by rows: the tails of its row pass (the taps beyond the footprint's half width of
// a row) are made for every width, a strip of rows at a time, and a column pass over the tails
// of the rows that reach beyond the footprint subtracts them; what the other terms weigh there
// is subtracted tap by tap, those taps whose weight could matter at all. Factor values
// negligible against the factor's largest (the far taps of the narrow Gaussians) are left out
// of the passes. A basis function that does not split this way, or an image with a value that
// is not finite, goes through convolve2d_circ.
//
// The passes sum in float, as convolve2d_circ does, but no sum runs over more than one
// footprint width of taps, so a result strays less from the exact correlation than the
// two-dimensional routine does.
#ifndef DIA_BASIS_CORRELATION_H
#define DIA_BASIS_CORRELATION_H

#include <map>
#include <memory>
#include <vector>

#include "orv/marray.h"

class diffima;

namespace dia_basis {

// One term coefficient·u(i)·v(j) of a kernel, u and v numbered in the correlator's factor list.
struct Term {
  double coefficient;
  int xFactor, yFactor;
};

class BasisCorrelator {
 public:
  // image and variance (empty when there is none) over the stamp box; results are kept over
  // the inner area, where the footprint centred on a pixel stays inside the box.
  BasisCorrelator(const diffima& engine, const orv::MArray<float, 2>& image,
                  const orv::MArray<float, 2>& variance);
  ~BasisCorrelator();
  BasisCorrelator(const BasisCorrelator&) = delete;
  BasisCorrelator& operator=(const BasisCorrelator&) = delete;

  // The correlation of the image with basis(·, ·, p), and of the variance with quad_basis(·,
  // ·, p): a float image over the stamp box, 0 outside the inner area.
  orv::MArray<float, 2> image(int p);
  orv::MArray<float, 2> variance(int p);
  // The same into `into`, whose storage is kept when it already has the stamp box's shape:
  // a caller that asks for many products saves the fresh pages of each.
  void image(int p, orv::MArray<float, 2>& into);
  void variance(int p, orv::MArray<float, 2>& into);

  // True when parameter p's basis function (variance false) or its square goes through
  // the passes rather than convolve2d_circ.
  bool splits(int p, bool variance) const;

 private:
  struct Product;
  struct Source;
  void correlate__(int p, bool variance, orv::MArray<float, 2>& into);
  void planProducts__();
  void planFootprintRows__();
  int factorIndex__(const std::vector<double>& values);

  const diffima& engine_;
  std::unique_ptr<Source> sources_[2];  // the image, then the variance
  // The one-dimensional factors, as the passes use them and in full.
  std::vector<std::vector<double>> factors_, exactFactors_;
  // The footprint by rows: row j (index j + hy) covers −rowWidth_ … rowWidth_ (−1: nothing);
  // tailWidths_ are the distinct widths below hx, widest first, one tail plane each; false
  // tails_ when the footprint is not of that shape.
  std::vector<int> rowWidth_, tailWidths_;
  bool tails_ = false;
  std::map<std::pair<int, bool>, std::unique_ptr<Product>> products_;
  int productsDone_ = 0;
};

}  // namespace dia_basis

#endif
