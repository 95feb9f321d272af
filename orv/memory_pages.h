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

}  // namespace orv

#endif
