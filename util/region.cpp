#include "util/region.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>

#include "util/uexception.h"

namespace util {

// The block size 2*n must not wrap around; a count that large cannot be allocated anyway.
static std::size_t blockSize__(unsigned long n) {
  if (n > std::numeric_limits<std::size_t>::max() / (2 * sizeof(int))) throw std::bad_array_new_length();
  return 2 * n;
}

Region::Region(unsigned long n) : N(n), bounds_(new int[blockSize__(n)]()) {}

Region::Region(const Region& other) : N(other.N), bounds_(new int[2 * other.N]) {
  std::copy(other.bounds_.get(), other.bounds_.get() + 2 * N, bounds_.get());
}

Region::~Region() = default;

void Region::checkGetDim__(unsigned long dim) const {
  if (dim < 1 || dim > N) throw UException(error_get_dim);
}

void Region::checkSetDim__(unsigned long dim) const {
  if (dim < 1 || dim > N) throw UException(error_set_dim);
}

void Region::setRegion(const Region& other) {
  if (other.N != N) throw UException(error_set_dim);
  std::copy(other.bounds_.get(), other.bounds_.get() + 2 * N, bounds_.get());
}

void Region::setRange(unsigned long dim, int start, int end) {
  checkSetDim__(dim);
  bounds_[dim - 1] = start;
  bounds_[N + dim - 1] = end;
}

void Region::setStart(unsigned long dim, int start) {
  checkSetDim__(dim);
  bounds_[dim - 1] = start;
}

void Region::setEnd(unsigned long dim, int end) {
  checkSetDim__(dim);
  bounds_[N + dim - 1] = end;
}

int Region::getStart(unsigned long dim) const {
  checkGetDim__(dim);
  return bounds_[dim - 1];
}

int Region::getEnd(unsigned long dim) const {
  checkGetDim__(dim);
  return bounds_[N + dim - 1];
}

std::int64_t Region::getLength(unsigned long dim) const {
  checkGetDim__(dim);
  const std::int64_t diff = std::int64_t{bounds_[N + dim - 1]} - std::int64_t{bounds_[dim - 1]};
  return (diff < 0 ? -diff : diff) + 1;
}

std::int64_t Region::getLength() const {
  std::int64_t total = 1;
  for (unsigned long d = 1; d <= N; ++d) {
    if (__builtin_mul_overflow(total, getLength(d), &total)) return std::numeric_limits<std::int64_t>::max();
  }
  return total;
}

Region Region::getSlice(unsigned long first, unsigned long last) const {
  if (first < 1 || first > last || last > N) throw UException(error_get_dim);
  Region slice(last - first + 1);
  for (unsigned long k = 1; k <= slice.N; ++k)
    slice.setRange(k, getStart(first + k - 1), getEnd(first + k - 1));
  return slice;
}

std::string Region::toString() const {
  std::string text = "[";
  char pair[32];
  for (unsigned long d = 0; d < N; ++d) {
    std::snprintf(pair, sizeof pair, d + 1 < N ? "%d:%d," : "%d:%d", bounds_[d], bounds_[N + d]);
    text += pair;
  }
  text += "]";
  return text;
}

}  // namespace util
