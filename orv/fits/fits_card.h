#ifndef ORV_FITS_FITS_CARD_H
#define ORV_FITS_FITS_CARD_H

#include <complex>
#include <string>

#include "orv/fits/fits_const.h"
#include "orv/fits/fits_exception.h"

namespace orv {

// One 80-column header card. A card checks its keyword and value against the
// known-keyword table when it is built, so a card either exists valid or not
// at all, and it never changes afterwards: to change a card, build a new one.
// Cards live on the heap and belong to whoever holds the pointer.
class FitsCard {
 public:
  // Flags of the known-keyword classes; at most one is set.
  enum ClassFlag {
    FLAG_MANDATORY = 1,
    FLAG_ARRAY = 2,
    FLAG_DATE = 4,
    FLAG_COMMENTARY = 8,
    FLAG_EXTENSION = 16,
    FLAG_OTHER = 32
  };

  FitsCard(const std::string& keyword, bool fixed, const std::string& comment);
  FitsCard& operator=(const FitsCard&) = delete;

  virtual bool isComment() const;
  virtual ~FitsCard();
  virtual FitsCard* clone() const = 0;
  virtual std::string getString() const;
  virtual bool getBool() const;
  virtual long getInt() const;
  virtual double getFloat() const;
  virtual std::complex<double> getComplex() const;
  // The 80-character card image.
  virtual std::string writeCard() const;

  std::string getKeyword() const { return keyword; }
  std::string getComment() const { return comment; }
  bool isFixed() const { return fixed; }
  int what_id() const { return id; }
  bool isMandatory() const { return (classFlags & FLAG_MANDATORY) != 0; }
  bool isArray() const { return (classFlags & FLAG_ARRAY) != 0; }
  bool isDate() const { return (classFlags & FLAG_DATE) != 0; }
  bool isCommentary() const { return (classFlags & FLAG_COMMENTARY) != 0; }
  bool isExtension() const { return (classFlags & FLAG_EXTENSION) != 0; }
  bool isOther() const { return (classFlags & FLAG_OTHER) != 0; }
  bool isReserved() const { return classFlags != 0; }
  // Text-only card that is not COMMENT, HISTORY or blank commentary.
  bool isJunk() const { return isComment() && !isCommentary(); }

 protected:
  // Validates keyword, value kind and format against the known-keyword table
  // and sets id and class flag. Subclass constructors call it last, so the
  // virtual getters it uses are those of the finished card.
  void check_syntax();
  // "keyword= " followed by the value text and, when there is a comment,
  // " / " and the comment, cut or padded to 80 characters.
  std::string valueCardImage__(const std::string& valueText) const;

  std::string keyword;
  bool fixed;
  std::string comment;
  int classFlags;
  int id;
};

class FitsBoolCard : public FitsCard {
 public:
  FitsBoolCard(const std::string& keyword, bool value, bool fixed, std::string comment);
  FitsBoolCard(const FitsBoolCard& other);
  FitsCard* clone() const override;
  bool getBool() const override;
  std::string writeCard() const override;

 private:
  bool value;
};

class FitsIntCard : public FitsCard {
 public:
  FitsIntCard(const std::string& keyword, long value, bool fixed, std::string comment);
  FitsIntCard(const FitsIntCard& other);
  FitsCard* clone() const override;
  long getInt() const override;
  double getFloat() const override;
  std::string writeCard() const override;

 private:
  long value;
};

// Floating-point values must be finite: NaN and infinities are not FITS
// values, so such a card is refused at construction.
class FitsFloatCard : public FitsCard {
 public:
  FitsFloatCard(const std::string& keyword, double value, bool fixed, std::string comment);
  FitsFloatCard(const FitsFloatCard& other);
  FitsCard* clone() const override;
  double getFloat() const override;
  std::string writeCard() const override;

 private:
  double value;
};

class FitsComplexCard : public FitsCard {
 public:
  FitsComplexCard(const std::string& keyword, std::complex<double> value, bool fixed, std::string comment);
  FitsComplexCard(const FitsComplexCard& other);
  FitsCard* clone() const override;
  std::complex<double> getComplex() const override;
  std::string writeCard() const override;

 private:
  std::complex<double> value;
};

// The value is the text between the quotes. Quotes that stand as a doubled
// pair (as read from a file) are kept as they are; a single quote is doubled
// when the card is written.
class FitsStringCard : public FitsCard {
 public:
  FitsStringCard(const std::string& keyword, std::string value, bool fixed, std::string comment);
  FitsStringCard(const FitsStringCard& other);
  FitsCard* clone() const override;
  std::string getString() const override;
  std::string writeCard() const override;

 private:
  std::string value;
};

// Commentary text (COMMENT, HISTORY, blank keyword); under any other keyword
// it counts as junk.
class FitsCommentCard : public FitsCard {
 public:
  FitsCommentCard(const std::string& keyword, const std::string& text);
  FitsCommentCard(const FitsCommentCard& other);
  FitsCard* clone() const override;
  bool isComment() const override;
};

// A card whose text is kept as it stands (columns 9-80); never checked.
class FitsJunkCard : public FitsCard {
 public:
  FitsJunkCard(const std::string& keyword, const std::string& text);
  FitsJunkCard(const FitsJunkCard& other);
  FitsCard* clone() const override;
  bool isComment() const override;
};

}  // namespace orv

#endif
