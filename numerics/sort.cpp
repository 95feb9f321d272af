#include "numerics/sort.h"

namespace {

// The common work of sortpos and sortpos_marker; invalid(k) tells whether
// position k of x is left out.
template <class Invalid>
int sortPositions(const orv::MArray<double, 1>& x, orv::MArray<int, 1>& idx, Invalid invalid) {
  const int first = x.first(1);
  const int last = x.last(1);
  if (idx.isEmpty() || idx.first(1) > first || idx.last(1) < last)
    idx.makeReference(orv::MArray<int, 1>(orv::Range(first, last)));
  for (int i = first; i <= last; ++i) idx(i) = i;

  // Partition: invalid positions are swapped to the end, whose mark e moves
  // down; the position swapped in is examined again.
  long e = static_cast<long>(last) + 1;
  for (long i = first; i < e;) {
    if (invalid(idx(static_cast<int>(i)))) {
      --e;
      std::swap(idx(static_cast<int>(i)), idx(static_cast<int>(e)));
    } else {
      ++i;
    }
  }
  const int validLast = static_cast<int>(e - 1);

  // Exchange sort of the valid part by value.
  for (int i = first; i < validLast; ++i)
    for (int j = i + 1; j <= validLast; ++j)
      if (x(idx(i)) > x(idx(j))) std::swap(idx(i), idx(j));
  return validLast;
}

}  // namespace

int sortpos(orv::MArray<double, 1>& x, orv::MArray<int, 1>& idx, double marker) {
  return sortPositions(x, idx, [&](int k) { return x(k) == marker; });
}

int sortpos_marker(const orv::MArray<double, 1>& x, const orv::MArray<int, 1>& mask,
                   orv::MArray<int, 1>& idx) {
  const bool maskEmpty = mask.isEmpty();
  const int maskFirst = mask.first(1);
  const int maskLast = mask.last(1);
  return sortPositions(x, idx,
                       [&](int k) { return maskEmpty || k < maskFirst || k > maskLast || mask(k) < 0; });
}
