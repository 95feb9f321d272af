#ifndef ORV_ASSIGN_H
#define ORV_ASSIGN_H

#include <type_traits>

#include "orv/array.h"
#include "orv/list_init.h"
#include "orv/marray_iter.h"

namespace orv {

template <typename T, int N>
void MArray<T, N>::fill__(const T& x) {
  const int n = shape.numElements;
  if (!shape.hasElements() || data == nullptr) return;
  if (N == 1 || shape.isStorageContiguous) {
    T* p = firstElement();
    const std::ptrdiff_t s = shape.stride[0];
    for (int m = 0; m < n; ++m) p[m * s] = x;
    return;
  }
  for (MArrayIter<T, N> it(*this); !it.isDone(); ++it) *it = x;
}

template <typename T, int N>
ListInitializationSwitch<MArray<T, N>> MArray<T, N>::operator=(T value) {
  if constexpr (std::is_arithmetic_v<T>) {
    return ListInitializationSwitch<MArray>(this, value);
  } else {
    // Elements that can throw while copied are set at once, not in a destructor.
    fill__(value);
    return ListInitializationSwitch<MArray>(this, value, false);
  }
}

template <typename T, int N>
template <typename T2>
MArray<T, N>& MArray<T, N>::operator=(const MArray<T2, N>& other) {
  MArrayIterConst<T2, N> src(other);
  for (MArrayIter<T, N> it(*this); !it.isDone() && !src.isDone(); ++it, ++src) *it = static_cast<T>(*src);
  return *this;
}

template <typename T, int N>
MArray<T, N>& MArray<T, N>::operator=(const MArray& other) {
  return operator=<T>(other);
}

template <typename T, int N>
MArray<T, N>& MArray<T, N>::operator*=(T value) {
  for (MArrayIter<T, N> it(*this); !it.isDone(); ++it) *it = *it * value;
  return *this;
}

template <typename T, int N>
MArray<T, N>& MArray<T, N>::operator/=(T value) {
  for (MArrayIter<T, N> it(*this); !it.isDone(); ++it) *it = *it / value;
  return *this;
}

}  // namespace orv

#endif
