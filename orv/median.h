#ifndef ORV_MEDIAN_H
#define ORV_MEDIAN_H

// Belongs to the array library, whose one include is orv/marray.h.
#ifndef ORV_MARRAY_UMBRELLA
#error "include \"orv/marray.h\", the one header of the array library, instead of orv/median.h"
#endif

// Exact medians of arrays, with and without a marker value that excludes
// flagged elements.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "orv/array.h"
#include "orv/marray_iter.h"
#include "orv/reduce.h"

namespace orv {

// The ordering of the median with a marker: elements equal to the marker come
// after all others and are equivalent among themselves; NaN elements come after
// every number (and before the markers), so the order is total and a sort over
// data with NaN stays defined.
template <class T>
struct less_nan {
  T marker;

  bool operator()(const T& a, const T& b) const {
    if (a == marker) return false;
    if (b == marker) return true;
    if constexpr (std::is_floating_point_v<T>) {
      if (std::isnan(b)) return !std::isnan(a);
    }
    return a < b;
  }
};

namespace detail {

template <class T>
bool isNan(const T& x) {
  if constexpr (std::is_floating_point_v<T>)
    return x != x;
  else
    return false;
}

// Ascending order with NaN after every number: the order of the median without marker.
template <class T>
struct NanLast {
  bool operator()(const T& a, const T& b) const { return a < b || (isNan(b) && !isNan(a)); }
};

// The element at position k (0-based) in storage order, dimension 1 fastest.
template <class T, int N>
const T& elementAt(const MArray<T, N>& a, std::int64_t k) {
  const Shape<N>& s = *a.getShape();
  std::ptrdiff_t offset = 0;
  for (int d = 0; d < N; ++d) {
    offset += static_cast<std::ptrdiff_t>(k % s.length[d]) * s.stride[d];
    k /= s.length[d];
  }
  return a.firstElement()[offset];
}

// The values of ranks h-1 and h (0-based, ranks counted among the elements that
// are not skipped) under `less`: `count` = h + 1 smallest elements are kept in a
// heap at t (the largest on top), as a partial sort would keep them.
template <class T, int N, class Less, class Skip>
void heapSelect(const MArray<T, N>& a, T* t, int count, Less less, Skip skip, T& belowTop, T& top) {
  int filled = 0;
  forEachRun(a, [&](const T* p, int n, std::ptrdiff_t step) {
    for (int i = 0; i < n; ++i) {
      const T& x = p[i * step];
      if (skip(x)) continue;
      if (filled < count) {
        t[filled++] = x;
        if (filled == count) std::make_heap(t, t + count, less);
      } else if (less(x, t[0])) {
        std::pop_heap(t, t + count, less);
        t[count - 1] = x;
        std::push_heap(t, t + count, less);
      }
    }
  });
  top = t[0];
  if (count > 1) {
    std::pop_heap(t, t + count, less);
    belowTop = t[0];
  } else {
    belowTop = top;
  }
}

// Bounds that no element passes: no lower or no upper pivot.
template <class T>
T lowestBound() {
  if constexpr (std::numeric_limits<T>::has_infinity)
    return -std::numeric_limits<T>::infinity();
  else
    return std::numeric_limits<T>::lowest();
}
template <class T>
T highestBound() {
  if constexpr (std::numeric_limits<T>::has_infinity)
    return std::numeric_limits<T>::infinity();
  else
    return std::numeric_limits<T>::max();
}

// Below this element count the heap selection is used directly.
inline constexpr int bandMinElements = 1 << 16;

// Fast exact selection of the values of ranks h-1 and h (0-based, among the m
// elements that differ from the marker, NaN after every number) with buf of
// h + 1 elements as the only storage:
//  1. a pseudo-random sample (fixed seed) is sorted in buf, and two pivots lo and
//     hi are taken a safe margin (5 sigma) below and above the wanted ranks;
//  2. one pass counts the elements below lo, equal to lo and equal to hi, and
//     copies those strictly between into buf; NaN and values above hi are only
//     counted implicitly;
//  3. the wanted ranks are then found in the counts or by nth_element in buf.
// Returns false when the pivots missed (possible but improbable) or the band
// would not fit; the caller then falls back to the heap selection.
template <bool HasMarker, class T, int N>
bool bandSelect(const MArray<T, N>& a, T marker, int m, T* buf, int capacity, T& lowValue, T& highValue) {
  const int n = a.numElements();
  const int h = m / 2;
  const int sampleWanted = std::clamp(n / 64, 1024, 16384);
  if (capacity < sampleWanted + 1) return false;

  // 1. Sample and pivots.
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  int sampled = 0;
  for (int i = 0; i < sampleWanted; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    const T& x = elementAt(a, static_cast<std::int64_t>(state % static_cast<std::uint64_t>(n)));
    if (HasMarker && x == marker) continue;
    buf[sampled++] = x;
  }
  if (sampled < 256) return false;
  std::sort(buf, buf + sampled, NanLast<T>());
  const int rankLow = (m % 2 == 0) ? h - 1 : h;
  const int rankHigh = h;
  const int margin = static_cast<int>(2.5 * std::sqrt(static_cast<double>(sampled))) + 2;
  const std::int64_t lowIndex = static_cast<std::int64_t>(rankLow) * sampled / m - margin;
  const std::int64_t highIndex = static_cast<std::int64_t>(rankHigh) * sampled / m + 1 + margin;
  T lo = lowIndex < 0 ? lowestBound<T>() : buf[lowIndex];
  T hi = highIndex >= sampled ? highestBound<T>() : buf[highIndex];
  if (isNan(lo)) lo = highestBound<T>();
  if (isNan(hi)) hi = highestBound<T>();
  const bool distinct = !(lo == hi);

  // 2. One pass: counts and the band strictly between the pivots.
  int below = 0, equalLow = 0, equalHigh = 0, band = 0;
  const int bandLimit = capacity - 1;
  bool overflow = false;
  forEachRun(a, [&](const T* p, int count, std::ptrdiff_t step) {
    if (overflow) return;
    // Branch-free: every element is stored at the band's end, which advances
    // only for band members. Local counters keep the loop free of stores that
    // could alias the band.
    int runBelow = 0, runEqualLow = 0, runEqualHigh = 0, k = band;
    auto visit = [&](const T& x) {
      const bool valid = !HasMarker || !(x == marker);
      runBelow += valid & (x < lo);
      runEqualLow += valid & (x == lo);
      runEqualHigh += valid & distinct & (x == hi);
      buf[k] = x;
      k += valid & (x > lo) & (x < hi);
    };
    // Blocks that cannot fill the band run without the capacity test.
    constexpr int block = 512;
    int i = 0;
    while (i < count && k < bandLimit) {
      const int end = std::min(count, i + block);
      if (bandLimit - k > end - i) {
        if (step == 1) {
          for (; i < end; ++i) visit(p[i]);
        } else {
          for (; i < end; ++i) visit(p[i * step]);
        }
      } else {
        for (; i < end && k < bandLimit; ++i) visit(p[i * step]);
      }
    }
    below += runBelow;
    equalLow += runEqualLow;
    equalHigh += runEqualHigh;
    band = k;
    if (band >= bandLimit) overflow = true;
  });
  if (overflow) return false;

  // 3. Resolve the two ranks.
  auto resolve = [&](int rank, T& value) -> bool {
    if (rank < below) return false;
    rank -= below;
    if (rank < equalLow) {
      value = lo;
      return true;
    }
    rank -= equalLow;
    if (rank < band) {
      std::nth_element(buf, buf + rank, buf + band);
      value = buf[rank];
      return true;
    }
    rank -= band;
    if (rank < equalHigh) {
      value = hi;
      return true;
    }
    // Above hi: only NaN elements lie there when hi is the open upper bound.
    if constexpr (std::numeric_limits<T>::has_quiet_NaN) {
      if (hi == highestBound<T>()) {
        value = std::numeric_limits<T>::quiet_NaN();
        return true;
      }
    }
    return false;
  };
  if (!resolve(rankHigh, highValue)) return false;
  const int bandHigh = rankHigh - below - equalLow;
  if (rankLow != rankHigh && bandHigh >= 1 && bandHigh < band) {
    // nth_element left every element before position bandHigh not above it.
    lowValue = *std::max_element(buf, buf + bandHigh);
    return true;
  }
  return resolve(rankLow, lowValue);
}

// The mean of the two middle values as a value of T: single precision for
// float, and finite for finite values; for integer types the half sum converted to T, so truncated toward
// zero ({1, 2} gives 1). The integer sum is formed in a wider type, where it
// cannot overflow; the result is the one the plain T arithmetic gives whenever
// that does not overflow.
template <class T>
T meanInT(const T& low, const T& high) {
  if constexpr (std::is_floating_point_v<T>) {
    const T mean = (low + high) * static_cast<T>(0.5);
    // Only a sum beyond the largest finite value takes the halves first; below
    // it halving commutes with the rounding and both give the same bits.
    if (std::isinf(mean) && std::isfinite(low) && std::isfinite(high))
      return low * static_cast<T>(0.5) + high * static_cast<T>(0.5);
    return mean;
  } else if constexpr (std::numeric_limits<T>::digits <= std::numeric_limits<double>::digits) {
    return static_cast<T>((static_cast<double>(low) + static_cast<double>(high)) * 0.5);
  } else {
    return static_cast<T>((static_cast<__int128>(low) + static_cast<__int128>(high)) / 2);
  }
}

// The median of the m elements that are not skipped; m >= 1.
template <bool HasMarker, class T, int N>
double medianOf(const MArray<T, N>& a, T marker, int m) {
  const int h = m / 2;
  MArray<T, 1> t(h + 1, false);
  T* buf = t.firstElement();
  T low{}, high{};
  bool found = false;
  if (a.numElements() >= bandMinElements) found = bandSelect<HasMarker>(a, marker, m, buf, h + 1, low, high);
  if (!found) {
    auto skip = [marker](const T& x) { return HasMarker && x == marker; };
    if constexpr (HasMarker)
      heapSelect(a, buf, h + 1, less_nan<T>{marker}, skip, low, high);
    else
      heapSelect(a, buf, h + 1, NanLast<T>(), skip, low, high);
  }
  if (m % 2 == 1) return static_cast<double>(high);
  return static_cast<double>(meanInT(low, high));
}

}  // namespace detail

// The exact median of all elements: the middle value in ascending order, or the
// mean of the two middle values (formed in T, see meanInT) for an even count.
// NaN elements order after every number. An empty array gives NaN.
template <class T, int N>
double median_exact(const MArray<T, N>& a) {
  detail::checkStorage(a);
  const int n = a.numElements();
  if (n <= 0) return std::numeric_limits<double>::quiet_NaN();
  return detail::medianOf<false>(a, T{}, n);
}

// The exact median of the elements that differ from marker, or the marker when
// there are none. A NaN marker equals no element, so all elements count.
template <class T, int N>
double median_exact(const MArray<T, N>& a, std::type_identity_t<T> marker) {
  detail::checkStorage(a);
  int m = 0;
  forEachRun(a, [&](const T* p, int n, std::ptrdiff_t step) {
    int valid = 0;
    for (int i = 0; i < n; ++i) valid += p[i * step] != marker;
    m += valid;
  });
  if (m == 0) return static_cast<double>(marker);
  return detail::medianOf<true>(a, marker, m);
}

}  // namespace orv

#endif
