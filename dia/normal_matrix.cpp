// The normal-matrix sums in register tiles: four rows by two columns of the result are summed
// together over vectors of pixels, each weighted row formed once per tile. AVX2 when the
// processor has it, plain SSE2 vectors otherwise; no fused multiply-add.
#include "dia/normal_matrix.h"

namespace dia_normal {

namespace {

template <class VD, class VF, int LANES>
inline __attribute__((always_inline)) void tileSums(const float* t, std::size_t stride, const double* w,
                                                    std::size_t pixels, int paddedRows,
                                                    std::vector<double>& out) {
  for (int i0 = 0; i0 < paddedRows; i0 += 4) {
    for (int j0 = i0; j0 < paddedRows; j0 += 2) {
      VD acc[4][2];
#pragma GCC unroll 8
      for (int a = 0; a < 4; ++a) acc[a][0] = acc[a][1] = VD{} * 0.0;
      for (std::size_t k = 0; k < pixels; k += LANES) {
        VD weight;
        __builtin_memcpy(&weight, w + k, sizeof(VD));
        VD tb[2];
#pragma GCC unroll 2
        for (int b = 0; b < 2; ++b) {
          VF f;
          __builtin_memcpy(&f, t + (j0 + b) * stride + k, sizeof(VF));
          tb[b] = __builtin_convertvector(f, VD);
        }
#pragma GCC unroll 4
        for (int a = 0; a < 4; ++a) {
          VF f;
          __builtin_memcpy(&f, t + (i0 + a) * stride + k, sizeof(VF));
          const VD wa = __builtin_convertvector(f, VD) * weight;
          acc[a][0] += wa * tb[0];
          acc[a][1] += wa * tb[1];
        }
      }
      for (int a = 0; a < 4; ++a)
        for (int b = 0; b < 2; ++b) {
          double s = 0.0;
          for (int l = 0; l < LANES; ++l) s += acc[a][b][l];
          out[static_cast<std::size_t>(i0 + a) * paddedRows + j0 + b] += s;
        }
    }
  }
}

typedef double Double2 __attribute__((vector_size(16)));
typedef float Float2 __attribute__((vector_size(8)));
typedef double Double4 __attribute__((vector_size(32)));
typedef float Float4 __attribute__((vector_size(16)));

using TileFunction = void (*)(const float*, std::size_t, const double*, std::size_t, int, std::vector<double>&);

void tileSumsGeneric(const float* t, std::size_t stride, const double* w, std::size_t pixels, int rows,
                     std::vector<double>& out) {
  tileSums<Double2, Float2, 2>(t, stride, w, pixels, rows, out);
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) void tileSumsAvx2(const float* t, std::size_t stride, const double* w,
                                                  std::size_t pixels, int rows, std::vector<double>& out) {
  tileSums<Double4, Float4, 4>(t, stride, w, pixels, rows, out);
}
TileFunction chooseTileFunction() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? tileSumsAvx2 : tileSumsGeneric;
}
const TileFunction tileSumsBest = chooseTileFunction();
#else
const TileFunction tileSumsBest = tileSumsGeneric;
#endif

}  // namespace

PackedBasis::PackedBasis(int rows, std::size_t pixels)
    : rows_(rows),
      paddedRows_((rows + 3) / 4 * 4),
      pixels_(pixels),
      stride_((pixels + 7) / 8 * 8),
      values_(static_cast<std::size_t>(paddedRows_) * stride_, 0.0f),
      weights_(stride_, 0.0) {}

void PackedBasis::addWeightedProducts(std::vector<double>& sums) const {
  std::vector<double> tiles(static_cast<std::size_t>(paddedRows_) * paddedRows_, 0.0);
  tileSumsBest(values_.data(), stride_, weights_.data(), stride_, paddedRows_, tiles);
  for (int i = 0; i < rows_; ++i)
    for (int j = i; j < rows_; ++j)
      sums[static_cast<std::size_t>(i) * rows_ + j] += tiles[static_cast<std::size_t>(i) * paddedRows_ + j];
}

}  // namespace dia_normal
