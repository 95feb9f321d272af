// The FITS data segment: element encoding by BITPIX, the layout of a rectangular region in
// the file, the page-aligned windows through which data are mapped, and orv::FitsIO, the
// part of a FITS reader or writer that holds the mapping and the region.
#ifndef ORV_FITS_FITS_DATA_H
#define ORV_FITS_FITS_DATA_H

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "util/region.h"

namespace orv {

// ---------------------------------------------------------------------------------------------
// Raw elements: big-endian in the file, of the type that BITPIX names.

inline std::uint16_t fitsByteSwap(std::uint16_t v) { return __builtin_bswap16(v); }
inline std::uint32_t fitsByteSwap(std::uint32_t v) { return __builtin_bswap32(v); }
inline std::uint64_t fitsByteSwap(std::uint64_t v) { return __builtin_bswap64(v); }

template <int BITPIX>
struct FitsRawType;
template <>
struct FitsRawType<8> {
  using type = std::uint8_t;  // BITPIX 8 is unsigned
  using bits = std::uint8_t;
};
template <>
struct FitsRawType<16> {
  using type = std::int16_t;
  using bits = std::uint16_t;
};
template <>
struct FitsRawType<32> {
  using type = std::int32_t;
  using bits = std::uint32_t;
};
template <>
struct FitsRawType<-32> {
  using type = float;
  using bits = std::uint32_t;
};
template <>
struct FitsRawType<-64> {
  using type = double;
  using bits = std::uint64_t;
};

// Loads the element of type BITPIX that begins at src (any alignment).
template <int BITPIX>
inline typename FitsRawType<BITPIX>::type loadFitsRaw(const unsigned char* src) {
  using Bits = typename FitsRawType<BITPIX>::bits;
  Bits b;
  std::memcpy(&b, src, sizeof b);
  if constexpr (sizeof(Bits) > 1 && std::endian::native == std::endian::little) b = fitsByteSwap(b);
  return std::bit_cast<typename FitsRawType<BITPIX>::type>(b);
}

// Stores v big-endian at dst (any alignment).
template <int BITPIX>
inline void storeFitsRaw(unsigned char* dst, typename FitsRawType<BITPIX>::type v) {
  using Bits = typename FitsRawType<BITPIX>::bits;
  Bits b = std::bit_cast<Bits>(v);
  if constexpr (sizeof(Bits) > 1 && std::endian::native == std::endian::little) b = fitsByteSwap(b);
  std::memcpy(dst, &b, sizeof b);
}

// ---------------------------------------------------------------------------------------------
// Value conversions with defined results for every input: converting to an integer type
// truncates toward zero, maps NaN to 0 and saturates values outside the target's range.

template <class T, class V>
inline T fitsConvert(V v) {
  if constexpr (std::is_floating_point_v<T>) {
    return static_cast<T>(v);
  } else if constexpr (std::is_floating_point_v<V>) {
    if (std::isnan(v)) return T(0);
    // The bounds of T are exact doubles for every integer type up to 32 bits; for wider
    // types the upper test is against 2^63, which is exact as well.
    constexpr double lo = static_cast<double>(std::numeric_limits<T>::min());
    constexpr double hiExclusive = static_cast<double>(std::numeric_limits<T>::max() / 2 + 1) * 2.0;
    if (v <= lo) return std::numeric_limits<T>::min();
    if (v >= hiExclusive) return std::numeric_limits<T>::max();
    return static_cast<T>(v);
  } else if constexpr (std::is_same_v<T, bool> || std::is_same_v<V, bool>) {
    return static_cast<T>(v);
  } else {
    if (std::cmp_less(v, std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    if (std::cmp_greater(v, std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return static_cast<T>(v);
  }
}

// Conversion of an array element to the element type of BITPIX for writing. Floating-point
// values going to an integer BITPIX are first truncated to a signed 32-bit integer (NaN 0,
// saturating), of which the low 8 or 16 bits are kept; integers keep their low bits.
template <int BITPIX, class E>
inline typename FitsRawType<BITPIX>::type toFitsRaw(E e) {
  using R = typename FitsRawType<BITPIX>::type;
  if constexpr (std::is_floating_point_v<R>) {
    return static_cast<R>(e);
  } else if constexpr (std::is_floating_point_v<E>) {
    return static_cast<R>(fitsConvert<std::int32_t>(static_cast<double>(e)));
  } else {
    return static_cast<R>(e);  // modular: the low bits are kept
  }
}

// ---------------------------------------------------------------------------------------------
// Scaling of raw values with BSCALE and BZERO, chosen once per read.

enum class FitsScalePath { plain, wholeNumber, real };

struct FitsScaling {
  FitsScalePath path;
  double bscale, bzero;
  std::int64_t intScale, intZero;  // valid on the whole-number path
};

// plain when bscale is 1 and bzero 0; whole-number when both are whole numbers that fit a
// 32-bit int; real otherwise (NaN never counts as a whole number).
FitsScaling chooseFitsScaling(double bscale, double bzero);

// ---------------------------------------------------------------------------------------------
// Regions in the data segment.

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

// A page-aligned window of a file: the mapping starts at offset (a multiple of the page
// size) and is length bytes long; the wanted span begins at offset + lead.
struct FitsMapWindow {
  long offset;
  long length;
  long lead;
};
FitsMapWindow fitsPageWindow(long spanOffset, long spanLength);

// Owns an open file descriptor and closes it when it goes out of scope, unless released.
class FitsFileDescriptor {
 public:
  explicit FitsFileDescriptor(int fd) : fd_(fd) {}
  FitsFileDescriptor(const FitsFileDescriptor&) = delete;
  FitsFileDescriptor& operator=(const FitsFileDescriptor&) = delete;
  ~FitsFileDescriptor();
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Streaming stores into a shared mapping of a whole file (mapping byte k = file byte k).
// Faults the pages that hold bytes [from, to) in writable, in one call instead of one fault a
// page; a hint, without effect where the kernel does not offer it.
void fitsPrefaultWritable(unsigned char* map, long from, long to);
// Faults the whole pages inside the `bytes` bytes of memory at `p` in writable, in one call; a
// hint, as above, for fresh storage that is about to be filled.
void fitsPrefaultMemory(void* p, long bytes);
// Starts the write-back of the whole pages from `from` (page-aligned) up to byte `to`, or up
// to `to` itself when `last`, without waiting for it; returns where the next call starts. A
// hint: the write-back is waited for, and its errors are reported, by the final sync.
long fitsStartWriteBack(int fd, long from, long to, bool last);

// Number of elements of an image, the product of its axis lengths (0 without axes).
long fitsImageElements(int naxis, const int* naxisArray);

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

// ---------------------------------------------------------------------------------------------

// The data-segment half of a FITS reader or writer: file name, current mapping (or window),
// position, the region the object is restricted to (owned copy, null for the whole image)
// and the page-aligned file offset of the mapping. The owning class maps and unmaps; this
// base only releases what is still mapped when it is destroyed.
class FitsIO {
 public:
  explicit FitsIO(const std::string& filename);
  // A copy has the same file name and its own copy of the region, and starts unmapped.
  FitsIO(const FitsIO& other);
  FitsIO& operator=(const FitsIO& other);
  ~FitsIO();

  util::Region getRegion() const;
  int getRegionStart(unsigned long dim) const;
  int getRegionEnd(unsigned long dim) const;
  long getRegionLength(unsigned long dim) const;
  long getRegionLength() const;
  void checkRegion(unsigned long dim) const;

 protected:
  // Unmaps the current mapping, if any, and clears map, position, mapLength and mapOffset.
  void unmap__();

  std::string filename;
  unsigned char* map = nullptr;
  unsigned char* position = nullptr;
  long mapLength = 0;
  std::unique_ptr<util::Region> region;
  long mapOffset = 0;
};

}  // namespace orv

#endif
