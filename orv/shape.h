#ifndef ORV_SHAPE_H
#define ORV_SHAPE_H

#include <climits>
#include <cstdint>

#include "orv/range_exception.h"

namespace orv {

// Geometry of an N-dimensional array. Dimensions are numbered 1..N in every
// interface and stored at positions 0..N-1 here; dimension 1 varies fastest.
// Element (i1,...,iN) lies at the array's data pointer + sum(i_d * stride[d]).
template <int N>
struct Shape {
  static_assert(N >= 1 && N <= 4, "arrays have rank 1 to 4");

  int zeroOffset = 0;
  int base[N] = {};
  int length[N] = {};
  int stride[N] = {};
  bool isStorageContiguous = true;
  int numElements = 0;

  // Fresh column-major layout for the given bases and lengths. Refuses negative
  // lengths and element counts that do not fit the 32-bit count.
  void setContiguous(const int* bases, const int* lengths) {
    std::int64_t count = 1;
    for (int d = 0; d < N; ++d) {
      if (lengths[d] < 0) throw RangeException("Negative array length");
      count *= lengths[d];
      if (count > INT_MAX) throw RangeException("Array size overflows");
    }
    int strides[N];
    std::int64_t step = 1;
    for (int d = 0; d < N; ++d) {
      // Strides are products of the preceding lengths; with a zero length among
      // later ones the count can be 0 while a stride would still overflow.
      if (step > INT_MAX) throw RangeException("Array size overflows");
      strides[d] = static_cast<int>(step);
      step *= lengths[d];
    }
    // Element addresses are formed from the zero offset, which must fit.
    if (!fitsIndexRange__(bases, lengths, strides)) throw RangeException("Array index base out of range");
    for (int d = 0; d < N; ++d) {
      base[d] = bases[d];
      length[d] = lengths[d];
      stride[d] = strides[d];
    }
    recompute();
  }

  // True when the zero offset of the given bases with the given strides, and
  // the last index base + length - 1 of every dimension, fit in an int. Formed
  // exactly: four products of two ints can exceed 64 bits.
  static bool fitsIndexRange__(const int* bases, const int* lengths, const int* strides) {
    __int128 offset = 0;
    for (int d = 0; d < N; ++d) {
      offset -= static_cast<__int128>(bases[d]) * strides[d];
      if (static_cast<std::int64_t>(bases[d]) + lengths[d] - 1 > INT_MAX) return false;
    }
    return offset >= INT_MIN && offset <= INT_MAX;
  }

  // True when every length is positive. A view made from a range that runs the
  // wrong way can carry a negative length; walks test this, not the product.
  bool hasElements() const {
    for (int d = 0; d < N; ++d)
      if (length[d] <= 0) return false;
    return true;
  }

  // Recomputes zeroOffset, isStorageContiguous and numElements from the bases,
  // lengths and strides after a view changed them. A view made from ranges
  // outside its source can carry any values here; they are wrapped or capped,
  // never overflowed: the zero offset keeps the low 32 bits of the exact sum,
  // the element count is 0 when a length is 0 or negative and at most INT_MAX.
  void recompute() {
    std::uint32_t offset = 0;
    std::int64_t count = hasElements() ? 1 : 0;
    for (int d = 0; d < N; ++d) {
      offset -= static_cast<std::uint32_t>(base[d]) * static_cast<std::uint32_t>(stride[d]);
      if (count <= INT_MAX) count *= length[d];
    }
    zeroOffset = static_cast<int>(offset);
    numElements = static_cast<int>(count > INT_MAX ? INT_MAX : count);
    isStorageContiguous = true;
    for (int d = 1; d < N; ++d)
      if (static_cast<std::int64_t>(stride[d]) != static_cast<std::int64_t>(stride[d - 1]) * length[d - 1])
        isStorageContiguous = false;
  }
};

}  // namespace orv

#endif
