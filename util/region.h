#ifndef UTIL_REGION_H
#define UTIL_REGION_H

#include <cstdint>
#include <memory>
#include <string>

namespace util {

// An N-dimensional inclusive box of integer indices, dimensions numbered from 1.
// Starts and ends live in one owned block of 2*N ints: the starts first, the
// ends right after them. A start may be larger than its end; lengths count the
// indices between the two either way.
class Region {
 public:
  static constexpr const char error_get_dim[] = "request for region parameter of illegal dimension";
  static constexpr const char error_set_dim[] = "request to set region parameter of illegal dimension";

  // Number of dimensions, fixed for the life of the region.
  const unsigned long N;

  explicit Region(unsigned long n);
  Region(const Region& other);
  // Regions are copied only by construction or by setRegion, never by assignment.
  Region& operator=(const Region&) = delete;
  ~Region();

  // Copies every start and end of a region of the same number of dimensions.
  void setRegion(const Region& other);
  void setRange(unsigned long dim, int start, int end);
  void setStart(unsigned long dim, int start);
  void setEnd(unsigned long dim, int end);

  int getStart(unsigned long dim) const;
  int getEnd(unsigned long dim) const;
  // |end - start| + 1, computed in 64 bits so that no pair of ints overflows.
  std::int64_t getLength(unsigned long dim) const;
  // Product of the lengths of all dimensions; 1 for no dimensions. A product
  // beyond the 64-bit range is reported as the largest 64-bit value.
  std::int64_t getLength() const;

  // Dimensions first..last of this region as a new region of last-first+1 dimensions.
  Region getSlice(unsigned long first, unsigned long last) const;

  // "[s1:e1,s2:e2,...]"; "[]" for a region of no dimensions.
  std::string toString() const;

 private:
  void checkGetDim__(unsigned long dim) const;
  void checkSetDim__(unsigned long dim) const;

  std::unique_ptr<int[]> bounds_;  // starts at [0, N), ends at [N, 2N)
};

}  // namespace util

#endif
