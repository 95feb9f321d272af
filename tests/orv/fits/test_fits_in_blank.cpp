// Integer images with a BLANK card: read into float or double elements, the pixels whose raw
// value is BLANK are NaN, where astropy reads NaN; integer elements keep the scaled stored
// values. Every way of reading an image gives the same, the box reader included.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>

#include "orv/fits/fits.h"
#include "tests/orv/fits/fits_fixtures.h"

using fits_test::expectedValue;
using fits_test::imageFixtures;
using fits_test::sameValue;
using fits_test::typeName;

namespace {

struct BlankCase {
  std::string name;
  int bitpix;
  double bscale, bzero;
  long blank;
  int nx, ny;
  std::string file() const { return imageFixtures() + "img_blank_" + name + ".fits"; }
};

std::vector<BlankCase> blankCases() {
  std::vector<BlankCase> cases;
  for (const std::string& line : fits_test::readLines(imageFixtures() + "blank_manifest.txt")) {
    std::istringstream in(line);
    BlankCase c;
    in >> c.name >> c.bitpix >> c.bscale >> c.bzero >> c.blank >> c.nx >> c.ny;
    cases.push_back(c);
  }
  return cases;
}

// One way of reading rows y0 ... ny of the image into elements of T, first axis fastest.
template <class T>
struct Read {
  const char* name;
  int y0;
  std::function<std::vector<T>(const BlankCase&)> read;
};

template <class T>
std::vector<T> valuesOf(const orv::MArray<T, 2>& a) {
  return std::vector<T>(a.firstElement(), a.firstElement() + a.numElements());
}

template <class T>
std::vector<Read<T>> readsOf() {
  return {
      {"new array", 1,
       [](const BlankCase& c) {
         orv::FitsIn in(c.file(), true);
         orv::MArray<T, 2> a;
         in >> a;
         return valuesOf(a);
       }},
      {"array of the image's size", 1,
       [](const BlankCase& c) {
         orv::FitsIn in(c.file(), true);
         orv::MArray<T, 2> a(c.nx, c.ny);
         in >> a;
         return valuesOf(a);
       }},
      {"buffer", 1,
       [](const BlankCase& c) {
         orv::FitsIn in(c.file(), true);
         std::unique_ptr<T[]> buffer(in.getDataArray(T()));
         return std::vector<T>(buffer.get(), buffer.get() + static_cast<long>(c.nx) * c.ny);
       }},
      {"region of the rows from the third on", 3,
       [](const BlankCase& c) {
         util::Region rows(2);
         rows.setRange(1, 1, c.nx);
         rows.setRange(2, 3, c.ny);
         orv::FitsIn in(c.file(), rows, true);
         orv::MArray<T, 2> a;
         in >> a;
         return valuesOf(a);
       }},
      {"box of the rows from the third on, read by a reader held open", 3,
       [](const BlankCase& c) {
         orv::FitsIn in(c.file(), true);
         util::Region rows(2);
         rows.setRange(1, 1, c.nx);
         rows.setRange(2, 3, c.ny);
         std::vector<T> values(static_cast<long>(c.nx) * (c.ny - 2));
         in.readBox(rows, values.data());
         return values;
       }},
      {"reader that keeps the cards unparsed", 1,
       [](const BlankCase& c) {
         orv::FitsIn in(c.file(), true, true);
         orv::MArray<T, 2> a;
         in >> a;
         return valuesOf(a);
       }},
  };
}

template <class T>
void checkBlankReads(const BlankCase& c, const std::vector<double>& raw,
                     const std::vector<unsigned char>& nan) {
  for (const Read<T>& r : readsOf<T>()) {
    SCOPED_TRACE("img_blank_" + c.name + " into " + typeName<T>() + ", " + r.name);
    const std::vector<T> got = r.read(c);
    const size_t first = static_cast<size_t>(r.y0 - 1) * c.nx;
    ASSERT_EQ(got.size(), raw.size() - first);
    for (size_t i = 0; i < got.size(); ++i) {
      T want = expectedValue<T>(raw[first + i], c.bscale, c.bzero);
      if (std::is_floating_point_v<T> && nan[first + i]) want = std::numeric_limits<T>::quiet_NaN();
      ASSERT_TRUE(sameValue(got[i], want)) << "pixel " << first + i << ": raw " << raw[first + i] << ", read "
                                           << got[i] << ", expected " << want;
    }
  }
}

TEST(FitsInBlank, BlankPixelsAreNanInFloatingPointAndKeptInIntegers) {
  const std::vector<BlankCase> cases = blankCases();
  ASSERT_EQ(cases.size(), 8u);
  for (const BlankCase& c : cases) {
    const std::string base = imageFixtures() + "img_blank_" + c.name;
    const std::vector<double> raw = fits_test::readDoubles(base + ".raw");
    const std::vector<unsigned char> nan = fits_test::readBytes(base + ".nan");
    ASSERT_EQ(nan.size(), raw.size()) << c.name;
    checkBlankReads<float>(c, raw, nan);
    checkBlankReads<double>(c, raw, nan);
    checkBlankReads<short>(c, raw, nan);
    checkBlankReads<int>(c, raw, nan);
  }
}

}  // namespace
