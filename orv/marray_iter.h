#ifndef ORV_MARRAY_ITER_H
#define ORV_MARRAY_ITER_H

// Belongs to the array library, whose one include is orv/marray.h.
#ifndef ORV_MARRAY_UMBRELLA
#error "include \"orv/marray.h\", the one header of the array library, instead of orv/marray_iter.h"
#endif

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "orv/array.h"
#include "orv/shape.h"

namespace orv {

// Walks the elements of an array or view in storage order, dimension 1
// fastest, run by run. Per dimension it keeps where the current run started and
// one stride past where it ends, so moving to the next run touches only the
// dimensions that carry. `current` is null once the walk is over. The iterator
// holds no reference of the storage: the array must outlive it.
//
// It is also the array leaf of element-wise expressions (valueAt and friends).
template <typename T, int N>
class MArrayIterConst {
 public:
  using value_type = T;
  using T_numtype = T;
  using difference_type = std::ptrdiff_t;
  using pointer = const T*;
  using reference = const T&;
  using iterator_category = std::forward_iterator_tag;

  // The ended state; equal to every finished iterator.
  MArrayIterConst() = default;

  // Stands on the array's first element. An array without elements (a zero
  // length, or no storage) gives an iterator that has already ended.
  explicit MArrayIterConst(const MArray<T, N>& array) : shape(array.getShape()) {
    for (int d = 0; d < N; ++d) {
      strides[d] = shape->stride[d];
      lengths[d] = shape->length[d];
    }
    innerStride = strides[0];
    if (!shape->hasElements() || array.getData() == nullptr) return;
    first = array.firstElement();
    current = first;
    for (int d = 0; d < N; ++d) {
      runStart[d] = first;
      runEnd[d] = first + static_cast<std::ptrdiff_t>(strides[d]) * lengths[d];
    }
  }

  // Moves from the end of a finished innermost run to the start of the next,
  // carrying into higher dimensions, or ends the walk after the last run. Does
  // not read `current`. Ends are met by equality: positions move by exactly one
  // stride, and strides may be negative. An iterator that never stood on an
  // element (an empty array) stays ended.
  void advanceDim() {
    if constexpr (N == 1) {
      current = nullptr;
    } else {
      if (first == nullptr) {
        current = nullptr;
        return;
      }
      int d = 1;
      const T* p = nullptr;
      for (; d < N; ++d) {
        p = runStart[d] + strides[d];
        if (p != runEnd[d]) break;
      }
      if (d == N) {
        current = nullptr;
        return;
      }
      current = p;
      runStart[d] = p;
      for (int e = d - 1; e >= 0; --e) {
        runStart[e] = p;
        runEnd[e] = p + static_cast<std::ptrdiff_t>(strides[e]) * lengths[e];
      }
    }
  }

  // Small operations of the users: dereference, one step, done test.
  const T& operator*() const { return *current; }
  const T* operator->() const { return current; }
  MArrayIterConst& operator++() {
    current += innerStride;
    if (current == runEnd[0]) advanceDim();
    return *this;
  }
  MArrayIterConst operator++(int) {
    MArrayIterConst before(*this);
    ++*this;
    return before;
  }
  bool isDone() const { return current == nullptr; }
  friend bool operator==(const MArrayIterConst& a, const MArrayIterConst& b) {
    return a.current == b.current;
  }

  // Leaf operations for the evaluators: values relative to `current`.
  const T& valueAt(int i) const { return current[i]; }
  const T& valueAtStep(int i) const { return current[static_cast<std::ptrdiff_t>(i) * innerStride]; }
  const T& currentValue() const { return *current; }
  bool isStorageContiguous() const { return shape->isStorageContiguous; }
  bool isUnitStride() const { return innerStride == 1; }
  void advanceBy(int n) { current += static_cast<std::ptrdiff_t>(n) * innerStride; }
  // The index-aware walk: one element on; after a whole run, the next run.
  void stepElement() { current += innerStride; }
  void stepRun() { advanceDim(); }
  const Shape<N>* exprShape() const { return shape; }
  // An array operand fits a target of the given shape when it has the same
  // lengths and, if there are elements, storage to read them from.
  template <int M>
  bool operandsMatch(const Shape<M>& target) const {
    if constexpr (M != N) {
      return false;
    } else {
      for (int d = 0; d < N; ++d)
        if (lengths[d] != target.length[d]) return false;
      return current != nullptr || !target.hasElements();
    }
  }
  static constexpr bool hasIndexOperand = false;

  const T* current = nullptr;
  const T* first = nullptr;
  const T* runStart[N] = {};
  const T* runEnd[N] = {};
  int strides[N] = {};
  int lengths[N] = {};
  int innerStride = 0;
  const Shape<N>* shape = nullptr;
};

// The writable iterator: same walk, write access to the current element.
template <typename T, int N>
class MArrayIter : public MArrayIterConst<T, N> {
 public:
  using pointer = T*;
  using reference = T&;

  MArrayIter() = default;
  explicit MArrayIter(MArray<T, N>& array) : MArrayIterConst<T, N>(array) {}

  T& operator*() const { return *const_cast<T*>(this->current); }
  T* operator->() const { return const_cast<T*>(this->current); }
  MArrayIter& operator++() {
    MArrayIterConst<T, N>::operator++();
    return *this;
  }
  MArrayIter operator++(int) {
    MArrayIter before(*this);
    ++*this;
    return before;
  }
};

// ---------------------------------------------------------------------------------------------
// The run walker: every per-element loop over an array visits it run by run, a run being the
// elements of one line along dimension 1: f(p, count, stride) with `count` elements at p,
// p + stride, ..., in storage order. Runs are handed out as they lie in the array, one per
// line, also when the array is storage-contiguous.

// Every run of the array; an array without elements or storage has none.
template <typename T, int N, class F>
void forEachRun(const MArray<T, N>& array, F&& f) {
  MArrayIterConst<T, N> it(array);
  const int count = it.lengths[0];
  const std::ptrdiff_t stride = it.innerStride;
  for (; !it.isDone(); it.advanceDim()) f(it.current, count, stride);
}

// The writable form: f receives T*.
template <typename T, int N, class F>
void forEachRun(MArray<T, N>& array, F&& f) {
  const MArray<T, N>& readable = array;
  forEachRun(readable,
             [&f](const T* p, int count, std::ptrdiff_t stride) { f(const_cast<T*>(p), count, stride); });
}

// The next n elements from an iterator's position, in runs: f(p, count, stride) for runs that
// together cover them, the first and last possibly a part of a line; the iterator moves past
// them. Returns the number of elements handed out, fewer than n when the iterator ended first.
template <typename T, int N, class F>
long forEachRun(MArrayIterConst<T, N>& it, long n, F&& f) {
  long handedOut = 0;
  while (handedOut < n && !it.isDone()) {
    const std::ptrdiff_t stride = it.innerStride;
    const long available = (it.runEnd[0] - it.current) / stride;
    const long count = std::min(available, n - handedOut);
    f(it.current, count, stride);
    it.current += count * stride;
    handedOut += count;
    if (it.current == it.runEnd[0]) it.advanceDim();
  }
  return handedOut;
}

// The writable form: f receives T*.
template <typename T, int N, class F>
long forEachRun(MArrayIter<T, N>& it, long n, F&& f) {
  MArrayIterConst<T, N>& readable = it;
  return forEachRun(readable, n, [&f](const T* p, long count, std::ptrdiff_t stride) {
    f(const_cast<T*>(p), count, stride);
  });
}

// The body of every grouped loop over n elements: one(i) for the first n mod 4 positions,
// then four(i) for the groups of four starting at i. Grouping lets a body form four values
// before storing any and gives the compiler independent work to interleave.
template <class One, class Four>
inline void forEachGroupOfFour(int n, One&& one, Four&& four) {
  const int r = n & 3;
  int i = 0;
  for (; i < r; ++i) one(i);
  for (; i < n; i += 4) four(i);
}

template <typename T, int N>
typename MArray<T, N>::ConstIterator MArray<T, N>::begin() const {
  return ConstIterator(*this);
}

template <typename T, int N>
typename MArray<T, N>::ConstIterator MArray<T, N>::end() const {
  return ConstIterator();
}

}  // namespace orv

#endif
