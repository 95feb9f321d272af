#include "orv/fits/fits_map.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "orv/fits/fits_exception.h"

namespace orv {

FitsMapWindow fitsPageWindow(long spanOffset, long spanLength) {
  const long page = getpagesize();
  FitsMapWindow w;
  w.offset = spanOffset / page * page;
  w.lead = spanOffset % page;
  w.length = w.lead + spanLength;
  return w;
}

FitsFileDescriptor::~FitsFileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

void fitsRequireFileHolds(int fd, const std::string& filename, long spanOffset, long spanLength) {
  struct stat st;
  if (::fstat(fd, &st) != 0) throw FitsException("cannot stat file '" + filename + "'");
  const long size = st.st_size;
  if (spanOffset > size || spanLength > size - spanOffset)
    throw FitsException("file '" + filename + "' is truncated: it has " + std::to_string(size) +
                        " bytes, but its data segment needs " + std::to_string(spanLength) +
                        " bytes from byte " + std::to_string(spanOffset));
}

FitsDataFile::FitsDataFile(const std::string& filename, long spanOffset, long spanLength)
    : fd_(::open(filename.c_str(), O_RDONLY | O_CLOEXEC)), filename_(filename) {
  if (fd_.get() < 0) throw FitsException("cannot open file '" + filename + "' for reading");
  fitsRequireFileHolds(fd_.get(), filename, spanOffset, spanLength);
}

void FitsDataFile::readAt(void* dst, long bytes, long offset) const {
  auto* to = static_cast<unsigned char*>(dst);
  while (bytes > 0) {
    const ssize_t n = ::pread(fd_.get(), to, static_cast<size_t>(bytes), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw FitsException("cannot read file '" + filename_ + "'");
    if (n == 0)
      throw FitsException("file '" + filename_ + "' is truncated: it ends at byte " + std::to_string(offset) +
                          ", inside its data segment");
    to += n;
    bytes -= n;
    offset += n;
  }
}

long fitsStartWriteBack(int fd, long from, long to, bool last) {
  // An unfinished last page is left for a later call: starting its write-back now would
  // write-protect it while it is still being filled.
  const long page = getpagesize();
  const long end = last ? to : to / page * page;
  if (end <= from) return from;
  ::sync_file_range(fd, from, end - from, SYNC_FILE_RANGE_WRITE);
  return end;
}

FitsIO::FitsIO(const std::string& filename) : filename(filename) {}

FitsIO::FitsIO(const FitsIO& other)
    : filename(other.filename),
      region(other.region ? std::make_unique<util::Region>(*other.region) : nullptr) {}

FitsIO& FitsIO::operator=(const FitsIO& other) {
  if (this == &other) return *this;
  unmap__();
  filename = other.filename;
  region = other.region ? std::make_unique<util::Region>(*other.region) : nullptr;
  return *this;
}

FitsIO::~FitsIO() { unmap__(); }

void FitsIO::unmap__() {
  if (map) munmap(map, mapLength);
  map = nullptr;
  position = nullptr;
  mapLength = 0;
  mapOffset = 0;
}

void FitsIO::checkRegion(unsigned long dim) const {
  if (!region) throw FitsException("request for unset region");
  if (dim == 0) throw FitsException("request for invalid region parameter");
}

util::Region FitsIO::getRegion() const {
  if (!region) throw FitsException("request for unset region");
  return util::Region(*region);
}

int FitsIO::getRegionStart(unsigned long dim) const {
  checkRegion(dim);
  return region->getStart(dim);
}

int FitsIO::getRegionEnd(unsigned long dim) const {
  checkRegion(dim);
  return region->getEnd(dim);
}

long FitsIO::getRegionLength(unsigned long dim) const {
  checkRegion(dim);
  return region->getLength(dim);
}

long FitsIO::getRegionLength() const { return region ? static_cast<long>(region->getLength()) : 0L; }

}  // namespace orv
