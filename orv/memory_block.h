#ifndef ORV_MEMORY_BLOCK_H
#define ORV_MEMORY_BLOCK_H

#include <cstddef>

namespace orv {

// Reference-counted heap storage shared by arrays and their views. The array
// that drops `references` to 0 deletes the block through its virtual destructor.
template <typename T>
class MemoryBlock {
 public:
  // n elements, default-initialised: numbers and bools are left as the allocator
  // returns them, strings are empty. n = 0 gives a valid empty allocation.
  explicit MemoryBlock(std::size_t n) : data(new T[n]), references(0) {}

  virtual ~MemoryBlock() {
    if (data != nullptr) delete[] data;
  }

  // Drops one reference; the last one deletes the block.
  void removeReference() {
    if (--references == 0) delete this;
  }

  MemoryBlock(const MemoryBlock&) = delete;
  MemoryBlock& operator=(const MemoryBlock&) = delete;

  T* data;
  int references;

 protected:
  // For derived blocks that provide their own storage.
  MemoryBlock() : data(nullptr), references(0) {}
};

}  // namespace orv

#endif
