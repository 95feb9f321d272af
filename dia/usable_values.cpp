#include "dia/usable_values.h"

#include <cstring>

#include "orv/lanes.h"

namespace dia_usable {

namespace {

using Bytes16 = orv::lanes::Vector<std::uint8_t, 16>;
using Halves8 = orv::lanes::Vector<std::uint16_t, 8>;
using Bits4 = orv::lanes::Vector<std::uint32_t, 4>;

// to[k + 0 … 3] = from[k + 0 … 3] and the four masks of `spread`.
inline __attribute__((always_inline)) void keepFour(const float* from, float* to, int k, Halves8 spread) {
  Bits4 value, mask;
  std::memcpy(&value, from + k, sizeof(Bits4));
  std::memcpy(&mask, &spread, sizeof(Bits4));
  value &= mask;
  std::memcpy(to + k, &value, sizeof(Bits4));
}

inline __attribute__((always_inline)) void keepUsableLanes(const float* from, const std::uint8_t* keep,
                                                           float* to, int n) {
  int k = 0;
  for (; k + 16 <= n; k += 16) {
    // Each flag byte spread over the four bytes of its value by interleaving it with itself
    // twice.
    Bytes16 f;
    std::memcpy(&f, keep + k, sizeof(Bytes16));
    const Bytes16 low = __builtin_shufflevector(f, f, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    const Bytes16 high =
        __builtin_shufflevector(f, f, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
    Halves8 l, h;
    std::memcpy(&l, &low, sizeof l);
    std::memcpy(&h, &high, sizeof h);
    keepFour(from, to, k, __builtin_shufflevector(l, l, 0, 8, 1, 9, 2, 10, 3, 11));
    keepFour(from, to, k + 4, __builtin_shufflevector(l, l, 4, 12, 5, 13, 6, 14, 7, 15));
    keepFour(from, to, k + 8, __builtin_shufflevector(h, h, 0, 8, 1, 9, 2, 10, 3, 11));
    keepFour(from, to, k + 12, __builtin_shufflevector(h, h, 4, 12, 5, 13, 6, 14, 7, 15));
  }
  keepUsablePlain(from + k, keep + k, to + k, n - k);
}

using KeepFunction = void (*)(const float*, const std::uint8_t*, float*, int);

void keepUsableBaseline(const float* from, const std::uint8_t* keep, float* to, int n) {
  keepUsableLanes(from, keep, to, n);
}

ORV_LANES_AVX2 void keepUsableAvx2(const float* from, const std::uint8_t* keep, float* to, int n) {
  keepUsableLanes(from, keep, to, n);
}

ORV_LANES_AVX512 void keepUsableAvx512(const float* from, const std::uint8_t* keep, float* to, int n) {
  keepUsableLanes(from, keep, to, n);
}

}  // namespace

void keepUsable(const float* from, const std::uint8_t* keep, float* to, int n) {
  orv::lanes::pick<KeepFunction>(keepUsableBaseline, keepUsableAvx2, keepUsableAvx512)(from, keep, to, n);
}

}  // namespace dia_usable
