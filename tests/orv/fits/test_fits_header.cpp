// The header model: card sorting and replacement, keyword access, editing,
// comment wrapping and copies.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "orv/fits/fits_header.h"
#include "tests/orv/fits/fits_fixtures.h"

using namespace orv;
using fits_test::messageOf;
using fits_test::pad80;

namespace {

// Opens the lists and the mandatory fields for inspection.
class Header : public FitsHeader {
 public:
  using FitsHeader::arrayList;
  using FitsHeader::commentList;
  using FitsHeader::extensionList;
  using FitsHeader::FitsHeader;
  using FitsHeader::historyList;
  using FitsHeader::junkList;
  using FitsHeader::otherList;
  using FitsHeader::userList;

  // A 2-axis image's mandatory and NAXISn cards, as a reader leaves them.
  void makeImage(int bits, int n1, int n2) {
    mandatoryList.push_back(new FitsBoolCard("SIMPLE  ", true, true, ""));
    mandatoryList.push_back(new FitsIntCard("BITPIX  ", bits, true, ""));
    mandatoryList.push_back(new FitsIntCard("NAXIS   ", 2, true, ""));
    naxisList.push_back(new FitsIntCard("NAXIS1  ", n1, true, ""));
    naxisList.push_back(new FitsIntCard("NAXIS2  ", n2, true, ""));
    bitpix = bits;
    bytpix = std::abs(bits) / 8;
    naxis = 2;
    checkNaxis();
  }
};

std::vector<std::string> keywordsOf(const std::list<FitsCard*>& list) {
  std::vector<std::string> keywords;
  for (const FitsCard* card : list) keywords.push_back(card->getKeyword());
  return keywords;
}

using Keys = std::vector<std::string>;

}  // namespace

TEST(FitsHeader, DefaultsOfEmptyHeader) {
  Header h;
  EXPECT_EQ(8, h.getBitpix());
  EXPECT_EQ(1, h.getBytpix());
  EXPECT_EQ(0, h.getNaxis());
  EXPECT_EQ(1.0, h.getBscale());
  EXPECT_EQ(0.0, h.getBzero());
  EXPECT_EQ(2880, h.getDataOffset());
  EXPECT_EQ(0, h.getDataLength());
  EXPECT_EQ("[]", h.getFullRegion().toString());
}

TEST(FitsHeader, SortingAndReplacement) {
  Header h;
  h.addValueCard("BSCALE  ", 2.0, "first", true);
  h.addValueCard("BSCALE  ", 3.0, "second", true);
  EXPECT_EQ(Keys{"BSCALE  "}, keywordsOf(h.arrayList));
  EXPECT_EQ(3.0, h.getBscale());
  EXPECT_EQ("second", h.getComment("BSCALE  "));
  EXPECT_EQ(0, h.eraseCard("BSCALE  "));
  EXPECT_EQ(3.0, h.getBscale());  // erasing leaves the mirror field
  h.setBzero(32768);
  EXPECT_EQ(32768.0, h.getBzero());
  EXPECT_TRUE(h.isFixed("BZERO   "));

  h.addValueCard("DATE-OBS", "2005-03-01", "", false);
  h.addValueCard("DATE    ", "2005-03-02T10:00:00", "", true);
  h.addValueCard("OBJECT  ", "M31", "", false);
  EXPECT_EQ((Keys{"DATE    ", "DATE-OBS", "OBJECT  "}), keywordsOf(h.otherList));

  h.addValueCard("PCOUNT  ", 0, "", true);
  h.addValueCard("GCOUNT  ", 1, "", true);
  h.addValueCard("EXTEND  ", true, "", true);
  EXPECT_EQ((Keys{"EXTEND  ", "PCOUNT  ", "GCOUNT  "}), keywordsOf(h.extensionList));
  EXPECT_TRUE(h.getBool("EXTEND  "));

  // A user card replaces the older user card and every junk card of its keyword.
  h.addJunkCard("MYKEY   ", "= junk one");
  h.addJunkCard("MYKEY   ", "= junk two");
  h.addValueCard("MYKEY   ", 1L, "", false);
  h.addValueCard("MYKEY   ", 2L, "", false);
  EXPECT_EQ(Keys{"MYKEY   "}, keywordsOf(h.userList));
  EXPECT_TRUE(h.junkList.empty());
  EXPECT_EQ(2, h.getInt("MYKEY   "));
  // A junk card replaces nothing.
  h.addValueCard(new FitsJunkCard("MYKEY   ", "= three"));
  EXPECT_EQ(1u, h.userList.size());
  EXPECT_EQ(1u, h.junkList.size());
  EXPECT_EQ(2, h.getInt("MYKEY   "));
}

TEST(FitsHeader, DeprecatedEpochAndBlocked) {
  struct Case {
    bool withEquinox;
    bool quiet;
    Keys other;
    std::string warning;
  } cases[] = {
      {false, false, {"EQUINOX ", "EPOCH   "}, "EPOCH is deprecated, renaming to EQUINOX when writing\n"},
      {true, false, {"EQUINOX ", "EPOCH   "}, "EPOCH is deprecated, discarding card when writing\n"},
      {false, true, {"EQUINOX ", "EPOCH   "}, ""},
  };
  for (const Case& c : cases) {
    Header target(FitsHeader(), c.quiet, false);
    if (c.withEquinox) target.addValueCard("EQUINOX ", 2000.0, "", false);
    testing::internal::CaptureStderr();
    target.addValueCard("EPOCH   ", 1950.0, "", false);
    EXPECT_EQ(c.warning, testing::internal::GetCapturedStderr());
    EXPECT_EQ(c.other, keywordsOf(target.otherList));
    EXPECT_EQ(c.withEquinox ? 2000.0 : 1950.0, target.getFloat("EQUINOX "));
    if (!c.withEquinox) {
      EXPECT_TRUE(target.isFixed("EQUINOX "));
      EXPECT_EQ("taken from deprecated EPOCH keyword", target.getComment("EQUINOX "));
    }
  }
  Header h;
  testing::internal::CaptureStderr();
  h.addValueCard("BLOCKED ", true, "", false);
  EXPECT_EQ("BLOCKED is deprecated, discarding card when writing\n", testing::internal::GetCapturedStderr());
  EXPECT_TRUE(h.getBool("BLOCKED "));
}

TEST(FitsHeader, RefusedCards) {
  Header h;
  h.makeImage(-32, 100, 200);
  struct Case {
    std::function<void()> action;
    std::string message;
  } cases[] = {
      {[&] { h.addValueCard("NAXIS   ", 3, "", true); },
       "mandatory keywords may only be (re)set via constructor"},
      {[&] { h.addValueCard("SIMPLE  ", true, "", true); },
       "mandatory keywords may only be (re)set via constructor"},
      {[&] { h.addValueCard(new FitsCommentCard("HISTORY ", "x")); },
       "commentary card, try addCommentCard()"},
      {[&] { h.addCommentCard(new FitsIntCard("MYKEY   ", 1, false, "")); },
       "no commentary card, try addValueCard()"},
      {[&] { h.addCommentCard(new FitsCommentCard("MYKEY   ", "x")); },
       "no commentary card, try addValueCard()"},
      {[&] { h.addValueCard("BITPIX  ", 3, "", false); }, "value must use fixed format"},
      {[&] { h.addValueCard("BLANK   ", 1.5, "", false); }, "value of 'BLANK   ' is no valid integer"},
      {[&] { h.addValueCard("bad key ", 1.5, "", false); }, "keyword 'bad key ' has embedded blanks"},
      {[&] { h.eraseCard("BITPIX  "); }, "cannot erase mandatory card 'BITPIX  '"},
      {[&] { h.eraseCard("NAXIS2  "); }, "cannot erase mandatory card 'NAXIS2  '"},
      {[&] { h.getNaxis(0); }, "Request for unset NAXIS parameter"},
      {[&] { h.getNaxis(3); }, "Request for unset NAXIS parameter"},
      {[&] { h.getFloat("EXPTIME"); }, "cannot find keyword 'EXPTIME'"},
      {[&] { h.getValueCard("COMMENT "); }, "use getComment or getHistory to read keyword 'COMMENT '"},
      {[&] { h.getString("        "); }, "use getComment or getHistory to read keyword '        '"},
      {[&] { h.getString("BITPIX  "); }, "value of 'BITPIX  ' is no valid string"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.message, messageOf(c.action));
  // Nothing of the refused cards stayed.
  EXPECT_TRUE(h.arrayList.empty() && h.userList.empty() && h.junkList.empty() && h.historyList.empty());
  EXPECT_EQ(-32, h.getInt("BITPIX  "));
  EXPECT_EQ(200, h.getInt("NAXIS2  "));
  EXPECT_EQ(200, h.getNaxis(2));
  EXPECT_EQ("[1:100,1:200]", h.getFullRegion().toString());
}

TEST(FitsHeader, KeywordAccess) {
  Header h;
  h.addValueCard("EXPTIME ", 30, "seconds", false);
  EXPECT_EQ(30.0, h.getFloat("EXPTIME "));
  EXPECT_EQ("seconds", h.getComment("EXPTIME "));
  EXPECT_FALSE(h.isFixed("EXPTIME "));
  EXPECT_EQ("EXPTIME ", h.adjustKeyword("EXPTIME"));
  EXPECT_EQ("LONGKEYW", h.adjustKeyword("LONGKEYWORD"));
  h.addJunkCard("JUNKKEY = 12abc");
  EXPECT_EQ("value of 'JUNKKEY ' is no valid integer", messageOf([&] { h.getInt("JUNKKEY "); }));
}

TEST(FitsHeader, EraseRules) {
  Header h;
  EXPECT_EQ(0, h.eraseCard("COMMENT "));
  EXPECT_EQ(-1, h.eraseCard("NOSUCH  "));
  h.addValueCard("OBJECT  ", "M31", "", false);
  h.addJunkCard("OBJECT  ", "junk 1");
  h.addJunkCard("OBJECT  ", "junk 2");
  EXPECT_EQ(0, h.eraseCard("OBJECT  "));
  EXPECT_TRUE(h.otherList.empty());
  EXPECT_EQ(2u, h.junkList.size());
  EXPECT_EQ(0, h.eraseCard("OBJECT  "));
  EXPECT_TRUE(h.junkList.empty());
  EXPECT_EQ(-1, h.eraseCard("OBJECT  "));
  h.addComment("one");
  h.addComment("two");
  h.addHistory("h");
  EXPECT_EQ(0, h.eraseCard("COMMENT "));
  EXPECT_TRUE(h.commentList.empty());
  EXPECT_EQ(1u, h.historyList.size());
}

TEST(FitsHeader, CommentaryCardsAndWrapping) {
  Header h;
  EXPECT_EQ("", h.getComment());
  h.addComment("first");
  h.addComment("second");
  EXPECT_EQ("first\nsecond\n", h.getComment());
  h.addCommentCard("FOO     ", "text");
  EXPECT_EQ(Keys{"FOO     "}, keywordsOf(h.junkList));
  h.addCommentCard("        ", "blank");
  EXPECT_EQ("blank\n", h.getComment("        "));

  std::string tenWords;
  for (int i = 0; i < 10; ++i) tenWords += (i ? " " : "") + std::string(9, static_cast<char>('a' + i));
  ASSERT_EQ(99u, tenWords.size());
  struct Case {
    std::string text;
    std::vector<std::string> pieces;
  } cases[] = {
      {tenWords, {tenWords.substr(0, 69), tenWords.substr(69)}},
      {"", {""}},
      {std::string(150, 'x'), {std::string(72, 'x'), std::string(71, 'x'), std::string(7, 'x')}},
      // A first piece that takes the whole text still leaves the (empty) rest.
      {std::string(72, 'y'), {std::string(72, 'y'), ""}},
      {"short words", {"short words"}},
  };
  for (const Case& c : cases) {
    Header wrapped;
    wrapped.addHistory(c.text);
    std::vector<std::string> pieces;
    for (const FitsCard* card : wrapped.historyList) {
      pieces.push_back(card->getComment());
      EXPECT_EQ(80u, card->writeCard().size());
    }
    EXPECT_EQ(c.pieces, pieces);
  }
}

TEST(FitsHeader, DescribeSelf) {
  Header h;
  h.makeImage(-32, 100, 200);
  std::ostringstream os;
  h.describeSelf(os);
  EXPECT_EQ("SIMPLE = T, BITPIX = -32, NAXIS = 2\n  NAXIS1 = 100\n  NAXIS2 = 200\n", os.str());
  EXPECT_EQ(80000, h.getDataLength());
}

TEST(FitsHeader, CopiesAreDeepAndIndependent) {
  Header h;
  h.makeImage(16, 5, 7);
  h.addValueCard("OBJECT  ", "M31", "", false);
  h.addHistory("history");
  h.addJunkCard("JUNK    ", "x");

  FitsHeader copy(h, true, false);
  EXPECT_EQ(0, copy.eraseCard("OBJECT  "));
  EXPECT_EQ("M31", h.getString("OBJECT  "));
  EXPECT_EQ(7, copy.getNaxis(2));
  EXPECT_EQ(h.writeHeader(true).substr(0, 5 * 80), copy.writeHeader(true).substr(0, 5 * 80));

  // The copy is quiet whatever the source: no warning on stderr.
  testing::internal::CaptureStderr();
  copy.addValueCard("BLOCKED ", true, "", false);
  EXPECT_EQ("", testing::internal::GetCapturedStderr());

  Header assigned;
  assigned = h;
  assigned = assigned;
  EXPECT_EQ("M31", assigned.getString("OBJECT  "));
  EXPECT_EQ("history\n", assigned.getHistory());
  EXPECT_EQ(5, assigned.getNaxis(1));

  FitsHeader plain(h);
  FitsHeader moved(std::move(plain));
  EXPECT_EQ("M31", moved.getString("OBJECT  "));
  EXPECT_EQ(7, moved.getNaxis(2));
}
