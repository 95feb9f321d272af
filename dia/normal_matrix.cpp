// The normal-matrix sums in register tiles: four rows by two columns of the result are summed
// together over vectors of four pixels, each weighted row formed once per tile. The sums keep
// that layout of four lanes on every path: the baseline path holds each vector as two halves
// of 16 bytes, so every path gives the very bits of the plain loop in the header. No fused
// multiply-add.
#include "dia/normal_matrix.h"

#include <algorithm>
#include <utility>

#include "orv/lanes.h"

namespace dia_normal {

namespace {

// One spare block of T per thread and slot, kept from one use to the next up to kKeepBytes.
constexpr std::size_t kKeepBytes = std::size_t(8) << 20;
enum Slot { valuesSlot, weightsSlot, tilesSlot };

template <class T>
struct Block {
  std::unique_ptr<T[]> data;
  std::size_t size = 0;
};

template <class T, Slot S>
Block<T>& spare() {
  thread_local Block<T> block;
  return block;
}

// A block of at least n elements, of undefined content: the spare one when it is large enough.
template <class T, Slot S>
Block<T> takeBlock(std::size_t n) {
  Block<T>& kept = spare<T, S>();
  if (kept.size >= n) return std::exchange(kept, Block<T>{});
  return {std::make_unique_for_overwrite<T[]>(n), n};
}

// Keeps the block as the spare unless it is too large or the spare is larger.
template <class T, Slot S>
void giveBack(Block<T> block) {
  Block<T>& kept = spare<T, S>();
  if (block.size * sizeof(T) <= kKeepBytes && block.size > kept.size) kept = std::move(block);
}

// Pixels are taken in chunks: each chunk of every row is converted to double once, weighted
// once, and stays in cache while all the tiles use it.
constexpr std::size_t kChunk = kSumChunk;
constexpr int kLanes = kSumLanes;
using VD = orv::lanes::Vector<double, kLanes>;
using VF = orv::lanes::Vector<float, kLanes>;

inline __attribute__((always_inline)) void tileSums(const float* t, std::size_t stride, const double* w,
                                                    std::size_t pixels, int paddedRows,
                                                    std::vector<double>& out) {
  // Every element of both buffers that a tile reads is written first for its chunk.
  Block<double> buffers = takeBlock<double, tilesSlot>(2 * static_cast<std::size_t>(paddedRows) * kChunk);
  double* const weighted = buffers.data.get();
  double* const plain = weighted + static_cast<std::size_t>(paddedRows) * kChunk;
  for (std::size_t k0 = 0; k0 < pixels; k0 += kChunk) {
    const std::size_t n = std::min(pixels - k0, kChunk);
    for (int i = 0; i < paddedRows; ++i) {
      const float* src = t + i * stride + k0;
      double* p = plain + i * kChunk;
      double* q = weighted + i * kChunk;
      for (std::size_t k = 0; k < n; k += kLanes) {  // n is a multiple of 8
        VF f;
        VD weight;
        __builtin_memcpy(&f, src + k, sizeof(VF));
        __builtin_memcpy(&weight, w + k0 + k, sizeof(VD));
        const VD d = __builtin_convertvector(f, VD);
        const VD dw = d * weight;
        __builtin_memcpy(p + k, &d, sizeof(VD));
        __builtin_memcpy(q + k, &dw, sizeof(VD));
      }
    }
    for (int i0 = 0; i0 < paddedRows; i0 += 4) {
      const double* r0 = weighted + i0 * kChunk;
      const double* r1 = r0 + kChunk;
      const double* r2 = r1 + kChunk;
      const double* r3 = r2 + kChunk;
      for (int j0 = i0; j0 < paddedRows; j0 += 2) {
        const double* c0 = plain + j0 * kChunk;
        const double* c1 = c0 + kChunk;
        VD a00 = VD{} * 0.0, a01 = a00, a10 = a00, a11 = a00, a20 = a00, a21 = a00, a30 = a00, a31 = a00;
#pragma GCC unroll 2
        for (std::size_t k = 0; k < n; k += kLanes) {
          VD b0, b1, a;
          __builtin_memcpy(&b0, c0 + k, sizeof(VD));
          __builtin_memcpy(&b1, c1 + k, sizeof(VD));
          __builtin_memcpy(&a, r0 + k, sizeof(VD));
          a00 += a * b0;
          a01 += a * b1;
          __builtin_memcpy(&a, r1 + k, sizeof(VD));
          a10 += a * b0;
          a11 += a * b1;
          __builtin_memcpy(&a, r2 + k, sizeof(VD));
          a20 += a * b0;
          a21 += a * b1;
          __builtin_memcpy(&a, r3 + k, sizeof(VD));
          a30 += a * b0;
          a31 += a * b1;
        }
        const VD acc[4][2] = {{a00, a01}, {a10, a11}, {a20, a21}, {a30, a31}};
        for (int a = 0; a < 4; ++a)
          for (int b = 0; b < 2; ++b) {
            double s = 0.0;
            for (int l = 0; l < kLanes; ++l) s += acc[a][b][l];
            out[static_cast<std::size_t>(i0 + a) * paddedRows + j0 + b] += s;
          }
      }
    }
  }
  giveBack<double, tilesSlot>(std::move(buffers));
}

using TileFunction = void (*)(const float*, std::size_t, const double*, std::size_t, int,
                              std::vector<double>&);

void tileSumsBaseline(const float* t, std::size_t stride, const double* w, std::size_t pixels, int rows,
                      std::vector<double>& out) {
  tileSums(t, stride, w, pixels, rows, out);
}

ORV_LANES_AVX2 void tileSumsAvx2(const float* t, std::size_t stride, const double* w, std::size_t pixels,
                                 int rows, std::vector<double>& out) {
  tileSums(t, stride, w, pixels, rows, out);
}

ORV_LANES_AVX512 void tileSumsAvx512(const float* t, std::size_t stride, const double* w, std::size_t pixels,
                                     int rows, std::vector<double>& out) {
  tileSums(t, stride, w, pixels, rows, out);
}

}  // namespace

PackedBasis::PackedBasis(int rows, std::size_t pixels)
    : rows_(rows), paddedRows_((rows + 3) / 4 * 4), pixels_(pixels), stride_((pixels + 7) / 8 * 8) {
  Block<float> values = takeBlock<float, valuesSlot>(static_cast<std::size_t>(paddedRows_) * stride_);
  Block<double> weights = takeBlock<double, weightsSlot>(stride_);
  values_ = std::move(values.data);
  valuesSize_ = values.size;
  weights_ = std::move(weights.data);
  weightsSize_ = weights.size;
  // Only the padding is cleared here: the values proper are written once, by the caller.
  for (int i = 0; i < paddedRows_; ++i) {
    float* r = row(i);
    for (std::size_t k = (i < rows_ ? pixels_ : 0); k < stride_; ++k) r[k] = 0.0f;
  }
  for (std::size_t k = pixels_; k < stride_; ++k) weights_[k] = 0.0;
}

PackedBasis::~PackedBasis() {
  giveBack<float, valuesSlot>({std::move(values_), valuesSize_});
  giveBack<double, weightsSlot>({std::move(weights_), weightsSize_});
}

void PackedBasis::addWeightedProducts(std::vector<double>& sums) const {
  std::vector<double> tiles(static_cast<std::size_t>(paddedRows_) * paddedRows_, 0.0);
  const TileFunction tileSumsOfPath =
      orv::lanes::pick<TileFunction>(tileSumsBaseline, tileSumsAvx2, tileSumsAvx512);
  tileSumsOfPath(values_.get(), stride_, weights_.get(), stride_, paddedRows_, tiles);
  for (int i = 0; i < rows_; ++i)
    for (int j = i; j < rows_; ++j)
      sums[static_cast<std::size_t>(i) * rows_ + j] += tiles[static_cast<std::size_t>(i) * paddedRows_ + j];
}

}  // namespace dia_normal
