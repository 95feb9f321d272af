#include "orv/fits/fits_card.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "util/stringfac.h"
#include "util/uexception.h"
#include "util/utdate.h"

namespace orv {

namespace {

using Phys = FitsPhysical_;

std::string fitToCard(std::string text) {
  text.resize(Phys::CARD_LENGTH, ' ');
  return text;
}

std::string stripLeadingBlanks(const std::string& text) {
  size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

// FITS knows only the exponent letter 'E' (or 'D'); the formatter writes 'e'.
std::string upperExponent(std::string text) {
  size_t e = text.find('e');
  if (e != std::string::npos) text[e] = 'E';
  return text;
}

// Integers and doubles in the value field: right-aligned in columns 11-30 in
// fixed format, starting in column 11 otherwise. The formatter's failures
// leave the card classes as FitsExceptions with the same message.
std::string integerText(long value, bool fixed) {
  try {
    return fixed ? util::StringFactory::toString(value, 20)
                 : stripLeadingBlanks(util::StringFactory::toString(value, 22));
  } catch (const util::StringException& e) {
    throw FitsException(e.what());
  }
}

std::string floatText(double value, bool fixed) {
  const int width = fixed ? 20 : 22;
  try {
    std::string text = util::StringFactory::toString(value, width, 15);
    // Next to the largest doubles, 15 digits can round beyond the double
    // range, and the card would read back as infinity; one digit less
    // stays inside it.
    if (!std::isfinite(std::strtod(text.c_str(), nullptr)))
      text = util::StringFactory::toString(value, width, 14);
    return upperExponent(fixed ? text : stripLeadingBlanks(text));
  } catch (const util::StringException& e) {
    throw FitsException(e.what());
  }
}

void requireFinite(double value, const std::string& keyword) {
  if (!std::isfinite(value))
    throw FitsException("value of '" + keyword + "' is no finite floating point number");
}

bool isKeywordChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

}  // namespace

// ---------------------------------------------------------------- FitsCard

FitsCard::FitsCard(const std::string& keyword, bool fixed, const std::string& comment)
    : keyword(keyword), fixed(fixed), comment(comment), classFlags(0), id(FitsKnownList::ID_NONE) {
  if (keyword.size() != static_cast<size_t>(Phys::KEYWORD_LENGTH))
    throw FitsException("keyword must be 8 chars");
}

FitsCard::~FitsCard() = default;

bool FitsCard::isComment() const { return false; }

std::string FitsCard::getString() const {
  throw FitsException("value of '" + keyword + "' is no valid string");
}

bool FitsCard::getBool() const { throw FitsException("value of '" + keyword + "' is no valid boolian"); }

long FitsCard::getInt() const { throw FitsException("value of '" + keyword + "' is no valid integer"); }

double FitsCard::getFloat() const {
  throw FitsException("value of '" + keyword + "' is no valid floating point number");
}

std::complex<double> FitsCard::getComplex() const {
  throw FitsException("value of '" + keyword + "' is no valid complex number");
}

std::string FitsCard::writeCard() const { return fitToCard(keyword + comment); }

std::string FitsCard::valueCardImage__(const std::string& valueText) const {
  std::string text = keyword + "= " + valueText;
  if (!comment.empty()) text += " / " + comment;
  return fitToCard(std::move(text));
}

void FitsCard::check_syntax() {
  const size_t lastNonBlank = keyword.find_last_not_of(' ');
  if (lastNonBlank != std::string::npos) {
    if (keyword[0] == ' ') throw FitsException("keyword '" + keyword + "' has leading blanks");
    if (keyword.find(' ') < lastNonBlank)
      throw FitsException("keyword '" + keyword + "' has embedded blanks");
    for (size_t i = 0; i <= lastNonBlank; ++i)
      if (!isKeywordChar(keyword[i])) throw FitsException("keyword '" + keyword + "' has illegal characters");
  }

  // The first row whose text is a prefix of the keyword wins.
  const FitsKnownKey* row = FitsKnownList::begin();
  for (; row != FitsKnownList::end(); ++row)
    if (keyword.compare(0, std::strlen(row->keyword), row->keyword) == 0) break;
  if (row == FitsKnownList::end()) return;

  id = row->id;
  switch (row->type) {
    case FitsKnownList::TYPE_NONE:
      if (!isComment()) throw FitsException("no value allowed");
      break;
    case FitsKnownList::TYPE_STRING:
      getString();
      break;
    case FitsKnownList::TYPE_LOGICAL:
      getBool();
      break;
    case FitsKnownList::TYPE_INTEGER:
      getInt();
      break;
    case FitsKnownList::TYPE_FLOAT:
      getFloat();
      break;
    case FitsKnownList::TYPE_COMPLEX:
      getComplex();
      break;
  }
  if (row->fixed && !fixed) throw FitsException("value must use fixed format");

  if (row->keyClass == FitsKnownList::CLASS_DATE) {
    try {
      util::FitsDate date(getString());
    } catch (const util::UException& e) {
      throw FitsException(e.what());
    }
  }
  classFlags = 1 << row->keyClass;
}

// ---------------------------------------------------------------- FitsBoolCard

FitsBoolCard::FitsBoolCard(const std::string& keyword, bool value, bool fixed, std::string comment)
    : FitsCard(keyword, fixed, comment), value(value) {
  check_syntax();
}

FitsBoolCard::FitsBoolCard(const FitsBoolCard& other)
    : FitsBoolCard(other.keyword, other.value, other.fixed, other.comment) {}

FitsCard* FitsBoolCard::clone() const { return new FitsBoolCard(*this); }

bool FitsBoolCard::getBool() const { return value; }

std::string FitsBoolCard::writeCard() const {
  // Fixed format puts the letter in column 30.
  return valueCardImage__((fixed ? std::string(19, ' ') : std::string()) + (value ? "T" : "F"));
}

// ---------------------------------------------------------------- FitsIntCard

FitsIntCard::FitsIntCard(const std::string& keyword, long value, bool fixed, std::string comment)
    : FitsCard(keyword, fixed, comment), value(value) {
  check_syntax();
}

FitsIntCard::FitsIntCard(const FitsIntCard& other)
    : FitsIntCard(other.keyword, other.value, other.fixed, other.comment) {}

FitsCard* FitsIntCard::clone() const { return new FitsIntCard(*this); }

long FitsIntCard::getInt() const { return value; }

double FitsIntCard::getFloat() const { return static_cast<double>(value); }

std::string FitsIntCard::writeCard() const { return valueCardImage__(integerText(value, fixed)); }

// ---------------------------------------------------------------- FitsFloatCard

FitsFloatCard::FitsFloatCard(const std::string& keyword, double value, bool fixed, std::string comment)
    : FitsCard(keyword, fixed, comment), value(value) {
  requireFinite(value, keyword);
  check_syntax();
}

FitsFloatCard::FitsFloatCard(const FitsFloatCard& other)
    : FitsFloatCard(other.keyword, other.value, other.fixed, other.comment) {}

FitsCard* FitsFloatCard::clone() const { return new FitsFloatCard(*this); }

double FitsFloatCard::getFloat() const { return value; }

std::string FitsFloatCard::writeCard() const { return valueCardImage__(floatText(value, fixed)); }

// ---------------------------------------------------------------- FitsComplexCard

FitsComplexCard::FitsComplexCard(const std::string& keyword, std::complex<double> value, bool fixed,
                                 std::string comment)
    : FitsCard(keyword, fixed, comment), value(value) {
  requireFinite(value.real(), keyword);
  requireFinite(value.imag(), keyword);
  check_syntax();
}

FitsComplexCard::FitsComplexCard(const FitsComplexCard& other)
    : FitsComplexCard(other.keyword, other.value, other.fixed, other.comment) {}

FitsCard* FitsComplexCard::clone() const { return new FitsComplexCard(*this); }

std::complex<double> FitsComplexCard::getComplex() const { return value; }

// The FITS complex form "(re, im)", starting in column 11 in either format.
std::string FitsComplexCard::writeCard() const {
  return valueCardImage__("(" + floatText(value.real(), false) + ", " + floatText(value.imag(), false) + ")");
}

// ---------------------------------------------------------------- FitsStringCard

FitsStringCard::FitsStringCard(const std::string& keyword, std::string value, bool fixed, std::string comment)
    : FitsCard(keyword, fixed, comment), value(std::move(value)) {
  check_syntax();
}

FitsStringCard::FitsStringCard(const FitsStringCard& other)
    : FitsStringCard(other.keyword, other.value, other.fixed, other.comment) {}

FitsCard* FitsStringCard::clone() const { return new FitsStringCard(*this); }

std::string FitsStringCard::getString() const { return value; }

std::string FitsStringCard::writeCard() const {
  // At most 68 value characters fit between the opening quote in column 11
  // and a closing quote in column 80. Quotes go out doubled: a pair that is
  // already doubled stays one pair, a single quote becomes a pair, and the
  // value is cut only between whole characters or pairs.
  const size_t maxValue = Phys::CARD_LENGTH - 1 - (Phys::VALUE_MIN_START + 1);
  std::string text = keyword + "= '";
  size_t written = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    const bool quote = value[i] == '\'';
    const size_t need = quote ? 2 : 1;
    if (written + need > maxValue) break;
    if (quote) {
      text += "''";
      if (i + 1 < value.size() && value[i + 1] == '\'') ++i;
    } else {
      text += value[i];
    }
    written += need;
  }
  if (fixed && text.size() < static_cast<size_t>(Phys::FIXED_STRING_MIN_END))
    text.resize(Phys::FIXED_STRING_MIN_END, ' ');
  text += '\'';
  if (!comment.empty()) {
    if (text.size() < static_cast<size_t>(Phys::FIXED_VALUE_END) && comment.size() + 3 < 50)
      text.resize(Phys::FIXED_VALUE_END, ' ');
    text += " / " + comment;
  }
  return fitToCard(std::move(text));
}

// ---------------------------------------------------------------- FitsCommentCard

FitsCommentCard::FitsCommentCard(const std::string& keyword, const std::string& text)
    : FitsCard(keyword, false, text) {
  check_syntax();
}

FitsCommentCard::FitsCommentCard(const FitsCommentCard& other)
    : FitsCommentCard(other.keyword, other.comment) {}

FitsCard* FitsCommentCard::clone() const { return new FitsCommentCard(*this); }

bool FitsCommentCard::isComment() const { return true; }

// ---------------------------------------------------------------- FitsJunkCard

FitsJunkCard::FitsJunkCard(const std::string& keyword, const std::string& text)
    : FitsCard(keyword, false, text) {}

FitsJunkCard::FitsJunkCard(const FitsJunkCard& other) : FitsJunkCard(other.keyword, other.comment) {}

FitsCard* FitsJunkCard::clone() const { return new FitsJunkCard(*this); }

bool FitsJunkCard::isComment() const { return true; }

}  // namespace orv
