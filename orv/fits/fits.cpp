#include "orv/fits/fits.h"

#include <algorithm>

namespace orv {

// Tiles of an image read into an array of fixed size

namespace detail {

util::Region chooseFitsTile(FitsIn& file, int rank, const int* arrayLengths) {
  const int naxis = file.getNaxis();
  util::Region tile(naxis);
  if (file.getRegionLength() != 0) {
    tile.setRegion(file.getRegion());
    return tile;
  }
  bool coversImage = true;
  for (int d = 1; d <= naxis; ++d) {
    const long arrayLength = d <= rank ? arrayLengths[d - 1] : 1L;
    const long end = std::min(static_cast<long>(file.getNaxis(d)), arrayLength);
    tile.setRange(d, 1, static_cast<int>(end));
    coversImage = coversImage && end == file.getNaxis(d);
  }
  if (naxis == rank && coversImage)
    file.resetRegion();
  else
    file.setRegion(tile);
  return tile;
}

void advanceFitsTile(FitsIn& file, util::Region tile, int rank, const int* arrayLengths) {
  if (file.getRegionLength() == 0) return;  // the whole image was read; the next call reads it again
  const int naxis = file.getNaxis();
  bool moved = false;
  for (int d = 1; d <= naxis && !moved; ++d) {
    const long imageLength = file.getNaxis(d);
    const long arrayLength = d <= rank ? arrayLengths[d - 1] : 1L;
    const long end = tile.getEnd(d);
    if (end < imageLength) {
      tile.setRange(d, static_cast<int>(end + 1), static_cast<int>(std::min(imageLength, end + arrayLength)));
      moved = true;
    } else {
      tile.setRange(d, 1, static_cast<int>(std::min(imageLength, arrayLength)));
    }
  }
  if (!moved) file.resetRegion();
  file.setRegion(tile);
}

}  // namespace detail

}  // namespace orv
