// Memory of the large chi maps: a hint to back them with huge pages.
#ifndef PSF_MAP_MEMORY_H
#define PSF_MAP_MEMORY_H

#include <sys/mman.h>

#include "orv/marray.h"

namespace psf_maps {

// Asks the system to back a fresh map with huge pages before it is first
// touched: whole-image maps run to hundreds of MB, and faulting them in page
// by page can cost more than computing them. Only a hint; the values are the
// same either way.
template <typename T>
void prefer_huge_pages(orv::MArray<T, 2>& map) {
#ifdef MADV_HUGEPAGE
  orv::adviseMemory(map.firstElement(), static_cast<long>(sizeof(T) * map.numElements()), MADV_HUGEPAGE);
#else
  (void)map;
#endif
}

}  // namespace psf_maps

#endif
