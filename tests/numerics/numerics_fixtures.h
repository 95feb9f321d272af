// Fixtures of the sorting, statistics and sequence tests: arrays from and to
// std::vector, and random keys with duplicates.
#ifndef TESTS_NUMERICS_NUMERICS_FIXTURES_H
#define TESTS_NUMERICS_NUMERICS_FIXTURES_H

#include <algorithm>
#include <random>
#include <vector>

#include "orv/marray.h"

namespace numerics_test {

// A one-dimensional array holding the values, first index `base`.
inline orv::MArray<double, 1> arrayOf(const std::vector<double>& values, int base = 1) {
  orv::MArray<double, 1> a(orv::Range(base, base + static_cast<int>(values.size()) - 1));
  for (std::size_t k = 0; k < values.size(); ++k) a(base + static_cast<int>(k)) = values[k];
  return a;
}

// The elements of an array or view, first to last.
template <typename T>
std::vector<T> elements(const orv::MArray<T, 1>& a) {
  std::vector<T> values;
  for (int i = a.first(1); i <= a.last(1); ++i) values.push_back(a(i));
  return values;
}

// n keys with many duplicates: integers 0..n/4 as doubles.
inline std::vector<double> randomKeys(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> draw(0, std::max(1, n / 4));
  std::vector<double> keys(n);
  for (double& k : keys) k = draw(rng);
  return keys;
}

}  // namespace numerics_test

#endif
