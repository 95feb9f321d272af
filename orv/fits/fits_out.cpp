#include "orv/fits/fits_out.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <ostream>
#include <vector>

namespace orv {

namespace {

// Writes all of text, going on after short writes and interruptions.
bool writeAll(int fd, const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

// Erases every card of a keyword (eraseCard removes one list entry at a time).
void eraseAllCards(FitsHeader& header, const std::string& keyword) {
  while (header.eraseCard(keyword) == 0) {
  }
}

}  // namespace

FitsOut::FitsOut() : FitsHeader(), FitsIO("out.fits") {}

FitsOut::FitsOut(const std::string& filename) : FitsHeader(), FitsIO(filename) {}

FitsOut::FitsOut(const char* filename) : FitsOut(std::string(filename)) {}

FitsOut::FitsOut(const std::string& filename, const FitsHeader& header, bool quiet, bool noJunk)
    : FitsHeader(header, quiet, false), FitsIO(filename), noJunk(noJunk) {
  eraseObsolete();
  // The output is always a primary image: the group counts of an extension do not apply,
  // and the checksums of the input no longer match the new file.
  eraseAllCards(*this, "PCOUNT  ");
  eraseAllCards(*this, "GCOUNT  ");
  pcount = 0;
  gcount = 1;
  eraseAllCards(*this, "CHECKSUM");
  eraseAllCards(*this, "DATASUM ");
}

FitsOut::FitsOut(const char* filename, const FitsHeader& header, bool quiet, bool noJunk)
    : FitsOut(std::string(filename), header, quiet, noJunk) {}

FitsOut::~FitsOut() {
  if (newFile__.path.empty()) {
    unmap__();  // a finished file changed in place keeps what was stored
    return;
  }
  // A file filled and left is finished, unless an exception is unwinding the writer's scope.
  if (std::uncaught_exceptions() > exceptionsAtStart__) {
    abandonNewFile__();
    return;
  }
  try {
    finish();
  } catch (const FitsException& e) {
    std::cerr << e.what() << std::endl;
  }
}

void FitsOut::finish() {
  switch (state__) {
    case State::prepared:
    case State::finished:
      return;
    case State::failed:
      throw FitsException("cannot finish file '" + filename + "': writing it failed");
    case State::openWhole:
    case State::openByRegions:
      closeData();
      if (state__ != State::created) return;
      break;
    case State::created:
      break;
  }
  commitNewFile__();
}

void FitsOut::beginNewFile__() {
  closeData();
  if (state__ == State::created) commitNewFile__();
  newFile__ = util::ReplacingFile();
}

void FitsOut::commitNewFile__() {
  const std::string temporary = newFile__.path;
  const std::string target = newFile__.target;
  if (!util::commitReplacingFile(newFile__)) {
    state__ = State::failed;
    throw FitsException("cannot rename file '" + temporary + "' to '" + target + "'");
  }
  state__ = State::finished;
}

void FitsOut::abandonNewFile__() {
  unmap__();
  region.reset();
  util::discardReplacingFile(newFile__);
  state__ = State::failed;
}

void FitsOut::failNewFile__(const std::string& message) {
  abandonNewFile__();
  throw FitsException(message);
}

void FitsOut::setBitpixOut(int newBitpix) {
  if (map) throw FitsException("cannot reset bitpix while file is open");
  bitpixOut = newBitpix;
}

void FitsOut::setOrigin(const std::string& text) {
  origin = text;
  addValueCard("ORIGIN  ", text, "FITS file originator", true);
}

void FitsOut::eraseObsolete() {
  eraseAllCards(*this, "BSCALE  ");
  bscale = 1.0;
  eraseAllCards(*this, "BZERO   ");
  bzero = 0.0;
  eraseAllCards(*this, "BLOCKED ");
  eraseAllCards(*this, "EPOCH   ");
  eraseAllCards(*this, "ORIGIN  ");
}

void FitsOut::resetArrayKeys() {
  if (bitpix < 0) eraseAllCards(*this, "BLANK   ");
}

int* FitsOut::region2Naxis(const util::Region& r, int& count) const {
  count = static_cast<int>(r.N);
  int* lengths = new int[r.N];
  for (unsigned long d = 1; d <= r.N; ++d) lengths[d - 1] = static_cast<int>(r.getLength(d));
  return lengths;
}

void FitsOut::resetMandatories(int newBitpix, int newNaxis, const int* lengths) {
  if (!isFitsBitpix(newBitpix)) throw FitsException("invalid BITPIX");
  if (newNaxis > FitsKnownList::NAXIS_HI_LIMIT) throw FitsException("NAXIS restricted to < 1000");
  if (newNaxis < 0) throw FitsException("NAXIS may not be negative");
  clearCardList(mandatoryList);
  clearCardList(naxisList);
  auto append = [](std::list<FitsCard*>& list, std::unique_ptr<FitsCard> card) {
    list.push_back(card.get());
    card.release();
  };
  append(mandatoryList, std::make_unique<FitsBoolCard>("SIMPLE  ", true, true, ""));
  append(mandatoryList, std::make_unique<FitsIntCard>("BITPIX  ", newBitpix, true, ""));
  bitpix = newBitpix;
  bytpix = fitsBytesPerElement(newBitpix);
  append(mandatoryList, std::make_unique<FitsIntCard>("NAXIS   ", newNaxis, true, ""));
  naxis = newNaxis;
  for (int i = 1; i <= newNaxis; ++i) {
    std::string keyword = "NAXIS" + std::to_string(i);
    keyword.resize(8, ' ');
    append(naxisList, std::make_unique<FitsIntCard>(keyword, lengths[i - 1], true, ""));
  }
  // A written image is always a primary HDU without group parameters.
  pcount = 0;
  gcount = 1;
  checkNaxis();
}

int FitsOut::setGeometry(int newBitpix, int newNaxis, const int* lengths) {
  FitsFileDescriptor guard(createNewFile__(newBitpix, newNaxis, lengths));
  if (::fsync(guard.get()) != 0) failNewFile__("cannot sync file '" + filename + "' for writing");
  return guard.release();
}

int FitsOut::createNewFile__(int newBitpix, int newNaxis, const int* lengths) {
  beginNewFile__();
  state__ = State::prepared;
  resetMandatories(newBitpix, newNaxis, lengths);
  resetArrayKeys();
  const std::string text = writeHeader(!noJunk);
  dataOffset = static_cast<long>(text.size());
  const long record = FitsPhysical_::RECORD_LENGTH;
  long padded = 0;
  long size = dataOffset;
  const bool overflow =
      dataLength > 0 && (__builtin_mul_overflow((dataLength - 1) / record + 1, record, &padded) ||
                         __builtin_add_overflow(dataOffset, padded, &size));
  if (overflow) throw FitsException("cannot (re)set file size for file '" + filename + "'");

  const int fd = util::createReplacingFile(filename, newFile__);
  if (fd < 0) throw FitsException("cannot open file '" + filename + "' for writing");
  FitsFileDescriptor guard(fd);
  state__ = State::created;
  try {
    if (!newFile__.inPlace) fitsRequireRoom(guard.get(), filename, size);
  } catch (const FitsException& e) {
    failNewFile__(e.message());
  }
  if (!writeAll(guard.get(), text)) failNewFile__("cannot write to open file '" + filename + "'");
  // The data blocks are reserved, not only the size set: stores into a sparse file would
  // fault on a full disk instead of failing here.
  if (dataLength > 0 &&
      (::ftruncate(guard.get(), size) != 0 || ::posix_fallocate(guard.get(), dataOffset, padded) != 0))
    failNewFile__("cannot (re)set file size for file '" + filename + "'");
  return guard.release();
}

void FitsOut::setGeometry(int newBitpix, const util::Region& r) {
  int count = 0;
  std::unique_ptr<int[]> lengths(region2Naxis(r, count));
  ::close(setGeometry(newBitpix, count, lengths.get()));
  bitpixOut = newBitpix;
}

void FitsOut::openData(int newBitpix, int newNaxis, const int* lengths) {
  FitsFileDescriptor fd(mapNewImage__(newBitpix, newNaxis, lengths));
}

int FitsOut::mapNewImage__(int newBitpix, int newNaxis, const int* lengths) {
  FitsFileDescriptor guard(setGeometry(newBitpix, newNaxis, lengths));
  if (dataLength == 0) {
    commitNewFile__();  // nothing to fill: the header is the whole file
    return -1;
  }
  const long length = dataOffset + dataLength;
  void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, guard.get(), 0);
  if (p == MAP_FAILED) failNewFile__("cannot map file for writing");
  map = static_cast<unsigned char*>(p);
  mapLength = length;
  mapOffset = 0;
  position = map + dataOffset;
  state__ = State::openWhole;
  return guard.release();
}

void FitsOut::writeNewData__(int fd, const unsigned char* data, long bytes, long offset) {
  while (bytes > 0) {
    const ssize_t n = ::pwrite(fd, data, static_cast<size_t>(bytes), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) failNewFile__("cannot write to open file '" + filename + "'");
    data += n;
    bytes -= n;
    offset += n;
  }
}

void FitsOut::syncNewData__(int fd) {
  if (::fdatasync(fd) != 0) failNewFile__("cannot sync file '" + filename + "' for writing");
}

void FitsOut::openData(int newBitpix, const util::Region& r) {
  int count = 0;
  std::unique_ptr<int[]> lengths(region2Naxis(r, count));
  openData(newBitpix, count, lengths.get());
}

void FitsOut::setRegion(const util::Region& r) {
  closeData();
  testRegion(r);
  if (naxis == 0) {
    region = std::make_unique<util::Region>(r);
    throw FitsException("No data segment associated with header (NAXIS = 0).");
  }
  const util::Region full = getFullRegion();
  checkRegionInside(full, r);
  region = std::make_unique<util::Region>(r);
  const long first = regionLinearIndex(full, r, false);
  const long last = regionLinearIndex(full, r, true);
  const long spanOffset = dataOffset + first * bytpix;
  const long spanLength = (last - first + 1) * bytpix;

  // After a failure the new file is gone: the earlier file of the name must not be written.
  const int fd = state__ == State::failed ? -1 : ::open(writtenPath__().c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) throw FitsException("cannot open file '" + filename + "' for writing");
  FitsFileDescriptor guard(fd);
  fitsRequireFileHolds(fd, filename, spanOffset, spanLength);
  const FitsMapWindow window = fitsPageWindow(spanOffset, spanLength);
  void* p = ::mmap(nullptr, window.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, window.offset);
  if (p == MAP_FAILED) throw FitsException("cannot map file for writing");
  map = static_cast<unsigned char*>(p);
  mapLength = window.length;
  mapOffset = window.offset;
  state__ = State::openByRegions;
}

void FitsOut::closeData() {
  region.reset();
  if (map != nullptr) {
    // Write-back errors (a full disk, an I/O error) surface here, not as a signal later. The
    // mapping goes first: syncing pages that are still mapped write-protects each of them
    // again with a TLB flush per page, which costs more than the write itself; unmapped, the
    // dirty pages are written back by one fdatasync of the file.
    unmap__();
    const int fd = ::open(writtenPath__().c_str(), O_RDWR | O_CLOEXEC);
    FitsFileDescriptor guard(fd);
    if (fd < 0 || ::fdatasync(fd) != 0) {
      const std::string message = "cannot sync file '" + filename + "' for writing";
      if (newFile__.path.empty()) throw FitsException(message);
      failNewFile__(message);
    }
  }
  if (open__()) state__ = newFile__.path.empty() ? State::finished : State::created;
}

void FitsOut::copyData(FitsIn& in) {
  // The output never replaces the file the input reads.
  struct stat inStat, outStat;
  if (::stat(in.filename.c_str(), &inStat) == 0 && ::stat(filename.c_str(), &outStat) == 0 &&
      inStat.st_dev == outStat.st_dev && inStat.st_ino == outStat.st_ino)
    throw FitsException("cannot copy file '" + in.filename + "' onto itself");

  setBscale(in.getBscale());
  setBzero(in.getBzero());
  if (in.getRegionLength() > 0) {
    std::vector<int> sizes;
    for (int d = 1; d <= in.getNaxis(); ++d) {
      in.checkRegion(d);
      const long size = in.getRegionLength(d);
      if (size != 1) sizes.push_back(static_cast<int>(size));
    }
    openData(in.getBitpix(), static_cast<int>(sizes.size()), sizes.data());
    copyOrAbandon__([&] {
      in.ensureMapped__();
      requireMapped__();
      copyRawRegionRows(map + (dataOffset - mapOffset), in.map, in.baseOffset__(), in.getBitpix(),
                        in.getFullRegion(), *in.region);
    });
  } else {
    openData(in.getBitpix(), in.getNaxis(), in.naxisArray);
    if (in.getDataLength() > 0) {
      copyOrAbandon__([&] {
        in.ensureMapped__();
        requireMapped__();
        const long bytes = in.imageElements__() * in.getBytpix();
        if (bytes != imageElements__() * bytpix)
          throw FitsException("cannot copy data of file '" + in.filename + "' to file '" + filename +
                              "': the data sizes differ");
        std::memcpy(map + (dataOffset - mapOffset), in.map + in.baseOffset__(), bytes);
      });
    }
  }
  finish();
}

void FitsOut::requireMapped__() const {
  if (map == nullptr) throw FitsException("Attempt to write file of unspecified geometry.");
}

long FitsOut::imageElements__() const { return fitsImageElements(naxis, naxisArray); }

unsigned char* FitsOut::begin() const {
  requireMapped__();
  return map + (dataOffset - mapOffset);
}

unsigned char* FitsOut::end() const { return begin() + dataLength; }

long FitsOut::getPosition() const {
  unsigned char* base = begin();
  return position ? position - base : 0;
}

void FitsOut::setPosition(long offset) { position = begin() + offset; }

void FitsOut::resetPosition() { position = begin(); }

void FitsOut::describeSelf(std::ostream& os) {
  os << "Fits: file='" << filename << "'\n";
  FitsHeader::describeSelf(os);
}

}  // namespace orv
