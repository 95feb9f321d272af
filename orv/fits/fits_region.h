// Rectangular regions of a FITS image in its data segment: the rule that a region lies
// inside the image, the linear index of its corners, the walk over its rows and raw copies
// of its rows.
#ifndef ORV_FITS_FITS_REGION_H
#define ORV_FITS_FITS_REGION_H

#include <vector>

#include "util/region.h"

namespace orv {

// Number of elements of an image, the product of its axis lengths (0 without axes).
long fitsImageElements(int naxis, const int* naxisArray);

// Linear index (first axis fastest) of the element whose indices are the region's starts
// (atEnd false) or ends (atEnd true), in the image whose axis lengths are full's ends.
long regionLinearIndex(const util::Region& full, const util::Region& region, bool atEnd);

// Throws the "request for illegal region" FitsException unless region has full's number of
// dimensions and 1 <= start <= end <= full's end along every axis.
void checkRegionInside(const util::Region& full, const util::Region& region);

// Walks the rows (runs along axis 1) of a region in odometer order: axis 2 moves first, and
// the walk ends after rows() rows. rowStart() is the linear index of the current row's first
// element in the image full describes.
class FitsRegionRows {
 public:
  FitsRegionRows(const util::Region& full, const util::Region& region);
  long rowLength() const { return rowLength_; }
  long rows() const { return rows_; }
  long rowStart() const { return rowStart_; }
  void next();

 private:
  int naxis_;
  long rowLength_ = 0;
  long rows_ = 0;
  long rowStart_ = 0;
  std::vector<long> axisLength_;  // NAXISd of the image, d = 1 ... n
  std::vector<long> start_;       // region start - 1 along each axis
  std::vector<long> size_;        // region size along each axis
  std::vector<long> counter_;     // odometer counters c_d
  std::vector<long> axisStride_;  // elements between neighbours along each axis
};

// Calls f(rowOffset, rowLength) for every row of the region in odometer order, rowOffset
// being the byte offset of the row's first element from data byte 0 for elements of
// bytesPerElement bytes. Refuses a region outside the image.
template <class F>
void forEachFitsRegionRow(const util::Region& full, const util::Region& region, long bytesPerElement, F&& f) {
  FitsRegionRows rows(full, region);
  for (long r = 0; r < rows.rows(); ++r, rows.next()) f(rows.rowStart() * bytesPerElement, rows.rowLength());
}

// Copies the region's rows unchanged and packed to dst; the data segment begins baseOffset
// bytes after mapStart (negative when only a window of the segment is mapped), and only
// addresses inside the region's rows are formed.
void copyRawRegionRows(unsigned char* dst, const unsigned char* mapStart, long baseOffset, int bitpix,
                       const util::Region& full, const util::Region& region);

// Raw region copies: the region's rows copied unchanged, packed, from the encoded segment.
void copyRawRegionArray(unsigned char* dst, unsigned char* src, int bitpix, const util::Region& full,
                        const util::Region& region);
unsigned char* getRawRegionArray(unsigned char* src, int bitpix, const util::Region& full,
                                 const util::Region& region);

}  // namespace orv

#endif
