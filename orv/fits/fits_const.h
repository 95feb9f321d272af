#ifndef ORV_FITS_FITS_CONST_H
#define ORV_FITS_FITS_CONST_H

namespace orv {

// Layout of FITS records and cards. Lengths count characters; the positions
// are 0-based string indices (column = index + 1).
struct FitsPhysical_ {
  static constexpr int RECORD_LENGTH = 2880;         // bytes of one header or data record
  static constexpr int CARD_LENGTH = 80;             // characters of one card
  static constexpr int CARDS_OF_RECORD_LENGTH = 36;  // cards in one record
  static constexpr int KEYWORD_LENGTH = 8;           // keyword field, columns 1-8
  static constexpr int FIXED_VALUE_END = 30;         // fixed logical or number ends in column 30
  static constexpr int FIXED_STRING_MIN_LENGTH = 8;  // shortest padded fixed-format string value
  static constexpr int FIXED_STRING_MIN_END = 19;    // earliest closing quote of a fixed string (column 20)
  static constexpr int VALUE_MIN_START = 10;         // first value column (column 11)
  static constexpr int COMMENT_MAX_LENGTH = 71;      // longest text of one commentary card piece
};

// One row of the known-keyword table. A keyword text of 8 characters names
// exactly that keyword; a shorter one names every keyword beginning with it.
struct FitsKnownKey {
  int id;
  int keyClass;
  int type;
  char keyword[9];
  bool fixed;
};

// The reserved keywords, the legal BITPIX codes and the NAXIS limits.
class FitsKnownList {
 public:
  // Class codes of the table (keyClass).
  enum KeyClass {
    CLASS_MANDATORY = 0,
    CLASS_ARRAY,
    CLASS_DATE,
    CLASS_COMMENTARY,
    CLASS_EXTENSION,
    CLASS_OTHER
  };
  // Value kinds of the table (type).
  enum KeyType { TYPE_NONE = 0, TYPE_STRING, TYPE_LOGICAL, TYPE_INTEGER, TYPE_FLOAT, TYPE_COMPLEX };
  // Ids of the rows the FITS classes refer to by number.
  enum KeyId {
    ID_SIMPLE = 0,
    ID_BITPIX = 1,
    ID_NAXIS = 2,
    ID_XTENSION = 3,
    ID_PCOUNT = 4,
    ID_GCOUNT = 5,
    ID_EXTEND = 6,
    ID_DATE = 7,
    ID_BLOCKED = 9,
    ID_EQUINOX = 14,
    ID_EPOCH = 15,
    ID_COMMENT = 18,
    ID_HISTORY = 19,
    ID_BLANK_KEYWORD = 20,
    ID_BSCALE = 21,
    ID_BZERO = 22,
    ID_END = 48,
    ID_NONE = 49  // no row matched, or no check ran
  };

  static constexpr int N_ROWS = 49;
  static constexpr int N_KNOWN = 36;  // rows 0..35 take part in the keyword search

  static constexpr int BITPIX_CHAR = 8;
  static constexpr int BITPIX_SHORT = 16;
  static constexpr int BITPIX_INT = 32;
  static constexpr int BITPIX_FLOAT = -32;
  static constexpr int BITPIX_DOUBLE = -64;

  static constexpr int NAXIS_LO_LIMIT = 0;
  static constexpr int NAXIS_HI_LIMIT = 999;

  static const FitsKnownKey KEY[N_ROWS];

  // The searched rows 0 .. N_KNOWN-1 as a half-open range.
  static const FitsKnownKey* begin();
  static const FitsKnownKey* end();
};

}  // namespace orv

#endif
