// Reading headers from files (record by record, primary or at an offset),
// testing regions, and writing headers as whole records.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "orv/fits/fits_header.h"
#include "tests/orv/fits/fits_fixtures.h"
#include "tests/support/fifo.h"
#include "tests/support/python_reference.h"
#include "tests/support/run_command.h"

using namespace orv;
using fits_test::messageOf;
using fits_test::pad80;

namespace {

using Cards = std::vector<std::string>;

std::string fixedInt(const std::string& keyword, long value) {
  std::string number = std::to_string(value);
  return keyword + "= " + std::string(20 - number.size(), ' ') + number;
}

// SIMPLE, BITPIX, NAXIS and the axis lengths as fixed-format cards.
Cards primary(int bitpix, const std::vector<long>& axes) {
  Cards cards = {"SIMPLE  =                    T", fixedInt("BITPIX  ", bitpix),
                 fixedInt("NAXIS   ", static_cast<long>(axes.size()))};
  for (size_t i = 0; i < axes.size(); ++i) {
    std::string keyword = "NAXIS" + std::to_string(i + 1);
    keyword.resize(8, ' ');
    cards.push_back(fixedInt(keyword, axes[i]));
  }
  return cards;
}

// The header text of the cards, END and blanks to the record boundary.
std::string headerText(const Cards& cards, bool withEnd = true) {
  std::string text;
  for (const std::string& card : cards) text += pad80(card);
  if (withEnd) text += pad80("END");
  if (text.size() % 2880 != 0) text.append(2880 - text.size() % 2880, ' ');
  return text;
}

std::string writeFile(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary | std::ios::trunc) << bytes;
  return name;
}

class Header : public FitsHeader {
 public:
  using FitsHeader::arrayList;
  using FitsHeader::blankList;
  using FitsHeader::commentList;
  using FitsHeader::extensionList;
  using FitsHeader::FitsHeader;
  using FitsHeader::historyList;
  using FitsHeader::junkList;
  using FitsHeader::mandatoryList;
  using FitsHeader::naxisList;
  using FitsHeader::otherList;
  using FitsHeader::userList;
  bool extendFlag() const { return extend; }

  // The card images of the lists after the mandatory ones, list by list.
  std::vector<std::string> listImages() const {
    std::vector<std::string> images;
    for (const auto* list : {&extensionList, &otherList, &commentList, &historyList, &blankList, &arrayList,
                             &userList, &junkList})
      images.push_back(writeCardsOfList(*list));
    return images;
  }
};

std::vector<std::string> keywordsOfText(const std::string& text) {
  std::vector<std::string> keywords;
  for (size_t pos = 0; pos + 80 <= text.size(); pos += 80) {
    std::string keyword = text.substr(pos, 8);
    if (keyword == "        ") continue;
    keywords.push_back(keyword);
    if (keyword == "END     ") break;
  }
  return keywords;
}

}  // namespace

TEST(FitsHeaderRead, ValidHeaders) {
  struct Case {
    std::string name;
    std::string bytes;
    int bitpix;
    std::vector<int> axes;
    long dataLength;
    long dataOffset;
  };
  Cards manyAxes = primary(8, std::vector<long>(40, 1));
  Cards full = primary(8, {});
  for (int i = 0; i < 33; ++i) full.push_back("COMMENT card " + std::to_string(i));
  Cards withCounts = primary(16, {5});
  withCounts.push_back(fixedInt("PCOUNT  ", 10));
  withCounts.push_back("OBJECT  = 'x'");
  withCounts.push_back(fixedInt("GCOUNT  ", 2));
  const Case cases[] = {
      {"header_read_empty.fits", headerText(primary(8, {})), 8, {}, 0, 2880},
      {"header_read_float.fits", headerText(primary(-32, {100, 200})), -32, {100, 200}, 80000, 2880},
      {"header_read_counts.fits", headerText(withCounts), 16, {5}, 60, 2880},
      {"header_read_full.fits", headerText(full), 8, {}, 0, 5760},
      {"header_read_axes.fits", headerText(manyAxes), 8, std::vector<int>(40, 1), 1, 5760},
      // A file that ends right after the END record still has a whole header.
      {"header_read_big.fits",
       headerText(primary(8, {INT_MAX, INT_MAX})),
       8,
       {INT_MAX, INT_MAX},
       static_cast<long>(INT_MAX) * INT_MAX,
       2880},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Header h(writeFile(c.name, c.bytes), true, false);
    EXPECT_EQ(c.bitpix, h.getBitpix());
    EXPECT_EQ(std::abs(c.bitpix) / 8, h.getBytpix());
    ASSERT_EQ(static_cast<int>(c.axes.size()), h.getNaxis());
    for (size_t i = 0; i < c.axes.size(); ++i) EXPECT_EQ(c.axes[i], h.getNaxis(static_cast<int>(i + 1)));
    EXPECT_EQ(c.axes.size(), h.naxisList.size());
    EXPECT_EQ(3u, h.mandatoryList.size());
    EXPECT_EQ(c.dataLength, h.getDataLength());
    EXPECT_EQ(c.dataOffset, h.getDataOffset());
  }
}

TEST(FitsHeaderRead, CardsAfterTheMandatoryOnes) {
  Cards cards = primary(16, {10, 20});
  cards.insert(cards.end(), {"", "BSCALE  = 2.0", "OBJECT  = 'abc", "NAXIS3  =                    5",
                             "BSCALE  = 4.0 / later", "MYKEY   = 12", "COMMENT   a comment", "   "});
  const std::string file = writeFile("header_read_cards.fits", headerText(cards));

  testing::internal::CaptureStderr();
  Header loud(file, false, false);
  const std::string warnings = testing::internal::GetCapturedStderr();
  EXPECT_EQ(
      pad80("OBJECT  = 'abc") + "\nFitsException: closing quote of string is missing\nAdding to junk list\n" +
          pad80("NAXIS3  =                    5") +
          "\nFitsException: mandatory keywords may only be (re)set via constructor\nAdding to junk list\n",
      warnings);
  EXPECT_EQ(4.0, loud.getBscale());
  EXPECT_EQ(1u, loud.arrayList.size());
  EXPECT_EQ(2u, loud.junkList.size());
  EXPECT_EQ(12, loud.getInt("MYKEY   "));
  EXPECT_EQ("a comment" + std::string(61, ' ') + "\n", loud.getComment());

  testing::internal::CaptureStderr();
  Header quiet(file, true, false);
  Header allJunk(file, false, true);
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  EXPECT_EQ(2u, quiet.junkList.size());
  // With allJunk every further card, blank ones included, is kept unparsed; the scaling still
  // counts, the later card as when the cards are parsed.
  EXPECT_EQ(8u, allJunk.junkList.size());
  EXPECT_EQ(4.0, allJunk.getBscale());
  EXPECT_TRUE(allJunk.userList.empty());
}

TEST(FitsHeaderRead, SortsCardsLikeTheAddingOperations) {
  // Random headers whose cards share a few keywords: reading one sorts,
  // replaces and erases cards exactly as adding its cards one by one does.
  const Cards pool = {"USER1   = 1",
                      "USER2   = 'two'",
                      "USER3   = 3.5 / c",
                      "USER1   = 12abc",
                      "USER2   = (1, 2) / x",
                      "USER3   = 'open",
                      "BSCALE  = 2.0",
                      "BUNIT   = 'adu'",
                      "CRVAL1  = 10.5",
                      "PC1_1   = 1",
                      "OBJECT  = 'M31'",
                      "EPOCH   = 1950.0",
                      "EQUINOX = 2000.0",
                      "BLOCKED = T",
                      "DATE-OBS= '2005-03-01'",
                      "DATE    = '2006-01-01'",
                      fixedInt("PCOUNT  ", 0),
                      fixedInt("GCOUNT  ", 1),
                      "EXTEND  =                    T",
                      "NAXIS3  =                    5",
                      "COMMENT   note",
                      "HISTORY   step",
                      "          blank text",
                      "OBJECT  = 12abc",
                      "BSCALE  = (1, 2) / y",
                      "BLANK   = 1.5"};
  std::mt19937 rng(20260310);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("seed 20260310, round " + std::to_string(round));
    Cards cards = primary(8, {});
    Cards images;
    for (int i = 0; i < 200; ++i) images.push_back(pad80(pool[rng() % pool.size()]));
    cards.insert(cards.end(), images.begin(), images.end());
    const std::string file = writeFile("header_read_sorting.fits", headerText(cards));

    Header added(FitsHeader(), true, false);
    for (const std::string& image : images) {
      try {
        std::unique_ptr<FitsCard> card(added.parseCard(image));
        if (!card) continue;
        if (card->isJunk())
          added.addJunkCard(card.release());
        else if (card->isComment())
          added.addCommentCard(card.release());
        else
          added.addValueCard(card.release());
      } catch (const FitsException&) {
        added.addJunkCard(image);
      }
    }
    // A scaling card left unreadable (no later valid one replaced it) refuses the file.
    const auto unreadableScaling = std::find_if(
        added.junkList.begin(), added.junkList.end(),
        [](const FitsCard* c) { return c->getKeyword() == "BSCALE  " || c->getKeyword() == "BZERO   "; });
    if (unreadableScaling != added.junkList.end()) {
      EXPECT_EQ("malformed scaling card in file '" + file + "': BSCALE  = (1, 2) / y",
                messageOf([&] { Header h(file, true, false); }));
      continue;
    }
    Header read(file, true, false);
    EXPECT_EQ(added.listImages(), read.listImages());
    EXPECT_EQ(added.getBscale(), read.getBscale());
  }
}

TEST(FitsHeaderRead, RefusedHeaders) {
  auto withCard = [](Cards cards, size_t at, const std::string& card) {
    cards[at] = card;
    return cards;
  };
  auto plus = [](Cards cards, const Cards& more) {
    cards.insert(cards.end(), more.begin(), more.end());
    return cards;
  };
  const Cards image = primary(16, {10, 20});
  Cards endThenStray = primary(8, {});
  endThenStray.push_back("END");
  endThenStray.push_back("");
  endThenStray.push_back("x");
  std::string noEnd = headerText(image, false);
  std::string cutAfterCards = headerText(image, false).substr(0, 5 * 80 + 40);

  struct Case {
    std::string name;
    std::string bytes;
    std::string message;
  } cases[] = {
      {"header_bad_order.fits",
       headerText(withCard(withCard(image, 3, fixedInt("NAXIS2  ", 10)), 4, fixedInt("NAXIS1  ", 20))),
       "invalid NAXIS list (NAXIS keys missordered)"},
      {"header_bad_zero.fits", headerText(withCard(image, 3, fixedInt("NAXIS1  ", 0))),
       "invalid or insane NAXIS setting (NAXIS negative or 0)"},
      {"header_bad_missing.fits", headerText(withCard(image, 4, "DATE    = '2005-03-01'")),
       "invalid NAXIS setting (NAXIS key missing)"},
      {"header_bad_blank_axis.fits", headerText(withCard(image, 4, "")),
       "invalid NAXIS setting (NAXIS key missing)"},
      {"header_bad_bitpix.fits", headerText(withCard(image, 1, fixedInt("BITPIX  ", 24))),
       "FITS file has invalid BITPIX (not 8, 16, 32, -32 , -64)"},
      {"header_bad_naxis.fits", headerText(withCard(primary(8, {}), 2, fixedInt("NAXIS   ", 1000))),
       "FITS file has invalid NAXIS ( < 0 or > 999)"},
      {"header_bad_naxis_negative.fits", headerText(withCard(primary(8, {}), 2, fixedInt("NAXIS   ", -1))),
       "FITS file has invalid NAXIS ( < 0 or > 999)"},
      {"header_bad_simple_false.fits", headerText(withCard(image, 0, "SIMPLE  =                    F")),
       "FITS file not SIMPLE (SIMPLE not true)"},
      {"header_bad_not_simple.fits", headerText(withCard(image, 0, "XTENSION= 'IMAGE   '")),
       "FITS file not SIMPLE"},
      {"header_bad_free_simple.fits", headerText(withCard(image, 0, "SIMPLE  = T")),
       "value must use fixed format"},
      {"header_bad_no_bitpix.fits", headerText(withCard(image, 1, "")), "FITS file has no BITPIX"},
      {"header_bad_no_naxis.fits", headerText(withCard(image, 2, fixedInt("NAXIS1  ", 2))),
       "FITS file has no NAXIS"},
      {"header_bad_after_end.fits", headerText(plus(primary(8, {}), {"END     / comment"}), false),
       "Header corrupted after END\nEND:  240, non blank:  256"},
      {"header_bad_stray.fits", headerText(endThenStray, false),
       "Header corrupted after END\nEND:  240, non blank:  400"},
      {"header_bad_no_end.fits", noEnd,
       "header of file 'header_bad_no_end.fits' has no END card before the end of the file"},
      // Files cut short inside a header record, an empty file, too few NAXISn cards.
      {"header_bad_cut.fits", cutAfterCards,
       "file 'header_bad_cut.fits' is truncated: it ends inside a header record"},
      {"header_bad_cut_end.fits", headerText(image).substr(0, 6 * 80),
       "file 'header_bad_cut_end.fits' is truncated: it ends inside the header record that holds END"},
      {"header_bad_cut_in_end.fits", headerText(image).substr(0, 5 * 80 + 3),
       "file 'header_bad_cut_in_end.fits' is truncated: it ends inside the header record that holds END"},
      {"header_bad_empty.fits", "", "file 'header_bad_empty.fits' is empty"},
      {"header_bad_few_axes.fits", headerText(withCard(image, 2, fixedInt("NAXIS   ", 999))),
       "invalid NAXIS setting (NAXIS key missing): file 'header_bad_few_axes.fits' has fewer NAXISn cards "
       "than NAXIS = 999"},
      {"header_bad_cut_axes.fits", headerText(primary(8, std::vector<long>(40, 1))).substr(0, 2880),
       "file 'header_bad_cut_axes.fits' is truncated: its header ends after 33 of its 40 NAXISn cards"},
      {"header_bad_huge_axis.fits", headerText(withCard(image, 3, fixedInt("NAXIS1  ", 2147483648L))),
       "invalid or insane NAXIS setting (NAXIS above 2147483647)"},
      {"header_bad_overflow.fits", headerText(primary(8, {INT_MAX, INT_MAX, INT_MAX})),
       "invalid or insane NAXIS setting (data size beyond 64 bits)"},
      {"header_bad_overflow_bytes.fits", headerText(primary(-64, {INT_MAX, INT_MAX, 2})),
       "invalid or insane NAXIS setting (data size beyond 64 bits)"},
      {"header_bad_pcount.fits", headerText(plus(image, {fixedInt("PCOUNT  ", -1)})),
       "invalid PCOUNT (negative or beyond 2147483647)"},
      {"header_bad_pcount_huge.fits", headerText(plus(image, {fixedInt("PCOUNT  ", 4294967296L)})),
       "invalid PCOUNT (negative or beyond 2147483647)"},
      {"header_bad_gcount.fits", headerText(plus(image, {fixedInt("GCOUNT  ", 0)})),
       "invalid GCOUNT (below 1 or beyond 2147483647)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = writeFile(c.name, c.bytes);
    // Every refusal names the file: the messages that do not hold its name get it appended.
    const std::string named = "'" + c.name + "'";
    const std::string message =
        c.message.find(named) == std::string::npos ? c.message + " (file " + named + ")" : c.message;
    EXPECT_EQ(message, messageOf([&] { Header h(file, true, false); }));
  }
  EXPECT_EQ("cannot open file 'header_none.fits' for reading",
            messageOf([] { Header h("header_none.fits", true, false); }));
  EXPECT_EQ("cannot open file '.' for reading", messageOf([] { Header h(".", true, false); }));
  const test_support::Fifo fifo("header_fifo.fits");
  ASSERT_TRUE(fifo.made);
  EXPECT_EQ("cannot open file 'header_fifo.fits' for reading",
            messageOf([] { Header h("header_fifo.fits", true, false); }));
  // allJunk skips the check after END, but not the end of the file.
  EXPECT_EQ("", messageOf([] { Header h("header_bad_stray.fits", true, true); }));
  EXPECT_EQ("file 'header_bad_cut_in_end.fits' is truncated: it ends inside the header record that holds END",
            messageOf([] { Header h("header_bad_cut_in_end.fits", true, true); }));
}

TEST(FitsHeaderRead, ExtensionAtOffset) {
  Cards primaryCards = primary(8, {});
  primaryCards.push_back("EXTEND  =                    T");
  Cards extension = {"XTENSION= 'IMAGE   '",  fixedInt("BITPIX  ", -32), fixedInt("NAXIS   ", 1),
                     fixedInt("NAXIS1  ", 3), fixedInt("PCOUNT  ", 0),   fixedInt("GCOUNT  ", 1)};
  const std::string bytes = headerText(primaryCards) + headerText(extension) + std::string(2880, '\0');
  const std::string file = writeFile("header_read_extension.fits", bytes);

  Header first(file, true, false);
  EXPECT_TRUE(first.extendFlag());
  Header ext(file, true, false, 2880L);
  EXPECT_EQ("IMAGE", ext.getString("XTENSION"));
  EXPECT_EQ(12, ext.getDataLength());
  EXPECT_EQ(5760, ext.getDataOffset());
  EXPECT_TRUE(ext.extendFlag());

  EXPECT_EQ("FITS extension does not start with XTENSION (file 'header_bad_ext.fits')", messageOf([&] {
              Header h(writeFile("header_bad_ext.fits", bytes.substr(0, 2880) + bytes.substr(0, 2880)), true,
                       false, 2880L);
            }));
  EXPECT_EQ("no further extensions", messageOf([&] { Header h(file, true, false, 8640L); }));
  EXPECT_EQ("no further extensions", messageOf([&] { Header h(file, true, false, 100000L); }));
  // An offset inside the file that is not a header start reads no valid card.
  EXPECT_EQ("FITS extension does not start with XTENSION (file '" + file + "')",
            messageOf([&] { Header h(file, true, false, 5760L); }));
}

TEST(FitsHeaderRead, TestRegion) {
  Header h(writeFile("header_read_region.fits", headerText(primary(-32, {100, 200}))), true, false);
  auto region = [](std::vector<std::pair<int, int>> ranges) {
    util::Region r(ranges.size());
    for (size_t d = 0; d < ranges.size(); ++d) r.setRange(d + 1, ranges[d].first, ranges[d].second);
    return r;
  };
  EXPECT_EQ("", messageOf([&] { h.testRegion(region({{1, 100}, {1, 200}})); }));
  EXPECT_EQ("", messageOf([&] { h.testRegion(region({{7, 7}, {200, 200}})); }));
  EXPECT_EQ("request for illegal region:\n[0:10,1:20] is no subarray of [1:100,1:200]", messageOf([&] {
              h.testRegion(region({{0, 10}, {1, 20}}));
            }));
  const std::vector<util::Region> bad = {region({{1, 101}, {1, 200}}), region({{1, 100}}),
                                         region({{1, 100}, {1, 200}, {1, 1}}), region({{10, 5}, {1, 200}})};
  for (const util::Region& r : bad)
    EXPECT_EQ("request for illegal region:\n" + r.toString() + " is no subarray of [1:100,1:200]",
              messageOf([&] { h.testRegion(r); }));
  Header none(writeFile("header_read_noaxes.fits", headerText(primary(8, {}))), true, false);
  EXPECT_EQ("request for illegal region:\n[1:1] is no subarray of []", messageOf([&] {
              none.testRegion(region({{1, 1}}));
            }));
  EXPECT_EQ("", messageOf([&] { none.testRegion(util::Region(0)); }));
}

TEST(FitsHeaderWrite, CanonicalOrderAndDateCard) {
  Cards cards = primary(16, {3, 2});
  cards.insert(cards.end(), {"COMMENT   note", "OBJECT  = 'M31'", "HISTORY   made", fixedInt("PCOUNT  ", 0),
                             "EXTEND  =                    T", "BSCALE  = 1.5", fixedInt("GCOUNT  ", 1),
                             "DATE    = '1999-01-01'", "JUNKKEY = 12abc"});
  Header h(writeFile("header_write_order.fits", headerText(cards)), true, false);
  const std::time_t before = std::time(nullptr);
  const std::string text = h.writeHeader(false);
  const std::time_t after = std::time(nullptr);
  ASSERT_EQ(2880u, text.size());
  EXPECT_EQ((std::vector<std::string>{"SIMPLE  ", "BITPIX  ", "NAXIS   ", "NAXIS1  ", "NAXIS2  ", "EXTEND  ",
                                      "PCOUNT  ", "GCOUNT  ", "BSCALE  ", "DATE    ", "OBJECT  ", "COMMENT ",
                                      "HISTORY ", "END     "}),
            keywordsOfText(text));
  EXPECT_EQ(pad80("END") + std::string(2880 - 14 * 80, ' '), text.substr(13 * 80));

  // The DATE card holds the time of writing in UTC.
  const std::string date = text.substr(9 * 80, 80);
  bool matched = false;
  for (std::time_t t = before; t <= after; ++t) {
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", std::gmtime(&t));
    matched |= date == pad80("DATE    = '" + std::string(stamp) + "' / date and time of writing file");
  }
  EXPECT_TRUE(matched) << date;

  // Junk cards stand after the user cards and before the commentary cards.
  const std::vector<std::string> withJunk = keywordsOfText(h.writeHeader(true));
  EXPECT_EQ("JUNKKEY ", withJunk[11]);
  EXPECT_EQ("COMMENT ", withJunk[12]);
  EXPECT_EQ(1u, h.junkList.size());
}

TEST(FitsHeaderWrite, RecordBoundaries) {
  Header empty;
  const std::string emptyText = empty.writeHeader(true);
  ASSERT_EQ(2880u, emptyText.size());
  EXPECT_EQ("DATE    ", emptyText.substr(0, 8));
  EXPECT_EQ("END", emptyText.substr(80, 3));
  EXPECT_EQ(std::string(2797, ' '), emptyText.substr(83));

  Header image(writeFile("header_write_image.fits", headerText(primary(-32, {4, 5}))), true, false);
  const std::string first = image.writeHeader(true);
  ASSERT_EQ(2880u, first.size());
  EXPECT_EQ("DATE    ", first.substr(5 * 80, 8));
  EXPECT_EQ("END", first.substr(6 * 80, 3));
  EXPECT_EQ(std::string(2397, ' '), first.substr(6 * 80 + 3));
  // A second call replaces the DATE card rather than adding one.
  const std::string second = image.writeHeader(true);
  EXPECT_EQ(first.substr(0, 5 * 80), second.substr(0, 5 * 80));
  EXPECT_EQ(first.substr(6 * 80), second.substr(6 * 80));

  // 35 cards plus DATE fill the first record: END opens the second.
  Cards cards = primary(8, {});
  for (int i = 0; i < 32; ++i) cards.push_back(fixedInt("KEY" + std::to_string(10 + i) + "   ", i));
  Header fullRecord(writeFile("header_write_full.fits", headerText(cards)), true, false);
  const std::string full = fullRecord.writeHeader(true);
  ASSERT_EQ(5760u, full.size());
  EXPECT_EQ("END", full.substr(2880, 3));
  EXPECT_EQ(std::string(2877, ' '), full.substr(2883));
}

TEST(FitsHeaderWrite, WrittenHeaderPassesFitsverifyAndReadsBack) {
  Header h(writeFile("header_write_source.fits", headerText(primary(16, {3, 2}))), true, false);
  h.addValueCard("OBJECT  ", "It's M31", "target", false);
  h.addValueCard("EXPTIME ", 1e-5, "s", false);
  h.addValueCard("GAIN    ", 2.5, "", true);
  h.addValueCard("DATE-OBS", "2004-07-01T12:00:00", "", true);
  h.setBscale(0.5);
  h.setBzero(32768);
  h.addHistory(std::string(100, 'h') + " and more words");
  h.addComment("a comment");
  std::string bytes = h.writeHeader(false) + std::string(2880, '\0');
  const std::string file = writeFile("header_write_result.fits", bytes);

  std::string report;
  ASSERT_EQ(0, test_support::fitsverifyReport("header_write_result.fits", &report)) << report;
  EXPECT_NE(std::string::npos, report.find("Verification found 0 warning(s) and 0 error(s)")) << report;
  EXPECT_EQ(
      0, std::system(test_support::pythonCommand(
                         "-c \"from astropy.io import fits; "
                         "h = fits.getheader('header_write_result.fits'); "
                         "assert h['OBJECT'] == \\\"It's M31\\\", h['OBJECT']; assert h['EXPTIME'] == 1e-5; "
                         "assert h['BZERO'] == 32768\"")
                         .c_str()));

  Header back(file, true, false);
  EXPECT_EQ("It''s M31", back.getString("OBJECT  "));
  EXPECT_EQ(1e-5, back.getFloat("EXPTIME "));
  EXPECT_EQ(0.5, back.getBscale());
  EXPECT_EQ(32768.0, back.getBzero());
  EXPECT_EQ(keywordsOfText(bytes), keywordsOfText(back.writeHeader(false)));
}

TEST(FitsHeaderRead, HeaderWrittenByAstropy) {
  const std::string script = test_support::pythonCommand(
      "-c \""
      "from astropy.io import fits\n"
      "import numpy as np\n"
      "h = fits.Header()\n"
      "h['OBJECT'] = (\\\"It's M31\\\", 'target')\n"
      "h['EXPTIME'] = (1.5e-5, 'seconds')\n"
      "h['GAIN'] = 2.0\n"
      "h['BIGINT'] = 9223372036854775807\n"
      "h['NEGINT'] = -42\n"
      "h['FLAG'] = (True, 'a flag')\n"
      "h['EMPTY'] = ''\n"
      "h['LONGSTR'] = 'x' * 100\n"
      "h['DATE-OBS'] = '2004-07-01T12:00:00.123'\n"
      "h['TINY'] = 1e-300\n"
      "h['HIERARCH ESO DET CHIP'] = 'CCD'\n"
      "h['HISTORY'] = 'some history'\n"
      "h['COMMENT'] = 'a comment'\n"
      "fits.PrimaryHDU(np.zeros((2, 3), dtype=np.int16), header=h).writeto('header_astropy.fits', "
      "overwrite=True)\n"
      "\"");
  ASSERT_EQ(0, std::system(script.c_str()));
  Header h("header_astropy.fits", true, false);
  EXPECT_EQ(16, h.getBitpix());
  EXPECT_EQ(12, h.getDataLength());
  EXPECT_EQ("It''s M31", h.getString("OBJECT  "));
  EXPECT_EQ("target", h.getComment("OBJECT  "));
  EXPECT_EQ(1.5e-5, h.getFloat("EXPTIME "));
  EXPECT_TRUE(h.isFixed("EXPTIME "));
  EXPECT_EQ(2.0, h.getFloat("GAIN    "));
  EXPECT_EQ(9223372036854775807L, h.getInt("BIGINT  "));
  EXPECT_EQ(-42, h.getInt("NEGINT  "));
  EXPECT_TRUE(h.getBool("FLAG    "));
  EXPECT_EQ("", h.getString("EMPTY   "));
  EXPECT_EQ("2004-07-01T12:00:00.123", h.getString("DATE-OBS"));
  EXPECT_EQ(1e-300, h.getFloat("TINY    "));
  // Long strings are not joined: the CONTINUE card stays junk, like HIERARCH.
  EXPECT_EQ(std::string(67, 'x') + "&", h.getString("LONGSTR "));
  EXPECT_EQ("value of 'CONTINUE' is no valid string", messageOf([&] { h.getString("CONTINUE"); }));
  EXPECT_EQ(2u, h.junkList.size());
  EXPECT_EQ(0u, h.getHistory().find("some history"));
  EXPECT_EQ(0u, h.getComment().find("a comment"));
}
