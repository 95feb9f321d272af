// Memory mapping of FITS data segments: page-aligned windows, the guard of an open file
// descriptor, the check that a file holds the span to be mapped, prefaulting, write-back, and
// orv::FitsIO, the part of a FITS reader or writer that holds the mapping and the region.
#ifndef ORV_FITS_FITS_MAP_H
#define ORV_FITS_FITS_MAP_H

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
