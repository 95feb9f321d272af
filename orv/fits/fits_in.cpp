#include "orv/fits/fits_in.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <ostream>

namespace orv {

namespace {

std::string trimTrailingBlanks(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

}  // namespace

// =============================================================================================
// FitsIn

FitsIn::FitsIn(const std::string& filename, bool quiet, bool allJunk)
    : FitsHeader(filename, quiet, allJunk), FitsIO(filename), allJunk(allJunk) {}

FitsIn::FitsIn(const char* filename, bool quiet, bool allJunk)
    : FitsIn(std::string(filename), quiet, allJunk) {}

FitsIn::FitsIn(const std::string& filename, const util::Region& region, bool quiet, bool allJunk)
    : FitsIn(filename, quiet, allJunk) {
  setRegion(region);
}

FitsIn::FitsIn(const char* filename, const util::Region& region, bool quiet, bool allJunk)
    : FitsIn(std::string(filename), region, quiet, allJunk) {}

FitsIn::FitsIn(const std::string& filename, bool quiet, long offset)
    : FitsHeader(filename, quiet, false, offset), FitsIO(filename), allJunk(false) {}

FitsIn::FitsIn(const char* filename, bool quiet, long offset)
    : FitsIn(std::string(filename), quiet, offset) {}

FitsIn::FitsIn(const FitsIn& other)
    : FitsHeader(other, false, false), FitsIO(other), allJunk(other.allJunk) {}

FitsIn& FitsIn::operator=(const FitsIn& other) {
  if (this == &other) return *this;
  FitsHeader::operator=(other);
  FitsIO::operator=(other);
  allJunk = other.allJunk;
  return *this;
}

FitsIn::~FitsIn() = default;

void FitsIn::checkDataSegment__() const {
  if (naxis == 0)
    throw FitsException(withFitsFileName("No data segment associated with header (NAXIS = 0).", filename));
  if (!mandatoryList.empty() && mandatoryList.front()->what_id() == FitsKnownList::ID_XTENSION) {
    const std::string type = trimTrailingBlanks(mandatoryList.front()->getString());
    if (type != "IMAGE")
      throw FitsException(withFitsFileName(type + " extension not supported until now.", filename));
  }
}

void FitsIn::requireData__() {
  if (region || map)
    ensureMapped__();
  else
    FitsDataFile(filename, dataOffset, dataLength);
}

void FitsIn::openData() {
  checkDataSegment__();

  // The span of the data segment to map: all of it, or first to last element of the region.
  long spanStart = 0;
  long spanLength = dataLength;
  if (region) {
    const util::Region full = getFullRegion();
    checkRegionInside(full, *region);
    const long first = regionLinearIndex(full, *region, false);
    const long last = regionLinearIndex(full, *region, true);
    spanStart = first * bytpix;
    spanLength = (last - first + 1) * bytpix;
  }

  unmap__();  // a mapping made before is replaced, not leaked
  const int fd = ::open(filename.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw FitsException("cannot open file '" + filename + "' for reading");
  FitsFileDescriptor guard(fd);
  fitsRequireFileHolds(fd, filename, dataOffset + spanStart, spanLength);
  const FitsMapWindow window = fitsPageWindow(dataOffset + spanStart, spanLength);
  // A whole segment is read completely: fault it in with the mapping call rather than page by
  // page. A region's window is left to fault in lazily, as it may span many unread rows.
  const int populate = region ? 0 : MAP_POPULATE;
  void* p = ::mmap(nullptr, window.length, PROT_READ, MAP_PRIVATE | populate, fd, window.offset);
  if (p == MAP_FAILED) throw FitsException("cannot map file '" + filename + "' for reading");
  map = static_cast<unsigned char*>(p);
  mapLength = window.length;
  mapOffset = window.offset;
}

void FitsIn::freeData() { unmap__(); }

void FitsIn::setRegion(const util::Region& newRegion) {
  if (region) {
    region.reset();
    unmap__();
  }
  testRegion(newRegion);
  checkRegionInside(getFullRegion(), newRegion);
  region = std::make_unique<util::Region>(newRegion);
}

void FitsIn::resetRegion() {
  if (!region) return;
  region.reset();
  unmap__();
}

void FitsIn::checkRegion(unsigned long dim) const {
  if (!region) throw FitsException("request for unset region");
  if (dim == 0 || dim > static_cast<unsigned long>(naxis))
    throw FitsException("request for invalid region parameter");
}

FitsHeader FitsIn::getHeader() const { return FitsHeader(filename, quiet, allJunk); }

unsigned char* FitsIn::begin() {
  ensureMapped__();
  return map + baseOffset__();
}

unsigned char* FitsIn::end() { return begin() + dataLength; }

long FitsIn::getPosition() {
  if (position == nullptr) position = begin();
  return position - begin();
}

void FitsIn::setPosition(long offset) { position = begin() + offset; }

void FitsIn::resetPosition() { position = begin(); }

long FitsIn::imageElements__() const { return fitsImageElements(naxis, naxisArray); }

void FitsIn::checkBox__(const util::Region& full, const util::Region& box) const {
  checkRegionInside(full, box);
  if (!region) return;
  for (unsigned long d = 1; d <= box.N; ++d)
    if (box.getStart(d) < region->getStart(d) || box.getEnd(d) > region->getEnd(d))
      throw FitsException(withFitsFileName("request for illegal region:\n" + box.toString() +
                                               " is not inside the region read " + region->toString(),
                                           filename));
}

FitsBlank FitsIn::blank__() const {
  if (bitpix < 0) return {};
  if (const auto* card = dynamic_cast<const FitsIntCard*>(findCardInList("BLANK   ", arrayList)))
    return {true, card->getInt()};
  // A card kept unparsed (allJunk) counts as well, when it holds an integer.
  for (const FitsCard* card : junkList) {
    if (card == nullptr || card->getKeyword() != "BLANK   ") continue;
    try {
      const std::unique_ptr<FitsCard> typed(parseCard(card->writeCard()));
      if (const auto* value = dynamic_cast<const FitsIntCard*>(typed.get())) return {true, value->getInt()};
    } catch (const FitsException&) {
      // not an integer: no BLANK value
    }
  }
  return {};
}

FitsIn FitsIn::getNextExtension() {
  if (!extend) throw FitsException("No extension present");
  // The next header starts after the last whole record of this data segment.
  const long records =
      dataLength / FitsPhysical_::RECORD_LENGTH + (dataLength % FitsPhysical_::RECORD_LENGTH != 0);
  long bytes = 0;
  long next = 0;
  if (__builtin_mul_overflow(records, static_cast<long>(FitsPhysical_::RECORD_LENGTH), &bytes) ||
      __builtin_add_overflow(dataOffset, bytes, &next))
    throw FitsException("no further extensions");
  return FitsIn(filename, quiet, next);
}

void FitsIn::describeSelf(std::ostream& os) {
  os << "Fits: file='" << filename << "'\n";
  FitsHeader::describeSelf(os);
  os << "Data segment offset: " << dataOffset << "\n";
  os << "Data segment length: " << dataLength << "\n";
  if (region) os << "Region: " << region->toString() << "\n";
  if (map) {
    os << "Memory map @: " << static_cast<const void*>(map) << "\n";
    os << "File offset: " << mapOffset << "\n";
  }
}

// =============================================================================================
// FitsExtensionIn

FitsExtensionIn::FitsExtensionIn(const std::string& filename, bool quiet, bool allJunk)
    : FitsIn(filename, quiet, allJunk) {}

FitsExtensionIn::FitsExtensionIn(const char* filename, bool quiet, bool allJunk)
    : FitsIn(filename, quiet, allJunk) {}

FitsExtensionIn::~FitsExtensionIn() = default;

FitsIn FitsExtensionIn::getExtension(unsigned long n) {
  if (n == 0) throw FitsException("Use normal FitsIn methods to read primary HDU and data segment.");
  while (extensions.size() < n) {
    FitsIn next = extensions.empty() ? FitsIn::getNextExtension() : extensions.back().getNextExtension();
    extensions.push_back(next);
  }
  extNo = n;
  return extensions[n - 1];
}

FitsIn FitsExtensionIn::getNextExtension() { return getExtension(extNo + 1); }

}  // namespace orv
