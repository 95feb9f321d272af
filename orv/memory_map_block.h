#ifndef ORV_MEMORY_MAP_BLOCK_H
#define ORV_MEMORY_MAP_BLOCK_H

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "orv/memory_block.h"
#include "orv/range_exception.h"

namespace orv {

// Storage in a temporary file "./orv.XXXXXX" of the working directory, mapped
// shared and read-write. The file holds the elements in memory representation,
// element m at byte m * sizeof(T), and starts out as zeros. It is removed when
// the block is destroyed unless keepFile is set.
template <typename T>
class MemoryMapBlock : public MemoryBlock<T> {
  // The mapping holds raw bytes: no element constructor or destructor runs on it.
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                "mapped storage holds only element types without constructors (numbers and bools)");

 public:
  // The name argument is accepted for interface compatibility; the file always
  // takes the template name.
  explicit MemoryMapBlock(int n, const char* name = nullptr)
      : MemoryBlock<T>(), lengthBytes(static_cast<std::size_t>(n < 0 ? 0 : n) * sizeof(T)), keepFile(false) {
    (void)name;
    if (n < 0) throw RangeException("Negative array length");
    std::strcpy(fileName, "./orv.XXXXXX");
    const int fd = mkstemp(fileName);
    if (fd < 0) throw RangeException("Cannot open memory map file.");
    if (lengthBytes != 0) {
      if (ftruncate(fd, static_cast<off_t>(lengthBytes)) < 0) fail__(fd, "Cannot set file size for map file");
      if (fsync(fd) < 0) fail__(fd, "Cannot sync map file");
      void* address = mmap(nullptr, lengthBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      if (address == MAP_FAILED) fail__(fd, "Cannot map mapfile");
      this->data = static_cast<T*>(address);
    }
    close(fd);
  }

  // Unmaps the storage and removes the file, also the empty file of a
  // zero-length block.
  ~MemoryMapBlock() override {
    if (this->data != nullptr) {
      munmap(static_cast<void*>(this->data), lengthBytes);
      this->data = nullptr;
    }
    if (!keepFile) std::remove(fileName);
  }

  std::size_t lengthBytes;
  bool keepFile;
  char fileName[13];

 private:
  // A failure after the file was made leaves neither descriptor nor file behind.
  [[noreturn]] void fail__(int fd, const char* message) {
    close(fd);
    std::remove(fileName);
    throw RangeException(message);
  }
};

}  // namespace orv

#endif
