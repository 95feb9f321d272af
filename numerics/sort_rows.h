#ifndef NUMERICS_SORT_ROWS_H
#define NUMERICS_SORT_ROWS_H

// The machinery shared by the in-place sorts: a key array and companion arrays
// that take every move of the keys, seen as rows 1..n, and the heapsort and
// quicksort over such rows.

#include <algorithm>
#include <array>
#include <cstddef>
#include <iostream>

#include "orv/marray.h"

// Element k (1..n) of a one-dimensional double array or view. Contiguous
// columns skip the multiplication by the stride in the hot loops.
template <bool Contiguous>
struct SortColumn__ {
  double* first;
  std::ptrdiff_t stride;

  double& operator[](long k) const {
    if constexpr (Contiguous)
      return first[k - 1];
    else
      return first[(k - 1) * stride];
  }
};

// A key column and C companion columns, moved together.
template <bool Contiguous, int C>
struct SortRows__ {
  using Column = SortColumn__<Contiguous>;

  // One row lifted out of the arrays.
  struct Row {
    double key;
    std::array<double, C> companions;
  };

  Column key;
  std::array<Column, C> companions;

  Row lift(long k) const {
    Row row;
    row.key = key[k];
    for (int c = 0; c < C; ++c) row.companions[c] = companions[c][k];
    return row;
  }

  void put(long k, const Row& row) const {
    key[k] = row.key;
    for (int c = 0; c < C; ++c) companions[c][k] = row.companions[c];
  }

  // Row `from` is copied to row `to`.
  void move(long to, long from) const {
    key[to] = key[from];
    for (int c = 0; c < C; ++c) companions[c][to] = companions[c][from];
  }

  void swap(long i, long j) const {
    std::swap(key[i], key[j]);
    for (int c = 0; c < C; ++c) std::swap(companions[c][i], companions[c][j]);
  }
};

// Calls sort(rows, n) on the key array and its companions, n being the
// smallest of their lengths so that no array is addressed past its end.
template <int C, class Sort>
void withSortRows__(const orv::MArray<double, 1>& key,
                    const std::array<const orv::MArray<double, 1>*, C>& others, Sort sort) {
  long n = key.length(1);
  bool contiguous = key.stride(1) == 1;
  for (const orv::MArray<double, 1>* other : others) {
    n = std::min<long>(n, other->length(1));
    contiguous = contiguous && other->stride(1) == 1;
  }
  if (n < 1) return;
  auto rowsOf = [&](auto rows) {
    using Column = typename decltype(rows)::Column;
    rows.key = Column{key.firstElement(), key.stride(1)};
    for (int c = 0; c < C; ++c) rows.companions[c] = Column{others[c]->firstElement(), others[c]->stride(1)};
    return rows;
  };
  if (contiguous)
    sort(rowsOf(SortRows__<true, C>{}), n);
  else
    sort(rowsOf(SortRows__<false, C>{}), n);
}

// Heapsort of rows 1..n ascending by key.
template <class Rows>
void heapSort__(const Rows& a, long n) {
  if (n < 2) return;
  long l = n / 2 + 1;
  long ir = n;
  for (;;) {
    typename Rows::Row lifted;
    if (l > 1) {
      // Still building the heap.
      --l;
      lifted = a.lift(l);
    } else {
      // The largest row goes to the end of the heap, which shrinks by one.
      lifted = a.lift(ir);
      a.move(ir, 1);
      if (--ir == 1) {
        a.put(1, lifted);
        return;
      }
    }
    // Sift the lifted row down from l.
    long i = l;
    long j = l + l;
    while (j <= ir) {
      if (j < ir && a.key[j] < a.key[j + 1]) ++j;
      if (!(lifted.key < a.key[j])) break;
      a.move(i, j);
      i = j;
      j += j;
    }
    a.put(i, lifted);
  }
}

// Quicksort of rows 1..n ascending by key, with median-of-three pivots and
// straight insertion for ranges of at most 7 rows. The pending ranges go on
// `stack` (entries 1..50, two per range); the larger part is pushed and the
// smaller one sorted first, so the stack grows with log2 n only. Without a
// stack, or should it ever run full, the rows are heapsorted instead.
template <class Rows>
void quickSort__(const Rows& a, long n, int* stack) {
  const long insertionLimit = 7;
  const int stackSize = 50;
  if (stack == nullptr) {
    heapSort__(a, n);
    return;
  }
  long l = 1;
  long ir = n;
  int top = 0;
  for (;;) {
    if (ir - l < insertionLimit) {
      for (long j = l + 1; j <= ir; ++j) {
        const typename Rows::Row row = a.lift(j);
        long i = j - 1;
        for (; i >= l; --i) {
          if (a.key[i] <= row.key) break;
          a.move(i + 1, i);
        }
        a.put(i + 1, row);
      }
      if (top == 0) return;
      ir = stack[top];
      l = stack[top - 1];
      top -= 2;
    } else {
      // Median of three: afterwards key[l+1] <= key[l] <= key[ir], which
      // stops both scans below without index tests.
      const long k = (l + ir) / 2;
      a.swap(k, l + 1);
      if (a.key[l + 1] > a.key[ir]) a.swap(l + 1, ir);
      if (a.key[l] > a.key[ir]) a.swap(l, ir);
      if (a.key[l + 1] > a.key[l]) a.swap(l + 1, l);
      const typename Rows::Row pivot = a.lift(l);
      long i = l + 1;
      long j = ir;
      for (;;) {
        do ++i;
        while (a.key[i] < pivot.key);
        do --j;
        while (a.key[j] > pivot.key);
        if (j < i) break;
        a.swap(i, j);
      }
      a.move(l, j);
      a.put(j, pivot);
      if (top + 2 > stackSize) {
        std::cout << "Error: NSTACK = 50 is too small in Quick-Sort!" << std::endl;
        heapSort__(a, n);
        return;
      }
      top += 2;
      if (ir - i + 1 >= j - l) {
        stack[top] = static_cast<int>(ir);
        stack[top - 1] = static_cast<int>(i);
        ir = j - 1;
      } else {
        stack[top] = static_cast<int>(j - 1);
        stack[top - 1] = static_cast<int>(l);
        l = i;
      }
    }
  }
}

#endif
