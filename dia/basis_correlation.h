// The correlations of the reference step, each the footprint correlation of the reference (or
// its variance) with one basis function (or its square), computed in one-dimensional passes.
//
// Over the whole kernel box every basis function is a sum of separable terms c·u(i)·v(j): a
// Gaussian times a monomial, minus the flux basis where the zero-sum rule applies; its square
// is a sum of such terms as well. A term's correlation is a row pass with u followed by a
// column pass with v, and row passes are shared by every term with the same u. The box
// corners outside the footprint must not count. The term that weighs most there is summed
// over the footprint itself: its row pass is cut to every width of the footprint's rows, one
// plane per width, a strip of rows at a time, and the column pass takes each row of the
// footprint from the plane of its width; the planes of a strip serve every product whose
// footprint term has the same row factor, made together and kept until asked for. What the
// other terms weigh beyond the footprint is subtracted tap by tap, those taps whose weight
// could matter at all. Factor values
// negligible against the factor's largest (the far taps of the narrow Gaussians) are left out
// of the passes. A basis function that does not split this way, or an image with a value that
// is not finite, goes through convolve2d_circ.
//
// The passes sum in float, as convolve2d_circ does, but no sum runs over more than one
// footprint width of taps, so a result strays less from the exact correlation than the
// two-dimensional routine does.
#ifndef DIA_BASIS_CORRELATION_H
#define DIA_BASIS_CORRELATION_H

#include <memory>
#include <vector>

#include "orv/marray.h"

class diffima;

namespace dia_basis {

// A float image over rx × ry set to 0, its fresh storage asked for in huge pages where it is
// large: a frame of the reference step faults in 2 MB at a time instead of 4 kB.
orv::MArray<float, 2> zeroImage(const orv::Range& rx, const orv::Range& ry);

class BasisPlan;
struct PlannedTerm;
struct Product;

class BasisCorrelator {
 public:
  // image and variance (empty when there is none) over the stamp box, read in place where
  // their x runs along memory; results are kept over the inner area, where the footprint
  // centred on a pixel stays inside the box.
  BasisCorrelator(const diffima& engine, const orv::MArray<float, 2>& image,
                  const orv::MArray<float, 2>& variance);
  ~BasisCorrelator();
  BasisCorrelator(const BasisCorrelator&) = delete;
  BasisCorrelator& operator=(const BasisCorrelator&) = delete;

  // The correlation of the image with basis(·, ·, p), and of the variance with quad_basis(·,
  // ·, p): a float image over the stamp box, 0 outside the inner area.
  orv::MArray<float, 2> image(int p);
  orv::MArray<float, 2> variance(int p);
  // The same into `into`, whose storage is kept when it already has the stamp box's indices
  // and its x runs along memory (a view of a larger image too): a caller that asks for many
  // products saves the fresh pages of each, or has them land where they are wanted.
  void image(int p, orv::MArray<float, 2>& into);
  void variance(int p, orv::MArray<float, 2>& into);

  // True when parameter p's basis function (variance false) or its square goes through
  // the passes rather than convolve2d_circ.
  bool splits(int p, bool variance) const;

 private:
  struct Source;
  struct Area;
  void correlate__(int p, bool variance, orv::MArray<float, 2>& into);
  // The passes of one product into the inner area of its result.
  void sumTerms__(Source& source, const Product& product, const Area& result);
  const float* rowPass__(Source& source, int xFactor);
  const float* keptTerm__(Source& source, const PlannedTerm& planned);
  // The footprint terms of every product from `order` on whose footprint term has the x factor
  // of `asked`, made together: the planes of a strip serve them all. The asked term, when no
  // later product needs it, goes straight into `result` times its coefficient, added when
  // `add` is set, as a kept term would be; true when it went there.
  bool makeFootprintTerms__(Source& source, const PlannedTerm& asked, int order, const Area& result,
                            bool add);

  const diffima& engine_;
  std::unique_ptr<Source> sources_[2];  // the image, then the variance
  // The products with their taps and the lifetime table of what their passes keep.
  std::unique_ptr<BasisPlan> plan_;
};

}  // namespace dia_basis

#endif
