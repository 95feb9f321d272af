// FITS image files to write: orv::FitsOut, which creates a file from a header, maps its data
// segment read-write and stores arrays straight into it.
#ifndef ORV_FITS_FITS_OUT_H
#define ORV_FITS_FITS_OUT_H

#include <algorithm>
#include <exception>
#include <memory>
#include <ostream>
#include <string>

#include "orv/fits/fits_elements.h"
#include "orv/fits/fits_exception.h"
#include "orv/fits/fits_header.h"
#include "orv/fits/fits_in.h"
#include "orv/fits/fits_map.h"
#include "orv/fits/fits_new_file.h"
#include "orv/marray.h"
#include "util/region.h"
#include "util/replacing_file.h"

namespace orv {

// A FITS image file to be written: a header prepared from nothing or from another header,
// then a file created and sized to whole records; a whole array is converted and written
// into it, or the file is mapped read-write for storing into it directly (openData); or a
// region of the file mapped for filling it piece by piece (setRegion).
//
// The file is made beside its name and takes the name only when it is finished, whole or not
// at all. A whole array written with operator<< or copyData finishes the file at once. A file
// filled through a mapping (openData, setRegion, in any order) is finished by finish(), which
// throws when the file cannot take its name, or else by the destructor; the destructor finishes
// it unless an exception is unwinding the writer's scope, in which case it removes the unfinished
// file. A write that fails leaves an earlier file of the name as it was and removes the
// unfinished one; a reader that maps the earlier file keeps seeing it. Programs call finish():
// a destructor cannot report a failure.
class FitsOut : public FitsHeader, public FitsIO {
 public:
  FitsOut();
  explicit FitsOut(const std::string& filename);
  explicit FitsOut(const char* filename);
  FitsOut(const std::string& filename, const FitsHeader& header, bool quiet = false, bool noJunk = false);
  FitsOut(const char* filename, const FitsHeader& header, bool quiet = false, bool noJunk = false);
  FitsOut(const FitsOut&) = delete;
  FitsOut& operator=(const FitsOut&) = delete;
  ~FitsOut() override;

  void setFilename(const std::string& name) { filename = name; }
  int getBitpixOut() const { return bitpixOut; }
  void setBitpixOut(int bitpix);
  std::string getOrigin() const { return origin; }
  void setOrigin(const std::string& text);

  void eraseObsolete();
  void resetArrayKeys();
  int* region2Naxis(const util::Region& r, int& naxis) const;
  void resetMandatories(int bitpix, int naxis, const int* naxisArray);

  int setGeometry(int bitpix, int naxis, const int* naxisArray);
  void setGeometry(int bitpix, const util::Region& r);
  void openData(int bitpix, int naxis, const int* naxisArray);
  void openData(int bitpix, const util::Region& r);
  void setRegion(const util::Region& r);
  void closeData();
  void copyData(FitsIn& in);
  // Gives the file its name: ends an open mapping as closeData does, syncs and renames the file.
  // Nothing to do when no file was begun or it is finished already; throws FitsException when
  // the file cannot take its name (it is removed then) or an earlier write to it failed.
  void finish();

  unsigned char* begin() const;
  unsigned char* end() const;
  long getPosition() const;
  void setPosition(long offset);
  void resetPosition();

  void describeSelf(std::ostream& os) override;

  template <class Iter>
  void writeDataArray(Iter& it);
  template <class Iter>
  void writeRegionArray(Iter& it);

 private:
  template <class T, int N>
  friend FitsOut& operator<<(FitsOut& out, const MArray<T, N>& a);

  // setGeometry without its sync: the header and the size reach the disk with the data.
  int createNewFile__(int bitpix, int naxis, const int* naxisArray);
  // openData, but the descriptor of the new file is returned open (-1 when nothing was
  // mapped) for the caller to close.
  int mapNewImage__(int bitpix, int naxis, const int* naxisArray);
  // openData, writeDataArray and finish in one pass over the new file, which is not mapped: the
  // data are converted chunk by chunk into a buffer and written, and the write-back of each
  // chunk is started at once, so that the disk works while the next chunk is converted; the
  // data are synced at the end, with the header and the size, and the file takes its name. Stores into a
  // shared mapping cost a page fault per page, and the write-back of mapped pages write-protects each of them
  // again with a TLB flush: several times the cost of the writes.
  template <class Iter>
  void writeNewImage__(Iter& it, int bitpix, int naxis, const int* naxisArray);
  // Writes bytes at offset of the new file open as fd, or fails the file.
  void writeNewData__(int fd, const unsigned char* data, long bytes, long offset);
  // Syncs the data of the new file open as fd, or fails the file.
  void syncNewData__(int fd);
  void requireMapped__() const;
  // Number of elements of the whole image, the product of NAXISn (0 without axes).
  long imageElements__() const;
  template <class Iter>
  void checkElementCount__(const Iter& it, long expected) const;
  // Where the file is on its way to its name. Stores go to the new file from created to
  // openByRegions; in finished, setRegion maps the named file itself for changing it in place.
  enum class State {
    prepared,       // nothing made yet
    created,        // the new file holds the header and has its size; nothing mapped
    openWhole,      // the whole new file is mapped (openData)
    openByRegions,  // the window of a region is mapped (setRegion)
    finished,       // the file has its name
    failed          // a write failed and the new file was removed; nothing more goes to it
  };
  bool open__() const { return state__ == State::openWhole || state__ == State::openByRegions; }
  // Starts a new file: one begun before and not finished is finished first.
  void beginNewFile__();
  // The new file given its name, or FitsException after removing it.
  void commitNewFile__();
  // Unmaps and removes the new file and marks it as failed: its name keeps what it held.
  void abandonNewFile__();
  // Runs fill, which writes the new file; when it throws, the file is abandoned first, so that
  // nothing half written can take the name later.
  template <class Fill>
  void copyOrAbandon__(Fill&& fill) {
    try {
      fill();
    } catch (...) {
      if (state__ != State::failed) abandonNewFile__();
      throw;
    }
  }
  // Marks the new file as failed, removes it and throws message: its name keeps what it held.
  [[noreturn]] void failNewFile__(const std::string& message);
  // The file that stores go to: the new file while there is one, else the named file.
  const std::string& writtenPath__() const { return newFile__.path.empty() ? filename : newFile__.path; }

  bool noJunk = false;
  int bitpixOut = 0;
  std::string origin;
  State state__ = State::prepared;
  util::ReplacingFile newFile__;  // path empty when no new file is being made
  int exceptionsAtStart__ = std::uncaught_exceptions();
};

template <class Iter>
void FitsOut::checkElementCount__(const Iter& it, long expected) const {
  const long have = it.shape ? it.shape->numElements : 0;
  if (have != expected)
    throw FitsException("cannot write an array of " + std::to_string(have) + " elements into " +
                        std::to_string(expected) + " elements of file '" + filename + "'");
}

template <class Iter>
void FitsOut::writeDataArray(Iter& it) {
  if (region) return writeRegionArray(it);
  requireMapped__();
  if (!isFitsBitpix(bitpix)) throw FitsException("illegal BITPIX");
  const long n = imageElements__();
  checkElementCount__(it, n);
  Iter cursor(it);
  detail::FitsIteratorRuns<Iter> source{cursor};
  writeFitsElements(bitpix, source, detail::fitsSegmentWalk(map + (dataOffset - mapOffset), n));
}

template <class Iter>
void FitsOut::writeNewImage__(Iter& it, int newBitpix, int newNaxis, const int* lengths) {
  FitsFileDescriptor fd(createNewFile__(newBitpix, newNaxis, lengths));
  if (dataLength == 0) {
    syncNewData__(fd.get());
    commitNewFile__();  // nothing to fill: the header is the whole file
    return;
  }
  copyOrAbandon__([&] {
    const long n = imageElements__();
    checkElementCount__(it, n);
    constexpr long chunkBytes = 1L << 20;  // a whole number of elements of every BITPIX
    const long chunk = chunkBytes / bytpix;
    const std::unique_ptr<unsigned char[]> buffer(new unsigned char[std::min(chunk, n) * bytpix]);
    Iter cursor(it);
    detail::FitsIteratorRuns<Iter> source{cursor};
    writeFitsElements(bitpix, source, [&](auto&& store) {
      long writtenBack = 0;  // file offset up to which the write-back has been started
      for (long first = 0; first < n; first += chunk) {
        const long count = std::min(chunk, n - first);
        const long from = dataOffset + first * bytpix;
        store(buffer.get(), count);
        writeNewData__(fd.get(), buffer.get(), count * bytpix, from);
        writtenBack = fitsStartWriteBack(fd.get(), writtenBack, from + count * bytpix, first + count == n);
      }
    });
    syncNewData__(fd.get());
  });
  commitNewFile__();
}

template <class Iter>
void FitsOut::writeRegionArray(Iter& it) {
  if (!region) throw FitsException("no region set");
  requireMapped__();
  const util::Region full = getFullRegion();
  checkElementCount__(it, region->getLength());
  Iter cursor(it);
  detail::FitsIteratorRuns<Iter> source{cursor};
  writeFitsElements(bitpix, source,
                    detail::fitsRegionWalk(map, dataOffset - mapOffset, bitpix, full, *region));
}

}  // namespace orv

#endif
