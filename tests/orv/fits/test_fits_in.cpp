// Reading images into arrays: values of every BITPIX and scaling against the raw values
// that astropy reads, regions against numpy's slices, tile walks, and image extensions.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <limits>
#include <sstream>

#include "orv/fits/fits.h"
#include "tests/orv/fits/fits_fixtures.h"

using fits_test::expectedValue;
using fits_test::imageFixtures;
using fits_test::sameValue;
using fits_test::typeName;

namespace {

struct ValueCase {
  std::string name;
  int bitpix;
  double bscale, bzero;
  std::vector<int> axes;
};

std::vector<ValueCase> valueCases() {
  std::vector<ValueCase> cases;
  for (const std::string& line : fits_test::readLines(imageFixtures() + "manifest.txt")) {
    std::istringstream in(line);
    ValueCase c;
    in >> c.name >> c.bitpix >> c.bscale >> c.bzero;
    for (int n; in >> n;) c.axes.push_back(n);
    cases.push_back(c);
  }
  return cases;
}

// Reads the fixture whole; allJunk keeps every card after the NAXISn cards unparsed, which must
// not lose the scaling.
template <class T, int N>
void checkWholeRead(const ValueCase& c, bool allJunk) {
  SCOPED_TRACE(c.name + " into " + typeName<T>() + (allJunk ? ", cards kept unparsed" : ""));
  const std::string file = imageFixtures() + "img_" + c.name + ".fits";
  const std::vector<double> raw = fits_test::readDoubles(imageFixtures() + "img_" + c.name + ".raw");
  orv::FitsIn in(file, true, allJunk);
  ASSERT_EQ(in.getBitpix(), c.bitpix);
  orv::MArray<T, N> a;
  in >> a;
  for (int d = 1; d <= N; ++d) EXPECT_EQ(a.length(d), c.axes[d - 1]);
  ASSERT_EQ(static_cast<size_t>(a.numElements()), raw.size());
  ASSERT_TRUE(a.isStorageContiguous());
  const T* values = a.firstElement();
  int wrong = 0;
  for (size_t i = 0; i < raw.size() && wrong < 5; ++i) {
    const T want = expectedValue<T>(raw[i], c.bscale, c.bzero);
    if (!sameValue(values[i], want)) {
      ++wrong;
      ADD_FAILURE() << "element " << i << " raw " << raw[i] << ": got " << values[i] << ", want " << want;
    }
  }
}

template <class T>
void checkWholeRead(const ValueCase& c, bool allJunk) {
  switch (c.axes.size()) {
    case 1:
      return checkWholeRead<T, 1>(c, allJunk);
    case 2:
      return checkWholeRead<T, 2>(c, allJunk);
    case 3:
      return checkWholeRead<T, 3>(c, allJunk);
    default:
      FAIL() << "unexpected NAXIS";
  }
}

TEST(FitsInValues, EveryBitpixAndScalingGivesTheScaledValues) {
  const std::vector<ValueCase> cases = valueCases();
  ASSERT_GE(cases.size(), 23u);
  for (const ValueCase& c : cases) {
    for (bool allJunk : {false, true}) {
      checkWholeRead<float>(c, allJunk);
      checkWholeRead<short>(c, allJunk);
    }
    // Elements as wide as the file's are converted where they were read; others are not.
    checkWholeRead<double>(c, false);
    checkWholeRead<int>(c, false);
  }
}

// A whole image goes to an array by several ways: into a new array or one of the image's size,
// into a strided view, from an iterator that stands inside an array, into a buffer, or by a
// reader that already holds its mapping. Every way gives the same values, in images of many
// pages.
TEST(FitsInValues, EveryDestinationOfAWholeImageGetsTheSameValues) {
  using Read = std::function<std::vector<float>(orv::FitsIn&, int nx, int ny)>;
  auto values = [](const float* p, long n) { return std::vector<float>(p, p + n); };
  struct Destination {
    const char* name;
    Read read;
  };
  const Destination destinations[] = {
      {"new array",
       [&](orv::FitsIn& in, int, int) {
         orv::MArray<float, 2> a;
         in >> a;
         return values(a.firstElement(), a.numElements());
       }},
      {"array of the image's size",
       [&](orv::FitsIn& in, int nx, int ny) {
         orv::MArray<float, 2> a(nx, ny);
         in >> a;
         return values(a.firstElement(), a.numElements());
       }},
      {"every second column of a wider array",
       [](orv::FitsIn& in, int nx, int ny) {
         orv::MArray<float, 2> wide(2 * nx, ny);
         wide = -1.0f;
         orv::MArray<float, 2> view(wide);
         view.setrange(1, orv::Range(1, 2 * nx - 1, 2));
         in >> view;
         std::vector<float> v;
         for (int y = 1; y <= ny; ++y)
           for (int x = 1; x <= nx; ++x) {
             v.push_back(wide(2 * x - 1, y));
             EXPECT_EQ(wide(2 * x, y), -1.0f);
           }
         return v;
       }},
      {"iterator that stands on the third element",
       [&](orv::FitsIn& in, int nx, int ny) {
         orv::MArray<float, 1> longer(nx * ny + 5);
         longer = -1.0f;
         orv::MArrayIter<float, 1> it(longer);
         ++it;
         ++it;
         in.readDataArray(it);
         EXPECT_EQ(longer(2), -1.0f);
         EXPECT_EQ(longer(nx * ny + 3), -1.0f);
         return values(&longer(3), static_cast<long>(nx) * ny);
       }},
      {"buffer",
       [&](orv::FitsIn& in, int nx, int ny) {
         std::unique_ptr<float[]> buffer(in.getDataArray(float()));
         return values(buffer.get(), static_cast<long>(nx) * ny);
       }},
      {"reader holding a mapping",
       [&](orv::FitsIn& in, int, int) {
         in.openData();
         orv::MArray<float, 2> a;
         in >> a;
         return values(a.firstElement(), a.numElements());
       }},
  };
  for (const ValueCase& c : valueCases()) {
    if (c.name.find("big") == std::string::npos) continue;
    const std::vector<double> raw = fits_test::readDoubles(imageFixtures() + "img_" + c.name + ".raw");
    for (const Destination& d : destinations) {
      SCOPED_TRACE(c.name + " into " + d.name);
      orv::FitsIn in(imageFixtures() + "img_" + c.name + ".fits", true);
      const std::vector<float> got = d.read(in, c.axes[0], c.axes[1]);
      ASSERT_EQ(got.size(), raw.size());
      for (size_t i = 0; i < raw.size(); ++i)
        ASSERT_TRUE(sameValue(got[i], expectedValue<float>(raw[i], c.bscale, c.bzero))) << "element " << i;
    }
  }
}

// A 16-bit image of raw values -2, 0, 3 with the given cards after the NAXISn cards, and
// optionally text after the END card.
std::string scaledImage(const std::string& name, const std::vector<std::string>& cards, bool textAfterEnd) {
  const std::string file = test_support::programScratchDir("orv_fits_scaling") + name;
  std::vector<std::string> header = {"SIMPLE  =                    T", fits_test::intCard("BITPIX", 16),
                                     fits_test::intCard("NAXIS", 1), fits_test::intCard("NAXIS1", 3)};
  header.insert(header.end(), cards.begin(), cards.end());
  std::vector<unsigned char> bytes = fits_test::headerBytes(header);
  if (textAfterEnd) {
    const std::string note = "written by hand";
    std::copy(note.begin(), note.end(), bytes.end() - 100);
  }
  for (unsigned char b : {0xFF, 0xFE, 0x00, 0x00, 0x00, 0x03}) bytes.push_back(b);
  bytes.resize(bytes.size() + 2880 - 6, 0);
  fits_test::writeBytes(file, bytes);
  return file;
}

std::vector<float> readScaled(const std::string& file, bool allJunk) {
  orv::FitsIn in(file, true, allJunk);
  orv::MArray<float, 1> a;
  in >> a;
  return std::vector<float>(a.firstElement(), a.firstElement() + a.numElements());
}

TEST(FitsInValues, ScalingCardsCountWhetherOrNotTheOtherCardsAreParsed) {
  const std::string file =
      scaledImage("scaled.fits", {"BSCALE  =                  0.5", "BZERO   =                   10"}, false);
  const std::vector<float> want = {9.0f, 10.0f, 11.5f};
  EXPECT_EQ(readScaled(file, false), want);
  EXPECT_EQ(readScaled(file, true), want);
  // Text after the END card passes when the cards are kept unparsed, and the scaling still counts.
  const std::string noted = scaledImage("scaled_noted.fits", {"BZERO   =                32768"}, true);
  EXPECT_EQ(readScaled(noted, true), (std::vector<float>{32766.0f, 32768.0f, 32771.0f}));
  EXPECT_NE(fits_test::messageOf([&] { readScaled(noted, false); }).find("Header corrupted after END"),
            std::string::npos);
  // A later card of a keyword replaces the earlier one in both ways of reading.
  const std::string twice = scaledImage(
      "scaled_twice.fits", {"BSCALE  =                    3", "BSCALE  =                    2"}, false);
  EXPECT_EQ(readScaled(twice, false), (std::vector<float>{-4.0f, 0.0f, 6.0f}));
  EXPECT_EQ(readScaled(twice, true), (std::vector<float>{-4.0f, 0.0f, 6.0f}));
}

TEST(FitsInValues, MalformedScalingCardsAreRefusedNamingFileAndCard) {
  const std::vector<std::string> cards = {"BSCALE  = 'half'",
                                          "BZERO   = 32768x",
                                          "BSCALE  =",
                                          "BZERO   =                  NAN",
                                          "BSCALE  =                    T",
                                          "BSCALE  =                  inf"};
  int k = 0;
  for (const std::string& card : cards) {
    const std::string file = scaledImage("malformed_" + std::to_string(k++) + ".fits", {card}, false);
    for (bool allJunk : {false, true}) {
      SCOPED_TRACE(card + (allJunk ? ", cards kept unparsed" : ""));
      EXPECT_EQ(fits_test::messageOf([&] { orv::FitsIn in(file, true, allJunk); }),
                "malformed scaling card in file '" + file + "': " + card);
    }
  }
}

// An output made from a header whose cards were kept unparsed holds those cards, but none of
// the input's scaling: its float data are the physical values (fitsverify and astropy agree).
TEST(FitsInValues, OutputOfAScaledInputCarriesNoStaleScaling) {
  const std::string file = scaledImage(
      "scaled_in.fits",
      {"BSCALE  =                  0.5", "BZERO   =                   10", "OBJECT  = 'M 51'"}, true);
  orv::FitsIn in(file, true, true);
  orv::MArray<float, 1> a;
  in >> a;
  const std::string out = test_support::programScratchDir("orv_fits_scaling") + "scaled_out.fits";
  {
    orv::FitsOut writer(out, in, true, false);
    writer << a;
  }
  std::string report;
  EXPECT_TRUE(test_support::fitsverifyClean(out, &report)) << report;
  const std::string printed = test_support::pythonOutputIn(".", R"(
from astropy.io import fits
with fits.open(")" + out + R"(") as h:
    print(h[0].header["OBJECT"], "BSCALE" in h[0].header, "BZERO" in h[0].header, *h[0].data)
)");
  EXPECT_EQ(printed, "M 51 False False 9.0 10.0 11.5\n");
}

TEST(FitsInValues, OffsetUnsignedAndSaturatingConversions) {
  // BITPIX 16 with BZERO 32768: raw -32768 gives 0 and raw 32767 gives 65535 (the fixture's
  // first elements); BITPIX -32 into short truncates 2.9 and -2.9 toward zero.
  orv::FitsIn u16(imageFixtures() + "img_u16.fits", true);
  std::unique_ptr<float[]> f(u16.getDataArray(float()));
  EXPECT_EQ(f[0], 0.0f);
  EXPECT_EQ(f[1], 65535.0f);
  orv::FitsIn f32(imageFixtures() + "img_f32.fits", true);
  std::unique_ptr<short[]> s(f32.getDataArray(short()));
  EXPECT_EQ(s[0], 0);       // NaN
  EXPECT_EQ(s[1], 32767);   // inf saturates
  EXPECT_EQ(s[2], -32768);  // -inf saturates
  EXPECT_EQ(s[3], 2);
  EXPECT_EQ(s[4], -2);
  std::unique_ptr<float[]> nan(f32.getDataArray(float()));
  EXPECT_TRUE(std::isnan(nan[0]));
}

// Reads the region of a box into an array of the rank that the squeezed slice has.
template <int N>
std::vector<double> readBox(orv::FitsIn& in, const std::vector<int>& lengths) {
  orv::MArray<float, N> a;
  in >> a;
  std::vector<double> values;
  for (int d = 1; d <= N; ++d) EXPECT_EQ(a.length(d), lengths[d - 1]);
  for (orv::MArrayIterConst<float, N> it(a); !it.isDone(); ++it) values.push_back(*it);
  return values;
}

// Every box is read three ways: by a reader whose region is set to it, and by readBox of two
// readers held open, one mapping the whole segment and one a region of the whole image.
TEST(FitsInRegions, RandomBoxesEqualNumpySlices) {
  const std::vector<std::string> boxes = fits_test::readLines(imageFixtures() + "boxes.txt");
  const std::vector<double> expected = fits_test::readDoubles(imageFixtures() + "boxes.f64");
  ASSERT_EQ(boxes.size(), 300u);
  orv::FitsIn in(imageFixtures() + "img_cube.fits", true);
  orv::FitsIn wholeHeld(imageFixtures() + "img_cube.fits", true);
  orv::FitsIn regionHeld(imageFixtures() + "img_cube.fits", wholeHeld.getFullRegion(), true);
  size_t next = 0;
  for (const std::string& line : boxes) {
    SCOPED_TRACE(line);
    std::istringstream text(line);
    int bounds[6], kept;
    for (int& b : bounds) text >> b;
    text >> kept;
    std::vector<int> lengths(kept);
    long count = 1;
    for (int& l : lengths) {
      text >> l;
      count *= l;
    }
    util::Region region(3);
    for (int d = 0; d < 3; ++d) region.setRange(d + 1, bounds[2 * d], bounds[2 * d + 1]);
    in.setRegion(region);
    std::vector<double> got;
    if (kept == 1) got = readBox<1>(in, lengths);
    if (kept == 2) got = readBox<2>(in, lengths);
    if (kept == 3) got = readBox<3>(in, lengths);
    if (kept == 0) {
      std::unique_ptr<float[]> one(in.getDataArray(float()));
      got.push_back(one[0]);
      orv::MArray<float, 1> a;
      EXPECT_EQ(
          fits_test::messageOf([&] { in >> a; }),
          "NAXIS or slice does not match MArray dimensions (file '" + imageFixtures() + "img_cube.fits')");
    }
    ASSERT_EQ(got.size(), static_cast<size_t>(count));
    for (long i = 0; i < count; ++i) ASSERT_EQ(got[i], expected[next + i]) << "element " << i;
    for (orv::FitsIn* held : {&wholeHeld, &regionHeld}) {
      std::vector<float> box(count);
      held->readBox(region, box.data());
      for (long i = 0; i < count; ++i)
        ASSERT_EQ(box[i], expected[next + i]) << "element " << i << " by readBox";
    }
    next += count;
  }
  EXPECT_EQ(next, expected.size());
}

// A box outside the image, or outside the region of the reader, is refused before anything
// is written; the reader reads later boxes.
TEST(FitsInRegions, BoxesOutsideTheReadersRegionAreRefused) {
  const std::string file = imageFixtures() + "img_cube.fits";
  auto cube = [](int x0, int x1, int y0, int y1, int z0, int z1) {
    util::Region r(3);
    r.setRange(1, x0, x1);
    r.setRange(2, y0, y1);
    r.setRange(3, z0, z1);
    return r;
  };
  orv::FitsIn whole(file, true);
  orv::FitsIn part(file, cube(5, 20, 3, 10, 2, 8), true);
  struct Case {
    orv::FitsIn* reader;
    util::Region box;
    std::string message;  // empty: read
  };
  const Case cases[] = {
      {&whole, cube(1, 23, 1, 17, 1, 9), ""},
      {&whole, cube(1, 24, 1, 17, 1, 9),
       "request for illegal region:\n" + cube(1, 24, 1, 17, 1, 9).toString() + " is no subarray of " +
           whole.getFullRegion().toString()},
      {&part, cube(5, 20, 3, 10, 2, 8), ""},
      {&part, cube(6, 7, 9, 10, 8, 8), ""},
      {&part, cube(4, 7, 9, 10, 8, 8),
       "request for illegal region:\n" + cube(4, 7, 9, 10, 8, 8).toString() +
           " is not inside the region read " + cube(5, 20, 3, 10, 2, 8).toString() + " (file '" + file +
           "')"},
      {&part, cube(6, 7, 9, 11, 8, 8),
       "request for illegal region:\n" + cube(6, 7, 9, 11, 8, 8).toString() +
           " is not inside the region read " + cube(5, 20, 3, 10, 2, 8).toString() + " (file '" + file +
           "')"},
      {&part, cube(6, 7, 9, 10, 1, 2),
       "request for illegal region:\n" + cube(6, 7, 9, 10, 1, 2).toString() +
           " is not inside the region read " + cube(5, 20, 3, 10, 2, 8).toString() + " (file '" + file +
           "')"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box.toString());
    std::vector<float> values(c.box.getLength() + 1, -7.0f);
    const std::string message = fits_test::messageOf([&] { c.reader->readBox(c.box, values.data()); });
    EXPECT_EQ(message, c.message);
    if (!c.message.empty()) {
      EXPECT_EQ(values.front(), -7.0f);
    }
    EXPECT_EQ(values.back(), -7.0f);
    if (c.message.empty()) {
      orv::FitsIn regionReader(file, c.box, true);
      const std::unique_ptr<float[]> want(regionReader.getDataArray(float()));
      for (long i = 0; i < c.box.getLength(); ++i) ASSERT_EQ(values[i], want[i]) << "element " << i;
    }
  }
}

TEST(FitsInRegions, WindowOfOnePixelStartsAtThePageBoundary) {
  // One pixel at (3, 2) of a 16-bit image with NAXIS1 = 10: data byte 24.
  const std::string dir = test_support::programScratchDir("orv_fits");
  std::vector<std::string> cards = {"SIMPLE  =                    T", fits_test::intCard("BITPIX", 16),
                                    fits_test::intCard("NAXIS", 2), fits_test::intCard("NAXIS1", 10),
                                    fits_test::intCard("NAXIS2", 3)};
  std::vector<unsigned char> bytes = fits_test::headerBytes(cards);
  for (int i = 0; i < 30; ++i) {
    bytes.push_back(0);
    bytes.push_back(static_cast<unsigned char>(i));
  }
  bytes.resize(5760, 0);
  fits_test::writeBytes(dir + "p.fits", bytes);
  util::Region pixel(2);
  pixel.setRange(1, 3, 3);
  pixel.setRange(2, 2, 2);
  orv::FitsIn in(dir + "p.fits", pixel, true);
  std::unique_ptr<short[]> value(in.getDataArray(short()));
  EXPECT_EQ(value[0], 12);
  std::ostringstream text;
  in.describeSelf(text);
  const long page = getpagesize();
  EXPECT_NE(text.str().find("Region: [3:3,2:2]\n"), std::string::npos);
  EXPECT_NE(text.str().find("File offset: " + std::to_string((2880 + 24) / page * page) + "\n"),
            std::string::npos);
  in.freeData();
  std::ostringstream after;
  in.describeSelf(after);
  EXPECT_NE(after.str().find("Region: "), std::string::npos);
  EXPECT_EQ(after.str().find("Memory map @: "), std::string::npos);
}

// The regions a sequence of reads into an array of the given lengths visits.
std::vector<std::string> tileWalk(orv::FitsIn& in, orv::MArray<float, 2>& a, int reads) {
  std::vector<std::string> tiles;
  for (int i = 0; i < reads; ++i) {
    in >> a;
    tiles.push_back(in.getRegionLength() ? in.getRegion().toString() : "none");
  }
  return tiles;
}

TEST(FitsInTiles, CubePlanesAreReadInTurnAndWrapAround) {
  const std::string dir = test_support::programScratchDir("orv_fits");
  std::vector<unsigned char> data(100 * 100 * 5);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i / 10000 + 1);
  fits_test::writeByteImage(dir + "cube.fits", {100, 100, 5}, data);
  orv::FitsIn in(dir + "cube.fits", true);
  orv::MArray<float, 2> a(100, 100);
  for (int expectedPlane : {1, 2, 3, 4, 5, 1, 2}) {
    in >> a;
    EXPECT_EQ(a(1, 1), expectedPlane);
    EXPECT_EQ(a(100, 100), expectedPlane);
  }
}

TEST(FitsInTiles, ImageOfTheArraySizeIsReadWholeEveryTime) {
  const std::string dir = test_support::programScratchDir("orv_fits");
  std::vector<unsigned char> data(100 * 100);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i % 251);
  fits_test::writeByteImage(dir + "img.fits", {100, 100}, data);
  orv::FitsIn in(dir + "img.fits", true);
  orv::MArray<float, 2> a(100, 100);
  EXPECT_EQ(tileWalk(in, a, 2), (std::vector<std::string>{"none", "none"}));
  EXPECT_EQ(a(37, 5), (36 + 4 * 100) % 251);
}

TEST(FitsInTiles, LargeImageTilesFollowTheOdometerOrder) {
  const std::string dir = test_support::programScratchDir("orv_fits");
  std::vector<unsigned char> data(2000L * 3000L);
  for (long y = 0; y < 3000; ++y)
    for (long x = 0; x < 2000; ++x)
      data[y * 2000 + x] = static_cast<unsigned char>((x / 1000) + 2 * (y / 1000));
  fits_test::writeByteImage(dir + "large.fits", {2000, 3000}, data);
  orv::FitsIn in(dir + "large.fits", true);
  orv::MArray<float, 2> a(1000, 1000);
  std::vector<float> seen;
  std::vector<std::string> before;
  for (int i = 0; i < 7; ++i) {
    before.push_back(in.getRegionLength() ? in.getRegion().toString() : "none");
    in >> a;
    seen.push_back(a(500, 500));
  }
  // The region shown is the tile the next read takes.
  EXPECT_EQ(before, (std::vector<std::string>{"none", "[1001:2000,1:1000]", "[1:1000,1001:2000]",
                                              "[1001:2000,1001:2000]", "[1:1000,2001:3000]",
                                              "[1001:2000,2001:3000]", "[1:1000,1:1000]"}));
  EXPECT_EQ(seen, (std::vector<float>{0, 1, 2, 3, 4, 5, 0}));
}

TEST(FitsInTiles, EdgeTileIsPlacedAtTheLowestIndicesAndTheRestIsZero) {
  const std::string dir = test_support::programScratchDir("orv_fits");
  std::vector<unsigned char> data(25 * 30, 7);
  fits_test::writeByteImage(dir + "edge.fits", {25, 30}, data);
  orv::FitsIn in(dir + "edge.fits", true);
  orv::MArray<float, 2> a(10, 10);
  in >> a;
  in >> a;
  EXPECT_EQ(in.getRegion().toString(), "[21:25,1:10]");
  in >> a;  // columns 21 to 25: five columns, placed at 1 to 5
  for (int y = 1; y <= 10; ++y)
    for (int x = 1; x <= 10; ++x) ASSERT_EQ(a(x, y), x <= 5 ? 7.0f : 0.0f) << x << "," << y;
  EXPECT_EQ(in.getRegion().toString(), "[1:10,11:20]");
}

TEST(FitsInTiles, ImageShorterThanTheArrayIsPlacedAtTheLowestIndices) {
  const std::string dir = test_support::programScratchDir("orv_fits");
  std::vector<unsigned char> data(4 * 3);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i + 1);
  fits_test::writeByteImage(dir + "small.fits", {4, 3}, data);
  orv::FitsIn in(dir + "small.fits", true);
  orv::MArray<float, 2> a(6, 5);
  in >> a;
  for (int y = 1; y <= 5; ++y)
    for (int x = 1; x <= 6; ++x)
      EXPECT_EQ(a(x, y), (x <= 4 && y <= 3) ? x + 4 * (y - 1) : 0) << x << "," << y;
  EXPECT_EQ(in.getRegionLength(), 0);
}

TEST(FitsInErrors, MessagesOfTheReaders) {
  const std::string dir = test_support::programScratchDir("orv_fits");
  fits_test::writeByteImage(dir + "line.fits", {5}, {1, 2, 3, 4, 5});
  fits_test::writeByteImage(dir + "cube.fits", {4, 3, 1}, std::vector<unsigned char>(12, 1));
  fits_test::writeByteImage(dir + "empty.fits", {}, {});
  orv::FitsIn line(dir + "line.fits", true);
  orv::FitsIn cube(dir + "cube.fits", true);
  orv::FitsIn empty(dir + "empty.fits", true);
  orv::MArray<float, 2> sized(3, 3);
  orv::MArray<float, 2> unsized;
  EXPECT_EQ(test_support::messageOf<orv::FitsException>([&] { line >> sized; }),
            "FitsException: MArray cannot be filled with FITS file (file '" + dir + "line.fits')");
  EXPECT_EQ(test_support::messageOf<orv::FitsException>([&] { cube >> unsized; }),
            "FitsException: NAXIS or slice does not match MArray dimensions (file '" + dir + "cube.fits')");
  EXPECT_EQ(test_support::messageOf<orv::FitsException>([&] { line.getInt("NAXIS2  "); }),
            "FitsException: cannot find keyword 'NAXIS2  ' (file '" + dir + "line.fits')");
  // A header copied for an output still names the file its cards came from.
  orv::FitsOut copied(dir + "copied.fits", line, true, false);
  EXPECT_EQ(test_support::messageOf<orv::FitsException>([&] { copied.getFloat("CRPIX1  "); }),
            "FitsException: cannot find keyword 'CRPIX1  ' (file '" + dir + "line.fits')");
  EXPECT_EQ(test_support::messageOf<orv::FitsException>([&] {
              orv::MArrayIter<float, 2> it(sized);
              line.readRegionArray(it);
            }),
            "FitsException: no region set");
  EXPECT_EQ(
      test_support::messageOf<orv::FitsException>([&] { empty.begin(); }),
      "FitsException: No data segment associated with header (NAXIS = 0). (file '" + dir + "empty.fits')");
  EXPECT_EQ(test_support::messageOf<orv::FitsException>([&] { line.checkRegion(1); }),
            "FitsException: request for unset region");
  util::Region r(1);
  r.setRange(1, 2, 4);
  line.setRegion(r);
  EXPECT_EQ(test_support::messageOf<orv::FitsException>([&] { line.checkRegion(2); }),
            "FitsException: request for invalid region parameter");
  EXPECT_EQ(test_support::messageOf<orv::FitsException>([&] { line.getRegionStart(0); }),
            "FitsException: request for invalid region parameter");
  EXPECT_EQ(test_support::messageOf<orv::FitsException>([&] { line.getNextExtension(); }),
            "FitsException: No extension present");
  r.setRange(1, 4, 2);
  EXPECT_NE(test_support::messageOf<orv::FitsException>([&] {
              line.setRegion(r);
            }).find("request for illegal region"),
            std::string::npos);
}

TEST(FitsInPositions, PositionsCountFromTheSegmentBase) {
  orv::FitsIn in(imageFixtures() + "img_i16.fits", true);
  EXPECT_EQ(in.getPosition(), 0);
  in.setPosition(100);
  EXPECT_EQ(in.getPosition(), 100);
  EXPECT_EQ(in.end() - in.begin(), in.getDataLength());
  in.resetPosition();
  EXPECT_EQ(in.getPosition(), 0);
  // Mapping again replaces the mapping: the file is mapped once.
  in.openData();
  in.openData();
  std::string maps;
  test_support::runCommand("grep -c img_i16.fits /proc/" + std::to_string(getpid()) + "/maps 2>&1", &maps);
  EXPECT_EQ(maps, "1\n");
  // A copy starts unmapped and owns its region.
  util::Region r(1);
  r.setRange(1, 10, 20);
  in.setRegion(r);
  orv::FitsIn copy(in);
  std::ostringstream text;
  copy.describeSelf(text);
  EXPECT_EQ(text.str().find("Memory map @: "), std::string::npos);
  EXPECT_NE(text.str().find("Region: [10:20]"), std::string::npos);
  in.resetRegion();
  EXPECT_EQ(copy.getRegionLength(), 11);
  // Assignment is deep as well: the target outlives its source and maps on its own.
  {
    orv::FitsIn source(imageFixtures() + "img_i16.fits", r, true);
    source.begin();
    in = source;
  }
  std::unique_ptr<short[]> values(in.getDataArray(short()));
  EXPECT_EQ(in.getRegionLength(), 11);
}

// An offset must be passed as a long: an int would silently pick the (name, quiet, allJunk)
// constructor, so that call does not compile.
static_assert(std::is_constructible_v<orv::FitsIn, const char*, bool, long>);
static_assert(std::is_constructible_v<orv::FitsIn, std::string, bool, long>);
static_assert(!std::is_constructible_v<orv::FitsIn, const char*, bool, int>);
static_assert(!std::is_constructible_v<orv::FitsIn, std::string, bool, int>);
static_assert(std::is_constructible_v<orv::FitsIn, const char*, bool, bool>);

TEST(FitsExtensions, WalkCachesHeadersAndRefusesTables) {
  const std::string file = imageFixtures() + "img_ext.fits";
  const std::string moved = imageFixtures() + "img_ext_moved.fits";
  orv::FitsExtensionIn in(file, true);
  EXPECT_EQ(in.getNaxis(), 0);
  EXPECT_EQ(fits_test::messageOf([&] { in.begin(); }),
            "No data segment associated with header (NAXIS = 0). (file '" + file + "')");
  orv::FitsIn table = in.getExtension(2);
  EXPECT_EQ(in.getExtNo(), 2u);
  try {
    table.begin();
    FAIL() << "a table must not be read as an image";
  } catch (const orv::FitsException& e) {
    EXPECT_EQ(std::string(e.what()),
              "FitsException: BINTABLE extension not supported until now. (file '" + file + "')");
  }
  // Cached headers are not read again: they are still served after the file has gone.
  ASSERT_EQ(std::rename(file.c_str(), moved.c_str()), 0);
  orv::FitsIn image = in.getExtension(1);
  EXPECT_EQ(in.getExtNo(), 1u);
  EXPECT_EQ(in.getNextExtension().getNaxis(2), 5);  // the table's rows again, from the cache
  ASSERT_EQ(std::rename(moved.c_str(), file.c_str()), 0);
  EXPECT_EQ(image.getNaxis(1), 3);
  EXPECT_EQ(image.getNaxis(2), 4);
  orv::MArray<float, 2> a;
  image >> a;
  const std::vector<double> raw = fits_test::readDoubles(imageFixtures() + "img_ext_image.raw");
  ASSERT_EQ(raw.size(), 12u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(a.firstElement()[i], raw[i]);
  try {
    in.getExtension(3);
    FAIL() << "there is no third extension";
  } catch (const orv::FitsException& e) {
    EXPECT_EQ(std::string(e.what()), "FitsException: no further extensions");
  }
  EXPECT_EQ(in.getExtNo(), 2u);  // unchanged by the failure
  try {
    in.getExtension(0);
    FAIL();
  } catch (const orv::FitsException& e) {
    EXPECT_EQ(std::string(e.what()),
              "FitsException: Use normal FitsIn methods to read primary HDU and data segment.");
  }
  orv::FitsIn primary(file, true);
  EXPECT_NO_THROW(primary.getNextExtension());
}

TEST(FitsExtensions, NextHeaderFollowsTheLastWholeRecordOfTheData) {
  using fits_test::intCard;
  const std::string dir = test_support::programScratchDir("orv_fits");
  for (long primaryBytes : {1L, 2880L, 2881L}) {
    SCOPED_TRACE(primaryBytes);
    std::vector<unsigned char> bytes =
        fits_test::headerBytes({"SIMPLE  =                    T", intCard("BITPIX", 8), intCard("NAXIS", 1),
                                intCard("NAXIS1", primaryBytes), "EXTEND  =                    T"});
    bytes.resize(bytes.size() + (primaryBytes + 2879) / 2880 * 2880, 0xEE);
    const std::vector<unsigned char> extension =
        fits_test::headerBytes({"XTENSION= 'IMAGE   '", intCard("BITPIX", 8), intCard("NAXIS", 1),
                                intCard("NAXIS1", 3), intCard("PCOUNT", 0), intCard("GCOUNT", 1)});
    bytes.insert(bytes.end(), extension.begin(), extension.end());
    bytes.insert(bytes.end(), {5, 6, 7});
    bytes.resize((bytes.size() + 2879) / 2880 * 2880, 0);
    fits_test::writeBytes(dir + "two.fits", bytes);
    orv::FitsIn primary(dir + "two.fits", true);
    orv::FitsIn next = primary.getNextExtension();
    EXPECT_EQ(next.getDataOffset(), 2880 + (primaryBytes + 2879) / 2880 * 2880 + 2880);
    orv::MArray<float, 1> a;
    next >> a;
    ASSERT_EQ(a.length(1), 3);
    EXPECT_EQ(a(1) + a(2) + a(3), 18.0f);
  }
}

}  // namespace
