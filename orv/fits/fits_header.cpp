#include "orv/fits/fits_header.h"

#include <algorithm>
#include <array>
#include <climits>
#include <iostream>
#include <memory>
#include <unordered_map>
#include <vector>

namespace orv {

namespace {

const char* const kCommentKey = "COMMENT ";
const char* const kHistoryKey = "HISTORY ";
const char* const kBlankKey = "        ";

bool isCommentaryKeyword(const std::string& keyword) {
  return keyword == kCommentKey || keyword == kHistoryKey || keyword == kBlankKey;
}

}  // namespace

// ---------------------------------------------------------------- read index

// Positions of the cards of the extension, other, array and user lists (one
// card per keyword there, as the adding operations keep them) and of the
// junk list (any number per keyword), by keyword.
class FitsHeader::ReadIndex__ {
 public:
  using Where = std::list<FitsCard*>::iterator;

  explicit ReadIndex__(FitsHeader& header)
      : uniqueLists{&header.extensionList, &header.otherList, &header.arrayList, &header.userList},
        junkList(&header.junkList) {}

  // The keyword map of a list that holds one card per keyword, or null.
  std::unordered_map<std::string, Where>* uniqueOf(const std::list<FitsCard*>& list) {
    for (size_t i = 0; i < uniqueLists.size(); ++i)
      if (uniqueLists[i] == &list) return &unique[i];
    return nullptr;
  }

  bool covers(const std::list<FitsCard*>& list) { return &list == junkList || uniqueOf(list) != nullptr; }

  // Records a card just inserted; false when a one-per-keyword list would
  // hold the keyword twice, which the index cannot describe.
  bool note(const std::list<FitsCard*>& list, Where where, const std::string& keyword) {
    if (&list == junkList) {
      junk[keyword].push_back(where);
      return true;
    }
    auto* map = uniqueOf(list);
    return map == nullptr || map->emplace(keyword, where).second;
  }

  std::array<const std::list<FitsCard*>*, 4> uniqueLists;
  std::array<std::unordered_map<std::string, Where>, 4> unique;
  const std::list<FitsCard*>* junkList;
  std::unordered_map<std::string, std::vector<Where>> junk;
};

void FitsHeader::startReadIndex__() {
  readIndex__.reset();
  for (const auto* list : {&extensionList, &otherList, &arrayList, &userList, &junkList})
    if (!list->empty()) return;
  readIndex__ = std::make_unique<ReadIndex__>(*this);
}

void FitsHeader::stopReadIndex__() { readIndex__.reset(); }

void FitsHeader::dropReadIndexFor__(const std::list<FitsCard*>& list) {
  if (readIndex__ != nullptr && readIndex__->covers(list)) readIndex__.reset();
}

// ---------------------------------------------------------------- construction

FitsHeader::FitsHeader()
    : quiet(false),
      bitpix(8),
      bytpix(1),
      naxis(0),
      naxisArray(nullptr),
      extend(false),
      pcount(0),
      gcount(1),
      bscale(1.0),
      bzero(0.0),
      dataOffset(FitsPhysical_::RECORD_LENGTH),
      dataLength(0) {}

FitsHeader::FitsHeader(const FitsHeader& other, bool quiet, bool) : FitsHeader() {
  try {
    copy(other);
  } catch (...) {
    releaseAll__();
    throw;
  }
  this->quiet = quiet;
}

FitsHeader::FitsHeader(const FitsHeader& other) : FitsHeader(other, other.quiet, false) {}

FitsHeader::FitsHeader(FitsHeader&& other) noexcept : FitsHeader() {
  copyScalars__(other);
  std::swap(naxisArray, other.naxisArray);
  sourceFile__.swap(other.sourceFile__);
  other.naxis = 0;
  const auto mine = cardLists__();
  const auto theirs = other.cardLists__();
  for (size_t i = 0; i < mine.size(); ++i) mine[i]->swap(*theirs[i]);
}

FitsHeader& FitsHeader::operator=(const FitsHeader& other) {
  if (&other != this) copy(other);
  return *this;
}

FitsHeader::~FitsHeader() { releaseAll__(); }

std::array<std::list<FitsCard*>*, 10> FitsHeader::cardLists__() {
  return {&mandatoryList, &naxisList, &extensionList, &otherList, &commentList,
          &historyList,   &blankList, &arrayList,     &userList,  &junkList};
}

std::array<const std::list<FitsCard*>*, 10> FitsHeader::cardLists__() const {
  return {&mandatoryList, &naxisList, &extensionList, &otherList, &commentList,
          &historyList,   &blankList, &arrayList,     &userList,  &junkList};
}

void FitsHeader::insertCard__(std::list<FitsCard*>& list, std::unique_ptr<FitsCard> card, bool atFront) {
  const auto where = list.insert(atFront ? list.begin() : list.end(), card.get());
  const FitsCard* inserted = card.release();
  if (readIndex__ != nullptr && inserted != nullptr &&
      !readIndex__->note(list, where, inserted->getKeyword()))
    readIndex__.reset();
}

void FitsHeader::releaseAll__() {
  delete[] naxisArray;
  naxisArray = nullptr;
  for (auto* list : cardLists__()) clearCardList(*list);
}

void FitsHeader::copyScalars__(const FitsHeader& other) {
  quiet = other.quiet;
  bitpix = other.bitpix;
  bytpix = other.bytpix;
  naxis = other.naxis;
  extend = other.extend;
  pcount = other.pcount;
  gcount = other.gcount;
  bscale = other.bscale;
  bzero = other.bzero;
  dataOffset = other.dataOffset;
  dataLength = other.dataLength;
}

void FitsHeader::copy(const FitsHeader& other) {
  copyScalars__(other);
  sourceFile__ = other.sourceFile__;
  delete[] naxisArray;
  naxisArray = nullptr;
  if (other.naxisArray != nullptr && other.naxis > 0) {
    naxisArray = new int[other.naxis];
    for (int i = 0; i < other.naxis; ++i) naxisArray[i] = other.naxisArray[i];
  }
  // Clones are new cards built by their constructors: the copy shares nothing.
  const auto mine = cardLists__();
  const auto theirs = other.cardLists__();
  for (size_t i = 0; i < mine.size(); ++i) copyCardList(*mine[i], *theirs[i]);
}

void FitsHeader::describeSelf(std::ostream& os) {
  os << "SIMPLE = T, BITPIX = " << bitpix << ", NAXIS = " << naxis << std::endl;
  for (int i = 1; i <= naxis && naxisArray != nullptr; ++i)
    os << "  NAXIS" << i << " = " << naxisArray[i - 1] << std::endl;
}

void FitsHeader::warn__(const std::string& text) const {
  if (!quiet) std::cerr << text;
}

// ---------------------------------------------------------------- scalar access

int FitsHeader::getNaxis(int i) const {
  if (i < 1 || i > naxis || naxisArray == nullptr) throw FitsException("Request for unset NAXIS parameter");
  return naxisArray[i - 1];
}

util::Region FitsHeader::getFullRegion() const {
  if (naxis <= 0 || naxisArray == nullptr) return util::Region(0);
  util::Region full(static_cast<unsigned long>(naxis));
  for (int d = 1; d <= naxis; ++d) full.setRange(d, 1, naxisArray[d - 1]);
  return full;
}

// ---------------------------------------------------------------- keyword access

FitsCard* FitsHeader::getValueCard(const std::string& keyword) const {
  for (const auto* list :
       {&mandatoryList, &naxisList, &extensionList, &arrayList, &otherList, &userList, &junkList}) {
    if (FitsCard* card = findCardInList(keyword, *list)) return card;
  }
  if (isCommentaryKeyword(keyword))
    throw FitsException(
        withFitsFileName("use getComment or getHistory to read keyword '" + keyword + "'", sourceFile__));
  throw FitsException(withFitsFileName("cannot find keyword '" + keyword + "'", sourceFile__));
}

double FitsHeader::getFloat(const std::string& keyword) const { return getValueCard(keyword)->getFloat(); }

long FitsHeader::getInt(const std::string& keyword) const { return getValueCard(keyword)->getInt(); }

bool FitsHeader::getBool(const std::string& keyword) const { return getValueCard(keyword)->getBool(); }

std::string FitsHeader::getString(const std::string& keyword) const {
  return getValueCard(keyword)->getString();
}

bool FitsHeader::isFixed(const std::string& keyword) const { return getValueCard(keyword)->isFixed(); }

std::string FitsHeader::getComment(const std::string& keyword) const {
  if (keyword == kCommentKey) return writeCommentsOfList(commentList);
  if (keyword == kHistoryKey) return writeCommentsOfList(historyList);
  if (keyword == kBlankKey) return writeCommentsOfList(blankList);
  return getValueCard(keyword)->getComment();
}

std::string FitsHeader::getComment() const { return getComment(kCommentKey); }

std::string FitsHeader::getHistory() const { return getComment(kHistoryKey); }

// ---------------------------------------------------------------- editing

void FitsHeader::addValueCard(FitsCard* cardPointer) {
  std::unique_ptr<FitsCard> card(cardPointer);
  const std::string keyword = card->getKeyword();

  if (card->isMandatory()) throw FitsException("mandatory keywords may only be (re)set via constructor");
  if (card->isCommentary()) throw FitsException("commentary card, try addCommentCard()");

  if (card->isExtension()) {
    eraseCardsFromJunkList(keyword);
    eraseCardFromList(keyword, extensionList);
    const int id = card->what_id();
    // A PCOUNT or GCOUNT outside int range cannot describe a data segment
    // here; it is stored as an impossible value (-1, 0) so that checkNaxis
    // refuses the header instead of working with a truncated count.
    if (id == FitsKnownList::ID_PCOUNT) {
      const long v = card->getInt();
      pcount = (v >= INT_MIN && v <= INT_MAX) ? static_cast<int>(v) : -1;
    } else if (id == FitsKnownList::ID_GCOUNT) {
      const long v = card->getInt();
      gcount = (v >= INT_MIN && v <= INT_MAX) ? static_cast<int>(v) : 0;
    } else if (id == FitsKnownList::ID_EXTEND) {
      extend = card->getBool();
    }
    if (id == FitsKnownList::ID_EXTEND)
      insertCard__(extensionList, std::move(card), true);
    else
      insertCard__(extensionList, std::move(card));
    return;
  }

  if (card->isDate() || card->isOther()) {
    eraseCardsFromJunkList(keyword);
    eraseCardFromList(keyword, otherList);
    if (card->isDate()) {
      insertCard__(otherList, std::move(card), true);
      return;
    }
    if (card->what_id() == FitsKnownList::ID_BLOCKED) {
      warn__("BLOCKED is deprecated, discarding card when writing\n");
    } else if (card->what_id() == FitsKnownList::ID_EPOCH) {
      if (findCardInList("EQUINOX ", otherList) == nullptr) {
        std::unique_ptr<FitsCard> equinox(
            new FitsFloatCard("EQUINOX ", card->getFloat(), true, "taken from deprecated EPOCH keyword"));
        insertCard__(otherList, std::move(equinox));
        warn__("EPOCH is deprecated, renaming to EQUINOX when writing\n");
      } else {
        warn__("EPOCH is deprecated, discarding card when writing\n");
      }
    }
    insertCard__(otherList, std::move(card));
    return;
  }

  if (card->isArray()) {
    if (card->what_id() == FitsKnownList::ID_BSCALE) bscale = card->getFloat();
    if (card->what_id() == FitsKnownList::ID_BZERO) bzero = card->getFloat();
    eraseCardsFromJunkList(keyword);
    eraseCardFromList(keyword, arrayList);
    insertCard__(arrayList, std::move(card));
    return;
  }

  if (card->isJunk()) {
    insertCard__(junkList, std::move(card));
    return;
  }

  eraseCardsFromJunkList(keyword);
  eraseCardFromList(keyword, userList);
  insertCard__(userList, std::move(card));
}

void FitsHeader::addValueCard(const std::string& keyword, double value, std::string comment, bool fixed) {
  addValueCard(std::make_unique<FitsFloatCard>(keyword, value, fixed, std::move(comment)).release());
}

void FitsHeader::addValueCard(const std::string& keyword, float value, std::string comment, bool fixed) {
  addValueCard(keyword, static_cast<double>(value), std::move(comment), fixed);
}

void FitsHeader::addValueCard(const std::string& keyword, int value, std::string comment, bool fixed) {
  addValueCard(keyword, static_cast<long>(value), std::move(comment), fixed);
}

void FitsHeader::addValueCard(const std::string& keyword, long value, std::string comment, bool fixed) {
  addValueCard(std::make_unique<FitsIntCard>(keyword, value, fixed, std::move(comment)).release());
}

void FitsHeader::addValueCard(const std::string& keyword, bool value, std::string comment, bool fixed) {
  addValueCard(std::make_unique<FitsBoolCard>(keyword, value, fixed, std::move(comment)).release());
}

void FitsHeader::addValueCard(const std::string& keyword, const std::string& value, std::string comment,
                              bool fixed) {
  addValueCard(std::make_unique<FitsStringCard>(keyword, value, fixed, std::move(comment)).release());
}

void FitsHeader::addValueCard(const std::string& keyword, const char* value, std::string comment,
                              bool fixed) {
  addValueCard(keyword, std::string(value), std::move(comment), fixed);
}

void FitsHeader::setBscale(double value) {
  addValueCard("BSCALE  ", value, "REAL = DATA * BSCALE + BZERO", true);
}

void FitsHeader::setBzero(double value) { addValueCard("BZERO   ", value, "DATA-OFFSET", true); }

void FitsHeader::addCommentCard(FitsCard* cardPointer) {
  std::unique_ptr<FitsCard> card(cardPointer);
  if (!card->isCommentary()) throw FitsException("no commentary card, try addValueCard()");
  switch (card->what_id()) {
    case FitsKnownList::ID_COMMENT:
      insertCard__(commentList, std::move(card));
      break;
    case FitsKnownList::ID_HISTORY:
      insertCard__(historyList, std::move(card));
      break;
    case FitsKnownList::ID_BLANK_KEYWORD:
      insertCard__(blankList, std::move(card));
      break;
    default:
      throw FitsException("strange! got commentary but not COMMENT, HISTORY or blank");
  }
}

void FitsHeader::addCommentCard(const std::string& keyword, const std::string& text) {
  if (isCommentaryKeyword(keyword))
    addCommentCard(std::make_unique<FitsCommentCard>(keyword, text).release());
  else
    insertCard__(junkList, std::make_unique<FitsJunkCard>(keyword, text));
}

void FitsHeader::addComment(const std::string& text) { parseCommentToCardList(kCommentKey, text); }

void FitsHeader::addHistory(const std::string& text) { parseCommentToCardList(kHistoryKey, text); }

void FitsHeader::parseCommentToCardList(const std::string& keyword, const std::string& text) {
  // Pieces end at the end of a word; the blanks between two words begin the
  // next piece. A word longer than the window is cut at the window's end.
  const size_t width = FitsPhysical_::COMMENT_MAX_LENGTH;
  size_t start = 0;
  size_t end = width;
  while (end < text.size()) {
    size_t last = end;
    const size_t blank = text.rfind(' ', end);
    if (blank != std::string::npos) {
      const size_t word = blank == 0 ? std::string::npos : text.find_last_not_of(' ', blank);
      if (word != std::string::npos && word >= start) last = word;
    }
    addCommentCard(keyword, text.substr(start, last - start + 1));
    start = last + 1;
    end = start + width - 1;
  }
  addCommentCard(keyword, start < text.size() ? text.substr(start) : std::string());
}

void FitsHeader::addJunkCard(FitsCard* card) { insertCard__(junkList, std::unique_ptr<FitsCard>(card)); }

void FitsHeader::addJunkCard(const std::string& cardImage) {
  std::string image = cardImage;
  image.resize(FitsPhysical_::CARD_LENGTH, ' ');
  addJunkCard(image.substr(0, FitsPhysical_::KEYWORD_LENGTH), image.substr(FitsPhysical_::KEYWORD_LENGTH));
}

void FitsHeader::addJunkCard(const std::string& keyword, const std::string& text) {
  insertCard__(junkList, std::make_unique<FitsJunkCard>(keyword, text));
}

int FitsHeader::eraseCard(const std::string& keyword) {
  if (findCardInList(keyword, mandatoryList) != nullptr || findCardInList(keyword, naxisList) != nullptr)
    throw FitsException("cannot erase mandatory card '" + keyword + "'");
  if (keyword == kCommentKey) {
    clearCardList(commentList);
    return 0;
  }
  if (keyword == kHistoryKey) {
    clearCardList(historyList);
    return 0;
  }
  if (keyword == kBlankKey) {
    clearCardList(blankList);
    return 0;
  }
  for (auto* list : {&extensionList, &arrayList, &otherList, &userList})
    if (eraseCardFromList(keyword, *list) == 0) return 0;
  return eraseCardsFromJunkList(keyword) > 0 ? 0 : -1;
}

std::string FitsHeader::adjustKeyword(std::string keyword) const {
  keyword.resize(FitsPhysical_::KEYWORD_LENGTH, ' ');
  return keyword;
}

// ---------------------------------------------------------------- list operations

void FitsHeader::clearCardList(std::list<FitsCard*>& list) {
  dropReadIndexFor__(list);
  for (FitsCard* card : list) delete card;
  list.clear();
}

void FitsHeader::copyCardList(std::list<FitsCard*>& dest, const std::list<FitsCard*>& src) {
  clearCardList(dest);
  for (const FitsCard* card : src) {
    std::unique_ptr<FitsCard> copy(card != nullptr ? card->clone() : nullptr);
    insertCard__(dest, std::move(copy));
  }
}

FitsCard* FitsHeader::findCardInList(const std::string& keyword, const std::list<FitsCard*>& list) const {
  if (readIndex__ != nullptr) {
    if (const auto* map = readIndex__->uniqueOf(list)) {
      const auto found = map->find(keyword);
      return found == map->end() ? nullptr : *found->second;
    }
  }
  for (FitsCard* card : list)
    if (card != nullptr && card->getKeyword() == keyword) return card;
  return nullptr;
}

int FitsHeader::eraseCardFromList(const std::string& keyword, std::list<FitsCard*>& list) {
  if (readIndex__ != nullptr) {
    if (auto* map = readIndex__->uniqueOf(list)) {
      const auto found = map->find(keyword);
      if (found == map->end()) return -1;
      delete *found->second;
      list.erase(found->second);
      map->erase(found);
      return 0;
    }
  }
  dropReadIndexFor__(list);
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (*it != nullptr && (*it)->getKeyword() == keyword) {
      delete *it;
      list.erase(it);
      return 0;
    }
  }
  return -1;
}

int FitsHeader::eraseCardsFromJunkList(const std::string& keyword) {
  int erased = 0;
  if (readIndex__ != nullptr) {
    const auto found = readIndex__->junk.find(keyword);
    if (found == readIndex__->junk.end()) return 0;
    for (const auto where : found->second) {
      delete *where;
      junkList.erase(where);
      ++erased;
    }
    readIndex__->junk.erase(found);
    return erased;
  }
  for (auto it = junkList.begin(); it != junkList.end();) {
    if (*it != nullptr && (*it)->getKeyword() == keyword) {
      delete *it;
      it = junkList.erase(it);
      ++erased;
    } else {
      ++it;
    }
  }
  return erased;
}

namespace {

bool isPrintableAscii(char c) { return c >= ' ' && c <= '~'; }

// The card image with every byte outside printable ASCII shown as \xHH.
std::string visibleImage(const std::string& image) {
  static const char hex[] = "0123456789ABCDEF";
  std::string text;
  for (const char c : image) {
    if (isPrintableAscii(c)) {
      text += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      text += "\\x";
      text += hex[byte >> 4];
      text += hex[byte & 15];
    }
  }
  return text;
}

}  // namespace

std::string FitsHeader::writeCardsOfList(const std::list<FitsCard*>& list) const {
  std::string text;
  text.reserve(list.size() * FitsPhysical_::CARD_LENGTH);
  for (const FitsCard* card : list) {
    if (card == nullptr) continue;
    // A FITS header holds printable ASCII only. A card that holds anything else
    // (read so from a file, or made so by a program) is left out of the text,
    // with a warning, rather than making the whole file invalid.
    const std::string image = card->writeCard();
    if (!std::all_of(image.begin(), image.end(), isPrintableAscii)) {
      warn__(visibleImage(image) + "\nholds characters outside printable ASCII: card not written\n");
      continue;
    }
    text += image;
  }
  return text;
}

std::string FitsHeader::writeCommentsOfList(const std::list<FitsCard*>& list) const {
  std::string text;
  for (const FitsCard* card : list)
    if (card != nullptr) text += card->getComment() + "\n";
  return text;
}

}  // namespace orv
