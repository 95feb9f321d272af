// Writing arrays as FITS images: every element type with every BITPIX checked by fitsverify
// and astropy, header content, piece-by-piece writing, raw copies against cfitsio's imcopy.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <ctime>
#include <sstream>

#include "orv/fits/fits.h"
#include "tests/orv/fits/fits_fixtures.h"

namespace {

// The stored value of an element by the conversion table of the writer, computed here
// independently: floating-point values going to an integer BITPIX are truncated to a signed
// 32-bit integer (NaN 0, saturating) of which the low bits are kept; integers keep their low
// bits; BITPIX -32 rounds to single precision. BITPIX 8 reads back unsigned.
double expectedStored(double value, bool floating, int bitpix) {
  if (bitpix == -64) return value;
  if (bitpix == -32) return static_cast<float>(value);
  long long whole;
  if (floating) {
    whole = std::isnan(value)        ? 0
            : value >= 2147483647.0  ? 2147483647LL
            : value <= -2147483648.0 ? -2147483648LL
                                     : static_cast<long long>(std::trunc(value));
  } else {
    whole = static_cast<long long>(value);
  }
  const unsigned long long bits = static_cast<unsigned long long>(whole);
  if (bitpix == 8) return static_cast<double>(bits & 0xFF);
  if (bitpix == 16) return static_cast<double>(static_cast<long long>((bits & 0xFFFF) ^ 0x8000) - 0x8000);
  return static_cast<double>(static_cast<long long>((bits & 0xFFFFFFFFULL) ^ 0x80000000ULL) - 0x80000000LL);
}

const std::vector<double> floatingValues = {
    0,      1,    -1,       2.7,       -2.7,     300, -300,     65535.9,   1e10,         -1e10,         0.1,
    1e-3,   255,  16777217, -16777217, 70000.25, NAN, INFINITY, -INFINITY, 2147483648.0, -2147483649.0, 32768,
    -32769, 1e38, 3.5};
const std::vector<double> intValues = {
    0,   1,   -1,   300, -300,  65537,  16777217, 2147483647, -2147483648.0,
    255, 256, -129, 128, 32767, -32768, 40000,    -40000,     123456789,
    -2,  7,   8,    9,   10,    11,     12};
const std::vector<double> shortValues = {0, 1, -1, 300, -300, 32767, -32768, 255, 256, -129, 128, -2, 7,
                                         8, 9, 10, 11,  12,   13,    14,     15,  16,  17,   18,  19};

struct WriteCase {
  std::string type;
  int rank;
  std::vector<double> values;
  bool floating;
};

template <class T, int N>
void writeArray(const std::string& file, const std::vector<double>& values, int bitpix) {
  orv::MArray<T, N> a;
  if constexpr (N == 1)
    a.makeReference(orv::MArray<T, 1>(static_cast<int>(values.size())));
  else
    a.makeReference(orv::MArray<T, 2>(5, static_cast<int>(values.size()) / 5));
  T* p = a.firstElement();
  for (size_t i = 0; i < values.size(); ++i) p[i] = static_cast<T>(values[i]);
  orv::FitsOut out(file);
  out.setBitpixOut(bitpix);
  out << a;
}

TEST(FitsOutWhole, EveryTypeAndBitpixVerifiesAndReadsBackInAstropy) {
  const std::vector<WriteCase> cases = {{"float", 2, floatingValues, true},
                                        {"double", 1, floatingValues, true},
                                        {"double", 2, floatingValues, true},
                                        {"short", 2, shortValues, false},
                                        {"int", 2, intValues, false}};
  const std::string dir = test_support::programScratchDir("orv_fits");
  std::vector<std::string> files;
  for (const WriteCase& c : cases) {
    for (int bitpix : {8, 16, 32, -32, -64}) {
      // Integers written as float: keep them exact there (the table's rounding is tested below).
      const std::string file = dir + c.type + std::to_string(c.rank) + "_" +
                               std::to_string(bitpix < 0 ? 100 - bitpix : bitpix) + ".fits";
      if (c.type == "float") writeArray<float, 2>(file, c.values, bitpix);
      if (c.type == "double" && c.rank == 1) writeArray<double, 1>(file, c.values, bitpix);
      if (c.type == "double" && c.rank == 2) writeArray<double, 2>(file, c.values, bitpix);
      if (c.type == "short") writeArray<short, 2>(file, c.values, bitpix);
      if (c.type == "int") writeArray<int, 2>(file, c.values, bitpix);
      files.push_back(file);

      // Size: the header plus whole records of data, the padding zero.
      const std::vector<unsigned char> bytes = fits_test::readBytes(file);
      orv::FitsIn in(file, true);
      const long dataEnd = in.getDataOffset() + in.getDataLength();
      EXPECT_EQ(in.getDataOffset() % 2880, 0);
      EXPECT_EQ(static_cast<long>(bytes.size()),
                in.getDataOffset() + (in.getDataLength() + 2879) / 2880 * 2880);
      for (size_t i = dataEnd; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0) << file;
      EXPECT_EQ(in.getString("ORIGIN  "), "ORV FITS IO class, July 2002");
    }
  }

  // fitsverify: no errors and no warnings in any file.
  for (const std::string& file : files) {
    std::string report;
    test_support::fitsverifyReport(file, &report);
    EXPECT_NE(report.find("Verification found 0 warning(s) and 0 error(s)"), std::string::npos) << report;
  }

  // astropy's raw values equal the conversion table's.
  std::string script = "import sys, numpy as np\nfrom astropy.io import fits\n";
  script += "for f in sys.argv[1:]:\n";
  script += "    d = fits.getdata(f, do_not_scale_image_data=True)\n";
  script += "    np.asarray(d, dtype=np.float64).ravel(order='C').astype('<f8').tofile(f + '.raw')\n";
  { std::ofstream(dir + "dump.py") << script; }
  std::string command = test_support::pythonCommand(dir + "dump.py");
  for (const std::string& file : files) command += " " + file;
  std::string output;
  ASSERT_EQ(test_support::runCommand(command + " 2>&1", &output), 0) << output;
  size_t next = 0;
  for (const WriteCase& c : cases) {
    for (int bitpix : {8, 16, 32, -32, -64}) {
      const std::string& file = files[next++];
      SCOPED_TRACE(file);
      const std::vector<double> got = fits_test::readDoubles(file + ".raw");
      ASSERT_EQ(got.size(), c.values.size());
      for (size_t i = 0; i < got.size(); ++i) {
        // The element as the array held it, then the table's conversion.
        double element = c.values[i];
        if (c.type == "float") element = static_cast<float>(element);
        if (c.type == "int") element = static_cast<int>(element);
        if (c.type == "short") element = static_cast<short>(element);
        const double want = expectedStored(element, c.floating, bitpix);
        EXPECT_TRUE(fits_test::sameValue(got[i], want))
            << "element " << i << " (" << c.values[i] << "): got " << got[i] << ", want " << want;
      }
    }
  }
}

TEST(FitsOutWhole, ValuesBecomeTheExpectedBigEndianBytes) {
  const std::string dir = test_support::programScratchDir("orv_fits");
  struct Case {
    std::string name;
    int bitpix;
    double value;
    bool floating;  // written from a double array, else from an int array
    std::vector<unsigned char> bytes;
  };
  const Case cases[] = {
      {"double 1.0 as -64", -64, 1.0, true, {0x3F, 0xF0, 0, 0, 0, 0, 0, 0}},
      {"double 2.7 as 16", 16, 2.7, true, {0x00, 0x02}},
      {"double -2.7 as 16", 16, -2.7, true, {0xFF, 0xFE}},
      {"int 300 as 8", 8, 300, false, {0x2C}},
      {"int -1 as 8", 8, -1, false, {0xFF}},
      {"int 2^24+1 as -32", -32, 16777217, false, {0x4B, 0x80, 0x00, 0x00}},
      {"double NaN as 32", 32, NAN, true, {0, 0, 0, 0}},
      {"double 1e10 as 32", 32, 1e10, true, {0x7F, 0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir + "b.fits";
    if (c.floating)
      writeArray<double, 1>(file, {c.value}, c.bitpix);
    else
      writeArray<int, 1>(file, {c.value}, c.bitpix);
    const std::vector<unsigned char> bytes = fits_test::readBytes(file);
    orv::FitsIn in(file, true);
    const std::vector<unsigned char> data(bytes.begin() + in.getDataOffset(),
                                          bytes.begin() + in.getDataOffset() + c.bytes.size());
    EXPECT_EQ(data, c.bytes);
  }
  // A float 3 x 2 array on a fresh writer: 24 data bytes, 2856 zero bytes, the default cards.
  orv::MArray<float, 2> a(3, 2);
  for (int i = 0; i < 6; ++i) a.firstElement()[i] = 1.0f;
  orv::FitsOut out(dir + "small.fits");
  out << a;
  orv::FitsIn in(dir + "small.fits", true);
  EXPECT_EQ(in.getBitpix(), -32);
  EXPECT_EQ(in.getNaxis(1), 3);
  EXPECT_EQ(in.getNaxis(2), 2);
  const std::vector<unsigned char> bytes = fits_test::readBytes(dir + "small.fits");
  EXPECT_EQ(static_cast<long>(bytes.size()), in.getDataOffset() + 2880);
  EXPECT_EQ(bytes[in.getDataOffset()], 0x3F);
  EXPECT_EQ(bytes[in.getDataOffset() + 1], 0x80);
  // The default BITPIX is set only when unset; it cannot change while a window is mapped.
  EXPECT_EQ(out.getBitpixOut(), -32);
  // An ORIGIN set before is kept.
  orv::FitsOut own(dir + "own.fits");
  own.setOrigin("my pipeline");
  own << a;
  EXPECT_EQ(orv::FitsIn(dir + "own.fits", true).getString("ORIGIN  "), "my pipeline");
}

// The header text of a file (its records up to the data).
std::string headerText(const std::string& file) {
  orv::FitsIn in(file, true);
  const std::vector<unsigned char> bytes = fits_test::readBytes(file);
  return std::string(bytes.begin(), bytes.begin() + in.getDataOffset());
}

std::vector<std::string> keywords(const std::string& header) {
  std::vector<std::string> words;
  for (size_t pos = 0; pos < header.size(); pos += 80) {
    std::string word = header.substr(pos, 8);
    word.erase(word.find_last_not_of(' ') + 1);
    if (!word.empty()) words.push_back(word);
    if (word == "END") break;
  }
  return words;
}

TEST(FitsOutHeader, CopiedHeaderIsWrittenInCanonicalOrderWithoutObsoleteCards) {
  const std::string dir = test_support::programScratchDir("orv_fits");
  using fits_test::intCard;
  std::vector<unsigned char> bytes = fits_test::headerBytes(
      {"SIMPLE  =                    T", intCard("BITPIX", 16), intCard("NAXIS", 2), intCard("NAXIS1", 4),
       intCard("NAXIS2", 3), "COMMENT a comment", "OBJECT  = 'M31     '", "HISTORY some history",
       intCard("PCOUNT", 0), "EXTEND  =                    T", "BSCALE  =                  2.0",
       intCard("GCOUNT", 1), intCard("BLANK", -1), "BZERO   =                  5.0", "ORIGIN  = 'somebody'",
       "CHECKSUM= 'abcdefghijklmnop'", "DATASUM = '12345'", "BLOCKED =                    T"});
  bytes.resize(bytes.size() + 2880, 0);
  fits_test::writeBytes(dir + "in.fits", bytes);
  orv::FitsIn in(dir + "in.fits", true);

  // The header itself, written again: the canonical order of the lists.
  orv::FitsHeader copy(in, true, false);
  EXPECT_EQ(
      keywords(copy.writeHeader(true)),
      (std::vector<std::string>{"SIMPLE",  "BITPIX",   "NAXIS",   "NAXIS1",  "NAXIS2",  "EXTEND", "PCOUNT",
                                "GCOUNT",  "BSCALE",   "BLANK",   "BZERO",   "DATE",    "OBJECT", "ORIGIN",
                                "BLOCKED", "CHECKSUM", "DATASUM", "COMMENT", "HISTORY", "END"}));

  // Through a writer: the scaling, originator, group counts and checksums are dropped; BLANK
  // stays with an integer BITPIX and goes with a floating-point one.
  for (int bitpix : {16, -32}) {
    const std::time_t before = std::time(nullptr);
    {
      orv::FitsOut out(dir + "out.fits", in, true, false);
      util::Region full(2);
      full.setRange(1, 1, 4);
      full.setRange(2, 1, 3);
      out.setGeometry(bitpix, full);
    }
    const std::string header = headerText(dir + "out.fits");
    std::vector<std::string> want = {"SIMPLE", "BITPIX", "NAXIS", "NAXIS1", "NAXIS2", "EXTEND"};
    if (bitpix > 0) want.push_back("BLANK");
    for (const char* w : {"DATE", "OBJECT", "COMMENT", "HISTORY", "END"}) want.push_back(w);
    EXPECT_EQ(keywords(header), want);
    // The DATE card holds the time of writing, in UTC.
    orv::FitsIn written(dir + "out.fits", true);
    const std::string date = written.getString("DATE    ");
    std::tm parts{};
    ASSERT_TRUE(strptime(date.c_str(), "%Y-%m-%dT%H:%M:%S", &parts)) << date;
    const std::time_t stamp = timegm(&parts);
    EXPECT_LE(before - 1, stamp);
    EXPECT_LE(stamp, std::time(nullptr) + 1);
    std::string report;
    test_support::fitsverifyReport(dir + "out.fits", &report);
    EXPECT_NE(report.find("0 error(s)"), std::string::npos) << report;
  }
}

TEST(FitsOutHeader, CardsOutsidePrintableAsciiAreLeftOutWithAWarning) {
  const std::string dir = test_support::programScratchDir("orv_fits");
  using fits_test::intCard;
  // A comment with a Latin-1 letter, a keyword with a control character (read as a junk
  // card), and a card the program adds with a tab in its value.
  std::vector<unsigned char> bytes = fits_test::headerBytes(
      {"SIMPLE  =                    T", intCard("BITPIX", 16), intCard("NAXIS", 2), intCard("NAXIS1", 4),
       intCard("NAXIS2", 3), "OBJECT  = 'M31     '           / caf\xE9", "OBSERVER= 'someone'",
       "BAD\x01KEY=                    1"});
  bytes.resize(bytes.size() + 2880, 0);
  fits_test::writeBytes(dir + "in.fits", bytes);
  orv::FitsIn in(dir + "in.fits", true);
  ASSERT_EQ(in.getString("OBJECT  "), "M31");

  orv::FitsOut out(dir + "out.fits", in, false, false);
  out.addValueCard(new orv::FitsStringCard("NOTE    ", "a\tb", false, ""));
  testing::internal::CaptureStderr();
  out << orv::MArray<short, 2>(4, 3);
  const std::string warnings = testing::internal::GetCapturedStderr();
  for (const char* shown :
       {"OBJECT  = 'M31     '           / caf\\xE9", "BAD\\x01KEY=", "NOTE    = 'a\\x09b'"})
    EXPECT_NE(warnings.find(shown), std::string::npos) << shown << " not in\n" << warnings;
  EXPECT_EQ(keywords(headerText(dir + "out.fits")),
            (std::vector<std::string>{"SIMPLE", "BITPIX", "NAXIS", "NAXIS1", "NAXIS2", "DATE", "OBSERVER",
                                      "ORIGIN", "END"}));
  std::string report;
  test_support::fitsverifyReport(dir + "out.fits", &report);
  EXPECT_NE(report.find("Verification found 0 warning(s) and 0 error(s)"), std::string::npos) << report;
}

TEST(FitsOutHeader, GeometryOfMandatoryCardsOnlyIsOneRecordAndPaddedData) {
  const std::string dir = test_support::programScratchDir("orv_fits");
  {
    orv::FitsOut out(dir + "g.fits");
    util::Region r(2);
    r.setRange(1, 1, 100);
    r.setRange(2, 1, 50);
    out.setGeometry(-32, r);
    EXPECT_EQ(out.getBitpixOut(), -32);
    EXPECT_EQ(out.getDataOffset(), 2880);
    EXPECT_EQ(fits_test::messageOf([&] { out.begin(); }),  // nothing is mapped
              "Attempt to write file of unspecified geometry.");
    out.setBitpixOut(16);  // allowed while nothing is mapped
  }
  // The file gets its name when the writer is done with it.
  const std::vector<unsigned char> bytes = fits_test::readBytes(dir + "g.fits");
  EXPECT_EQ(bytes.size(), 2880u + 20160u);

  orv::FitsOut none(dir + "none.fits");
  none.openData(8, 0, nullptr);
  EXPECT_EQ(fits_test::readBytes(dir + "none.fits").size(), 2880u);
  try {
    none.begin();
    FAIL();
  } catch (const orv::FitsException& e) {
    EXPECT_EQ(std::string(e.what()), "FitsException: Attempt to write file of unspecified geometry.");
  }
  struct Bad {
    int bitpix, naxis;
    const char* message;
  };
  const int lengths[1] = {1};
  for (const Bad& b : {Bad{64, 1, "invalid BITPIX"}, Bad{8, 1000, "NAXIS restricted to < 1000"},
                       Bad{8, -1, "NAXIS may not be negative"}}) {
    try {
      none.resetMandatories(b.bitpix, b.naxis, lengths);
      ADD_FAILURE() << b.message;
    } catch (const orv::FitsException& e) {
      EXPECT_EQ(std::string(e.what()), std::string("FitsException: ") + b.message);
    }
  }
}

// Writes a 37 x 23 float image whole, with the given BITPIX.
orv::MArray<float, 2> testImage() {
  orv::MArray<float, 2> a(37, 23);
  for (int y = 1; y <= 23; ++y)
    for (int x = 1; x <= 37; ++x) a(x, y) = static_cast<float>(x * 100 + y) + 0.25f;
  return a;
}

std::vector<unsigned char> dataBytes(const std::string& file) {
  orv::FitsIn in(file, true);
  const std::vector<unsigned char> bytes = fits_test::readBytes(file);
  return std::vector<unsigned char>(bytes.begin() + in.getDataOffset(), bytes.end());
}

TEST(FitsOutRegions, RowByRowEqualsWholeWriteAndTouchesNothingElse) {
  const std::string dir = test_support::programScratchDir("orv_fits");
  const orv::MArray<float, 2> image = testImage();
  util::Region full(2);
  full.setRange(1, 1, 37);
  full.setRange(2, 1, 23);
  for (int bitpix : {16, -32, -64}) {
    SCOPED_TRACE(bitpix);
    orv::FitsOut whole(dir + "whole.fits");
    whole.setBitpixOut(bitpix);
    whole << image;

    {
      orv::FitsOut rows(dir + "rows.fits");
      rows.setGeometry(bitpix, full);
      for (int y = 1; y <= 23; ++y) {
        util::Region row(2);
        row.setRange(1, 1, 37);
        row.setRange(2, y, y);
        rows.setRegion(row);
        orv::MArray<float, 1> line(37);
        for (int x = 1; x <= 37; ++x) line(x) = image(x, y);
        rows << line;
      }
    }
    EXPECT_EQ(dataBytes(dir + "rows.fits"), dataBytes(dir + "whole.fits"));
  }

  // A sentinel-filled data segment of an existing file: a region write changes exactly the
  // region's bytes, and an array of the wrong size is refused before anything is stored.
  {
    orv::FitsOut made(dir + "sentinel.fits");
    made.setGeometry(16, full);
  }
  orv::FitsIn existing(dir + "sentinel.fits", true);
  orv::FitsOut out(dir + "sentinel.fits", existing, true, false);
  out.setBitpixOut(16);
  const long offset = out.getDataOffset();
  std::vector<unsigned char> bytes = fits_test::readBytes(dir + "sentinel.fits");
  std::fill(bytes.begin() + offset, bytes.end(), 0xAB);
  fits_test::writeBytes(dir + "sentinel.fits", bytes);
  util::Region box(2);
  box.setRange(1, 5, 9);
  box.setRange(2, 3, 4);
  out.setRegion(box);
  try {
    out.setBitpixOut(32);
    ADD_FAILURE() << "BITPIX changed while the file is mapped";
  } catch (const orv::FitsException& e) {
    EXPECT_EQ(std::string(e.what()), "FitsException: cannot reset bitpix while file is open");
  }
  orv::MArray<short, 2> wrong(3, 3);
  wrong = short(0);
  EXPECT_THROW(out << wrong, orv::FitsException);
  EXPECT_EQ(fits_test::readBytes(dir + "sentinel.fits"), bytes);
  out.setRegion(box);
  orv::MArray<short, 2> piece(5, 2);
  piece = short(0x0102);
  out << piece;
  const std::vector<unsigned char> after = fits_test::readBytes(dir + "sentinel.fits");
  for (long i = offset; i < static_cast<long>(after.size()); ++i) {
    const long element = (i - offset) / 2;
    const long x = element % 37 + 1, y = element / 37 + 1;
    const bool inside = element < 37 * 23 && x >= 5 && x <= 9 && y >= 3 && y <= 4;
    const unsigned char want = inside ? ((i - offset) % 2 == 0 ? 0x01 : 0x02) : 0xAB;
    ASSERT_EQ(after[i], want) << "byte " << i - offset;
  }
}

TEST(FitsOutCopy, RegionCopyEqualsImcopy) {
  const std::string& fixtures = fits_test::imageFixtures();
  const std::string dir = test_support::programScratchDir("orv_fits");
  struct Case {
    std::string file;
    std::vector<int> bounds;
    std::string section;
  };
  const Case cases[] = {{"img_cube.fits", {3, 17, 2, 11, 4, 4}, "[3:17,2:11,4:4]"},
                        {"img_cube.fits", {1, 23, 5, 5, 2, 8}, "[1:23,5:5,2:8]"},
                        {"img_f64.fits", {2, 20, 4, 9}, "[2:20,4:9]"},
                        {"img_u8.fits", {1, 7, 1, 5}, "[1:7,1:5]"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + c.section);
    util::Region region(c.bounds.size() / 2);
    for (size_t d = 0; d < region.N; ++d) region.setRange(d + 1, c.bounds[2 * d], c.bounds[2 * d + 1]);
    orv::FitsIn in(fixtures + c.file, region, true);
    orv::FitsOut out(dir + "ours.fits", in, true, false);
    out.copyData(in);
    std::string output;
    ASSERT_EQ(test_support::runCommand(
                  "imcopy '" + fixtures + c.file + c.section + "' '!" + dir + "theirs.fits' 2>&1", &output),
              0)
        << output;
    EXPECT_EQ(dataBytes(dir + "ours.fits"), dataBytes(dir + "theirs.fits"));
    std::string report;
    test_support::fitsverifyReport(dir + "ours.fits", &report);
    EXPECT_NE(report.find("0 warning(s) and 0 error(s)"), std::string::npos) << report;
    // The copy keeps the scaling, so the values read back are those of the input's region.
    orv::FitsIn copied(dir + "ours.fits", true);
    EXPECT_EQ(copied.getBscale(), in.getBscale());
    EXPECT_EQ(copied.getBzero(), in.getBzero());
  }
  // A whole copy is the input's data byte for byte; copying a file onto itself is refused.
  orv::FitsIn in(fixtures + "img_i32.fits", true);
  orv::FitsOut out(dir + "whole.fits", in, true, false);
  out.copyData(in);
  EXPECT_EQ(dataBytes(dir + "whole.fits"), dataBytes(fixtures + "img_i32.fits"));
  orv::FitsOut self(fixtures + "img_i32.fits", in, true, false);
  EXPECT_THROW(self.copyData(in), orv::FitsException);
  EXPECT_EQ(dataBytes(fixtures + "img_i32.fits"), dataBytes(dir + "whole.fits"));
  // An output made from an extension header is a primary image without group counts.
  orv::FitsExtensionIn withExtensions(fixtures + "img_ext.fits", true);
  orv::FitsIn extension = withExtensions.getExtension(1);
  orv::FitsOut fromExtension(dir + "fromext.fits", extension, true, false);
  fromExtension.copyData(extension);
  const std::vector<std::string> words = keywords(headerText(dir + "fromext.fits"));
  EXPECT_EQ(words.front(), "SIMPLE");
  for (const char* gone : {"XTENSION", "PCOUNT", "GCOUNT"})
    EXPECT_EQ(std::count(words.begin(), words.end(), gone), 0) << gone;
  std::string report;
  test_support::fitsverifyReport(dir + "fromext.fits", &report);
  EXPECT_NE(report.find("0 warning(s) and 0 error(s)"), std::string::npos) << report;
  EXPECT_EQ(dataBytes(dir + "fromext.fits").size(), 2880u);
  // A single pixel gives an output without axes, into which nothing can be copied.
  util::Region pixel(3);
  for (int d = 1; d <= 3; ++d) pixel.setRange(d, 2, 2);
  orv::FitsIn onePixel(fixtures + "img_i32.fits", pixel, true);
  orv::FitsOut single(dir + "single.fits", onePixel, true, false);
  EXPECT_EQ(fits_test::messageOf([&] { single.copyData(onePixel); }),
            "Attempt to write file of unspecified geometry.");
}

}  // namespace
