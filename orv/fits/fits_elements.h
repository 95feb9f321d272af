// Moving elements between arrays or buffers and raw FITS data: the element loops of reading
// and writing, the sinks and sources that hand them runs of elements, the walks over a whole
// data segment or the rows of a region, and free readers and writers over a segment base.
#ifndef ORV_FITS_FITS_ELEMENTS_H
#define ORV_FITS_FITS_ELEMENTS_H

#include <cstddef>
#include <memory>
#include <type_traits>

#include "orv/fits/fits_convert.h"
#include "orv/fits/fits_exception.h"
#include "orv/fits/fits_region.h"
#include "orv/marray.h"
#include "util/region.h"

namespace orv {

// Reads raw elements of the given BITPIX into a destination: walk(convert) calls
// convert(src, n) for stretches of n contiguous raw elements at src, and the sink hands out
// the runs that receive them, sink.take(n, f) calling f(out, step, count). The BITPIX and the
// scaling path are resolved here, once for the whole read. Pixels marked by the image's BLANK
// value become NaN in floating-point elements; without a BLANK card the loops are those of a
// read without one.
template <class Sink, class Walk>
void readFitsElements(int bitpix, const FitsScaling& s, Sink& sink, Walk&& walk,
                      const FitsBlank& blank = {}) {
  withFitsBitpix(bitpix, [&](auto bitpixConstant) {
    constexpr int BITPIX = decltype(bitpixConstant)::value;
    const bool marksBlanks = detail::fitsBlankApplies<BITPIX>(blank);
    detail::withFitsArithmetic<BITPIX>(s, [&](auto arithmeticConstant) {
      constexpr detail::FitsArithmetic A = decltype(arithmeticConstant)::value;
      walk([&](const unsigned char* src, long n) {
        sink.take(n, [&](auto* out, long step, long count) {
          using T = std::remove_pointer_t<decltype(out)>;
          if constexpr (BITPIX > 0 && std::is_floating_point_v<T>) {
            if (marksBlanks) {
              using Raw = typename FitsRawType<BITPIX>::type;
              detail::convertFitsRunWithBlank<BITPIX, A>(out, step, src, count, s,
                                                         static_cast<Raw>(blank.raw));
              src += count * fitsBytesPerElement(BITPIX);
              return;
            }
          }
          detail::convertFitsRun<BITPIX, A>(out, step, src, count, s);
          src += count * fitsBytesPerElement(BITPIX);
        });
      });
    });
  });
}

// Writes elements as raw elements of the given BITPIX: walk(store) calls store(dst, n) for
// stretches of n contiguous raw elements at dst, and source.take(n, f) hands out the runs of
// elements that fill them, calling f(in, step, count).
template <class Source, class Walk>
void writeFitsElements(int bitpix, Source& source, Walk&& walk) {
  withFitsBitpix(bitpix, [&](auto bitpixConstant) {
    constexpr int BITPIX = decltype(bitpixConstant)::value;
    walk([&](unsigned char* dst, long n) {
      source.take(n, [&](const auto* in, long step, long count) {
        detail::storeFitsRun<BITPIX>(dst, in, step, count);
        dst += count * fitsBytesPerElement(BITPIX);
      });
    });
  });
}

namespace detail {

// Where converted elements go and where elements to be stored come from: take(n, f) calls
// f(pointer, step, count) for runs that together hold the next n elements.

// A plain buffer, filled from its start.
template <class T>
struct FitsBufferRuns {
  T* next;
  template <class F>
  void take(long n, F&& f) {
    f(next, 1L, n);
    next += n;
  }
};

// The elements of an array iterator, from its position on; the iterator moves past them. An
// iterator that ends before n elements were handed out is refused after its last element,
// before anything beyond the array is touched.
template <class Iter>
struct FitsIteratorRuns {
  Iter& it;
  template <class F>
  void take(long n, F&& f) {
    const long handedOut =
        forEachRun(it, n, [&](auto* p, long count, std::ptrdiff_t stride) { f(p, long(stride), count); });
    if (handedOut < n) throw FitsException("MArray has fewer elements than the data to be moved");
  }
};

// Walks of the raw data: a whole contiguous segment, or the rows of a region. Rows are
// addressed as mapStart + (baseOffset + row offset), so that only addresses inside the mapping
// are ever formed (baseOffset is negative when only a window is mapped).
template <class Byte>
auto fitsSegmentWalk(Byte* data, long elements) {
  return [=](auto&& move) { move(data, elements); };
}

template <class Byte>
auto fitsRegionWalk(Byte* mapStart, long baseOffset, int bitpix, const util::Region& full,
                    const util::Region& region) {
  return [=, &full, &region](auto&& move) {
    forEachFitsRegionRow(full, region, fitsBytesPerElement(bitpix), [&](long rowOffset, long rowLength) {
      move(mapStart + (baseOffset + rowOffset), rowLength);
    });
  };
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------
// Free building blocks of the readers. `base` is the segment base, `full` the whole image,
// `length` a number of bytes.

template <class T, int BITPIX>
T* getDataArray(unsigned char* data, unsigned long length, double bscale, double bzero) {
  const long n = static_cast<long>(length / fitsBytesPerElement(BITPIX));
  auto buffer = std::make_unique_for_overwrite<T[]>(n);
  detail::FitsBufferRuns<T> sink{buffer.get()};
  readFitsElements(BITPIX, chooseFitsScaling(bscale, bzero), sink, detail::fitsSegmentWalk(data, n));
  return buffer.release();
}

template <class T, int BITPIX>
T* getRegionArray(unsigned char* base, const util::Region& full, const util::Region& region, double bscale,
                  double bzero) {
  checkRegionInside(full, region);
  auto buffer = std::make_unique_for_overwrite<T[]>(region.getLength());
  detail::FitsBufferRuns<T> sink{buffer.get()};
  readFitsElements(BITPIX, chooseFitsScaling(bscale, bzero), sink,
                   detail::fitsRegionWalk(base, 0, BITPIX, full, region));
  return buffer.release();
}

template <class Iter, int BITPIX>
void readDataArray(Iter it, unsigned char* data, unsigned long length, double bscale, double bzero) {
  const long n = static_cast<long>(length / fitsBytesPerElement(BITPIX));
  detail::FitsIteratorRuns<Iter> sink{it};
  readFitsElements(BITPIX, chooseFitsScaling(bscale, bzero), sink, detail::fitsSegmentWalk(data, n));
}

template <class Iter, int BITPIX>
void readRegionArray(Iter it, unsigned char* base, const util::Region& full, const util::Region& region,
                     double bscale, double bzero) {
  detail::FitsIteratorRuns<Iter> sink{it};
  readFitsElements(BITPIX, chooseFitsScaling(bscale, bzero), sink,
                   detail::fitsRegionWalk(base, 0, BITPIX, full, region));
}

// The element loops of the plain, whole-number and real paths over `length` bytes; they
// advance the caller's iterator.
template <class Iter, int BITPIX>
void readIData(Iter& it, unsigned char* data, unsigned long length) {
  const long n = static_cast<long>(length / fitsBytesPerElement(BITPIX));
  detail::FitsIteratorRuns<Iter> sink{it};
  readFitsElements(BITPIX, chooseFitsScaling(1.0, 0.0), sink, detail::fitsSegmentWalk(data, n));
}

template <class Iter, int BITPIX>
void readIData(Iter& it, unsigned char* data, unsigned long length, int bscale, int bzero) {
  const long n = static_cast<long>(length / fitsBytesPerElement(BITPIX));
  detail::FitsIteratorRuns<Iter> sink{it};
  const FitsScaling s{FitsScalePath::wholeNumber, double(bscale), double(bzero), bscale, bzero};
  readFitsElements(BITPIX, s, sink, detail::fitsSegmentWalk(data, n));
}

template <class Iter, int BITPIX>
void readIData(Iter& it, unsigned char* data, unsigned long length, double bscale, double bzero) {
  const long n = static_cast<long>(length / fitsBytesPerElement(BITPIX));
  detail::FitsIteratorRuns<Iter> sink{it};
  const FitsScaling s{FitsScalePath::real, bscale, bzero, 0, 0};
  readFitsElements(BITPIX, s, sink, detail::fitsSegmentWalk(data, n));
}

// Stores region's elements from it at the segment base `base`, converting to BITPIX.
template <class Iter, int BITPIX>
void writeRegionArray(unsigned char* base, Iter it, const util::Region& full, const util::Region& region) {
  detail::FitsIteratorRuns<Iter> source{it};
  writeFitsElements(BITPIX, source, detail::fitsRegionWalk(base, 0, BITPIX, full, region));
}

}  // namespace orv

#endif
