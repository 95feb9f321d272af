#include "numerics/quicksort.h"

#include "numerics/intvector.h"
#include "numerics/sort_rows.h"

namespace {
const long kStackFirst = 1;
const long kStackLast = 50;
}  // namespace

void quicksort(orv::MArray<double, 1> arr) {
  int* stack = intvector(kStackFirst, kStackLast);
  withSortRows__<0>(arr, {}, [stack](const auto& rows, long n) { quickSort__(rows, n, stack); });
  free_intvector(stack, kStackFirst, kStackLast);
}

void quicksort4(orv::MArray<double, 1> arr, orv::MArray<double, 1> b, orv::MArray<double, 1> c,
                orv::MArray<double, 1> d) {
  int* stack = intvector(kStackFirst, kStackLast);
  quicksort4WithStack__(arr, b, c, d, stack);
  free_intvector(stack, kStackFirst, kStackLast);
}

void quicksort4WithStack__(orv::MArray<double, 1> arr, orv::MArray<double, 1> b, orv::MArray<double, 1> c,
                           orv::MArray<double, 1> d, int* stack) {
  withSortRows__<3>(arr, {&b, &c, &d}, [stack](const auto& rows, long n) { quickSort__(rows, n, stack); });
}
