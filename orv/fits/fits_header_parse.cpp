// Card images to cards: the text side of FitsHeader (parseCard and the
// comment field rule of value cards).
#include <cstdlib>
#include <memory>

#include "orv/fits/fits_header.h"

namespace orv {

namespace {

using Phys = FitsPhysical_;
const size_t kCardLength = Phys::CARD_LENGTH;
const size_t kValueStart = Phys::VALUE_MIN_START;
const size_t kFixedEnd = Phys::FIXED_VALUE_END;

bool isBlankText(const std::string& text) { return text.find_first_not_of(' ') == std::string::npos; }

// strtod stops at the FITS exponent letter 'D' ("1.5D+02"). When it stands
// where an exponent may stand, read the number again with 'E' in its place.
double readNumber(const char* text, const char** numberEnd) {
  char* stop = nullptr;
  double value = std::strtod(text, &stop);
  const char* end = text + (stop - text);
  if (end != text && *end == 'D') {
    const char* exponent = end + 1;
    if (*exponent == '+' || *exponent == '-') ++exponent;
    if (*exponent >= '0' && *exponent <= '9') {
      std::string copy(text);
      copy[end - text] = 'E';
      char* copyEnd = nullptr;
      value = std::strtod(copy.c_str(), &copyEnd);
      end = text + (copyEnd - copy.c_str());
    }
  }
  *numberEnd = end;
  return value;
}

}  // namespace

FitsCard* FitsHeader::parseCard(const std::string& cardImage) const {
  // Callers pass whole 80-character cards; anything else is padded or cut so
  // that no column beyond the card is ever touched.
  std::string card = cardImage;
  card.resize(kCardLength, ' ');
  const std::string keyword = card.substr(0, Phys::KEYWORD_LENGTH);

  if (!isBlankText(keyword)) {
    if (card.compare(Phys::KEYWORD_LENGTH, 2, "= ") == 0) return parseValueCard__(card, keyword);
    if (keyword == "COMMENT " || keyword == "HISTORY ") {
      const size_t first = card.find_first_not_of(' ', Phys::KEYWORD_LENGTH);
      if (first == std::string::npos) return nullptr;
      return new FitsCommentCard(keyword, card.substr(first));
    }
    return new FitsJunkCard(keyword, card.substr(Phys::KEYWORD_LENGTH));
  }

  const std::string text = card.substr(Phys::KEYWORD_LENGTH);
  if (isBlankText(text)) return nullptr;
  return new FitsCommentCard(keyword, text);
}

FitsCard* FitsHeader::parseValueCard__(const std::string& card, const std::string& keyword) const {
  const size_t first = card.find_first_not_of(' ', kValueStart);
  if (first == std::string::npos) throw FitsException("value is undefined");

  if (card[first] == '\'') return parseStringValue__(card, keyword, first);

  if (card[first] == 'T' || card[first] == 'F') {
    const std::string comment = getCardComment(card.substr(first + 1));
    return new FitsBoolCard(keyword, card[first] == 'T', first == kFixedEnd - 1, comment);
  }

  const std::string valueText = card.substr(kValueStart);
  const char* text = valueText.c_str();
  const char* doubleEnd = nullptr;
  const double doubleValue = readNumber(text, &doubleEnd);
  if (doubleEnd == text) {
    if (card.find('/', kValueStart) == std::string::npos) throw FitsException("neither value nor comment");
    return new FitsJunkCard(keyword, card.substr(Phys::KEYWORD_LENGTH));
  }
  const size_t consumed = static_cast<size_t>(doubleEnd - text);
  const bool fixed = consumed == kFixedEnd - kValueStart;
  const std::string comment = getCardComment(valueText.substr(consumed));

  char* longEnd = nullptr;
  const long longValue = std::strtol(text, &longEnd, 10);
  if (longEnd == doubleEnd) return new FitsIntCard(keyword, longValue, fixed, comment);
  return new FitsFloatCard(keyword, doubleValue, fixed, comment);
}

FitsCard* FitsHeader::parseStringValue__(const std::string& card, const std::string& keyword,
                                         size_t openQuote) const {
  // The closing quote is a quote in column 80 or a quote not followed by a
  // second one; a doubled quote belongs to the value.
  size_t search = openQuote + 1;
  size_t closeQuote;
  for (;;) {
    closeQuote = card.find('\'', search);
    if (closeQuote == std::string::npos) throw FitsException("closing quote of string is missing");
    if (closeQuote == kCardLength - 1 || card[closeQuote + 1] != '\'') break;
    search = closeQuote + 2;
    if (search >= kCardLength) throw FitsException("quote missmatch in string");
  }

  std::string value;
  bool fixed = false;
  if (closeQuote > openQuote + 1) {
    fixed = openQuote == kValueStart && closeQuote >= static_cast<size_t>(Phys::FIXED_STRING_MIN_END);
    value = card.substr(openQuote + 1, closeQuote - openQuote - 1);
    const size_t last = value.find_last_not_of(' ');
    value = last == std::string::npos ? std::string(" ") : value.substr(0, last + 1);
  }
  const std::string comment = getCardComment(card.substr(closeQuote + 1));
  return new FitsStringCard(keyword, value, fixed, comment);
}

std::string FitsHeader::getCardComment(const std::string& rest) const {
  const size_t first = rest.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  if (rest[first] != '/') throw FitsException("neither comment nore blanks after value");
  const size_t begin = rest.find_first_not_of(' ', first + 1);
  if (begin == std::string::npos) return std::string();
  return rest.substr(begin, rest.find_last_not_of(' ') - begin + 1);
}

}  // namespace orv
