#include "orv/fits/fits_data.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <climits>

#include "orv/fits/fits_exception.h"

namespace orv {

FitsScaling chooseFitsScaling(double bscale, double bzero) {
  FitsScaling s{FitsScalePath::real, bscale, bzero, 0, 0};
  // Comparisons with NaN are false, so NaN never counts as a whole number.
  auto isInt32 = [](double v) { return v >= INT_MIN && v <= INT_MAX && v == std::trunc(v); };
  if (bscale == 1.0 && bzero == 0.0) {
    s.path = FitsScalePath::plain;
  } else if (isInt32(bscale) && isInt32(bzero)) {
    s.path = FitsScalePath::wholeNumber;
    s.intScale = static_cast<std::int64_t>(bscale);
    s.intZero = static_cast<std::int64_t>(bzero);
  }
  return s;
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

FitsMapWindow fitsPageWindow(long spanOffset, long spanLength) {
  const long page = getpagesize();
  FitsMapWindow w;
  w.offset = spanOffset / page * page;
  w.lead = spanOffset % page;
  w.length = w.lead + spanLength;
  return w;
}

FitsFileDescriptor::~FitsFileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

void fitsPrefaultWritable(unsigned char* map, long from, long to) {
#ifdef MADV_POPULATE_WRITE
  const long page = getpagesize();
  const long start = from / page * page;
  if (to > start) ::madvise(map + start, to - start, MADV_POPULATE_WRITE);
#else
  (void)map, (void)from, (void)to;
#endif
}

void fitsPrefaultMemory(void* p, long bytes) {
#ifdef MADV_POPULATE_WRITE
  const auto page = static_cast<std::uintptr_t>(getpagesize());
  const auto begin = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t first = (begin + page - 1) / page * page;
  const std::uintptr_t last = (begin + static_cast<std::uintptr_t>(bytes)) / page * page;
  if (bytes > 0 && last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
  (void)p, (void)bytes;
#endif
}

long fitsStartWriteBack(int fd, long from, long to, bool last) {
  // An unfinished last page is left for a later call: starting its write-back now would
  // write-protect it while it is still being filled.
  const long page = getpagesize();
  const long end = last ? to : to / page * page;
  if (end <= from) return from;
  ::sync_file_range(fd, from, end - from, SYNC_FILE_RANGE_WRITE);
  return end;
}

long fitsImageElements(int naxis, const int* naxisArray) {
  if (naxis <= 0 || naxisArray == nullptr) return 0;
  long count = 1;
  for (int d = 0; d < naxis; ++d) count *= naxisArray[d];
  return count;
}

void copyRawRegionRows(unsigned char* dst, const unsigned char* mapStart, long baseOffset, int bitpix,
                       const util::Region& full, const util::Region& region) {
  const long bytpix = std::abs(bitpix / 8);
  FitsRegionRows rows(full, region);
  const long rowBytes = rows.rowLength() * bytpix;
  for (long r = 0; r < rows.rows(); ++r, rows.next()) {
    std::memcpy(dst, mapStart + (baseOffset + rows.rowStart() * bytpix), rowBytes);
    dst += rowBytes;
  }
}

void copyRawRegionArray(unsigned char* dst, unsigned char* src, int bitpix, const util::Region& full,
                        const util::Region& region) {
  copyRawRegionRows(dst, src, 0, bitpix, full, region);
}

unsigned char* getRawRegionArray(unsigned char* src, int bitpix, const util::Region& full,
                                 const util::Region& region) {
  checkRegionInside(full, region);
  auto buffer = std::make_unique_for_overwrite<unsigned char[]>(region.getLength() * std::abs(bitpix / 8));
  copyRawRegionArray(buffer.get(), src, bitpix, full, region);
  return buffer.release();
}

FitsIO::FitsIO(const std::string& filename) : filename(filename) {}

FitsIO::FitsIO(const FitsIO& other)
    : filename(other.filename),
      region(other.region ? std::make_unique<util::Region>(*other.region) : nullptr) {}

FitsIO& FitsIO::operator=(const FitsIO& other) {
  if (this == &other) return *this;
  unmap__();
  filename = other.filename;
  region = other.region ? std::make_unique<util::Region>(*other.region) : nullptr;
  return *this;
}

FitsIO::~FitsIO() { unmap__(); }

void FitsIO::unmap__() {
  if (map) munmap(map, mapLength);
  map = nullptr;
  position = nullptr;
  mapLength = 0;
  mapOffset = 0;
}

void FitsIO::checkRegion(unsigned long dim) const {
  if (!region) throw FitsException("request for unset region");
  if (dim == 0) throw FitsException("request for invalid region parameter");
}

util::Region FitsIO::getRegion() const {
  if (!region) throw FitsException("request for unset region");
  return util::Region(*region);
}

int FitsIO::getRegionStart(unsigned long dim) const {
  checkRegion(dim);
  return region->getStart(dim);
}

int FitsIO::getRegionEnd(unsigned long dim) const {
  checkRegion(dim);
  return region->getEnd(dim);
}

long FitsIO::getRegionLength(unsigned long dim) const {
  checkRegion(dim);
  return region->getLength(dim);
}

long FitsIO::getRegionLength() const { return region ? static_cast<long>(region->getLength()) : 0L; }

}  // namespace orv
