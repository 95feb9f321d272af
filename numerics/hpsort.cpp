#include "numerics/hpsort.h"

#include "numerics/sort_rows.h"

void hpsort4(orv::MArray<double, 1> ra, orv::MArray<double, 1> rb, orv::MArray<double, 1> rc,
             orv::MArray<double, 1> rd) {
  withSortRows__<3>(ra, {&rb, &rc, &rd}, [](const auto& rows, long n) { heapSort__(rows, n); });
}

void hpsort4(orv::MArray<double, 1> ra) {
  withSortRows__<0>(ra, {}, [](const auto& rows, long n) { heapSort__(rows, n); });
}
