// Card images to typed cards (FitsHeader::parseCard, getCardComment).
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>

#include "orv/fits/fits_header.h"
#include "tests/orv/fits/fits_fixtures.h"

using namespace orv;
using fits_test::messageOf;
using fits_test::pad80;

namespace {

enum Kind { NONE, BOOL, INT, FLOAT, STRING, COMMENT, JUNK, ERROR };

struct Case {
  std::string image;  // padded to 80 columns
  Kind kind;
  std::string value;  // expected value as text (or the error message)
  bool fixed;
  std::string comment;
};

std::string valueText(const FitsCard& card, Kind kind) {
  switch (kind) {
    case BOOL:
      return card.getBool() ? "T" : "F";
    case INT:
      return std::to_string(card.getInt());
    case FLOAT:
      return std::to_string(card.getFloat());
    case STRING:
      return card.getString();
    default:
      return "";
  }
}

}  // namespace

TEST(FitsCardParse, TableOfImages) {
  const Case cases[] = {
      {"SIMPLE  =" + std::string(20, ' ') + "T", BOOL, "T", true, ""},
      {"SIMPLE  = T", ERROR, "value must use fixed format", false, ""},
      {"NAXIS   =" + std::string(20, ' ') + "2", INT, "2", true, ""},
      {"BSCALE  = 1.0", FLOAT, std::to_string(1.0), false, ""},
      {"BSCALE  = 1", INT, "1", false, ""},
      {"EXPTIME = 1.5E+02 / s", FLOAT, std::to_string(150.0), false, "s"},
      {"EXPTIME = 1.5D+02", FLOAT, std::to_string(150.0), false, ""},
      {"EXPTIME = -2D-1 / tenths", FLOAT, std::to_string(-0.2), false, "tenths"},
      {"EXPTIME =" + std::string(14, ' ') + "1.5D+02", FLOAT, std::to_string(150.0), true, ""},
      {"EXPTIME = 1.5D", ERROR, "neither comment nore blanks after value", false, ""},
      {"CRVAL1  = 12abc", ERROR, "neither comment nore blanks after value", false, ""},
      {"KEY     = NAN", ERROR, "value of 'KEY     ' is no finite floating point number", false, ""},
      {"KEY     = 1E999", ERROR, "value of 'KEY     ' is no finite floating point number", false, ""},
      {"OBJECT  = 'M31'", STRING, "M31", false, ""},
      {"OBJECT  = 'M31     '", STRING, "M31", true, ""},
      {"OBJECT  = 'It''s'", STRING, "It''s", false, ""},
      {"OBJECT  = ''", STRING, "", false, ""},
      {"OBJECT  = '   '", STRING, " ", false, ""},
      {"OBJECT  = '  a '   /  note  ", STRING, "  a", false, "note"},
      {"OBJECT  = 'abc", ERROR, "closing quote of string is missing", false, ""},
      {"OBJECT  = 'abc' x", ERROR, "neither comment nore blanks after value", false, ""},
      {"OBJECT  = '" + std::string(67, 'a') + "''", ERROR, "quote missmatch in string", false, ""},
      {"OBJECT  = '" + std::string(68, 'a') + "'", STRING, std::string(68, 'a'), true, ""},
      {"KEY     = (1.0, 2.0) / complex", JUNK, "", false, ""},
      {"KEY     = (1.0, 2.0)", ERROR, "neither value nor comment", false, ""},
      {"KEY     = ", ERROR, "value is undefined", false, ""},
      {"COMMENT    hello  ", COMMENT, "", false, "hello" + std::string(64, ' ')},
      {"COMMENT ", NONE, "", false, ""},
      {"", NONE, "", false, ""},
      {"          note", COMMENT, "", false, "  note" + std::string(66, ' ')},
      {"COMMENT = 'x'", ERROR, "no value allowed", false, ""},
      {"END", JUNK, "", false, ""},
      {"HIERARCH A = 1", JUNK, "", false, ""},
      {"KEY=1", JUNK, "", false, ""},
      {"KEY     = " + std::string(20, '9'), INT, std::to_string(LONG_MAX), true, ""},
      {"BITPIX  = 16", ERROR, "value must use fixed format", false, ""},
      {"naxis   = 1", ERROR, "keyword 'naxis   ' has illegal characters", false, ""},
      {"TFLAG   = T / yes", BOOL, "T", false, "yes"},
      {"TFLAG   = TRUE", ERROR, "neither comment nore blanks after value", false, ""},
  };
  FitsHeader header;
  for (const Case& c : cases) {
    const std::string image = pad80(c.image);
    SCOPED_TRACE(image);
    std::unique_ptr<FitsCard> card;
    try {
      card.reset(header.parseCard(image));
    } catch (const FitsException& e) {
      EXPECT_EQ(ERROR, c.kind);
      EXPECT_EQ(c.value, e.message());
      continue;
    }
    ASSERT_NE(ERROR, c.kind);
    if (c.kind == NONE) {
      EXPECT_EQ(nullptr, card);
      continue;
    }
    ASSERT_NE(nullptr, card);
    if (c.kind == JUNK) {
      EXPECT_TRUE(card->isJunk());
      EXPECT_EQ(image.substr(8), card->getComment());
      EXPECT_EQ(image, card->writeCard());
      continue;
    }
    if (c.kind == COMMENT) {
      EXPECT_TRUE(card->isCommentary());
      EXPECT_EQ(c.comment, card->getComment());
      continue;
    }
    EXPECT_EQ(c.value, valueText(*card, c.kind));
    EXPECT_EQ(c.fixed, card->isFixed());
    EXPECT_EQ(c.comment, card->getComment());
    EXPECT_EQ(c.kind == INT, dynamic_cast<FitsIntCard*>(card.get()) != nullptr);
  }
}

TEST(FitsCardParse, ReadThenWriteKeepsDoubledQuotes) {
  FitsHeader header;
  const std::string image = pad80("OBJECT  = 'It''s a ''test'''");
  std::unique_ptr<FitsCard> card(header.parseCard(image));
  EXPECT_EQ("It''s a ''test''", card->getString());
  EXPECT_EQ(image, card->writeCard());
}

TEST(FitsCardParse, CardComment) {
  FitsHeader header;
  EXPECT_EQ("", header.getCardComment("    "));
  EXPECT_EQ("", header.getCardComment(""));
  EXPECT_EQ("", header.getCardComment("  /   "));
  EXPECT_EQ("a b", header.getCardComment(" /  a b  "));
  EXPECT_EQ("x/y", header.getCardComment("/x/y"));
  try {
    header.getCardComment(" x");
    FAIL();
  } catch (const FitsException& e) {
    EXPECT_STREQ("FitsException: neither comment nore blanks after value", e.what());
  }
}
