// Reference helpers of the reduction and median tests: the elements of an array
// or view read by index, in storage order (dimension 1 fastest).
#ifndef TESTS_ORV_ORV_FIXTURES_H
#define TESTS_ORV_ORV_FIXTURES_H

#include <vector>

#include "orv/marray.h"

namespace orv_test {

template <class T>
std::vector<T> elements(const orv::MArray<T, 1>& a) {
  std::vector<T> v;
  for (int i = 1; i <= a.length(1); ++i) v.push_back(a(i));
  return v;
}

template <class T>
std::vector<T> elements(const orv::MArray<T, 2>& a) {
  std::vector<T> v;
  for (int j = 1; j <= a.length(2); ++j)
    for (int i = 1; i <= a.length(1); ++i) v.push_back(a(i, j));
  return v;
}

}  // namespace orv_test

#endif
