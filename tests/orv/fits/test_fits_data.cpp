// The data segment format: element codecs, defined conversions, scaling paths, the row walk
// of a region, raw region copies and page-aligned windows.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "orv/fits/fits_convert.h"
#include "orv/fits/fits_exception.h"
#include "orv/fits/fits_map.h"
#include "orv/fits/fits_region.h"
#include "tests/orv/fits/fits_fixtures.h"

namespace {

util::Region box(std::initializer_list<std::pair<int, int>> ranges) {
  util::Region r(ranges.size());
  unsigned long d = 1;
  for (auto [start, end] : ranges) r.setRange(d++, start, end);
  return r;
}

TEST(FitsDataCodec, BigEndianElementsOfEveryBitpix) {
  unsigned char bytes[8];
  orv::storeFitsRaw<-32>(bytes, 1.0f);
  EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 4), (std::vector<unsigned char>{0x3F, 0x80, 0, 0}));
  EXPECT_EQ(orv::loadFitsRaw<-32>(bytes), 1.0f);
  orv::storeFitsRaw<-64>(bytes, 1.0);
  EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 8),
            (std::vector<unsigned char>{0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));
  orv::storeFitsRaw<32>(bytes, -2);
  EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 4),
            (std::vector<unsigned char>{0xFF, 0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(orv::loadFitsRaw<32>(bytes), -2);
  const unsigned char twoBytes[2] = {0x80, 0x00};
  EXPECT_EQ(orv::loadFitsRaw<16>(twoBytes), -32768);
  const unsigned char byte = 0xFF;
  EXPECT_EQ(orv::loadFitsRaw<8>(&byte), 255);  // BITPIX 8 is unsigned
}

TEST(FitsDataCodec, ConversionsAreDefinedForEveryValue) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double value;
    short toShort;
    int toInt;
  };
  const Case cases[] = {{NAN, 0, 0},
                        {inf, 32767, INT_MAX},
                        {-inf, -32768, INT_MIN},
                        {2.9, 2, 2},
                        {-2.9, -2, -2},
                        {1e10, 32767, INT_MAX},
                        {-1e10, -32768, INT_MIN},
                        {32767.9, 32767, 32767},
                        {-32768.9, -32768, -32768},
                        {2147483647.5, 32767, INT_MAX},
                        {-2147483648.5, -32768, INT_MIN}};
  for (const Case& c : cases) {
    EXPECT_EQ(orv::fitsConvert<short>(c.value), c.toShort) << c.value;
    EXPECT_EQ(orv::fitsConvert<int>(c.value), c.toInt) << c.value;
  }
  EXPECT_EQ(orv::fitsConvert<short>(std::int64_t{70000}), 32767);
  EXPECT_EQ(orv::fitsConvert<short>(std::int32_t{-70000}), -32768);
  EXPECT_EQ(orv::fitsConvert<short>(std::uint8_t{255}), 255);

  // Writing: floating-point to an integer BITPIX via a saturated 32-bit integer, low bits kept.
  EXPECT_EQ(orv::toFitsRaw<16>(2.7), 2);
  EXPECT_EQ(orv::toFitsRaw<16>(-2.7), -2);
  EXPECT_EQ(orv::toFitsRaw<8>(300), 0x2C);
  EXPECT_EQ(orv::toFitsRaw<8>(-1), 0xFF);
  EXPECT_EQ(orv::toFitsRaw<32>(short(-2)), -2);
  EXPECT_EQ(orv::toFitsRaw<-32>((1 << 24) + 1), 16777216.0f);
  EXPECT_EQ(orv::toFitsRaw<32>(NAN), 0);
  EXPECT_EQ(orv::toFitsRaw<32>(1e10f), INT_MAX);
  EXPECT_EQ(orv::toFitsRaw<16>(1e10), -1);  // low 16 bits of INT_MAX
  EXPECT_EQ(orv::toFitsRaw<8>(-inf), 0);    // low 8 bits of INT_MIN
}

// The element loops go by blocks of swapped and converted elements, then one by one; each
// must give the bytes and values of the element-by-element codec, for every count (no block,
// whole blocks, blocks and a rest), unit and other steps, and every arithmetic.
template <int BITPIX, class T>
void checkElementLoops(const orv::FitsScaling& scaling) {
  constexpr long bytes = orv::fitsBytesPerElement(BITPIX);
  constexpr long maxCount = 3 * orv::detail::kFitsBlock + 5;
  std::vector<unsigned char> raw(maxCount * bytes);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<unsigned char>(i * 101 + 7);
  orv::detail::withFitsArithmetic<BITPIX>(scaling, [&](auto arithmeticConstant) {
    constexpr orv::detail::FitsArithmetic A = decltype(arithmeticConstant)::value;
    for (long count = 0; count <= maxCount; ++count)
      for (long step : {1L, 3L}) {
        SCOPED_TRACE("BITPIX " + std::to_string(BITPIX) + " into " + fits_test::typeName<T>() +
                     ", arithmetic " + std::to_string(static_cast<int>(A)) + ", " + std::to_string(count) +
                     " elements, step " + std::to_string(step));
        std::vector<T> out(maxCount * 3 + 1, T(-5));
        orv::detail::convertFitsRun<BITPIX, A>(out.data(), step, raw.data(), count, scaling);
        for (long i = 0; i < count; ++i) {
          const T want =
              orv::detail::fitsScaledValue<A, T>(orv::loadFitsRaw<BITPIX>(raw.data() + i * bytes), scaling);
          ASSERT_TRUE(fits_test::sameValue(out[i * step], want)) << "element " << i;
        }
        EXPECT_EQ(out[count * step], T(-5));
        std::vector<unsigned char> stored(raw.size() + 1, 0xEE), want(raw.size() + 1, 0xEE);
        orv::detail::storeFitsRun<BITPIX>(stored.data(), out.data(), step, count);
        for (long i = 0; i < count; ++i)
          orv::storeFitsRaw<BITPIX>(want.data() + i * bytes, orv::toFitsRaw<BITPIX>(out[i * step]));
        ASSERT_EQ(stored, want);
      }
  });
}

TEST(FitsDataCodec, ElementLoopsEqualTheElementByElementCodec) {
  for (const orv::FitsScaling& s : {orv::chooseFitsScaling(1.0, 0.0), orv::chooseFitsScaling(1.0, 32768.0),
                                    orv::chooseFitsScaling(3.0, -7.0), orv::chooseFitsScaling(70000.0, 1.0),
                                    orv::chooseFitsScaling(0.5, 10.0)}) {
    checkElementLoops<8, float>(s);
    checkElementLoops<16, float>(s);
    checkElementLoops<16, short>(s);
    checkElementLoops<32, double>(s);
    checkElementLoops<32, int>(s);
    checkElementLoops<-32, float>(s);
    checkElementLoops<-32, short>(s);
    checkElementLoops<-64, double>(s);
  }
}

TEST(FitsDataScaling, PathIsChosenByTheValues) {
  struct Case {
    double bscale, bzero;
    orv::FitsScalePath path;
  };
  const Case cases[] = {
      {1.0, 0.0, orv::FitsScalePath::plain},          {1.0, 32768.0, orv::FitsScalePath::wholeNumber},
      {1.0, -128.0, orv::FitsScalePath::wholeNumber}, {2.0, -3.0, orv::FitsScalePath::wholeNumber},
      {1.0, 2147483648.0, orv::FitsScalePath::real},  // beyond a 32-bit int
      {0.5, 0.0, orv::FitsScalePath::real},           {NAN, 0.0, orv::FitsScalePath::real},
      {1.0, 1e300, orv::FitsScalePath::real}};
  for (const Case& c : cases)
    EXPECT_EQ(orv::chooseFitsScaling(c.bscale, c.bzero).path, c.path) << c.bscale << " " << c.bzero;
}

TEST(FitsDataRegions, RowsFollowTheOdometer) {
  // 3 x 2 elements at (5, 7) of an image with NAXIS1 = 100: rows at 604 and 704.
  orv::FitsRegionRows rows(box({{1, 100}, {1, 10}}), box({{5, 7}, {7, 8}}));
  EXPECT_EQ(rows.rowLength(), 3);
  ASSERT_EQ(rows.rows(), 2);
  EXPECT_EQ(rows.rowStart(), 604);
  rows.next();
  EXPECT_EQ(rows.rowStart(), 704);
  // A cube: axis 2 moves first, then axis 3.
  const util::Region cube = box({{1, 4}, {1, 3}, {1, 5}});
  orv::FitsRegionRows walk(cube, box({{2, 3}, {2, 3}, {4, 5}}));
  std::vector<long> starts;
  for (long r = 0; r < walk.rows(); ++r, walk.next()) starts.push_back(walk.rowStart());
  EXPECT_EQ(starts, (std::vector<long>{12 * 3 + 4 + 1, 12 * 3 + 8 + 1, 12 * 4 + 4 + 1, 12 * 4 + 8 + 1}));
  EXPECT_EQ(orv::regionLinearIndex(cube, cube, false), 0);
  EXPECT_EQ(orv::regionLinearIndex(cube, cube, true), 59);
  // Regions outside the image, or with a start above the end, are refused.
  EXPECT_THROW(orv::FitsRegionRows(cube, box({{0, 3}, {1, 3}, {1, 1}})), orv::FitsException);
  EXPECT_THROW(orv::FitsRegionRows(cube, box({{3, 2}, {1, 3}, {1, 1}})), orv::FitsException);
  EXPECT_THROW(orv::FitsRegionRows(cube, box({{1, 3}, {1, 3}})), orv::FitsException);
}

TEST(FitsDataRegions, RawRegionCopyAndWindows) {
  // [2:3,2:2] of a 4 x 3 image of BITPIX 16: the bytes of linear elements 5 and 6.
  unsigned char segment[24];
  for (int i = 0; i < 24; ++i) segment[i] = static_cast<unsigned char>(i);
  std::unique_ptr<unsigned char[]> copy(
      orv::getRawRegionArray(segment, 16, box({{1, 4}, {1, 3}}), box({{2, 3}, {2, 2}})));
  EXPECT_EQ(std::vector<unsigned char>(copy.get(), copy.get() + 4),
            (std::vector<unsigned char>{10, 11, 12, 13}));

  const long page = getpagesize();
  orv::FitsMapWindow aligned = orv::fitsPageWindow(3 * page, 100);
  EXPECT_EQ(aligned.offset, 3 * page);
  EXPECT_EQ(aligned.length, 100);
  orv::FitsMapWindow inside = orv::fitsPageWindow(2880 + 24, 2);
  EXPECT_EQ(inside.offset, (2880 + 24) / page * page);
  EXPECT_EQ(inside.offset + inside.lead, 2880 + 24);
  EXPECT_EQ(inside.length, inside.lead + 2);
}

// The region accessors of the data-segment base class.
class RegionHolder : public orv::FitsIO {
 public:
  RegionHolder() : orv::FitsIO("none.fits") {}
  void set(const util::Region& r) { region = std::make_unique<util::Region>(r); }
};

TEST(FitsDataRegions, AccessorsOfTheRegion) {
  RegionHolder io;
  EXPECT_EQ(io.getRegionLength(), 0);
  EXPECT_EQ(fits_test::messageOf([&] { io.getRegionStart(1); }), "request for unset region");
  io.set(box({{1, 10}, {4, 4}, {2, 4}}));
  EXPECT_EQ(io.getRegionLength(), 30);
  EXPECT_EQ(io.getRegionStart(2), 4);
  EXPECT_EQ(io.getRegionEnd(3), 4);
  EXPECT_EQ(io.getRegionLength(3), 3);
  try {
    io.getRegionStart(0);
    FAIL();
  } catch (const orv::FitsException& e) {
    EXPECT_EQ(std::string(e.what()), "FitsException: request for invalid region parameter");
  }
  RegionHolder copy(io);
  EXPECT_EQ(copy.getRegion().toString(), "[1:10,4:4,2:4]");
}

}  // namespace
