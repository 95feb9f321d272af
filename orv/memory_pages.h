// Page hints for array storage: fault fresh storage in with one call, or give the kernel
// advice about it. Hints only: where the kernel does not offer or refuses one, nothing
// changes, and the values stored are the same either way.
#ifndef ORV_MEMORY_PAGES_H
#define ORV_MEMORY_PAGES_H

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace orv {

// Gives `advice` (an madvise advice) for the whole pages inside the `bytes` bytes of memory
// at `p`.
inline void adviseMemory(void* p, long bytes, int advice) {
  const auto page = static_cast<std::uintptr_t>(getpagesize());
  const auto begin = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t first = (begin + page - 1) / page * page;
  const std::uintptr_t last = (begin + static_cast<std::uintptr_t>(bytes)) / page * page;
  if (bytes > 0 && last > first) ::madvise(reinterpret_cast<void*>(first), last - first, advice);
}

// Faults the whole pages inside the `bytes` bytes of memory at `p` in writable, in one call
// instead of one fault a page: for fresh storage that is about to be filled.
inline void prefaultMemory(void* p, long bytes) {
#ifdef MADV_POPULATE_WRITE
  adviseMemory(p, bytes, MADV_POPULATE_WRITE);
#else
  (void)p, (void)bytes;
#endif
}

// What fresh storage is about to see, and so what the kernel is told about its pages.
enum class PageHint {
  filledSoon,  // every element is written soon: fault the pages in with one call
  hugePages    // a large block filled by passes over it: back it with huge pages where offered
};

// Blocks below this size gain nothing from huge pages (one huge page).
constexpr long kHugePageBytes = 2L << 20;

// Gives fresh storage of `bytes` bytes at `p` its page hint: the one place where the suite's
// fresh buffers, images and maps are given one. A hint only: the values stored are the same
// either way.
inline void hintFreshStorage(void* p, long bytes, PageHint hint) {
  switch (hint) {
    case PageHint::filledSoon:
      prefaultMemory(p, bytes);
      break;
    case PageHint::hugePages:
#ifdef MADV_HUGEPAGE
      if (bytes >= kHugePageBytes) adviseMemory(p, bytes, MADV_HUGEPAGE);
#endif
      break;
  }
}

// The same for the storage of an array.
template <class Array>
void hintFreshArray(Array& a, PageHint hint) {
  hintFreshStorage(a.firstElement(),
                   static_cast<long>(a.numElements()) * static_cast<long>(sizeof(*a.firstElement())), hint);
}

}  // namespace orv

#endif
