// Cards built through the API with random values are written and parsed
// again; the written images are checked by fitsverify and astropy.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "orv/fits/fits_header.h"
#include "tests/support/python_reference.h"
#include "tests/support/run_command.h"

using namespace orv;

namespace {

const unsigned kSeed = 20240305;

std::string randomText(std::mt19937_64& rng, size_t length, bool withQuotes) {
  std::string text;
  std::uniform_int_distribution<int> printable(32, 126);
  for (size_t i = 0; i < length; ++i) {
    char c = static_cast<char>(printable(rng));
    if (c == '\'' && !withQuotes) c = 'q';
    text += c;
  }
  return text;
}

// A comment without leading or trailing blanks (the reader trims them).
std::string randomComment(std::mt19937_64& rng, size_t maxLength) {
  std::string text = randomText(rng, std::uniform_int_distribution<size_t>(0, maxLength)(rng), true);
  if (!text.empty()) text.front() = 'c';
  if (!text.empty()) text.back() = 'e';
  return text;
}

// The value as it stands between the quotes of a written card: every quote
// doubled (a pair already doubled counts once), cut after 68 characters
// without splitting a pair.
std::string quotedForm(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    std::string piece = value[i] == '\'' ? "''" : std::string(1, value[i]);
    if (value[i] == '\'' && i + 1 < value.size() && value[i + 1] == '\'') ++i;
    if (out.size() + piece.size() > 68) break;
    out += piece;
  }
  return out;
}

std::string keywordOf(int n) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "R%07d", n);
  return buffer;
}

// Significant digits that the value keeps in a field of `width` characters
// (fewer where rounding would leave the double range).
int digitsInField(double value, int width) {
  char buffer[64];
  for (int precision = 15; precision > 1; --precision) {
    if (std::snprintf(buffer, sizeof buffer, "%.*g", precision, value) <= width &&
        std::isfinite(std::strtod(buffer, nullptr)))
      return precision;
  }
  return 1;
}

// The value text of a number or logical card: [first, end) from column 11.
std::string valueToken(const std::string& image, size_t* end) {
  const size_t first = image.find_first_not_of(' ', 10);
  *end = std::min(image.find(' ', first), image.size());
  return image.substr(first, *end - first);
}

struct Written {
  std::unique_ptr<FitsCard> card;
  std::string image;
};

}  // namespace

class FitsCardRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937_64 rng(kSeed);
    std::uniform_int_distribution<int> coin(0, 1);
    int n = 0;
    auto keep = [&](FitsCard* card) {
      cards.push_back({std::unique_ptr<FitsCard>(card), card->writeCard()});
    };

    const long extremes[] = {0,
                             1,
                             -1,
                             std::numeric_limits<long>::max(),
                             std::numeric_limits<long>::min(),
                             std::numeric_limits<int>::max(),
                             99999999999999999L};
    for (long v : extremes)
      for (int fixed = 0; fixed < 2; ++fixed)
        keep(new FitsIntCard(keywordOf(n++), v, fixed, randomComment(rng, 45)));
    std::uniform_int_distribution<long> anyLong(std::numeric_limits<long>::min(),
                                                std::numeric_limits<long>::max());
    for (int i = 0; i < 200; ++i)
      keep(new FitsIntCard(keywordOf(n++), anyLong(rng), coin(rng), randomComment(rng, 45)));

    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-307, 307);
    for (int i = 0; i < 600; ++i) {
      double v = mantissa(rng) * std::pow(10.0, exponent(rng));
      if (i % 10 == 0) v = std::round(mantissa(rng) * 1000);  // whole numbers
      if (i == 1) v = std::numeric_limits<double>::denorm_min();
      if (i == 2) v = std::numeric_limits<double>::max();
      if (i == 3) v = -std::numeric_limits<double>::min();
      keep(new FitsFloatCard(keywordOf(n++), v, coin(rng), randomComment(rng, 45)));
    }
    for (int i = 0; i < 20; ++i)
      keep(new FitsBoolCard(keywordOf(n++), coin(rng), coin(rng), randomComment(rng, 45)));

    for (int i = 0; i < 400; ++i) {
      const size_t length = std::uniform_int_distribution<size_t>(0, 68)(rng);
      std::string value = randomText(rng, length, i % 2 == 0);
      if (i % 7 == 0) value = std::string(length, ' ');
      const size_t quoted = quotedForm(value).size();
      const size_t used = std::max<size_t>(30, 12 + quoted);
      const size_t room = used + 3 < 80 ? 80 - used - 3 : 0;
      keep(new FitsStringCard(keywordOf(n++), value, coin(rng), randomComment(rng, room)));
    }
  }

  std::vector<Written> cards;
};

TEST_F(FitsCardRoundTrip, ParsingTheWrittenCardGivesItBack) {
  FitsHeader header;
  for (const Written& w : cards) {
    SCOPED_TRACE("seed " + std::to_string(kSeed) + ", card: " + w.image);
    ASSERT_EQ(80u, w.image.size());
    std::unique_ptr<FitsCard> read(header.parseCard(w.image));
    ASSERT_NE(nullptr, read);
    EXPECT_EQ(w.card->getKeyword(), read->getKeyword());
    EXPECT_EQ(w.card->getComment(), read->getComment());
    size_t tokenEnd = 0;
    const std::string token = valueToken(w.image, &tokenEnd);
    // A free number that happens to end in column 30 reads as fixed.
    const bool endsInColumn30 = tokenEnd == 30;

    if (auto* integer = dynamic_cast<FitsIntCard*>(w.card.get())) {
      ASSERT_NE(nullptr, dynamic_cast<FitsIntCard*>(read.get()));
      EXPECT_EQ(integer->getInt(), read->getInt());
      EXPECT_EQ(integer->isFixed() || endsInColumn30, read->isFixed());
    } else if (auto* real = dynamic_cast<FitsFloatCard*>(w.card.get())) {
      const double v = real->getFloat();
      const double back = read->getFloat();
      const int digits = digitsInField(v, real->isFixed() ? 20 : 22);
      // Half a unit of the last written digit, plus the rounding of the read.
      const double tolerance =
          (0.5 * std::pow(10.0, 1 - digits) + std::numeric_limits<double>::epsilon()) * std::fabs(v);
      EXPECT_LE(std::fabs(back - v), tolerance) << v;
      // Known non-identity: a whole-number double is written without a point
      // or exponent and reads back as an integer card.
      const bool wholeNumber = token.find_first_of(".E") == std::string::npos;
      EXPECT_EQ(wholeNumber, dynamic_cast<FitsIntCard*>(read.get()) != nullptr);
      EXPECT_EQ(real->isFixed() || endsInColumn30, read->isFixed());
    } else if (dynamic_cast<FitsBoolCard*>(w.card.get())) {
      EXPECT_EQ(w.card->getBool(), read->getBool());
      EXPECT_EQ(w.card->isFixed(), read->isFixed());
    } else {
      // Strings: quotes come back doubled, trailing blanks are dropped, an
      // all-blank value reads as one blank, and a free value whose closing
      // quote reaches column 20 reads as fixed.
      std::string expected = quotedForm(w.card->getString());
      if (w.card->isFixed() && expected.size() < 8) expected.resize(8, ' ');
      const size_t last = expected.find_last_not_of(' ');
      if (!expected.empty()) expected = last == std::string::npos ? " " : expected.substr(0, last + 1);
      EXPECT_EQ(expected, read->getString());
      const size_t closing =
          11 + std::max<size_t>(quotedForm(w.card->getString()).size(), w.card->isFixed() ? 8 : 0);
      EXPECT_EQ(closing >= 19, read->isFixed());
    }
  }
}

TEST(FitsCardRoundTripEdges, LargestDoublesReadBackFinite) {
  // 15 significant digits of the largest doubles round beyond the double range.
  FitsHeader header;
  const double max = std::numeric_limits<double>::max();
  for (double v : {max, -max, std::nextafter(max, 0.0)}) {
    for (bool fixed : {false, true}) {
      const std::string image = FitsFloatCard("MYKEY   ", v, fixed, "").writeCard();
      SCOPED_TRACE(image);
      std::unique_ptr<FitsCard> read(header.parseCard(image));
      ASSERT_NE(nullptr, read);
      EXPECT_NEAR(v / max, read->getFloat() / max, 1e-12);
    }
  }
  EXPECT_EQ("MYKEY   = 1.7976931348623E+308",
            FitsFloatCard("MYKEY   ", max, false, "").writeCard().substr(0, 30));
}

TEST_F(FitsCardRoundTrip, FitsverifyAndAstropyAcceptEveryImage) {
  // Reserved cards written through the API join the random ones.
  const std::unique_ptr<FitsCard> reserved[] = {
      std::make_unique<FitsFloatCard>("BSCALE  ", 0.5, true, "REAL = DATA * BSCALE + BZERO"),
      std::make_unique<FitsFloatCard>("BZERO   ", 32768.0, true, "DATA-OFFSET"),
      std::make_unique<FitsStringCard>("DATE-OBS", "2004-07-01T12:00:00", true, "start"),
      std::make_unique<FitsStringCard>("DATE    ", "2024-03-05T14:07:09", true,
                                       "date and time of writing file"),
      std::make_unique<FitsStringCard>("ORIGIN  ", "ORV FITS IO class, July 2002", true,
                                       "FITS file originator"),
      std::make_unique<FitsFloatCard>("EQUINOX ", 2000.0, true, ""),
      std::make_unique<FitsFloatCard>("CRVAL1  ", 1e-5, false, ""),
      std::make_unique<FitsFloatCard>("CD1_1   ", -2.5e-4, true, ""),
      std::make_unique<FitsFloatCard>("CRPIX1  ", 1.0, true, ""),
      std::make_unique<FitsStringCard>("CTYPE1  ", "LINEAR", true, ""),
      std::make_unique<FitsCommentCard>("COMMENT ", "an ordinary comment"),
      std::make_unique<FitsCommentCard>("HISTORY ", std::string(72, 'h')),
      std::make_unique<FitsCommentCard>("        ", "  blank keyword commentary"),
  };
  std::string header =
      FitsBoolCard("SIMPLE  ", true, true, "").writeCard() +
      FitsIntCard("BITPIX  ", 8, true, "").writeCard() + FitsIntCard("NAXIS   ", 2, true, "").writeCard() +
      FitsIntCard("NAXIS1  ", 1, true, "").writeCard() + FitsIntCard("NAXIS2  ", 1, true, "").writeCard();
  std::ofstream list("card_images.txt");
  for (const auto& card : reserved) {
    header += card->writeCard();
    list << card->writeCard() << "\n";
  }
  for (const Written& w : cards) {
    header += w.image;
    list << w.image << "\n";
  }
  list.close();
  header += "END";
  header.append(2880 - header.size() % 2880, ' ');
  header.append(2880, '\0');  // the one data byte and its padding
  std::ofstream("card_images.fits", std::ios::binary) << header;

  std::string report;
  ASSERT_EQ(0, test_support::fitsverifyReport("card_images.fits", &report)) << report;
  EXPECT_NE(std::string::npos, report.find("Verification found 0 warning(s) and 0 error(s)")) << report;

  const std::string script = test_support::pythonCommand(
      "-c \""
      "from astropy.io import fits\n"
      "import sys\n"
      "bad = 0\n"
      "for line in open('card_images.txt'):\n"
      "    image = line.rstrip('\\n')\n"
      "    try:\n"
      "        fits.Card.fromstring(image).verify('exception')\n"
      "    except Exception as e:\n"
      "        bad += 1\n"
      "        print(repr(image), e)\n"
      "sys.exit(1 if bad else 0)\n"
      "\"");
  EXPECT_EQ(0, std::system(script.c_str()));
}
