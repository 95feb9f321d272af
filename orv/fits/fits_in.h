// FITS image files to read: orv::FitsIn, the reader of one image (primary HDU or image
// extension) and its element readers, and orv::FitsExtensionIn, which also hands out a file's
// image extensions.
#ifndef ORV_FITS_FITS_IN_H
#define ORV_FITS_FITS_IN_H

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "orv/fits/fits_elements.h"
#include "orv/fits/fits_exception.h"
#include "orv/fits/fits_header.h"
#include "orv/fits/fits_map.h"
#include "util/region.h"

namespace orv {

class FitsOut;

// A FITS image (primary HDU or image extension) opened for reading. The header is read by the
// constructor. A whole image is read into arrays and buffers by pread, a chunk at a time; the
// data segment, or the page-aligned window of the region, is mapped read-only when it is read
// through the mapping (begin(), regions, boxes) and stays mapped until freeData, a change of
// region or destruction. A reader that holds a mapping reads whole images through it too.
class FitsIn : public FitsHeader, public FitsIO {
 public:
  FitsIn(const std::string& filename, bool quiet = false, bool allJunk = false);
  FitsIn(const char* filename, bool quiet = false, bool allJunk = false);
  FitsIn(const std::string& filename, const util::Region& region, bool quiet = false, bool allJunk = false);
  FitsIn(const char* filename, const util::Region& region, bool quiet = false, bool allJunk = false);
  // The header that begins at byte `offset` (an extension). The offset must be a long: an int
  // would silently select the (name, quiet, allJunk) constructor, so that call is refused.
  FitsIn(const std::string& filename, bool quiet, long offset);
  FitsIn(const char* filename, bool quiet, long offset);
  FitsIn(const std::string& filename, bool quiet, int offset) = delete;
  FitsIn(const char* filename, bool quiet, int offset) = delete;
  // A copy reads the same file and region and starts unmapped.
  FitsIn(const FitsIn& other);
  FitsIn& operator=(const FitsIn& other);
  ~FitsIn() override;

  void openData();
  void freeData();
  void setRegion(const util::Region& region);
  void resetRegion();
  void checkRegion(unsigned long dim) const;
  FitsHeader getHeader() const;

  unsigned char* begin();
  unsigned char* end();
  long getPosition();
  void setPosition(long offset);
  void resetPosition();

  virtual FitsIn getNextExtension();
  void describeSelf(std::ostream& os) override;

  // Element readers (conversion by BITPIX, BSCALE and BZERO).
  template <class T>
  T* getDataArray(T);
  template <class Iter>
  void readDataArray(Iter& it);
  template <class Iter>
  void readRegionArray(Iter& it);
  // Converts the pixels of `box` (image coordinates, every axis) into the elements from out
  // on, first axis fastest, as a read of that region converts them. The box lies inside the
  // region set on the reader, or inside the image when none is set; the reader keeps its
  // region and its mapping, so that many boxes are read from one mapping, and the pages of
  // a region's window are read in only where boxes reach them.
  template <class T>
  void readBox(const util::Region& box, T* out);
  // Checks, before anything is allocated, that the data a read takes are there: the region's
  // window is mapped, or else the file is opened and its length checked (getFitsMArray).
  void requireData__();

 protected:
  friend class FitsOut;

  // Refuses a header without a data segment and an extension that is not an image.
  void checkDataSegment__() const;
  // Reads the whole image into the sink: through the mapping when the reader holds one, else
  // from the file by pread, a chunk at a time (detail::fitsFileWalk).
  template <class Sink>
  void readWhole__(Sink& sink);
  // Maps the data when nothing is mapped.
  void ensureMapped__() {
    if (map == nullptr) openData();
  }
  // Refuses a box outside the image (full) or outside the reader's region.
  void checkBox__(const util::Region& full, const util::Region& box) const;
  // The BLANK card of an integer image; absent for a floating-point BITPIX, whose undefined
  // pixels are NaN already.
  FitsBlank blank__() const;
  // Byte offset of data byte 0 from the start of the mapping (negative for a window).
  long baseOffset__() const { return dataOffset - mapOffset; }
  // Number of elements of the whole image, the product of NAXISn (0 without axes).
  long imageElements__() const;

  bool allJunk;
};

template <class Sink>
void FitsIn::readWhole__(Sink& sink) {
  const FitsScaling s = chooseFitsScaling(bscale, bzero);
  const long n = imageElements__();
  if (map) {
    readFitsElements(bitpix, s, sink, detail::fitsSegmentWalk(map + baseOffset__(), n), blank__());
    return;
  }
  checkDataSegment__();
  const FitsDataFile file(filename, dataOffset, dataLength);
  readFitsElements(bitpix, s, sink, detail::fitsFileWalk(file, dataOffset, n, bytpix), blank__());
}

template <class T>
T* FitsIn::getDataArray(T) {
  // A truncated file is refused before anything is allocated.
  requireData__();
  if (region) {
    const util::Region full = getFullRegion();
    auto buffer = std::make_unique_for_overwrite<T[]>(region->getLength());
    detail::FitsBufferRuns<T> sink{buffer.get()};
    readFitsElements(bitpix, chooseFitsScaling(bscale, bzero), sink,
                     detail::fitsRegionWalk(map, baseOffset__(), bitpix, full, *region), blank__());
    return buffer.release();
  }
  auto buffer = std::make_unique_for_overwrite<T[]>(imageElements__());
  detail::FitsBufferRuns<T> sink{buffer.get()};
  readWhole__(sink);
  return buffer.release();
}

template <class Iter>
void FitsIn::readDataArray(Iter& it) {
  if (region) return readRegionArray(it);
  Iter cursor(it);
  detail::FitsIteratorRuns<Iter> sink{cursor};
  readWhole__(sink);
}

template <class Iter>
void FitsIn::readRegionArray(Iter& it) {
  if (!region) throw FitsException("no region set");
  ensureMapped__();
  const util::Region full = getFullRegion();
  Iter cursor(it);
  detail::FitsIteratorRuns<Iter> sink{cursor};
  readFitsElements(bitpix, chooseFitsScaling(bscale, bzero), sink,
                   detail::fitsRegionWalk(map, baseOffset__(), bitpix, full, *region), blank__());
}

template <class T>
void FitsIn::readBox(const util::Region& box, T* out) {
  const util::Region full = getFullRegion();
  checkBox__(full, box);
  ensureMapped__();
  detail::FitsBufferRuns<T> sink{out};
  readFitsElements(bitpix, chooseFitsScaling(bscale, bzero), sink,
                   detail::fitsRegionWalk(map, baseOffset__(), bitpix, full, box), blank__());
}

// A reader of the primary HDU that also hands out the file's image extensions, numbered
// from 1. Every extension header met is kept, so each is read from the file only once.
class FitsExtensionIn : public FitsIn {
 public:
  FitsExtensionIn(const std::string& filename, bool quiet = false, bool allJunk = false);
  FitsExtensionIn(const char* filename, bool quiet = false, bool allJunk = false);
  ~FitsExtensionIn() override;

  FitsIn getExtension(unsigned long n);
  FitsIn getNextExtension() override;
  unsigned long getExtNo() const { return extNo; }
  bool getPrimary() const { return primary; }
  void unsetPrimary() { primary = false; }
  void resetExtNo() {
    primary = true;
    extNo = 0;
  }

 private:
  bool primary = true;
  unsigned long extNo = 0;
  std::vector<FitsIn> extensions;
};

}  // namespace orv

#endif
