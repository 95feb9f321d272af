#include "numerics/intvector.h"

#include <cstdint>
#include <cstdlib>
#include <iostream>

namespace {

// nl - 1 in unsigned arithmetic, which wraps instead of overflowing.
std::uintptr_t slotsBefore(long nl) { return static_cast<std::uintptr_t>(nl) - 1u; }

// p is the block start moved back by nl - 1 elements. The offset is applied to
// the address as an integer, since the moved pointer may lie outside the block.
int* offsetBy(void* block, long nl) {
  return reinterpret_cast<int*>(reinterpret_cast<std::uintptr_t>(block) - slotsBefore(nl) * sizeof(int));
}

}  // namespace

int* intvector(long nl, long nh) {
  // Elements nl..nh plus the one at nl - 1; formed so that no range overflows.
  const long double count = static_cast<long double>(nh) - static_cast<long double>(nl) + 2.0L;
  void* block = nullptr;
  if (count >= 1.0L && count <= static_cast<long double>(SIZE_MAX / sizeof(int)))
    block = std::malloc(static_cast<std::size_t>(count) * sizeof(int));
  if (block == nullptr) {
    std::cout << "allocation failure in intvector()" << std::endl;
    return nullptr;
  }
  return offsetBy(block, nl);
}

void free_intvector(int* p, long nl, long /*nh*/) {
  if (p == nullptr) return;
  std::free(reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(p) + slotsBefore(nl) * sizeof(int)));
}
