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

#include "orv/fits/fits_data.h"
#include "orv/fits/fits_exception.h"
#include "orv/fits/fits_header.h"
#include "orv/marray.h"
#include "util/region.h"

namespace orv {

// The element loops are the hot path of every read and write: let g++ vectorize them (its -O2
// cost model leaves loops of unknown length scalar). Other compilers decide for themselves.
#if defined(__GNUC__) && !defined(__clang__)
#define ORV_FITS_VECTORIZE __attribute__((optimize("tree-vectorize", "vect-cost-model=dynamic")))
#else
#define ORV_FITS_VECTORIZE
#endif

// ---------------------------------------------------------------------------------------------
// Element loops. A run is `count` elements at `out` (or `in`), `step` elements apart; the
// raw elements are contiguous and big-endian at `src` (or `dst`).

template <int BITPIX, FitsScalePath PATH, class T>
inline T fitsScaledValue__(const unsigned char* src, const FitsScaling& s) {
  const auto raw = loadFitsRaw<BITPIX>(src);
  if constexpr (PATH == FitsScalePath::plain) {
    return fitsConvert<T>(raw);
  } else if constexpr (PATH == FitsScalePath::wholeNumber && (BITPIX == 8 || BITPIX == 16)) {
    // 64-bit arithmetic: a 16-bit value times a 32-bit scale cannot overflow.
    return fitsConvert<T>(static_cast<std::int64_t>(raw) * s.intScale + s.intZero);
  } else if constexpr (PATH == FitsScalePath::wholeNumber) {
    return fitsConvert<T>(static_cast<double>(raw) * static_cast<double>(s.intScale) +
                          static_cast<double>(s.intZero));
  } else {
    return fitsConvert<T>(static_cast<double>(raw) * s.bscale + s.bzero);
  }
}

template <int BITPIX, FitsScalePath PATH, class T>
ORV_FITS_VECTORIZE inline void convertRun__(T* out, long step, const unsigned char* src, long count,
                                            const FitsScaling& s) {
  constexpr long bytpix = BITPIX < 0 ? -BITPIX / 8 : BITPIX / 8;
  if (step == 1) {
    for (long i = 0; i < count; ++i) out[i] = fitsScaledValue__<BITPIX, PATH, T>(src + i * bytpix, s);
  } else {
    for (long i = 0; i < count; ++i) out[i * step] = fitsScaledValue__<BITPIX, PATH, T>(src + i * bytpix, s);
  }
}

template <int BITPIX, class E>
ORV_FITS_VECTORIZE inline void storeRun__(unsigned char* dst, const E* in, long step, long count) {
  constexpr long bytpix = BITPIX < 0 ? -BITPIX / 8 : BITPIX / 8;
  if (step == 1) {
    for (long i = 0; i < count; ++i) storeFitsRaw<BITPIX>(dst + i * bytpix, toFitsRaw<BITPIX>(in[i]));
  } else {
    for (long i = 0; i < count; ++i) storeFitsRaw<BITPIX>(dst + i * bytpix, toFitsRaw<BITPIX>(in[i * step]));
  }
}

// Hands the elements of an array iterator out in runs: f(pointer, step, count) for runs that
// together cover n elements, advancing the iterator past them. An iterator that ends before
// n elements were handed out is refused before anything beyond the array is touched.
template <class Iter, class F>
inline void forIteratorRuns__(Iter& it, long n, F&& f) {
  while (n > 0) {
    if (it.current == nullptr) throw FitsException("MArray has fewer elements than the data to be moved");
    const long step = it.innerStride;
    const long available = (it.runEnd[0] - it.current) / step;
    const long count = std::min(available, n);
    f(it.current, step, count);
    it.current += count * step;
    n -= count;
    if (it.current == it.runEnd[0]) it.advanceDim();
  }
}

// A destination for converted elements: a plain buffer or an array iterator.
template <class T>
struct FitsBufferSink__ {
  T* next;
  template <class F>
  void take(long n, F&& f) {
    f(next, 1L, n);
    next += n;
  }
};

template <class Iter>
struct FitsIteratorSink__ {
  Iter& it;
  template <class F>
  void take(long n, F&& f) {
    using T = typename Iter::value_type;
    forIteratorRuns__(it, n, [&](const T* p, long step, long count) { f(const_cast<T*>(p), step, count); });
  }
};

// Runs walk(convert) with convert(src, n) converting n contiguous raw elements at src into the
// sink, with the BITPIX loop and the scaling path chosen here, once.
template <int BITPIX, class Sink, class Walk>
inline void readWithPath__(const FitsScaling& s, Sink& sink, Walk&& walk) {
  constexpr long bytpix = BITPIX < 0 ? -BITPIX / 8 : BITPIX / 8;
  auto with = [&]<FitsScalePath PATH>() {
    walk([&](const unsigned char* src, long n) {
      sink.take(n, [&](auto* out, long step, long count) {
        convertRun__<BITPIX, PATH>(out, step, src, count, s);
        src += count * bytpix;
      });
    });
  };
  switch (s.path) {
    case FitsScalePath::plain:
      with.template operator()<FitsScalePath::plain>();
      break;
    case FitsScalePath::wholeNumber:
      with.template operator()<FitsScalePath::wholeNumber>();
      break;
    case FitsScalePath::real:
      with.template operator()<FitsScalePath::real>();
      break;
  }
}

template <class Sink, class Walk>
inline void readDispatch__(int bitpix, const FitsScaling& s, Sink& sink, Walk&& walk) {
  switch (bitpix) {
    case 8:
      return readWithPath__<8>(s, sink, walk);
    case 16:
      return readWithPath__<16>(s, sink, walk);
    case 32:
      return readWithPath__<32>(s, sink, walk);
    case -32:
      return readWithPath__<-32>(s, sink, walk);
    case -64:
      return readWithPath__<-64>(s, sink, walk);
    default:
      throw FitsException("illegal BITPIX");
  }
}

// Walks of the raw data: a whole contiguous segment, or the rows of a region. Rows are
// addressed as mapStart + baseOffset + rowStart * bytpix, so that only addresses inside the
// mapping are ever formed (baseOffset is negative when only a window is mapped).
inline auto fitsSegmentWalk__(const unsigned char* data, long elements) {
  return [=](auto&& convert) { convert(data, elements); };
}

inline auto fitsRegionWalk__(const unsigned char* mapStart, long baseOffset, int bytpix,
                             const util::Region& full, const util::Region& region) {
  return [=, &full, &region](auto&& convert) {
    FitsRegionRows rows(full, region);
    for (long r = 0; r < rows.rows(); ++r, rows.next())
      convert(mapStart + (baseOffset + rows.rowStart() * bytpix), rows.rowLength());
  };
}

// ---------------------------------------------------------------------------------------------
// Free building blocks of the readers. `base` is the segment base, `full` the whole image,
// `length` a number of bytes.

template <class T, int BITPIX>
T* getDataArray(unsigned char* data, unsigned long length, double bscale, double bzero) {
  const long n = static_cast<long>(length / (BITPIX < 0 ? -BITPIX / 8 : BITPIX / 8));
  auto buffer = std::make_unique_for_overwrite<T[]>(n);
  FitsBufferSink__<T> sink{buffer.get()};
  readDispatch__(BITPIX, chooseFitsScaling(bscale, bzero), sink, fitsSegmentWalk__(data, n));
  return buffer.release();
}

template <class T, int BITPIX>
T* getRegionArray(unsigned char* base, const util::Region& full, const util::Region& region, double bscale,
                  double bzero) {
  checkRegionInside(full, region);
  auto buffer = std::make_unique_for_overwrite<T[]>(region.getLength());
  FitsBufferSink__<T> sink{buffer.get()};
  readDispatch__(BITPIX, chooseFitsScaling(bscale, bzero), sink,
                 fitsRegionWalk__(base, 0, BITPIX < 0 ? -BITPIX / 8 : BITPIX / 8, full, region));
  return buffer.release();
}

template <class Iter, int BITPIX>
void readDataArray(Iter it, unsigned char* data, unsigned long length, double bscale, double bzero) {
  const long n = static_cast<long>(length / (BITPIX < 0 ? -BITPIX / 8 : BITPIX / 8));
  FitsIteratorSink__<Iter> sink{it};
  readDispatch__(BITPIX, chooseFitsScaling(bscale, bzero), sink, fitsSegmentWalk__(data, n));
}

template <class Iter, int BITPIX>
void readRegionArray(Iter it, unsigned char* base, const util::Region& full, const util::Region& region,
                     double bscale, double bzero) {
  FitsIteratorSink__<Iter> sink{it};
  readDispatch__(BITPIX, chooseFitsScaling(bscale, bzero), sink,
                 fitsRegionWalk__(base, 0, BITPIX < 0 ? -BITPIX / 8 : BITPIX / 8, full, region));
}

// The element loops of the plain, whole-number and real paths over `length` bytes; they
// advance the caller's iterator.
template <class Iter, int BITPIX>
void readIData(Iter& it, unsigned char* data, unsigned long length) {
  const long n = static_cast<long>(length / (BITPIX < 0 ? -BITPIX / 8 : BITPIX / 8));
  FitsIteratorSink__<Iter> sink{it};
  readWithPath__<BITPIX>(chooseFitsScaling(1.0, 0.0), sink, fitsSegmentWalk__(data, n));
}

template <class Iter, int BITPIX>
void readIData(Iter& it, unsigned char* data, unsigned long length, int bscale, int bzero) {
  const long n = static_cast<long>(length / (BITPIX < 0 ? -BITPIX / 8 : BITPIX / 8));
  FitsIteratorSink__<Iter> sink{it};
  const FitsScaling s{FitsScalePath::wholeNumber, double(bscale), double(bzero), bscale, bzero};
  readWithPath__<BITPIX>(s, sink, fitsSegmentWalk__(data, n));
}

template <class Iter, int BITPIX>
void readIData(Iter& it, unsigned char* data, unsigned long length, double bscale, double bzero) {
  const long n = static_cast<long>(length / (BITPIX < 0 ? -BITPIX / 8 : BITPIX / 8));
  FitsIteratorSink__<Iter> sink{it};
  const FitsScaling s{FitsScalePath::real, bscale, bzero, 0, 0};
  readWithPath__<BITPIX>(s, sink, fitsSegmentWalk__(data, n));
}

// ---------------------------------------------------------------------------------------------

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
    FitsBufferSink__<T> sink{buffer.get()};
    readDispatch__(bitpix, s, sink, fitsRegionWalk__(map, baseOffset__(), bytpix, full, *region));
    return buffer.release();
  }
  const long n = imageElements__();
  auto buffer = std::make_unique_for_overwrite<T[]>(n);
  FitsBufferSink__<T> sink{buffer.get()};
  readDispatch__(bitpix, s, sink, fitsSegmentWalk__(map + baseOffset__(), n));
  return buffer.release();
}

template <class Iter>
void FitsIn::readDataArray(Iter& it) {
  if (region) return readRegionArray(it);
  ensureMapped__();
  Iter cursor(it);
  FitsIteratorSink__<Iter> sink{cursor};
  readDispatch__(bitpix, chooseFitsScaling(bscale, bzero), sink,
                 fitsSegmentWalk__(map + baseOffset__(), imageElements__()));
}

template <class Iter>
void FitsIn::readRegionArray(Iter& it) {
  if (!region) throw FitsException("no region set");
  ensureMapped__();
  const util::Region full = getFullRegion();
  Iter cursor(it);
  FitsIteratorSink__<Iter> sink{cursor};
  readDispatch__(bitpix, chooseFitsScaling(bscale, bzero), sink,
                 fitsRegionWalk__(map, baseOffset__(), bytpix, full, *region));
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
  // Stores the elements of an iterator (n of them) over the raw bytes that walk hands out.
  template <class Iter, class Walk>
  void storeDispatch__(Iter& it, Walk&& walk);
  template <class Iter>
  void checkElementCount__(const Iter& it, long expected) const;

  bool noJunk = false;
  int bitpixOut = 0;
  std::string origin;
};

template <int BITPIX, class Iter, class Walk>
inline void storeWithBitpix__(Iter& it, Walk&& walk) {
  using E = typename Iter::value_type;
  walk([&](unsigned char* dst, long n) {
    forIteratorRuns__(it, n, [&](const E* in, long step, long count) {
      storeRun__<BITPIX>(dst, in, step, count);
      dst += count * (BITPIX < 0 ? -BITPIX / 8 : BITPIX / 8);
    });
  });
}

template <class Iter, class Walk>
void FitsOut::storeDispatch__(Iter& it, Walk&& walk) {
  switch (bitpix) {
    case 8:
      return storeWithBitpix__<8>(it, walk);
    case 16:
      return storeWithBitpix__<16>(it, walk);
    case 32:
      return storeWithBitpix__<32>(it, walk);
    case -32:
      return storeWithBitpix__<-32>(it, walk);
    case -64:
      return storeWithBitpix__<-64>(it, walk);
    default:
      throw FitsException("illegal BITPIX");
  }
}

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
  if (bitpix != 8 && bitpix != 16 && bitpix != 32 && bitpix != -32 && bitpix != -64)
    throw FitsException("illegal BITPIX");
  const long n = imageElements__();
  checkElementCount__(it, n);
  Iter cursor(it);
  unsigned char* data = map + (dataOffset - mapOffset);
  storeDispatch__(cursor, [&](auto&& store) { store(data, n); });
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
  storeDispatch__(cursor, [&](auto&& store) {
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

// Stores region's elements from it at the segment base `base`, converting to BITPIX.
template <class Iter, int BITPIX>
void writeRegionArray(unsigned char* base, Iter it, const util::Region& full, const util::Region& region) {
  constexpr long bytpix = BITPIX < 0 ? -BITPIX / 8 : BITPIX / 8;
  storeWithBitpix__<BITPIX>(it, [&](auto&& store) {
    FitsRegionRows rows(full, region);
    for (long r = 0; r < rows.rows(); ++r, rows.next())
      store(base + rows.rowStart() * bytpix, rows.rowLength());
  });
}

template <class Iter>
void FitsOut::writeRegionArray(Iter& it) {
  if (!region) throw FitsException("no region set");
  requireMapped__();
  const util::Region full = getFullRegion();
  checkElementCount__(it, region->getLength());
  Iter cursor(it);
  unsigned char* mapStart = map;
  const long baseOffset = dataOffset - mapOffset;
  const long bytes = bytpix;
  storeDispatch__(cursor, [&](auto&& store) {
    FitsRegionRows rows(full, *region);
    for (long r = 0; r < rows.rows(); ++r, rows.next())
      store(mapStart + (baseOffset + rows.rowStart() * bytes), rows.rowLength());
  });
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

// Fills a with the next tile of the image and moves the file's region on to the tile after
// it; the walk wraps around after the last tile.
template <class T, int N>
void insertFitsMArray(MArray<T, N>& a, FitsIn& file) {
  const int naxis = file.getNaxis();
  if (naxis < N) throw FitsException("MArray cannot be filled with FITS file");
  auto imageLength = [&](int d) { return static_cast<long>(file.getNaxis(d)); };
  auto arrayLength = [&](int d) { return d <= N ? static_cast<long>(a.length(d)) : 1L; };

  util::Region tile(naxis);
  bool coversImage = true;
  if ((file.getRegionLength() != 0)) {
    tile.setRegion(file.getRegion());
    coversImage = false;
  } else {
    for (int d = 1; d <= naxis; ++d) {
      const long end = std::min(imageLength(d), arrayLength(d));
      tile.setRange(d, 1, static_cast<int>(end));
      coversImage = coversImage && end == imageLength(d);
    }
    if (naxis == N && coversImage)
      file.resetRegion();
    else
      file.setRegion(tile);
  }

  const long tileElements = tile.getLength();
  if (tileElements == a.numElements()) {
    MArrayIter<T, N> it(a);
    file.readDataArray(it);  // the region when one is set, else the whole image
  } else {
    // A smaller tile (an image edge, or an image shorter than the array) is placed at the
    // array's lowest indices; the rest of the array is 0. The tile must fit the array.
    for (int d = 1; d <= naxis; ++d)
      if (tile.getLength(d) > arrayLength(d)) throw FitsException("MArray cannot be filled with FITS file");
    MArrayIter<T, N> fill(a);
    forIteratorRuns__(fill, a.numElements(), [](const T* p, long step, long count) {
      for (long i = 0; i < count; ++i) const_cast<T*>(p)[i * step] = T(0);
    });
    MArrayIter<T, N> it(a);
    for (int d = 0; d < N; ++d) {
      it.lengths[d] = static_cast<int>(tile.getLength(d + 1));
      it.runEnd[d] = it.first + static_cast<std::ptrdiff_t>(it.strides[d]) * it.lengths[d];
    }
    file.readDataArray(it);
  }
  if (!(file.getRegionLength() != 0)) return;  // the whole image was read; the next call reads it again

  // Odometer over tiles: the first axis that is not at the image's end moves on, every axis
  // before it goes back to its first tile. When all went back, the walk starts over.
  bool moved = false;
  for (int d = 1; d <= N && !moved; ++d) {
    const long end = tile.getEnd(d);
    if (end < imageLength(d)) {
      tile.setRange(d, static_cast<int>(end + 1),
                    static_cast<int>(std::min(imageLength(d), end + arrayLength(d))));
      moved = true;
    } else {
      tile.setRange(d, 1, static_cast<int>(std::min(imageLength(d), arrayLength(d))));
    }
  }
  for (int d = N + 1; d <= naxis && !moved; ++d) {
    const long end = tile.getEnd(d);
    if (end < imageLength(d)) {
      tile.setRange(d, static_cast<int>(end + 1), static_cast<int>(end + 1));
      moved = true;
    } else {
      tile.setRange(d, 1, 1);
    }
  }
  if (!moved) file.resetRegion();
  file.setRegion(tile);
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
