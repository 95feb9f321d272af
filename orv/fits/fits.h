// FITS image files and arrays: the reader orv::FitsIn, the writer orv::FitsOut, and the stream
// operators that move orv::MArray elements between arrays and the memory-mapped data segments.
#ifndef ORV_FITS_FITS_H
#define ORV_FITS_FITS_H

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "orv/fits/fits_exception.h"
#include "orv/fits/fits_in.h"
#include "orv/fits/fits_map.h"
#include "orv/fits/fits_out.h"
#include "orv/marray.h"
#include "orv/memory_pages.h"
#include "util/region.h"

namespace orv {

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
    throw FitsException(
        withFitsFileName("NAXIS or slice does not match MArray dimensions", file.getSourceFile()));
  if (count > INT_MAX)
    throw FitsException(withFitsFileName(
        "image or region of " + std::to_string(count) + " elements is too large for an MArray",
        file.getSourceFile()));
  file.requireData__();  // a truncated file fails before the array is allocated
  Shape<N> shape;
  int bases[N];
  std::fill(bases, bases + N, 1);
  shape.setContiguous(bases, lengths.data());
  MArray<T, N> a(&shape);
  // The fresh storage is written whole: fault its pages in with one call, not one by one.
  hintFreshArray(a, PageHint::filledSoon);
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
    if (tile.getLength(d) > (d <= N ? a.length(d) : 1))
      throw FitsException(withFitsFileName("MArray cannot be filled with FITS file", file.getSourceFile()));
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
  if (file.getNaxis() < N)
    throw FitsException(withFitsFileName("MArray cannot be filled with FITS file", file.getSourceFile()));
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
