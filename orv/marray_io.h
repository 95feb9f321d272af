#ifndef ORV_MARRAY_IO_H
#define ORV_MARRAY_IO_H

// Belongs to the array library, whose one include is orv/marray.h.
#ifndef ORV_MARRAY_UMBRELLA
#error "include \"orv/marray.h\", the one header of the array library, instead of orv/marray_io.h"
#endif

// Text output of shapes and arrays, and the diagnostic dump describeSelf.
// Numbers are written with the stream's own formatting, so a caller's precision
// and flags apply.

#include <cstddef>
#include <iostream>
#include <ostream>

#include "orv/array.h"
#include "orv/marray_iter.h"
#include "orv/shape.h"

namespace orv {

// "( n1 x n2 ) : (first1,last1) (first2,last2) ", without a line end.
template <int N>
std::ostream& operator<<(std::ostream& os, const Shape<N>& shape) {
  os << "( " << shape.length[0];
  for (int d = 1; d < N; ++d) os << " x " << shape.length[d];
  os << " ) : ";
  for (int d = 0; d < N; ++d)
    os << "(" << shape.base[d] << "," << static_cast<long long>(shape.base[d]) + shape.length[d] - 1 << ") ";
  return os;
}

namespace detail {

// "[ e1 e2 ... ]" for the run of dimension 1 starting at p; an array without
// storage prints its brackets only.
template <class T>
void writeRun(std::ostream& os, const T* p, int length, std::ptrdiff_t stride) {
  os << "[ ";
  if (p != nullptr)
    for (int i = 0; i < length; ++i) os << p[i * stride] << " ";
  os << "]";
}

}  // namespace detail

// A header line "MArray<T,N> " with the shape, then the elements, dimension 1
// along a line, without a final line end. Views print their own elements.
template <class T, int N>
requires(N >= 1 && N <= 3) std::ostream& operator<<(std::ostream& os, const MArray<T, N>& a) {
  const Shape<N>& s = *a.getShape();
  os << "MArray<T," << N << "> " << s << std::endl;
  // Lines are counted in storage order: line r has the index r mod n2 along dimension 2
  // and r / n2 along dimension 3. Each is bracketed; lines of a plane are bracketed together.
  long line = 0;
  auto writeLine = [&](const T* p, int count, std::ptrdiff_t stride) {
    if constexpr (N == 1) {
      detail::writeRun(os, p, count, stride);
    } else {
      const long j = line % s.length[1];
      if (N == 3 && j == 0) os << "[";
      detail::writeRun(os, p, count, stride);
      if (j + 1 < s.length[1]) {
        os << std::endl << (N == 3 ? "  " : " ");
      } else if constexpr (N == 3) {
        os << "]";
        if (line / s.length[1] + 1 < s.length[2]) os << std::endl << " ";
      }
    }
    ++line;
  };
  if (N >= 2) os << "[";
  if (s.hasElements() && a.getData() != nullptr) {
    forEachRun(a, writeLine);
  } else if (N == 3 && s.length[1] == 0) {
    // Planes without lines.
    for (int k = 0; k < s.length[N - 1]; ++k) os << (k == 0 ? "" : "\n ") << "[]";
  } else {
    // Without elements or storage every line prints its brackets only.
    long lines = 1;
    for (int d = 1; d < N; ++d) lines *= s.length[d];
    for (long r = 0; r < lines; ++r) writeLine(nullptr, s.length[0], 0);
  }
  if (N >= 2) os << "]";
  return os;
}

// Ten labelled lines on standard output. An array without storage shows a null
// block, 0 references and a null data pointer for its block.
template <class T, int N>
void MArray<T, N>::describeSelf() const {
  std::ostream& os = std::cout;
  os << "  Num elements        : " << static_cast<unsigned long>(shape.numElements) << std::endl;
  os << "  Zero offset         : " << shape.zeroOffset << std::endl;
  os << "  Data (0,0,...)      : " << static_cast<const void*>(data) << std::endl;
  os << "  First element       : " << static_cast<const void*>(firstElement()) << std::endl;
  os << "  Storage Contiguous  : " << shape.isStorageContiguous << std::endl;
  os << "  MemBlock at         : " << static_cast<const void*>(memBlock) << std::endl;
  os << "     References       : " << (memBlock != nullptr ? memBlock->references : 0) << std::endl;
  os << "     Data ptr         : " << static_cast<const void*>(memBlock != nullptr ? memBlock->data : nullptr)
     << std::endl;
  os << "  Dimensions          : " << shape << std::endl;
  os << "  Strides             : ";
  for (int d = 0; d < N; ++d) os << shape.stride[d] << " ";
  os << std::endl;
}

}  // namespace orv

#endif
