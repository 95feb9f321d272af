#ifndef ORV_RANGE_H
#define ORV_RANGE_H

#include <climits>
#include <cstdint>

namespace orv {

// Marker for a dimension's own first index (in Range::first) or last index
// (in Range::last).
inline constexpr int rangeAll = INT_MIN;

// An inclusive index range of one dimension with a stride. It is never built
// implicitly from a single int, so that index and Range overloads stay apart.
struct Range {
  int first;
  int last;
  int stride;
  int length;

  // The whole extent of a dimension: first = last = rangeAll, stride 1, length 1
  // (the length has no meaning here).
  constexpr Range() : first(rangeAll), last(rangeAll), stride(1), length(1) {}

  constexpr Range(int firstIndex, int lastIndex) : Range(firstIndex, lastIndex, 1) {}

  // The length is (last - first) / stride + 1, truncating toward zero; formed in
  // 64 bits so that extreme indices do not overflow. A marker end stands for an
  // index of some dimension not known here, so no length is formed from it: such
  // a range has length 1, which, as for the whole extent, has no meaning.
  constexpr Range(int firstIndex, int lastIndex, int step)
      : first(firstIndex), last(lastIndex), stride(step), length(0) {
    if (first == rangeAll || last == rangeAll) {
      length = 1;
    } else if (step != 0) {
      length = static_cast<int>((static_cast<std::int64_t>(last) - first) / step + 1);
    }
  }

  static constexpr Range all() { return Range(); }
};

// Fills the unused trailing argument positions of MArray::slicearray.
struct NoArgument {};

}  // namespace orv

#endif
