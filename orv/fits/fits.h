// FITS image files: the reader orv::FitsIn (with image extensions, orv::FitsExtensionIn),
// the writer orv::FitsOut, and the stream operators that move orv::MArray elements between
// arrays and the memory-mapped data segments.
#ifndef ORV_FITS_FITS_H
#define ORV_FITS_FITS_H

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "orv/fits/fits_elements.h"
#include "orv/fits/fits_exception.h"
#include "orv/fits/fits_header.h"
#include "orv/fits/fits_map.h"
#include "orv/fits/fits_region.h"
#include "orv/marray.h"
#include "util/region.h"

namespace orv {

class FitsOut;

// A FITS image (primary HDU or image extension) opened for reading. The header is read by the
// constructor; the data segment, or the page-aligned window of the region, is mapped read-only
// on first use and stays mapped until freeData, a change of region or destruction.
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

 protected:
  friend class FitsOut;

  // Maps the data when nothing is mapped.
  void ensureMapped__() {
    if (map == nullptr) openData();
  }
  // Byte offset of data byte 0 from the start of the mapping (negative for a window).
  long baseOffset__() const { return dataOffset - mapOffset; }
  // Number of elements of the whole image, the product of NAXISn (0 without axes).
  long imageElements__() const;

  bool allJunk;
};

template <class T>
T* FitsIn::getDataArray(T) {
  // Map first: a truncated file is refused before anything is allocated.
  ensureMapped__();
  const FitsScaling s = chooseFitsScaling(bscale, bzero);
  if (region) {
    const util::Region full = getFullRegion();
    auto buffer = std::make_unique_for_overwrite<T[]>(region->getLength());
    detail::FitsBufferRuns<T> sink{buffer.get()};
    readFitsElements(bitpix, s, sink, detail::fitsRegionWalk(map, baseOffset__(), bitpix, full, *region));
    return buffer.release();
  }
  const long n = imageElements__();
  auto buffer = std::make_unique_for_overwrite<T[]>(n);
  detail::FitsBufferRuns<T> sink{buffer.get()};
  readFitsElements(bitpix, s, sink, detail::fitsSegmentWalk(map + baseOffset__(), n));
  return buffer.release();
}

template <class Iter>
void FitsIn::readDataArray(Iter& it) {
  if (region) return readRegionArray(it);
  ensureMapped__();
  Iter cursor(it);
  detail::FitsIteratorRuns<Iter> sink{cursor};
  readFitsElements(bitpix, chooseFitsScaling(bscale, bzero), sink,
                   detail::fitsSegmentWalk(map + baseOffset__(), imageElements__()));
}

template <class Iter>
void FitsIn::readRegionArray(Iter& it) {
  if (!region) throw FitsException("no region set");
  ensureMapped__();
  const util::Region full = getFullRegion();
  Iter cursor(it);
  detail::FitsIteratorRuns<Iter> sink{cursor};
  readFitsElements(bitpix, chooseFitsScaling(bscale, bzero), sink,
                   detail::fitsRegionWalk(map, baseOffset__(), bitpix, full, *region));
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

// ---------------------------------------------------------------------------------------------

// A FITS image file to be written: a header prepared from nothing or from another header,
// then a file created, sized to whole records and mapped read-write, so that arrays are
// stored straight into it; or a region of an existing output file mapped for filling it
// piece by piece.
//
// Never name a file that an open FitsIn maps: creating the output truncates the file under
// the reader.
class FitsOut : public FitsHeader, public FitsIO {
 public:
  FitsOut();
  explicit FitsOut(const std::string& filename);
  explicit FitsOut(const char* filename);
  FitsOut(const std::string& filename, const FitsHeader& header, bool quiet = false, bool noJunk = false);
  FitsOut(const char* filename, const FitsHeader& header, bool quiet = false, bool noJunk = false);
  FitsOut(const FitsOut&) = delete;
  FitsOut& operator=(const FitsOut&) = delete;
  ~FitsOut() override;

  void setFilename(const std::string& name) { filename = name; }
  int getBitpixOut() const { return bitpixOut; }
  void setBitpixOut(int bitpix);
  std::string getOrigin() const { return origin; }
  void setOrigin(const std::string& text);

  void eraseObsolete();
  void resetArrayKeys();
  int* region2Naxis(const util::Region& r, int& naxis) const;
  void resetMandatories(int bitpix, int naxis, const int* naxisArray);

  int setGeometry(int bitpix, int naxis, const int* naxisArray);
  void setGeometry(int bitpix, const util::Region& r);
  void openData(int bitpix, int naxis, const int* naxisArray);
  void openData(int bitpix, const util::Region& r);
  void setRegion(const util::Region& r);
  void closeData();
  void copyData(FitsIn& in);

  unsigned char* begin() const;
  unsigned char* end() const;
  long getPosition() const;
  void setPosition(long offset);
  void resetPosition();

  void describeSelf(std::ostream& os) override;

  template <class Iter>
  void writeDataArray(Iter& it);
  template <class Iter>
  void writeRegionArray(Iter& it);

 private:
  template <class T, int N>
  friend FitsOut& operator<<(FitsOut& out, const MArray<T, N>& a);

  // openData, but the descriptor of the new file is returned open (-1 when nothing was
  // mapped) for the caller to close.
  int mapNewImage__(int bitpix, int naxis, const int* naxisArray);
  // openData and writeDataArray in one pass over the new file: the data are stored chunk by
  // chunk, and the write-back of each finished chunk is started at once, so that the disk
  // works while the next chunk is converted. closeData waits for the rest and checks it.
  template <class Iter>
  void writeNewImage__(Iter& it, int bitpix, int naxis, const int* naxisArray);
  void requireMapped__() const;
  // Number of elements of the whole image, the product of NAXISn (0 without axes).
  long imageElements__() const;
  template <class Iter>
  void checkElementCount__(const Iter& it, long expected) const;

  bool noJunk = false;
  int bitpixOut = 0;
  std::string origin;
};

template <class Iter>
void FitsOut::checkElementCount__(const Iter& it, long expected) const {
  const long have = it.shape ? it.shape->numElements : 0;
  if (have != expected)
    throw FitsException("cannot write an array of " + std::to_string(have) + " elements into " +
                        std::to_string(expected) + " elements of file '" + filename + "'");
}

template <class Iter>
void FitsOut::writeDataArray(Iter& it) {
  if (region) return writeRegionArray(it);
  requireMapped__();
  if (!isFitsBitpix(bitpix)) throw FitsException("illegal BITPIX");
  const long n = imageElements__();
  checkElementCount__(it, n);
  Iter cursor(it);
  detail::FitsIteratorRuns<Iter> source{cursor};
  writeFitsElements(bitpix, source, detail::fitsSegmentWalk(map + (dataOffset - mapOffset), n));
}

template <class Iter>
void FitsOut::writeNewImage__(Iter& it, int newBitpix, int newNaxis, const int* lengths) {
  FitsFileDescriptor fd(mapNewImage__(newBitpix, newNaxis, lengths));
  if (map == nullptr) return;
  const long n = imageElements__();
  checkElementCount__(it, n);
  constexpr long chunkBytes = 4L << 20;  // large enough for long write-back runs, small for cache
  const long chunk = chunkBytes / bytpix;
  Iter cursor(it);
  detail::FitsIteratorRuns<Iter> source{cursor};
  writeFitsElements(bitpix, source, [&](auto&& store) {
    long writtenBack = 0;  // file offset up to which the write-back has been started
    for (long first = 0; first < n; first += chunk) {
      const long count = std::min(chunk, n - first);
      const long from = dataOffset + first * bytpix;
      const long to = from + count * bytpix;
      fitsPrefaultWritable(map, from, to);
      store(map + from, count);
      writtenBack = fitsStartWriteBack(fd.get(), writtenBack, to, first + count == n);
    }
  });
}


template <class Iter>
void FitsOut::writeRegionArray(Iter& it) {
  if (!region) throw FitsException("no region set");
  requireMapped__();
  const util::Region full = getFullRegion();
  checkElementCount__(it, region->getLength());
  Iter cursor(it);
  detail::FitsIteratorRuns<Iter> source{cursor};
  writeFitsElements(bitpix, source, detail::fitsRegionWalk(map, dataOffset - mapOffset, bitpix, full, *region));
}

// ---------------------------------------------------------------------------------------------
// Arrays from and to files.

// Default output BITPIX of an element type.
template <class T>
constexpr int fitsDefaultBitpix() {
  if constexpr (std::is_same_v<T, float>)
    return -32;
  else if constexpr (std::is_same_v<T, double>)
    return -64;
  else if constexpr (std::is_same_v<T, short>)
    return 16;
  else
    return 32;
}

// A new array holding the image, or the region set on the file, with every axis of size 1
// of a region left out.
template <class T, int N>
MArray<T, N> getFitsMArray(FitsIn& file) {
  std::vector<int> lengths;
  std::int64_t count = 1;
  for (int d = 1; d <= file.getNaxis(); ++d) {
    const long size = (file.getRegionLength() != 0) ? file.getRegionLength(d) : file.getNaxis(d);
    if ((file.getRegionLength() != 0) && size == 1) continue;
    lengths.push_back(static_cast<int>(size));
    count *= size;
  }
  if (static_cast<int>(lengths.size()) != N)
    throw FitsException("NAXIS or slice does not match MArray dimensions");
  if (count > INT_MAX)
    throw FitsException("image or region of " + std::to_string(count) +
                        " elements is too large for an MArray");
  file.begin();  // maps the data: a truncated file fails before the array is allocated
  Shape<N> shape;
  int bases[N];
  std::fill(bases, bases + N, 1);
  shape.setContiguous(bases, lengths.data());
  MArray<T, N> a(&shape);
  // The fresh storage is written whole: fault its pages in with one call, not one by one.
  fitsPrefaultMemory(a.firstElement(), static_cast<long>(count * sizeof(T)));
  MArrayIter<T, N> it(a);
  file.readDataArray(it);
  return a;
}

namespace detail {

// The tile the next insertFitsMArray reads: the region set on the file, or else the image's
// first tile, of the array's lengths (1 along axes beyond the array's rank) cut at the image's
// end, which becomes the file's region unless it is the whole image of the array's rank.
util::Region chooseFitsTile(FitsIn& file, int rank, const int* arrayLengths);

// Moves the file's region on to the tile after `tile`, tiles following one another like an
// odometer: the first axis that is not at the image's end moves on, every axis before it goes
// back to its first tile; after the last tile the walk starts over. A file without a region
// (its whole image was read) is left as it is.
void advanceFitsTile(FitsIn& file, util::Region tile, int rank, const int* arrayLengths);

// Reads the tile into a: straight into the array when it has the tile's element count, else
// into the view of a's lowest indices of the tile's lengths, the rest of a set to 0.
template <class T, int N>
void readFitsTile(MArray<T, N>& a, FitsIn& file, const util::Region& tile) {
  if (static_cast<long>(tile.getLength()) == a.numElements()) {
    MArrayIter<T, N> it(a);
    file.readDataArray(it);  // the region when one is set, else the whole image
    return;
  }
  for (int d = 1; d <= file.getNaxis(); ++d)
    if (tile.getLength(d) > (d <= N ? a.length(d) : 1)) throw FitsException("MArray cannot be filled with FITS file");
  a = T(0);
  MArray<T, N> view(a);
  for (int d = 1; d <= N; ++d)
    view.setrange(d, Range(a.first(d), a.first(d) + static_cast<int>(tile.getLength(d)) - 1));
  MArrayIter<T, N> it(view);
  file.readDataArray(it);
}

}  // namespace detail

// Fills a with the next tile of the image and moves the file's region on to the tile after
// it; the walk wraps around after the last tile. A tile smaller than the array (an image edge,
// or an image shorter than the array) is placed at the array's lowest indices; the rest of
// the array is 0.
template <class T, int N>
void insertFitsMArray(MArray<T, N>& a, FitsIn& file) {
  if (file.getNaxis() < N) throw FitsException("MArray cannot be filled with FITS file");
  int arrayLengths[N];
  for (int d = 1; d <= N; ++d) arrayLengths[d - 1] = a.length(d);
  const util::Region tile = detail::chooseFitsTile(file, N, arrayLengths);
  detail::readFitsTile(a, file, tile);
  detail::advanceFitsTile(file, tile, N, arrayLengths);
}

template <class T, int N>
FitsIn& operator>>(FitsIn& file, MArray<T, N>& a) {
  if (a.isEmpty())
    a.makeReference(getFitsMArray<T, N>(file));
  else
    insertFitsMArray(a, file);
  return file;
}

template <class T, int N>
FitsOut& operator<<(FitsOut& out, const MArray<T, N>& a) {
  if (out.getBitpixOut() == 0) out.setBitpixOut(fitsDefaultBitpix<T>());
  if (out.getOrigin().empty()) out.setOrigin("ORV FITS IO class, July 2002");
  MArrayIterConst<T, N> it(a);
  if ((out.getRegionLength() != 0)) {
    out.writeRegionArray(it);
  } else {
    int lengths[N];
    for (int d = 1; d <= N; ++d) lengths[d - 1] = a.length(d);
    out.writeNewImage__(it, out.getBitpixOut(), N, lengths);
  }
  out.closeData();
  return out;
}

}  // namespace orv

#endif
