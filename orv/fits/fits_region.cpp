#include "orv/fits/fits_region.h"

#include <cstring>
#include <memory>

#include "orv/fits/fits_convert.h"
#include "orv/fits/fits_exception.h"

namespace orv {

long fitsImageElements(int naxis, const int* naxisArray) {
  if (naxis <= 0 || naxisArray == nullptr) return 0;
  long count = 1;
  for (int d = 0; d < naxis; ++d) count *= naxisArray[d];
  return count;
}

long regionLinearIndex(const util::Region& full, const util::Region& region, bool atEnd) {
  const unsigned long n = full.N;
  if (n == 0) return 0;
  long acc = 0;
  for (unsigned long d = n; d >= 2; --d) {
    long index = atEnd ? region.getEnd(d) : region.getStart(d);
    acc = (acc + index - 1) * static_cast<long>(full.getEnd(d - 1));
  }
  long index1 = atEnd ? region.getEnd(1) : region.getStart(1);
  return acc + index1 - 1;
}

void checkRegionInside(const util::Region& full, const util::Region& region) {
  bool inside = region.N == full.N;
  for (unsigned long d = 1; inside && d <= full.N; ++d)
    inside = region.getStart(d) >= 1 && region.getStart(d) <= region.getEnd(d) &&
             region.getEnd(d) <= full.getEnd(d);
  if (!inside)
    throw FitsException("request for illegal region:\n" + region.toString() + " is no subarray of " +
                        full.toString());
}

FitsRegionRows::FitsRegionRows(const util::Region& full, const util::Region& region)
    : naxis_(static_cast<int>(full.N)) {
  checkRegionInside(full, region);
  if (naxis_ == 0) return;
  axisLength_.resize(naxis_);
  start_.resize(naxis_);
  size_.resize(naxis_);
  counter_.assign(naxis_, 0);
  axisStride_.resize(naxis_);
  long stride = 1;
  rows_ = 1;
  for (int d = 0; d < naxis_; ++d) {
    axisLength_[d] = full.getEnd(d + 1);
    start_[d] = region.getStart(d + 1) - 1L;
    size_[d] = region.getEnd(d + 1) - static_cast<long>(region.getStart(d + 1)) + 1;
    axisStride_[d] = stride;
    rowStart_ += start_[d] * stride;
    stride *= axisLength_[d];
    if (d > 0) rows_ *= size_[d];
  }
  rowLength_ = size_[0];
}

void FitsRegionRows::next() {
  // Odometer over axes 2 ... n: the start of the next row moves by one stride of the axis
  // that advances, and back over the whole extent of every axis that wraps.
  for (int d = 1; d < naxis_; ++d) {
    rowStart_ += axisStride_[d];
    if (++counter_[d] < size_[d]) return;
    rowStart_ -= size_[d] * axisStride_[d];
    counter_[d] = 0;
  }
}

void copyRawRegionRows(unsigned char* dst, const unsigned char* mapStart, long baseOffset, int bitpix,
                       const util::Region& full, const util::Region& region) {
  const long bytes = fitsBytesPerElement(bitpix);
  forEachFitsRegionRow(full, region, bytes, [&](long rowOffset, long rowLength) {
    std::memcpy(dst, mapStart + (baseOffset + rowOffset), rowLength * bytes);
    dst += rowLength * bytes;
  });
}

void copyRawRegionArray(unsigned char* dst, unsigned char* src, int bitpix, const util::Region& full,
                        const util::Region& region) {
  copyRawRegionRows(dst, src, 0, bitpix, full, region);
}

unsigned char* getRawRegionArray(unsigned char* src, int bitpix, const util::Region& full,
                                 const util::Region& region) {
  checkRegionInside(full, region);
  auto buffer =
      std::make_unique_for_overwrite<unsigned char[]>(region.getLength() * fitsBytesPerElement(bitpix));
  copyRawRegionArray(buffer.get(), src, bitpix, full, region);
  return buffer.release();
}

}  // namespace orv
