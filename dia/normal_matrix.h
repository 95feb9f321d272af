// Weighted sums of products of basis images: the normal matrix of a linear least-squares fit
// over the pixels of a fitting rectangle.
#ifndef DIA_NORMAL_MATRIX_H
#define DIA_NORMAL_MATRIX_H

#include <cstddef>
#include <memory>
#include <vector>

namespace dia_normal {

// The order of the sums, the same on every processor path: the pixels go in chunks of
// kSumChunk, and within a chunk lane l of kSumLanes sums the terms of the pixels k with
// k mod kSumLanes = l from 0 in pixel order, each term (t_ik·w_k)·t_jk in double; the lanes then
// add up in lane order, from 0, and that chunk sum is added to the result.
constexpr std::size_t kSumChunk = 512;
constexpr int kSumLanes = 4;

// Basis values of the usable pixels, one row of floats per basis image, and a double weight
// per pixel. Rows are padded to a multiple of 4 and pixels to a multiple of 8 with zeros, so
// that the sums run in whole vector blocks; padding adds nothing to any sum. The storage of a
// small object is kept for the next one of the thread (fits over small boxes come by the
// thousand, and fresh pages for each would cost more than its sums).
class PackedBasis {
 public:
  PackedBasis(int rows, std::size_t pixels);
  ~PackedBasis();
  PackedBasis(const PackedBasis&) = delete;
  PackedBasis& operator=(const PackedBasis&) = delete;
  int rows() const { return rows_; }
  std::size_t pixels() const { return pixels_; }
  // Row i holds pixels() values to be filled by the caller; its padding is zero.
  float* row(int i) { return values_.get() + static_cast<std::size_t>(i) * stride_; }
  double* weights() { return weights_.get(); }

  // Row i takes source[offsets[k]] for k = 0 … pixels() − 1.
  void gatherRow(int i, const float* source, const std::vector<std::ptrdiff_t>& offsets) {
    float* target = row(i);
    for (std::size_t k = 0; k < pixels_; ++k) target[k] = source[offsets[k]];
  }

  // sums[i·rows + j] += Σ_k w_k·t_ik·t_jk for 0 ≤ i ≤ j < rows, in double.
  void addWeightedProducts(std::vector<double>& sums) const;

 private:
  int rows_;
  int paddedRows_;
  std::size_t pixels_;
  std::size_t stride_;
  std::size_t valuesSize_, weightsSize_;  // elements of the two blocks, at least what is used
  std::unique_ptr<float[]> values_;
  std::unique_ptr<double[]> weights_;
};

}  // namespace dia_normal

#endif
