// Reading and validating a header from a file, record by record (the constructors that
// read a file), and testing regions against the image it describes.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "orv/fits/fits_convert.h"
#include "orv/fits/fits_header.h"
#include "orv/fits/fits_region.h"
#include "util/regular_file.h"
#include "util/stringfac.h"

namespace orv {

namespace {

using Phys = FitsPhysical_;
const long kRecord = Phys::RECORD_LENGTH;
const size_t kCard = Phys::CARD_LENGTH;
// The keyword of the END card, with its padding.
const std::string& endKeyword() {
  static const std::string keyword = FitsKnownList::KEY[FitsKnownList::ID_END].keyword;
  return keyword;
}

// The descriptor and the current read-only window of the header file; both
// are released on every way out of readHeader.
class HeaderFile {
 public:
  explicit HeaderFile(int fd) : fd_(fd) {}
  HeaderFile(const HeaderFile&) = delete;
  HeaderFile& operator=(const HeaderFile&) = delete;
  ~HeaderFile() {
    unmap();
    if (fd_ >= 0) ::close(fd_);
  }

  int fd() const { return fd_; }

  // Maps `length` bytes from the page boundary `start` unless that window is
  // mapped already. Returns false when mapping fails.
  bool window(long start, size_t length) {
    if (map_ != nullptr && start == start_ && length == length_) return true;
    unmap();
    void* map = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd_, static_cast<off_t>(start));
    if (map == MAP_FAILED) return false;
    map_ = static_cast<char*>(map);
    start_ = start;
    length_ = length;
    return true;
  }

  // The byte at file offset `offset`, which lies inside the mapped window.
  const char* at(long offset) const { return map_ + (offset - start_); }

 private:
  void unmap() {
    if (map_ != nullptr) ::munmap(map_, length_);
    map_ = nullptr;
  }

  int fd_;
  char* map_ = nullptr;  // mapped read-only
  long start_ = 0;
  size_t length_ = 0;
};

// The card image without its trailing blanks, for messages.
std::string cardText(std::string card) {
  card.erase(card.find_last_not_of(' ') + 1);
  return card;
}

// The finite number that a scaling card holds, or NaN when it holds none (it cannot be parsed,
// holds another type of value, or a value that is not finite).
double scalingValue(const FitsHeader& header, const std::string& card) {
  std::unique_ptr<FitsCard> parsed;
  try {
    parsed.reset(header.parseCard(card));
  } catch (const FitsException&) {
    return NAN;
  }
  if (dynamic_cast<const FitsIntCard*>(parsed.get()) == nullptr &&
      dynamic_cast<const FitsFloatCard*>(parsed.get()) == nullptr)
    return NAN;
  const double value = parsed->getFloat();
  return std::isfinite(value) ? value : NAN;
}

// The card image at `pos` of a record; parseCard pads whatever is short.
std::string cardAt(const std::string& record, size_t pos) {
  return pos < record.size() ? record.substr(pos, kCard) : std::string();
}

}  // namespace

FitsHeader::FitsHeader(const std::string& filename, bool quiet, bool allJunk) : FitsHeader() {
  this->quiet = quiet;
  naxis = -1;
  dataOffset = 0;
  try {
    readHeader(filename, allJunk);
  } catch (...) {
    releaseAll__();
    throw;
  }
}

FitsHeader::FitsHeader(const std::string& filename, bool quiet, bool allJunk, long offset) : FitsHeader() {
  this->quiet = quiet;
  naxis = -1;
  extend = true;
  dataOffset = offset;
  try {
    readHeader(filename, allJunk);
  } catch (...) {
    releaseAll__();
    throw;
  }
}

void FitsHeader::readHeader(const std::string& filename, bool allJunk) {
  sourceFile__ = filename;
  // Only regular files are read; a FIFO cannot stall the reader.
  const int fd = util::openRegularFile(filename);
  if (fd < 0) throw FitsException("cannot open file '" + filename + "' for reading");
  HeaderFile file(fd);
  struct stat status;
  if (::fstat(fd, &status) != 0) throw FitsException("cannot open file '" + filename + "' for reading");
  const long fileSize = static_cast<long>(status.st_size);
  if (dataOffset == 0 && fileSize == 0) throw FitsException("file '" + filename + "' is empty");
  if (dataOffset >= fileSize) throw FitsException("no further extensions");
  if (dataOffset < 0) throw FitsException("cannot map file '" + filename + "' for reading");

  // Whatever the header holds that cannot be read is refused naming the file.
  try {
    // The index lives for this read only: while the constructor reads, every
    // change of the lists passes through the operations that keep it.
    struct IndexGuard {
      FitsHeader& header;
      ~IndexGuard() { header.stopReadIndex__(); }
    } indexGuard{*this};
    startReadIndex__();

    const long page = ::getpagesize();
    std::string record(kRecord, '\0');
    bool recordCut = false;  // the last record read ran past the end of the file
    for (;;) {
      const long offset = dataOffset;
      if (offset >= fileSize) throw FitsException(endOfFileMessage__(filename, recordCut));
      const long pageStart = offset / page * page;
      const size_t windowLength = static_cast<size_t>(((offset % page + kRecord) / page + 1) * page);
      if (!file.window(pageStart, windowLength))
        throw FitsException("cannot map file '" + filename + "' for reading");

      // Only bytes inside the file are read (pages past its end are not
      // backed). A record cut off by the end of the file reads as blanks
      // beyond it, and a card cut in two as a blank card unless it is the END
      // card: the cards the file holds are judged first, and the read then
      // fails because the file is truncated.
      const long available = fileSize - offset < kRecord ? fileSize - offset : kRecord;
      recordCut = available < kRecord;
      std::memcpy(record.data(), file.at(offset), static_cast<size_t>(available));
      std::memset(record.data() + available, ' ', static_cast<size_t>(kRecord - available));
      const size_t cutCard = static_cast<size_t>(available) / kCard * kCard;
      if (recordCut && cutCard < static_cast<size_t>(available) &&
          record.compare(cutCard, Phys::KEYWORD_LENGTH, endKeyword()) != 0)
        std::memset(record.data() + cutCard, ' ', kCard);

      const size_t consumed = parseRecord(record, allJunk);
      dataOffset += static_cast<long>(consumed);
      if (consumed == 0) {
        if (recordCut)
          throw FitsException("file '" + filename +
                              "' is truncated: it ends inside the header record that holds END");
        dataOffset += kRecord;
        break;
      }
    }
    checkNaxis();

    // Cards kept unparsed (allJunk), or refused by the parser, still decide how the data are
    // converted: they are read here, the last of a keyword counting. A card that holds no finite
    // number is refused rather than the data read unscaled.
    const auto refuse = [&](const std::string& card) {
      throw FitsException("malformed scaling card in file '" + filename + "': " + cardText(card));
    };
    for (const FitsCard* card : junkList) {
      if (card == nullptr) continue;
      const std::string& keyword = card->getKeyword();
      if (keyword != "BSCALE  " && keyword != "BZERO   ") continue;
      const std::string image = card->writeCard();
      const double value = scalingValue(*this, image);
      if (std::isnan(value)) refuse(image);
      (keyword == "BSCALE  " ? bscale : bzero) = value;
    }
    for (const FitsCard* card : arrayList)
      if (card != nullptr &&
          (card->what_id() == FitsKnownList::ID_BSCALE || card->what_id() == FitsKnownList::ID_BZERO) &&
          !std::isfinite(card->getFloat()))
        refuse(card->writeCard());
  } catch (const FitsException& e) {
    throw FitsException(withFitsFileName(e.message(), filename));
  }
}

std::string FitsHeader::endOfFileMessage__(const std::string& filename, bool recordCut) const {
  if (recordCut) return "file '" + filename + "' is truncated: it ends inside a header record";
  // A file that ends while NAXISn cards are still expected: either every place
  // read so far holds one (the file is cut), or other cards, END among them,
  // took the places of NAXISn cards that the header lacks.
  if (naxis > 0 && naxisList.size() < static_cast<size_t>(naxis)) {
    const bool onlyAxisCards = std::all_of(naxisList.begin(), naxisList.end(), [](const FitsCard* card) {
      return card != nullptr && card->what_id() == FitsKnownList::ID_NAXIS;
    });
    if (onlyAxisCards)
      return "file '" + filename + "' is truncated: its header ends after " +
             std::to_string(naxisList.size()) + " of its " + std::to_string(naxis) + " NAXISn cards";
    return "invalid NAXIS setting (NAXIS key missing): file '" + filename +
           "' has fewer NAXISn cards than NAXIS = " + std::to_string(naxis);
  }
  return "header of file '" + filename + "' has no END card before the end of the file";
}

size_t FitsHeader::parseRecord(const std::string& record, bool allJunk) {
  size_t pos = 0;
  if (naxis == -1)
    pos = parseMandatory(record);
  else if (naxisList.size() < static_cast<size_t>(naxis < 0 ? 0 : naxis))
    pos = parseNaxis(record, 0);

  for (; pos < static_cast<size_t>(kRecord); pos += kCard) {
    const std::string card = cardAt(record, pos);
    if (card.compare(0, Phys::KEYWORD_LENGTH, endKeyword()) == 0) {
      if (!allJunk) {
        // Everything after the letter D of END, to the end of the record,
        // must be blank.
        const size_t lastNonBlank = record.find_last_not_of(' ');
        if (lastNonBlank != pos + 2)
          throw FitsException(
              "Header corrupted after END\nEND: " + util::StringFactory::toString(static_cast<int>(pos), 4) +
              ", non blank: " + util::StringFactory::toString(static_cast<int>(lastNonBlank), 4));
      }
      return 0;
    }
    try {
      if (allJunk) {
        addJunkCard(card);
        continue;
      }
      std::unique_ptr<FitsCard> parsed(parseCard(card));
      if (!parsed) continue;
      if (parsed->isJunk())
        insertCard__(junkList, std::move(parsed));
      else if (parsed->isComment())
        addCommentCard(parsed.release());
      else
        addValueCard(parsed.release());
    } catch (const FitsException& e) {
      warn__(card + "\n" + e.what() + "\nAdding to junk list\n");
      addJunkCard(card);
    }
  }
  return kRecord;
}

size_t FitsHeader::parseMandatory(const std::string& record) {
  std::unique_ptr<FitsCard> first(parseCard(cardAt(record, 0)));
  std::unique_ptr<FitsCard> second(parseCard(cardAt(record, kCard)));
  std::unique_ptr<FitsCard> third(parseCard(cardAt(record, 2 * kCard)));
  clearCardList(mandatoryList);

  if (dataOffset == 0) {
    if (!first || first->what_id() != FitsKnownList::ID_SIMPLE) throw FitsException("FITS file not SIMPLE");
    if (!first->getBool()) throw FitsException("FITS file not SIMPLE (SIMPLE not true)");
  } else if (!first || first->what_id() != FitsKnownList::ID_XTENSION) {
    throw FitsException("FITS extension does not start with XTENSION");
  }

  if (!second || second->what_id() != FitsKnownList::ID_BITPIX)
    throw FitsException("FITS file has no BITPIX");
  const long bits = second->getInt();
  if (!isFitsBitpix(bits)) throw FitsException("FITS file has invalid BITPIX (not 8, 16, 32, -32 , -64)");
  bitpix = static_cast<int>(bits);
  bytpix = fitsBytesPerElement(bitpix);

  if (!third || third->getKeyword() != "NAXIS   ") throw FitsException("FITS file has no NAXIS");
  const long axes = third->getInt();
  if (axes < FitsKnownList::NAXIS_LO_LIMIT || axes > FitsKnownList::NAXIS_HI_LIMIT)
    throw FitsException("FITS file has invalid NAXIS ( < 0 or > 999)");
  naxis = static_cast<int>(axes);

  insertCard__(mandatoryList, std::move(first));
  insertCard__(mandatoryList, std::move(second));
  insertCard__(mandatoryList, std::move(third));
  const size_t pos = 3 * kCard;
  return naxis == 0 ? pos : parseNaxis(record, pos);
}

size_t FitsHeader::parseNaxis(const std::string& record, size_t pos) {
  // Every place is taken as an NAXISn card, empty ones included (as null);
  // checkNaxis judges them.
  while (naxisList.size() < static_cast<size_t>(naxis) && pos < static_cast<size_t>(kRecord)) {
    std::unique_ptr<FitsCard> card(parseCard(cardAt(record, pos)));
    insertCard__(naxisList, std::move(card));
    pos += kCard;
  }
  return pos;
}

void FitsHeader::checkNaxis() {
  delete[] naxisArray;
  naxisArray = nullptr;
  if (naxis <= 0) {
    dataLength = 0;
    return;
  }

  auto refuse = [this](const char* message) {
    clearCardList(naxisList);
    throw FitsException(message);
  };
  if (naxisList.size() != static_cast<size_t>(naxis)) refuse("invalid NAXIS setting (NAXIS key missing)");

  std::unique_ptr<int[]> lengths(new int[naxis]);
  std::int64_t product = 1;
  int axis = 1;
  for (const FitsCard* card : naxisList) {
    if (card == nullptr || card->what_id() != FitsKnownList::ID_NAXIS)
      refuse("invalid NAXIS setting (NAXIS key missing)");
    const std::string number = card->getKeyword().substr(5, 3);
    if (std::strtol(number.c_str(), nullptr, 10) != axis)
      refuse("invalid NAXIS list (NAXIS keys missordered)");
    const long value = card->getInt();
    if (value < 1) refuse("invalid or insane NAXIS setting (NAXIS negative or 0)");
    if (value > INT_MAX) refuse("invalid or insane NAXIS setting (NAXIS above 2147483647)");
    if (__builtin_mul_overflow(product, static_cast<std::int64_t>(value), &product))
      refuse("invalid or insane NAXIS setting (data size beyond 64 bits)");
    lengths[axis - 1] = static_cast<int>(value);
    ++axis;
  }

  if (pcount < 0) throw FitsException("invalid PCOUNT (negative or beyond 2147483647)");
  if (gcount < 1) throw FitsException("invalid GCOUNT (below 1 or beyond 2147483647)");
  // (product + pcount) * (gcount * bytpix), each step checked in 64 bits.
  std::int64_t length = 0;
  if (__builtin_add_overflow(product, static_cast<std::int64_t>(pcount), &length) ||
      __builtin_mul_overflow(length, static_cast<std::int64_t>(gcount) * bytpix, &length))
    throw FitsException("invalid or insane NAXIS setting (data size beyond 64 bits)");

  naxisArray = lengths.release();
  dataLength = static_cast<long>(length);
}

void FitsHeader::testRegion(const util::Region& region) const { checkRegionInside(getFullRegion(), region); }

}  // namespace orv
