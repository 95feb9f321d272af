// Card classes: keyword rules, table lookup, value kinds and card images.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include "orv/fits/fits_card.h"
#include "tests/orv/fits/fits_fixtures.h"

using namespace orv;
using fits_test::messageOf;
using fits_test::pad80;

TEST(FitsException, WhatCarriesPrefix) {
  FitsException e(std::string("boom"));
  EXPECT_STREQ("FitsException: boom", e.what());
  const std::exception& base = e;
  EXPECT_STREQ("FitsException: boom", base.what());
  EXPECT_STREQ("FitsException: x", FitsException("x").what());
}

TEST(FitsKnownList, SearchedRangeAndSpecialRows) {
  EXPECT_EQ(36, FitsKnownList::end() - FitsKnownList::begin());
  for (int i = 0; i < FitsKnownList::N_ROWS; ++i) EXPECT_EQ(i, FitsKnownList::KEY[i].id);
  EXPECT_STREQ("END     ", FitsKnownList::KEY[48].keyword);
  EXPECT_STREQ("CD", FitsKnownList::KEY[35].keyword);
}

TEST(FitsCard, KeywordRules) {
  struct Case {
    std::string keyword;
    std::string message;
  } cases[] = {
      {"NAXIS", "keyword must be 8 chars"},
      {"NAXIS  ", "keyword must be 8 chars"},
      {"NAXIS    ", "keyword must be 8 chars"},
      {" SIMPLE ", "keyword ' SIMPLE ' has leading blanks"},
      {"NA XIS  ", "keyword 'NA XIS  ' has embedded blanks"},
      {"naxis   ", "keyword 'naxis   ' has illegal characters"},
      {"A+B     ", "keyword 'A+B     ' has illegal characters"},
      {"ABCDEFGx", "keyword 'ABCDEFGx' has illegal characters"},
      {"x       ", "keyword 'x       ' has illegal characters"},
      {"KEY\tA   ", "keyword 'KEY\tA   ' has illegal characters"},
      {"K\xC3\xA9Y    ", "keyword 'K\xC3\xA9Y    ' has illegal characters"},
      {"DATE-OBS", ""},
      {"MY_KEY  ", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.message, messageOf([&] { FitsStringCard(c.keyword, "2005-03-01", false, ""); })) << c.keyword;
  }
  // The length rule holds for text-only cards too; junk cards run no other check.
  EXPECT_EQ("keyword must be 8 chars", messageOf([] { FitsJunkCard("ABCDEFG", "x"); }));
  EXPECT_EQ("keyword must be 8 chars", messageOf([] { FitsCommentCard("COMMENTS ", "x"); }));
  EXPECT_EQ("", messageOf([] { FitsJunkCard("a b  c  ", "x"); }));
}

TEST(FitsCard, IdsClassesAndValueKinds) {
  using Make = std::function<FitsCard*()>;
  struct Case {
    Make make;
    std::string message;  // "" when the card is accepted
    int id;
    int flag;  // class flag expected, 0 for none
  } cases[] = {
      {[] { return new FitsIntCard("NAXIS3  ", 5, true, ""); }, "", 2, FitsCard::FLAG_MANDATORY},
      {[] { return new FitsIntCard("NAXIS3  ", 5, false, ""); }, "value must use fixed format", 0, 0},
      {[] { return new FitsFloatCard("NAXIS3  ", 5.5, true, ""); }, "value of 'NAXIS3  ' is no valid integer",
       0, 0},
      {[] { return new FitsIntCard("PCOUNT  ", 0, true, ""); }, "", 4, FitsCard::FLAG_EXTENSION},
      {[] { return new FitsFloatCard("PC1_1   ", 1.0, false, ""); }, "", 34, FitsCard::FLAG_ARRAY},
      {[] { return new FitsFloatCard("CDELT2  ", 1.0, false, ""); }, "", 30, FitsCard::FLAG_ARRAY},
      {[] { return new FitsFloatCard("CD2_1   ", 1.0, false, ""); }, "", 35, FitsCard::FLAG_ARRAY},
      {[] { return new FitsIntCard("BSCALE  ", 2, false, ""); }, "", 21, FitsCard::FLAG_ARRAY},
      {[] { return new FitsFloatCard("BLANK   ", 2.0, false, ""); },
       "value of 'BLANK   ' is no valid integer", 0, 0},
      {[] { return new FitsStringCard("DATE-OBS", "2005-03-01T12:30:45", false, ""); }, "", 7,
       FitsCard::FLAG_DATE},
      {[] { return new FitsStringCard("DATE    ", "0001-01-01", false, ""); }, "", 7, FitsCard::FLAG_DATE},
      {[] { return new FitsStringCard("DATE    ", "9999-12-31T23:59:59", false, ""); }, "", 7,
       FitsCard::FLAG_DATE},
      {[] { return new FitsStringCard("DATE-OBS", "yesterday", false, ""); },
       "FitsDate: string 'yesterday' has wrong syntax\n(not DD/MM/YY or YYYY-MM-DD[Thh:mm:ss[.sss...]])", 0,
       0},
      {[] { return new FitsCommentCard("COMMENT ", "hi"); }, "", 18, FitsCard::FLAG_COMMENTARY},
      {[] { return new FitsCommentCard("        ", "hi"); }, "", 20, FitsCard::FLAG_COMMENTARY},
      {[] { return new FitsStringCard("COMMENT ", "x", false, ""); }, "no value allowed", 0, 0},
      {[] { return new FitsCommentCard("DATE    ", "x"); }, "value of 'DATE    ' is no valid string", 0, 0},
      {[] { return new FitsBoolCard("SIMPLE  ", true, true, ""); }, "", 0, FitsCard::FLAG_MANDATORY},
      {[] { return new FitsIntCard("SIMPLE  ", 1, true, ""); }, "value of 'SIMPLE  ' is no valid boolian", 0,
       0},
      {[] { return new FitsBoolCard("BLOCKED ", true, false, ""); }, "", 9, FitsCard::FLAG_OTHER},
      {[] { return new FitsIntCard("MYKEY   ", 1, false, ""); }, "", 49, 0},
      {[] { return new FitsStringCard("EXTNAME ", "SCI", false, ""); }, "", 49,
       0},  // rows past 35 unsearched
      {[] {
         return new FitsComplexCard("CRVAL1  ", {1, 2}, false, "");
       },
       "value of 'CRVAL1  ' is no valid floating point number", 0, 0},
  };
  for (const Case& c : cases) {
    std::unique_ptr<FitsCard> card;
    std::string message = messageOf([&] { card.reset(c.make()); });
    EXPECT_EQ(c.message, message);
    if (!card) continue;
    EXPECT_EQ(c.id, card->what_id()) << card->getKeyword();
    EXPECT_EQ(c.flag != 0, card->isReserved()) << card->getKeyword();
    EXPECT_EQ(c.flag == FitsCard::FLAG_MANDATORY, card->isMandatory());
    EXPECT_EQ(c.flag == FitsCard::FLAG_ARRAY, card->isArray());
    EXPECT_EQ(c.flag == FitsCard::FLAG_DATE, card->isDate());
    EXPECT_EQ(c.flag == FitsCard::FLAG_COMMENTARY, card->isCommentary());
    EXPECT_EQ(c.flag == FitsCard::FLAG_EXTENSION, card->isExtension());
    EXPECT_EQ(c.flag == FitsCard::FLAG_OTHER, card->isOther());
    // A clone is checked again and equals its source.
    std::unique_ptr<FitsCard> copy(card->clone());
    EXPECT_EQ(card->writeCard(), copy->writeCard());
    EXPECT_EQ(card->what_id(), copy->what_id());
  }
}

TEST(FitsCard, GettersOfOtherKindsThrow) {
  FitsIntCard integer("MYKEY   ", 7, false, "c");
  EXPECT_EQ(7, integer.getInt());
  EXPECT_EQ(7.0, integer.getFloat());
  EXPECT_EQ("value of 'MYKEY   ' is no valid string", messageOf([&] { integer.getString(); }));
  EXPECT_EQ("value of 'MYKEY   ' is no valid boolian", messageOf([&] { integer.getBool(); }));
  EXPECT_EQ("value of 'MYKEY   ' is no valid complex number", messageOf([&] { integer.getComplex(); }));
  FitsStringCard text("MYKEY   ", "abc", false, "");
  EXPECT_EQ("value of 'MYKEY   ' is no valid integer", messageOf([&] { text.getInt(); }));
  EXPECT_EQ("value of 'MYKEY   ' is no valid floating point number", messageOf([&] { text.getFloat(); }));
}

TEST(FitsCard, JunkAndCommentKinds) {
  FitsCommentCard mine("MYKEY   ", "text");
  EXPECT_TRUE(mine.isJunk());
  EXPECT_FALSE(mine.isReserved());
  FitsCommentCard history("HISTORY ", "text");
  EXPECT_FALSE(history.isJunk());
  FitsJunkCard junk("lower ca", "anything");
  EXPECT_TRUE(junk.isJunk());
  EXPECT_EQ(49, junk.what_id());
  std::unique_ptr<FitsCard> clone(junk.clone());
  EXPECT_TRUE(clone->isJunk());
  EXPECT_EQ(pad80("lower caanything"), clone->writeCard());
  FitsJunkCard copy(junk);
  EXPECT_EQ("lower ca", copy.getKeyword());
}

TEST(FitsCard, NonFiniteFloatsAreRefused) {
  const double values[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity()};
  for (double v : values) {
    EXPECT_EQ("value of 'MYKEY   ' is no finite floating point number",
              messageOf([&] { FitsFloatCard("MYKEY   ", v, false, ""); }));
    EXPECT_EQ("value of 'MYKEY   ' is no finite floating point number", messageOf([&] {
                FitsComplexCard("MYKEY   ", {1.0, v}, false, "");
              }));
  }
}

TEST(FitsCard, CardImages) {
  struct Case {
    std::function<FitsCard*()> make;
    std::string image;
  } cases[] = {
      {[] { return new FitsIntCard("NAXIS1  ", 100, true, ""); },
       "NAXIS1  = " + std::string(17, ' ') + "100"},
      {[] { return new FitsFloatCard("BSCALE  ", 1.5, false, "scale"); }, "BSCALE  = 1.5 / scale"},
      {[] { return new FitsStringCard("ORIGIN  ", "abc", true, "x"); },
       "ORIGIN  = 'abc     '" + std::string(10, ' ') + " / x"},
      {[] { return new FitsFloatCard("MYKEY   ", 1e-5, false, ""); }, "MYKEY   = 1E-05"},
      {[] { return new FitsFloatCard("MYKEY   ", 1e-5, true, ""); },
       "MYKEY   = " + std::string(15, ' ') + "1E-05"},
      {[] { return new FitsFloatCard("MYKEY   ", -2.5e300, false, ""); }, "MYKEY   = -2.5E+300"},
      {[] { return new FitsIntCard("MYKEY   ", -42, false, "c"); }, "MYKEY   = -42 / c"},
      {[] { return new FitsIntCard("MYKEY   ", std::numeric_limits<long>::min(), true, ""); },
       "MYKEY   = -9223372036854775808"},
      {[] { return new FitsBoolCard("SIMPLE  ", true, true, ""); },
       "SIMPLE  = " + std::string(19, ' ') + "T"},
      {[] { return new FitsBoolCard("MYKEY   ", false, false, "no"); }, "MYKEY   = F / no"},
      {[] { return new FitsStringCard("MYKEY   ", "It's", false, ""); }, "MYKEY   = 'It''s'"},
      {[] { return new FitsStringCard("MYKEY   ", "It''s", false, ""); }, "MYKEY   = 'It''s'"},
      {[] { return new FitsStringCard("MYKEY   ", "", false, ""); }, "MYKEY   = ''"},
      {[] { return new FitsStringCard("MYKEY   ", "", true, ""); }, "MYKEY   = '        '"},
      {[] { return new FitsStringCard("MYKEY   ", std::string(100, 'a'), false, "lost"); },
       "MYKEY   = '" + std::string(68, 'a') + "'"},
      // A single quote at the cut is not split from its partner.
      {[] { return new FitsStringCard("MYKEY   ", std::string(67, 'a') + "'b", false, ""); },
       "MYKEY   = '" + std::string(67, 'a') + "'"},
      {[] { return new FitsStringCard("MYKEY   ", "abc", false, std::string(47, 'c')); },
       "MYKEY   = 'abc' / " + std::string(47, 'c')},
      {[] { return new FitsCommentCard("COMMENT ", "hello"); }, "COMMENT hello"},
      {[] { return new FitsCommentCard("HISTORY ", std::string(80, 'h')); },
       "HISTORY " + std::string(72, 'h')},
      {[] {
         return new FitsComplexCard("MYKEY   ", {1.5, -2.0}, false, "");
       },
       "MYKEY   = (1.5, -2)"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<FitsCard> card(c.make());
    const std::string image = card->writeCard();
    EXPECT_EQ(80u, image.size());
    EXPECT_EQ(pad80(c.image), image);
  }
  // The fixed string's closing quote stands in column 20, the comment after column 30.
  FitsStringCard origin("ORIGIN  ", "abc", true, "x");
  EXPECT_EQ('\'', origin.writeCard()[19]);
  EXPECT_EQ("/ x", origin.writeCard().substr(31, 3));
}
