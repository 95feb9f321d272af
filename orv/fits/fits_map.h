// Memory mapping of FITS data segments: page-aligned windows, the guard of an open file
// descriptor, the check that a file holds the span to be mapped, prefaulting, write-back, and
// orv::FitsIO, the part of a FITS reader or writer that holds the mapping and the region.
#ifndef ORV_FITS_FITS_MAP_H
#define ORV_FITS_FITS_MAP_H

#include <algorithm>
#include <memory>
#include <string>

#include "util/region.h"

namespace orv {

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

// Refuses, with a FitsException naming the file, a file that ends before the span of
// spanLength bytes at spanOffset does: mapping it would fault when the missing bytes are
// touched.
void fitsRequireFileHolds(int fd, const std::string& filename, long spanOffset, long spanLength);

// A file opened read-only for the span of spanLength bytes at file offset spanOffset, refused
// when it cannot be opened or ends before the span does. Reads go by pread: a file that is
// cut short after the check gives a FitsException, never a signal.
class FitsDataFile {
 public:
  FitsDataFile(const std::string& filename, long spanOffset, long spanLength);
  // Reads `bytes` bytes from file offset `offset` into dst, all of them or a FitsException.
  void readAt(void* dst, long bytes, long offset) const;

 private:
  FitsFileDescriptor fd_;
  std::string filename_;
};

namespace detail {

// The walk of `elements` raw elements of bytesPerElement bytes from file offset `offset` on, read
// by pread a chunk at a time into one buffer that stays in the cache, each chunk handed on as a
// contiguous run. Reading a whole image this way costs no page-table entries and no mapping to
// tear down, which on some machines costs more than the copy itself.
inline auto fitsFileWalk(const FitsDataFile& file, long offset, long elements, int bytesPerElement) {
  return [&file, offset, elements, bytesPerElement](auto&& move) {
    constexpr long chunkBytes = 1L << 20;
    const long chunk = std::max(1L, chunkBytes / bytesPerElement);
    const auto buffer =
        std::make_unique_for_overwrite<unsigned char[]>(std::min(elements, chunk) * bytesPerElement);
    for (long first = 0; first < elements; first += chunk) {
      const long count = std::min(chunk, elements - first);
      file.readAt(buffer.get(), count * bytesPerElement, offset + first * bytesPerElement);
      move(buffer.get(), count);
    }
  };
}

}  // namespace detail

// Starts the write-back of the whole pages from `from` (page-aligned) up to byte `to`, or up
// to `to` itself when `last`, without waiting for it; returns where the next call starts. A
// hint: the write-back is waited for, and its errors are reported, by the final sync.
long fitsStartWriteBack(int fd, long from, long to, bool last);

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
